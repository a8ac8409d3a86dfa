// Field encoders and input value readers.
#include "device/Common.h"

#include <pcre2.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "platform/textconv.h"

namespace qd {

namespace {

std::string FieldPrefix(std::string_view AField) {
  if (AField.empty()) return "Недопустимое значение ";
  return "Недопустимое значение поля \"" + std::string(AField) + "\": ";
}

[[noreturn]] void RefuseNumber(std::string_view AField, int64_t AValue, const std::string& AReason) {
  throw std::runtime_error(FieldPrefix(AField) + std::to_string(AValue) + " (" + AReason + ")");
}

void CheckNumber(int64_t AValue, int ASize, bool ADecimal, std::string_view AField) {
  if (ASize < 1) throw std::invalid_argument("field size must be at least 1 byte");
  if (AValue < 0) RefuseNumber(AField, AValue, "значение не может быть отрицательным");
  if (ADecimal) {
    if (ASize >= 10) return;  // 20 digits hold every 64-bit value
    int64_t limit = 1;
    for (int i = 0; i < 2 * ASize; ++i) limit *= 10;
    if (AValue >= limit)
      RefuseNumber(AField, AValue, "не более " + std::to_string(2 * ASize) + " десятичных цифр");
  } else {
    if (ASize >= 8) return;
    int64_t limit = int64_t{1} << (8 * ASize);
    if (AValue >= limit) RefuseNumber(AField, AValue, "не более " + std::to_string(limit - 1));
  }
}

int HexDigit(char AChar) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  return -1;
}

// The compiled line separator of text blocks, shared by every thread (matching is read-only).
struct TSeparator {
  pcre2_code* Code = nullptr;
  TSeparator() {
    int err = 0;
    PCRE2_SIZE offset = 0;
    Code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>("[|]{2}"), PCRE2_ZERO_TERMINATED, 0, &err, &offset, nullptr);
    if (Code == nullptr) throw std::runtime_error("text block separator does not compile");
  }
  ~TSeparator() { pcre2_code_free(Code); }
};

std::vector<std::string> SplitLines(const std::string& ABytes) {
  static const TSeparator separator;
  struct TMatchData {
    pcre2_match_data* Data;
    ~TMatchData() { pcre2_match_data_free(Data); }
  };
  thread_local TMatchData md{pcre2_match_data_create_from_pattern(separator.Code, nullptr)};
  std::vector<std::string> lines;
  auto subject = reinterpret_cast<PCRE2_SPTR>(ABytes.data());
  size_t start = 0;
  for (;;) {
    int rc = pcre2_match(separator.Code, subject, ABytes.size(), start, 0, md.Data, nullptr);
    if (rc < 0) break;
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md.Data);
    lines.push_back(ABytes.substr(start, ov[0] - start));
    start = ov[1];
  }
  lines.push_back(ABytes.substr(start));
  return lines;
}

// Decodes one UTF-8 character at APos; false for a malformed sequence (APos then skips one byte).
bool NextCodePoint(const std::string& AText, size_t& APos, uint32_t& ACode) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(AText[i]); };
  unsigned char lead = b(APos);
  size_t len;
  uint32_t cp;
  if (lead < 0x80) {
    ACode = lead;
    ++APos;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    cp = lead & 0x07;
  } else {
    ++APos;
    return false;
  }
  if (APos + len > AText.size()) {
    ++APos;
    return false;
  }
  for (size_t i = 1; i < len; ++i) {
    if ((b(APos + i) & 0xC0) != 0x80) {
      ++APos;
      return false;
    }
    cp = (cp << 6) | (b(APos + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are malformed.
  static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++APos;
    return false;
  }
  ACode = cp;
  APos += len;
  return true;
}

bool EqualsNoCase(const std::string& AText, const char* AWord) {
  size_t i = 0;
  for (; AWord[i] != '\0'; ++i) {
    if (i >= AText.size()) return false;
    char c = AText[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != AWord[i]) return false;
  }
  return i == AText.size();
}

}  // namespace

