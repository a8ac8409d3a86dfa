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

TEST(Text, Utf8DecodingOneCodePointAtATime) {
  struct TCase {
    std::string Bytes;
    bool Valid;
    char32_t Code;
    size_t Next;
  } cases[] = {
      {"A", true, U'A', 1},
      {"\xD0\x96", true, U'Ж', 2},
      {"\xE2\x84\x96", true, U'№', 3},
      {"\xF0\x9F\x98\x80", true, 0x1F600, 4},
      {"\xED\xA0\x80", true, 0xD800, 3},  // a lone surrogate, as host texts carry it
      {"\xC0\x80", false, 0, 1},           // overlong
      {"\xE0\x80\x80", false, 0, 1},      // overlong
      {"\xF4\x90\x80\x80", false, 0, 1}, // past U+10FFFF
      {"\xF5\x80\x80\x80", false, 0, 1}, // no such lead byte
      {"\xFF", false, 0, 1},
      {"\xD0", false, 0, 1},                // cut short
      {"\xE2\x84" "A", false, 0, 1},
  };
  for (const TCase& c : cases) {
    size_t pos = 0;
    char32_t code = 0;
    EXPECT_EQ(NextUtf8CodePoint(c.Bytes, pos, code), c.Valid) << testing::PrintToString(c.Bytes);
    EXPECT_EQ(pos, c.Next) << testing::PrintToString(c.Bytes);
    if (c.Valid) {
      EXPECT_EQ(code, c.Code) << testing::PrintToString(c.Bytes);
    }
  }
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('g'), -1);
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
