#include <gtest/gtest.h>

#include <regex>

#include "common/utils.h"
#include "support/testenv.h"

namespace qd {
namespace {

TEST(Environment, WindowsNamesFromVersionNumbers) {
  struct Case {
    uint32_t major, minor, build, platform;
    const char* sp;
    const char* name;
  } cases[] = {
      {6, 2, 9200, 2, "", "Windows 8.0 (6.2.9200)"},
      {11, 0, 22000, 2, "", "Unknown (11.0.22000)"},
      {4, 0, 1381, 2, "Service Pack 6", "Windows NT 4 Service Pack 6 (4.0.1381)"},
      {4, 0, 950, 1, "", "Windows 95 (4.0.950)"},
      {4, 10, 2222, 1, "", "Windows 98 (4.10.2222)"},
      {5, 1, 2600, 2, "Service Pack 3", "Windows XP Service Pack 3 (5.1.2600)"},
      {6, 1, 7601, 2, "Service Pack 1", "Windows 7 Service Pack 1 (6.1.7601)"},
      {10, 0, 19045, 2, "", "Windows 10 (10.0.19045)"},
      {3, 51, 1057, 2, "", "Windows NT 3 (3.51.1057)"},
      {6, 4, 1, 2, "", "Unknown (6.4.1)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::WindowsOSName(c.major, c.minor, c.build, c.platform, c.sp), c.name);
}

TEST(Environment, ThisMachinesNameHasTheNumbersInParentheses) {
  std::string name = GetOSName();
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(.+ (.*\()?[0-9]+(\.[0-9]+)*\))"))) << name;
}

TEST(Environment, ProgramWithoutVersionAndItsOwnPath) {
  EXPECT_EQ(GetModuleVersionText(), "0.0.0.0");
  std::string path = GetModulePath();
  EXPECT_NE(path.find("common_test"), std::string::npos) << path;
}

// The two halves of a path: the folder with its final delimiter, and the file name.
TEST(Environment, FolderAndFileNameOfAPath) {
#ifdef _WIN32
  const char* const cases[][3] = {{"C:\\a\\b.dll", "C:\\a\\", "b.dll"}, {"C:/a/b", "C:/a/", "b"}, {"b", "", "b"}, {"C:b", "C:", "b"}};
#else
  const char* const cases[][3] = {{"/a/b.so", "/a/", "b.so"}, {"/b", "/", "b"}, {"b", "", "b"}, {"a/", "a/", ""}};
#endif
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFilePath(c[0]), c[1]) << c[0];
    EXPECT_EQ(ExtractFileName(c[0]), c[2]) << c[0];
  }
}

}  // namespace
}  // namespace qd
