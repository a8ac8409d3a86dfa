#include "common/text.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace qd {

namespace {

// Decodes one code point at APos (advancing it); invalid sequences give U+FFFD and one byte.
char32_t DecodeUtf8(std::string_view AText, size_t& APos) {
  char32_t c = 0;
  return NextUtf8CodePoint(AText, APos, c) ? c : 0xFFFD;
}

std::atomic<char> gDecimalSeparator{'.'};

}  // namespace

bool NextUtf8CodePoint(std::string_view AText, size_t& APos, char32_t& ACode) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(AText[i]); };
  unsigned char b0 = byte(APos);
  if (b0 < 0x80) {
    ++APos;
    ACode = b0;
    return true;
  }
  int len = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 && b0 <= 0xEF ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
  if (len == 0 || APos + len > AText.size()) {
    ++APos;
    return false;
  }
  char32_t c = b0 & (0x7F >> len);
  for (int i = 1; i < len; ++i) {
    unsigned char b = byte(APos + i);
    if ((b & 0xC0) != 0x80) {
      ++APos;
      return false;
    }
    c = (c << 6) | (b & 0x3F);
  }
  // Overlong forms and values past U+10FFFF.
  static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[len] || c > 0x10FFFF) {
    ++APos;
    return false;
  }
  APos += len;
  ACode = c;
  return true;
}

int HexDigitValue(char AChar) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  return -1;
}

std::string Utf16ToUtf8(std::u16string_view AText) {
  // Sized exactly first, then written: long texts (whole tables) take one pass each and no
  // growth of the result.
  const size_t n = AText.size();
  auto pairAt = [&](size_t i) {
    return AText[i] >= 0xD800 && AText[i] < 0xDC00 && i + 1 < n && AText[i + 1] >= 0xDC00 && AText[i + 1] < 0xE000;
  };
  size_t bytes = 0;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = AText[i];
    if (c < 0x80) {
      bytes += 1;
    } else if (c < 0x800) {
      bytes += 2;
    } else if (pairAt(i)) {
      bytes += 4;
      ++i;
    } else {
      bytes += 3;
    }
  }
  std::string out(bytes, '\0');
  char* p = out.data();
  for (size_t i = 0; i < n; ++i) {
    char32_t c = AText[i];
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (pairAt(i)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (AText[i + 1] - 0xDC00);
      ++i;
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
    }
    *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

size_t Utf8ToUtf16(std::string_view AText, char16_t* AOut) {
  size_t units = 0;
  auto put = [&](char16_t AUnit) {
    if (AOut) AOut[units] = AUnit;
    ++units;
  };
  size_t pos = 0;
  const size_t n = AText.size();
  while (pos < n) {
    unsigned char b0 = static_cast<unsigned char>(AText[pos]);
    // ASCII and two-byte sequences, most of any text, are decoded here.
    if (b0 < 0x80) {
      put(static_cast<char16_t>(b0));
      ++pos;
      continue;
    }
    if (b0 >= 0xC2 && b0 < 0xE0 && pos + 1 < n && (static_cast<unsigned char>(AText[pos + 1]) & 0xC0) == 0x80) {
      put(static_cast<char16_t>(((b0 & 0x1F) << 6) | (static_cast<unsigned char>(AText[pos + 1]) & 0x3F)));
      pos += 2;
      continue;
    }
    // A lone surrogate written by Utf16ToUtf8 (ED A0..BF xx) comes back as itself.
    if (b0 == 0xED && pos + 2 < n) {
      unsigned char b1 = static_cast<unsigned char>(AText[pos + 1]);
      unsigned char b2 = static_cast<unsigned char>(AText[pos + 2]);
      if (b1 >= 0xA0 && b1 <= 0xBF && (b2 & 0xC0) == 0x80) {
        put(static_cast<char16_t>(0xD000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F)));
        pos += 3;
        continue;
      }
    }
    char32_t c = DecodeUtf8(AText, pos);
    if (c >= 0x10000) {
      c -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (c >> 10)));
      put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      put(static_cast<char16_t>(c));
    }
  }
  return units;
}

std::u16string Utf8ToUtf16(std::string_view AText) {
  // Sized exactly first, then written: no growth and no spare capacity for long texts.
  std::u16string out(Utf8ToUtf16(AText, nullptr), u'\0');
  Utf8ToUtf16(AText, out.data());
  return out;
}

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;  // Latin-1 capitals
  if (c >= 0x100 && c <= 0x17F) {                          // Latin Extended-A: mostly pairs
    if (c == 0x130) return 'i';
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x149 && c <= 0x177) return (c & 1) ? c : c + 1;
    if (c < 0x138) return (c & 1) ? c : c + 1;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x400 && c <= 0x40F) return c + 80;                // Cyrillic Ѐ..Џ
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic А..Я
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
    return (c & 1) ? c : c + 1;
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c + 1 : c;
  if (c >= 0x531 && c <= 0x556) return c + 48;  // Armenian
  return c;
}

bool SameText(std::string_view A, std::string_view B) {
  size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    unsigned char a = static_cast<unsigned char>(A[i]);
    unsigned char b = static_cast<unsigned char>(B[j]);
    if (a < 0x80 && b < 0x80) {
      if (FoldCase(a) != FoldCase(b)) return false;
      ++i;
      ++j;
      continue;
    }
    if (FoldCase(DecodeUtf8(A, i)) != FoldCase(DecodeUtf8(B, j))) return false;
  }
  return i == A.size() && j == B.size();
}

std::string Trim(std::string_view AText) {
  size_t b = 0, e = AText.size();
  while (b < e && static_cast<unsigned char>(AText[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(AText[e - 1]) <= 32) --e;
  return std::string(AText.substr(b, e - b));
}

char DecimalSeparator() { return gDecimalSeparator.load(std::memory_order_relaxed); }
void SetDecimalSeparator(char ASeparator) { gDecimalSeparator.store(ASeparator, std::memory_order_relaxed); }

std::string FloatToStr(double AValue) {
  if (std::isnan(AValue)) return "NAN";
  if (std::isinf(AValue)) return AValue > 0 ? "INF" : "-INF";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, AValue);
  std::string out(buf, res.ptr);
  for (char& ch : out)
    if (ch == '.') ch = DecimalSeparator();
  return out;
}

}  // namespace qd
