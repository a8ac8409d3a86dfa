// Binary layouts shared with the host platform: the value record, the host's objects and
// the routine tables of a component. Every table is built by hand from plain function
// pointers: the host's objects follow its own compiler's object model (on Windows one
// destructor slot at the head of a table, on Linux the two of the Itanium C++ ABI), which
// C++ virtual classes of this compiler would not reproduce on both.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qd::abi {

using WCHAR_T = char16_t;

#if defined(_WIN32)
// The host declares its counts and numbers as C long: 32 bits on 64-bit Windows.
using host_long = int32_t;
using host_ulong = uint32_t;
constexpr int kDtorSlots = 1;
#else
// ... and 64 bits on Linux x86-64.
using host_long = long;
using host_ulong = unsigned long;
constexpr int kDtorSlots = 2;
#endif

// Calendar view of a host value: the C library's struct tm as the host compiles it.
struct host_tm {
  int32_t tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
#if !defined(_WIN32)
  long tm_gmtoff;
  const char* tm_zone;
#endif
};

// Type codes of host values.
enum : uint16_t {
  VTYPE_EMPTY = 0,
  VTYPE_I4 = 3,
  VTYPE_R8 = 5,
  VTYPE_DATE = 6,
  VTYPE_TM = 7,
  VTYPE_ERROR = 9,
  VTYPE_BOOL = 11,
  VTYPE_I8 = 17,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23,
};

struct tVariant {
  union {
    uint8_t bVal;  // any byte other than 0 is true
    int32_t intVal;
    int64_t IIVal;
    double dbVal;
    double date;  // days since 30 December 1899
    host_tm tmVal;
    struct {
      WCHAR_T* pwstrVal;
      uint32_t wstrLen;
    } wstr;
    struct {
      char* pstrVal;
      uint32_t strLen;
    } str;
    uint8_t area[sizeof(host_tm) > 40 ? sizeof(host_tm) : 40];
  };
  uint32_t cbElements;
  uint16_t vt;
  uint16_t reserved;
};

#if defined(_WIN32)
static_assert(sizeof(host_tm) == 36);
static_assert(sizeof(tVariant) == 48);
static_assert(offsetof(tVariant, cbElements) == 40);
static_assert(offsetof(tVariant, vt) == 44);
#else
static_assert(sizeof(host_tm) == 56);
static_assert(sizeof(tVariant) == 64);
static_assert(offsetof(tVariant, cbElements) == 56);
static_assert(offsetof(tVariant, vt) == 60);
#endif
static_assert(offsetof(tVariant, wstr.wstrLen) == 8);
static_assert(offsetof(tVariant, str.strLen) == 8);

// A table entry as stored; each is cast to its real type before a call.
using TProc = void (*)();

// The host's memory manager: first field points to this table.
struct TMemoryManagerTable {
  TProc Dtor[kDtorSlots];
  bool (*AllocMem)(void* self, void** pMemory, host_ulong ulCountByte);
  void (*FreeMem)(void* self, void** pMemory);
};

// The host's callback interface.
struct TAddInDefBaseTable {
  TProc Dtor[kDtorSlots];
  bool (*AddError)(void* self, unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, host_long scode);
  bool (*Read)(void* self, WCHAR_T* wszPropName, tVariant* pVal, host_long* pErrCode, WCHAR_T** errDescriptor);
  bool (*Write)(void* self, WCHAR_T* wszPropName, tVariant* pVar);
  bool (*RegisterProfileAs)(void* self, WCHAR_T* wszProfileName);
  bool (*SetEventBufferDepth)(void* self, host_long lDepth);
  host_long (*GetEventBufferDepth)(void* self);
  bool (*ExternalEvent)(void* self, WCHAR_T* wszSource, WCHAR_T* wszMessage, WCHAR_T* wszData);
  void (*CleanEventBuffer)(void* self);
  bool (*SetStatusLine)(void* self, WCHAR_T* wszStatusLine);
  void (*ResetStatusLine)(void* self);
  void* (*GetInterface)(void* self, int kind);
};

// Objects handed out by GetInterface (the pointer returned is 8 bytes past the object).
enum : int { eIMsgBox = 0, eIPlatformInfo = 1 };
struct TMsgBoxTable {
  bool (*Confirm)(void* self, const WCHAR_T* queryText, tVariant* retVal);
  bool (*Alert)(void* self, const WCHAR_T* text);
};
struct TPlatformInfoTable {
  const void* (*GetPlatformInfo)(void* self);
};
struct TPlatformInfoRecord {
  const WCHAR_T* AppVersion;
  const WCHAR_T* UserAgentInformation;
  uint8_t Application;
};
static_assert(offsetof(TPlatformInfoRecord, Application) == 16);

