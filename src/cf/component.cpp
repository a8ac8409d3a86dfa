#include "cf/component.h"

#include <atomic>
#include <cstring>
#include <stdexcept>

#include "cf/convert.h"
#include "common/log.h"
#include "common/text.h"
#include "common/utils.h"

namespace qd {

using abi::host_long;
using abi::tVariant;
using abi::WCHAR_T;

namespace {

std::string Quoted(const std::string& AName) { return "\"" + AName + "\""; }

[[noreturn]] void ThrowIndex(int64_t AIndex) {
  throw std::runtime_error("Индекс за границами массива [" + std::to_string(AIndex) + "]");
}

}  // namespace

void TCustomNativeComponent::Create() {
  _mt.clear();
  pt_Add(kLastErrorPropRu, kLastErrorPropEn, true, TValue::Str(std::string()));
}

std::string TCustomNativeComponent::GetFileVersion() { return GetModuleVersionText(); }

// ---- method table ----

void TCustomNativeComponent::mt_Add(const std::string& AMethodName1, const std::string& AMethodName2,
                                    int32_t AParamsCount, TObjectMethod AMt) {
  if (mt_Find(AMethodName1) >= 0 || mt_Find(AMethodName2) >= 0)
    throw std::runtime_error("Метод с указанным именем уже зарегистрирован. [" + AMethodName1 + "," + AMethodName2 +
                             "]");
  _mt.push_back(TMethod{AMethodName1, AMethodName2, AParamsCount, std::move(AMt)});
}

int TCustomNativeComponent::mt_Find(const std::string& AMethodName) const {
  // An empty name names nothing, also not an entry whose second name is empty.
  if (AMethodName.empty()) return -1;
  for (size_t i = 0; i < _mt.size(); ++i)
    if (SameText(AMethodName, _mt[i].MethodName1) || SameText(AMethodName, _mt[i].MethodName2))
      return static_cast<int>(i);
  return -1;
}

TMethod TCustomNativeComponent::mt_Get(int64_t AIndex) const {
  if (AIndex < 0 || AIndex >= static_cast<int64_t>(_mt.size())) ThrowIndex(AIndex);
  return _mt[static_cast<size_t>(AIndex)];
}

TValue TCustomNativeComponent::mt_Call(int64_t AIndex, VarArrayData& AParams) {
  if (AIndex < 0 || AIndex >= static_cast<int64_t>(_mt.size())) ThrowIndex(AIndex);
  // A copy keeps the handler alive even if it changes the table while it runs.
  TObjectMethod handler = _mt[static_cast<size_t>(AIndex)].Mt;
  if (!handler) throw std::runtime_error("mt_Call: Method (Mt.Mt) is not assigned!");
  return handler(AParams);
}

// ---- property table ----

void TCustomNativeComponent::pt_Add(const std::string& APropertyName1, const std::string& APropertyName2,
                                    bool AIsReadonly, const TValue& AValue) {
  // An empty name (a setting the host added by its name alone) takes nothing.
  if ((!APropertyName1.empty() && pt_Find(APropertyName1) >= 0) ||
      (!APropertyName2.empty() && pt_Find(APropertyName2) >= 0))
    throw std::runtime_error("Свойство с указанным именем уже зарегистрировано. [" + APropertyName1 + "," +
                             APropertyName2 + "]");
  _pl.push_back(TProperty{APropertyName1, APropertyName2, AIsReadonly, AValue});
}

int TCustomNativeComponent::pt_Find(const std::string& APropertyName) const {
  // An empty name names nothing: settings the host added by name have an empty second name.
  if (APropertyName.empty()) return -1;
  for (size_t i = 0; i < _pl.size(); ++i)
    if (SameText(APropertyName, _pl[i].PropertyName1) || SameText(APropertyName, _pl[i].PropertyName2))
      return static_cast<int>(i);
  return -1;
}

TProperty TCustomNativeComponent::pt_Get(int64_t AIndex) const {
  if (AIndex < 0 || AIndex >= static_cast<int64_t>(_pl.size())) ThrowIndex(AIndex);
  return _pl[static_cast<size_t>(AIndex)];
}

TValue TCustomNativeComponent::Getpt_Value(const std::string& APropertyName) const {
  int i = pt_Find(APropertyName);
  if (i < 0) throw std::runtime_error("Свойство " + Quoted(APropertyName) + " не существует");
  return _pl[static_cast<size_t>(i)].Value;
}

void TCustomNativeComponent::Setpt_Value(const std::string& APropertyName, const TValue& AValue) {
  int i = pt_Find(APropertyName);
  if (i < 0) throw std::runtime_error("Свойство " + Quoted(APropertyName) + " не существует.");
  if (_pl[static_cast<size_t>(i)].isReadonly)
    throw std::runtime_error("Свойство " + Quoted(APropertyName) + " запрещено к изменению.");
  _pl[static_cast<size_t>(i)].Value = AValue;
}

void TCustomNativeComponent::Setpt_ValueDirect(const std::string& APropertyName, const TValue& AValue) {
  int i = pt_Find(APropertyName);
  if (i < 0) throw std::runtime_error("Свойство " + Quoted(APropertyName) + " не существует.");
  _pl[static_cast<size_t>(i)].Value = AValue;
}

// ---- host-facing operations ----

bool TCustomNativeComponent::Init(void* pConnection) {
  Connection = pConnection;
  OnInit();
  return true;
}

bool TCustomNativeComponent::setMemManager(void* aMemManager) {
  MemoryManager = aMemManager;
  return true;
}

void TCustomNativeComponent::Done() {
  mt_Clear();
  OnDone();
}

bool TCustomNativeComponent::RegisterExtensionAs(WCHAR_T** wsExtensionName) {
  if (!wsExtensionName) return false;
  *wsExtensionName = nullptr;
  *wsExtensionName = THostMemory(MemoryManager).NewText(NCClassName());
  return true;
}

host_long TCustomNativeComponent::FindProp(const WCHAR_T* wsPropName) { return pt_Find(HostText(wsPropName)); }

const WCHAR_T* TCustomNativeComponent::GetPropName(host_long lPropNum, host_long lPropAlias) {
  std::string name;
  if (lPropNum >= 0 && lPropNum < pt_Count()) {
    const TProperty& p = _pl[static_cast<size_t>(lPropNum)];
    name = lPropAlias == 0 ? p.PropertyName1 : lPropAlias == 1 ? p.PropertyName2 : std::string();
  }
  return THostMemory(MemoryManager).NewText(name);
}

bool TCustomNativeComponent::GetPropValue(host_long lPropNum, tVariant* pvarPropVal) {
  if (!pvarPropVal || lPropNum < 0 || lPropNum >= pt_Count()) return false;
  ValueToHost(MemoryManager, _pl[static_cast<size_t>(lPropNum)].Value, *pvarPropVal);
  return true;
}

bool TCustomNativeComponent::IsPropWritable(host_long lPropNum) {
  if (lPropNum < 0 || lPropNum >= pt_Count()) return false;
  return !_pl[static_cast<size_t>(lPropNum)].isReadonly;
}

host_long TCustomNativeComponent::FindMethod(const WCHAR_T* wsMethodName) {
  return mt_Find(HostText(wsMethodName));
}

std::string TCustomNativeComponent::MethodNameOrEmpty(int64_t AIndex, int64_t AAlias) const {
  if (AIndex < 0 || AIndex >= mt_Count()) return std::string();
  const TMethod& m = _mt[static_cast<size_t>(AIndex)];
  return AAlias == 0 ? m.MethodName1 : AAlias == 1 ? m.MethodName2 : std::string();
}

const WCHAR_T* TCustomNativeComponent::GetMethodName(host_long lMethodNum, host_long lMethodAlias) {
  return THostMemory(MemoryManager).NewText(MethodNameOrEmpty(lMethodNum, lMethodAlias));
}

host_long TCustomNativeComponent::GetNParams(host_long lMethodNum) {
  if (lMethodNum < 0 || lMethodNum >= mt_Count()) return 0;
  return _mt[static_cast<size_t>(lMethodNum)].ParamsCount;
}

bool TCustomNativeComponent::GetParamDefValue(host_long, host_long, tVariant* pvarParamDefValue) {
  if (pvarParamDefValue) pvarParamDefValue->vt = abi::VTYPE_EMPTY;
  return false;
}

void TCustomNativeComponent::ReportError(const std::string& ASource, const std::string& ADescription,
                                         int32_t AScode, unsigned short AWcode) {
  if (!Connection) return;
  THostMemory memory(MemoryManager);
  WCHAR_T* source = memory.NewText(ASource);
  WCHAR_T* descr = nullptr;
  try {
    descr = memory.NewText(ADescription);
    const auto& table = *static_cast<const abi::TAddInDefBaseTable*>(static_cast<abi::THostObject*>(Connection)->Data);
    table.AddError(Connection, AWcode, source, descr, AScode);
  } catch (...) {
    memory.FreeText(source);
    memory.FreeText(descr);
    throw;
  }
  memory.FreeText(source);
  memory.FreeText(descr);
}

namespace {

// Tags of the arguments of one call: the call's number in the high bits, the argument's
// position plus one in the low 16 (a host passes at most 1,001 arguments).
std::atomic<uint64_t> gCallNumber{0};

uint64_t ArgumentTag(uint64_t ACall, size_t AIndex) { return (ACall << 16) | (AIndex + 1); }

}  // namespace

VarArrayData TCustomNativeComponent::HostArguments(tVariant* paParams, host_long lSizeArray, uint64_t& ACall) const {
  size_t count = lSizeArray > 0 && paParams ? static_cast<size_t>(lSizeArray) : 0;
  // Every argument goes back to the host after the call: one that only the memory manager can
  // hand back is refused before the handler runs, so that nothing has happened yet.
  if (!MemoryManager)
    for (size_t i = 0; i < count; ++i)
      if (NeedsMemoryManager(paParams[i])) throw std::runtime_error(kMsgNoMemoryManager);
  ACall = ++gCallNumber;
  VarArrayData args(count);
  for (size_t i = 0; i < count; ++i) {
    args[i] = HostToValue(paParams[i]);
    args[i].SetOrigin(ArgumentTag(ACall, i));
  }
  return args;
}

void TCustomNativeComponent::ArgumentsToHost(const VarArrayData& AArgs, uint64_t ACall, tVariant* paParams) {
  for (size_t i = 0; i < AArgs.size(); ++i) {
    // A text or block that the method left as the host passed it is still in the host's value,
    // the same characters or bytes: it is not copied back (a table's text can be large).
    const tVariant& v = paParams[i];
    bool kept = AArgs[i].Origin() == ArgumentTag(ACall, i) &&
                ((v.vt == abi::VTYPE_PWSTR && v.wstr.pwstrVal) || (v.vt == abi::VTYPE_BLOB && v.str.pstrVal));
    if (!kept) ValueToHost(MemoryManager, AArgs[i], paParams[i]);
  }
}

void TCustomNativeComponent::ReportLogFailure() noexcept {
  if (!Connection) return;
  try {
    std::string message;
    if (TakeLogFailure(message)) ReportError(std::string(), kMsgLogFailed + message, kFuncErrorSCode, kAddWarningCode);
  } catch (...) {
  }
}

// A log that could not be written is told to the host once, when the call is over, whatever
// its outcome; the call itself never fails for it.
class TCustomNativeComponent::TLogFailureReport {
 public:
  explicit TLogFailureReport(TCustomNativeComponent& AComponent) : FComponent(AComponent) {}
  ~TLogFailureReport() { FComponent.ReportLogFailure(); }
  TLogFailureReport(const TLogFailureReport&) = delete;
  TLogFailureReport& operator=(const TLogFailureReport&) = delete;

