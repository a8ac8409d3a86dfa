// WinSock implementation of the socket layer. The socket service is started at the first use
// of a socket (never in the module's load or unload code, where the system forbids work of
// that kind) and left running: the system ends it with the process.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform/win32/wintext.h"

namespace qd::platform {

const TSocketHandle kInvalidSocket = static_cast<TSocketHandle>(INVALID_SOCKET);

namespace {

SOCKET S(TSocketHandle ASocket) { return static_cast<SOCKET>(ASocket); }

class TSocketService {
 public:
  TSocketService() {
    if (WSAStartup(0x0101, &FData) != 0) FError = "Ошибка инициализации библиотеки WinSock";
  }
  const char* Error() const { return FError; }

 private:
  WSADATA FData{};
  const char* FError = nullptr;
};

// Started on first use, once, whichever thread comes first; never stopped.
TSocketService& Service() {
  static TSocketService* const service = new TSocketService;
  return *service;
}

// The words of the common failures of a server socket as the POSIX build gives them, so that
// both builds say the same; the system's text for any other code.
std::string SocketErrorText(int ACode) {
  switch (ACode) {
    case WSAEADDRINUSE: return "Address already in use";
    case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
    case WSAEACCES: return "Permission denied";
    default: return win::ErrorText(static_cast<DWORD>(ACode));
  }
}

}  // namespace

const char* SocketServiceError() { return Service().Error(); }

bool ParseIPv4(const std::string& AText, uint32_t& AAddr) {
  (void)Service();
  AAddr = inet_addr(AText.c_str());
  return AAddr != INADDR_NONE;
}

TSocketHandle CreateTcpSocket() {
  if (Service().Error()) return kInvalidSocket;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return static_cast<TSocketHandle>(s);
}

bool SetNonBlocking(TSocketHandle ASocket, bool AOn) {
  u_long mode = AOn ? 1 : 0;
  return ioctlsocket(S(ASocket), FIONBIO, &mode) == 0;
}

namespace {

void Tell(TConnectError* AError, int ACode) {
  if (!AError) return;
  AError->Code = ACode;
  switch (ACode) {
    case 0: AError->Kind = TConnectFailure::None; break;
    case WSAECONNREFUSED: AError->Kind = TConnectFailure::Refused; break;
    case WSAETIMEDOUT: AError->Kind = TConnectFailure::TimedOut; break;
    case WSAENETUNREACH: case WSAEHOSTUNREACH: case WSAENETDOWN: case WSAEHOSTDOWN: case WSAEADDRNOTAVAIL:
      AError->Kind = TConnectFailure::Unreachable;
      break;
    default: AError->Kind = TConnectFailure::Other; break;
  }
}

}  // namespace

TConnectStart StartConnect(TSocketHandle ASocket, uint32_t AAddr, uint16_t APort, TConnectError* AError) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(APort);
  sa.sin_addr.s_addr = AAddr;
  if (::connect(S(ASocket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return TConnectStart::Connected;
  int err = WSAGetLastError();
  if (err == WSAEWOULDBLOCK) return TConnectStart::WouldBlock;
  Tell(AError, err);
  return TConnectStart::Failed;
}

bool WaitConnected(TSocketHandle ASocket, int ASeconds, TConnectError* AError) {
  fd_set writeSet, exceptSet;
  FD_ZERO(&writeSet);
  FD_ZERO(&exceptSet);
  FD_SET(S(ASocket), &writeSet);
  FD_SET(S(ASocket), &exceptSet);
  timeval tv{ASeconds, 0};
  int r = ::select(0, nullptr, &writeSet, &exceptSet, &tv);
  if (r == 0) {
    Tell(AError, WSAETIMEDOUT);
    return false;
  }
  if (r < 0) {
    Tell(AError, WSAGetLastError());
    return false;
  }
  if (FD_ISSET(S(ASocket), &writeSet)) return true;
  // A failed connect shows in the exception set, its reason in the socket's error.
  int err = 0;
  int len = sizeof err;
  if (getsockopt(S(ASocket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err == 0)
    err = WSAGetLastError();
  Tell(AError, err == 0 ? WSAECONNREFUSED : err);
  return false;
}

void SetReceiveTimeout(TSocketHandle ASocket, int AMilliseconds) {
  DWORD ms = static_cast<DWORD>(AMilliseconds);
  setsockopt(S(ASocket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void SetNoDelay(TSocketHandle ASocket) {
  BOOL one = TRUE;
  setsockopt(S(ASocket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

int64_t Send(TSocketHandle ASocket, const void* AData, size_t ALen) {
  return ::send(S(ASocket), static_cast<const char*>(AData), static_cast<int>(ALen), 0);
}

int64_t Receive(TSocketHandle ASocket, void* ABuffer, size_t ALen) {
  int r = ::recv(S(ASocket), static_cast<char*>(ABuffer), static_cast<int>(ALen), 0);
  if (r == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    if (error == WSAECONNRESET || error == WSAECONNABORTED) return 0;  // the peer closed, abruptly
  }
  return r;
}

void ShutdownBoth(TSocketHandle ASocket) noexcept { ::shutdown(S(ASocket), SD_BOTH); }

void ShutdownSend(TSocketHandle ASocket) noexcept { ::shutdown(S(ASocket), SD_SEND); }

void AbortSocket(TSocketHandle ASocket) noexcept {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(S(ASocket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  ::closesocket(S(ASocket));
}

void CloseSocket(TSocketHandle ASocket) noexcept {
  if (ASocket != kInvalidSocket) ::closesocket(S(ASocket));
}

TSocketHandle OpenServerSocket(const std::string& AAddress, uint16_t APort, bool AListen,
                               uint16_t& ABoundPort, std::string& AError) {
  if (const char* e = SocketServiceError()) {
    AError = e;
    return kInvalidSocket;
  }
  uint32_t addr;
  if (!ParseIPv4(AAddress, addr)) {
    AError = "invalid IPv4 address: " + AAddress;
    return kInvalidSocket;
  }
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    AError = SocketErrorText(WSAGetLastError());
    return kInvalidSocket;
  }
  // Exclusive use: no other process may take over the port while we hold it.
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(APort);
  sa.sin_addr.s_addr = addr;
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || (AListen && ::listen(s, 16) != 0)) {
    AError = SocketErrorText(WSAGetLastError());
    ::closesocket(s);
    return kInvalidSocket;
  }
  int len = sizeof sa;
  getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  ABoundPort = ntohs(sa.sin_port);
  return static_cast<TSocketHandle>(s);
}

int WaitReadable(TSocketHandle ASocket, int AMilliseconds) {
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(S(ASocket), &readSet);
  timeval tv{AMilliseconds / 1000, (AMilliseconds % 1000) * 1000};
  int r = ::select(0, &readSet, nullptr, nullptr, &tv);
  if (r < 0) return -1;
  return r == 0 ? 0 : 1;
}

TSocketHandle AcceptConnection(TSocketHandle AListener) {
  return static_cast<TSocketHandle>(::accept(S(AListener), nullptr, nullptr));
}

}  // namespace qd::platform
