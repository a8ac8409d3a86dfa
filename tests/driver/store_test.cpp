// The driver layer in process: settings store, last error, log entries, standard services,
// the generated settings form and the module's string table.
#include <gtest/gtest.h>

#include <expat.h>
#include <pugixml.hpp>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/log.h"
#include "common/resources.h"
#include "common/text.h"
#include "driver/testdriver.h"
#include "support/testenv.h"
#include "ui/Windows.h"

namespace qd {
namespace {

using test::TTestDriver;

constexpr const char* kStamp = "2024.03.05 10:20:30.456";

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogFolder(Temp.Str());
    SetLogFileBaseName("unit");
    SetLogClock([] { return TLogTime{2024, 3, 5, 10, 20, 30, 456}; });
    D = std::make_unique<TTestDriver>();
    D->Create();
  }
  void TearDown() override {
    D.reset();
    SetLogLevel(kLogLevelOff);
    SetLogClock({});
    SetDecimalSeparator('.');
  }
  std::string LogText() const { return test::ReadAll(Temp.Path() / "unit_2024.03.05.log"); }
  // Lines of the log after the start banner.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::string text = LogText();
    for (size_t pos = 0; pos < text.size();) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      if (line.rfind(kStamp, 0) == 0) lines.push_back(line.substr(std::string(kStamp).size()));
      pos = end + 2;
    }
    return lines;
  }

  test::TTempDir Temp;
  std::unique_ptr<TTestDriver> D;
};

TEST_F(Driver, NewObjectHasNoErrorAndTheSettingsInRegistrationOrder) {
  EXPECT_EQ(D->LastResult().ErrorCode, 0);
  EXPECT_EQ(D->LastResult().ErrorDescription, "");
  EXPECT_FALSE(D->Enabled());
  const char* names[][2] = {{"ОписаниеПоследнейОшибки", "LastErrorDescription"},
                            {"ЛогВключен", "LogEnabled"},
                            {"IPПорт", "IPPort"},
                            {"ВестиЛогОбмена", "ExtLogEnabled"},
                            {"СбойПодключения", "FailOpen"}};
  ASSERT_EQ(D->pt_Count(), 5);  // the duplicate "ЛогВключен" was skipped
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(D->pt_Get(i).PropertyName1, names[i][0]);
    EXPECT_EQ(D->pt_Get(i).PropertyName2, names[i][1]);
  }
  EXPECT_EQ(D->pt_Get(1).Value.Kind(), TValueKind::Boolean);
  EXPECT_TRUE(D->pt_Get(0).isReadonly);
}

TEST_F(Driver, TypedGettersConvertTheStoredValue) {
  struct TCase {
    const char* Setting;
    TValue Value;
    char Separator;
    const char* Getter;
    std::string Expected;  // the result as text
  } cases[] = {
      {"IPPort", TValue::Str("0"), '.', "Int", "0"},
      {"IPPort", TValue::Int(5001), '.', "Int", "5001"},
      {"IPPort", TValue::Str("5001"), '.', "Int", "5001"},
      {"IPPort", TValue::Str("-2147483648"), '.', "Int", "-2147483648"},
      {"IPPort", TValue::Dbl(2.5), '.', "Int", "2"},
      {"IPPort", TValue::Bool(true), '.', "Int", "1"},
      {"ExtLogEnabled", TValue::Str("false"), '.', "Bool", "0"},
      {"ExtLogEnabled", TValue::Str("TRUE"), '.', "Bool", "1"},
      {"ExtLogEnabled", TValue::Str("tRuE"), '.', "Bool", "1"},
      {"ExtLogEnabled", TValue::Str("0"), '.', "Bool", "0"},
      {"ExtLogEnabled", TValue::Str("-3"), '.', "Bool", "1"},
      {"ExtLogEnabled", TValue::Int(0), '.', "Bool", "0"},
      {"IPPort", TValue::Str("1.5"), '.', "Dbl", "1.5"},
      {"IPPort", TValue::Str("1,5"), ',', "Dbl", "1.5"},
      {"IPPort", TValue::Str("2.5e3"), '.', "Dbl", "2500"},
      {"IPPort", TValue::Str("12.3456"), '.', "Curr", "123456"},
      {"IPPort", TValue::Str("-0,5"), ',', "Curr", "-5000"},
      {"IPPort", TValue::Int(3), '.', "Curr", "30000"},
      {"IPPort", TValue::Str("45356.5"), '.', "Date", "45356.5"},
      {"IPPort", TValue::Str("текст"), '.', "Str", "текст"},
      {"IPPort", TValue::Bool(true), '.', "Str", "True"},
      {"IPPort", TValue::Bool(false), '.', "Str", "False"},
      {"IPPort", TValue::Int(-7), '.', "Str", "-7"},
      {"IPPort", TValue::Dbl(2.5), ',', "Str", "2,5"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Getter) + " of " + c.Value.ToText());
    SetDecimalSeparator(c.Separator);
    D->SetSettingValue(c.Setting, c.Value);
    std::string got;
    std::string getter = c.Getter;
    if (getter == "Int") got = std::to_string(D->GetSettingValueInt(c.Setting));
    if (getter == "Bool") got = D->GetSettingValueBool(c.Setting) ? "1" : "0";
    if (getter == "Dbl") got = std::to_string(D->GetSettingValueDbl(c.Setting)).substr(0, c.Expected.size());
    if (getter == "Date") got = std::to_string(D->GetSettingValueDate(c.Setting)).substr(0, c.Expected.size());
    if (getter == "Curr") got = std::to_string(D->GetSettingValueCurr(c.Setting));
    if (getter == "Str") got = D->GetSettingValueStr(c.Setting);
    EXPECT_EQ(got, c.Expected);
  }
  EXPECT_EQ(D->LastResult().ErrorCode, 0);
}

