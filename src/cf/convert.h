// Host values <-> the component's values, and texts in host memory.
#pragma once
#include <string>

#include "cf/host_abi.h"
#include "cf/value.h"

namespace qd {

// Allocation of texts and blocks handed to the host. Texts come from the host's memory
// manager, or from the library's own heap when the host has given none; blocks always come
// from the memory manager.
class THostMemory {
 public:
  explicit THostMemory(void* AMemoryManager) : FManager(AMemoryManager) {}

  // Zero-terminated UTF-16 copy of a UTF-8 text; ALength receives its length in units.
  abi::WCHAR_T* NewText(const std::string& AText, uint32_t* ALength = nullptr) const;
  abi::WCHAR_T* NewText(const std::u16string& AText) const;
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

// Host value -> value; throws std::runtime_error with the user-facing message.
TValue HostToValue(const abi::tVariant& AValue);

// Value -> host value, releasing a text or block the target still holds first.
void ValueToHost(void* AMemoryManager, const TValue& AValue, abi::tVariant& ATarget);

}  // namespace qd
