#include "cf/convert.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_set>

#include "common/text.h"

namespace qd {

using abi::tVariant;
using abi::WCHAR_T;

namespace {

const abi::TMemoryManagerTable& Table(void* AManager) {
  return *static_cast<const abi::TMemoryManagerTable*>(static_cast<abi::THostObject*>(AManager)->Data);
}

// Texts that the library took from its own heap because the host gave no memory manager.
// Without one these are the only blocks the library may free: anything else in a host value
// may be the host's own memory. Texts still out when the library goes away stay the host's:
// the set that names them is then left in place, so that they stay reachable to the end.
struct THeapTexts {
  std::mutex Lock;
  std::unordered_set<void*>* Blocks = nullptr;  // made with the first text
  ~THeapTexts() {
    if (Blocks && Blocks->empty()) delete Blocks;
  }
};

THeapTexts& HeapTexts() {
  static THeapTexts texts;
  return texts;
}

// A text block handed to a host without a memory manager. The host cannot give it back, so
// unless the library overwrites it in a later call it stays for the life of the process.
void* NewLibraryHeapText(size_t ASize) {
  void* block = std::malloc(ASize ? ASize : 1);
  if (block) {
    THeapTexts& texts = HeapTexts();
    std::lock_guard<std::mutex> guard(texts.Lock);
    if (!texts.Blocks) texts.Blocks = new std::unordered_set<void*>;
    texts.Blocks->insert(block);
  }
  return block;
}

void FreeLibraryHeapText(void* ABlock) {
  THeapTexts& texts = HeapTexts();
  std::lock_guard<std::mutex> guard(texts.Lock);
  if (texts.Blocks && texts.Blocks->erase(ABlock)) std::free(ABlock);
}

}  // namespace

void* THostMemory::Alloc(size_t ASize, bool AAllowHeap) const {
  void* block = nullptr;
  if (FManager) {
    if (ASize > 0xFFFFFFFFu) throw std::runtime_error("Слишком большой объём данных для передачи");
    Table(FManager).AllocMem(FManager, &block, static_cast<abi::host_ulong>(ASize));
  } else if (AAllowHeap) {
    block = NewLibraryHeapText(ASize);
  } else {
    throw std::runtime_error(kMsgNoMemoryManager);
  }
  if (!block) throw std::runtime_error("Не удалось выделить память");
  return block;
}

void THostMemory::Free(void* ABlock, bool AAllowHeap) const {
  if (!ABlock) return;
  if (FManager)
    Table(FManager).FreeMem(FManager, &ABlock);
  else if (AAllowHeap)
    FreeLibraryHeapText(ABlock);
}

WCHAR_T* THostMemory::NewText(const std::string& AText, uint32_t* ALength) const {
  // Converted straight into the block the host gets: no second copy of a long text.
  size_t units = Utf8ToUtf16(AText, nullptr);
  auto* text = static_cast<WCHAR_T*>(Alloc((units + 1) * sizeof(WCHAR_T), true));
  Utf8ToUtf16(AText, text);
  text[units] = 0;
  if (ALength) *ALength = static_cast<uint32_t>(units);
  return text;
}

void THostMemory::FreeText(WCHAR_T*& AText) const {
  Free(AText, true);
  AText = nullptr;
}

char* THostMemory::NewBlock(uint32_t ASize) const { return static_cast<char*>(Alloc(ASize, false)); }

void THostMemory::FreeBlock(char*& ABlock) const {
  Free(ABlock, false);
  ABlock = nullptr;
}

// A zero-terminated text: no host text comes near the largest length.
std::string HostText(const WCHAR_T* AText) { return HostText(AText, UINT32_MAX); }

std::string HostText(const WCHAR_T* AText, uint32_t ALength) {
  if (!AText) return std::string();
  size_t n = 0;
  while (n < ALength && AText[n]) ++n;
  return Utf16ToUtf8(std::u16string_view(AText, n));
}

bool NeedsMemoryManager(const tVariant& AValue) { return AValue.vt == abi::VTYPE_BLOB; }

TValue HostToValue(const tVariant& AValue) {
  switch (AValue.vt) {
    case abi::VTYPE_EMPTY: return TValue();
    case abi::VTYPE_I4: return TValue::Int(AValue.intVal);
    case abi::VTYPE_R8: return TValue::Dbl(AValue.dbVal);
    case abi::VTYPE_TM: {
      const abi::host_tm& t = AValue.tmVal;
      auto low16 = [](int64_t v) { return static_cast<int>(static_cast<uint16_t>(v)); };
      int year = low16(static_cast<int64_t>(t.tm_year) + 1900), month = low16(static_cast<int64_t>(t.tm_mon) + 1);
      int day = low16(t.tm_mday), hour = low16(t.tm_hour), minute = low16(t.tm_min), second = low16(t.tm_sec);
      double days = 0;
      if (!EncodeDateTime(year, month, day, hour, minute, second, 0, days)) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d' is not a valid date and time", year, month,
                      day, hour, minute, second);
        throw std::runtime_error(buf);
      }
      return TValue::Date(days);
    }
    case abi::VTYPE_ERROR: {
      // A 32-bit payload kept as the low half of a date-time's day number.
      uint64_t bits = static_cast<uint32_t>(AValue.intVal);
      double days;
      std::memcpy(&days, &bits, sizeof days);
      return TValue::Date(days);
    }
    case abi::VTYPE_BOOL: return TValue::Bool(AValue.bVal != 0);
    case abi::VTYPE_PWSTR: return TValue::Str(HostText(AValue.wstr.pwstrVal, AValue.wstr.wstrLen));
    case abi::VTYPE_BLOB: {
      // A null block is empty whatever its length says.
      uint32_t n = AValue.str.pstrVal ? AValue.str.strLen : 0;
      std::vector<uint8_t> bytes(static_cast<size_t>(n) + 1, 0);
      if (n) std::memcpy(bytes.data(), AValue.str.pstrVal, n);
      return TValue::Bytes(std::move(bytes));
    }
    default: throw std::runtime_error("Неподдерживаемый тип данных");
  }
}