 private:
  TCustomNativeComponent& FComponent;
};

bool TCustomNativeComponent::CallAsProc(host_long lMethodNum, tVariant* paParams, host_long lSizeArray) {
  TLogFailureReport logReport(*this);
  try {
    uint64_t call = 0;
    VarArrayData args = HostArguments(paParams, lSizeArray, call);
    mt_Call(lMethodNum, args);
    ArgumentsToHost(args, call, paParams);
    return true;
  } catch (const std::exception& e) {
    try {
      ReportError(MethodNameOrEmpty(lMethodNum, 0), e.what(), kProcErrorSCode);
    } catch (...) {
    }
  } catch (...) {
    try {
      ReportError(MethodNameOrEmpty(lMethodNum, 0), "Unknown error", kProcErrorSCode);
    } catch (...) {
    }
  }
  return false;
}

std::string ArgumentList(const VarArrayData& AParams) {
  std::string list = "[";
  for (size_t i = 0; i < AParams.size(); ++i) {
    if (i) list += "; ";
    list += AParams[i].ToText();
  }
  return list + "]";
}

bool TCustomNativeComponent::DoCallAsFunc(bool ATrace, host_long lMethodNum, tVariant* pvarRetValue,
                                          tVariant* paParams, host_long lSizeArray) {
  const std::string name = MethodNameOrEmpty(lMethodNum, 1);
  std::string message;
  TLogFailureReport logReport(*this);
  try {
    Setpt_ValueDirect(kLastErrorPropEn, TValue::Str(std::string()));
    uint64_t call = 0;
    VarArrayData args = HostArguments(paParams, lSizeArray, call);
    // The argument list is only built when the log keeps DEBUG lines.
    auto tracing = [ATrace] { return ATrace && GetLogLevel() >= kLogLevelAll; };
    if (tracing()) WriteLog("> " + name, "Params: " + ArgumentList(args), kLogDebug);
    TValue result;
    if (pvarRetValue) {
      result = mt_Call(lMethodNum, args);
      ValueToHost(MemoryManager, result, *pvarRetValue);
    } else {
      mt_Call(lMethodNum, args);
    }
    if (tracing()) {
      std::string resultPart;
      if (result.Kind() == TValueKind::Boolean) resultPart = std::string("Result=") + (result.AsBool() ? "True" : "False");
      WriteLog("< " + name, resultPart + "; Params: " + ArgumentList(args), kLogDebug);
    }
    ArgumentsToHost(args, call, paParams);
    return true;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  try {
    Setpt_ValueDirect(kLastErrorPropEn, TValue::Str("Function " + name + " - " + message));
    ReportError(std::string(), message, kFuncErrorSCode);
  } catch (...) {
  }
  return false;
}

bool TCustomNativeComponent::CallAsFunc(host_long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                                        host_long lSizeArray) {
  return DoCallAsFunc(false, lMethodNum, pvarRetValue, paParams, lSizeArray);
}

bool TExtNativeComponent::CallAsFunc(host_long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                                     host_long lSizeArray) {
  return DoCallAsFunc(true, lMethodNum, pvarRetValue, paParams, lSizeArray);
}

// ---- host services ----

const abi::TAddInDefBaseTable& TNativeComponent::Host() const {
  return *static_cast<const abi::TAddInDefBaseTable*>(static_cast<abi::THostObject*>(Connection)->Data);
}

void* TNativeComponent::HostInterface(int AKind) const {
  void* p = Host().GetInterface(Connection, AKind);
  return p ? static_cast<char*>(p) - 8 : nullptr;
}

bool TNativeComponent::Read(const std::string& APropName, tVariant* AValue, host_long* AErrCode,
                            std::string& AErrDescriptor) {
  if (!Connection) return false;
  THostMemory memory(MemoryManager);
  WCHAR_T* name = memory.NewText(APropName);
  WCHAR_T* description = nullptr;
  Host().Read(Connection, name, AValue, AErrCode, &description);
  AErrDescriptor = HostText(description);
  memory.FreeText(name);
  return true;
}

bool TNativeComponent::Write(const std::string& APropName, tVariant* AValue) {
  if (!Connection) return false;
  THostMemory memory(MemoryManager);
  WCHAR_T* name = memory.NewText(APropName);
  Host().Write(Connection, name, AValue);
  memory.FreeText(name);
  return true;
}

bool TNativeComponent::RegisterProfileAs(const std::string& AProfileName) {
  if (!Connection) return false;
  THostMemory memory(MemoryManager);
  WCHAR_T* name = memory.NewText(AProfileName);
  Host().RegisterProfileAs(Connection, name);
  memory.FreeText(name);
  return true;
}

bool TNativeComponent::SetEventBufferDepth(host_long ADepth) {
  if (!Connection) return false;
  Host().SetEventBufferDepth(Connection, ADepth);
  return true;
}

host_long TNativeComponent::GetEventBufferDepth() {
  if (!Connection) return 0;
  return Host().GetEventBufferDepth(Connection);
}

bool TNativeComponent::ExternalEvent(const std::string& ASource, const std::string& AMessage,
                                     const std::string& AData) {
  if (!Connection) return false;
  Host().SetEventBufferDepth(Connection, 100);
  THostMemory memory(MemoryManager);
  WCHAR_T* source = memory.NewText(ASource);
  WCHAR_T* message = memory.NewText(AMessage);
  WCHAR_T* data = memory.NewText(AData);
  Host().ExternalEvent(Connection, source, message, data);
  memory.FreeText(source);
  memory.FreeText(message);
  memory.FreeText(data);
  return true;
}

bool TNativeComponent::SetStatusLine(const std::string& AStatusLine) {
  if (!Connection) return false;
  THostMemory memory(MemoryManager);
  WCHAR_T* text = memory.NewText(AStatusLine);
  Host().SetStatusLine(Connection, text);
  memory.FreeText(text);
  return true;
}

void TNativeComponent::ResetStatusLine() {
  if (Connection) Host().ResetStatusLine(Connection);
}

void TNativeComponent::Alert(const std::string& AMessage) {
  if (!Connection) return;
  void* box = HostInterface(abi::eIMsgBox);
  if (!box) return;
  std::u16string text = Utf8ToUtf16(AMessage);
  const auto& table = *static_cast<const abi::TMsgBoxTable*>(static_cast<abi::THostObject*>(box)->Data);
  table.Alert(box, text.c_str());
}

bool TNativeComponent::Confirm(const std::string& AMessage) {
  if (!Connection) return false;
  void* box = HostInterface(abi::eIMsgBox);
  if (!box) return false;
  std::u16string text = Utf8ToUtf16(AMessage);
  tVariant answer;
  std::memset(&answer, 0, sizeof answer);
  const auto& table = *static_cast<const abi::TMsgBoxTable*>(static_cast<abi::THostObject*>(box)->Data);
  table.Confirm(box, text.c_str(), &answer);
  return answer.bVal != 0;
}

RPlatformInfo TNativeComponent::PlatformInfo() {
  RPlatformInfo info;
  if (!Connection) return info;
  void* object = HostInterface(abi::eIPlatformInfo);
  if (!object) return info;
  const auto& table = *static_cast<const abi::TPlatformInfoTable*>(static_cast<abi::THostObject*>(object)->Data);
  const auto* record = static_cast<const abi::TPlatformInfoRecord*>(table.GetPlatformInfo(object));
  if (!record) return info;
  info.AppVersion = HostText(record->AppVersion);
  info.UserAgentInformation = HostText(record->UserAgentInformation);
  info.Application = record->Application;
  return info;
}

}  // namespace qd
