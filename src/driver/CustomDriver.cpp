#include "driver/CustomDriver.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "common/log.h"
#include "common/text.h"

namespace qd {

namespace {

const char* KindName(TValueKind AKind) {
  switch (AKind) {
    case TValueKind::Empty: return "Empty";
    case TValueKind::Null: return "Null";
    case TValueKind::Integer: return "Int64";
    case TValueKind::Double: return "Double";
    case TValueKind::Currency: return "Currency";
    case TValueKind::DateTime: return "Date";
    case TValueKind::Boolean: return "Boolean";
    case TValueKind::String: return "String";
    case TValueKind::ByteArray: return "Array Byte";
    case TValueKind::Array: return "Array Variant";
  }
  return "Unknown";
}

[[noreturn]] void CannotConvert(const TValue& AValue, const char* ATarget) {
  throw std::runtime_error(std::string("Could not convert variant of type (") + KindName(AValue.Kind()) +
                           ") into type (" + ATarget + ")");
}

// A decimal number written with the current decimal separator, blanks around it allowed.
bool TextToDouble(const std::string& AText, double& AResult) {
  std::string text = Trim(AText);
  if (text.empty()) return false;
  const char separator = DecimalSeparator();
  if (separator != '.') {
    if (text.find('.') != std::string::npos) return false;
    for (char& c : text)
      if (c == separator) c = '.';
  }
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '+') ++first;
  if (first == last || *first == '+' || (*first == '-' && first + 1 == last)) return false;
  auto [end, ec] = std::from_chars(first, last, AResult, std::chars_format::general);
  return ec == std::errc() && end == last && std::isfinite(AResult);
}

bool TextToInt(const std::string& AText, int64_t& AResult) {
  std::string text = Trim(AText);
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  if (first == last || *first == '+') return false;
  auto [end, ec] = std::from_chars(first, last, AResult);
  return ec == std::errc() && end == last;
}

}  // namespace

bool VariantToBool(const TValue& AValue) {
  switch (AValue.Kind()) {
    case TValueKind::Empty: return false;
    case TValueKind::Boolean: return AValue.AsBool();
    case TValueKind::Integer:
    case TValueKind::Currency: return AValue.AsInt() != 0;
    case TValueKind::Double:
    case TValueKind::DateTime: return AValue.AsDouble() != 0;
    case TValueKind::String: {
      const std::string& text = AValue.AsString();
      if (SameText(Trim(text), "true")) return true;
      if (SameText(Trim(text), "false")) return false;
      double number = 0;
      if (TextToDouble(text, number)) return number != 0;
      break;
    }
    default: break;
  }
  CannotConvert(AValue, "Boolean");
}

int32_t VariantToInt(const TValue& AValue) {
  double number = 0;
  switch (AValue.Kind()) {
    case TValueKind::Empty: return 0;
    case TValueKind::Boolean: return AValue.AsBool() ? 1 : 0;
    case TValueKind::Integer: {
      int64_t v = AValue.AsInt();
      if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) break;
      return static_cast<int32_t>(v);
    }
    case TValueKind::Currency: number = static_cast<double>(AValue.AsInt()) / 10000.0; break;
    case TValueKind::Double:
    case TValueKind::DateTime: number = AValue.AsDouble(); break;
    case TValueKind::String: {
      int64_t v = 0;
      if (TextToInt(AValue.AsString(), v) && v >= std::numeric_limits<int32_t>::min() &&
          v <= std::numeric_limits<int32_t>::max())
        return static_cast<int32_t>(v);
      CannotConvert(AValue, "Integer");
    }
    default: CannotConvert(AValue, "Integer");
  }
  // Numbers with a fraction round to the nearest whole number, halves to the even one.
  double rounded = std::nearbyint(number);
  if (!std::isfinite(rounded) || rounded < std::numeric_limits<int32_t>::min() ||
      rounded > std::numeric_limits<int32_t>::max())
    CannotConvert(AValue, "Integer");
  return static_cast<int32_t>(rounded);
}

