// The component the host drives: method and property tables, every host-facing operation,
// the wrappers of host services, and the traced, guarded call path.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cf/host_abi.h"
#include "cf/value.h"

namespace qd {

using TObjectMethod = std::function<TValue(VarArrayData&)>;

struct TMethod {
  std::string MethodName1;  // texts are UTF-8
  std::string MethodName2;
  int32_t ParamsCount = 0;
  TObjectMethod Mt;
};

struct TProperty {
  std::string PropertyName1;
  std::string PropertyName2;
  bool isReadonly = false;
  TValue Value;
};

// Names of the built-in property that holds the last function call's failure.
inline constexpr const char* kLastErrorPropRu = "ОписаниеПоследнейОшибки";
inline constexpr const char* kLastErrorPropEn = "LastErrorDescription";

// Error report codes: a failure, and a warning that does not fail the call it comes with.
constexpr unsigned short kAddErrorCode = 1006;
constexpr unsigned short kAddWarningCode = 1002;
constexpr int32_t kProcErrorSCode = 1;
constexpr int32_t kFuncErrorSCode = 1000;

inline constexpr const char* kMsgLogFailed = "Не удалось записать лог: ";

class TCustomNativeComponent {
 public:
  TCustomNativeComponent() = default;
  virtual ~TCustomNativeComponent() = default;
  TCustomNativeComponent(const TCustomNativeComponent&) = delete;
  TCustomNativeComponent& operator=(const TCustomNativeComponent&) = delete;

  // Second construction step, run right after the object exists so that overrides of the
  // virtual registration operations take part (derived classes call the inherited one first).
  virtual void Create();
  static std::string ClassName() { return "AddInNativeExtension"; }
  virtual std::string NCClassName() const { return ClassName(); }
  virtual std::string GetFileVersion();
  virtual void OnInit() {}
  virtual void OnDone() {}

  // Method table.
  void mt_Add(const std::string& AMethodName1, const std::string& AMethodName2, int32_t AParamsCount,
              TObjectMethod AMt);
  int mt_Find(const std::string& AMethodName) const;
  TMethod mt_Get(int64_t AIndex) const;
  int mt_Count() const { return static_cast<int>(_mt.size()); }
  void mt_Clear() { _mt.clear(); }
  TValue mt_Call(int64_t AIndex, VarArrayData& AParams);

  // Property table.
  virtual void pt_Add(const std::string& APropertyName1, const std::string& APropertyName2, bool AIsReadonly,
                      const TValue& AValue);
  int pt_Find(const std::string& APropertyName) const;
  TProperty pt_Get(int64_t AIndex) const;
  int pt_Count() const { return static_cast<int>(_pl.size()); }
  void pt_Clear() { _pl.clear(); }
  TValue Getpt_Value(const std::string& APropertyName) const;
  TValue Getpt_ValueDirect(const std::string& APropertyName) const { return Getpt_Value(APropertyName); }
  void Setpt_Value(const std::string& APropertyName, const TValue& AValue);
  void Setpt_ValueDirect(const std::string& APropertyName, const TValue& AValue);

  // Host-facing operations.
  virtual bool Init(void* pConnection);
  virtual bool setMemManager(void* aMemManager);
  virtual abi::host_long GetInfo() { return 2000; }
  virtual void Done();
  virtual bool RegisterExtensionAs(abi::WCHAR_T** wsExtensionName);
  virtual abi::host_long GetNProps() { return pt_Count(); }
  virtual abi::host_long FindProp(const abi::WCHAR_T* wsPropName);
  virtual const abi::WCHAR_T* GetPropName(abi::host_long lPropNum, abi::host_long lPropAlias);
  virtual bool GetPropValue(abi::host_long lPropNum, abi::tVariant* pvarPropVal);
  virtual bool SetPropValue(abi::host_long, abi::tVariant*) { return true; }
  virtual bool IsPropReadable(abi::host_long) { return true; }
  virtual bool IsPropWritable(abi::host_long lPropNum);
  virtual abi::host_long GetNMethods() { return mt_Count(); }
  virtual abi::host_long FindMethod(const abi::WCHAR_T* wsMethodName);
  virtual const abi::WCHAR_T* GetMethodName(abi::host_long lMethodNum, abi::host_long lMethodAlias);
  virtual abi::host_long GetNParams(abi::host_long lMethodNum);
  virtual bool GetParamDefValue(abi::host_long lMethodNum, abi::host_long lParamNum, abi::tVariant* pvarParamDefValue);
  virtual bool HasRetVal(abi::host_long) { return true; }
  virtual bool CallAsProc(abi::host_long lMethodNum, abi::tVariant* paParams, abi::host_long lSizeArray);
  virtual bool CallAsFunc(abi::host_long lMethodNum, abi::tVariant* pvarRetValue, abi::tVariant* paParams,
                          abi::host_long lSizeArray);
  virtual void SetLocale(const abi::WCHAR_T*) {}

