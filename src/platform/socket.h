// Thin layer over the operating system's IPv4 TCP sockets. The device transport and the
// virtual scale build their behaviour on these calls; nothing here throws.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qd::platform {

// A native socket handle widened to a pointer-sized integer.
using TSocketHandle = intptr_t;

// The value a failed socket creation returns (the system's "invalid socket").
extern const TSocketHandle kInvalidSocket;

// Null when the socket service started at load; otherwise the reason it did not.
const char* SocketServiceError();

// The classic dotted IPv4 parser (inet_addr), for the tools' own listening addresses. False
// when it reports "no address". AAddr receives the address in network byte order.
bool ParseIPv4(const std::string& AText, uint32_t& AAddr);

// A new IPv4 TCP stream socket, or kInvalidSocket.
TSocketHandle CreateTcpSocket();
bool SetNonBlocking(TSocketHandle ASocket, bool AOn);

enum class TConnectStart { Connected, WouldBlock, Failed };
// Why a connect failed, in kinds that the upper layers put into words, with the system's own
// error number beside them.
enum class TConnectFailure { None, Refused, TimedOut, Unreachable, Other };
struct TConnectError {
  TConnectFailure Kind = TConnectFailure::None;
  int Code = 0;
};
// Starts a connect to AAddr (network byte order) and APort (host byte order). AError, when
// given, tells why it failed.
TConnectStart StartConnect(TSocketHandle ASocket, uint32_t AAddr, uint16_t APort, TConnectError* AError = nullptr);
// Waits up to ASeconds for a started connect; true only when the connection is established.
// AError, when given, tells why it was not (TimedOut when the wait ran out).
bool WaitConnected(TSocketHandle ASocket, int ASeconds, TConnectError* AError = nullptr);

// Socket-level receive time-out; the result is not interesting to callers.
void SetReceiveTimeout(TSocketHandle ASocket, int AMilliseconds);
// Disables Nagle's algorithm (server side of the virtual scale).
void SetNoDelay(TSocketHandle ASocket);

// One send / one receive. Negative on failure (a receive time-out counts as a failure),
// otherwise the number of bytes moved; a receive of 0 means the peer closed, in an orderly way
// or by resetting the connection (both systems report a reset alike).
int64_t Send(TSocketHandle ASocket, const void* AData, size_t ALen);
int64_t Receive(TSocketHandle ASocket, void* ABuffer, size_t ALen);

// Shutdown of both directions and release; results ignored.
void ShutdownBoth(TSocketHandle ASocket) noexcept;
// Ends the sending direction only (the peer reads the end of the stream); what the peer still
// sends can be received until it closes. Result ignored.
void ShutdownSend(TSocketHandle ASocket) noexcept;
// Closes with a reset instead of the orderly end: the peer's next receive sees the connection
// reset (the virtual scale's and the tests' misbehaving peers).
void AbortSocket(TSocketHandle ASocket) noexcept;
void CloseSocket(TSocketHandle ASocket) noexcept;

// Server side. Binds to AAddress:APort (0 = any free port) with address reuse and, when
// AListen is set, starts listening. A bound socket that does not listen refuses every
// connection. On success ABoundPort holds the port; on failure AError the system's message.
TSocketHandle OpenServerSocket(const std::string& AAddress, uint16_t APort, bool AListen,
                               uint16_t& ABoundPort, std::string& AError);
// 1 when the socket is readable (or a connection is waiting), 0 on time-out, -1 on error.
int WaitReadable(TSocketHandle ASocket, int AMilliseconds);
TSocketHandle AcceptConnection(TSocketHandle AListener);

}  // namespace qd::platform