double VariantToDouble(const TValue& AValue) {
  switch (AValue.Kind()) {
    case TValueKind::Empty: return 0.0;
    case TValueKind::Boolean: return AValue.AsBool() ? 1.0 : 0.0;
    case TValueKind::Integer: return static_cast<double>(AValue.AsInt());
    case TValueKind::Currency: return static_cast<double>(AValue.AsInt()) / 10000.0;
    case TValueKind::Double:
    case TValueKind::DateTime: return AValue.AsDouble();
    case TValueKind::String: {
      double number = 0;
      if (TextToDouble(AValue.AsString(), number)) return number;
      break;
    }
    default: break;
  }
  CannotConvert(AValue, "Double");
}

int64_t VariantToCurr(const TValue& AValue) {
  if (AValue.Kind() == TValueKind::Currency) return AValue.AsInt();
  if (AValue.Kind() == TValueKind::Integer) {
    if (AValue.AsInt() > std::numeric_limits<int64_t>::max() / 10000 ||
        AValue.AsInt() < std::numeric_limits<int64_t>::min() / 10000)
      CannotConvert(AValue, "Currency");
    return AValue.AsInt() * 10000;
  }
  double number = 0;
  try {
    number = VariantToDouble(AValue);
  } catch (const std::exception&) {
    CannotConvert(AValue, "Currency");
  }
  double scaled = std::nearbyint(number * 10000.0);
  if (!(std::fabs(scaled) < 9.2e18)) CannotConvert(AValue, "Currency");
  return static_cast<int64_t>(scaled);
}

double VariantToDate(const TValue& AValue) {
  try {
    return VariantToDouble(AValue);
  } catch (const std::exception&) {
    CannotConvert(AValue, "Date");
  }
}

std::string VariantToStr(const TValue& AValue) {
  if (AValue.Kind() == TValueKind::Array) CannotConvert(AValue, "String");
  return AValue.ToText();
}

// ---- TCustomDriver ----

void TCustomDriver::Create() {
  TExtNativeComponent::Create();
  FLastResult.Clear();
}

TValue TCustomDriver::GetSettingValue(const std::string& ID) {
  try {
    return Getpt_Value(ID);
  } catch (const std::exception& e) {
    ProcessException(e.what());
  }
  return TValue();
}

bool TCustomDriver::GetSettingValueBool(const std::string& ID) { return VariantToBool(GetSettingValue(ID)); }
int32_t TCustomDriver::GetSettingValueInt(const std::string& ID) { return VariantToInt(GetSettingValue(ID)); }
int64_t TCustomDriver::GetSettingValueCurr(const std::string& ID) { return VariantToCurr(GetSettingValue(ID)); }
double TCustomDriver::GetSettingValueDbl(const std::string& ID) { return VariantToDouble(GetSettingValue(ID)); }
double TCustomDriver::GetSettingValueDate(const std::string& ID) { return VariantToDate(GetSettingValue(ID)); }
std::string TCustomDriver::GetSettingValueStr(const std::string& ID) { return VariantToStr(GetSettingValue(ID)); }

void TCustomDriver::SetSettingValue(const std::string& AName, const TValue& AValue) {
  // An empty name would add a setting that no name can reach again.
  if (AName.empty()) throw std::runtime_error(kMsgNoSettingName);
  try {
    Setpt_Value(AName, AValue);
    return;
  } catch (const std::exception& e) {
    if (std::string(e.what()).find("не существует") == std::string::npos) throw;
  }
  pt_Add(AName, std::string(), false, AValue);
  Setpt_Value(AName, AValue);
}

void TCustomDriver::ProcessException(const std::string& AMessage) {
  FLastResult.SetError(AMessage, kErrDriver);
  WriteLog("Exception", AMessage, kLogError);
}

}  // namespace qd
