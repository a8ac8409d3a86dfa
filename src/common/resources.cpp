#include "common/resources.h"

#include <charconv>
#include <map>
#include <vector>

#include "common/text.h"

namespace qd {
namespace {

struct TStore {
  std::vector<TEmbeddedResource> Items;
  std::vector<std::string_view> StringTables;
  std::map<int, std::string> Strings;
  bool StringsParsed = false;
};

TStore& Store() {
  // Never destroyed: calls on other threads may still read it while the process exits.
  static TStore* const store = new TStore;
  return *store;
}

// One line: the number, blanks, the text to the end of the line. "#" starts a comment line.
void ParseStringTable(std::string_view AText, std::map<int, std::string>& AStrings) {
  if (AText.substr(0, 3) == "\xEF\xBB\xBF") AText.remove_prefix(3);
  while (!AText.empty()) {
    size_t end = AText.find('\n');
    std::string_view line = AText.substr(0, end);
    AText = end == std::string_view::npos ? std::string_view() : AText.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    int id = 0;
    auto [next, ec] = std::from_chars(line.data(), line.data() + line.size(), id);
    if (ec != std::errc() || next == line.data() + line.size() || (*next != ' ' && *next != '\t')) continue;
    size_t pos = static_cast<size_t>(next - line.data());
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    AStrings[id] = std::string(line.substr(pos));
  }
}

}  // namespace

void RegisterEmbeddedResources(const TEmbeddedResource* AItems, std::size_t ACount) {
  for (std::size_t i = 0; i < ACount; ++i) Store().Items.push_back(AItems[i]);
}

void RegisterEmbeddedStrings(const unsigned char* AData, std::size_t ASize) {
  Store().StringTables.emplace_back(reinterpret_cast<const char*>(AData), ASize);
  Store().StringsParsed = false;
}

std::optional<std::string_view> FindModuleResource(const std::string& AName) {
  for (const TEmbeddedResource& item : Store().Items)
    if (SameText(AName, item.Name)) return std::string_view(reinterpret_cast<const char*>(item.Data), item.Size);
  return std::nullopt;
}

std::string LoadResourceString(int AId) {
  TStore& store = Store();
  if (!store.StringsParsed) {
    store.Strings.clear();
    for (std::string_view table : store.StringTables) ParseStringTable(table, store.Strings);
    store.StringsParsed = true;
  }
  auto it = store.Strings.find(AId);
  return it == store.Strings.end() ? std::string() : it->second;
}

}  // namespace qd
