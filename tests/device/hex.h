// Byte strings written as spaced hexadecimal ("F1 25 00") for readable expectations.
#pragma once
#include <string>
#include <string_view>

namespace qdtest {

inline std::string Bytes(std::string_view AHex) {
  std::string out;
  int nibbles = 0, value = 0;
  for (char c : AHex) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) continue;
    value = value * 16 + d;
    if (++nibbles == 2) {
      out += static_cast<char>(value);
      nibbles = value = 0;
    }
  }
  return out;
}

inline std::string Spaced(const std::string& ABytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : ABytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// ACount copies of one spaced byte, e.g. Repeat("00", 3) = "00 00 00".
inline std::string Repeat(const std::string& AByte, int ACount) {
  std::string out;
  for (int i = 0; i < ACount; ++i) out += (i ? " " : "") + AByte;
  return out;
}

}  // namespace qdtest