TEST_F(Driver, ValuesThatDoNotConvertFailToTheCaller) {
  struct TCase {
    TValue Value;
    char Separator;
    const char* Getter;
    const char* Message;
  } cases[] = {
      {TValue::Str("abc"), '.', "Int", "Could not convert variant of type (String) into type (Integer)"},
      {TValue::Str("2147483648"), '.', "Int", "Could not convert variant of type (String) into type (Integer)"},
      {TValue::Str("1.5"), '.', "Int", "Could not convert variant of type (String) into type (Integer)"},
      {TValue::Str("yes"), '.', "Bool", "Could not convert variant of type (String) into type (Boolean)"},
      {TValue::Str("1.5"), ',', "Dbl", "Could not convert variant of type (String) into type (Double)"},
      {TValue::Str(""), '.', "Curr", "Could not convert variant of type (String) into type (Currency)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Value.ToText());
    SetDecimalSeparator(c.Separator);
    D->SetSettingValue("IPPort", c.Value);
    std::string getter = c.Getter;
    try {
      if (getter == "Int") D->GetSettingValueInt("IPPort");
      if (getter == "Bool") D->GetSettingValueBool("IPPort");
      if (getter == "Dbl") D->GetSettingValueDbl("IPPort");
      if (getter == "Curr") D->GetSettingValueCurr("IPPort");
      ADD_FAILURE() << "no failure";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
  }
  EXPECT_EQ(D->LastResult().ErrorCode, 0) << "the getter records nothing itself";
}

TEST_F(Driver, SettingsAreFoundByEitherNameInAnyLetterCase) {
  D->SetSettingValue("IPPort", TValue::Str("5001"));
  for (const char* name : {"ipport", "IPPORT", "IPПорт", "ipпорт", "IPПОРТ"})
    EXPECT_EQ(D->GetSettingValueInt(name), 5001) << name;
}

TEST_F(Driver, UnknownNameIsRecordedAndGivesTheEmptyDefault) {
  EXPECT_EQ(D->GetSettingValueInt("NoSuch"), 0);
  EXPECT_EQ(D->LastResult().ErrorCode, 1001);
  EXPECT_EQ(D->LastResult().ErrorDescription, "Свойство \"NoSuch\" не существует");
  EXPECT_FALSE(D->GetSettingValueBool("NoSuch2"));
  EXPECT_EQ(D->GetSettingValueDbl("NoSuch3"), 0.0);
  EXPECT_EQ(D->GetSettingValueCurr("NoSuch4"), 0);
  EXPECT_EQ(D->GetSettingValueStr("NoSuch5"), "");
  EXPECT_TRUE(D->GetSettingValue("NoSuch6").IsEmpty());
  // A later success leaves the record as it was.
  EXPECT_EQ(D->GetSettingValueInt("IPPort"), 0);
  EXPECT_EQ(D->LastResult().ErrorDescription, "Свойство \"NoSuch6\" не существует");
}

TEST_F(Driver, SettingAnUnknownNameAddsASetting) {
  D->SetSettingValue("Новая", TValue::Int(7));
  D->SetSettingValue("Вторая", TValue::Str("x"));
  ASSERT_EQ(D->pt_Count(), 7);
  EXPECT_EQ(D->pt_Get(5).PropertyName1, "Новая");
  EXPECT_EQ(D->pt_Get(5).PropertyName2, "");
  EXPECT_FALSE(D->pt_Get(5).isReadonly);
  EXPECT_EQ(D->GetSettingValueInt("НОВАЯ"), 7);
  EXPECT_EQ(D->GetSettingValueStr("вторая"), "x");
  D->SetSettingValue("новая", TValue::Int(8));  // the same setting again
  EXPECT_EQ(D->pt_Count(), 7);
  EXPECT_EQ(D->GetSettingValueInt("Новая"), 8);
  EXPECT_EQ(D->LastResult().ErrorCode, 0);
}

TEST_F(Driver, ReadOnlySettingCannotBeSet) {
  try {
    D->SetSettingValue("lasterrordescription", TValue::Str("x"));
    ADD_FAILURE() << "no failure";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Свойство \"lasterrordescription\" запрещено к изменению.");
  }
  EXPECT_EQ(D->pt_Count(), 5);
}

TEST_F(Driver, ProcessExceptionRecordsCode1001AndOneErrorLine) {
  SetLogLevel(kLogLevelAll);
  D->ProcessException("Нет связи");
  EXPECT_EQ(D->LastResult().ErrorCode, 1001);
  EXPECT_EQ(D->LastResult().ErrorDescription, "Нет связи");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"\tERROR\tException: \tНет связи"});
  EXPECT_NE(LogText().find("============Start log============="), std::string::npos);
}