void ValueToHost(void* AMemoryManager, const TValue& AValue, tVariant& ATarget) {
  THostMemory memory(AMemoryManager);
  if (ATarget.vt == abi::VTYPE_PWSTR && ATarget.wstr.pwstrVal) memory.FreeText(ATarget.wstr.pwstrVal);
  if (ATarget.vt == abi::VTYPE_BLOB && ATarget.str.pstrVal && AMemoryManager) memory.FreeBlock(ATarget.str.pstrVal);
  std::memset(&ATarget, 0, sizeof ATarget);
  switch (AValue.Kind()) {
    case TValueKind::Integer: {
      int64_t v = AValue.AsInt();
      if (std::fabs(static_cast<double>(v)) >= 2147483647.0) {
        ATarget.IIVal = v;
        ATarget.vt = abi::VTYPE_I8;
      } else {
        ATarget.intVal = static_cast<int32_t>(v);
        ATarget.vt = abi::VTYPE_I4;
      }
      break;
    }
    case TValueKind::Double:
      ATarget.dbVal = AValue.AsDouble();
      ATarget.vt = abi::VTYPE_R8;
      break;
    case TValueKind::Currency:
      ATarget.dbVal = static_cast<double>(AValue.AsInt()) / 10000.0;
      ATarget.vt = abi::VTYPE_R8;
      break;
    case TValueKind::DateTime:
      ATarget.date = AValue.AsDouble();
      ATarget.vt = abi::VTYPE_DATE;
      break;
    case TValueKind::String: {
      uint32_t length = 0;
      ATarget.wstr.pwstrVal = memory.NewText(AValue.AsString(), &length);
      ATarget.wstr.wstrLen = length;
      ATarget.vt = abi::VTYPE_PWSTR;
      break;
    }
    case TValueKind::Boolean:
      ATarget.bVal = AValue.AsBool() ? 1 : 0;
      ATarget.vt = abi::VTYPE_BOOL;
      break;
    case TValueKind::ByteArray: {
      // The block holds elements 0 .. upper bound - 1: a block that came from the host
      // (with its trailing zero element) goes back with its own length.
      const std::vector<uint8_t>& bytes = AValue.AsBytes();
      size_t n = bytes.empty() ? 0 : bytes.size() - 1;
      if (n > 0xFFFFFFFFu) throw std::runtime_error("Слишком большой объём данных для передачи");
      char* block = memory.NewBlock(static_cast<uint32_t>(n));
      if (n) std::memcpy(block, bytes.data(), n);
      ATarget.str.pstrVal = block;
      ATarget.str.strLen = static_cast<uint32_t>(n);
      ATarget.vt = abi::VTYPE_BLOB;
      break;
    }
    case TValueKind::Array: throw std::runtime_error("Неподдерживаемый тип массива.");
    case TValueKind::Empty:
    case TValueKind::Null: break;
  }
}

}  // namespace qd
