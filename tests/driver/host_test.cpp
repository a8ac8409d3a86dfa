// The standard driver methods and documents through the real exports of a module, as the host
// calls them.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    ::testing::AddGlobalTestEnvironment(new test::TModuleEnvironment({"qd_testdriver", "qd_testdriver_bare"}));

std::filesystem::path LogDir() { return test::TModuleEnvironment::LogDir(); }

class HostDriver : public ::testing::Test {
 protected:
  void SetUp() override { C = std::make_unique<TComponent>(test::TModuleEnvironment::Module(0), "TestDriver"); }
  void TearDown() override {
    C->Destroy();
    EXPECT_TRUE(C->Memory.Faults().empty());
    EXPECT_EQ(C->Memory.LiveBlocks(), 0u);
  }
  TCallResult Call(const std::string& AName, std::vector<THostValue> AArgs = {}) { return C->Call(AName, AArgs); }
  // The document a method hands back in argument 1.
  void Document(const std::string& AMethod, pugi::xml_document& ADoc) {
    TCallResult r = Call(AMethod, {THostValue::Empty()});
    ASSERT_TRUE(r.Returned);
    ASSERT_EQ(r.Result, THostValue::Bool(true));
    ASSERT_EQ(r.Args[0].vt, abi::VTYPE_PWSTR);
    pugi::xml_parse_result parsed = ADoc.load_string(r.Args[0].text.c_str(), pugi::parse_default | pugi::parse_declaration);
    ASSERT_TRUE(parsed) << parsed.description() << "\n" << r.Args[0].text;
    pugi::xml_node declaration = ADoc.first_child();
    ASSERT_EQ(declaration.type(), pugi::node_declaration);
    EXPECT_STREQ(declaration.attribute("version").value(), "1.0");
  }
  void ExpectLastError(int32_t ACode, const std::string& AText) {
    TCallResult r = Call("GetLastError", {THostValue::Empty()});
    EXPECT_EQ(r.Result, THostValue::Int(ACode));
    EXPECT_EQ(r.Args[0], THostValue::Text(AText));
  }
  std::unique_ptr<TComponent> C;
};

using TAttrs = std::vector<std::pair<std::string, std::string>>;
TAttrs Attributes(pugi::xml_node ANode) {
  TAttrs attrs;
  for (pugi::xml_attribute a : ANode.attributes()) attrs.emplace_back(a.name(), a.value());
  return attrs;
}

TEST_F(HostDriver, StandardMethodsInOrderUnderBothNames) {
  const struct {
    const char* Ru;
    const char* En;
    int Args;
  } methods[] = {{"ПолучитьРевизиюИнтерфейса", "GetInterfaceRevision", 0},
                 {"ПолучитьОписание", "GetDescription", 1},
                 {"ПолучитьОшибку", "GetLastError", 1},
                 {"Подключить", "Open", 1},
                 {"Отключить", "Close", 1},
                 {"ПолучитьПараметры", "GetParameters", 1},
                 {"УстановитьПараметр", "SetParameter", 2},
                 {"ТестУстройства", "DeviceTest", 2},
                 {"ПолучитьДополнительныеДействия", "GetAdditionalActions", 1},
                 {"ВыполнитьДополнительноеДействие", "DoAdditionalAction", 1}};
  ASSERT_GE(C->GetNMethods(), 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(C->GetMethodName(i, 0), methods[i].Ru);
    EXPECT_EQ(C->GetMethodName(i, 1), methods[i].En);
    EXPECT_EQ(C->GetNParams(i), methods[i].Args);
    EXPECT_TRUE(C->HasRetVal(i));
  }
  EXPECT_EQ(C->FindMethod("getdescription"), 1);
  EXPECT_EQ(C->FindMethod("ПОЛУЧИТЬОПИСАНИЕ"), 1);
  // The settings: the built-in property, "LogEnabled", then the driver's own.
  EXPECT_EQ(C->GetPropName(1, 0), "ЛогВключен");
  EXPECT_EQ(C->GetPropName(1, 1), "LogEnabled");
  THostValue v;
  ASSERT_TRUE(C->GetPropValue(1, v));
  EXPECT_EQ(v, THostValue::Bool(false));
}

TEST_F(HostDriver, RevisionAndTheLastErrorOfANewObject) {
  TCallResult r = Call("GetInterfaceRevision");
  EXPECT_TRUE(r.Returned);
  EXPECT_EQ(r.Result, THostValue::Int(3002));
  ExpectLastError(0, "");
}

