// TCP transport to the scale.
#include "device/TCPSocket.h"

#include <algorithm>
#include <vector>

#include "common/errors.h"
#include "common/text.h"
#include "device/Common.h"

namespace qd {

namespace {
constexpr char kMsgAddress[] = "Синтаксическая ошибка в IP-адресе";
constexpr char kMsgPort[] = "Номер порта должен лежать в диапазоне 1-65535";
constexpr char kMsgCreate[] = "Ошибка при создании сокета";
constexpr char kMsgConnect[] = "Ошибка при установлении подключения";
constexpr char kMsgSend[] = "Ошибка при отправке данных серверу";
constexpr char kMsgReceive[] = "Ошибка при получении ответа от сервера";
}  // namespace

TTCPSocket::~TTCPSocket() {
  if (Connected()) CloseConnection();
}

void TTCPSocket::SetConnection() {
  if (const char* e = platform::SocketServiceError()) throw EquException(kErrDriver, e);
  uint32_t addr = 0;
  if (!platform::ParseIPv4(Trim(FIPAddress), addr)) throw EquException(kErrDriver, kMsgAddress);
  if (FIPPort < 1 || FIPPort > 65535) throw EquException(kErrDriver, kMsgPort);

  FSocket = platform::CreateTcpSocket();
  if (FSocket == platform::kInvalidSocket) throw EquException(kErrDriver, kMsgCreate);
  platform::SetNonBlocking(FSocket, true);

  switch (platform::StartConnect(FSocket, addr, static_cast<uint16_t>(FIPPort))) {
    case platform::TConnectStart::Connected:
      break;
    case platform::TConnectStart::WouldBlock:
      if (platform::WaitConnected(FSocket, kConnectWaitSeconds)) break;
      [[fallthrough]];
    case platform::TConnectStart::Failed:
      platform::CloseSocket(FSocket);
      FSocket = platform::kInvalidSocket;
      throw EquException(kErrDriver, kMsgConnect);
  }
  platform::SetNonBlocking(FSocket, false);
  platform::SetReceiveTimeout(FSocket, kReceiveTimeoutMs);
  // Every command goes out in one send and waits for its answer: nothing is gained by
  // holding back the tail of a long command until the scale acknowledges its head.
  platform::SetNoDelay(FSocket);
}

void TTCPSocket::CloseConnection() {
  if (Connected()) {
    platform::ShutdownBoth(FSocket);
    platform::CloseSocket(FSocket);
  }
  FSocket = platform::kInvalidSocket;
}

void TTCPSocket::WriteStr(const std::string& APacket) {
  if (platform::Send(FSocket, APacket.data(), APacket.size()) < 0) throw EquException(kErrDriver, kMsgSend);
}

void TTCPSocket::ReadString(int ALen, std::string& ABytes) {
  ABytes.clear();
  std::string buffer(static_cast<size_t>(ALen > 0 ? ALen : 0), '\0');
  int64_t r = platform::Receive(FSocket, buffer.data(), buffer.size());
  if (r < 0) throw EquException(kErrDriver, kMsgReceive);
  if (r == 0 && !buffer.empty()) throw EquException(kErrDriver, kMsgPeerClosed);
  ABytes = std::move(buffer);
}

size_t TTCPSocket::ReadOff(std::string& AKept, size_t AKeep, size_t AMaxRead, bool& APeerClosed) {
  AKept.clear();
  APeerClosed = false;
  char chunk[512];
  size_t total = 0;
  while (total < AMaxRead && platform::WaitReadable(FSocket, 0) > 0) {
    size_t want = std::min(sizeof chunk, AMaxRead - total);
    int64_t r = platform::Receive(FSocket, chunk, want);
    if (r == 0) {
      APeerClosed = true;
      break;
    }
    if (r < 0) break;
    size_t got = static_cast<size_t>(r);
    if (AKept.size() < AKeep) AKept.append(chunk, std::min(got, AKeep - AKept.size()));
    total += got;
  }
  return total;
}

bool TTCPSocket::WaitForData(int AMilliseconds) { return platform::WaitReadable(FSocket, AMilliseconds) > 0; }

void TTCPSocket::ReadString(std::string& ABytes, size_t AMaxBytes) {
  ABytes.clear();
  std::string buffer;
  while (buffer.size() < AMaxBytes) {
    size_t held = buffer.size();
    size_t want = std::min<size_t>(1024, AMaxBytes - held);
    buffer.resize(held + want);
    int64_t r = platform::Receive(FSocket, buffer.data() + held, want);
    if (r <= 0) {
      buffer.resize(held);
      break;
    }
    buffer.resize(held + static_cast<size_t>(r));
  }
  if (buffer.empty()) throw EquException(kErrDriver, kMsgReceive);
  ABytes = std::move(buffer);
}

void TTCPSocket::ReadChar(uint8_t& AByte) {
  char c = '\0';
  int64_t r = platform::Receive(FSocket, &c, 1);
  if (r < 0) throw EquException(kErrDriver, kMsgReceive);
  if (r == 0) throw EquException(kErrDriver, kMsgPeerClosed);
  AByte = static_cast<uint8_t>(c);
}

}  // namespace qd
