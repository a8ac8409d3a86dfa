// Named character references of HTML5 (only the names that end in a semicolon).
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace qd::md {

struct THtmlEntity {
  const char* Key;    // the full reference, "&" and ";" included, e.g. "&amp;"
  const char* Value;  // the replacement characters, UTF-8
};

std::size_t HtmlEntityCount();

// Adds every reference to the map, once each. Keys are case-sensitive.
void LoadHtmlEntities(std::map<std::string, std::string>& AMap);

// Looks a full reference ("&name;") up; nullptr when it is not a known name.
const char* FindHtmlEntity(std::string_view AKey);

}  // namespace qd::md
