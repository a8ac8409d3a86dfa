#include "driver/CommonDriver.h"

#include <pugixml.hpp>

#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "common/log.h"
#include "common/resources.h"
#include "common/text.h"
#include "common/utils.h"
#include "driver/InputReaders.h"
#include "ui/MarkdownRenderer.h"
#include "ui/Windows.h"

namespace qd {

namespace {

struct TDriverInfoStore {
  std::mutex Lock;
  TDriverInfo Record;
};

// Built on first use, so the module's start-up code can fill it whatever the order of static
// objects across files; never destroyed, so that a host that exits while its threads are in
// calls does not pull it from under them.
TDriverInfoStore& InfoStore() {
  static TDriverInfoStore* const store = new TDriverInfoStore;
  return *store;
}

const char* const kEquipmentTypeNames[] = {
    "СканерШтрихкода",     "СчитывательМагнитныхКарт", "ФискальныйРегистратор", "ПринтерЧеков",
    "ПринтерЭтикеток",     "ДисплейПокупателя",        "ТерминалСбораДанных",   "ЭквайринговыйТерминал",
    "ЭлектронныеВесы",     "ВесыСПечатьюЭтикеток",     "СчитывательRFID",       "ККТ",
    "Видеокамера",         "ЭлектронныеЗамки",         "НеизвестныйТипОборудования",
};

const char* BoolText(bool AValue) { return AValue ? "true" : "false"; }

std::string SaveXml(const pugi::xml_document& ADocument) {
  std::ostringstream out;
  ADocument.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

// Adds an attribute whose value holds only what XML 1.0 allows: texts from the host, the
// settings and the file system may carry control characters, which no reader would accept
// even as character references.
void AddAttribute(pugi::xml_node ANode, const char* AName, std::string_view AValue) {
  ANode.append_attribute(AName) = StripInvalidXmlChars(AValue).c_str();
}

pugi::xml_document NewDocument() {
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  return document;
}

// The stored document AName as XML text; nothing when the module carries none.
std::optional<std::string> StoredDocument(const std::string& AName) {
  std::optional<std::string_view> data = FindModuleResource(AName);
  if (!data) return std::nullopt;
  pugi::xml_document document;
  pugi::xml_parse_result result =
      document.load_buffer(data->data(), data->size(), pugi::parse_default | pugi::parse_declaration,
                           pugi::encoding_auto);
  if (!result)
    throw std::runtime_error(std::string(result.description()) + " (offset " + std::to_string(result.offset) + ")");
  return SaveXml(document);
}

}  // namespace

TDriverInfo DriverInfo() {
  TDriverInfoStore& store = InfoStore();
  std::lock_guard<std::mutex> guard(store.Lock);
  return store.Record;
}

void UpdateDriverInfoRecord(const std::function<void(TDriverInfo&)>& AChange) {
  TDriverInfoStore& store = InfoStore();
  std::lock_guard<std::mutex> guard(store.Lock);
  TDriverInfo record = store.Record;
  AChange(record);
  store.Record = std::move(record);
}

std::string GetEquipmentTypeName(TEquipmentType AType) {
  if (static_cast<unsigned>(AType) > static_cast<unsigned>(etUnknown))
    throw std::runtime_error("Enum value unacceptable");
  return kEquipmentTypeNames[AType];
}

std::string GetSettingTypeName(const TValue& AValue) {
  switch (AValue.Kind()) {
    case TValueKind::Integer:
    case TValueKind::Double:
    case TValueKind::Currency: return "Number";
    case TValueKind::Boolean: return "Boolean";
    default: return "String";
  }
}

// ---- construction ----

TCommonDriver::~TCommonDriver() {
  try {
    TCommonDriver::Close();
  } catch (...) {
  }
}

void TCommonDriver::Create() {
  TCustomDriver::Create();
  UpdateDriverInfoRecord([this](TDriverInfo& ARecord) { UpdateDriverInfo(ARecord); });
  RegisterMethods();
  RegisterSettings();
}

void TCommonDriver::FillDriverInfo(const std::string& AName, const std::string& ADescription) {
  SetLogFileBaseName(AName);
  // The start banner comes with the first line the log writes; at library load it is off.
  UpdateDriverInfoRecord([&](TDriverInfo& ARecord) {
    ARecord.Name = AName;
    ARecord.Description = ADescription;
  });
}

void TCommonDriver::ClassUpdateDriverInfo(TDriverInfo& ADriverInfo) {
  ADriverInfo.Clear();
  ADriverInfo.DownloadURL = kDownloadURL;
  ADriverInfo.DriverVersion = GetModuleVersionText();
  ADriverInfo.IntegrationComponentVersion = ADriverInfo.DriverVersion;
  ADriverInfo.LogIsEnabled = false;
}

void TCommonDriver::pt_Add(const std::string& APropertyName1, const std::string& APropertyName2, bool AIsReadonly,
                           const TValue& AValue) {
  try {
    TCustomDriver::pt_Add(APropertyName1, APropertyName2, AIsReadonly, AValue);
  } catch (const std::exception& e) {
    WriteLog(DriverClassName(), e.what(), kLogDebug);
  }
}

// ---- host methods ----

TValue& TCommonDriver::Arg(VarArrayData& AParams, size_t AIndex) {
  if (AIndex >= AParams.size())
    throw std::runtime_error("Не передан параметр " + std::to_string(AIndex + 1) + " метода");
  return AParams[AIndex];
}

TObjectMethod TCommonDriver::Guarded(std::function<void(VarArrayData&)> ABody) {
  return [this, body = std::move(ABody)](VarArrayData& AParams) -> TValue {
    std::string message;
    try {
      body(AParams);
      return TValue::Bool(true);
    } catch (const std::exception& e) {
      message = e.what();
    } catch (...) {
      message = "Unknown error";
    }
    ProcessException(message);
    return TValue::Bool(false);
  };
}

void TCommonDriver::RegisterMethods() {
  mt_Add("ПолучитьРевизиюИнтерфейса", "GetInterfaceRevision", 0,
         [this](VarArrayData&) { return GetInterfaceRevision(); });
  mt_Add("ПолучитьОписание", "GetDescription", 1,
         Guarded([this](VarArrayData& a) {
           Arg(a, 0);
           std::string text = MakeDescriptionXml();
           a[0] = TValue::Str(std::move(text));
         }));
  mt_Add("ПолучитьОшибку", "GetLastError", 1, [this](VarArrayData& a) {
    if (!a.empty()) a[0] = TValue::Str(FLastResult.ErrorDescription);
    return TValue::Int(FLastResult.ErrorCode);
  });
  mt_Add("Подключить", "Open", 1, Guarded([this](VarArrayData&) { Open(); }));
  mt_Add("Отключить", "Close", 1, Guarded([this](VarArrayData&) { Close(); }));
  mt_Add("ПолучитьПараметры", "GetParameters", 1,
         Guarded([this](VarArrayData& a) {
           Arg(a, 0);
           std::string text = MakeParametersXml();
           a[0] = TValue::Str(std::move(text));
         }));
  mt_Add("УстановитьПараметр", "SetParameter", 2, Guarded([this](VarArrayData& a) {
           std::string name = VariantToStr(Arg(a, 0));
           SetSettingValue(name, Arg(a, 1));
         }));
  mt_Add("ТестУстройства", "DeviceTest", 2, Guarded([this](VarArrayData& a) {
           Arg(a, 1);
           std::string description, second;
           DeviceTest(description, second);
           a[0] = TValue::Str(std::move(description));
           a[1] = TValue::Str(std::move(second));
         }));
  mt_Add("ПолучитьДополнительныеДействия", "GetAdditionalActions", 1,
         Guarded([this](VarArrayData& a) {
           Arg(a, 0);
           std::string text = MakeActionsXml();
           a[0] = TValue::Str(std::move(text));
         }));
  mt_Add("ВыполнитьДополнительноеДействие", "DoAdditionalAction", 1,
         Guarded([this](VarArrayData& a) { ExecuteAction(VariantToStr(Arg(a, 0))); }));
}

void TCommonDriver::RegisterSettings() { pt_Add("ЛогВключен", "LogEnabled", false, TValue::Bool(false)); }

TValue TCommonDriver::GetInterfaceRevision() { return TValue::Int(kInterfaceRevision); }

void TCommonDriver::Open() { FEnabled = true; }

void TCommonDriver::Close() { FEnabled = false; }

void TCommonDriver::DeviceTest(std::string& ADescription, std::string& ADemoModeIsActivated) {
  ADescription.clear();
  ADemoModeIsActivated.clear();
  bool failed = false;
  std::string failure;
  try {
    Open();
    ADescription = DriverInfo().Description;
  } catch (const std::exception& e) {
    failed = true;
    failure = e.what();
  }
  try {
    Close();
  } catch (const std::exception& e) {
    if (!failed) failure = e.what();
    failed = true;
  }
  if (failed) {
    ADescription = failure;
    throw std::runtime_error(failure);
  }
}

void TCommonDriver::CheckEnabled() const {
  if (!FEnabled) throw EquException(kErrDeviceNotEnabled, LoadResourceString(kStrDeviceNotEnabled));
}

bool TCommonDriver::LogEnabled() { return GetLogLevel() > kLogLevelOff; }

void TCommonDriver::SetLogEnabled(bool AValue) { SetLogLevel(AValue ? kLogLevelAll : kLogLevelOff); }

// ---- additional actions ----

std::vector<TCommonDriver::TPublishedAction> TCommonDriver::PublishedActions() {
  return {{"ViewLog", [this] { ViewLog(); }}, {"ShowHelp", [this] { ShowHelp(); }}};
}

void TCommonDriver::ExecuteAction(const std::string& AName) {
  for (const TPublishedAction& action : PublishedActions())
    if (SameText(AName, action.Name)) {
      action.Run();
      return;
    }
  throw std::runtime_error("Action not found");
}

void TCommonDriver::ViewLog() { ui::ShowLogWindow(GetLogFileName(true)); }

// The help archive is the module's raw-data item "help".
void TCommonDriver::ShowHelp() { ui::TMarkdownRenderer::Render("help", LoadResourceString(kStrHelpCaption)); }

// ---- documents ----

std::string TCommonDriver::MakeDescriptionXml() {
  pugi::xml_document document = NewDocument();
  pugi::xml_node root = document.append_child("DriverDescription");
  const TDriverInfo info = DriverInfo();
  AddAttribute(root, "Name", info.Name);
  AddAttribute(root, "Description", info.Description);
  AddAttribute(root, "EquipmentType", GetEquipmentTypeName(info.EquipmentType));
  AddAttribute(root, "IntegrationComponent", BoolText(info.IntegrationComponent));
  AddAttribute(root, "MainDriverInstalled", BoolText(info.MainDriverInstalled));
  AddAttribute(root, "DriverVersion", info.DriverVersion);
  AddAttribute(root, "IntegrationComponentVersion", info.IntegrationComponentVersion);
  AddAttribute(root, "DownloadURL", info.DownloadURL);
  AddAttribute(root, "LogIsEnabled", BoolText(LogEnabled()));
  AddAttribute(root, "LogPath", GetLogFileName(true));
  return SaveXml(document);
}

std::string TCommonDriver::MakeParametersXml() {
  if (std::optional<std::string> stored = StoredDocument("Parameters")) return *stored;
  pugi::xml_document document = NewDocument();
  pugi::xml_node page = document.append_child("Settings").append_child("Page");
  AddAttribute(page, "Caption", "Параметры");
  for (const TProperty& setting : _pl) {
    if (setting.isReadonly) continue;
    pugi::xml_node parameter = page.append_child("Parameter");
    AddAttribute(parameter, "Name", setting.PropertyName2);
    AddAttribute(parameter, "Caption", setting.PropertyName1);
    AddAttribute(parameter, "TypeValue", GetSettingTypeName(setting.Value));
    std::string value = setting.Value.Kind() == TValueKind::Boolean ? BoolText(setting.Value.AsBool())
                                                                    : setting.Value.ToText();
    AddAttribute(parameter, "DefaultValue", value);
  }
  return SaveXml(document);
}

std::string TCommonDriver::MakeActionsXml() { return StoredDocument("Actions").value_or(std::string()); }

}  // namespace qd
