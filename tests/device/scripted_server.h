// A loopback TCP peer for the transport and device tests: it records every frame it receives
// and answers each one as the test scripted it.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace qdtest {

struct TReply {
  std::string Bytes;        // sent back (nothing = stay silent)
  bool Close = false;       // close the connection afterwards
  bool Reset = false;       // close it with a reset instead

  static TReply Byte(uint8_t AByte) { return {std::string(1, static_cast<char>(AByte)), false}; }
  static TReply Silence() { return {}; }
  static TReply Hangup() { return {{}, true}; }
  static TReply Abort() { return {{}, true, true}; }
};

class TScriptedServer {
 public:
  TScriptedServer();
  ~TScriptedServer();

  uint16_t Port() const { return FPort; }
  // Replies for the next frames, in order; after them every frame gets ADefault.
  void Script(std::vector<TReply> AReplies);
  void SetDefault(TReply ADefault);
  // Bytes sent to every new connection before its first frame (none by default).
  void SetGreeting(std::string ABytes);
  // Frames received so far (a frame is what arrived before the peer fell quiet).
  std::vector<std::string> Frames();
  void ClearFrames();
  int Connections() const { return FConnections; }

 private:
  void Run();
  void Serve(qd::platform::TSocketHandle AClient);
  TReply NextReply();

  qd::platform::TSocketHandle FListener = qd::platform::kInvalidSocket;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FConnections{0};
  std::mutex FLock;
  std::deque<TReply> FScript;
  TReply FDefault = TReply::Byte(0x06);
  std::string FGreeting;
  std::vector<std::string> FFrames;
  std::thread FThread;
};

// A port on 127.0.0.1 that refuses connections (bound, not listening) while the object lives.
class TRefusingPort {
 public:
  TRefusingPort();
  ~TRefusingPort();
  uint16_t Port() const { return FPort; }

 private:
  qd::platform::TSocketHandle FSocket;
  uint16_t FPort = 0;
};

}  // namespace qdtest
