#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/text.h"

namespace qd {
namespace {

TEST(Text, Utf16RoundTripKeepsEveryUnit) {
  const std::u16string cases[] = {u"", u"abc", u"Весы №1", u"😀", std::u16string(1, char16_t(0xD800)),
                                  std::u16string{u'a', char16_t(0xDC00), u'b'}, std::u16string{char16_t(0xDBFF)}};
  for (const std::u16string& c : cases) EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(c)), c);
  EXPECT_EQ(Utf16ToUtf8(u"Ёж"), "Ёж");
  EXPECT_EQ(Utf8ToUtf16("\xFF" "a"), (std::u16string{char16_t(0xFFFD), u'a'}));
}

TEST(Text, SameTextIgnoresCaseInLatinAndCyrillic) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"GetDescription", "getdescription", true}, {"ПолучитьОписание", "ПОЛУЧИТЬОПИСАНИЕ", true},
      {"Ёлка", "ёЛКА", true},                      {"IPАдрес", "ipадрес", true},
      {"Їжак", "їжак", true},                      {"Straße", "STRASSE", false},
      {"abc", "abd", false},                       {"abc", "abcd", false},
      {"", "", true},                              {"Ä", "ä", true},
  };
  for (const Case& c : cases) EXPECT_EQ(SameText(c.a, c.b), c.same) << c.a << " / " << c.b;
}

TEST(Text, TrimRemovesControlsAndSpaces) {
  EXPECT_EQ(Trim("  Open  "), "Open");
  EXPECT_EQ(Trim("\t\r\n x \x01"), "x");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(" Весы "), "Весы");
}

TEST(Text, FloatTextUsesTheProcessSeparator) {
  EXPECT_EQ(FloatToStr(12.5), "12.5");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  SetDecimalSeparator(',');
  EXPECT_EQ(FloatToStr(12.5), "12,5");
  SetDecimalSeparator('.');
}

TEST(Errors, ExceptionCarriesCodeAndLastResultStartsClear) {
  EquException e(kErrDeviceNotEnabled, "Устройство не включено");
  EXPECT_EQ(e.Code, 70);
  EXPECT_STREQ(e.what(), "Устройство не включено");
  TResult r;
  EXPECT_EQ(r.ErrorCode, 0);
  EXPECT_EQ(r.ErrorDescription, "");
  r.SetError("x", 1001);
  EXPECT_EQ(r.ErrorCode, 1001);
  r.Clear();
  EXPECT_EQ(r.ErrorDescription, "");
}

}  // namespace
}  // namespace qd
