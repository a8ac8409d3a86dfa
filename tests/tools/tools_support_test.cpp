// What the tools share: the UTF-8 check of the files a user names, the encoding an XML
// declaration names, reading a named file with a reason for every failure (Cyrillic names
// included), and addin-host's strict reading of its typed arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "arguments.h"
#include "support.h"
#include "support/testenv.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using host::THostValue;

std::string Utf8(const fs::path& APath) {
  std::u8string s = APath.u8string();
  return std::string(s.begin(), s.end());
}

fs::path Named(const fs::path& AFolder, const std::string& AUtf8Name) {
  return AFolder / fs::path(std::u8string(AUtf8Name.begin(), AUtf8Name.end()));
}

void Write(const fs::path& APath, const std::string& ABytes) {
  std::ofstream(APath, std::ios::binary) << ABytes;
}

std::string FailureOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const tools::EUsage& e) {
    return std::string("usage: ") + e.what();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Utf8Check, FindsTheFirstByteThatIsNotUtf8) {
  struct TCase {
    std::string Bytes;
    long long Offset;  // -1: valid
    size_t Line;
    unsigned Byte;
  };
  const TCase cases[] = {
      {"", -1, 0, 0},
      {"plain ASCII\r\n", -1, 0, 0},
      {"\xEF\xBB\xBF\xD0\x9C\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE", -1, 0, 0},  // mark, "Молоко"
      {"\xF0\x9F\x98\x80 \xE2\x84\x96", -1, 0, 0},                                 // U+1F600, U+2116
      {"ab\ncd\n\xCC\xEE", 6, 3, 0xCC},                                               // code page 1251
      {"\xC0\xAF", 0, 1, 0xC0},                                                       // overlong "/"
      {"\xE0\x80\xAF", 0, 1, 0xE0},                                                   // overlong, three bytes
      {"ok \xED\xA0\x80", 3, 1, 0xED},                                                // encoded surrogate
      {"\xF4\x90\x80\x80", 0, 1, 0xF4},                                               // past U+10FFFF
      {"x\n\xE2\x84", 2, 2, 0xE2},                                                    // cut short at the end
      {"\x80", 0, 1, 0x80},                                                           // a lone continuation
      {"\xFF\xFE<\x00", 0, 1, 0xFF},                                                  // UTF-16
  };
  for (const TCase& c : cases) {
    std::optional<tools::TUtf8Fault> fault = tools::FindUtf8Fault(c.Bytes);
    if (c.Offset < 0) {
      EXPECT_FALSE(fault) << c.Bytes;
      continue;
    }
    ASSERT_TRUE(fault) << c.Bytes;
    EXPECT_EQ(fault->Offset, static_cast<size_t>(c.Offset)) << c.Bytes;
    EXPECT_EQ(fault->Line, c.Line) << c.Bytes;
    EXPECT_EQ(fault->Byte, c.Byte) << c.Bytes;
  }
}

TEST(Utf8Check, TheEncodingAnXmlDeclarationNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"<?xml version=\"1.0\" encoding=\"windows-1251\"?><Table/>", "windows-1251"},
      {"\xEF\xBB\xBF<?xml version='1.0' encoding='UTF-8'?>", "UTF-8"},
      {"<?xml version=\"1.0\"\n  encoding = \"KOI8-R\" ?>", "KOI8-R"},
      {"<?xml version=\"1.0\"?><Table encoding=\"cp1251\"/>", ""},  // past the declaration
      {"<?xml version=\"1.0\" standalone=\"yes\"?>", ""},
      {"<Table/>", ""},
      {" <?xml version=\"1.0\" encoding=\"cp1251\"?>", ""},  // not at the start: not a declaration
      {"<?xml-stylesheet encoding=\"cp1251\"?>", ""},
      {"<?xml version=\"1.0\" encoding=\"cp1251", ""},  // never closed
  };
  for (const auto& [text, encoding] : cases)
    EXPECT_EQ(tools::DeclaredXmlEncoding(text).value_or(""), encoding) << text;
}

TEST(Utf8Check, RefusesWithTheFileAndWhere) {
  auto check = [](const std::string& ABytes, tools::TUtf16Text AUtf16 = tools::TUtf16Text::Refuse) {
    return FailureOf([&] { tools::CheckUtf8Text("t.xml", ABytes, AUtf16); });
  };
  EXPECT_EQ(check("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Table Name=\"\xD0\x9C\"/>"), "(no error)");
  EXPECT_EQ(check("<?xml version=\"1.0\" encoding=\"UTF8\"?><Table/>"), "(no error)");
  EXPECT_EQ(check("<Table>\n<Record Name=\"\xCC\xEE\"/>"),
            "t.xml: not UTF-8 text at line 2, byte offset 22 (byte CC); save the file as UTF-8");
  EXPECT_EQ(check("<?xml version=\"1.0\" encoding=\"windows-1251\"?><Table/>"),
            "t.xml: the XML declaration names the encoding windows-1251; save the file as UTF-8 and declare UTF-8");
  EXPECT_EQ(check("\xFE\xFF\x00<"), "t.xml: UTF-16 text (byte-order mark FE FF); save the file as UTF-8");
  EXPECT_EQ(check("\xFF\xFE<\x00", tools::TUtf16Text::Accept), "(no error)");
}

