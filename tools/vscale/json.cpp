#include "json.h"

#include <cstdio>

#include "support.h"

namespace qd::vscale {

namespace {

const TJson& NullValue() {
  static const TJson null;
  return null;
}


}  // namespace

TJson TJson::Number(std::string ADigits) {
  TJson j(TKind::Number);
  j.FText = std::move(ADigits);
  return j;
}

TJson& TJson::Set(const std::string& AKey, TJson AValue) {
  for (auto& m : FMembers)
    if (m.first == AKey) {
      m.second = std::move(AValue);
      return *this;
    }
  FMembers.emplace_back(AKey, std::move(AValue));
  return *this;
}

TJson& TJson::Push(TJson AValue) {
  FItems.push_back(std::move(AValue));
  return *this;
}

const TJson& TJson::operator[](const std::string& AKey) const {
  for (const auto& m : FMembers)
    if (m.first == AKey) return m.second;
  return NullValue();
}

const TJson& TJson::operator[](size_t AIndex) const { return AIndex < FItems.size() ? FItems[AIndex] : NullValue(); }

size_t TJson::Size() const { return FKind == TKind::Object ? FMembers.size() : FItems.size(); }

std::string TJson::Dump() const {
  std::string out;
  Write(out, 0);
  out += '\n';
  return out;
}

std::string TJson::DumpLine() const {
  std::string out;
  Write(out, -1);
  return out;
}

void TJson::Write(std::string& AOut, int ADepth) const {
  const bool line = ADepth < 0;
  const std::string pad = line ? std::string() : std::string(static_cast<size_t>(2 * (ADepth + 1)), ' ');
  const std::string closePad = line ? std::string() : std::string(static_cast<size_t>(2 * ADepth), ' ');
  const char* open = line ? "" : "\n";
  const char* separator = line ? ", " : ",\n";
  const int inner = line ? -1 : ADepth + 1;
  switch (FKind) {
    case TKind::Null: AOut += "null"; break;
    case TKind::Bool: AOut += FBool ? "true" : "false"; break;
    case TKind::Integer: AOut += std::to_string(FInt); break;
    case TKind::Number: AOut += FText; break;
    case TKind::String: tools::AppendJsonString(AOut, FText); break;
    case TKind::Array:
      if (FItems.empty()) {
        AOut += "[]";
        break;
      }
      AOut += "[";
      AOut += open;
      for (size_t i = 0; i < FItems.size(); ++i) {
        AOut += pad;
        FItems[i].Write(AOut, inner);
        AOut += i + 1 < FItems.size() ? separator : open;
      }
      AOut += closePad + "]";
      break;
    case TKind::Object:
      if (FMembers.empty()) {
        AOut += "{}";
        break;
      }
      AOut += "{";
      AOut += open;
      for (size_t i = 0; i < FMembers.size(); ++i) {
        AOut += pad;
        tools::AppendJsonString(AOut, FMembers[i].first);
        AOut += ": ";
        FMembers[i].second.Write(AOut, inner);
        AOut += i + 1 < FMembers.size() ? separator : open;
      }
      AOut += closePad + "}";
      break;
  }
}

}  // namespace qd::vscale
