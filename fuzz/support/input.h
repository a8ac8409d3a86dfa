// A fuzz input read as a stream of little-endian numbers; past its end every read gives 0.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qd::fuzz {

class TInput {
 public:
  TInput(const uint8_t* AData, size_t ASize) : FData(AData), FSize(ASize) {}
  bool Empty() const { return FPos >= FSize; }
  uint8_t U8() { return FPos < FSize ? FData[FPos++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  uint64_t U64() { return static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32; }
  // Up to 31 bytes as they come: any UTF-8, valid or not.
  std::string Bytes() {
    std::string s;
    for (uint8_t n = U8() % 32; n > 0 && !Empty(); --n) s.push_back(static_cast<char>(U8()));
    return s;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

}  // namespace qd::fuzz
