#include "frame_tap.h"

#include <stdexcept>

#include "device/Common.h"

namespace qd::test {

using namespace qd::platform;

TFrameTap::TFrameTap(uint16_t AUpstreamPort) : FUpstreamPort(AUpstreamPort) {
  std::string error;
  FListener = OpenServerSocket("127.0.0.1", 0, true, FPort, error);
  if (FListener == kInvalidSocket) throw std::runtime_error("frame tap: " + error);
  FThread = std::thread([this] { Run(); });
}

TFrameTap::~TFrameTap() {
  FStop = true;
  FThread.join();
  CloseSocket(FListener);
}

std::vector<std::string> TFrameTap::Frames() {
  std::lock_guard<std::mutex> g(FLock);
  return FFrames;
}

void TFrameTap::Clear() {
  std::lock_guard<std::mutex> g(FLock);
  FFrames.clear();
}

void TFrameTap::Flush(std::string& AFrame) {
  if (AFrame.empty()) return;
  std::lock_guard<std::mutex> g(FLock);
  FFrames.push_back(BytesToHex(AFrame));
  AFrame.clear();
}

void TFrameTap::Run() {
  while (!FStop) {
    if (WaitReadable(FListener, 20) <= 0) continue;
    TSocketHandle client = AcceptConnection(FListener);
    if (client == kInvalidSocket) continue;
    ++FConnections;
    Relay(client);
    ShutdownBoth(client);
    CloseSocket(client);
  }
}

void TFrameTap::Relay(TSocketHandle AClient) {
  TSocketHandle up = CreateTcpSocket();
  uint32_t addr = 0;
  ParseIPv4("127.0.0.1", addr);
  bool connected = up != kInvalidSocket && SetNonBlocking(up, true);
  if (connected) {
    TConnectStart start = StartConnect(up, addr, FUpstreamPort);
    connected = start == TConnectStart::Connected || (start == TConnectStart::WouldBlock && WaitConnected(up, 5));
  }
  if (!connected || !SetNonBlocking(up, false)) {
    if (up != kInvalidSocket) CloseSocket(up);
    return;
  }
  SetNoDelay(up);
  SetNoDelay(AClient);
  std::string frame;
  char buf[65536];
  // A driver that has ended its sending direction still reads what the scale says: the end is
  // passed on, and the scale's side is relayed until it closes.
  bool clientEnded = false;
  while (!FStop) {
    if (!clientEnded && WaitReadable(AClient, frame.empty() ? 2 : 0) > 0) {
      int64_t n = Receive(AClient, buf, sizeof buf);
      if (n < 0) break;
      if (n == 0) {
        clientEnded = true;
        ShutdownSend(up);
        continue;
      }
      frame.append(buf, static_cast<size_t>(n));
      if (Send(up, buf, static_cast<size_t>(n)) != n) break;
    }
    if (WaitReadable(up, frame.empty() && !clientEnded ? 0 : 2) > 0) {
      int64_t n = Receive(up, buf, sizeof buf);
      if (n <= 0) break;
      Flush(frame);
      if (Send(AClient, buf, static_cast<size_t>(n)) != n) break;
    }
  }
  Flush(frame);
  ShutdownBoth(up);
  CloseSocket(up);
}

}  // namespace qd::test
