// The TCP transport against a scripted peer on the loopback interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/errors.h"
#include "common/log.h"
#include "device/TCPSocket.h"
#include "scripted_server.h"

using namespace qd;
using qdtest::TReply;
using qdtest::TScriptedServer;

namespace {

// The message of the EquException that AAction raises (code checked to be 1001).
template <class F>
std::string TransportError(F AAction) {
  try {
    AAction();
  } catch (const EquException& e) {
    EXPECT_EQ(e.Code, 1001);
    return e.what();
  }
  return "(no error)";
}

class Transport : public ::testing::Test {
 protected:
  void Connect(const std::string& AAddress = "127.0.0.1") {
    FSocket.SetIPAddress(AAddress);
    FSocket.SetIPPort(FServer.Port());
    FSocket.SetConnection();
  }
  void TearDown() override { FSocket.CloseConnection(); }

  TScriptedServer FServer;
  TTCPSocket FSocket;
};

TEST_F(Transport, AddressAndPortAreCheckedBeforeAnySocketExists) {
  const struct {
    const char* Address;
    int32_t Port;
    const char* Message;
  } cases[] = {
      {"scale.local", 5001, "Синтаксическая ошибка в IP-адресе"},
      {"127.0.0.256", 5001, "Синтаксическая ошибка в IP-адресе"},
      {"", 5001, "Синтаксическая ошибка в IP-адресе"},
      {"127.0.0.010", 5001, "Синтаксическая ошибка в IP-адресе"},
      {"192.168.001.010", 5001, "Синтаксическая ошибка в IP-адресе"},
      {"127.0.0.1", 0, "Номер порта должен лежать в диапазоне 1-65535"},
      {"127.0.0.1", 65536, "Номер порта должен лежать в диапазоне 1-65535"},
      {"127.0.0.1", -1, "Номер порта должен лежать в диапазоне 1-65535"},
  };
  for (const auto& c : cases) {
    TTCPSocket s;
    s.SetIPAddress(c.Address);
    s.SetIPPort(c.Port);
    const std::string error = TransportError([&] { s.SetConnection(); });
    EXPECT_EQ(error.rfind(c.Message, 0), 0u) << error;
    if (c.Port == 5001)
      EXPECT_EQ(error, std::string(c.Message) + ": IPAddress = \"" + c.Address +
                           "\" (четыре десятичных числа от 0 до 255 через точку, без ведущих нулей)");
    else
      EXPECT_EQ(error, c.Message) << c.Address << ":" << c.Port;
    EXPECT_FALSE(s.Connected());
  }
}

TEST_F(Transport, AddressWithBlanksAroundConnects) {
  Connect(" \t127.0.0.1 \r\n");
  EXPECT_TRUE(FSocket.Connected());
  FSocket.WriteStr("\xF2\x25");
  std::string reply;
  FSocket.ReadString(1, reply);
  EXPECT_EQ(reply, "\x06");
  ASSERT_EQ(FServer.Frames().size(), 1u);
  EXPECT_EQ(FServer.Frames()[0], "\xF2\x25");
}

TEST_F(Transport, RefusedPortFailsToConnectAndLeavesNoSocket) {
  qdtest::TRefusingPort refusing;
  TTCPSocket s;
  s.SetIPAddress("127.0.0.1");
  s.SetIPPort(refusing.Port());
  EXPECT_EQ(TransportError([&] { s.SetConnection(); }), "Ошибка при установлении подключения");
  EXPECT_FALSE(s.Connected());
}

// The host gets the one message; the log says where the driver went, why it failed and how
// long it waited.
TEST_F(Transport, FailedConnectIsExplainedInTheLog) {
  qdtest::TRefusingPort refusing;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("qd_connect_log_" + std::to_string(refusing.Port()));
  SetLogFolder(folder.string());
  SetLogFileBaseName("connect");
  SetLogClock([] { return TLogTime{2024, 5, 6, 7, 8, 9, 10}; });
  SetLogLevel(kLogLevelAll);
  TTCPSocket s;
  s.SetIPAddress(" 127.0.0.1 ");
  s.SetIPPort(refusing.Port());
  EXPECT_EQ(TransportError([&] { s.SetConnection(); }), "Ошибка при установлении подключения");
  SetLogLevel(kLogLevelOff);
  SetLogClock({});
  std::ifstream in(folder / "connect_2024.05.06.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string prefix = "2024.05.06 07:08:09.010\tERROR\tОшибка при установлении подключения: \t127.0.0.1:" +
                             std::to_string(refusing.Port()) + ", подключение отклонено: на этом порту весы не слушают (код ";
  const size_t at = text.str().find(prefix);
  ASSERT_NE(at, std::string::npos) << text.str();
  const std::string rest = text.str().substr(at + prefix.size(), text.str().find("\r\n", at) - at - prefix.size());
  EXPECT_TRUE(std::regex_match(rest, std::regex(R"([0-9]+\), ожидание [0-9]+ мс)"))) << rest;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

TEST_F(Transport, ReadReturnsTheAskedLengthOrFailsWhenThePeerClosed) {
  FServer.Script({TReply{"A", false}, TReply::Hangup()});
  Connect();
  std::string reply;
  FSocket.WriteStr("x");
  FSocket.ReadString(3, reply);
  EXPECT_EQ(reply, std::string("A\0\0", 3));
  // A peer that closes instead of answering is a failure of the read, whatever its form.
  FSocket.WriteStr("y");
  EXPECT_EQ(TransportError([&] { FSocket.ReadString(1, reply); }), "Весы закрыли подключение");
  uint8_t byte = 0xFF;
  EXPECT_EQ(TransportError([&] { FSocket.ReadChar(byte); }), "Весы закрыли подключение");
}

TEST_F(Transport, SilentPeerTimesOutTheReceive) {
  FServer.SetDefault(TReply::Silence());
  Connect();
  FSocket.WriteStr("\xF2\x25");
  std::string reply = "old";
  EXPECT_EQ(TransportError([&] { FSocket.ReadString(1, reply); }), "Ошибка при получении ответа от сервера");
  EXPECT_TRUE(FSocket.Connected());  // the connection is kept
}

TEST_F(Transport, ReadUntilSilence) {
  FServer.Script({TReply{"abc", true}, TReply::Hangup()});
  Connect();
  FSocket.WriteStr("q");
  std::string all;
  FSocket.ReadString(all);
  EXPECT_EQ(all, "abc");

  FSocket.CloseConnection();
  Connect();
  FSocket.WriteStr("q");
  EXPECT_EQ(TransportError([&] { FSocket.ReadString(all); }), "Ошибка при получении ответа от сервера");
}

TEST_F(Transport, CloseNeverFails) {
  TTCPSocket never;
  never.CloseConnection();
  never.CloseConnection();
  EXPECT_FALSE(never.Connected());
  Connect();
  FSocket.CloseConnection();
  FSocket.CloseConnection();
  EXPECT_FALSE(FSocket.Connected());
}

#ifndef _WIN32
// A host started with its standard input closed hands out descriptor 0 to the first socket.
// That is a connection like any other: it is closed at the end, so the next connection gets
// through to a scale that serves one connection at a time.
TEST(TransportOnDescriptorZero, IsAnOrdinaryConnection) {
  // Standard input on a descriptor of its own first, so that the peer's socket does not take 0.
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  TScriptedServer server;
  std::fclose(stdin);
  TTCPSocket s;
  s.SetIPAddress("127.0.0.1");
  s.SetIPPort(server.Port());
  s.SetConnection();
  if (s.Socket() != 0) GTEST_SKIP() << "descriptor 0 is held by something else in this process";
  std::string reply;
  s.WriteStr("\xF2\x25");
  s.ReadString(1, reply);
  EXPECT_EQ(reply, "\x06");
  s.CloseConnection();
  EXPECT_FALSE(s.Connected());
  s.SetConnection();
  s.WriteStr("\xF2\x25");
  EXPECT_EQ(TransportError([&] { s.ReadString(1, reply); }), "(no error)");
  EXPECT_EQ(reply, "\x06");
  s.CloseConnection();
  EXPECT_EQ(server.Connections(), 2);
}
#endif

TEST_F(Transport, SendOnAClosedConnectionFails) {
  EXPECT_EQ(TransportError([&] { FSocket.WriteStr("x"); }), "Ошибка при отправке данных серверу");
}

}  // namespace