TEST_F(Driver, TakenSettingNameIsSkippedWithADebugEntry) {
  SetLogLevel(kLogLevelAll);
  TTestDriver other;
  other.Create();
  EXPECT_EQ(other.pt_Count(), 5);
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            "\tDEBUG\tTTestDriver: \tСвойство с указанным именем уже зарегистрировано. "
                            "[ЛогВключен,Duplicate]"});
}

TEST_F(Driver, LogEnabledSwitchesTheLogLevel) {
  EXPECT_FALSE(TCommonDriver::LogEnabled());
  TCommonDriver::SetLogEnabled(true);
  EXPECT_EQ(GetLogLevel(), 3);
  EXPECT_TRUE(TCommonDriver::LogEnabled());
  TCommonDriver::SetLogEnabled(false);
  EXPECT_EQ(GetLogLevel(), 0);
}

TEST_F(Driver, CheckEnabledNeedsAnOpenedDriver) {
  try {
    D->CheckEnabled();
    ADD_FAILURE() << "no failure";
  } catch (const EquException& e) {
    EXPECT_EQ(e.Code, 70);
    EXPECT_STREQ(e.what(), "Устройство не включено");
  }
  D->Open();
  EXPECT_TRUE(D->Enabled());
  EXPECT_NO_THROW(D->CheckEnabled());
  D->Close();
  EXPECT_FALSE(D->Enabled());
}

TEST_F(Driver, DeviceTestOpensReportsAndCloses) {
  UpdateDriverInfoRecord([](TDriverInfo& ARecord) { ARecord.Description = "Описание драйвера"; });
  std::string description = "x", second = "y";
  D->DeviceTest(description, second);
  EXPECT_EQ(description, "Описание драйвера");
  EXPECT_EQ(second, "");
  EXPECT_FALSE(D->Enabled());

  D->SetSettingValue("FailOpen", TValue::Bool(true));
  description = "x";
  try {
    D->DeviceTest(description, second);
    ADD_FAILURE() << "no failure";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Нет связи с весами");
  }
  EXPECT_EQ(description, "Нет связи с весами");
  EXPECT_FALSE(D->Enabled()) << "closed also after a failed open";
}

