#include "markdown/MarkdownHTMLEntities.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace qd::md {

namespace {
// The table is generated from a machine-readable list at build time.
const THtmlEntity kEntities[] = {
#include "html_entities.inc"
};
}  // namespace

std::size_t HtmlEntityCount() { return std::size(kEntities); }

void LoadHtmlEntities(std::map<std::string, std::string>& AMap) {
  for (const THtmlEntity& e : kEntities) AMap.emplace(e.Key, e.Value);
}

// Bisection: the generated table is sorted by the bytes of its keys.
const char* FindHtmlEntity(std::string_view AKey) {
  auto it = std::lower_bound(std::begin(kEntities), std::end(kEntities), AKey,
                             [](const THtmlEntity& e, std::string_view k) { return std::string_view(e.Key) < k; });
  if (it == std::end(kEntities) || std::string_view(it->Key) != AKey) return nullptr;
  return it->Value;
}

}  // namespace qd::md
