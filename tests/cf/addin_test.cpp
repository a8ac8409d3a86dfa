// The framework driven through the real exports of a module, as the host drives it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

#include "host.h"
#include "support/module_env.h"
#include "support/testenv.h"

namespace qd {
namespace {

using host::TCallResult;
using host::TComponent;
using host::THostValue;
using host::TModule;

const auto* const kEnv =
    ::testing::AddGlobalTestEnvironment(new test::TModuleEnvironment({"qd_testaddin"}));

const TModule& Mod() { return test::TModuleEnvironment::Module(); }

class Component : public ::testing::Test {
 protected:
  void SetUp() override { C = std::make_unique<TComponent>(Mod(), "TestComponent"); }
  void TearDown() override {
    if (!C) return;
    C->Destroy();
    EXPECT_TRUE(C->Memory.Faults().empty()) << C->Memory.Faults().front();
    EXPECT_EQ(C->Memory.LiveBlocks(), 0u) << "blocks the component did not release";
  }
  TCallResult Call(const std::string& AName, std::vector<THostValue> AArgs = {}) { return C->Call(AName, AArgs); }
  std::unique_ptr<TComponent> C;
};

// ---- exports and the class list ----

TEST(Exports, ClassNamesJoinedInRegistrationOrder) {
  EXPECT_EQ(Mod().ClassNames(), "TestComponent|SecondComponent");
  TModule product(test::ModuleFile("w_quendal7v2k"));
  EXPECT_EQ(product.ClassNames(), "w_quendal7v2k");
}

TEST(Exports, ClassLookupIsExactAndCaseSensitive) {
  EXPECT_EQ(Mod().CreateObject("TESTCOMPONENT"), nullptr);
  EXPECT_EQ(Mod().CreateObject(""), nullptr);
  EXPECT_EQ(Mod().CreateObject("TestComponent "), nullptr);
}

TEST(Exports, EveryObjectHasItsOwnHeaderAndComponent) {
  void* a = Mod().CreateObject("TestComponent");
  void* b = Mod().CreateObject("TestComponent");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  auto* ha = static_cast<abi::TObjectHeader*>(a);
  auto* hb = static_cast<abi::TObjectHeader*>(b);
  EXPECT_NE(ha->Self, hb->Self);
  EXPECT_EQ(Mod().Destroy(&a), 0);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(Mod().Destroy(&a), 0);  // again: nothing happens
  EXPECT_EQ(Mod().Destroy(nullptr), 0);
  EXPECT_EQ(Mod().Destroy(&b), 0);
}

TEST(Exports, HeaderLayout) {
  void* p = Mod().CreateObject("SecondComponent");
  ASSERT_NE(p, nullptr);
  auto* h = static_cast<abi::TObjectHeader*>(p);
  auto* bytes = static_cast<char*>(p);
  // The three interface pointers are the addresses of Object1..Object3; each holds its table.
  EXPECT_EQ(reinterpret_cast<const abi::TProc*>(h->Object1), &h->Procs[0]);
  EXPECT_EQ(reinterpret_cast<const abi::TProc*>(h->Object2), &h->Procs[abi::kMembersStart]);
  EXPECT_EQ(reinterpret_cast<const abi::TProc*>(h->Object3), &h->Procs[abi::kLocaleStart]);
  for (int face = 0; face < 4; ++face)
    EXPECT_EQ(*reinterpret_cast<void**>(bytes + 32 + 8 * face), h->Self) << "Self" << face + 1;
  EXPECT_NE(h->Object4, nullptr);
#if defined(_WIN32)
  EXPECT_EQ(abi::kMembersStart, 5);
  EXPECT_EQ(abi::kLocaleStart, 22);
#else
  EXPECT_EQ(abi::kMembersStart, 6);
  EXPECT_EQ(abi::kLocaleStart, 24);
#endif
  // Destructor slots answer and do nothing.
  for (int slot = 0; slot < abi::kDtorSlots; ++slot) {
    reinterpret_cast<void (*)(void*)>(h->Object1[slot])(bytes);
    reinterpret_cast<void (*)(void*)>(h->Object2[slot])(bytes + 8);
    reinterpret_cast<void (*)(void*)>(h->Object3[slot])(bytes + 16);
    reinterpret_cast<void (*)(void*)>(h->Object4[slot])(bytes + 24);
  }
  EXPECT_EQ(Mod().Destroy(&p), 0);
}

TEST_F(Component, AllThreeInterfacesReachTheSameComponent) {
  EXPECT_EQ(C->GetInfo(), 2000);              // through Object1
  EXPECT_EQ(C->RegisterExtensionAs(), "TestComponent");  // through Object2
  C->SetLocale("ru_RU");                      // through Object3
  C->SetUserInterfaceLanguageCode("ru");      // the fourth interface of newer hosts
  EXPECT_EQ(C->GetNProps(), 2);
}

// ---- tables and lookups ----

TEST_F(Component, BuiltInPropertyComesFirst) {
  EXPECT_EQ(C->GetPropName(0, 0), "ОписаниеПоследнейОшибки");
  EXPECT_EQ(C->GetPropName(0, 1), "LastErrorDescription");
  EXPECT_EQ(C->GetPropName(0, 2), "");
  EXPECT_FALSE(C->IsPropWritable(0));
  EXPECT_TRUE(C->IsPropReadable(0));
  EXPECT_TRUE(C->IsPropWritable(1));
  for (const char* name : {"LastErrorDescription", "lasterrordescription", "ОПИСАНИЕПОСЛЕДНЕЙОШИБКИ",
                           "описаниепоследнейошибки"})
    EXPECT_EQ(C->FindProp(name), 0) << name;
  THostValue v;
  EXPECT_TRUE(C->GetPropValue(0, v));
  EXPECT_EQ(v, THostValue::Text(""));

  TComponent bare(Mod(), "SecondComponent");
  EXPECT_EQ(bare.GetNProps(), 1);
  EXPECT_EQ(bare.GetNMethods(), 0);
}

TEST_F(Component, MethodLookupIgnoresCaseInBothAlphabets) {
  struct Case {
    const char* name;
    int64_t index;
  } cases[] = {{"GetDescription", 0}, {"getdescription", 0}, {"ПОЛУЧИТЬОПИСАНИЕ", 0}, {"получитьописание", 0},
               {"open", 1},           {"ПОДКЛЮЧИТЬ", 1},     {"Нет такого", -1},      {"", -1}};
  for (const Case& c : cases) EXPECT_EQ(C->FindMethod(c.name), c.index) << c.name;
  EXPECT_EQ(C->GetMethodName(0, 0), "ПолучитьОписание");
  EXPECT_EQ(C->GetMethodName(0, 1), "GetDescription");
  EXPECT_EQ(C->GetMethodName(0, 5), "");
  EXPECT_EQ(C->GetNParams(5), 2);
  EXPECT_TRUE(C->HasRetVal(0));
}

TEST_F(Component, OutOfRangeIndexesAnswerWithoutFailing) {
  EXPECT_EQ(C->GetMethodName(999, 0), "");
  EXPECT_EQ(C->GetPropName(-1, 0), "");
  EXPECT_EQ(C->GetNParams(999), 0);
  EXPECT_FALSE(C->IsPropWritable(999));
  THostValue v;
  EXPECT_FALSE(C->GetPropValue(999, v));
  TCallResult r = C->CallAsFunc(999, {});
  EXPECT_FALSE(r.Returned);
  EXPECT_EQ(C->LastErrorDescription(), "Function  - Индекс за границами массива [999]");
  r = C->CallAsProc(-5, {});
  EXPECT_FALSE(r.Returned);
  ASSERT_EQ(C->Connection.Errors.size(), 2u);
  EXPECT_EQ(C->Connection.Errors[1].source, "");
  EXPECT_EQ(C->Connection.Errors[1].descr, "Индекс за границами массива [-5]");
}

// Numbers and aliases arrive as the host's long: 64 bits on Linux, 32 on Windows, where the
// host itself cuts a wider value. What the component is given names an entry only when it is
// in the list, however wide the long is.
TEST_F(Component, AliasesAndNumbersOutsideTheListNameNothing) {
  auto given = [](int64_t AValue) { return static_cast<int64_t>(static_cast<abi::host_long>(AValue)); };
  const int64_t wide = int64_t{1} << 32;
  const int64_t values[][2] = {{0, 0},        {0, 1},        {0, 2},         {0, -1},        {0, wide},
                               {0, wide + 1}, {0, INT64_MIN}, {wide, 0},     {-wide, 0},     {INT64_MIN, 1},
                               {1, 2},        {-1, 0},       {wide - 1, 1}};
  for (const auto& v : values) {
    const int64_t num = given(v[0]), alias = given(v[1]);
    const bool named = num == 0 && (alias == 0 || alias == 1);
    EXPECT_EQ(C->GetMethodName(v[0], v[1]), !named ? "" : alias == 0 ? "ПолучитьОписание" : "GetDescription")
        << v[0] << " " << v[1];
    EXPECT_EQ(C->GetPropName(v[0], v[1]), !named ? "" : alias == 0 ? "ОписаниеПоследнейОшибки" : "LastErrorDescription")
        << v[0] << " " << v[1];
  }
  if (sizeof(abi::host_long) == 8) {
    EXPECT_EQ(C->GetNParams(wide), 0);
    EXPECT_FALSE(C->CallAsFunc(wide, {}).Returned);
  }
}

TEST_F(Component, SetPropValueAndParamDefaultsChangeNothing) {
  EXPECT_TRUE(C->SetPropValue(1, THostValue::Text("другое")));
  EXPECT_TRUE(C->SetPropValue(0, THostValue::Text("другое")));
  THostValue v;
  C->GetPropValue(1, v);
  EXPECT_EQ(v, THostValue::Text("начало"));
  for (int64_t m = 0; m < C->GetNMethods(); ++m) {
    THostValue def = THostValue::Int(5);
    EXPECT_FALSE(C->GetParamDefValue(m, 0, def));
    EXPECT_EQ(def.vt, abi::VTYPE_EMPTY);
  }
}

TEST_F(Component, DoneEmptiesMethodsAndKeepsProperties) {
  int64_t props = C->GetNProps();
  C->Done();
  EXPECT_EQ(C->GetNMethods(), 0);
  EXPECT_EQ(C->FindMethod("GetDescription"), -1);
  EXPECT_EQ(C->GetNProps(), props);
}

TEST_F(Component, DuplicateRegistrationFailsAndLeavesTheTable) {
  int64_t before = C->GetNMethods();
  TCallResult r = Call("AddDuplicate");
  EXPECT_FALSE(r.Returned);
  EXPECT_EQ(C->LastErrorDescription(),
            "Function AddDuplicate - Метод с указанным именем уже зарегистрирован. [Другой,getdescription]");
  EXPECT_EQ(C->GetNMethods(), before);
}

// ---- calls ----

TEST_F(Component, ArgumentsTravelBothWays) {
  const THostValue values[] = {THostValue::Empty(),        THostValue::Int(-7),
                               THostValue::Double(0.25),   THostValue::Bool(true),
                               THostValue::Text("Сыр «Российский»"), THostValue::Blob(std::string("\x00\x01\xFE", 3)),
                               THostValue::Text("")};
  for (const THostValue& v : values) {
    TCallResult r = Call("Echo", {v});
    ASSERT_TRUE(r.Returned) << v.Describe();
    EXPECT_EQ(r.Result, v) << v.Describe();
    EXPECT_EQ(r.Args.at(0), v) << v.Describe();
  }
  TCallResult r = Call("Echo", {THostValue::Tm(2024, 3, 5, 12, 0, 0)});
  ASSERT_TRUE(r.Returned);
  EXPECT_EQ(r.Result.vt, abi::VTYPE_DATE);
  EXPECT_DOUBLE_EQ(r.Result.d, 45356.5);
  r = Call("Echo", {THostValue::Int64(5)});
  EXPECT_FALSE(r.Returned);
  EXPECT_EQ(C->LastErrorDescription(), "Function Echo - Неподдерживаемый тип данных");
  r = Call("DateTime");
  EXPECT_EQ(r.Result.vt, abi::VTYPE_DATE);
}

TEST_F(Component, ATextTheMethodLeftAloneStaysTheHostsOwn) {
  size_t before = C->Memory.Allocations();
  TCallResult r = Call("Echo", {THostValue::Text("Сыр")});
  EXPECT_EQ(r.Args.at(0), THostValue::Text("Сыр"));
  EXPECT_EQ(r.Result, THostValue::Text("Сыр"));
  // The host's argument and the result: the argument is not copied back.
  EXPECT_EQ(C->Memory.Allocations() - before, 2u);
  before = C->Memory.Allocations();
  r = Call("ReplaceSecond", {THostValue::Text("a"), THostValue::Text("b")});
  EXPECT_EQ(r.Args.at(0), THostValue::Text("a"));
  EXPECT_EQ(r.Args.at(1), THostValue::Text("замена"));
  EXPECT_EQ(C->Memory.Allocations() - before, 3u) << "two arguments and the replaced one";
}

TEST_F(Component, ProcedureHandsBackReplacedArguments) {
  TCallResult r = C->CallAsProc(C->FindMethod("ReplaceSecond"), {THostValue::Text("a"), THostValue::Int(1)});
  EXPECT_TRUE(r.Returned);
  EXPECT_EQ(r.Args.at(0), THostValue::Text("a"));
  EXPECT_EQ(r.Args.at(1), THostValue::Text("замена"));
}

TEST_F(Component, FunctionWithoutResultRecord) {
  TCallResult r = C->CallAsFunc(C->FindMethod("ReplaceSecond"), {THostValue::Text("a"), THostValue::Int(1)}, false);
  EXPECT_TRUE(r.Returned);
  EXPECT_EQ(r.Args.at(1), THostValue::Text("замена"));
}

TEST_F(Component, FailingFunctionReportsThreeWays) {
  TCallResult r = Call("Open", {THostValue::Text("Нет связи")});
  EXPECT_FALSE(r.Returned);
  EXPECT_EQ(C->LastErrorDescription(), "Function Open - Нет связи");
  ASSERT_EQ(C->Connection.Errors.size(), 1u);
  const host::TErrorReport& e = C->Connection.Errors[0];
  EXPECT_EQ(e.wcode, 1006);
  EXPECT_EQ(e.source, "");
  EXPECT_EQ(e.descr, "Нет связи");
  EXPECT_EQ(e.scode, 1000);
  // The next successful call clears the property.
  EXPECT_TRUE(Call("ReturnTrue").Returned);
  EXPECT_EQ(C->LastErrorDescription(), "");
}

TEST_F(Component, FailingProcedureReportsWithTheFirstName) {
  TCallResult r = C->CallAsProc(C->FindMethod("Open"), {THostValue::Text("Сбой")});
  EXPECT_FALSE(r.Returned);
  ASSERT_EQ(C->Connection.Errors.size(), 1u);
  EXPECT_EQ(C->Connection.Errors[0].wcode, 1006);
  EXPECT_EQ(C->Connection.Errors[0].source, "Подключить");
  EXPECT_EQ(C->Connection.Errors[0].descr, "Сбой");
  EXPECT_EQ(C->Connection.Errors[0].scode, 1);
  EXPECT_EQ(C->LastErrorDescription(), "");  // procedures leave the property alone
  // Both texts of the report went back through FreeMem (checked in TearDown as well).
  EXPECT_EQ(C->Memory.Allocations(), C->Memory.Releases());
}

TEST_F(Component, MissingHandlerAndUnconvertibleResult) {
  Call("NoHandler");
  EXPECT_EQ(C->LastErrorDescription(), "Function NoHandler - mt_Call: Method (Mt.Mt) is not assigned!");
  Call("IntArray");
  EXPECT_EQ(C->LastErrorDescription(), "Function IntArray - Неподдерживаемый тип массива.");
}

TEST(ComponentWithoutHost, FailuresMakeNoHostCallsAndTextsUseTheLibraryHeap) {
  TComponent c(Mod(), "TestComponent", /*AInit=*/false, /*AMemManager=*/false);
  TCallResult r = c.Call("Open", {THostValue::Text("x")});
  EXPECT_FALSE(r.Returned);
  EXPECT_TRUE(c.Connection.Calls.empty());
  EXPECT_EQ(c.Call("BufferDepth").Result, THostValue::Int(0));
  EXPECT_EQ(c.Call("Ask").Result, THostValue::Bool(false));
  c.Destroy();
  EXPECT_TRUE(c.Connection.Calls.empty());
}

// ---- host services ----

TEST_F(Component, HostServicesAreCalledInOrder) {
  ASSERT_TRUE(Call("RaiseEvent").Returned);
  EXPECT_EQ(C->Connection.Events,
            (std::vector<std::string>{"Источник|Сообщение|Данные", "src|msg|data"}));
  EXPECT_EQ(C->Connection.Calls, (std::vector<std::string>{"SetEventBufferDepth 100", "ExternalEvent",
                                                           "SetEventBufferDepth 100", "ExternalEvent"}));
  C->Connection.Calls.clear();
  EXPECT_EQ(Call("BufferDepth").Result, THostValue::Int(7));
  Call("Status", {THostValue::Text("Загрузка")});
  EXPECT_EQ(C->Connection.StatusLine, "Загрузка");
  Call("Status", {THostValue::Text("")});
  EXPECT_EQ(C->Connection.StatusLine, "");
  C->Connection.ConfirmAnswer = false;
  EXPECT_EQ(Call("Ask").Result, THostValue::Bool(false));
  C->Connection.ConfirmAnswer = true;
  EXPECT_EQ(Call("Ask").Result, THostValue::Bool(true));
  Call("Tell");
  EXPECT_EQ(Call("Platform").Result, THostValue::Text("1.0.0.0|addin-host|2"));
  TCallResult r = Call("Profile", {THostValue::Text("Порт"), THostValue::Empty()});
  EXPECT_EQ(r.Args.at(1), THostValue::Int(1));
  EXPECT_EQ(C->Connection.Calls,
            (std::vector<std::string>{"SetEventBufferDepth 7", "GetEventBufferDepth", "SetStatusLine",
                                      "ResetStatusLine", "GetInterface 0", "Confirm Продолжить?", "GetInterface 0",
                                      "Confirm Продолжить?", "GetInterface 0", "Alert Внимание", "GetInterface 1",
                                      "GetPlatformInfo", "RegisterProfileAs Весы", "Write Порт", "Read Порт"}));
}

// ---- call tracing in the log ----

class Tracing : public Component {
 protected:
  void SetUp() override {
    Component::SetUp();
    std::error_code ec;
    std::filesystem::remove_all(LogDir(), ec);
  }
  void TearDown() override {
    Call("SetLogLevel", {THostValue::Int(0)});
    Component::TearDown();
  }
  static std::filesystem::path LogDir() { return test::TModuleEnvironment::LogDir(); }
  // Lines of the log file (only one file is written in these tests), without banners.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(LogDir())) return lines;
    for (const auto& entry : std::filesystem::directory_iterator(LogDir())) {
      std::string text = test::ReadAll(entry.path());
      size_t pos = 0;
      while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 2;
        // Keep only time-stamped lines, without the time stamp.
        if (line.size() > 24 && line[4] == '.' && line[23] == '\t') lines.push_back(line.substr(24));
      }
    }
    return lines;
  }
};

