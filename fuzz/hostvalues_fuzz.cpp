// Host values through the real exports: the input is decoded into a short sequence of calls
// on a component created through the module's exports, with every value kind the host knows
// and some it does not, out-of-range method and property numbers, any argument count, texts
// without a terminating zero or with zeros inside, and null texts and blocks with a length.
// Buffers are exactly as long as their values say, so that reading past them is caught.
//
// The driver stays on loopback: before every call its address and port are set to a local
// peer that accepts every command. The window actions are never run.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/input.h"
#include "support/module_host.h"

namespace {

using namespace qd;
using abi::tVariant;
using abi::WCHAR_T;
using host::TComponent;
using host::THostValue;
using host::TMemoryManager;

using qd::fuzz::TInput;

// Value type codes: the ten the host uses, then some it does not.
constexpr uint16_t kTypes[] = {0, 3, 5, 6, 7, 9, 11, 17, 22, 23, 1, 2, 8, 10, 24, 0xFFFF};

// Lengths: mostly short, now and then a few thousand.
uint32_t Length(TInput& AIn) {
  uint8_t b = AIn.U8();
  return b < 240 ? b % 64 : (static_cast<uint32_t>(b) - 239) * 256;
}

// One host value. Buffers come from the host's memory manager (the one the component has,
// or would have had), exactly as long as the value says.
void FillValue(TInput& AIn, TMemoryManager& AMemory, tVariant& AOut) {
  std::memset(&AOut, 0, sizeof AOut);
  AOut.vt = kTypes[AIn.U8() % (sizeof kTypes / sizeof kTypes[0])];
  switch (AOut.vt) {
    case abi::VTYPE_I4:
    case abi::VTYPE_ERROR: AOut.intVal = static_cast<int32_t>(AIn.U32()); break;
    case abi::VTYPE_I8: AOut.IIVal = static_cast<int64_t>(AIn.U64()); break;
    case abi::VTYPE_R8:
    case abi::VTYPE_DATE: {
      uint64_t bits = AIn.U64();
      std::memcpy(&AOut.dbVal, &bits, sizeof bits);
      break;
    }
    case abi::VTYPE_BOOL: AOut.bVal = AIn.U8(); break;
    case abi::VTYPE_TM: {
      bool wide = AIn.U8() & 1;
      int32_t* fields[] = {&AOut.tmVal.tm_sec,  &AOut.tmVal.tm_min,  &AOut.tmVal.tm_hour,
                           &AOut.tmVal.tm_mday, &AOut.tmVal.tm_mon,  &AOut.tmVal.tm_year,
                           &AOut.tmVal.tm_wday, &AOut.tmVal.tm_yday, &AOut.tmVal.tm_isdst};
      for (int32_t* f : fields) *f = wide ? static_cast<int32_t>(AIn.U32()) : static_cast<int8_t>(AIn.U8());
      break;
    }
    case abi::VTYPE_PWSTR: {
      // 0: no terminating zero; 1: a terminating zero after the declared length; 2: no text.
      uint8_t mode = AIn.U8() % 3;
      uint32_t length = Length(AIn);
      AOut.wstr.wstrLen = length;
      if (mode == 2) break;
      size_t units = length + (mode == 1 ? 1 : 0);
      auto* text = static_cast<WCHAR_T*>(AMemory.Alloc(units * sizeof(WCHAR_T)));
      for (uint32_t i = 0; i < length; ++i) text[i] = static_cast<WCHAR_T>(AIn.U16());
      if (mode == 1) text[length] = 0;
      AOut.wstr.pwstrVal = text;
      break;
    }
    case abi::VTYPE_BLOB: {
      bool none = AIn.U8() & 1;
      uint32_t length = Length(AIn);
      AOut.str.strLen = length;
      if (none) break;
      auto* block = static_cast<char*>(AMemory.Alloc(length));
      for (uint32_t i = 0; i < length; ++i) block[i] = static_cast<char>(AIn.U8());
      AOut.str.pstrVal = block;
      break;
    }
    default: AOut.IIVal = static_cast<int64_t>(AIn.U64()); break;  // whatever an unknown kind holds
  }
  if (AIn.U8() == 0xFF) AOut.cbElements = AIn.U32();
}

// Gives the host's blocks back after a call: the ones the values point at now and the ones
// they pointed at before (unless the component released them already).
void Release(TMemoryManager& AMemory, tVariant* AValues, size_t ACount, const std::vector<void*>& ABefore) {
  for (size_t i = 0; i < ACount; ++i) {
    void* p = AValues[i].vt == abi::VTYPE_PWSTR   ? static_cast<void*>(AValues[i].wstr.pwstrVal)
              : AValues[i].vt == abi::VTYPE_BLOB ? static_cast<void*>(AValues[i].str.pstrVal)
                                                 : nullptr;
    if (p && AMemory.Owns(p)) AMemory.Free(p);
  }
  for (void* p : ABefore)
    if (p && AMemory.Owns(p)) AMemory.Free(p);
}

std::vector<void*> Blocks(const tVariant* AValues, size_t ACount) {
  std::vector<void*> blocks;
  for (size_t i = 0; i < ACount; ++i) {
    if (AValues[i].vt == abi::VTYPE_PWSTR) blocks.push_back(AValues[i].wstr.pwstrVal);
    if (AValues[i].vt == abi::VTYPE_BLOB) blocks.push_back(AValues[i].str.pstrVal);
  }
  return blocks;
}

// A zero-terminated text for the routines that take no length.
std::u16string Name(TInput& AIn) {
  std::u16string s;
  for (uint32_t n = AIn.U8() % 24; n > 0; --n) s.push_back(static_cast<char16_t>(AIn.U16() ? AIn.U16() : u'?'));
  return s;
}

// A method or property number: mostly near the valid range, sometimes anything.
abi::host_long Number(TInput& AIn, int64_t ACount) {
  uint8_t b = AIn.U8();
  if (b < 0xF0) return static_cast<abi::host_long>(b % (ACount + 3)) - 1;
  return static_cast<abi::host_long>(AIn.U64());
}

// The component's routine with index AIndex, found the way the host finds it.
template <class F>
F Routine(const TComponent& AComponent, int AIndex, void*& AFace) {
  int face = AIndex < abi::kMembersStart ? 0 : AIndex < abi::kLocaleStart ? 1 : 2;
  int start = face == 0 ? abi::kLifecycleStart : face == 1 ? abi::kMembersStart : abi::kLocaleStart;
  AFace = static_cast<char*>(AComponent.Interface()) + 8 * face;
  const abi::TProc* table = *static_cast<const abi::TProc* const*>(AFace);
  return reinterpret_cast<F>(table[AIndex - start]);
}
#define QD_ROUTINE(type, index, ...)                                  \
  [&] {                                                               \
    void* face = nullptr;                                             \
    auto fn = Routine<abi::type>(C, abi::index, face);                \
    return fn(face, ##__VA_ARGS__);                                   \
  }()

struct TFixture {
  qd::fuzz::TLoopbackPeer Peer;
  int64_t ActionMethod = -1;
};

TFixture& Fixture() {
  static TFixture* f = [] {
    auto* fx = new TFixture;
    TComponent probe(qd::fuzz::Module(), "w_quendal7v2k");
    fx->ActionMethod = probe.FindMethod("DoAdditionalAction");
    return fx;
  }();
  return *f;
}

// Keeps the driver on loopback and its log as the input chose, whatever earlier calls set.
// The call goes straight through the routine table, so that what the component hands back is
// released only when it came from the host's memory manager.
void Pin(TComponent& C, bool ALog) {
  static const int64_t method = C.FindMethod("SetParameter");
  auto set = [&](const char16_t* AName, const std::u16string& AValue) {
    tVariant params[2];
    std::memset(params, 0, sizeof params);
    const std::u16string* texts[] = {nullptr, &AValue};
    std::u16string name(AName);
    texts[0] = &name;
    for (int i = 0; i < 2; ++i) {
      auto* text = static_cast<WCHAR_T*>(C.Memory.Alloc((texts[i]->size() + 1) * sizeof(WCHAR_T)));
      std::memcpy(text, texts[i]->c_str(), (texts[i]->size() + 1) * sizeof(WCHAR_T));
      params[i].vt = abi::VTYPE_PWSTR;
      params[i].wstr.pwstrVal = text;
      params[i].wstr.wstrLen = static_cast<uint32_t>(texts[i]->size());
    }
    std::vector<void*> before = Blocks(params, 2);
    tVariant result;
    std::memset(&result, 0, sizeof result);
    QD_ROUTINE(FCallAsFunc, kCallAsFunc, method, &result, params, 2);
    Release(C.Memory, &result, 1, {});
    Release(C.Memory, params, 2, before);
  };
  std::string port = std::to_string(Fixture().Peer.Port());
  set(u"IPAddress", u"127.0.0.1");
  set(u"IPPort", std::u16string(port.begin(), port.end()));
  set(u"LogEnabled", ALog ? u"true" : u"false");
}

void RunCall(TComponent& C, TInput& AIn, bool AAsFunction, bool ALog) {
  int64_t methods = C.GetNMethods();
  abi::host_long method = Number(AIn, methods);
  size_t count = AIn.U8() % 6;
  std::unique_ptr<tVariant[]> params(count ? new tVariant[count] : nullptr);
  for (size_t i = 0; i < count; ++i) FillValue(AIn, C.Memory, params[i]);
  std::vector<void*> before = Blocks(params.get(), count);
  // The window actions would wait for a user; any text could name one of them.
  bool window = method == Fixture().ActionMethod &&
                (count == 0 || params[0].vt == abi::VTYPE_PWSTR || params[0].vt == abi::VTYPE_BLOB);
  if (!window) {
    Pin(C, ALog);
    if (AAsFunction) {
      bool withResult = AIn.U8() & 1;
      tVariant result;
      std::memset(&result, 0, sizeof result);
      QD_ROUTINE(FCallAsFunc, kCallAsFunc, method, withResult ? &result : nullptr, params.get(),
                 static_cast<abi::host_long>(count));
      Release(C.Memory, &result, 1, {});
    } else {
      QD_ROUTINE(FCallAsProc, kCallAsProc, method, params.get(), static_cast<abi::host_long>(count));
    }
  }
  Release(C.Memory, params.get(), count, before);
}

void RunOne(TComponent& C, TInput& AIn, bool ALog) {
  switch (AIn.U8() % 10) {
    case 0: RunCall(C, AIn, true, ALog); break;
    case 1: RunCall(C, AIn, false, ALog); break;
    case 2: {
      abi::host_long m = Number(AIn, C.GetNMethods());
      QD_ROUTINE(FGetNParams, kGetNParams, m);
      QD_ROUTINE(FHasRetVal, kHasRetVal, m);
      tVariant v;
      std::memset(&v, 0, sizeof v);
      QD_ROUTINE(FGetParamDefValue, kGetParamDefValue, m, Number(AIn, 6), &v);
      Release(C.Memory, &v, 1, {});
      break;
    }
    case 3: {
      tVariant v;
      std::memset(&v, 0, sizeof v);
      QD_ROUTINE(FGetPropValue, kGetPropValue, Number(AIn, C.GetNProps()), &v);
      Release(C.Memory, &v, 1, {});
      break;
    }
    case 4: {
      abi::host_long p = Number(AIn, C.GetNProps());
      tVariant v;
      FillValue(AIn, C.Memory, v);
      std::vector<void*> before = Blocks(&v, 1);
      Pin(C, ALog);
      QD_ROUTINE(FSetPropValue, kSetPropValue, p, &v);
      Release(C.Memory, &v, 1, before);
      break;
    }
    case 5: {
      abi::host_long p = Number(AIn, C.GetNProps());
      QD_ROUTINE(FIsPropReadable, kIsPropReadable, p);
      QD_ROUTINE(FIsPropWritable, kIsPropWritable, p);
      break;
    }
    case 6: {
      bool props = AIn.U8() & 1;
      abi::host_long n = Number(AIn, props ? C.GetNProps() : C.GetNMethods());
      abi::host_long alias = static_cast<int8_t>(AIn.U8());
      const WCHAR_T* name = props ? QD_ROUTINE(FGetPropName, kGetPropName, n, alias)
                                  : QD_ROUTINE(FGetMethodName, kGetMethodName, n, alias);
      if (name && C.Memory.Owns(name)) C.Memory.Free(const_cast<WCHAR_T*>(name));
      break;
    }
    case 7: {
      std::u16string name = Name(AIn);
      if (AIn.U8() & 1)
        QD_ROUTINE(FFindProp, kFindProp, name.c_str());
      else
        QD_ROUTINE(FFindMethod, kFindMethod, name.c_str());
      break;
    }
    case 8: {
      std::u16string locale = Name(AIn);
      QD_ROUTINE(FSetLocale, kSetLocale, locale.c_str());
      break;
    }
    default: {
      WCHAR_T* name = nullptr;
      QD_ROUTINE(FRegisterExtensionAs, kRegisterExtensionAs, &name);
      if (name && C.Memory.Owns(name)) C.Memory.Free(name);
      QD_ROUTINE(FGetInfo, kGetInfo);
      break;
    }
  }
}

}  // namespace

// The module is loaded before fuzzing starts, so that its coverage counts from the first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Fixture();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFixture& fixture = Fixture();
  TInput in(AData, ASize);
  uint8_t flags = in.U8();
  bool init = !(flags & 1), memory = !(flags & 2), log = (flags & 4) != 0;
  {
    TComponent C(qd::fuzz::Module(), "w_quendal7v2k", init, memory);
    for (int calls = 0; calls < 8 && !in.Empty(); ++calls) RunOne(C, in, log);
    qd::fuzz::EndInput(C, fixture.Peer);
  }
  if (log) qd::fuzz::ClearLogs();
  return 0;
}
