// Field encoders and hexadecimal helpers.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "device/Common.h"
#include "hex.h"
#include "support/testenv.h"

using namespace qd;
using qdtest::Repeat;
using qdtest::Spaced;

namespace {

struct TNumberCase {
  const char* Name;
  std::string (*Encode)(int64_t, int, TFieldRef);
  int64_t Value;
  int Size;
  std::string Expected;
};

TEST(Encoders, NumbersInsideTheirFields) {
  const TNumberCase cases[] = {
      {"bcd 1234/2", IntToBCD, 1234, 2, "12 34"},
      {"bcd 5/4", IntToBCD, 5, 4, "00 00 00 05"},
      {"bcd 0/9", IntToBCD, 0, 9, Repeat("00", 9)},
      {"bcd 32/32", IntToBCD, 32, 32, Repeat("00", 31) + " 32"},
      {"bcd 14 digits", IntToBCD, 22000010000001, 7, "22 00 00 10 00 00 01"},
      {"bcd max of 4", IntToBCD, 99999999, 4, "99 99 99 99"},
      {"be 10/2", IntToBinBE, 10, 2, "00 0A"},
      {"be 300/2", IntToBinBE, 300, 2, "01 2C"},
      {"be 22/2", IntToBinBE, 22, 2, "00 16"},
      {"be 17/1", IntToBinBE, 17, 1, "11"},
      {"be 65535/2", IntToBinBE, 65535, 2, "FF FF"},
      {"le 0x1234/4", IntToBinLE, 0x1234, 4, "34 12 00 00"},
      {"le 17/1", IntToBinLE, 17, 1, "11"},
      {"le 5/4", IntToBinLE, 5, 4, "05 00 00 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Spaced(c.Encode(c.Value, c.Size, {})), c.Expected) << c.Name;
}

TEST(Encoders, NumbersOutsideTheirFieldsAreRefusedNamingFieldAndValue) {
  const TNumberCase cases[] = {
      {"PLU_Number", IntToBCD, -1, 4,
       "Недопустимое значение поля \"PLU_Number\": -1 (значение не может быть отрицательным)"},
      {"Unit_Price", IntToBCD, 100000000, 4,
       "Недопустимое значение поля \"Unit_Price\": 100000000 (не более 8 десятичных цифр)"},
      {"Main_Group_Code", IntToBCD, -999999, 2,
       "Недопустимое значение поля \"Main_Group_Code\": -999999 (значение не может быть отрицательным)"},
      {"статус клавиши", IntToBinBE, 256, 1, "Недопустимое значение поля \"статус клавиши\": 256 (не более 255)"},
      {"размер записи", IntToBinBE, 65536, 2,
       "Недопустимое значение поля \"размер записи\": 65536 (не более 65535)"},
      {"номер изображения", IntToBinLE, -5, 4,
       "Недопустимое значение поля \"номер изображения\": -5 (значение не может быть отрицательным)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(test::FailureOf([&] { c.Encode(c.Value, c.Size, c.Name); }), c.Expected) << c.Name;
  EXPECT_EQ(test::FailureOf([] { IntToBCD(100, 1); }), "Недопустимое значение 100 (не более 2 десятичных цифр)");
}

TEST(Encoders, SetBitTouchesOnlyItsBit) {
  EXPECT_EQ(SetBit(0x74, 0, true), 0x75);
  EXPECT_EQ(SetBit(0x75, 0, false), 0x74);
  EXPECT_EQ(SetBit(0x1D, 6, true), 0x5D);
  EXPECT_EQ(SetBit(0x80, 7, true), 0x80);
  EXPECT_EQ(SetBit(0xFF, 7, false), 0x7F);
}

TEST(Encoders, CodePage866) {
  EXPECT_EQ(Spaced(EncodeCP866("Молоко")), "8C AE AB AE AA AE");
  EXPECT_EQ(Spaced(EncodeCP866("Аарё Ё")), "80 A0 E0 F1 20 F0");
  EXPECT_EQ(EncodeCP866("Milk 2.5%"), "Milk 2.5%");
  // What the code page lacks becomes "?", one per character; malformed UTF-8 too.
  EXPECT_EQ(EncodeCP866("a€b"), "a?b");
  EXPECT_EQ(EncodeCP866("日本"), "??");
  EXPECT_EQ(EncodeCP866("x\xFFy"), "x?y");
  EXPECT_EQ(EncodeCP866(""), "");
}

struct TBlockCase {
  const char* Text;
  int MaxLines;
  int32_t DefaultFont;
  TFont Font;
  std::string Expected;
};

TEST(Encoders, TextBlocks) {
  const TFont none;
  const TBlockCase cases[] = {
      {"Milk||2.5%", 4, 6, {3, -1, -1, -1}, "03 04 4D 69 6C 6B 0D 06 04 32 2E 35 25 0C"},
      {"", 4, 77, none, "0C"},  // no font is looked at for an empty text
      {"A||B||C||D||E", 4, 1, none, "01 01 41 0D 01 01 42 0D 01 01 43 0D 01 01 44 0C"},
      {"A||", 4, 2, none, "02 01 41 0D 02 00 0C"},
      {"A|||B", 4, 2, none, "02 01 41 0D 02 02 7C 42 0C"},
      {"X", 4, 6, {12, -1, -1, -1}, "06 01 58 0C"},
      {"1||2||3||4||5", 8, 9, {1, 2, 3, 4}, "01 01 31 0D 02 01 32 0D 03 01 33 0D 04 01 34 0D 09 01 35 0C"},
      {"Сыр", 4, 0, none, "00 03 91 EB E0 0C"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Spaced(EncodeTextBlock(c.Text, c.MaxLines, c.DefaultFont, c.Font)), c.Expected) << c.Text;
}

TEST(Encoders, TextBlockRefusals) {
  EXPECT_EQ(test::FailureOf([] { EncodeTextBlock("A", 4, 10, TFont{}); }), "Некорректный номер шрифта");
  EXPECT_EQ(test::FailureOf([] { EncodeTextBlock("A||B", 4, -1, TFont{5, -1, -1, -1}); }), "Некорректный номер шрифта");
  const std::string longest(255, 'z');
  EXPECT_EQ(EncodeTextBlock(longest, 4, 1, TFont{}).size(), 258u);
  EXPECT_EQ(test::FailureOf([&] { EncodeTextBlock("ok||" + longest + "z", 4, 1, TFont{}, "Commodity"); }),
            "Недопустимое значение поля \"Commodity\": строка 2 длиной 256 байт (не более 255)");
  // A dropped line is not looked at.
  EXPECT_EQ(EncodeTextBlock("a||" + longest + "z", 1, 1, TFont{}), "\x01\x01" "a\x0C");
}

TEST(Hex, BytesToHexAndBack) {
  EXPECT_EQ(BytesToHex(std::string("\xF2\x25", 2)), "F225");
  EXPECT_EQ(BytesToHex(std::string("\x00\xAB", 2), " "), "00 AB ");
  EXPECT_EQ(BytesToHex(""), "");
  EXPECT_EQ(Spaced(HexToBytes("f1df00001001000a00000005")), "F1 DF 00 00 10 01 00 0A 00 00 00 05");
  EXPECT_EQ(HexToBytes("F1DF0"), HexToBytes("F1DF"));  // trailing odd character ignored
  EXPECT_EQ(test::FailureOf([] { HexToBytes("F1G2", "данные"); }),
            "Недопустимое значение поля \"данные\": \"G2\" в позиции 3 не является шестнадцатеричным числом");
}

TEST(Hex, HexToInt) {
  const std::pair<const char*, int64_t> cases[] = {
      {"1a", 26}, {"1AH", 26}, {"1G", 0}, {"", 0}, {"H", 0}, {"7FFFFFFFFFFFFFFF", INT64_MAX}, {"00ff", 255}};
  for (const auto& [text, value] : cases) EXPECT_EQ(HexToInt(text), value) << text;
}

}  // namespace
