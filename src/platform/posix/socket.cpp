// POSIX implementation of the socket layer.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qd::platform {

const TSocketHandle kInvalidSocket = -1;

namespace {
int Fd(TSocketHandle ASocket) { return static_cast<int>(ASocket); }
}  // namespace

const char* SocketServiceError() { return nullptr; }  // nothing to start on this system

bool ParseIPv4(const std::string& AText, uint32_t& AAddr) {
  AAddr = inet_addr(AText.c_str());
  return AAddr != INADDR_NONE;
}

TSocketHandle CreateTcpSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : fd;
}

bool SetNonBlocking(TSocketHandle ASocket, bool AOn) {
  int flags = fcntl(Fd(ASocket), F_GETFL, 0);
  if (flags < 0) return false;
  flags = AOn ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(Fd(ASocket), F_SETFL, flags) == 0;
}

namespace {

void Tell(TConnectError* AError, int ACode) {
  if (!AError) return;
  AError->Code = ACode;
  switch (ACode) {
    case 0: AError->Kind = TConnectFailure::None; break;
    case ECONNREFUSED: AError->Kind = TConnectFailure::Refused; break;
    case ETIMEDOUT: AError->Kind = TConnectFailure::TimedOut; break;
    case ENETUNREACH: case EHOSTUNREACH: case ENETDOWN: case EHOSTDOWN: case EADDRNOTAVAIL:
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
  if (::connect(Fd(ASocket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return TConnectStart::Connected;
  // A non-blocking connect in progress is this system's "would block".
  if (errno == EINPROGRESS || errno == EWOULDBLOCK || errno == EAGAIN) return TConnectStart::WouldBlock;
  Tell(AError, errno);
  return TConnectStart::Failed;
}

bool WaitConnected(TSocketHandle ASocket, int ASeconds, TConnectError* AError) {
  pollfd p{Fd(ASocket), POLLOUT, 0};
  int r;
  do {
    r = ::poll(&p, 1, ASeconds * 1000);
  } while (r < 0 && errno == EINTR);
  if (r == 0) {
    Tell(AError, ETIMEDOUT);
    return false;
  }
  if (r < 0) {
    Tell(AError, errno);
    return false;
  }
  // A refused connect also makes the socket writable here; only a clean state counts.
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(Fd(ASocket), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err == 0 && !(p.revents & POLLOUT)) err = EIO;
  Tell(AError, err);
  return err == 0;
}

void SetReceiveTimeout(TSocketHandle ASocket, int AMilliseconds) {
  timeval tv{};
  tv.tv_sec = AMilliseconds / 1000;
  tv.tv_usec = (AMilliseconds % 1000) * 1000;
  setsockopt(Fd(ASocket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

void SetNoDelay(TSocketHandle ASocket) {
  int one = 1;
  setsockopt(Fd(ASocket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int64_t Send(TSocketHandle ASocket, const void* AData, size_t ALen) {
  if (ASocket < 0) return -1;  // no connection
  ssize_t r;
  do {
    r = ::send(Fd(ASocket), AData, ALen, MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  return r;
}

int64_t Receive(TSocketHandle ASocket, void* ABuffer, size_t ALen) {
  if (ASocket < 0) return -1;
  ssize_t r;
  do {
    r = ::recv(Fd(ASocket), ABuffer, ALen, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0 && errno == ECONNRESET) return 0;  // the peer closed, abruptly
  return r;
}

void ShutdownBoth(TSocketHandle ASocket) noexcept { ::shutdown(Fd(ASocket), SHUT_RDWR); }

void ShutdownSend(TSocketHandle ASocket) noexcept { ::shutdown(Fd(ASocket), SHUT_WR); }

void AbortSocket(TSocketHandle ASocket) noexcept {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(Fd(ASocket), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(Fd(ASocket));
}

void CloseSocket(TSocketHandle ASocket) noexcept {
  if (ASocket != kInvalidSocket) ::close(Fd(ASocket));
}

TSocketHandle OpenServerSocket(const std::string& AAddress, uint16_t APort, bool AListen,
                               uint16_t& ABoundPort, std::string& AError) {
  uint32_t addr;
  if (!ParseIPv4(AAddress, addr)) {
    AError = "invalid IPv4 address: " + AAddress;
    return kInvalidSocket;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    AError = std::strerror(errno);
    return kInvalidSocket;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(APort);
  sa.sin_addr.s_addr = addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || (AListen && ::listen(fd, 16) != 0)) {
    AError = std::strerror(errno);
    ::close(fd);
    return kInvalidSocket;
  }
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  ABoundPort = ntohs(sa.sin_port);
  return fd;
}

int WaitReadable(TSocketHandle ASocket, int AMilliseconds) {
  pollfd p{Fd(ASocket), POLLIN, 0};
  int r = ::poll(&p, 1, AMilliseconds);
  if (r < 0) return errno == EINTR ? 0 : -1;
  return r == 0 ? 0 : 1;
}

TSocketHandle AcceptConnection(TSocketHandle AListener) {
  int fd;
  do {
    fd = ::accept4(Fd(AListener), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kInvalidSocket : fd;
}

}  // namespace qd::platform
