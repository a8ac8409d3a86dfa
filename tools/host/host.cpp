#include "host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/text.h"

namespace qd::host {

using abi::host_long;
using abi::host_ulong;
using abi::tVariant;
using abi::WCHAR_T;

namespace {

void Nothing(void*) {}

std::string FromHost(const WCHAR_T* AText) {
  if (!AText) return std::string();
  size_t n = 0;
  while (AText[n]) ++n;
  return Utf16ToUtf8(std::u16string_view(AText, n));
}

// ---- memory manager table ----

TMemoryManager* MemoryOf(void* self) { return static_cast<TMemoryManager*>(*reinterpret_cast<void**>(static_cast<char*>(self) + 8)); }

bool MmAllocMem(void* self, void** pMemory, host_ulong ulCountByte) {
  if (!pMemory) return false;
  *pMemory = MemoryOf(self)->Alloc(ulCountByte);
  return *pMemory != nullptr;
}

void MmFreeMem(void* self, void** pMemory) {
  if (!pMemory) return;
  MemoryOf(self)->Free(*pMemory);
}

struct TMmTable : abi::TMemoryManagerTable {
  TMmTable() {
    for (auto& d : Dtor) d = reinterpret_cast<abi::TProc>(&Nothing);
    AllocMem = &MmAllocMem;
    FreeMem = &MmFreeMem;
  }
};
const TMmTable kMmTable;

// ---- callback interface table ----

TConnection* ConnOf(void* self) { return static_cast<TConnection*>(*reinterpret_cast<void**>(static_cast<char*>(self) + 8)); }

bool CbAddError(void* self, unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr, host_long scode) {
  TConnection* c = ConnOf(self);
  c->Errors.push_back(TErrorReport{wcode, FromHost(source), FromHost(descr), static_cast<int64_t>(scode)});
  c->Calls.push_back("AddError");
  return true;
}

bool CbRead(void* self, WCHAR_T* name, tVariant* pVal, host_long* pErrCode, WCHAR_T** errDescriptor) {
  TConnection* c = ConnOf(self);
  std::string key = FromHost(name);
  c->Calls.push_back("Read " + key);
  if (errDescriptor) *errDescriptor = nullptr;
  auto it = c->Profile.find(key);
  if (it == c->Profile.end()) {
    if (pErrCode) *pErrCode = 1;
    return false;
  }
  if (pErrCode) *pErrCode = 0;
  if (pVal) {
    std::u16string text = Utf8ToUtf16(it->second);
    void* block = c->Memory.Alloc((text.size() + 1) * 2);
    std::memset(block, 0, (text.size() + 1) * 2);
    std::memcpy(block, text.data(), text.size() * 2);
    std::memset(pVal, 0, sizeof *pVal);
    pVal->wstr.pwstrVal = static_cast<WCHAR_T*>(block);
    pVal->wstr.wstrLen = static_cast<uint32_t>(text.size());
    pVal->vt = abi::VTYPE_PWSTR;
  }
  return true;
}

bool CbWrite(void* self, WCHAR_T* name, tVariant* pVar) {
  TConnection* c = ConnOf(self);
  std::string key = FromHost(name);
  c->Calls.push_back("Write " + key);
  if (pVar && pVar->vt == abi::VTYPE_PWSTR) c->Profile[key] = FromHost(pVar->wstr.pwstrVal);
  return true;
}

bool CbRegisterProfileAs(void* self, WCHAR_T* name) {
  ConnOf(self)->Calls.push_back("RegisterProfileAs " + FromHost(name));
  return true;
}

bool CbSetEventBufferDepth(void* self, host_long depth) {
  TConnection* c = ConnOf(self);
  c->EventBufferDepth = depth;
  c->Calls.push_back("SetEventBufferDepth " + std::to_string(static_cast<long long>(depth)));
  return true;
}

host_long CbGetEventBufferDepth(void* self) {
  TConnection* c = ConnOf(self);
  c->Calls.push_back("GetEventBufferDepth");
  return static_cast<host_long>(c->EventBufferDepth);
}

bool CbExternalEvent(void* self, WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) {
  TConnection* c = ConnOf(self);
  c->Events.push_back(FromHost(source) + "|" + FromHost(message) + "|" + FromHost(data));
  c->Calls.push_back("ExternalEvent");
  return true;
}

void CbCleanEventBuffer(void* self) { ConnOf(self)->Calls.push_back("CleanEventBuffer"); }

bool CbSetStatusLine(void* self, WCHAR_T* text) {
  TConnection* c = ConnOf(self);
  c->StatusLine = FromHost(text);
  c->Calls.push_back("SetStatusLine");
  if (c->OnStatusLine) c->OnStatusLine(false, c->StatusLine);
  return true;
}

void CbResetStatusLine(void* self) {
  TConnection* c = ConnOf(self);
  c->StatusLine.clear();
  c->Calls.push_back("ResetStatusLine");
  if (c->OnStatusLine) c->OnStatusLine(true, std::string());
}

void* CbGetInterface(void* self, int kind) {
  TConnection* c = ConnOf(self);
  c->Calls.push_back("GetInterface " + std::to_string(kind));
  if (kind == abi::eIMsgBox) return &c->MsgBox.Face;
  if (kind == abi::eIPlatformInfo) return &c->PlatformInfo.Face;
  return nullptr;
}

struct TCbTable : abi::TAddInDefBaseTable {
  TCbTable() {
    for (auto& d : Dtor) d = reinterpret_cast<abi::TProc>(&Nothing);
    AddError = &CbAddError;
    Read = &CbRead;
    Write = &CbWrite;
    RegisterProfileAs = &CbRegisterProfileAs;
    SetEventBufferDepth = &CbSetEventBufferDepth;
    GetEventBufferDepth = &CbGetEventBufferDepth;
    ExternalEvent = &CbExternalEvent;
    CleanEventBuffer = &CbCleanEventBuffer;
    SetStatusLine = &CbSetStatusLine;
    ResetStatusLine = &CbResetStatusLine;
    GetInterface = &CbGetInterface;
  }
};
const TCbTable kCbTable;

// ---- objects handed out by GetInterface (self = start of the object) ----

TConnection* SubOwner(void* self) { return static_cast<TConnection::TSubObject*>(self)->Owner; }

bool MbConfirm(void* self, const WCHAR_T* text, tVariant* answer) {
  TConnection* c = SubOwner(self);
  c->Calls.push_back("Confirm " + FromHost(text));
  if (answer) {
    std::memset(answer, 0, sizeof *answer);
    answer->vt = abi::VTYPE_BOOL;
    answer->bVal = c->ConfirmAnswer ? 1 : 0;
  }
  return true;
}

bool MbAlert(void* self, const WCHAR_T* text) {
  SubOwner(self)->Calls.push_back("Alert " + FromHost(text));
  return true;
}

const abi::TMsgBoxTable kMsgBoxTable{&MbConfirm, &MbAlert};

const void* PiGet(void* self) {
  TConnection* c = SubOwner(self);
  c->Calls.push_back("GetPlatformInfo");
  c->AppVersion16 = Utf8ToUtf16(c->AppVersion);
  c->UserAgent16 = Utf8ToUtf16(c->UserAgent);
  c->InfoRecord.AppVersion = c->AppVersion16.c_str();
  c->InfoRecord.UserAgentInformation = c->UserAgent16.c_str();
  c->InfoRecord.Application = 2;
  return &c->InfoRecord;
}

const abi::TPlatformInfoTable kPlatformInfoTable{&PiGet};

template <class F>
F Sym(const platform::TDynLib& ALib, const char* AName) {
  void* p = ALib.Symbol(AName);
  if (!p) throw std::runtime_error(std::string("The module does not export ") + AName);
  return reinterpret_cast<F>(p);
}

}  // namespace

// ---- TMemoryManager ----

TMemoryManager::TMemoryManager() {
  FFace.Obj.Data = &kMmTable;
  FFace.Owner = this;
}

TMemoryManager::~TMemoryManager() {
  for (const auto& block : FBlocks) std::free(block.first);
}

void* TMemoryManager::Alloc(size_t ASize) {
  void* block = std::malloc(ASize ? ASize : 1);
  if (!block) return nullptr;
  FBlocks[block] = ASize;
  ++FAllocations;
  return block;
}

void TMemoryManager::Free(void* ABlock) {
  if (!ABlock) return;
  auto it = FBlocks.find(ABlock);
  if (it == FBlocks.end()) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "FreeMem of a block not allocated here (%p)", ABlock);
    FFaults.push_back(buf);
    return;
  }
  FBlocks.erase(it);
  ++FReleases;
  std::free(ABlock);
}

