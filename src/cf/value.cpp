#include "cf/value.h"

#include <cmath>
#include <cstdio>

#include "common/text.h"

namespace qd {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr int64_t kEpochShift = 25569;  // 1899-12-30 .. 1970-01-01

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond, int AMilli, double& ADays) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (AYear < 1 || AYear > 9999 || AMonth < 1 || AMonth > 12 || ADay < 1) return false;
  int dim = kDays[AMonth - 1] + (AMonth == 2 && IsLeap(AYear) ? 1 : 0);
  if (ADay > dim) return false;
  if (AHour < 0 || AHour > 23 || AMinute < 0 || AMinute > 59 || ASecond < 0 || ASecond > 59 || AMilli < 0 ||
      AMilli > 999)
    return false;
  double date = static_cast<double>(DaysFromCivil(AYear, AMonth, ADay) + kEpochShift);
  double time = (AHour * 3600000.0 + AMinute * 60000.0 + ASecond * 1000.0 + AMilli) / 86400000.0;
  // Before the epoch the time of day counts away from zero, as the day number does.
  ADays = date < 0 ? date - time : date + time;
  return true;
}

void DecodeDateTime(double ADays, int& AYear, int& AMonth, int& ADay, int& AHour, int& AMinute, int& ASecond,
                    int& AMilli) {
  double whole = std::trunc(ADays);
  double frac = std::fabs(ADays - whole);
  int64_t ms = static_cast<int64_t>(std::llround(frac * 86400000.0));
  if (ms >= 86400000) ms = 86399999;
  CivilFromDays(static_cast<int64_t>(whole) - kEpochShift, AYear, AMonth, ADay);
  AHour = static_cast<int>(ms / 3600000);
  AMinute = static_cast<int>(ms / 60000 % 60);
  ASecond = static_cast<int>(ms / 1000 % 60);
  AMilli = static_cast<int>(ms % 1000);
}

std::string TValue::ToText() const {
  switch (FKind) {
    case TValueKind::Empty:
    case TValueKind::Null: return std::string();
    case TValueKind::Integer: return std::to_string(FInt);
    case TValueKind::Double: return FloatToStr(FDouble);
    case TValueKind::Currency: {
      int64_t whole = FInt / 10000;
      int64_t frac = std::llabs(FInt % 10000);
      std::string text = (FInt < 0 && whole == 0 ? "-" : "") + std::to_string(whole);
      if (frac != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(frac));
        std::string digits = buf;
        while (digits.back() == '0') digits.pop_back();
        text += DecimalSeparator() + digits;
      }
      return text;
    }
    case TValueKind::DateTime: {
      if (!std::isfinite(FDouble) || std::fabs(FDouble) > 2958466.0) return FloatToStr(FDouble);
      int y, mo, d, h, mi, s, ms;
      DecodeDateTime(FDouble, y, mo, d, h, mi, s, ms);
      char buf[40];
      if (h == 0 && mi == 0 && s == 0 && ms == 0)
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, mo, y);
      else
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %d:%02d:%02d", d, mo, y, h, mi, s);
      return buf;
    }
    case TValueKind::Boolean: return FInt ? "True" : "False";
    case TValueKind::String: return FText;
    case TValueKind::ByteArray: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string text;
      for (uint8_t b : FBytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
      }
      return text;
    }
    case TValueKind::Array: {
      std::string text = "(";
      for (size_t i = 0; i < FItems.size(); ++i) text += (i ? "; " : "") + FItems[i].ToText();
      return text + ")";
    }
  }
  return std::string();
}

}  // namespace qd
