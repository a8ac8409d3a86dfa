// Client side of the one TCP connection between the driver and a scale: IPv4 numeric
// address, connect with one 5 s wait, no send delay (Nagle off), blocking send, replies read
// with a 2000 ms time-out.
// Every failure is an EquException with code 1001; a peer that closes the connection while an
// answer is awaited is one of them.
#pragma once
#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace qd {

inline constexpr const char* kMsgPeerClosed = "Весы закрыли подключение";

// The scale's address in dotted-decimal form: four decimal parts of 0 to 255, without leading
// zeros (a part such as "010" reads as octal to some programs and as decimal to others, so it
// names no one scale). ANetworkOrder receives the address in network byte order.
bool ParseDottedDecimal(const std::string& AText, uint32_t& ANetworkOrder);

class TTCPSocket {
 public:
  static constexpr int kConnectWaitSeconds = 5;
  static constexpr int kReceiveTimeoutMs = 2000;

  TTCPSocket() = default;
  // Releases a connection its owner left open, so that no handle leaks.
  ~TTCPSocket();
  TTCPSocket(const TTCPSocket&) = delete;
  TTCPSocket& operator=(const TTCPSocket&) = delete;

  const std::string& IPAddress() const { return FIPAddress; }
  void SetIPAddress(const std::string& AValue) { FIPAddress = AValue; }
  int32_t IPPort() const { return FIPPort; }
  void SetIPPort(int32_t AValue) { FIPPort = AValue; }
  // The native handle; the platform's invalid handle when no connection is held. Every other
  // value, 0 included, is an open socket.
  platform::TSocketHandle Socket() const { return FSocket; }
  bool Connected() const { return FSocket != platform::kInvalidSocket; }

  // Connects to IPAddress:IPPort. Refused before any socket exists: an address that is not
  // dotted decimal (ParseDottedDecimal), one that names no scale (0.x.x.x, which would reach
  // this computer, and 224.0.0.0 and above, the broadcast address among them), a port outside
  // 1-65535. A failed connect is logged with the address, the system's reason and the time
  // waited.
  void SetConnection();
  // Shutdown and release; never fails, also when nothing is open.
  void CloseConnection() noexcept;
  // Ends the sending direction: the scale reads the end of the stream, and what it still sends
  // can be read until it closes. Nothing can be sent on this connection afterwards.
  void EndSending() noexcept;
  // One send of all bytes of APacket.
  void WriteStr(const std::string& APacket);
  // One receive of up to ALen bytes; ABytes always gets ALen bytes, 0x00 where nothing arrived.
  // Fails with kMsgPeerClosed when the peer had closed the connection instead, in order or by a
  // reset (the same on both systems).
  void ReadString(int ALen, std::string& ABytes);
  // Receives until the peer stops sending (closes, falls silent past the time-out or fails),
  // AMaxBytes at most, so that a peer that never stops cannot hold the caller.
  static constexpr size_t kReadAllLimit = 64 * 1024;
  void ReadString(std::string& ABytes, size_t AMaxBytes = kReadAllLimit);
  // One receive of one byte; fails with kMsgPeerClosed when the peer had closed.
  void ReadChar(uint8_t& AByte);
  // One receive of whatever has arrived, at least one byte and at most ASize: waits (up to the
  // receive time-out) only for the first. Fails with kMsgPeerClosed when the peer had closed
  // instead, kMsgReceive on a time-out or error.
  size_t ReadSome(char* ABuffer, size_t ASize);
  // Takes whatever has arrived, without waiting for more and never more than AMaxRead bytes:
  // the first AKeep of them go to AKept, the count of all of them is returned. APeerClosed
  // tells whether the peer had closed the connection behind them.
  size_t ReadOff(std::string& AKept, size_t AKeep, size_t AMaxRead, bool& APeerClosed);
  // Waits up to AMilliseconds for something to read (bytes or the peer's close); true when
  // something is there.
  bool WaitForData(int AMilliseconds);

 private:
  platform::TSocketHandle FSocket = platform::kInvalidSocket;
  std::string FIPAddress;
  int32_t FIPPort = 0;
};

}  // namespace qd
