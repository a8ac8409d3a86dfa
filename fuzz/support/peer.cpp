#include "peer.h"

#include <chrono>
#include <stdexcept>

namespace qd::fuzz {

using namespace qd::platform;

namespace {

// Frames larger than this are cut (the driver's largest records are far smaller).
constexpr size_t kMaxFrame = 1 << 20;

}  // namespace

TLoopbackPeer::TLoopbackPeer() {
  std::string error;
  FListener = OpenServerSocket("127.0.0.1", 0, true, FPort, error);
  if (FListener == kInvalidSocket) throw std::runtime_error("loopback peer: " + error);
  FThread = std::thread([this] { Run(); });
}

TLoopbackPeer::~TLoopbackPeer() {
  FStop = true;
  FThread.join();
  CloseSocket(FListener);
}

void TLoopbackPeer::Script(std::vector<TAnswer> AAnswers, TAnswer AAfter) {
  std::lock_guard<std::mutex> g(FLock);
  FScript = std::move(AAnswers);
  FAfter = std::move(AAfter);
}

std::vector<std::string> TLoopbackPeer::Frames() {
  std::lock_guard<std::mutex> g(FLock);
  return FFrames;
}

void TLoopbackPeer::TakeConnections() {
  for (int i = 0; i < 10000 && WaitReadable(FListener, 0) > 0; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void TLoopbackPeer::Run() {
  while (!FStop) {
    if (WaitReadable(FListener, 20) <= 0) continue;
    TSocketHandle client = AcceptConnection(FListener);
    if (client == kInvalidSocket) continue;
    ++FConnections;
    SetNoDelay(client);
    Serve(client);
    ShutdownBoth(client);
    CloseSocket(client);
  }
}

bool TLoopbackPeer::ReadFrame(TSocketHandle AClient, std::string& APending, std::string& AFrame) {
  char buf[65536];
  auto receive = [&]() {
    int64_t n = Receive(AClient, buf, sizeof buf);
    if (n <= 0) return false;
    APending.append(buf, static_cast<size_t>(n));
    return true;
  };
  while (APending.empty()) {
    if (FStop) return false;
    int ready = WaitReadable(AClient, 20);
    if (ready < 0) return false;
    if (ready > 0 && !receive()) return false;
  }
  // The driver sends a frame with one send and then waits for the answer, so on loopback
  // the frame is whatever has arrived by now. Frame headers are not trusted: raw data
  // frames may announce any length.
  while (APending.size() < kMaxFrame && WaitReadable(AClient, 0) > 0)
    if (!receive()) break;
  AFrame.swap(APending);
  APending.clear();
  return true;
}

void TLoopbackPeer::Serve(TSocketHandle AClient) {
  std::deque<TAnswer> script;
  TAnswer after;
  {
    std::lock_guard<std::mutex> g(FLock);
    script.assign(FScript.begin(), FScript.end());
    after = FAfter;
    FFrames.clear();
  }
  std::string pending, frame;
  while (ReadFrame(AClient, pending, frame)) {
    TAnswer answer = after;
    if (!script.empty()) {
      answer = std::move(script.front());
      script.pop_front();
    }
    {
      std::lock_guard<std::mutex> g(FLock);
      FFrames.push_back(frame);
    }
    if (!answer.Bytes.empty()) Send(AClient, answer.Bytes.data(), answer.Bytes.size());
    if (answer.StreamMs > 0 && !answer.Bytes.empty()) {
      std::string chunk;
      while (chunk.size() < 1024) chunk += answer.Bytes;
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.StreamMs);
      while (!FStop && std::chrono::steady_clock::now() < until)
        if (Send(AClient, chunk.data(), chunk.size()) < 0) return;
    }
    if (answer.Close) return;
  }
}

}  // namespace qd::fuzz
