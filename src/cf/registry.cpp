#include "cf/registry.h"

#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "cf/convert.h"
#include "common/text.h"

namespace qd {

using namespace abi;

namespace {

// The registered classes. Hosts may call the exports on any thread, also while the library is
// being unloaded at a process exit: the list is never destroyed, readers work on a copy taken
// under the lock, and the unload never waits for the lock (a thread stopped at the exit may
// hold it for good).
struct TClassList {
  std::mutex Lock;
  std::vector<TNativeComponents> Classes;
};

TClassList& ClassList() {
  static TClassList* const list = new TClassList;
  return *list;
}

std::vector<TNativeComponents> Classes() {
  TClassList& l = ClassList();
  std::lock_guard<std::mutex> guard(l.Lock);
  return l.Classes;
}

// ---- the routine tables ----

TCustomNativeComponent* SelfOf(void* p) {
  // The component sits 32 bytes after the interface pointer: Self1 for Object1, and so on.
  return *reinterpret_cast<TCustomNativeComponent**>(static_cast<char*>(p) + 32);
}

void Nothing(void*) {}

// Each entry forwards to the component and keeps every failure on this side.
bool EInit(void* p, void* c) try { return SelfOf(p)->Init(c); } catch (...) { return false; }
bool ESetMemManager(void* p, void* m) try { return SelfOf(p)->setMemManager(m); } catch (...) { return false; }
host_long EGetInfo(void* p) try { return SelfOf(p)->GetInfo(); } catch (...) { return 0; }
void EDone(void* p) try { SelfOf(p)->Done(); } catch (...) {}
bool ERegisterExtensionAs(void* p, WCHAR_T** n) try { return SelfOf(p)->RegisterExtensionAs(n); } catch (...) { return false; }
host_long EGetNProps(void* p) try { return SelfOf(p)->GetNProps(); } catch (...) { return 0; }
host_long EFindProp(void* p, const WCHAR_T* n) try { return SelfOf(p)->FindProp(n); } catch (...) { return -1; }
const WCHAR_T* EGetPropName(void* p, host_long i, host_long a) try { return SelfOf(p)->GetPropName(i, a); } catch (...) { return nullptr; }
bool EGetPropValue(void* p, host_long i, tVariant* v) try { return SelfOf(p)->GetPropValue(i, v); } catch (...) { return false; }
bool ESetPropValue(void* p, host_long i, tVariant* v) try { return SelfOf(p)->SetPropValue(i, v); } catch (...) { return false; }
bool EIsPropReadable(void* p, host_long i) try { return SelfOf(p)->IsPropReadable(i); } catch (...) { return false; }
bool EIsPropWritable(void* p, host_long i) try { return SelfOf(p)->IsPropWritable(i); } catch (...) { return false; }
host_long EGetNMethods(void* p) try { return SelfOf(p)->GetNMethods(); } catch (...) { return 0; }
host_long EFindMethod(void* p, const WCHAR_T* n) try { return SelfOf(p)->FindMethod(n); } catch (...) { return -1; }
const WCHAR_T* EGetMethodName(void* p, host_long i, host_long a) try { return SelfOf(p)->GetMethodName(i, a); } catch (...) { return nullptr; }
host_long EGetNParams(void* p, host_long i) try { return SelfOf(p)->GetNParams(i); } catch (...) { return 0; }
bool EGetParamDefValue(void* p, host_long i, host_long j, tVariant* v) try { return SelfOf(p)->GetParamDefValue(i, j, v); } catch (...) { return false; }
bool EHasRetVal(void* p, host_long i) try { return SelfOf(p)->HasRetVal(i); } catch (...) { return false; }
bool ECallAsProc(void* p, host_long i, tVariant* a, host_long n) try { return SelfOf(p)->CallAsProc(i, a, n); } catch (...) { return false; }
bool ECallAsFunc(void* p, host_long i, tVariant* r, tVariant* a, host_long n) try { return SelfOf(p)->CallAsFunc(i, r, a, n); } catch (...) { return false; }
void ESetLocale(void* p, const WCHAR_T* l) try { SelfOf(p)->SetLocale(l); } catch (...) {}
void ESetUserInterfaceLanguageCode(void*, const WCHAR_T*) {}

template <class F>
TProc Entry(F AFunction) {
  return reinterpret_cast<TProc>(AFunction);
}

// The fourth interface of newer hosts; its one routine has nothing to do here.
struct TUserLangTable {
  TProc Slots[kUserLangCount];
  TUserLangTable() {
    for (TProc& s : Slots) s = Entry(&Nothing);
    Slots[kDtorSlots] = Entry(&ESetUserInterfaceLanguageCode);
  }
};
const TUserLangTable kUserLangTable;

// Text buffer of GetClassNames: 1,003 characters and the terminating zero.
WCHAR_T gClassNames[1004];
std::mutex gClassNamesLock;

}  // namespace

TObjectHeader* TCustomNativeComponent::GetNativeComponentObjectHeader() {
  auto* h = new TObjectHeader;
  std::memset(h, 0, sizeof *h);
  h->Self = h->Self1 = h->Self2 = h->Self3 = h->Self4 = this;
  for (TProc& slot : h->Procs) slot = Entry(&Nothing);
  h->Procs[kInit] = Entry(&EInit);
  h->Procs[kSetMemManager] = Entry(&ESetMemManager);
  h->Procs[kGetInfo] = Entry(&EGetInfo);
  h->Procs[kDone] = Entry(&EDone);
  h->Procs[kRegisterExtensionAs] = Entry(&ERegisterExtensionAs);
  h->Procs[kGetNProps] = Entry(&EGetNProps);
  h->Procs[kFindProp] = Entry(&EFindProp);
  h->Procs[kGetPropName] = Entry(&EGetPropName);
  h->Procs[kGetPropValue] = Entry(&EGetPropValue);
  h->Procs[kSetPropValue] = Entry(&ESetPropValue);
  h->Procs[kIsPropReadable] = Entry(&EIsPropReadable);
  h->Procs[kIsPropWritable] = Entry(&EIsPropWritable);
  h->Procs[kGetNMethods] = Entry(&EGetNMethods);
  h->Procs[kFindMethod] = Entry(&EFindMethod);
  h->Procs[kGetMethodName] = Entry(&EGetMethodName);
  h->Procs[kGetNParams] = Entry(&EGetNParams);
  h->Procs[kGetParamDefValue] = Entry(&EGetParamDefValue);
  h->Procs[kHasRetVal] = Entry(&EHasRetVal);
  h->Procs[kCallAsProc] = Entry(&ECallAsProc);
  h->Procs[kCallAsFunc] = Entry(&ECallAsFunc);
  h->Procs[kSetLocale] = Entry(&ESetLocale);
  h->Object1 = &h->Procs[kLifecycleStart];
  h->Object2 = &h->Procs[kMembersStart];
  h->Object3 = &h->Procs[kLocaleStart];
  h->Object4 = kUserLangTable.Slots;
  return h;
}

void RegisterNativeComponent(const TNativeComponents& AClass) {
  TClassList& l = ClassList();
  std::lock_guard<std::mutex> guard(l.Lock);
  l.Classes.push_back(AClass);
}

void ClearNativeComponents() {
  TClassList& l = ClassList();
  std::unique_lock<std::mutex> guard(l.Lock, std::try_to_lock);
  if (guard.owns_lock()) l.Classes.clear();
}

const WCHAR_T* GetClassNamesImpl() {
  try {
    std::u16string names;
    for (const TNativeComponents& c : Classes()) {
      if (!names.empty()) names += u'|';
      names += Utf8ToUtf16(c.NCClassName());
    }
    // A list longer than the buffer is cut; one class name is far shorter.
    constexpr size_t kMax = sizeof gClassNames / sizeof gClassNames[0] - 1;
    if (names.size() > kMax) names.resize(kMax);
    // Hosts on other threads may be reading the buffer: it is rewritten only when the list
    // has changed, never cleared and refilled with the same names under a reader.
    std::lock_guard<std::mutex> guard(gClassNamesLock);
    if (names != std::u16string_view(gClassNames)) {
      std::memset(gClassNames, 0, (names.size() + 1) * sizeof(WCHAR_T));
      std::memcpy(gClassNames, names.data(), names.size() * sizeof(WCHAR_T));
    }
  } catch (...) {
    std::lock_guard<std::mutex> guard(gClassNamesLock);
    gClassNames[0] = 0;
  }
  return gClassNames;
}

host_long GetClassObjectImpl(const WCHAR_T* wsName, void** pIntf) {
  if (!pIntf) return 0;
  *pIntf = nullptr;
  try {
    std::string name = HostText(wsName);
    for (const TNativeComponents& c : Classes()) {
      if (c.NCClassName() != name) continue;
      TCustomNativeComponent* component = c.Create();
      try {
        *pIntf = component->GetNativeComponentObjectHeader();
      } catch (...) {
        delete component;
        throw;
      }
      return 1;
    }
  } catch (...) {
    *pIntf = nullptr;
  }
  return 0;
}

host_long DestroyObjectImpl(void** pIntf) {
  if (!pIntf || !*pIntf) return 0;
  auto* header = static_cast<TObjectHeader*>(*pIntf);
  try {
    delete static_cast<TCustomNativeComponent*>(header->Self);
  } catch (...) {
  }
  delete header;
  *pIntf = nullptr;
  return 0;
}

}  // namespace qd
