#include <gtest/gtest.h>

#include <filesystem>

#include "common/log.h"
#include "common/utils.h"
#include "support/testenv.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qd {
namespace {

namespace fs = std::filesystem;

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = Temp.Path() / "Telvarin" / "w_quendal7v2k";
    SetLogLevel(0);
    SetLogFolder(Folder.string());
    SetLogFileBaseName("192_168_0_10");
    Clock = {2024, 3, 5, 10, 20, 30, 45};
    SetLogClock([this] { return Clock; });
  }
  void TearDown() override {
    SetLogLevel(0);
    SetLogClock(nullptr);
  }
  std::string File(const char* AName = "192_168_0_10_2024.03.05.log") { return test::ReadAll(Folder / AName); }
  static std::string Banner() {
    return std::string(40, ' ') + "\r\n============Start log=============\r\nOS version:\t" + GetOSName() +
           "\r\nApplication:\t" + ExtractFileName(GetModulePath()) + "\r\nApp. version:\t0.0.0.0\r\n" +
           std::string(40, ' ') + "\r\n";
  }

  test::TTempDir Temp;
  fs::path Folder;
  TLogTime Clock;
};

TEST_F(Log, LineFormatBannerAndFileName) {
  SetLogLevel(3);
  WriteLog("  Open  ", "", kLogInfo);
  WriteLog("Exchange", "   ", kLogDebug);
  WriteLog("Failed", " details ", kLogError);
  WriteLog("Other", "d", 7);
  EXPECT_EQ(File(), Banner() +
                        "2024.03.05 10:20:30.045\tINFO\tOpen\r\n"
                        "2024.03.05 10:20:30.045\tDEBUG\tExchange: \t\r\n"
                        "2024.03.05 10:20:30.045\tERROR\tFailed: \tdetails\r\n"
                        "2024.03.05 10:20:30.045\tOther: \td\r\n");
  EXPECT_EQ(GetLogFileName(false), (Folder / "192_168_0_10_2024.03.05.log").string());
  std::string folder = GetLogFileName(true);
  EXPECT_EQ(folder.back(), fs::path::preferred_separator);
}

TEST_F(Log, LevelsDecideWhatIsWritten) {
  struct Case {
    uint8_t level;
    bool info, debug, error;
  } cases[] = {{0, false, false, false}, {1, false, false, true}, {2, true, false, true}, {3, true, true, true}};
  for (const Case& c : cases) {
    fs::remove_all(Temp.Path());
    SetLogLevel(0);
    SetLogLevel(c.level);
    WriteLog("i", "", kLogInfo);
    WriteLog("d", "", kLogDebug);
    WriteLog("e", "", kLogError);
    std::string text = File();
    EXPECT_EQ(text.find("\tINFO\ti\r\n") != std::string::npos, c.info) << int(c.level);
    EXPECT_EQ(text.find("\tDEBUG\td\r\n") != std::string::npos, c.debug) << int(c.level);
    EXPECT_EQ(text.find("\tERROR\te\r\n") != std::string::npos, c.error) << int(c.level);
    EXPECT_EQ(text.empty(), c.level == 0) << "banner comes with the first admitted line";
  }
}

TEST_F(Log, SwitchingOffWritesStopBannerAndOnAgainANewStart) {
  SetLogLevel(3);
  WriteLog("a", "", kLogInfo);
  SetLogLevel(0);
  SetLogLevel(0);  // already off: nothing more
  SetLogLevel(3);
  WriteLog("b", "", kLogInfo);
  EXPECT_EQ(File(), Banner() + "2024.03.05 10:20:30.045\tINFO\ta\r\n============Stop log===============\r\n\r\n" +
                        Banner() + "2024.03.05 10:20:30.045\tINFO\tb\r\n");
}

TEST_F(Log, SwitchingOffBeforeAnyLineWritesNothing) {
  SetLogLevel(3);
  SetLogLevel(0);
  EXPECT_FALSE(fs::exists(Folder));
}

TEST_F(Log, LinesAfterMidnightGoToTheNextDaysFile) {
  SetLogLevel(3);
  Clock = {2024, 3, 5, 23, 59, 59, 999};
  WriteLog("late", "", kLogInfo);
  Clock = {2024, 3, 6, 0, 0, 0, 0};
  WriteLog("early", "", kLogInfo);
  EXPECT_EQ(File(), Banner() + "2024.03.05 23:59:59.999\tINFO\tlate\r\n");
  EXPECT_EQ(File("192_168_0_10_2024.03.06.log"), "2024.03.06 00:00:00.000\tINFO\tearly\r\n");
}

TEST_F(Log, BaseNameLosesFolderAndExtension) {
  SetLogLevel(1);
  SetLogFileBaseName("w_quendal7v2k.dll");
  WriteLog("x", "", kLogError);
  EXPECT_TRUE(fs::exists(Folder / "w_quendal7v2k_2024.03.05.log"));
  EXPECT_EQ(ExtractFileName("dir/sub/name.ext"), "name.ext");
}

TEST_F(Log, TextIsUtf8) {
  SetLogLevel(2);
  WriteLog("Весы подключены", "", kLogInfo);
  EXPECT_NE(File().find("\tINFO\tВесы подключены\r\n"), std::string::npos);
}

TEST_F(Log, FolderThatCannotBeCreatedFailsTheWrite) {
  std::string blocker = (Temp.Path() / "file").string();
  { std::ofstream(blocker) << "x"; }
  SetLogFolder(blocker + "/sub");
  SetLogLevel(3);
  EXPECT_THROW(WriteLog("x", "", kLogInfo), std::runtime_error);
}

#if !defined(_WIN32)
TEST_F(Log, SharedFolderAndFilesAreOpenToAllUsers) {
  SetLogLevel(3);
  WriteLog("x", "", kLogInfo);
  struct stat st {};
  ASSERT_EQ(stat(Folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  ASSERT_EQ(stat((Folder / "192_168_0_10_2024.03.05.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(Log, PlantedLinkIsNotFollowed) {
  fs::create_directories(Folder);
  fs::path target = Temp.Path() / "victim";
  { std::ofstream(target) << "keep"; }
  fs::create_symlink(target, Folder / "192_168_0_10_2024.03.05.log");
  SetLogLevel(3);
  EXPECT_THROW(WriteLog("x", "", kLogInfo), std::runtime_error);
  EXPECT_EQ(test::ReadAll(target), "keep");
}
#endif

TEST(DefaultLogFolder, OverrideAndFallbacks) {
  test::TTempDir temp;
  test::SetEnvVar(kLogFolderEnv, temp.Str());
  EXPECT_EQ(DefaultLogFolder(), temp.Str());
  test::SetEnvVar(kLogFolderEnv, "");
  std::string folder = DefaultLogFolder();
  std::string tail = std::string(1, fs::path::preferred_separator) + "Telvarin" +
                     std::string(1, fs::path::preferred_separator) + "w_quendal7v2k";
  ASSERT_GE(folder.size(), tail.size());
  EXPECT_EQ(folder.substr(folder.size() - tail.size()), tail);
}

}  // namespace
}  // namespace qd
