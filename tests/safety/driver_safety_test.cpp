// The product module through its exports when things around it go wrong: a log that cannot be
// written, addresses that make no file name, empty names and values the host cannot take back.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "scale.h"
#include "support/module_env.h"
#include "support/testenv.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

using host::TCallResult;
using host::TComponent;
using host::THostValue;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new test::TModuleEnvironment({"w_quendal7v2k"}));

THostValue S(const std::string& AText) { return THostValue::Text(AText); }

class DriverSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    fs::remove_all(LogDir(), ec);
    Scale = std::make_unique<vscale::TVirtualScale>();
    Scale->Start();
    C = std::make_unique<TComponent>(test::TModuleEnvironment::Module(), "w_quendal7v2k");
    ASSERT_TRUE(Param("IPAddress", "127.0.0.1"));
    ASSERT_TRUE(Param("IPPort", std::to_string(Scale->Port())));
  }
  void TearDown() override {
    Call("Close");
    Param("LogEnabled", "false");
    Call("Open");  // switches the log off again for the next test
    Call("Close");
    C->Destroy();
    EXPECT_TRUE(C->Memory.Faults().empty());
    EXPECT_EQ(C->Memory.LiveBlocks(), 0u);
    std::error_code ec;
    fs::remove_all(LogDir(), ec);
  }
  static fs::path LogDir() { return test::TModuleEnvironment::LogDir(); }

  bool Call(const std::string& AMethod, std::vector<THostValue> AArgs = {THostValue::Empty()}) {
    TCallResult r = C->Call(AMethod, AArgs);
    return r.Returned && r.Result.vt == abi::VTYPE_BOOL && r.Result.i != 0;
  }
  bool Param(const std::string& AName, const std::string& AValue) {
    return Call("SetParameter", {S(AName), S(AValue)});
  }
  std::string LastError() { return C->Call("GetLastError", {S("")}).Args.at(0).text; }
  std::vector<host::TErrorReport> Warnings() {
    std::vector<host::TErrorReport> warnings;
    for (const host::TErrorReport& e : C->Connection.Errors)
      if (e.wcode == 1002) warnings.push_back(e);
    return warnings;
  }
  // Names of the log files, without their date and extension ("<base>_yyyy.mm.dd.log").
  static std::vector<std::string> LogBaseNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(LogDir(), ec)) {
      std::string name = entry.path().filename().string();
      EXPECT_GT(name.size(), 15u) << name;
      if (name.size() <= 15) continue;
      EXPECT_EQ(name.substr(name.size() - 4), ".log") << name;
      EXPECT_EQ(name[name.size() - 15], '_') << name;
      names.push_back(name.substr(0, name.size() - 15));
    }
    return names;
  }

  std::unique_ptr<vscale::TVirtualScale> Scale;
  std::unique_ptr<TComponent> C;
};

TEST_F(DriverSafety, ALogThatCannotBeWrittenNeitherFailsNorDisablesTheDriver) {
  { std::ofstream(LogDir()) << "a file where the log folder belongs"; }
  ASSERT_TRUE(Param("LogEnabled", "true"));
  EXPECT_TRUE(Call("Open")) << LastError();
  EXPECT_TRUE(Call("ClearGoods")) << LastError();
  EXPECT_TRUE(Param("IPPort", "1"));
  EXPECT_EQ(LastError(), "");
  EXPECT_TRUE(Call("Close"));
  std::vector<host::TErrorReport> warnings = Warnings();
  ASSERT_EQ(warnings.size(), 1u) << "told once, not at every line";
  EXPECT_EQ(warnings[0].descr.rfind("Не удалось записать лог: ", 0), 0u) << warnings[0].descr;
  EXPECT_EQ(C->Connection.Errors.size(), 1u) << "no call failed";

  // Logging resumes once the folder can be made; a new run of failures is told again.
  fs::remove(LogDir());
  ASSERT_TRUE(Param("IPPort", std::to_string(Scale->Port())));
  EXPECT_TRUE(Call("Open"));
  EXPECT_EQ(LogBaseNames(), std::vector<std::string>{"127_0_0_1"});
  fs::remove_all(LogDir());
  { std::ofstream(LogDir()) << "x"; }
  EXPECT_TRUE(Call("Close"));
  EXPECT_EQ(Warnings().size(), 2u);
  fs::remove(LogDir());
}

TEST_F(DriverSafety, AnAddressThatNoFileMayBeNamedAfterGivesASafeLogName) {
  const struct {
    const char* Address;
    const char* Base;
    bool Opens;  // blanks and controls around an address are trimmed by the transport too
  } cases[] = {
      {"127.0.0.1\t", "127_0_0_1", true},
      {" \t127.0.0.1|x\r\n", "127_0_0_1_x", false},
      {"<127.0.0.1>", "_127_0_0_1_", false},
      {"\"q\"?*:", "_q____", false},
      {"..\\..\\x/y", "______x_y", false},
      {"a\x01z", "a_z", false},
  };
  for (const auto& c : cases) {
    std::error_code ec;
    fs::remove_all(LogDir(), ec);
    C->Connection.Errors.clear();
    ASSERT_TRUE(Param("IPAddress", c.Address));
    ASSERT_TRUE(Param("LogEnabled", "true"));
    EXPECT_EQ(Call("Open"), c.Opens) << c.Address;
    if (!c.Opens) {
      EXPECT_EQ(LastError().rfind("Синтаксическая ошибка в IP-адресе: IPAddress = ", 0), 0u) << c.Address;
    }
    // Every call still works; switching the log off goes into the same file.
    EXPECT_TRUE(Param("IPAddress", "127.0.0.1"));
    EXPECT_TRUE(Param("LogEnabled", "false"));
    EXPECT_TRUE(Call("Open"));
    EXPECT_TRUE(Call("Close"));
    EXPECT_EQ(LogBaseNames(), std::vector<std::string>{c.Base}) << c.Address;
    EXPECT_TRUE(Warnings().empty()) << Warnings().front().descr;
  }
}

TEST_F(DriverSafety, AnEmptyNameFindsNoSettingAndNoMethod) {
  ASSERT_TRUE(Param("Новая", "1"));
  EXPECT_EQ(C->FindMethod(""), -1);
  EXPECT_EQ(C->FindProp(""), -1);
  EXPECT_FALSE(Param("", "2"));
  EXPECT_EQ(LastError(), "Не задано имя параметра");
  int64_t added = C->FindProp("Новая");
  ASSERT_GE(added, 0);
  THostValue value;
  ASSERT_TRUE(C->GetPropValue(added, value));
  EXPECT_EQ(value, S("1"));
  EXPECT_EQ(C->GetPropName(added, 1), "") << "a setting added by name has no second name";
}

TEST(DriverWithoutMemoryManager, ABlockArgumentIsRefusedBeforeTheMethodRuns) {
  TComponent c(test::TModuleEnvironment::Module(), "w_quendal7v2k", /*AInit=*/true, /*AMemManager=*/false);
  int64_t props = c.GetNProps();
  TCallResult r = c.Call("SetParameter", {S("Блок"), THostValue::Blob("abc")});
  EXPECT_FALSE(r.Returned);
  EXPECT_EQ(c.GetNProps(), props) << "nothing was stored";
  ASSERT_EQ(c.Connection.Errors.size(), 1u);
  EXPECT_EQ(c.Connection.Errors[0].wcode, 1006);
  EXPECT_EQ(c.Connection.Errors[0].descr, "Менеджер памяти не задан");
  EXPECT_EQ(r.Args.at(1), THostValue::Blob("abc")) << "the argument is left as the host passed it";
}

}  // namespace
}  // namespace qd