TEST_F(HostDriver, DescriptionDocument) {
  pugi::xml_document doc;
  ASSERT_NO_FATAL_FAILURE(Document("GetDescription", doc));
  pugi::xml_node root = doc.child("DriverDescription");
  ASSERT_TRUE(root);
  EXPECT_FALSE(root.first_child());
  TAttrs attrs = Attributes(root);
  ASSERT_EQ(attrs.size(), 10u);
  const char* names[] = {"Name",          "Description",   "EquipmentType", "IntegrationComponent",
                         "MainDriverInstalled", "DriverVersion", "IntegrationComponentVersion",
                         "DownloadURL",  "LogIsEnabled",  "LogPath"};
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(attrs[i].first, names[i]);
  EXPECT_EQ(attrs[0].second, "w_quendal7v2k");
  EXPECT_EQ(attrs[1].second, "Драйвер весов Quendal Arvel:Совместимо NativeAPI");
  EXPECT_EQ(attrs[2].second, "ВесыСПечатьюЭтикеток");
  EXPECT_EQ(attrs[3].second, "false");
  EXPECT_EQ(attrs[4].second, "false");
  EXPECT_EQ(attrs[5].second, "1.0.0.0");
  EXPECT_EQ(attrs[6].second, attrs[5].second);
  EXPECT_EQ(attrs[7].second.rfind("https://", 0), 0u);
  EXPECT_EQ(attrs[8].second, "false");
  std::string path = attrs[9].second;
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(path.back() == '/' || path.back() == '\\') << path;
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::u8path(path.substr(0, path.size() - 1)), LogDir())) << path;
}

TEST_F(HostDriver, SettingsDocumentIsTheStoredOne) {
  // Values set by the host and added settings do not change it.
  EXPECT_EQ(Call("SetParameter", {THostValue::Text("IPPort"), THostValue::Int(5001)}).Result, THostValue::Bool(true));
  EXPECT_EQ(Call("SetParameter", {THostValue::Text("Добавленная"), THostValue::Int(1)}).Result, THostValue::Bool(true));
  pugi::xml_document doc;
  ASSERT_NO_FATAL_FAILURE(Document("GetParameters", doc));
  const std::vector<std::pair<std::string, std::string>> fonts = {
      {"0", "S1"}, {"1", "S2"}, {"2", "S3"}, {"3", "S4"}, {"4", "S5"},
      {"5", "M1"}, {"6", "M2"}, {"7", "M3"}, {"8", "M4"}, {"9", "M5"}};
  const std::vector<std::pair<std::string, std::string>> formats = {
      {"17", "11"}, {"18", "12"}, {"19", "13"}, {"20", "14"}, {"21", "15"}, {"22", "16"}, {"23", "17"}, {"24", "18"}};
  const std::vector<std::pair<std::string, std::string>> none;
  struct TParam {
    std::string Page, Group, Name, Caption, Type, Default;
    const std::vector<std::pair<std::string, std::string>>* Choices;
  };
  const std::string p1 = "Параметры подключения", p2 = "Основные параметры";
  const std::vector<TParam> expected = {
      {p1, "LAN", "IPAddress", "IP-адрес", "String", "", &none},
      {p1, "LAN", "IPPort", "IP-порт", "Number", "0", &none},
      {p2, "Основные", "CommodityFont", "Шрифт товара", "Number", "6", &fonts},
      {p2, "Основные", "IngredientFont", "Шрифт ингридиентов", "Number", "1", &fonts},
      {p2, "Основные", "SpecMessageFont", "Шрифт сообщений", "Number", "1", &fonts},
      {p2, "Основные", "CompanyFont", "Шрифт названия магазина", "Number", "0", &fonts},
      {p2, "Основные", "LabelFormatNumber", "Номер формата этикетки", "Number", "17", &formats},
      {p2, "Основные", "LogEnabled", "Вести лог", "Boolean", "false", &none},
      {p2, "Основные", "ExtLogEnabled", "Расширить лог командами протокола обмена", "Boolean", "false", &none},
  };
  std::vector<TParam> found;
  pugi::xml_node settings = doc.child("Settings");
  ASSERT_TRUE(settings);
  size_t pages = 0;
  for (pugi::xml_node page : settings.children()) {
    ++pages;
    ASSERT_STREQ(page.name(), "Page");
    ASSERT_EQ(Attributes(page), (TAttrs{{"Caption", page.attribute("Caption").value()}}));
    ASSERT_EQ(std::distance(page.children().begin(), page.children().end()), 1) << "one group per page";
    pugi::xml_node group = page.first_child();
    ASSERT_STREQ(group.name(), "Group");
    ASSERT_EQ(Attributes(group).size(), 1u);
    for (pugi::xml_node p : group.children()) {
      ASSERT_STREQ(p.name(), "Parameter");
      TAttrs attrs = Attributes(p);
      ASSERT_EQ(attrs.size(), 4u);
      ASSERT_EQ(attrs[0].first + attrs[1].first + attrs[2].first + attrs[3].first, "NameCaptionTypeValueDefaultValue");
      auto* choices = new std::vector<std::pair<std::string, std::string>>();
      std::unique_ptr<std::vector<std::pair<std::string, std::string>>> own(choices);
      size_t lists = 0;
      for (pugi::xml_node list : p.children()) {
        ++lists;
        ASSERT_STREQ(list.name(), "ChoiceList");
        for (pugi::xml_node item : list.children()) {
          ASSERT_STREQ(item.name(), "Item");
          ASSERT_EQ(Attributes(item).size(), 1u);
          choices->emplace_back(item.attribute("Value").value(), item.text().get());
        }
      }
      ASSERT_LE(lists, 1u);
      TParam got{page.attribute("Caption").value(), group.attribute("Caption").value(), attrs[0].second,
                 attrs[1].second, attrs[2].second, attrs[3].second, nullptr};
      size_t i = found.size();
      found.push_back(got);
      ASSERT_LT(i, expected.size());
      const TParam& e = expected[i];
      EXPECT_EQ(got.Page, e.Page) << e.Name;
      EXPECT_EQ(got.Group, e.Group) << e.Name;
      EXPECT_EQ(got.Name, e.Name);
      EXPECT_EQ(got.Caption, e.Caption) << e.Name;
      EXPECT_EQ(got.Type, e.Type) << e.Name;
      EXPECT_EQ(got.Default, e.Default) << e.Name;
      EXPECT_EQ(*choices, *e.Choices) << e.Name;
    }
  }
  EXPECT_EQ(pages, 2u);
  EXPECT_EQ(found.size(), expected.size());
}

