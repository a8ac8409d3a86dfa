// Host values <-> the component's values, and texts in host memory.
#pragma once
#include <string>

#include "cf/host_abi.h"
#include "cf/value.h"

namespace qd {

inline constexpr const char* kMsgNoMemoryManager = "Менеджер памяти не задан";

// Allocation of texts and blocks handed to the host. Texts come from the host's memory
// manager, or from the library's own heap when the host has given none; blocks always come
// from the memory manager. Without a memory manager a text is freed only when the library
// took it from its heap itself.
class THostMemory {
 public:
  explicit THostMemory(void* AMemoryManager) : FManager(AMemoryManager) {}

  // Zero-terminated UTF-16 copy of a UTF-8 text; ALength receives its length in units.
  abi::WCHAR_T* NewText(const std::string& AText, uint32_t* ALength = nullptr) const;
  void FreeText(abi::WCHAR_T*& AText) const;
  char* NewBlock(uint32_t ASize) const;
  void FreeBlock(char*& ABlock) const;

 private:
  void* Alloc(size_t ASize, bool AAllowHeap) const;
  void Free(void* ABlock, bool AAllowHeap) const;
  void* FManager;
};

// UTF-8 text of a zero-terminated host text (empty for null).
std::string HostText(const abi::WCHAR_T* AText);
// UTF-8 text of a host text of at most ALength units, cut at the first zero unit if one comes
// earlier (empty for null, whatever the length says).
std::string HostText(const abi::WCHAR_T* AText, uint32_t ALength);

// True when writing AValue back into a host value takes the host's memory manager (a block).
bool NeedsMemoryManager(const abi::tVariant& AValue);

// Host value -> value; throws std::runtime_error with the user-facing message.
TValue HostToValue(const abi::tVariant& AValue);

// Value -> host value. A text or block the target still holds is released first through the
// memory manager; without one, only a text that the library itself took from its heap is
// freed, and anything else (the host's own memory) is let go untouched.
void ValueToHost(void* AMemoryManager, const TValue& AValue, abi::tVariant& ATarget);

}  // namespace qd