TEST(InputFile, ReadsCyrillicNamesAndSaysWhyNot) {
  test::TTempDir dir;
  fs::path file = Named(dir.Path(), "Группы.xml");
  Write(file, "<Table/>");
  EXPECT_EQ(tools::ReadInputFile(Utf8(file)), "<Table/>");
  fs::path folder = Named(dir.Path(), "Папка");
  fs::create_directory(folder);
  EXPECT_EQ(FailureOf([&] { tools::ReadInputFile(Utf8(folder)); }), "cannot read " + Utf8(folder) + ": it is a folder");
  fs::path missing = Named(dir.Path(), "нет.xml");
  EXPECT_EQ(FailureOf([&] { tools::ReadInputFile(Utf8(missing)); }),
            "cannot read " + Utf8(missing) + ": there is no such file");
}

TEST(InputFile, TheProgramFolderHoldsThisProgram) {
  std::string folder = tools::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(fs::path(std::u8string(folder.begin(), folder.end())), test::BinDir() / "");
}

TEST(HostArguments, EachTypeTakesExactlyItsValues) {
  const std::pair<std::string, THostValue> good[] = {
      {"s:", THostValue::Text("")},
      {"s:a:b c", THostValue::Text("a:b c")},
      {"i:-2147483648", THostValue::Int(-2147483647 - 1)},
      {"i:+2147483647", THostValue::Int(2147483647)},
      {"i:007", THostValue::Int(7)},
      {"l:-9223372036854775808", THostValue::Int64(INT64_MIN)},
      {"l:99999999999", THostValue::Int64(99999999999LL)},
      {"d:-1.5e3", THostValue::Double(-1500)},
      {"d:+.25", THostValue::Double(0.25)},
      {"b:true", THostValue::Bool(true)},
      {"b:False", THostValue::Bool(false)},
      {"b:1", THostValue::Bool(true)},
      {"b:0", THostValue::Bool(false)},
      {"e:", THostValue::Empty()},
      {"x:", THostValue::Blob("")},
      {"x:00fFa5", THostValue::Blob(std::string("\x00\xFF\xA5", 3))},
      {"t:2024-02-29", THostValue::Tm(2024, 2, 29, 0, 0, 0)},
      {"t:2026-12-31T23:59:59", THostValue::Tm(2026, 12, 31, 23, 59, 59)},
  };
  for (const auto& [token, value] : good) {
    THostValue v;
    EXPECT_EQ(FailureOf([&v, &argument = token] { v = host::ParseArgument(argument); }), "(no error)") << token;
    EXPECT_TRUE(v == value) << token << ": " << v.Describe() << " instead of " << value.Describe();
    if (value.vt == abi::VTYPE_TM) {
      EXPECT_EQ(v.Describe(), value.Describe()) << token;
    }
  }
}

TEST(HostArguments, EveryOtherValueIsAUsageError) {
  const std::pair<std::string, std::string> bad[] = {
      {"i:abc", "not a whole number"},
      {"i:", "not a whole number"},
      {"i:-", "not a whole number"},
      {"i:+-1", "not a whole number"},
      {"i:1 ", "not a whole number"},
      {"i:0x10", "not a whole number"},
      {"i:2147483648", "out of range (-2147483648 to 2147483647)"},
      {"i:99999999999", "out of range (-2147483648 to 2147483647)"},
      {"l:9223372036854775808", "out of range (-9223372036854775808 to 9223372036854775807)"},
      {"d:", "not a number"},
      {"d:1,5", "not a number"},
      {"d:inf", "not a number"},
      {"d:1e999", "not a number"},
      {"d:0x1p3", "not a number"},
      {"b:yes", "not true or false"},
      {"b:", "not true or false"},
      {"x:ZZ", "not hexadecimal"},
      {"x:ABC", "an odd number of hexadecimal digits"},
      {"x:0 1", "not hexadecimal"},
      {"e:0", "an empty value takes nothing after the colon"},
      {"t:2023-02-29", "not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS"},
      {"t:2026-1-01", "not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS"},
      {"t:2026-01-01 10:00:00", "not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS"},
      {"t:2026-01-01T24:00:00", "not a date YYYY-MM-DD or a date and time YYYY-MM-DDTHH:MM:SS"},
      {"z:1", "unknown argument type z"},
  };
  for (const auto& [token, why] : bad)
    EXPECT_EQ(FailureOf([&argument = token] { host::ParseArgument(argument); }), "usage: " + token + ": " + why);
}

TEST(HostArguments, AFileArgumentIsItsCheckedText) {
  test::TTempDir dir;
  fs::path good = Named(dir.Path(), "Группы.xml");
  Write(good, "\xEF\xBB\xBF<Table Name=\"\xD0\x9C\"/>");
  THostValue v = host::ParseArgument("f:" + Utf8(good));
  EXPECT_EQ(v.Describe(), "text \"<Table Name=\"\xD0\x9C\"/>\"");  // without the mark
  fs::path bad = Named(dir.Path(), "cp1251.xml");
  Write(bad, "<Table Name=\"\xCC\"/>");
  EXPECT_EQ(FailureOf([&] { host::ParseArgument("f:" + Utf8(bad)); }),
            Utf8(bad) + ": not UTF-8 text at line 1, byte offset 13 (byte CC); save the file as UTF-8");
}

}  // namespace
}  // namespace qd