  // The header handed to the host; freed by DestroyObject.
  abi::TObjectHeader* GetNativeComponentObjectHeader();

  void* MemoryManager = nullptr;  // host IMemoryManager
  void* Connection = nullptr;     // host IAddInDefBase

 protected:
  // The function call path; ATrace adds the entry and exit log lines.
  bool DoCallAsFunc(bool ATrace, abi::host_long lMethodNum, abi::tVariant* pvarRetValue, abi::tVariant* paParams,
                    abi::host_long lSizeArray);
  // Name of a method by alias, empty when the index is outside the table.
  std::string MethodNameOrEmpty(int64_t AIndex, int64_t AAlias) const;
  // AddError through the callback interface; texts are released right after.
  void ReportError(const std::string& ASource, const std::string& ADescription, int32_t AScode,
                   unsigned short AWcode = kAddErrorCode);
  // The host's arguments as values, tagged with the call's number (ACall); throws before
  // converting any when one of them could not be handed back.
  VarArrayData HostArguments(abi::tVariant* paParams, abi::host_long lSizeArray, uint64_t& ACall) const;
  // The arguments back into the host's values after the call.
  void ArgumentsToHost(const VarArrayData& AArgs, uint64_t ACall, abi::tVariant* paParams);
  // Tells the host, once, that the log could not be written.
  void ReportLogFailure() noexcept;
  // Calls ReportLogFailure when a host call is over.
  class TLogFailureReport;

  std::vector<TMethod> _mt;
  std::vector<TProperty> _pl;
};

// Platform information the host hands out.
struct RPlatformInfo {
  std::string AppVersion;
  std::string UserAgentInformation;
  uint8_t Application = 0;
};

// Wrappers of the host's other services; each does nothing without a connection.
class TNativeComponent : public TCustomNativeComponent {
 public:
  bool Read(const std::string& APropName, abi::tVariant* AValue, abi::host_long* AErrCode, std::string& AErrDescriptor);
  bool Write(const std::string& APropName, abi::tVariant* AValue);
  bool RegisterProfileAs(const std::string& AProfileName);
  bool SetEventBufferDepth(abi::host_long ADepth);
  abi::host_long GetEventBufferDepth();
  bool ExternalEvent(const std::string& ASource, const std::string& AMessage, const std::string& AData);
  bool SetStatusLine(const std::string& AStatusLine);
  void ResetStatusLine();
  void Alert(const std::string& AMessage);
  bool Confirm(const std::string& AMessage);
  RPlatformInfo PlatformInfo();

 protected:
  const abi::TAddInDefBaseTable& Host() const;
  // Returns the object GetInterface hands out (stepped back to its table pointer), or null.
  void* HostInterface(int AKind) const;
};

// Function calls traced in the log (DEBUG) and guarded.
class TExtNativeComponent : public TNativeComponent {
 public:
  bool CallAsFunc(abi::host_long lMethodNum, abi::tVariant* pvarRetValue, abi::tVariant* paParams,
                  abi::host_long lSizeArray) override;
};

// "[a; b; c]" of the arguments' texts.
std::string ArgumentList(const VarArrayData& AParams);

}  // namespace qd
