// Test module: component classes that exercise every path of the framework through the
// real exports.
#include <stdexcept>

#include "cf/registry.h"
#include "common/log.h"
#include "module/lifetime.h"

namespace qd {
namespace {

class TTestComponent : public TExtNativeComponent {
 public:
  static std::string ClassName() { return "TestComponent"; }
  std::string NCClassName() const override { return ClassName(); }

  void Create() override {
    TExtNativeComponent::Create();
    pt_Add("Настройка", "Setting", false, TValue::Str("начало"));
    mt_Add("ПолучитьОписание", "GetDescription", 0, [](VarArrayData&) { return TValue::Str("Описание"); });
    mt_Add("Подключить", "Open", 1, [](VarArrayData& a) -> TValue {
      throw std::runtime_error(a.empty() ? std::string("нет") : a[0].AsString());
    });
    mt_Add("ВернутьИстину", "ReturnTrue", 0, [](VarArrayData&) { return TValue::Bool(true); });
    mt_Add("ВернутьТри", "ReturnThree", 0, [](VarArrayData&) { return TValue::Int(3); });
    mt_Add("Эхо", "Echo", 1, [](VarArrayData& a) { return a.empty() ? TValue() : a[0]; });
    mt_Add("ЗаменитьВторой", "ReplaceSecond", 2, [](VarArrayData& a) {
      if (a.size() > 1) a[1] = TValue::Str("замена");
      return TValue::Bool(true);
    });
    mt_Add("БезОбработчика", "NoHandler", 0, nullptr);
    mt_Add("Массив", "IntArray", 0, [](VarArrayData&) { return TValue::Arr({TValue::Int(1), TValue::Int(2)}); });
    mt_Add("Дубликат", "AddDuplicate", 0, [this](VarArrayData&) {
      mt_Add("Другой", "getdescription", 0, nullptr);
      return TValue::Bool(true);
    });
    mt_Add("УровеньЛога", "SetLogLevel", 1, [](VarArrayData& a) {
      SetLogLevel(static_cast<uint8_t>(a.at(0).AsInt()));
      return TValue::Bool(true);
    });
    mt_Add("Событие", "RaiseEvent", 0, [this](VarArrayData&) {
      ExternalEvent("Источник", "Сообщение", "Данные");
      ExternalEvent("src", "msg", "data");
      return TValue::Bool(true);
    });
    mt_Add("Статус", "Status", 1, [this](VarArrayData& a) {
      if (a.at(0).AsString().empty())
        ResetStatusLine();
      else
        SetStatusLine(a.at(0).AsString());
      return TValue::Bool(true);
    });
    mt_Add("ГлубинаБуфера", "BufferDepth", 0, [this](VarArrayData&) {
      SetEventBufferDepth(7);
      return TValue::Int(GetEventBufferDepth());
    });
    mt_Add("Спросить", "Ask", 0, [this](VarArrayData&) { return TValue::Bool(Confirm("Продолжить?")); });
    mt_Add("Сообщить", "Tell", 0, [this](VarArrayData&) {
      Alert("Внимание");
      return TValue::Bool(true);
    });
    mt_Add("Платформа", "Platform", 0, [this](VarArrayData&) {
      RPlatformInfo info = PlatformInfo();
      return TValue::Str(info.AppVersion + "|" + info.UserAgentInformation + "|" + std::to_string(info.Application));
    });
    mt_Add("Профиль", "Profile", 2, [this](VarArrayData& a) {
      RegisterProfileAs("Весы");
      abi::tVariant value{};
      value.vt = abi::VTYPE_EMPTY;
      Write(a.at(0).AsString(), &value);
      abi::host_long code = -1;
      std::string description;
      abi::tVariant read{};
      Read(a.at(0).AsString(), &read, &code, description);
      a[1] = TValue::Int(code);
      return TValue::Bool(true);
    });
    mt_Add("ДатаВремя", "DateTime", 0, [](VarArrayData&) { return TValue::Date(45356.5); });
  }
};

class TSecondComponent : public TExtNativeComponent {
 public:
  static std::string ClassName() { return "SecondComponent"; }
  std::string NCClassName() const override { return ClassName(); }
};

}  // namespace

void RegisterModuleClasses() {
  RegisterNativeComponent(NativeComponentClass<TTestComponent>());
  RegisterNativeComponent(NativeComponentClass<TSecondComponent>());
}

}  // namespace qd