// ---- TConnection ----

TConnection::TConnection(TMemoryManager& AMemory) : Memory(AMemory) {
  FFace.Obj.Data = &kCbTable;
  FFace.Owner = this;
  MsgBox.Base.Data = &kMsgBoxTable;
  MsgBox.Face.Data = nullptr;
  MsgBox.Owner = this;
  PlatformInfo.Base.Data = &kPlatformInfoTable;
  PlatformInfo.Face.Data = nullptr;
  PlatformInfo.Owner = this;
}

// ---- TModule ----

TModule::TModule(const std::string& APath) {
  FLib.Load(APath);
  FGetClassNames = Sym<abi::FGetClassNames>(FLib, "GetClassNames");
  FGetClassObject = Sym<abi::FGetClassObject>(FLib, "GetClassObject");
  FDestroyObject = Sym<abi::FDestroyObject>(FLib, "DestroyObject");
}

std::string TModule::ClassNames() const { return FromHost(FGetClassNames()); }

void* TModule::CreateObject(const std::string& AClassName) const {
  std::u16string name = Utf8ToUtf16(AClassName);
  void* object = reinterpret_cast<void*>(1);  // the module must clear it
  host_long rc = FGetClassObject(name.c_str(), &object);
  if (rc == 0) {
    if (object) throw std::runtime_error("GetClassObject returned 0 but left the pointer set");
    return nullptr;
  }
  return object;
}