TEST_F(Tracing, SuccessfulCallWritesEntryAndExitLines) {
  Call("SetLogLevel", {THostValue::Int(3)});
  ASSERT_TRUE(Call("ReturnTrue").Returned);
  Call("ReturnThree", {THostValue::Text("a"), THostValue::Int(5), THostValue::Bool(false)});
  Call("ReplaceSecond", {THostValue::Text("x"), THostValue::Text("y")});
  std::vector<std::string> lines = Lines();
  std::vector<std::string> expected = {
      "DEBUG\t< SetLogLevel: \tResult=True; Params: [3]",
      "DEBUG\t> ReturnTrue: \tParams: []",
      "DEBUG\t< ReturnTrue: \tResult=True; Params: []",
      "DEBUG\t> ReturnThree: \tParams: [a; 5; False]",
      "DEBUG\t< ReturnThree: \t; Params: [a; 5; False]",
      "DEBUG\t> ReplaceSecond: \tParams: [x; y]",
      "DEBUG\t< ReplaceSecond: \tResult=True; Params: [x; замена]",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(Tracing, StartBannerNamesTheModuleAndItsVersion) {
  Call("SetLogLevel", {THostValue::Int(3)});
  Call("ReturnTrue");
  ASSERT_TRUE(std::filesystem::exists(LogDir()));
  std::string text;
  for (const auto& entry : std::filesystem::directory_iterator(LogDir())) text += test::ReadAll(entry.path());
#if defined(_WIN32)
  const char* file = "qd_testaddin.dll";
#else
  const char* file = "qd_testaddin.so";
#endif
  EXPECT_EQ(text.rfind(std::string(40, ' ') + "\r\n============Start log=============\r\nOS version:\t", 0), 0u) << text;
  EXPECT_NE(text.find(std::string("\r\nApplication:\t") + file + "\r\nApp. version:\t1.0.0.0\r\n" +
                      std::string(40, ' ') + "\r\n"),
            std::string::npos)
      << text;
}

TEST_F(Tracing, FailingCallWritesOnlyTheEntryLine) {
  Call("SetLogLevel", {THostValue::Int(3)});
  Call("Open", {THostValue::Text("M")});
  std::vector<std::string> lines = Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "DEBUG\t> Open: \tParams: [M]");
}

TEST_F(Tracing, WithLoggingOffNothingIsWritten) {
  Call("ReturnTrue");
  Call("Open", {THostValue::Text("M")});
  EXPECT_FALSE(std::filesystem::exists(LogDir()));
}

}  // namespace
}  // namespace qd
