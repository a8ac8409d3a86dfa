#include "arguments.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>

#include "common/text.h"
#include "support.h"

namespace qd::host {

namespace {

using tools::EUsage;

[[noreturn]] void Refuse(const std::string& AToken, const std::string& AWhy) { throw EUsage(AToken + ": " + AWhy); }

// A whole number in decimal with an optional sign, nothing around it, within the range.
template <class T>
T WholeNumber(const std::string& AToken, const std::string& AValue) {
  std::string_view digits = AValue;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    Refuse(AToken, "not a whole number");
  // from_chars takes a minus but no plus.
  std::string_view text = AValue[0] == '+' ? digits : std::string_view(AValue);
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range)
    Refuse(AToken, "out of range (" + std::to_string(std::numeric_limits<T>::min()) + " to " +
                       std::to_string(std::numeric_limits<T>::max()) + ")");
  if (ec != std::errc() || end != text.data() + text.size()) Refuse(AToken, "not a whole number");
  return value;
}

double FiniteNumber(const std::string& AToken, const std::string& AValue) {
  // Decimal notation only: no hexadecimal floats, infinities or NaN, nothing around it.
  bool ok = !AValue.empty() && AValue.find_first_not_of("+-.0123456789eE") == std::string::npos;
  std::string_view text = AValue;
  if (ok && text[0] == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, ec] = ok ? std::from_chars(text.data(), text.data() + text.size(), value) : std::from_chars_result{};
  if (!ok || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    Refuse(AToken, "not a number");
  return value;
}

bool Boolean(const std::string& AToken, const std::string& AValue) {
  if (SameText(AValue, "true") || AValue == "1") return true;
  if (SameText(AValue, "false") || AValue == "0") return false;
  Refuse(AToken, "not true or false");
}

std::string HexBytes(const std::string& AToken, const std::string& AValue) {
  std::string bytes;
  for (char c : AValue)
    if (HexDigitValue(c) < 0) Refuse(AToken, "not hexadecimal");
  if (AValue.size() % 2 != 0) Refuse(AToken, "an odd number of hexadecimal digits");
  for (size_t i = 0; i < AValue.size(); i += 2)
    bytes += static_cast<char>(HexDigitValue(AValue[i]) * 16 + HexDigitValue(AValue[i + 1]));
  return bytes;
}

// Digits at APos..APos+ACount of AText, or -1.
int Digits(const std::string& AText, size_t APos, size_t ACount) {
  int value = 0;
  for (size_t i = APos; i < APos + ACount; ++i) {
    if (i >= AText.size() || AText[i] < '0' || AText[i] > '9') return -1;
    value = value * 10 + (AText[i] - '0');
  }
  return value;
}

THostValue DateTime(const std::string& AToken, const std::string& AValue) {
  // YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, every field within its calendar range.
  auto refuse = [&] { Refuse(AToken, "not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS"); };
  if (AValue.size() != 10 && AValue.size() != 19) refuse();
  if (AValue[4] != '-' || AValue[7] != '-') refuse();
  int y = Digits(AValue, 0, 4), mo = Digits(AValue, 5, 2), d = Digits(AValue, 8, 2), h = 0, mi = 0, s = 0;
  if (AValue.size() == 19) {
    if (AValue[10] != 'T' || AValue[13] != ':' || AValue[16] != ':') refuse();
    h = Digits(AValue, 11, 2);
    mi = Digits(AValue, 14, 2);
    s = Digits(AValue, 17, 2);
  }
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] + (mo == 2 && leap ? 1 : 0) || h < 0 || h > 23 ||
      mi < 0 || mi > 59 || s < 0 || s > 59)
    refuse();
  return THostValue::Tm(y, mo, d, h, mi, s);
}

}  // namespace

void CheckUtf8Argument(const std::string& AWhat, const std::string& AText) {
  if (std::optional<tools::TUtf8Fault> fault = tools::FindUtf8Fault(AText)) {
    throw EUsage(AWhat + " is not UTF-8 at byte offset " + std::to_string(fault->Offset) + " (byte " +
                 tools::HexByte(fault->Byte) + "); give the text in UTF-8");
  }
}

bool IsArgumentToken(const std::string& AToken) { return AToken.size() >= 2 && AToken[1] == ':'; }

THostValue ParseArgument(const std::string& AToken) {
  if (!IsArgumentToken(AToken)) throw EUsage(AToken + ": not an argument (a type letter, a colon and the value)");
  std::string value = AToken.substr(2);
  switch (AToken[0]) {
    case 's':
      CheckUtf8Argument("the text of s:", value);
      return THostValue::Text(value);
    case 'i': return THostValue::Int(WholeNumber<int32_t>(AToken, value));
    case 'l': return THostValue::Int64(WholeNumber<int64_t>(AToken, value));
    case 'd': return THostValue::Double(FiniteNumber(AToken, value));
    case 'b': return THostValue::Bool(Boolean(AToken, value));
    case 'e':
      if (!value.empty()) Refuse(AToken, "an empty value takes nothing after the colon");
      return THostValue::Empty();
    case 'x': return THostValue::Blob(HexBytes(AToken, value));
    case 't': return DateTime(AToken, value);
    case 'f': {
      std::string text = tools::ReadInputFile(value);
      tools::CheckUtf8Text(value, text);
      if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
      return THostValue::Text(text);
    }
    default: Refuse(AToken, std::string("unknown argument type ") + AToken[0]);
  }
}

}  // namespace qd::host
