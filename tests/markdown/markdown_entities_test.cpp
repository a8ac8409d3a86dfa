#include <gtest/gtest.h>

#include <map>
#include <string>

#include "markdown/MarkdownHTMLEntities.h"

namespace qd::md {
namespace {

TEST(HtmlEntities, TableHoldsTheSemicolonNamesOnly) {
  std::map<std::string, std::string> map;
  LoadHtmlEntities(map);
  EXPECT_EQ(map.size(), 2125u);
  EXPECT_EQ(HtmlEntityCount(), 2125u);
  for (const auto& [key, value] : map) {
    ASSERT_GE(key.size(), 3u) << key;
    EXPECT_EQ(key.front(), '&') << key;
    EXPECT_EQ(key.back(), ';') << key;
    EXPECT_FALSE(value.empty()) << key;
  }
  EXPECT_EQ(map.count("&amp"), 0u);
}

TEST(HtmlEntities, ValuesAsTheStandardAssigns) {
  struct {
    const char* key;
    const char* value;
  } const cases[] = {
      {"&NotEqualTilde;", "\xE2\x89\x82\xCC\xB8"},  // U+2242 U+0338
      {"&Afr;", "\xF0\x9D\x94\x84"},                // U+1D504
      {"&ThickSpace;", "\xE2\x81\x9F\xE2\x80\x8A"}, // U+205F U+200A
      {"&amp;", "&"},
      {"&AMP;", "&"},
      {"&copy;", "\xC2\xA9"},
      {"&nbsp;", "\xC2\xA0"},
      {"&CounterClockwiseContourIntegral;", "\xE2\x88\xB3"},
  };
  for (const auto& c : cases) {
    const char* v = FindHtmlEntity(c.key);
    ASSERT_NE(v, nullptr) << c.key;
    EXPECT_EQ(std::string(v), c.value) << c.key;
  }
  EXPECT_EQ(FindHtmlEntity("&amp"), nullptr);
  EXPECT_EQ(FindHtmlEntity("&Amp;"), nullptr);
  EXPECT_EQ(FindHtmlEntity("&nosuchname;"), nullptr);
}

}  // namespace
}  // namespace qd::md
