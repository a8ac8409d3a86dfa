// Input tables and raw data, below the driver: value readers, parsing, record walking,
// attribute readers, record checks and cutting raw data into records.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/InputReaders.h"
#include "driver/RawData.h"
#include "driver/Tables.h"

namespace qd {
namespace {

std::string ErrorOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// ---- attribute value readers ----

TEST(Readers, VarToIntDef) {
  const std::pair<std::optional<std::string>, int32_t> cases[] = {
      {std::nullopt, -7}, {"", -7},         {" 42 ", 42},           {"\t42\n", 42},      {"4x", -7},
      {"-17", -17},       {"+5", 5},        {"$1F", 31},            {"0x10", 16},        {"x10", 16},
      {"-$10", -16},      {"$FFFFFFFF", -1}, {"2147483647", INT32_MAX}, {"2147483648", -7},
      {"-2147483648", INT32_MIN}, {"   ", -7}, {"-", -7},            {"1.5", -7},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(VarToIntDef(text, -7), value) << text.value_or("(null)");
}

TEST(Readers, VarToCurrDef) {
  const TAmount def = -9999990000;
  const std::pair<std::optional<std::string>, TAmount> cases[] = {
      {"12.5", 125000},    {"12,50", 125000},  {"12.50", 125000}, {"abc", def},   {std::nullopt, def},
      {"", def},           {" 7 ", 70000},     {"-3.25", -32500}, {"0.00005", 0}, {"0.00015", 2},
      {"0.000151", 2},     {"1e2", 1000000},   {"12.3.4", def},   {"1 000", def}, {".5", 5000},
      {"922337203685477.5807", INT64_MAX}, {"922337203685477.5808", def},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(VarToCurrDef(text, def), value) << text.value_or("(null)");
}

TEST(Readers, VarToBoolDef) {
  for (bool def : {false, true}) {
    EXPECT_TRUE(VarToBoolDef("TRUE", def));
    EXPECT_TRUE(VarToBoolDef("true", def));
    EXPECT_FALSE(VarToBoolDef("False", def));
    for (const char* other : {"1", "0", "yes", " true", ""}) EXPECT_EQ(VarToBoolDef(other, def), def) << other;
    EXPECT_EQ(VarToBoolDef(std::nullopt, def), def);
  }
}

TEST(Readers, StripInvalidXmlChars) {
  EXPECT_EQ(StripInvalidXmlChars("a\tb\nc\rd"), "a\tb\nc\rd");
  EXPECT_EQ(StripInvalidXmlChars("a\x01" "b\x1F" "c"), "abc");
  EXPECT_EQ(StripInvalidXmlChars("x\xF0\x9F\x98\x80y"), "xy");               // outside the basic plane
  EXPECT_EQ(StripInvalidXmlChars("x\xEF\xBF\xBEy\xEE\x80\x80"), "xy\xEE\x80\x80");  // U+FFFE out, U+E000 in
  EXPECT_EQ(StripInvalidXmlChars("Молоко"), "Молоко");
  EXPECT_EQ(StripInvalidXmlChars("a\xFF" "b"), "ab");
}

// ---- the table and its records ----

TEST(InputTable, RecordsAreChildrenNamedRecordInAnyCaseInDocumentOrder) {
  TInputTable t(
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
      "<Table><Record n=\"1\"/><!-- note --><Item n=\"x\"/>text<RECORD n=\"2\"><Record n=\"y\"/></RECORD>"
      "<record n=\"3\"/></Table>");
  std::vector<std::string> seen;
  t.ForEachRecord([&](const TRecord& r) { seen.push_back(ReadText(r, "n")); });
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3"}));
}

TEST(InputTable, TopLevelTableIsFoundByExactName) {
  struct {
    const char* Text;
    bool Found;
  } cases[] = {
      {"<Table/>", true},
      {"<!-- x --><Table><Record/></Table>", true},
      {"<table><Record/></table>", false},
      {"<Root><Table><Record/></Table></Root>", false},
  };
  for (const auto& c : cases) {
    TInputTable t(c.Text);
    EXPECT_EQ(ErrorOf([&] { t.ForEachRecord([](const TRecord&) {}); }), c.Found ? "" : kMsgNoTable) << c.Text;
  }
}

TEST(InputTable, TextThatIsNotWellFormedFailsWithTheParsersMessage) {
  const struct {
    const char* Text;
    const char* Error;
  } cases[] = {
      {"", "Ошибка разбора XML: no element found (строка 1, столбец 1)"},
      {"not xml", "Ошибка разбора XML: syntax error (строка 1, столбец 1)"},
      {"<Table a=1/>", "Ошибка разбора XML: not well-formed (invalid token) (строка 1, столбец 10)"},
      {"<Table>\n<Record>\n</Table>", "Ошибка разбора XML: mismatched tag (строка 3, столбец 3)"},
      {"<Table>\n<Record N=\"&#xD800;\"/></Table>",
       "Ошибка разбора XML: reference to invalid character number (строка 2, столбец 12)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf([&] { TInputTable t(c.Text); }), c.Error) << c.Text;
}

TEST(InputTable, CharactersXmlDoesNotAllowAreRemovedBeforeParsing) {
  // A form feed and an emoji inside a name, a vertical tab between attributes.
  TInputTable t("<Table><Record Name=\"Сыр\x0C \xF0\x9F\xA7\x80твёрдый\"\x0B PLU=\"4\"/></Table>");
  int records = 0;
  t.ForEachRecord([&](const TRecord& r) {
    ++records;
    EXPECT_EQ(ReadText(r, "Name"), "Сыр твёрдый");
    EXPECT_EQ(ReadText(r, "PLU"), "4");
  });
  EXPECT_EQ(records, 1);
}

// Records are read one at a time: a table far larger than the parser's pieces comes out whole
// and in order, names cut across pieces included.
TEST(InputTable, LongTablesAreReadRecordByRecord) {
  std::string text = "<Table>";
  for (int i = 0; i < 5000; ++i)
    text += "<Record n=\"" + std::to_string(i) + "\" Name=\"Колбаса докторская варёная " + std::to_string(i) + "\"/>\n";
  text += "</Table>";
  TInputTable t(text);
  TRecord r;
  int expected = 0;
  while (t.Next(r)) {
    ASSERT_EQ(ReadInt(r, "n", -1), expected);
    ASSERT_EQ(ReadText(r, "Name"), "Колбаса докторская варёная " + std::to_string(expected));
    ++expected;
  }
  EXPECT_EQ(expected, 5000);
  EXPECT_FALSE(t.Next(r));
}

// ---- attribute readers ----

TRecord FirstRecord(const std::string& AText) {
  TInputTable t(AText);
  TRecord first;
  EXPECT_TRUE(t.Next(first)) << AText;
  return first;
}

TEST(AttributeReaders, EachReaderWithItsDefaults) {
  TRecord r = FirstRecord(
      "<Table><Record i1=\" 12 \" i2=\"1a\" i3=\"\" i4=\"-999999\" i5=\"-7\" "
      "a1=\"12,5\" a2=\"12.50\" a3=\"1 200.00\" a4=\"abc\" a5=\"\" "
      "b1=\"FALSE\" b2=\"True\" b3=\"0\" b4=\"no\" "
      "t1=\"  Молоко  \" plu=\"3\"/></Table>");
  EXPECT_EQ(ReadInt(r, "i1", kInvalidNumber), 12);
  EXPECT_EQ(ReadInt(r, "i2", kInvalidNumber), kInvalidNumber);
  EXPECT_EQ(ReadInt(r, "i3", 0), 0);
  EXPECT_EQ(ReadInt(r, "i4", 0), kInvalidNumber);
  EXPECT_EQ(ReadInt(r, "i5", 0), -7);
  EXPECT_EQ(ReadInt(r, "missing", -1), -1);
  EXPECT_EQ(ReadInt(r, "PLU", kInvalidNumber), kInvalidNumber);  // names are exact: "plu" is not "PLU"
  EXPECT_EQ(VarToCurrDef(AttrValue(r, "a1"), kInvalidNumber), 125000);
  EXPECT_EQ(VarToCurrDef(AttrValue(r, "a2"), kInvalidNumber), 125000);
  EXPECT_EQ(VarToCurrDef(AttrValue(r, "a3"), kInvalidNumber), kInvalidNumber);
  EXPECT_EQ(VarToCurrDef(AttrValue(r, "a4"), kInvalidNumber), kInvalidNumber);
  EXPECT_EQ(VarToCurrDef(AttrValue(r, "a5"), kInvalidNumber), kInvalidNumber);
  EXPECT_FALSE(VarToBoolDef(AttrValue(r, "b1"), true));
  EXPECT_TRUE(VarToBoolDef(AttrValue(r, "b2"), false));
  EXPECT_TRUE(VarToBoolDef(AttrValue(r, "b3"), true));
  EXPECT_TRUE(VarToBoolDef(AttrValue(r, "b4"), true));
  EXPECT_EQ(ReadText(r, "t1"), "  Молоко  ");
  EXPECT_EQ(ReadText(r, "missing"), "");
}

TEST(GoodsRecord, MissingAttributesGiveTheDefaults) {
  TGoodsRecord g = ReadGoodsRecord(FirstRecord("<Table><Record/></Table>"));
  for (int32_t v : {g.PLU, g.Code, g.GroupCode, g.SellByDate, g.SellByTime, g.UsedByDate, g.PackedDate,
                    g.PackedTime})
    EXPECT_EQ(v, kInvalidNumber);
  EXPECT_EQ(g.Price, kInvalidAmount);  // -999999 in the user's units
  EXPECT_EQ(g.PLUTare, 0);
  EXPECT_TRUE(g.IsWeightGoods);
  EXPECT_EQ(g.Font.F1, -1);
  EXPECT_EQ(g.Font.F4, -1);
  EXPECT_EQ(g.UnitWeight, 0);
  EXPECT_EQ(g.TotalUnitWeight, 0);
  EXPECT_FALSE(g.HasUnitWeights());
  // The unchecked dates reach the scale as "not set".
  EXPECT_EQ(g.UsedByDateOrZero(), 0);
  EXPECT_EQ(g.PackedDateOrZero(), 0);
  EXPECT_EQ(g.PackedTimeOrZero(), 0);
}

TEST(OtherRecords, ReadersAndChecks) {
  struct {
    const char* Record;
    const char* Kind;
    const char* Error;
  } cases[] = {
      {"<Record Code=\"7\" Name=\"Сыры\"/>", "group", ""},
      {"<Record Code=\"7\" ImageNumber=\"\"/>", "group", ""},
      {"<Record Code=\"7\" ImageNumber=\" \"/>", "group", kMsgBadImage},
      {"<Record Code=\"7\" ImageNumber=\"-999999\"/>", "group", kMsgBadImage},
      {"<Record Code=\"x\" ImageNumber=\"y\"/>", "group", kMsgBadGroup},
      {"<Record code=\"7\"/>", "group", kMsgBadGroup},
      {"<Record Code=\"2\" Name=\"Магазин\"/>", "shop", ""},
      {"<Record Code=\"\"/>", "shop", kMsgBadShop},
      {"<Record ImageNumber=\"3\"/>", "image", ""},
      {"<Record ImageData=\"00\"/>", "image", kMsgBadImage},
  };
  for (const auto& c : cases) {
    TRecord r = FirstRecord(std::string("<Table>") + c.Record + "</Table>");
    std::string kind = c.Kind;
    std::string e = ErrorOf([&] {
      if (kind == "group") CheckGroupRecord(ReadGroupRecord(r));
      if (kind == "shop") CheckShopRecord(ReadShopRecord(r));
      if (kind == "image") CheckImageRecord(ReadImageRecord(r));
    });
    EXPECT_EQ(e, c.Error) << c.Record;
  }
  TGroupRecord g = ReadGroupRecord(FirstRecord("<Table><Record Code=\"7\"/></Table>"));
  EXPECT_EQ(g.ImageNumber, 0);
  EXPECT_EQ(g.Name, "");
}

// ---- raw data ----

TEST(RawData, CommandPrefixFromTheFileName) {
  struct {
    const char* Name;
    const char* Prefix;
  } cases[] = {
      {"d01", "F201"}, {"f25", "F125"}, {"t7f", "F77F"}, {"D", "F2"}, {"F3d.dat", "F13D"},
      {"X25", nullptr}, {"", nullptr}, {"Дата", nullptr},
      // The table number is two hexadecimal digits or nothing: never half a byte.
      {"f2", nullptr}, {"fG3", nullptr}, {"f3G", nullptr}, {"f 3", nullptr}, {"dД1", nullptr},
  };
  for (const auto& c : cases) {
    if (c.Prefix) {
      EXPECT_EQ(DataCommandPrefix(c.Name), c.Prefix) << c.Name;
    } else {
      EXPECT_EQ(ErrorOf([&] { DataCommandPrefix(c.Name); }), kMsgBadFileName) << c.Name;
    }
  }
}

TEST(RawData, RecordsAreCutByTheirLengthField) {
  // Two records: 10 bytes (000A) and 12 bytes (000c, lower case).
  std::string a = "00000001000A11223344";
  std::string b = "00000002000c556677889900";
  EXPECT_EQ(SplitDataRecords(a), (std::vector<std::string>{a}));
  EXPECT_EQ(SplitDataRecords(a + b), (std::vector<std::string>{a, b}));
}

TEST(RawData, MalformedDataIsRefusedAsAWhole) {
  const char* cases[] = {
      "",                                              // nothing
      "00000001",                                      // no length field
      "00000001000",                                   // half a length field
      "000000010000112233",                            // length 0
      "00000001000G11223344",                          // length not hexadecimal
      "00000001000B11223344",                          // one byte more than remains
      "00000001000A1122334400000002000D556677889900",  // the second one byte too long
      "00000001000A1122334400",                        // a rest without a length field
  };
  for (const char* data : cases) EXPECT_EQ(ErrorOf([&] { SplitDataRecords(data); }), kMsgBadData) << data;
}

}  // namespace
}  // namespace qd