TEST_F(HostDriver, ActionsDocument) {
  pugi::xml_document doc;
  ASSERT_NO_FATAL_FAILURE(Document("GetAdditionalActions", doc));
  pugi::xml_node root = doc.child("Actions");
  ASSERT_TRUE(root);
  ASSERT_EQ(std::distance(root.children().begin(), root.children().end()), 1);
  EXPECT_STREQ(root.first_child().name(), "Action");
  EXPECT_EQ(Attributes(root.first_child()), (TAttrs{{"Name", "ViewLog"}, {"Caption", "Просмотр лога"}}));
}

TEST_F(HostDriver, SetParameter) {
  TCallResult r = Call("SetParameter", {THostValue::Text("LastErrorDescription"), THostValue::Text("x")});
  EXPECT_EQ(r.Result, THostValue::Bool(false));
  ExpectLastError(1001, "Свойство \"LastErrorDescription\" запрещено к изменению.");
  // An unknown name is added and kept.
  r = Call("УстановитьПараметр", {THostValue::Text("НоваяНастройка"), THostValue::Int(7)});
  EXPECT_EQ(r.Result, THostValue::Bool(true));
  int64_t index = C->FindProp("новаянастройка");
  ASSERT_EQ(index, 5);
  EXPECT_EQ(C->GetPropName(index, 1), "");
  THostValue v;
  C->GetPropValue(index, v);
  EXPECT_EQ(v, THostValue::Int(7));
  // The earlier failure stays the last error.
  ExpectLastError(1001, "Свойство \"LastErrorDescription\" запрещено к изменению.");
  EXPECT_EQ(C->LastErrorDescription(), "");
}

