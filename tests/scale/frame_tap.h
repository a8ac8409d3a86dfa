// A loopback relay between the driver and the virtual scale that records every frame the
// scale receives: the bytes the driver sent before the scale's answer make one frame.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace qd::test {

class TFrameTap {
 public:
  explicit TFrameTap(uint16_t AUpstreamPort);
  ~TFrameTap();
  TFrameTap(const TFrameTap&) = delete;
  TFrameTap& operator=(const TFrameTap&) = delete;

  uint16_t Port() const { return FPort; }
  // Frames in hexadecimal (upper case, no blanks), oldest first.
  std::vector<std::string> Frames();
  void Clear();
  int Connections() const { return FConnections; }

 private:
  void Run();
  void Relay(platform::TSocketHandle AClient);
  void Flush(std::string& AFrame);

  platform::TSocketHandle FListener = platform::kInvalidSocket;
  uint16_t FPort = 0;
  uint16_t FUpstreamPort;
  std::atomic<bool> FStop{false};
  std::atomic<int> FConnections{0};
  std::mutex FLock;
  std::vector<std::string> FFrames;
  std::thread FThread;
};

}  // namespace qd::test
