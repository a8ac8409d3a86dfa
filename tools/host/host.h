// A stand-in for the host platform: loads a component module through its exports, hands the
// component a memory manager and a callback interface laid out as the host lays them out,
// and calls the component's routine tables. Used by the command-line host and the tests.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cf/host_abi.h"
#include "platform/dynlib.h"

namespace qd::host {

// The host's memory manager. Tracks every block: foreign pointers and double frees are
// recorded as faults instead of crashing.
class TMemoryManager {
 public:
  TMemoryManager();
  // Releases the blocks still held: the host's own memory, whoever was to give it back.
  ~TMemoryManager();
  TMemoryManager(const TMemoryManager&) = delete;
  TMemoryManager& operator=(const TMemoryManager&) = delete;
  void* Object() { return &FFace; }

  void* Alloc(size_t ASize);
  void Free(void* ABlock);
  size_t LiveBlocks() const { return FBlocks.size(); }
  size_t Allocations() const { return FAllocations; }
  size_t Releases() const { return FReleases; }
  const std::vector<std::string>& Faults() const { return FFaults; }
  bool Owns(const void* ABlock) const { return FBlocks.count(const_cast<void*>(ABlock)) != 0; }

 private:
  struct TFace {
    abi::THostObject Obj;  // what the component sees: the table pointer first
    TMemoryManager* Owner;
  } FFace;
  std::map<void*, size_t> FBlocks;
  size_t FAllocations = 0;
  size_t FReleases = 0;
  std::vector<std::string> FFaults;
};

struct TErrorReport {
  unsigned short wcode;
  std::string source;
  std::string descr;
  int64_t scode;
};

// The host's callback interface: records every call.
class TConnection {
 public:
  explicit TConnection(TMemoryManager& AMemory);
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;
  void* Object() { return &FFace; }

  std::vector<TErrorReport> Errors;
  std::vector<std::string> Calls;  // "AddError", "SetEventBufferDepth 100", ... in call order
  std::vector<std::string> Events; // "source|message|data"
  std::string StatusLine;
  // Told of every status-line call as it comes: the text, or AReset for ResetStatusLine.
  std::function<void(bool AReset, const std::string& AText)> OnStatusLine;
  int64_t EventBufferDepth = 1;
  std::map<std::string, std::string> Profile;
  bool ConfirmAnswer = true;
  std::string AppVersion = "1.0.0.0";
  std::string UserAgent = "addin-host";

  // Objects handed out by GetInterface; public for the static table entries.
  struct TSubObject {
    abi::THostObject Base;  // an unrelated first base, as in the host's objects
    abi::THostObject Face;  // GetInterface hands out this address (8 bytes past the object)
    TConnection* Owner;
  };
  TSubObject MsgBox;
  TSubObject PlatformInfo;
  std::u16string AppVersion16, UserAgent16;
  abi::TPlatformInfoRecord InfoRecord{};
  TMemoryManager& Memory;

  struct TFace {
    abi::THostObject Obj;
    TConnection* Owner;
  };

 private:
  TFace FFace;
};

// A loaded module.
class TModule {
 public:
  explicit TModule(const std::string& APath);
  std::string ClassNames() const;
  void* CreateObject(const std::string& AClassName) const;  // null when the class is unknown
  int64_t Destroy(void** AInterface) const;
  abi::FGetClassObject GetClassObjectFn() const { return FGetClassObject; }

 private:
  platform::TDynLib FLib;
  abi::FGetClassNames FGetClassNames = nullptr;
  abi::FGetClassObject FGetClassObject = nullptr;
  abi::FDestroyObject FDestroyObject = nullptr;
};

// A value on the host side of a call.
struct THostValue {
  uint16_t vt = abi::VTYPE_EMPTY;
  int64_t i = 0;           // codes 3, 9, 11 (0/1), 17
  double d = 0;            // codes 5, 6
  std::string text;        // code 22 (UTF-8); code 23 bytes
  abi::host_tm tm{};       // code 7

