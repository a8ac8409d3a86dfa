// The exchange-log decoder: a written log with every kind of exchange, then the log of a real
// upload through the product module that the virtual scale refuses, leaves unanswered and
// closes on.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "decode.h"
#include "host.h"
#include "scale.h"
#include "support/module_env.h"
#include "support/testenv.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using vscale::TExchange;
using TOutcome = vscale::TExchange::TOutcome;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new test::TModuleEnvironment({"w_quendal7v2k"}));

std::string Fixture() { return test::ReadAll(fs::path(QD_DECODE_FIXTURE)); }

TEST(ExchangeLog, EveryKindOfExchangeAsReadableLines) {
  EXPECT_EQ(vscale::ExchangesAsText(vscale::DecodeExchangeLog(Fixture())),
            "UploadGoods\n"
            "  2026.12.10 09:00:00.010  write containers {\"key\": 1001, \"plu\": 1}  <- 06 accepted"
            "  (then unexpected bytes 06)\n"
            "  2026.12.10 09:00:00.013  write containers {\"key\": 1002, \"plu\": 2}  <- 15 REFUSED: "
            "Ошибка записи в таблицу DF, PLU = 2; Code = 1002\n"
            "DeleteGood\n"
            "  2026.12.10 09:00:01.001  delete plu key 7  NO ANSWER: Ошибка при получении ответа от сервера\n"
            "UploadData\n"
            "  2026.12.10 09:00:04.001  read main_groups key 1  <- 15\n"
            "  2026.12.10 09:00:04.003  MALFORMED F1 F2 00: the scale has no table F2  <- 15\n"
            "  2026.12.10 09:00:04.005  MALFORMED F2: shorter than a command and a table  <- 06\n"
            "  2026.12.10 09:00:04.007  MALFORMED: not hexadecimal: F1DF0Z\n"
            "ClearGoods\n"
            "  2026.12.10 09:00:05.001  FAILED: Весы закрыли подключение\n");
}

TEST(ExchangeLog, JsonCarriesTheSameFields) {
  vscale::TJson all = vscale::ExchangesAsJson(vscale::DecodeExchangeLog(Fixture()));
  ASSERT_EQ(all.Size(), 8u);
  EXPECT_EQ(all[0].DumpLine(),
            "{\"time\": \"2026.12.10 09:00:00.010\", \"call\": \"UploadGoods\", \"outcome\": \"accepted\", "
            "\"frame\": \"F1 DF 00 00 10 01 00 0A 00 00 00 01\", \"command\": \"write\", \"table\": \"containers\", "
            "\"record\": {\"key\": 1001, \"plu\": 1}, \"answer\": \"06\", \"extra\": \"06\"}");
  const char* outcomes[] = {"accepted", "refused", "unanswered", "answered", "malformed", "malformed", "malformed", "failed"};
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(all[i]["outcome"].Str(), outcomes[i]) << i;
  EXPECT_EQ(all[2]["error"].Str(), "Ошибка при получении ответа от сервера");
}

TEST(ExchangeLog, NothingButExchangesIsTakenFromTheLog) {
  EXPECT_TRUE(vscale::DecodeExchangeLog("").empty());
  EXPECT_TRUE(vscale::DecodeExchangeLog("2026.12.10 09:00:00.000\tINFO\tOpen\r\nnot a log line\n").empty());
}

// A real upload with the exchange log on: the scale takes the groups, refuses the picture
// clear, leaves the goods clear unanswered and closes on the groups clear.
TEST(ExchangeLog, TheLogOfARealUploadWithARefusalASilenceAndAClose) {
  std::error_code ec;
  fs::remove_all(test::TModuleEnvironment::LogDir(), ec);
  vscale::TOptions options;
  options.Faults = {vscale::ParseFault("F2/37=answer:15"), vscale::ParseFault("F2/25=silent@1"),
                    vscale::ParseFault("F2/23=close")};
  vscale::TVirtualScale scale(options);
  scale.Start();
  {
    host::TComponent c(test::TModuleEnvironment::Module(), "w_quendal7v2k");
    auto S = [](const std::string& AText) { return host::THostValue::Text(AText); };
    const host::THostValue empty = host::THostValue::Empty();
    for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
             {"IPAddress", "127.0.0.1"}, {"IPPort", std::to_string(scale.Port())}, {"LogEnabled", "true"},
             {"ExtLogEnabled", "true"}})
      c.Call("SetParameter", {S(name), S(value)});
    c.Call("Open", {empty});
    c.Call("UploadGroups", {S("<Table><Record Code=\"1\" Name=\"Молочные\"/></Table>")});
    c.Call("ClearImages");
    c.Call("ClearGoods");
    c.Call("ClearGroups");
    c.Call("SetParameter", {S("LogEnabled"), S("false")});
    c.Call("Open", {empty});
    c.Call("Close", {empty});
  }
  std::string log;
  for (const auto& entry : fs::directory_iterator(test::TModuleEnvironment::LogDir()))
    if (entry.path().filename().string().rfind("127_0_0_1_", 0) == 0) log += test::ReadAll(entry.path());
  std::vector<TExchange> exchanges = vscale::DecodeExchangeLog(log);
  ASSERT_GE(exchanges.size(), 6u) << vscale::ExchangesAsText(exchanges);
  std::vector<std::string> seen;
  for (const TExchange& e : exchanges) {
    std::string line = e.Call + " " + e.Decoded["command"].Str() + " " + e.Decoded["table"].Str() + " ";
    switch (e.Outcome) {
      case TOutcome::Accepted: line += "accepted"; break;
      case TOutcome::Refused: line += "refused"; break;
      case TOutcome::Unanswered: line += "unanswered: " + e.Error; break;
      default: line += "other"; break;
    }
    seen.push_back(line);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "UploadGroups write main_groups accepted",
                      "UploadGroups write group_images accepted",
                      "UploadGroups write preset_keys accepted",
                      "ClearImages clear images refused",
                      "ClearGoods clear plu unanswered: Ошибка при получении ответа от сервера",
                      "ClearGroups clear main_groups unanswered: Весы закрыли подключение",
                  }))
      << vscale::ExchangesAsText(exchanges);
  EXPECT_EQ(exchanges[0].Decoded["record"]["name"].Str(), "Молочные");
}

}  // namespace
}  // namespace qd