// Any host object: its first field is the address of its routine table.
struct THostObject {
  const void* Data;
};

// The component's routine tables, in slot order after the destructor slot(s).
constexpr int kLifecycleCount = kDtorSlots + 4;  // Init, setMemManager, GetInfo, Done
constexpr int kMembersCount = kDtorSlots + 16;   // RegisterExtensionAs ... CallAsFunc
constexpr int kLocaleCount = kDtorSlots + 2;     // SetLocale and one entry that does nothing
constexpr int kProcsCount = kLifecycleCount + kMembersCount + kLocaleCount;
constexpr int kLifecycleStart = 0;
constexpr int kMembersStart = kLifecycleCount;
constexpr int kLocaleStart = kLifecycleCount + kMembersCount;
// Newer hosts know a fourth interface: one routine passing the interface language code.
constexpr int kUserLangCount = kDtorSlots + 1;

// One per live component; the host's three interface pointers point at Object1..Object3.
struct TObjectHeader {
  const TProc* Object1;
  const TProc* Object2;
  const TProc* Object3;
  const TProc* Object4;
  void* Self1;
  void* Self2;
  void* Self3;
  void* Self4;
  TProc Procs[kProcsCount];
  void* Self;
};
static_assert(offsetof(TObjectHeader, Self1) == 32);
static_assert(offsetof(TObjectHeader, Procs) == 64);
#if defined(_WIN32)
static_assert(kProcsCount == 25);
static_assert(sizeof(TObjectHeader) == 272);
static_assert(offsetof(TObjectHeader, Self) == 264);
#else
static_assert(kProcsCount == 28);
static_assert(sizeof(TObjectHeader) == 296);
static_assert(offsetof(TObjectHeader, Self) == 288);
#endif

// Entry types of the component tables (first argument: the interface pointer).
using FInit = bool (*)(void* p, void* connection);
using FSetMemManager = bool (*)(void* p, void* memManager);
using FGetInfo = host_long (*)(void* p);
using FDone = void (*)(void* p);
using FRegisterExtensionAs = bool (*)(void* p, WCHAR_T** wsExtensionName);
using FGetNProps = host_long (*)(void* p);
using FFindProp = host_long (*)(void* p, const WCHAR_T* wsPropName);
using FGetPropName = const WCHAR_T* (*)(void* p, host_long lPropNum, host_long lPropAlias);
using FGetPropValue = bool (*)(void* p, host_long lPropNum, tVariant* pvarPropVal);
using FSetPropValue = bool (*)(void* p, host_long lPropNum, tVariant* varPropVal);
using FIsPropReadable = bool (*)(void* p, host_long lPropNum);
using FIsPropWritable = bool (*)(void* p, host_long lPropNum);
using FGetNMethods = host_long (*)(void* p);
using FFindMethod = host_long (*)(void* p, const WCHAR_T* wsMethodName);
using FGetMethodName = const WCHAR_T* (*)(void* p, host_long lMethodNum, host_long lMethodAlias);
using FGetNParams = host_long (*)(void* p, host_long lMethodNum);
using FGetParamDefValue = bool (*)(void* p, host_long lMethodNum, host_long lParamNum, tVariant* pvarParamDefValue);
using FHasRetVal = bool (*)(void* p, host_long lMethodNum);
using FCallAsProc = bool (*)(void* p, host_long lMethodNum, tVariant* paParams, host_long lSizeArray);
using FCallAsFunc = bool (*)(void* p, host_long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                             host_long lSizeArray);
using FSetLocale = void (*)(void* p, const WCHAR_T* loc);
using FSetUserInterfaceLanguageCode = void (*)(void* p, const WCHAR_T* lang);

// Index of each routine in Procs.
enum : int {
  kInit = kLifecycleStart + kDtorSlots,
  kSetMemManager,
  kGetInfo,
  kDone,
  kRegisterExtensionAs = kMembersStart + kDtorSlots,
  kGetNProps,
  kFindProp,
  kGetPropName,
  kGetPropValue,
  kSetPropValue,
  kIsPropReadable,
  kIsPropWritable,
  kGetNMethods,
  kFindMethod,
  kGetMethodName,
  kGetNParams,
  kGetParamDefValue,
  kHasRetVal,
  kCallAsProc,
  kCallAsFunc,
  kSetLocale = kLocaleStart + kDtorSlots,
};
static_assert(kCallAsFunc == kLocaleStart - 1);

// The exports.
using FGetClassNames = const WCHAR_T* (*)();
using FGetClassObject = host_long (*)(const WCHAR_T* wsName, void** pIntf);
using FDestroyObject = host_long (*)(void** pIntf);

}  // namespace qd::abi