TEST_F(Driver, PublishedActionsAreFoundIgnoringLetterCase) {
  // Here the module carries no help archive.
  struct TCase {
    const char* Name;
    const char* Message;
  } cases[] = {
      {"SHOWHELP", "File not found: help"},
      {"ShowHelp", "File not found: help"},
      {"Other", "Action not found"},
      {"", "Action not found"},
      {"ViewLog ", "Action not found"},
  };
  for (const TCase& c : cases) EXPECT_EQ(test::FailureOf([&] { D->ExecuteAction(c.Name); }), c.Message) << c.Name;
}

// The action shows the installed log window on the log folder; a program that installed no
// windows has none.
TEST_F(Driver, ViewLogShowsTheInstalledLogWindow) {
  EXPECT_EQ(test::FailureOf([&] { D->ExecuteAction("ViewLog"); }), ui::kMsgNoWindows);
  std::vector<std::string> shown;
  ui::SetLogWindow([&](const std::string& ALogFolder) { shown.push_back(ALogFolder); });
  for (const char* action : {"ViewLog", "viewlog"}) EXPECT_EQ(test::FailureOf([&] { D->ExecuteAction(action); }), "(no error)") << action;
  ui::SetLogWindow(nullptr);
  EXPECT_EQ(shown, std::vector<std::string>(2, GetLogFileName(true)));
}

TEST(EquipmentType, NamesInOrderOfValue) {
  const char* names[] = {"СканерШтрихкода",     "СчитывательМагнитныхКарт", "ФискальныйРегистратор",
                         "ПринтерЧеков",        "ПринтерЭтикеток",          "ДисплейПокупателя",
                         "ТерминалСбораДанных", "ЭквайринговыйТерминал",    "ЭлектронныеВесы",
                         "ВесыСПечатьюЭтикеток", "СчитывательRFID",         "ККТ",
                         "Видеокамера",         "ЭлектронныеЗамки",         "НеизвестныйТипОборудования"};
  for (int i = 0; i < 15; ++i) EXPECT_EQ(GetEquipmentTypeName(static_cast<TEquipmentType>(i)), names[i]);
  EXPECT_EQ(etPrintingScale, 9);
  EXPECT_THROW(
      {
        try {
          GetEquipmentTypeName(static_cast<TEquipmentType>(15));
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "Enum value unacceptable");
          throw;
        }
      },
      std::runtime_error);
}

TEST(DriverInfoRecord, ClearKeepsNameDescriptionAndVersions) {
  TDriverInfo info{"n", "d", etScale, true, true, "1.2.3.4", "5.6.7.8", "u", true, "p"};
  info.Clear();
  EXPECT_EQ(info.EquipmentType, etUnknown);
  EXPECT_FALSE(info.IntegrationComponent);
  EXPECT_FALSE(info.MainDriverInstalled);
  EXPECT_FALSE(info.LogIsEnabled);
  EXPECT_EQ(info.DownloadURL, "");
  EXPECT_EQ(info.Name + info.Description + info.DriverVersion + info.IntegrationComponentVersion + info.LogPath,
            "nd1.2.3.45.6.7.8p");
}

TEST(SettingTypeName, ByKindOfValue) {
  EXPECT_EQ(GetSettingTypeName(TValue::Int(1)), "Number");
  EXPECT_EQ(GetSettingTypeName(TValue::Dbl(1.5)), "Number");
  EXPECT_EQ(GetSettingTypeName(TValue::Curr(15000)), "Number");
  EXPECT_EQ(GetSettingTypeName(TValue::Bool(false)), "Boolean");
  EXPECT_EQ(GetSettingTypeName(TValue::Str("1")), "String");
  EXPECT_EQ(GetSettingTypeName(TValue::Date(1)), "String");
  EXPECT_EQ(GetSettingTypeName(TValue()), "String");
}