TEST_F(HostDriver, OpenCloseAndTheDeviceCheck) {
  EXPECT_EQ(Call("Close", {THostValue::Empty()}).Result, THostValue::Bool(true));
  TCallResult r = Call("ClearGoods", {THostValue::Empty()});
  EXPECT_EQ(r.Result, THostValue::Bool(false));
  ExpectLastError(1001, "Устройство не включено");
  r = Call("Open", {THostValue::Text("не трогать")});
  EXPECT_EQ(r.Result, THostValue::Bool(true));
  EXPECT_EQ(r.Args[0], THostValue::Text("не трогать"));
  EXPECT_EQ(Call("ClearGoods", {THostValue::Empty()}).Result, THostValue::Bool(true));
  EXPECT_EQ(Call("Close", {THostValue::Empty()}).Result, THostValue::Bool(true));
  EXPECT_EQ(Call("ClearGoods", {THostValue::Empty()}).Result, THostValue::Bool(false));
}

TEST_F(HostDriver, DeviceTest) {
  TCallResult r = Call("DeviceTest", {THostValue::Empty(), THostValue::Int(5)});
  EXPECT_EQ(r.Result, THostValue::Bool(true));
  EXPECT_EQ(r.Args[0], THostValue::Text("Драйвер весов Quendal Arvel:Совместимо NativeAPI"));
  EXPECT_EQ(r.Args[1], THostValue::Text(""));
  // A failed test leaves the arguments as the host passed them.
  Call("SetParameter", {THostValue::Text("FailOpen"), THostValue::Text("true")});
  r = Call("DeviceTest", {THostValue::Text("a"), THostValue::Text("b")});
  EXPECT_EQ(r.Result, THostValue::Bool(false));
  EXPECT_EQ(r.Args[0], THostValue::Text("a"));
  EXPECT_EQ(r.Args[1], THostValue::Text("b"));
  ExpectLastError(1001, "Нет связи с весами");
  EXPECT_EQ(Call("ClearGoods", {THostValue::Empty()}).Result, THostValue::Bool(false)) << "closed again";
}

TEST_F(HostDriver, AdditionalActions) {
  // The test module carries no help archive; the help action says so.
  const struct {
    const char* Name;
    const char* Message;
  } cases[] = {{"SHOWHELP", "File not found: help"}, {"Print", "Action not found"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Call("DoAdditionalAction", {THostValue::Text(c.Name)}).Result, THostValue::Bool(false)) << c.Name;
    ExpectLastError(1001, c.Message);
  }
}

#if !defined(_WIN32)
TEST_F(HostDriver, LogViewerWithoutADisplayFailsWithAMessage) {
  const char* display = std::getenv("DISPLAY");
  std::string kept = display ? display : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  TCallResult r = Call("DoAdditionalAction", {THostValue::Text("viewlog")});
  if (!kept.empty()) test::SetEnvVar("DISPLAY", kept);
  EXPECT_EQ(r.Result, THostValue::Bool(false));
  ExpectLastError(1001, "Окно не может быть показано: графический экран недоступен");
}
#endif

// Lines of today's log files, without the time stamps.
std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (const auto& entry : std::filesystem::directory_iterator(LogDir())) {
    std::string text = test::ReadAll(entry.path());
    for (size_t pos = 0; pos < text.size();) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      // "yyyy.mm.dd hh:nn:ss.zzz" is 23 characters.
      if (line.size() > 23 && line[4] == '.' && line[10] == ' ') lines.push_back(line.substr(23));
      pos = end + 2;
    }
  }
  return lines;
}

TEST_F(HostDriver, LogLinesOfCallsAndFailures) {
  // Open switches the log from the setting (the test driver's Open does what the scale's does).
  Call("SetParameter", {THostValue::Text("LogEnabled"), THostValue::Bool(true)});
  Call("Open", {THostValue::Empty()});
  size_t before = LogLines().size();
  Call("GetInterfaceRevision");
  Call("DoAdditionalAction", {THostValue::Text("Print")});
  pugi::xml_document doc;
  ASSERT_NO_FATAL_FAILURE(Document("GetDescription", doc));
  EXPECT_STREQ(doc.child("DriverDescription").attribute("LogIsEnabled").value(), "true");
  Call("SetParameter", {THostValue::Text("LogEnabled"), THostValue::Bool(false)});
  Call("Open", {THostValue::Empty()});  // switches the log off
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), before + 7);
  std::vector<std::string> calls(lines.begin() + static_cast<long>(before), lines.begin() + static_cast<long>(before) + 6);
  EXPECT_EQ(calls, (std::vector<std::string>{"\tDEBUG\t> GetInterfaceRevision: \tParams: []",
                                             "\tDEBUG\t< GetInterfaceRevision: \t; Params: []",
                                             "\tDEBUG\t> DoAdditionalAction: \tParams: [Print]",
                                             "\tERROR\tException: \tAction not found",
                                             "\tDEBUG\t< DoAdditionalAction: \tResult=False; Params: [Print]",
                                             "\tDEBUG\t> GetDescription: \tParams: []"}));
  EXPECT_EQ(lines[before + 6].rfind("\tDEBUG\t< GetDescription: \tResult=True; Params: [<?xml", 0), 0u)
      << lines[before + 6];
}

