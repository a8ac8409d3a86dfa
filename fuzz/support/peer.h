// A scale on loopback for the fuzz targets. It takes one connection at a time, cuts what the
// driver sends into frames and answers each frame as its script says: by default with the
// acknowledgement byte, so that every command of the driver is accepted and recorded.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace qd::fuzz {

struct TAnswer {
  std::string Bytes;   // sent back as they are (any length, nothing included)
  bool Close = false;  // the connection is closed after the bytes went out
  int StreamMs = 0;    // then the bytes are sent again and again for this long, as a scale gone wild

  static TAnswer Ack() { return {std::string(1, '\x06'), false}; }
  static TAnswer Hangup() { return {std::string(), true}; }
};

class TLoopbackPeer {
 public:
  TLoopbackPeer();
  ~TLoopbackPeer();
  TLoopbackPeer(const TLoopbackPeer&) = delete;
  TLoopbackPeer& operator=(const TLoopbackPeer&) = delete;

  uint16_t Port() const { return FPort; }

  // Answers for the frames of the next connection the peer takes, in order; once they are
  // used up every further frame gets AAfter. A connection keeps the script it started with.
  void Script(std::vector<TAnswer> AAnswers, TAnswer AAfter = TAnswer::Ack());

  // Waits (up to a second) until the peer has taken every connection opened so far. The
  // driver opens a fresh connection for most calls and may close it again at once, faster
  // than a busy machine schedules the peer; without the wait, such connections fill the
  // listener's queue and the next connect waits a second for its handshake to be retried.
  // Called after every input.
  void TakeConnections();

  // The frames of the connection taken last, oldest first.
  std::vector<std::string> Frames();
  int Connections() const { return FConnections; }

 private:
  void Run();
  void Serve(platform::TSocketHandle AClient);
  // Reads one frame; false when the connection ended (or the peer stops) first.
  bool ReadFrame(platform::TSocketHandle AClient, std::string& APending, std::string& AFrame);

  platform::TSocketHandle FListener = platform::kInvalidSocket;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FConnections{0};
  std::mutex FLock;
  std::vector<TAnswer> FScript;
  TAnswer FAfter = TAnswer::Ack();
  std::vector<std::string> FFrames;
  std::thread FThread;
};

}  // namespace qd::fuzz
