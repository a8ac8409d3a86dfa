// TCP transport to the scale.
#include "device/TCPSocket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "common/errors.h"
#include "common/log.h"
#include "common/text.h"
#include "device/Common.h"

namespace qd {

namespace {
constexpr char kMsgAddress[] = "Синтаксическая ошибка в IP-адресе";
constexpr char kMsgNoScaleAddress[] = "Недопустимый IP-адрес";
constexpr char kMsgPort[] = "Номер порта должен лежать в диапазоне 1-65535";
constexpr char kMsgCreate[] = "Ошибка при создании сокета";
constexpr char kMsgConnect[] = "Ошибка при установлении подключения";
constexpr char kMsgSend[] = "Ошибка при отправке данных серверу";
constexpr char kMsgReceive[] = "Ошибка при получении ответа от сервера";
}  // namespace

bool ParseDottedDecimal(const std::string& AText, uint32_t& ANetworkOrder) {
  unsigned char parts[4] = {};
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= AText.size() || AText[pos] != '.') return false;
      ++pos;
    }
    size_t start = pos;
    unsigned value = 0;
    while (pos < AText.size() && AText[pos] >= '0' && AText[pos] <= '9' && pos - start < 3)
      value = value * 10 + static_cast<unsigned>(AText[pos++] - '0');
    size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && AText[start] == '0')) return false;
    parts[i] = static_cast<unsigned char>(value);
  }
  if (pos != AText.size()) return false;
  std::memcpy(&ANetworkOrder, parts, sizeof parts);  // a.b.c.d in memory is network order
  return true;
}

namespace {

// Why a well-formed address names no scale, or null: 0.x.x.x is "this network" (0.0.0.0 reaches
// this very computer), 255.255.255.255 is the broadcast address, and 224 and above are group
// and reserved addresses.
const char* NoScaleAt(uint32_t ANetworkOrder) {
  unsigned char parts[4];
  std::memcpy(parts, &ANetworkOrder, sizeof parts);
  if (parts[0] == 0) return "адрес вида 0.x.x.x обозначает этот компьютер или эту сеть, а не весы";
  if (ANetworkOrder == 0xFFFFFFFFu) return "широковещательный адрес, а не адрес весов";
  if (parts[0] >= 224) return "групповой или зарезервированный адрес, а не адрес весов";
  return nullptr;
}

// The system's reason for a failed connect, in words.
std::string ConnectReason(const platform::TConnectError& AError) {
  std::string code = " (код " + std::to_string(AError.Code) + ")";
  switch (AError.Kind) {
    case platform::TConnectFailure::Refused: return "подключение отклонено: на этом порту весы не слушают" + code;
    case platform::TConnectFailure::TimedOut: return "нет ответа на подключение" + code;
    case platform::TConnectFailure::Unreachable: return "адрес недоступен из этой сети" + code;
    case platform::TConnectFailure::Other: return "ошибка системы" + code;
    case platform::TConnectFailure::None: break;
  }
  return "причина неизвестна";
}

}  // namespace

TTCPSocket::~TTCPSocket() {
  if (Connected()) CloseConnection();
}

void TTCPSocket::SetConnection() {
  if (const char* e = platform::SocketServiceError()) throw EquException(kErrDriver, e);
  uint32_t addr = 0;
  const std::string address = Trim(FIPAddress);
  if (!ParseDottedDecimal(address, addr))
    throw EquException(kErrDriver, std::string(kMsgAddress) + ": IPAddress = \"" + FIPAddress +
                                       "\" (четыре десятичных числа от 0 до 255 через точку, без ведущих нулей)");
  if (const char* reason = NoScaleAt(addr))
    throw EquException(kErrDriver, std::string(kMsgNoScaleAddress) + ": IPAddress = \"" + FIPAddress + "\" (" + reason + ")");
  if (FIPPort < 1 || FIPPort > 65535) throw EquException(kErrDriver, kMsgPort);

  FSocket = platform::CreateTcpSocket();
  if (FSocket == platform::kInvalidSocket) throw EquException(kErrDriver, kMsgCreate);
  platform::SetNonBlocking(FSocket, true);

  const auto start = std::chrono::steady_clock::now();
  platform::TConnectError error;
  switch (platform::StartConnect(FSocket, addr, static_cast<uint16_t>(FIPPort), &error)) {
    case platform::TConnectStart::Connected:
      break;
    case platform::TConnectStart::WouldBlock:
      if (platform::WaitConnected(FSocket, kConnectWaitSeconds, &error)) break;
      [[fallthrough]];
    case platform::TConnectStart::Failed: {
      platform::CloseSocket(FSocket);
      FSocket = platform::kInvalidSocket;
      // The host gets the one message; the log tells an integrator where and why.
      if (LogAdmits(kLogError)) {
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        WriteLog(kMsgConnect,
                 address + ":" + std::to_string(FIPPort) + ", " + ConnectReason(error) + ", ожидание " +
                     std::to_string(waited) + " мс",
                 kLogError);
      }
      throw EquException(kErrDriver, kMsgConnect);
    }
  }
  platform::SetNonBlocking(FSocket, false);
  platform::SetReceiveTimeout(FSocket, kReceiveTimeoutMs);
  // Every command goes out in one send and waits for its answer: nothing is gained by
  // holding back the tail of a long command until the scale acknowledges its head.
  platform::SetNoDelay(FSocket);
}

void TTCPSocket::CloseConnection() noexcept {
  if (Connected()) {
    platform::ShutdownBoth(FSocket);
    platform::CloseSocket(FSocket);
  }
  FSocket = platform::kInvalidSocket;
}

void TTCPSocket::EndSending() noexcept {
  if (Connected()) platform::ShutdownSend(FSocket);
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

size_t TTCPSocket::ReadSome(char* ABuffer, size_t ASize) {
  int64_t r = platform::Receive(FSocket, ABuffer, ASize);
  if (r < 0) throw EquException(kErrDriver, kMsgReceive);
  if (r == 0) throw EquException(kErrDriver, kMsgPeerClosed);
  return static_cast<size_t>(r);
}

void TTCPSocket::ReadChar(uint8_t& AByte) {
  char c = '\0';
  ReadSome(&c, 1);
  AByte = static_cast<uint8_t>(c);
}

}  // namespace qd
