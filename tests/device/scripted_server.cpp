#include "scripted_server.h"

#include <stdexcept>

namespace qdtest {

using namespace qd::platform;

TScriptedServer::TScriptedServer() {
  std::string error;
  FListener = OpenServerSocket("127.0.0.1", 0, true, FPort, error);
  if (FListener == kInvalidSocket) throw std::runtime_error("test server: " + error);
  FThread = std::thread([this] { Run(); });
}

TScriptedServer::~TScriptedServer() {
  FStop = true;
  FThread.join();
  CloseSocket(FListener);
}

void TScriptedServer::Script(std::vector<TReply> AReplies) {
  std::lock_guard<std::mutex> g(FLock);
  FScript.assign(AReplies.begin(), AReplies.end());
}

void TScriptedServer::SetDefault(TReply ADefault) {
  std::lock_guard<std::mutex> g(FLock);
  FDefault = std::move(ADefault);
}

void TScriptedServer::SetGreeting(std::string ABytes) {
  std::lock_guard<std::mutex> g(FLock);
  FGreeting = std::move(ABytes);
}

std::vector<std::string> TScriptedServer::Frames() {
  std::lock_guard<std::mutex> g(FLock);
  return FFrames;
}

void TScriptedServer::ClearFrames() {
  std::lock_guard<std::mutex> g(FLock);
  FFrames.clear();
}

TReply TScriptedServer::NextReply() {
  std::lock_guard<std::mutex> g(FLock);
  if (FScript.empty()) return FDefault;
  TReply r = FScript.front();
  FScript.pop_front();
  return r;
}

void TScriptedServer::Run() {
  while (!FStop) {
    if (WaitReadable(FListener, 50) <= 0) continue;
    TSocketHandle client = AcceptConnection(FListener);
    if (client == kInvalidSocket) continue;
    ++FConnections;
    Serve(client);
  }
}

void TScriptedServer::Serve(TSocketHandle AClient) {
  char buf[65536];
  std::string greeting;
  {
    std::lock_guard<std::mutex> g(FLock);
    greeting = FGreeting;
  }
  if (!greeting.empty()) Send(AClient, greeting.data(), greeting.size());
  while (!FStop) {
    int ready = WaitReadable(AClient, 50);
    if (ready == 0) continue;
    int64_t n = ready < 0 ? -1 : Receive(AClient, buf, sizeof buf);
    if (n <= 0) break;  // the client closed
    std::string frame(buf, static_cast<size_t>(n));
    // The rest of a frame follows at once; a short quiet spell ends it.
    while (WaitReadable(AClient, 30) > 0) {
      n = Receive(AClient, buf, sizeof buf);
      if (n <= 0) break;
      frame.append(buf, static_cast<size_t>(n));
    }
    {
      std::lock_guard<std::mutex> g(FLock);
      FFrames.push_back(frame);
    }
    TReply reply = NextReply();
    if (!reply.Bytes.empty()) Send(AClient, reply.Bytes.data(), reply.Bytes.size());
    if (reply.Reset) {
      AbortSocket(AClient);
      return;
    }
    if (reply.Close) break;
  }
  ShutdownBoth(AClient);
  CloseSocket(AClient);
}

TRefusingPort::TRefusingPort() {
  std::string error;
  FSocket = OpenServerSocket("127.0.0.1", 0, false, FPort, error);
  if (FSocket == kInvalidSocket) throw std::runtime_error("refusing port: " + error);
}

TRefusingPort::~TRefusingPort() { CloseSocket(FSocket); }

}  // namespace qdtest
