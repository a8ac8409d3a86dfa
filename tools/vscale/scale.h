// The virtual scale: a TCP server that speaks the scale's protocol, keeps its tables in
// memory and can misbehave on purpose. Runs on a thread of its own; one connection is
// served at a time, one after another, until Stop.
//
// Frames: command byte, table number, then nothing (0xF2 clear), a 4-byte packed-decimal key
// (0xF3 delete, 0xF7 read) or a record whose size field counts the whole record (0xF1 write).
// Answers: 0x06 for a stored write and a clear, 0xE2 for a delete, 0x06/0x15 for a read of a
// present/missing key, 0x15 for anything it refuses.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "json.h"
#include "platform/socket.h"

namespace qd::vscale {

enum class TFaultKind {
  Answer,  // answer Byte instead, after DelayMs; the frame is not carried out
  Close,   // close the connection without answering; the frame is not carried out
  Silent,  // never answer this frame; the frame is not carried out
  Delay,   // carry the frame out and answer after DelayMs
  Extra,   // carry the frame out and send Byte right behind the answer
  Late,    // carry the frame out, answer, and send Bytes DelayMs later, as a late repeated answer
  Stream,  // carry the frame out, answer, then keep sending bytes for DelayMs, as a scale gone wild
};

struct TFault {
  int Command = -1;  // command byte, -1 = any
  int Table = -1;    // table number, -1 = any
  TFaultKind Kind = TFaultKind::Answer;
  uint8_t Byte = 0x15;
  int DelayMs = 0;
  int Times = -1;  // how many matching frames it hits; -1 = all of them
  std::string Bytes;  // Late: what follows the answer

  bool Matches(uint8_t ACommand, uint8_t ATable) const {
    return (Command < 0 || Command == ACommand) && (Table < 0 || Table == ATable);
  }
};

// "SEL=ACTION[@N]": SEL is CMD, CMD/TABLE, */TABLE or CMD/* in hexadecimal; ACTION is
// answer:XX[:MS], close, silent, delay:MS, extra:XX, late:XX[XX...]:MS or stream:MS; N limits the fault to the
// first N matching frames.
// Throws std::invalid_argument with a readable reason.
TFault ParseFault(const std::string& AText);

struct TOptions {
  std::string BindAddress = "127.0.0.1";
  uint16_t Port = 0;                 // 0 = any free port
  bool RefuseConnections = false;    // hold the port without listening: every connect is refused
  bool StrictDelete = false;         // a delete of a missing key answers 0x15
  int FrameTimeoutMs = 300;          // longest pause inside one frame
  std::vector<TFault> Faults;
  bool Verbose = false;              // report every frame, not only refusals and faults
  std::function<void(const std::string&)> OnEvent;  // reported lines, on the server thread
  std::function<void()> OnChange;                   // after a table changed, on the server thread
};

class TVirtualScale {
 public:
  explicit TVirtualScale(TOptions AOptions = {});
  ~TVirtualScale();
  TVirtualScale(const TVirtualScale&) = delete;
  TVirtualScale& operator=(const TVirtualScale&) = delete;

  // Binds and starts serving; throws std::runtime_error when the address cannot be bound.
  void Start();
  void Stop();
  uint16_t Port() const { return FPort; }
  const TOptions& Options() const { return FOptions; }

  void SetFaults(std::vector<TFault> AFaults);
  void SetStrictDelete(bool AValue);

  // Raw records per table, keyed by record key.
  std::map<uint8_t, std::map<uint64_t, std::string>> Tables() const;
  // Every table decoded, each an array of records in key order, named as in TableName.
  TJson Snapshot() const;
  std::string DumpJson() const { return Snapshot().Dump(); }
  void ClearTables();

  // Refusals and faults, oldest first (the latest 10000).
  std::vector<std::string> Events() const;
  uint64_t Frames() const { return FFrames; }
  uint64_t Connections() const { return FConnections; }

 private:
  enum class TFill { Ok, Closed, Timeout, Stopped };
  struct TConnection {
    platform::TSocketHandle Socket;
    std::string Pending;
  };

  void Run();
  void Serve(TConnection& AConn);
  TFill Fill(TConnection& AConn, size_t ALen, int ATimeoutMs);
  void DrainQuietly(TConnection& AConn);
  // Waits AMilliseconds, looking every AStepMs whether the scale is being stopped; false if so.
  bool WaitUnlessStopped(int AMilliseconds, int AStepMs) const;
  // Carries a complete frame out; returns the answer byte.
  uint8_t Execute(const std::string& AFrame, bool& AChanged);
  // ANotable lines (refusals, faults) are also kept for Events().
  void Event(const std::string& ALine, bool ANotable);
  std::optional<TFault> TakeFault(uint8_t ACommand, uint8_t ATable);

  TOptions FOptions;
  platform::TSocketHandle FListener = platform::kInvalidSocket;
  uint16_t FPort = 0;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<uint64_t> FFrames{0};
  std::atomic<uint64_t> FConnections{0};
  mutable std::mutex FLock;  // tables, faults, events
  std::map<uint8_t, std::map<uint64_t, std::string>> FTables;
  std::vector<TFault> FFaults;
  std::vector<std::string> FEvents;
};

}  // namespace qd::vscale