int64_t TModule::Destroy(void** AInterface) const { return FDestroyObject(AInterface); }

// ---- THostValue ----

THostValue THostValue::Tm(int year, int month, int day, int hour, int minute, int second) {
  THostValue v;
  v.vt = abi::VTYPE_TM;
  v.tm.tm_year = year - 1900;
  v.tm.tm_mon = month - 1;
  v.tm.tm_mday = day;
  v.tm.tm_hour = hour;
  v.tm.tm_min = minute;
  v.tm.tm_sec = second;
  return v;
}

std::string THostValue::Describe() const {
  char buf[64];
  switch (vt) {
    case abi::VTYPE_EMPTY: return "empty";
    case abi::VTYPE_I4: return "int " + std::to_string(i);
    case abi::VTYPE_I8: return "int64 " + std::to_string(i);
    case abi::VTYPE_ERROR: return "code9 " + std::to_string(i);
    case abi::VTYPE_BOOL: return i ? "bool true" : "bool false";
    case abi::VTYPE_R8: std::snprintf(buf, sizeof buf, "double %.17g", d); return buf;
    case abi::VTYPE_DATE: std::snprintf(buf, sizeof buf, "date %.17g", d); return buf;
    case abi::VTYPE_TM:
      std::snprintf(buf, sizeof buf, "tm %04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                    tm.tm_hour, tm.tm_min, tm.tm_sec);
      return buf;
    case abi::VTYPE_PWSTR: return "text \"" + text + "\"";
    case abi::VTYPE_BLOB: {
      std::string hex;
      for (unsigned char ch : text) {
        std::snprintf(buf, sizeof buf, "%02X", ch);
        hex += buf;
      }
      return "blob " + std::to_string(text.size()) + " [" + hex + "]";
    }
    default: return "type " + std::to_string(vt);
  }
}

bool THostValue::operator==(const THostValue& o) const {
  return vt == o.vt && i == o.i && d == o.d && text == o.text;
}

// ---- TComponent ----

TComponent::TComponent(const TModule& AModule, const std::string& AClassName, bool AInit, bool AMemManager)
    : FModule(AModule) {
  FInterface = AModule.CreateObject(AClassName);
  if (!FInterface) throw std::runtime_error("The module has no class named " + AClassName);
  if (AInit) Init();
  if (AMemManager) SetMemManager();
}

TComponent::~TComponent() { Destroy(); }

void TComponent::Destroy() {
  if (FInterface) FModule.Destroy(&FInterface);
}

void* TComponent::Face(int AInterface) const { return static_cast<char*>(FInterface) + 8 * AInterface; }

template <class F>
F TComponent::Proc(int AIndex) const {
  // Find the routine the way the host does: through the interface's table pointer.
  int face = AIndex < abi::kMembersStart ? 0 : AIndex < abi::kLocaleStart ? 1 : 2;
  int start = face == 0 ? abi::kLifecycleStart : face == 1 ? abi::kMembersStart : abi::kLocaleStart;
  const abi::TProc* table = *static_cast<const abi::TProc* const*>(Face(face));
  return reinterpret_cast<F>(table[AIndex - start]);
}

#define QD_CALL(type, index, face, ...) Proc<abi::type>(abi::index)(Face(face), ##__VA_ARGS__)

bool TComponent::Init() { return QD_CALL(FInit, kInit, 0, Connection.Object()); }
bool TComponent::SetMemManager() { return QD_CALL(FSetMemManager, kSetMemManager, 0, Memory.Object()); }
int64_t TComponent::GetInfo() { return QD_CALL(FGetInfo, kGetInfo, 0); }
void TComponent::Done() { QD_CALL(FDone, kDone, 0); }

WCHAR_T* TComponent::HostText(const std::string& AText, uint32_t* ALength) {
  // Converted straight into the host's block: a table's text is held once, as the host holds it.
  size_t units = Utf8ToUtf16(AText, nullptr);
  auto* block = static_cast<WCHAR_T*>(Memory.Alloc((units + 1) * 2));
  Utf8ToUtf16(AText, block);
  block[units] = 0;
  if (ALength) *ALength = static_cast<uint32_t>(units);
  return block;
}

std::string TComponent::TakeText(const WCHAR_T* AText) {
  std::string text = FromHost(AText);
  if (AText) Memory.Free(const_cast<WCHAR_T*>(AText));
  return text;
}

std::string TComponent::RegisterExtensionAs() {
  WCHAR_T* name = nullptr;
  if (!QD_CALL(FRegisterExtensionAs, kRegisterExtensionAs, 1, &name)) return std::string();
  return TakeText(name);
}

int64_t TComponent::GetNProps() { return QD_CALL(FGetNProps, kGetNProps, 1); }

int64_t TComponent::FindProp(const std::string& AName) {
  std::u16string name = Utf8ToUtf16(AName);
  return QD_CALL(FFindProp, kFindProp, 1, name.c_str());
}

std::string TComponent::GetPropName(int64_t ANum, int64_t AAlias) {
  return TakeText(QD_CALL(FGetPropName, kGetPropName, 1, static_cast<host_long>(ANum), static_cast<host_long>(AAlias)));
}

bool TComponent::GetPropValue(int64_t ANum, THostValue& AValue) {
  tVariant v;
  std::memset(&v, 0, sizeof v);
  bool ok = QD_CALL(FGetPropValue, kGetPropValue, 1, static_cast<host_long>(ANum), &v);
  AValue = ReadVariant(v, true);
  return ok;
}

bool TComponent::SetPropValue(int64_t ANum, const THostValue& AValue) {
  tVariant v;
  FillVariant(AValue, v);
  bool ok = QD_CALL(FSetPropValue, kSetPropValue, 1, static_cast<host_long>(ANum), &v);
  ReadVariant(v, true);
  return ok;
}

bool TComponent::IsPropReadable(int64_t ANum) { return QD_CALL(FIsPropReadable, kIsPropReadable, 1, static_cast<host_long>(ANum)); }
bool TComponent::IsPropWritable(int64_t ANum) { return QD_CALL(FIsPropWritable, kIsPropWritable, 1, static_cast<host_long>(ANum)); }
int64_t TComponent::GetNMethods() { return QD_CALL(FGetNMethods, kGetNMethods, 1); }

int64_t TComponent::FindMethod(const std::string& AName) {
  std::u16string name = Utf8ToUtf16(AName);
  return QD_CALL(FFindMethod, kFindMethod, 1, name.c_str());
}

std::string TComponent::GetMethodName(int64_t ANum, int64_t AAlias) {
  return TakeText(
      QD_CALL(FGetMethodName, kGetMethodName, 1, static_cast<host_long>(ANum), static_cast<host_long>(AAlias)));
}

int64_t TComponent::GetNParams(int64_t ANum) { return QD_CALL(FGetNParams, kGetNParams, 1, static_cast<host_long>(ANum)); }

bool TComponent::GetParamDefValue(int64_t ANum, int64_t AParam, THostValue& AValue) {
  tVariant v;
  FillVariant(AValue, v);
  bool ok = QD_CALL(FGetParamDefValue, kGetParamDefValue, 1, static_cast<host_long>(ANum),
                    static_cast<host_long>(AParam), &v);
  AValue = ReadVariant(v, true);
  return ok;
}

bool TComponent::HasRetVal(int64_t ANum) { return QD_CALL(FHasRetVal, kHasRetVal, 1, static_cast<host_long>(ANum)); }

void TComponent::FillVariant(const THostValue& AValue, tVariant& AOut) {
  std::memset(&AOut, 0, sizeof AOut);
  AOut.vt = AValue.vt;
  switch (AValue.vt) {
    case abi::VTYPE_I4:
    case abi::VTYPE_ERROR: AOut.intVal = static_cast<int32_t>(AValue.i); break;
    case abi::VTYPE_I8: AOut.IIVal = AValue.i; break;
    case abi::VTYPE_BOOL: AOut.bVal = static_cast<uint8_t>(AValue.i); break;
    case abi::VTYPE_R8: AOut.dbVal = AValue.d; break;
    case abi::VTYPE_DATE: AOut.date = AValue.d; break;
    case abi::VTYPE_TM: AOut.tmVal = AValue.tm; break;
    case abi::VTYPE_PWSTR: {
      AOut.wstr.pwstrVal = HostText(AValue.text, &AOut.wstr.wstrLen);
      break;
    }
    case abi::VTYPE_BLOB: {
      char* block = static_cast<char*>(Memory.Alloc(AValue.text.size()));
      if (!AValue.text.empty()) std::memcpy(block, AValue.text.data(), AValue.text.size());
      AOut.str.pstrVal = block;
      AOut.str.strLen = static_cast<uint32_t>(AValue.text.size());
      break;
    }
    default: break;
  }
}

THostValue TComponent::ReadVariant(tVariant& AIn, bool ARelease) {
  THostValue v;
  v.vt = AIn.vt;
  switch (AIn.vt) {
    case abi::VTYPE_I4:
    case abi::VTYPE_ERROR: v.i = AIn.intVal; break;
    case abi::VTYPE_I8: v.i = AIn.IIVal; break;
    case abi::VTYPE_BOOL: v.i = AIn.bVal != 0; break;
    case abi::VTYPE_R8: v.d = AIn.dbVal; break;
    case abi::VTYPE_DATE: v.d = AIn.date; break;
    case abi::VTYPE_TM: v.tm = AIn.tmVal; break;
    case abi::VTYPE_PWSTR:
      v.text = FromHost(AIn.wstr.pwstrVal);
      if (ARelease && AIn.wstr.pwstrVal) Memory.Free(AIn.wstr.pwstrVal);
      if (ARelease) AIn.wstr.pwstrVal = nullptr;
      break;
    case abi::VTYPE_BLOB:
      if (AIn.str.pstrVal) v.text.assign(AIn.str.pstrVal, AIn.str.strLen);
      if (ARelease && AIn.str.pstrVal) Memory.Free(AIn.str.pstrVal);
      if (ARelease) AIn.str.pstrVal = nullptr;
      break;
    default: break;
  }
  return v;
}

TCallResult TComponent::CallAsProc(int64_t ANum, const std::vector<THostValue>& AArgs) {
  // The host declares its argument array with room for 1,001 values.
  std::vector<tVariant> params(AArgs.size() > 1001 ? AArgs.size() : 1001);
  for (size_t i = 0; i < AArgs.size(); ++i) FillVariant(AArgs[i], params[i]);
  TCallResult r;
  r.Returned = QD_CALL(FCallAsProc, kCallAsProc, 1, static_cast<host_long>(ANum), params.data(),
                       static_cast<host_long>(AArgs.size()));
  for (size_t i = 0; i < AArgs.size(); ++i) r.Args.push_back(ReadVariant(params[i], true));
  return r;
}

TCallResult TComponent::CallAsFunc(int64_t ANum, const std::vector<THostValue>& AArgs, bool AWithResult) {
  std::vector<tVariant> params(AArgs.size() > 1001 ? AArgs.size() : 1001);
  for (size_t i = 0; i < AArgs.size(); ++i) FillVariant(AArgs[i], params[i]);
  tVariant result;
  std::memset(&result, 0, sizeof result);
  TCallResult r;
  r.Returned = QD_CALL(FCallAsFunc, kCallAsFunc, 1, static_cast<host_long>(ANum), AWithResult ? &result : nullptr,
                       params.data(), static_cast<host_long>(AArgs.size()));
  r.Result = ReadVariant(result, true);
  for (size_t i = 0; i < AArgs.size(); ++i) r.Args.push_back(ReadVariant(params[i], true));
  return r;
}

void TComponent::SetLocale(const std::string& ALocale) {
  std::u16string loc = Utf8ToUtf16(ALocale);
  QD_CALL(FSetLocale, kSetLocale, 2, loc.c_str());
}

void TComponent::SetUserInterfaceLanguageCode(const std::string& ACode) {
  std::u16string code = Utf8ToUtf16(ACode);
  const abi::TProc* table = Header()->Object4;
  reinterpret_cast<abi::FSetUserInterfaceLanguageCode>(table[abi::kDtorSlots])(Face(3), code.c_str());
}

TCallResult TComponent::Call(const std::string& AMethod, const std::vector<THostValue>& AArgs) {
  int64_t index = FindMethod(AMethod);
  if (index < 0) throw std::runtime_error("The component has no method " + AMethod);
  return CallAsFunc(index, AArgs);
}

std::string TComponent::LastErrorDescription() {
  THostValue v;
  int64_t index = FindProp("LastErrorDescription");
  if (index < 0 || !GetPropValue(index, v)) return std::string();
  return v.text;
}

}  // namespace qd::host