  static THostValue Empty() { return THostValue(); }
  static THostValue Text(const std::string& s) { THostValue v; v.vt = abi::VTYPE_PWSTR; v.text = s; return v; }
  static THostValue Int(int32_t n) { THostValue v; v.vt = abi::VTYPE_I4; v.i = n; return v; }
  static THostValue Int64(int64_t n) { THostValue v; v.vt = abi::VTYPE_I8; v.i = n; return v; }
  static THostValue Double(double x) { THostValue v; v.vt = abi::VTYPE_R8; v.d = x; return v; }
  static THostValue Bool(bool b) { THostValue v; v.vt = abi::VTYPE_BOOL; v.i = b ? 1 : 0; return v; }
  static THostValue Blob(const std::string& bytes) { THostValue v; v.vt = abi::VTYPE_BLOB; v.text = bytes; return v; }
  static THostValue Date(double days) { THostValue v; v.vt = abi::VTYPE_DATE; v.d = days; return v; }
  static THostValue Tm(int year, int month, int day, int hour, int minute, int second);

  // "empty", "int 5", "text \"abc\"", ...
  std::string Describe() const;
  bool operator==(const THostValue& o) const;
};

struct TCallResult {
  bool Returned = false;        // what the routine returned
  THostValue Result;            // the result value (functions)
  std::vector<THostValue> Args; // the arguments as the component left them
};

// One component created through a module, with its own memory manager and connection.
class TComponent {
 public:
  TComponent(const TModule& AModule, const std::string& AClassName, bool AInit = true, bool AMemManager = true);
  ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  void* Interface() const { return FInterface; }
  abi::TObjectHeader* Header() const { return static_cast<abi::TObjectHeader*>(FInterface); }
  void Destroy();

  bool Init();
  bool SetMemManager();
  int64_t GetInfo();
  void Done();
  std::string RegisterExtensionAs();
  int64_t GetNProps();
  int64_t FindProp(const std::string& AName);
  std::string GetPropName(int64_t ANum, int64_t AAlias);
  bool GetPropValue(int64_t ANum, THostValue& AValue);
  bool SetPropValue(int64_t ANum, const THostValue& AValue);
  bool IsPropReadable(int64_t ANum);
  bool IsPropWritable(int64_t ANum);
  int64_t GetNMethods();
  int64_t FindMethod(const std::string& AName);
  std::string GetMethodName(int64_t ANum, int64_t AAlias);
  int64_t GetNParams(int64_t ANum);
  bool GetParamDefValue(int64_t ANum, int64_t AParam, THostValue& AValue);
  bool HasRetVal(int64_t ANum);
  TCallResult CallAsProc(int64_t ANum, const std::vector<THostValue>& AArgs);
  TCallResult CallAsFunc(int64_t ANum, const std::vector<THostValue>& AArgs, bool AWithResult = true);
  void SetLocale(const std::string& ALocale);
  void SetUserInterfaceLanguageCode(const std::string& ACode);

  // By name (either alias); throws std::runtime_error when the method does not exist.
  TCallResult Call(const std::string& AMethod, const std::vector<THostValue>& AArgs = {});
  // "LastErrorDescription" as text.
  std::string LastErrorDescription();

  TMemoryManager Memory;
  TConnection Connection{Memory};

 private:
  template <class F>
  F Proc(int AIndex) const;
  void* Face(int AInterface) const;  // 0, 1, 2: the three interface pointers
  abi::WCHAR_T* HostText(const std::string& AText, uint32_t* ALength = nullptr);
  std::string TakeText(const abi::WCHAR_T* AText);  // reads and releases a text the component allocated
  void FillVariant(const THostValue& AValue, abi::tVariant& AOut);
  THostValue ReadVariant(abi::tVariant& AIn, bool ARelease);

  const TModule& FModule;
  void* FInterface = nullptr;
};

}  // namespace qd::host