// A module under a path longer than the classic 260-character limit still knows its own file
// name and version: the description and the log's start banner show them.
TEST(LongPath, ModuleKnowsItsFileNameAndVersion) {
  namespace fs = std::filesystem;
  test::TTempDir temp;
#if defined(_WIN32)
  const std::string prefix = "\\\\?\\";  // the system's form for paths of any length
  const std::string fileName = "long_path_driver.dll";
#else
  const std::string prefix;
  const std::string fileName = "long_path_driver.so";
#endif
  fs::path folder = temp.Path();
  while (folder.string().size() < 300) folder /= std::string(50, 'd');
  fs::create_directories(prefix + folder.string());
  const std::string file = prefix + (folder / fileName).string();
  fs::copy_file(test::ModuleFile("qd_testdriver"), file);
  {
    TModule module(file);
    TComponent c(module, "TestDriver");
    c.Call("SetParameter", {THostValue::Text("LogEnabled"), THostValue::Bool(true)});
    c.Call("Open", {THostValue::Empty()});
    TCallResult r = c.Call("GetDescription", {THostValue::Empty()});
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(r.Args[0].text.c_str()));
    EXPECT_STREQ(doc.child("DriverDescription").attribute("DriverVersion").value(), "1.0.0.0");
    c.Call("SetParameter", {THostValue::Text("LogEnabled"), THostValue::Bool(false)});
    c.Call("Open", {THostValue::Empty()});
    c.Destroy();
  }
  bool found = false;
  for (const fs::directory_entry& e : fs::directory_iterator(LogDir()))
    found = found || test::ReadAll(e.path()).find("Application:\t" + fileName + "\r\n") != std::string::npos;
  EXPECT_TRUE(found) << "a start banner naming " << fileName;
  std::error_code ec;
  fs::remove_all(prefix + temp.Path().string(), ec);
}

// Without stored documents the settings form is generated and there are no actions.
TEST(BareModule, GeneratedSettingsFormAndNoActions) {
  TComponent c(test::TModuleEnvironment::Module(1), "TestDriver");
  EXPECT_EQ(c.Call("SetParameter", {THostValue::Text("Новая"), THostValue::Int(7)}).Result, THostValue::Bool(true));
  TCallResult r = c.Call("GetParameters", {THostValue::Empty()});
  ASSERT_EQ(r.Result, THostValue::Bool(true));
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(r.Args[0].text.c_str()));
  pugi::xml_node page = doc.child("Settings").child("Page");
  EXPECT_EQ(Attributes(page), (TAttrs{{"Caption", "Параметры"}}));
  std::vector<TAttrs> params;
  for (pugi::xml_node p : page.children()) params.push_back(Attributes(p));
  auto param = [](const char* n, const char* c, const char* t, const char* d) {
    return TAttrs{{"Name", n}, {"Caption", c}, {"TypeValue", t}, {"DefaultValue", d}};
  };
  EXPECT_EQ(params, (std::vector<TAttrs>{param("LogEnabled", "ЛогВключен", "Boolean", "false"),
                                         param("IPPort", "IPПорт", "String", "0"),
                                         param("ExtLogEnabled", "ВестиЛогОбмена", "String", "false"),
                                         param("FailOpen", "СбойПодключения", "String", "false"),
                                         param("", "Новая", "Number", "7")}));
  r = c.Call("GetAdditionalActions", {THostValue::Text("x")});
  EXPECT_EQ(r.Result, THostValue::Bool(true));
  EXPECT_EQ(r.Args[0], THostValue::Text(""));
  c.Destroy();
  EXPECT_EQ(c.Memory.LiveBlocks(), 0u);
}

}  // namespace
}  // namespace qd
