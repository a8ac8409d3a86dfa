// The component's own variant value: what handlers receive as arguments and return.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qd {

enum class TValueKind : uint8_t {
  Empty,
  Null,
  Integer,   // any integer width
  Double,    // single and double
  Currency,  // fixed point, ten-thousandths of the unit
  DateTime,  // days since 30 December 1899, time of day as the fraction
  Boolean,
  String,     // UTF-8
  ByteArray,  // elements 0 .. size-1; the upper bound is size-1
  Array,      // array of other values
};

class TValue {
 public:
  TValue() = default;
  static TValue Null() { return TValue(TValueKind::Null); }
  static TValue Int(int64_t v) { TValue r(TValueKind::Integer); r.FInt = v; return r; }
  static TValue Dbl(double v) { TValue r(TValueKind::Double); r.FDouble = v; return r; }
  static TValue Curr(int64_t aTenThousandths) { TValue r(TValueKind::Currency); r.FInt = aTenThousandths; return r; }
  static TValue Date(double aDays) { TValue r(TValueKind::DateTime); r.FDouble = aDays; return r; }
  static TValue Bool(bool v) { TValue r(TValueKind::Boolean); r.FInt = v ? 1 : 0; return r; }
  static TValue Str(std::string v) { TValue r(TValueKind::String); r.FText = std::move(v); return r; }
  static TValue Bytes(std::vector<uint8_t> v) { TValue r(TValueKind::ByteArray); r.FBytes = std::move(v); return r; }
  static TValue Arr(std::vector<TValue> v) { TValue r(TValueKind::Array); r.FItems = std::move(v); return r; }

  TValueKind Kind() const { return FKind; }
  bool IsEmpty() const { return FKind == TValueKind::Empty; }
  int64_t AsInt() const { return FInt; }
  double AsDouble() const { return FDouble; }
  bool AsBool() const { return FInt != 0; }
  const std::string& AsString() const { return FText; }
  const std::vector<uint8_t>& AsBytes() const { return FBytes; }

  // Text rendering used in traces: empty for empty values, decimal integers, "True"/"False",
  // the text itself, dates as dd.mm.yyyy[ hh:nn:ss].
  std::string ToText() const;

  // Where the value came from: a tag the call path gives the arguments it took from the host
  // (copies keep it, every new value has 0), so that it can tell an argument that a method
  // left alone from one it replaced.
  uint64_t Origin() const { return FOrigin; }
  void SetOrigin(uint64_t AOrigin) { FOrigin = AOrigin; }

 private:
  explicit TValue(TValueKind k) : FKind(k) {}
  TValueKind FKind = TValueKind::Empty;
  int64_t FInt = 0;
  double FDouble = 0;
  std::string FText;
  std::vector<uint8_t> FBytes;
  std::vector<TValue> FItems;
  uint64_t FOrigin = 0;
};

using VarArrayData = std::vector<TValue>;

// Calendar <-> day number of TValue date-times. EncodeDateTime returns false for a
// combination that is not a valid date and time.
bool EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond, int AMilli, double& ADays);
void DecodeDateTime(double ADays, int& AYear, int& AMonth, int& ADay, int& AHour, int& AMinute, int& ASecond,
                    int& AMilli);

}  // namespace qd