std::string TrimControls(const std::string& AText) {
  size_t b = 0, e = AText.size();
  while (b < e && static_cast<unsigned char>(AText[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(AText[e - 1]) <= 32) --e;
  return AText.substr(b, e - b);
}

std::string IntToBCD(int64_t AValue, int ASize, std::string_view AField) {
  CheckNumber(AValue, ASize, true, AField);
  std::string out(static_cast<size_t>(ASize), '\0');
  uint64_t v = static_cast<uint64_t>(AValue);
  for (int i = ASize - 1; i >= 0 && v != 0; --i) {
    unsigned lo = v % 10;
    v /= 10;
    unsigned hi = v % 10;
    v /= 10;
    out[static_cast<size_t>(i)] = static_cast<char>((hi << 4) | lo);
  }
  return out;
}

std::string IntToBinBE(int64_t AValue, int ASize, std::string_view AField) {
  CheckNumber(AValue, ASize, false, AField);
  std::string out(static_cast<size_t>(ASize), '\0');
  uint64_t v = static_cast<uint64_t>(AValue);
  for (int i = ASize - 1; i >= 0 && v != 0; --i, v >>= 8) out[static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
  return out;
}

std::string IntToBinLE(int64_t AValue, int ASize, std::string_view AField) {
  CheckNumber(AValue, ASize, false, AField);
  std::string out(static_cast<size_t>(ASize), '\0');
  uint64_t v = static_cast<uint64_t>(AValue);
  for (int i = 0; i < ASize && v != 0; ++i, v >>= 8) out[static_cast<size_t>(i)] = static_cast<char>(v & 0xFF);
  return out;
}

uint8_t SetBit(uint8_t AByte, int ABit, bool AValue) {
  uint8_t mask = static_cast<uint8_t>(1u << ABit);
  return AValue ? static_cast<uint8_t>(AByte | mask) : static_cast<uint8_t>(AByte & ~mask);
}

std::string EncodeCP866(const std::string& AText) { return platform::Utf8ToCp866(AText); }

std::string EncodeTextBlock(const std::string& AText, int AMaxLines, int32_t ADefaultFont, const TFont& AFont,
                            std::string_view AField) {
  std::string t = EncodeCP866(AText);
  if (t.empty()) return std::string(1, '\x0C');
  std::vector<std::string> lines = SplitLines(t);
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    int n = static_cast<int>(i) + 1;
    if (n > AMaxLines) break;
    int32_t f = n == 1 ? AFont.F1 : n == 2 ? AFont.F2 : n == 3 ? AFont.F3 : n == 4 ? AFont.F4 : -1;
    if (f < 0 || f > 9) f = ADefaultFont;
    if (f < 0 || f > 9) throw std::runtime_error("Некорректный номер шрифта");
    const std::string& line = lines[i];
    if (line.size() > 255)
      throw std::runtime_error(FieldPrefix(AField) + "строка " + std::to_string(n) + " длиной " +
                               std::to_string(line.size()) + " байт (не более 255)");
    out += IntToBCD(f, 1);
    out += IntToBinBE(static_cast<int64_t>(line.size()), 1);
    out += line;
    out += '\x0D';
  }
  if (out.empty()) return std::string(1, '\x0C');
  out.back() = '\x0C';
  return out;
}

std::string BytesToHex(const std::string& ABytes, const std::string& ASeparator) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(ABytes.size() * (2 + ASeparator.size()));
  for (unsigned char c : ABytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
    out += ASeparator;
  }
  return out;
}

std::string HexToBytes(const std::string& AText, std::string_view AField) {
  std::string out(AText.size() / 2, '\0');
  for (size_t i = 0; i < out.size(); ++i) {
    int hi = HexDigit(AText[2 * i]);
    int lo = HexDigit(AText[2 * i + 1]);
    if (hi < 0 || lo < 0)
      throw std::runtime_error(FieldPrefix(AField) + "\"" + AText.substr(2 * i, 2) + "\" в позиции " +
                               std::to_string(2 * i + 1) + " не является шестнадцатеричным числом");
    out[i] = static_cast<char>((hi << 4) | lo);
  }
  return out;
}

int64_t HexToInt(const std::string& AText) {
  std::string t = AText;
  for (char& c : t)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (!t.empty() && t.back() == 'H') t.pop_back();
  uint64_t v = 0;
  for (char c : t) {
    int d = HexDigit(c);
    if (d < 0) return 0;
    v = v * 16 + static_cast<uint64_t>(d);
  }
  return static_cast<int64_t>(v);
}

int32_t VarToIntDef(const std::optional<std::string>& AValue, int32_t ADefault) {
  if (!AValue || AValue->empty()) return ADefault;
  std::string t = TrimControls(*AValue);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  bool hex = false;
  if (i < t.size() && t[i] == '$') {
    hex = true;
    ++i;
  } else if (i < t.size() && (t[i] == 'x' || t[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= t.size()) return ADefault;
  uint64_t v = 0;
  for (; i < t.size(); ++i) {
    int d = hex ? HexDigit(t[i]) : (t[i] >= '0' && t[i] <= '9' ? t[i] - '0' : -1);
    if (d < 0) return ADefault;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return ADefault;
  }
  if (hex) {
    // Hexadecimal text covers the 32 bits; $FFFFFFFF is -1.
    int32_t r = static_cast<int32_t>(static_cast<uint32_t>(v));
    return negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(r)) : r;
  }
  if (negative) return v > 2147483648ull ? ADefault : static_cast<int32_t>(-static_cast<int64_t>(v));
  return v > 2147483647ull ? ADefault : static_cast<int32_t>(v);
}

TAmount VarToCurrDef(const std::optional<std::string>& AValue, TAmount ADefault) {
  if (!AValue || AValue->empty()) return ADefault;
  std::string t = TrimControls(*AValue);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  std::string digits;  // every mantissa digit, the decimal point removed
  int fraction = 0;    // digits behind the decimal point
  bool any = false, point = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c >= '0' && c <= '9') {
      any = true;
      if (!(digits.empty() && c == '0')) digits += c;
      if (point) ++fraction;
    } else if ((c == '.' || c == ',') && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return ADefault;
  int exponent = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) expNegative = t[i++] == '-';
    if (i >= t.size()) return ADefault;
    for (; i < t.size(); ++i) {
      if (t[i] < '0' || t[i] > '9') return ADefault;
      if (exponent < 10000) exponent = exponent * 10 + (t[i] - '0');
    }
    if (expNegative) exponent = -exponent;
  }
  if (i != t.size()) return ADefault;
  // value = digits * 10^(shift - 4), in ten-thousandths: digits * 10^shift.
  int shift = exponent - fraction + 4;
  std::string whole = digits;
  bool roundUp = false;
  if (shift >= 0) {
    if (!whole.empty()) whole.append(static_cast<size_t>(shift), '0');
  } else {
    size_t drop = static_cast<size_t>(-shift);
    if (drop >= whole.size() + 1) {
      whole.clear();  // far below half a ten-thousandth
    } else {
      std::string dropped = whole.substr(whole.size() - drop);
      whole.resize(whole.size() - drop);
      bool restZero = dropped.find_first_not_of('0', 1) == std::string::npos;
      int last = whole.empty() ? 0 : whole.back() - '0';
      roundUp = dropped[0] > '5' || (dropped[0] == '5' && (!restZero || last % 2 == 1));
    }
  }
  if (whole.size() > 19) return ADefault;
  uint64_t v = 0;
  for (char c : whole) v = v * 10 + static_cast<uint64_t>(c - '0');
  if (roundUp) ++v;
  if (v > 9223372036854775807ull) return ADefault;
  return negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
}

bool VarToBoolDef(const std::optional<std::string>& AValue, bool ADefault) {
  if (!AValue || AValue->empty()) return ADefault;
  if (EqualsNoCase(*AValue, "true")) return true;
  if (EqualsNoCase(*AValue, "false")) return false;
  return ADefault;
}

std::string StripInvalidXmlChars(const std::string& AText) {
  std::string out;
  out.reserve(AText.size());
  size_t pos = 0;
  while (pos < AText.size()) {
    size_t start = pos;
    uint32_t cp = 0;
    if (!NextCodePoint(AText, pos, cp)) continue;
    if (cp == 0x09 || cp == 0x0A || cp == 0x0D || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD))
      out.append(AText, start, pos - start);
  }
  return out;
}

}  // namespace qd
