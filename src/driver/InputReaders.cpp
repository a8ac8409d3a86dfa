// Readers of input-table attribute values.
#include "driver/InputReaders.h"

#include "common/text.h"

namespace qd {

namespace {

// AWord is lower-case ASCII; only ASCII letters of AText are folded.
bool EqualsAsciiNoCase(const std::string& AText, const char* AWord) {
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

int32_t VarToIntDef(const std::optional<std::string>& AValue, int32_t ADefault) {
  if (!AValue || AValue->empty()) return ADefault;
  std::string t = Trim(*AValue);
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
    int d = hex ? HexDigitValue(t[i]) : (t[i] >= '0' && t[i] <= '9' ? t[i] - '0' : -1);
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
  std::string t = Trim(*AValue);
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
  if (EqualsAsciiNoCase(*AValue, "true")) return true;
  if (EqualsAsciiNoCase(*AValue, "false")) return false;
  return ADefault;
}

std::string StripInvalidXmlChars(std::string_view AText) {
  // Runs of kept bytes are copied whole; printable ASCII and two-byte sequences (always
  // allowed) are passed without decoding.
  std::string out;
  out.reserve(AText.size());
  const auto* p = reinterpret_cast<const unsigned char*>(AText.data());
  size_t n = AText.size(), pos = 0, run = 0;
  while (pos < n) {
    unsigned char c = p[pos];
    if ((c >= 0x20 && c < 0x80) || c == 0x09 || c == 0x0A || c == 0x0D) {
      ++pos;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF && pos + 1 < n && (p[pos + 1] & 0xC0) == 0x80) {
      pos += 2;
      continue;
    }
    size_t start = pos;
    char32_t cp = 0;
    if (NextUtf8CodePoint(AText, pos, cp) &&
        (cp == 0x09 || cp == 0x0A || cp == 0x0D || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD)))
      continue;
    out.append(AText, run, start - run);
    run = pos;
  }
  out.append(AText, run, n - run);
  return out;
}

}  // namespace qd
