// The first driver class above the component: typed access to the settings kept in the
// property table, the last-error record and the one routine that records a failure.
#pragma once
#include <cstdint>
#include <string>

#include "cf/component.h"
#include "common/errors.h"

namespace qd {

inline constexpr const char* kMsgNoSettingName = "Не задано имя параметра";

// The general conversions of a variant value to the wanted kind. A text converts when it holds
// a value of that kind (numbers with the current decimal separator, Booleans as "true" or
// "false" in any letter case or as a number); an empty value gives false / 0 / 0.0 / "".
// A value that does not convert throws std::runtime_error.
bool VariantToBool(const TValue& AValue);
int32_t VariantToInt(const TValue& AValue);
int64_t VariantToCurr(const TValue& AValue);  // ten-thousandths
double VariantToDouble(const TValue& AValue);
double VariantToDate(const TValue& AValue);   // days since 30 December 1899
std::string VariantToStr(const TValue& AValue);

class TCustomDriver : public TExtNativeComponent {
 public:
  void Create() override;

  // A copy of the setting's value (either name, letter case ignored). A name that no setting
  // has is recorded as the last error and gives an empty value.
  TValue GetSettingValue(const std::string& ID);
  bool GetSettingValueBool(const std::string& ID);
  int32_t GetSettingValueInt(const std::string& ID);
  int64_t GetSettingValueCurr(const std::string& ID);
  double GetSettingValueDbl(const std::string& ID);
  double GetSettingValueDate(const std::string& ID);
  std::string GetSettingValueStr(const std::string& ID);

  // Writes a setting as the host does through SetParameter: a name that no setting has is
  // added as a new setting; a read-only setting and an empty name throw.
  void SetSettingValue(const std::string& AName, const TValue& AValue);

  // Records a failure: last error (1001, message) and an ERROR log line.
  void ProcessException(const std::string& AMessage);

  const TResult& LastResult() const { return FLastResult; }

 protected:
  TResult FLastResult;
};

}  // namespace qd
