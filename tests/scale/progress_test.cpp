// The progress of table uploads in the host's status line, through the product module's exports
// against the virtual scale: shown at the start and then a few times a second, reset at the end
// of every upload that succeeds or fails, and never called without a host connection.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "scale.h"
#include "support/module_env.h"

namespace qd {
namespace {

using host::TCallResult;
using host::TComponent;
using host::THostValue;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new test::TModuleEnvironment({"w_quendal7v2k"}));

THostValue S(const std::string& AText) { return THostValue::Text(AText); }

std::string Goods(int ACount, int ABadRecord = 0) {
  std::string table = "<Table>";
  for (int i = 1; i <= ACount; ++i) {
    std::string n = std::to_string(i);
    table += "<Record PLU=\"" + n + "\" Code=\"" + n + "\" GroupCode=\"1\" EANData=\"" + std::to_string(2200000 + i) +
             "\" Name=\"Товар " + n + "\" Price=\"" + (i == ABadRecord ? "дорого" : "1.50") +
             "\" SellByDate=\"1\" SellByTime=\"0\"/>";
  }
  return table + "</Table>";
}

class UploadProgress : public ::testing::Test {
 protected:
  void SetUp() override {
    Scale = std::make_unique<vscale::TVirtualScale>();
    Scale->Start();
  }
  std::unique_ptr<TComponent> Component(bool AConnected = true) {
    auto c = std::make_unique<TComponent>(test::TModuleEnvironment::Module(), "w_quendal7v2k", AConnected);
    c->Connection.OnStatusLine = [this](bool AReset, const std::string& AText) {
      Shown.push_back(AReset ? std::string("(reset)") : AText);
    };
    c->Call("SetParameter", {S("IPAddress"), S("127.0.0.1")});
    c->Call("SetParameter", {S("IPPort"), S(std::to_string(Scale->Port()))});
    EXPECT_TRUE(c->Call("Open", {THostValue::Empty()}).Returned);
    return c;
  }
  // The record counts the status line showed, checked against "<AWhat>: N из ATotal".
  std::vector<int> Counts(const std::string& AWhat, int ATotal) {
    std::vector<int> counts;
    const std::string tail = " из " + std::to_string(ATotal);
    for (size_t i = 0; i + 1 < Shown.size(); ++i) {
      const std::string& s = Shown[i];
      EXPECT_EQ(s.rfind(AWhat + ": ", 0), 0u) << s;
      EXPECT_EQ(s.substr(s.size() - tail.size()), tail) << s;
      counts.push_back(std::stoi(s.substr(AWhat.size() + 2)));
    }
    return counts;
  }

  std::unique_ptr<vscale::TVirtualScale> Scale;
  std::vector<std::string> Shown;
};

TEST_F(UploadProgress, AGoodsUploadShowsItsProgressAFewTimesASecondAndResetsAtTheEnd) {
  auto c = Component();
  const int total = 3000;
  auto start = std::chrono::steady_clock::now();
  TCallResult r = c->Call("UploadGoods", {THostValue::Empty(), S(Goods(total)), THostValue::Empty()});
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(r.Result, THostValue::Bool(true));
  ASSERT_GE(Shown.size(), 2u);
  EXPECT_EQ(Shown.front(), "Загрузка товаров в весы: 0 из 3000");
  EXPECT_EQ(Shown.back(), "(reset)");
  std::vector<int> counts = Counts("Загрузка товаров в весы", total);
  for (size_t i = 1; i < counts.size(); ++i) EXPECT_LT(counts[i - 1], counts[i]);
  EXPECT_LE(counts.back(), total);
  // At most one update a quarter of a second, besides the first one and the reset.
  const auto quarters = std::chrono::duration_cast<std::chrono::milliseconds>(took).count() / 250;
  EXPECT_LE(static_cast<long long>(Shown.size()), quarters + 3) << Shown.size() << " calls";
}

TEST_F(UploadProgress, EveryTableShowsItsOwnTextAndAFailedUploadResetsTooTheStatusLine) {
  auto c = Component();
  const struct {
    const char* Method;
    std::vector<THostValue> Args;
    const char* First;
    bool Succeeds;
  } cases[] = {
      {"UploadGroups", {S("<Table><Record Code=\"1\" Name=\"Молочные\"/><Record Code=\"2\" Name=\"Хлеб\"/></Table>")},
       "Загрузка групп в весы: 0 из 2", true},
      {"UploadShops", {S("<Table><Record Code=\"1\" Name=\"Магазин\"/></Table>")}, "Загрузка магазинов в весы: 0 из 1",
       true},
      {"UploadImages", {S("<Table><Record ImageNumber=\"11\" ImageData=\"0808183C7EFFFF7E3C18\"/></Table>")},
       "Загрузка картинок в весы: 0 из 1", true},
      {"UploadData", {S("f23"), S("0000005000130080AAE6A8EF20ADA5A4A5ABA800000051000E0082EBAFA5E7AAA0")},
       "Загрузка данных в весы: 0 из 2", true},
      {"UploadGoods", {THostValue::Empty(), S(Goods(5, 3)), THostValue::Empty()}, "Загрузка товаров в весы: 0 из 5",
       false},
  };
  for (const auto& k : cases) {
    Shown.clear();
    TCallResult r = c->Call(k.Method, k.Args);
    EXPECT_EQ(r.Result, THostValue::Bool(k.Succeeds)) << k.Method;
    ASSERT_GE(Shown.size(), 2u) << k.Method;
    EXPECT_EQ(Shown.front(), k.First) << k.Method;
    EXPECT_EQ(Shown.back(), "(reset)") << k.Method;
  }
  // A table that is not well-formed fails before the upload starts: nothing is shown.
  Shown.clear();
  c->Call("UploadShops", {S("<Table>")});
  EXPECT_TRUE(Shown.empty());
}

TEST_F(UploadProgress, WithoutAHostConnectionNothingIsCalled) {
  auto c = Component(/*AConnected=*/false);
  TCallResult r = c->Call("UploadGoods", {THostValue::Empty(), S(Goods(3)), THostValue::Empty()});
  EXPECT_EQ(r.Result, THostValue::Bool(true));
  EXPECT_TRUE(Shown.empty());
  EXPECT_TRUE(c->Connection.Calls.empty());
}

}  // namespace
}  // namespace qd