// Without a stored settings document the form is built from the settings themselves.
TEST_F(Driver, GeneratedSettingsFormListsTheWritableSettings) {
  D->SetSettingValue("IPPort", TValue::Int(5001));
  D->SetSettingValue("Новая", TValue::Bool(true));
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(D->MakeParametersXml().c_str()));
  pugi::xml_node page = doc.child("Settings").child("Page");
  EXPECT_STREQ(page.attribute("Caption").value(), "Параметры");
  const char* expected[][4] = {{"LogEnabled", "ЛогВключен", "Boolean", "false"},
                               {"IPPort", "IPПорт", "Number", "5001"},
                               {"ExtLogEnabled", "ВестиЛогОбмена", "String", "false"},
                               {"FailOpen", "СбойПодключения", "String", "false"},
                               {"", "Новая", "Boolean", "true"}};
  size_t i = 0;
  for (pugi::xml_node p : page.children()) {
    ASSERT_LT(i, 5u);
    EXPECT_STREQ(p.name(), "Parameter");
    const char* attrs[] = {"Name", "Caption", "TypeValue", "DefaultValue"};
    size_t a = 0;
    for (pugi::xml_attribute attr : p.attributes()) {
      ASSERT_LT(a, 4u);
      EXPECT_STREQ(attr.name(), attrs[a]);
      EXPECT_STREQ(attr.value(), expected[i][a]) << i << " " << attrs[a];
      ++a;
    }
    EXPECT_EQ(a, 4u);
    ++i;
  }
  EXPECT_EQ(i, 5u);
  EXPECT_EQ(D->MakeActionsXml(), "") << "no stored actions document";
}

TEST_F(Driver, DescriptionShowsTheLiveLogState) {
  auto logIsEnabled = [this] {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(D->MakeDescriptionXml().c_str()));
    return std::string(doc.child("DriverDescription").attribute("LogIsEnabled").value());
  };
  EXPECT_EQ(logIsEnabled(), "false");
  TCommonDriver::SetLogEnabled(true);
  EXPECT_EQ(logIsEnabled(), "true");
  EXPECT_FALSE(DriverInfo().LogIsEnabled) << "the record itself is not changed";
}

// A strict reader's verdict on a whole document.
bool WellFormedXml(const std::string& AText) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  bool ok = XML_Parse(parser, AText.data(), static_cast<int>(AText.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

// Whatever the folder, the host or a setting holds, every document stays XML 1.0: characters
// that XML cannot hold are dropped from its texts.
TEST_F(Driver, DocumentsStayWellFormedWhateverTheirTextsHold) {
  const std::string folder = Temp.Str() + "/log\x01\x1f\x7f";
  SetLogFolder(folder);
  D->SetSettingValue("Новая\x02", TValue::Str("a\x01" "b\x0b"));
  D->SetSettingValue("IPAddress", TValue::Str("127.0.0.1\x1b"));
  const std::string description = D->MakeDescriptionXml();
  const std::string parameters = D->MakeParametersXml();
  EXPECT_TRUE(WellFormedXml(description)) << description;
  EXPECT_TRUE(WellFormedXml(parameters)) << parameters;
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(description.c_str()));
  const std::string logPath = doc.child("DriverDescription").attribute("LogPath").value();
  EXPECT_EQ(logPath.substr(0, logPath.size() - 1), Temp.Str() + "/log\x7f") << "the folder with its delimiter";
  ASSERT_TRUE(doc.load_string(parameters.c_str()));
  pugi::xml_node page = doc.child("Settings").child("Page");
  EXPECT_TRUE(page.find_child_by_attribute("Parameter", "Caption", "Новая")) << parameters;
  EXPECT_TRUE(page.find_child_by_attribute("Parameter", "DefaultValue", "ab")) << parameters;
  EXPECT_TRUE(page.find_child_by_attribute("Parameter", "DefaultValue", "127.0.0.1")) << parameters;
}

TEST(ModuleResources, StringTableAndRawDataAreFound) {
  EXPECT_EQ(LoadResourceString(65110), "Справка");
  EXPECT_EQ(LoadResourceString(65111), "Драйвер весов Quendal Arvel:Совместимо NativeAPI");
  EXPECT_EQ(LoadResourceString(65284), "Устройство не включено");
  EXPECT_EQ(LoadResourceString(65285), "");
  EXPECT_EQ(LoadResourceString(0), "");
  for (const char* name : {"TestData", "testdata", "TESTDATA"}) {
    auto data = FindModuleResource(name);
    ASSERT_TRUE(data.has_value()) << name;
    EXPECT_EQ(*data, "sample bytes\n");
  }
  EXPECT_FALSE(FindModuleResource("Parameters").has_value());
  EXPECT_FALSE(FindModuleResource("").has_value());
}

}  // namespace
}  // namespace qd
