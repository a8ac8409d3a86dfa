// A small JSON value with ordered object members and a writer; enough for the dumps of the
// virtual scale and for tests that look into them.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qd::vscale {

class TJson {
 public:
  enum class TKind { Null, Bool, Integer, Number, String, Array, Object };

  TJson() = default;
  TJson(bool AValue) : FKind(TKind::Bool), FBool(AValue) {}
  TJson(int64_t AValue) : FKind(TKind::Integer), FInt(AValue) {}
  TJson(int AValue) : TJson(static_cast<int64_t>(AValue)) {}
  TJson(uint32_t AValue) : TJson(static_cast<int64_t>(AValue)) {}
  TJson(std::string AValue) : FKind(TKind::String), FText(std::move(AValue)) {}
  TJson(const char* AValue) : TJson(std::string(AValue)) {}

  static TJson Array() { return TJson(TKind::Array); }
  static TJson Object() { return TJson(TKind::Object); }
  // A number written exactly as ADigits stands (e.g. "12.50").
  static TJson Number(std::string ADigits);

  TKind Kind() const { return FKind; }
  bool IsNull() const { return FKind == TKind::Null; }

  // Objects: members keep the order of insertion; Set replaces a member of the same name.
  TJson& Set(const std::string& AKey, TJson AValue);
  // Arrays.
  TJson& Push(TJson AValue);

  // Look-ups return a null value when the member or element is missing.
  const TJson& operator[](const std::string& AKey) const;
  const TJson& operator[](size_t AIndex) const;
  size_t Size() const;

  int64_t Int() const { return FInt; }
  bool Bool() const { return FBool; }
  // The text of a string, or the digits of a number.
  const std::string& Str() const { return FText; }

  // Pretty-printed with two blanks of indentation; non-ASCII text stays UTF-8.
  std::string Dump() const;
  // On one line, members and elements separated by ", ".
  std::string DumpLine() const;

 private:
  explicit TJson(TKind AKind) : FKind(AKind) {}
  // ADepth < 0: on one line.
  void Write(std::string& AOut, int ADepth) const;

  TKind FKind = TKind::Null;
  bool FBool = false;
  int64_t FInt = 0;
  std::string FText;
  std::vector<TJson> FItems;
  std::vector<std::pair<std::string, TJson>> FMembers;
};

}  // namespace qd::vscale
