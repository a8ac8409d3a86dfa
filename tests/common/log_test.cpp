#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/log.h"
#include "common/utils.h"
#include "support/testenv.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    std::string message;
    TakeLogFailure(message);
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


TEST_F(Log, TextIsUtf8) {
  SetLogLevel(2);
  WriteLog("Весы подключены", "", kLogInfo);
  EXPECT_NE(File().find("\tINFO\tВесы подключены\r\n"), std::string::npos);
}

TEST_F(Log, AFolderThatCannotBeCreatedFailsNoWriteIsToldOnceAndTheLogResumes) {
  std::string message;
  ASSERT_FALSE(TakeLogFailure(message));
  fs::path blocker = Temp.Path() / "file";
  { std::ofstream(blocker) << "x"; }
  SetLogFolder((blocker / "sub").string());
  SetLogLevel(3);
  EXPECT_NO_THROW(WriteLog("a", "", kLogInfo));
  EXPECT_NO_THROW(WriteLog("b", "", kLogInfo));
  ASSERT_TRUE(TakeLogFailure(message));
  EXPECT_NE(message.find("sub"), std::string::npos) << message;
  EXPECT_FALSE(TakeLogFailure(message)) << "one run of failures is told once";

  SetLogFolder(Folder.string());
  WriteLog("c", "", kLogInfo);
  EXPECT_EQ(File(), Banner() + "2024.03.05 10:20:30.045\tINFO\tc\r\n") << "the banner comes with the first line written";
  EXPECT_FALSE(TakeLogFailure(message));

  SetLogFolder((blocker / "sub").string());
  WriteLog("d", "", kLogInfo);
  EXPECT_TRUE(TakeLogFailure(message)) << "a new run of failures is told again";
  SetLogLevel(0);
  EXPECT_FALSE(TakeLogFailure(message)) << "the stop banner's failure belongs to the same run";
}

// A file where the log folder should be: nothing is said while the log is off; once it is on,
// the one warning names the folder in the words of the messages, and the file is left as it was.
TEST_F(Log, AFileInThePlaceOfTheFolderIsAFailureNamingTheFolder) {
  fs::create_directories(Folder.parent_path());
  { std::ofstream(Folder, std::ios::binary) << "not a folder"; }
  const auto mode = fs::status(Folder).permissions();
  std::string message;
  const std::string name = GetLogFileName(true);
  EXPECT_EQ(name.substr(0, Folder.string().size()), Folder.string());
  EXPECT_FALSE(TakeLogFailure(message)) << "no warning while the log is off: " << message;
  SetLogLevel(3);
  WriteLog("a", "", kLogInfo);
  ASSERT_TRUE(TakeLogFailure(message));
  EXPECT_EQ(message.rfind("не удалось создать папку лога «" + Folder.string(), 0), 0u) << message;
  EXPECT_NE(message.find("»: на этом месте не папка"), std::string::npos) << message;
  EXPECT_EQ(message.find("Cannot"), std::string::npos) << "one language: " << message;
  EXPECT_EQ(test::ReadAll(Folder), "not a folder");
  EXPECT_EQ(fs::status(Folder).permissions(), mode);
}

#if !defined(_WIN32)
// A write cut short (a full disk; here a file size limit) is taken back: a line is in the file
// whole or not at all, and the next line starts on a line of its own.
TEST_F(Log, AShortWriteIsTakenBack) {
  SetLogLevel(3);
  WriteLog("first", "", kLogInfo);
  const std::string before = File();
  ASSERT_FALSE(before.empty());
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(before.size() + 10), static_cast<rlim_t>(before.size() + 10)};
    setrlimit(RLIMIT_FSIZE, &limit);
    WriteLog("a line that does not fit into the ten bytes left", "", kLogInfo);
    std::string message;
    _exit(TakeLogFailure(message) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failure was noted";
  EXPECT_EQ(File(), before) << "nothing of the cut line is left";
  WriteLog("second", "", kLogInfo);
  EXPECT_EQ(File(), before + "2024.03.05 10:20:30.045\tINFO\tsecond\r\n");
}
#endif

#if !defined(_WIN32)
// A file size limit with the signal's default action, which ends the process: the write that
// reaches the limit fails instead (and is taken back), the host lives on and is told once.
TEST_F(Log, AFileSizeLimitDoesNotEndTheHost) {
  SetLogLevel(3);
  WriteLog("first", "", kLogInfo);
  const std::string before = File();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_DFL);
    rlimit limit{static_cast<rlim_t>(before.size() + 10), static_cast<rlim_t>(before.size() + 10)};
    setrlimit(RLIMIT_FSIZE, &limit);
    WriteLog("a line that does not fit into the ten bytes left", "", kLogInfo);
    WriteLog("nor does this one", "", kLogInfo);
    std::string message;
    _exit(TakeLogFailure(message) && message.find("(код 27)") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << "the failure was noted, with its reason";
  EXPECT_EQ(File(), before) << "nothing of the cut line is left";
}
#endif

#if defined(_WIN32)
// Another program holds today's log open without letting others write (an editor): the log
// waits for it once per run of failures, not for every line, and says so once.
TEST_F(Log, AFileHeldByAnotherProgramIsWaitedForOncePerRun) {
  SetLogLevel(3);
  WriteLog("first", "", kLogInfo);
  const fs::path file = Folder / "192_168_0_10_2024.03.05.log";
  HANDLE held = CreateFileW(file.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) WriteLog("held", "", kLogInfo);
  const auto took = std::chrono::steady_clock::now() - start;
  CloseHandle(held);
  // Twenty lines that each waited half a second would take ten seconds: a hang check, not a
  // measure of speed.
  EXPECT_LT(took, std::chrono::seconds(5));
  std::string message;
  ASSERT_TRUE(TakeLogFailure(message));
  EXPECT_NE(message.find("»: файл занят другой программой"), std::string::npos) << message;
  WriteLog("free", "", kLogInfo);
  const std::string text = File();
  EXPECT_EQ(text.find("held"), std::string::npos);
  EXPECT_NE(text.find("\tINFO\tfree\r\n"), std::string::npos) << text;
}
#endif

#if !defined(_WIN32)
// A base name too long for a file name is said in words, not as a bare system code.
TEST_F(Log, NameTooLongIsSaidInWords) {
  SetLogFileBaseName(std::string(300, 'n'));
  SetLogLevel(3);
  WriteLog("x", "", kLogInfo);
  std::string message;
  ASSERT_TRUE(TakeLogFailure(message));
  EXPECT_NE(message.find("»: слишком длинное имя (код 36)"), std::string::npos) << message;
}
#endif

// A hard link planted at today's name (the folder is open to everyone) could lead to any file
// the host may write: the log does not write through it, and says so once.
TEST_F(Log, PlantedHardLinkIsNotWrittenThrough) {
  fs::create_directories(Folder);
  fs::path target = Temp.Path() / "victim";
  { std::ofstream(target, std::ios::binary) << "keep"; }
  fs::create_hard_link(target, Folder / "192_168_0_10_2024.03.05.log");
  SetLogLevel(3);
  WriteLog("x", "", kLogInfo);
  WriteLog("y", "", kLogInfo);
  EXPECT_EQ(test::ReadAll(target), "keep");
  std::string message;
  ASSERT_TRUE(TakeLogFailure(message));
  EXPECT_NE(message.find("»: это ссылка, по ней лог не пишется"), std::string::npos) << message;
  EXPECT_FALSE(TakeLogFailure(message)) << "one warning";
}

#if !defined(_WIN32)
// Once the unload code has written the stop banner, threads still running at the exit write
// nothing after it, nor start the log again. Run in a child process (forked, so that it writes
// where this test reads; the code is the same on both systems): the stop is for good.
TEST_F(Log, NoLineAfterTheStopBanner) {
  EXPECT_EXIT(
      {
        SetLogLevel(3);
        WriteLog("before", "", kLogInfo);
        LogShutdown();
        WriteLog("after", "", kLogError);
        SetLogLevel(0);
        SetLogLevel(3);
        WriteLog("again", "", kLogInfo);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(File(), Banner() + "2024.03.05 10:20:30.045\tINFO\tbefore\r\n============Stop log===============\r\n\r\n");
}
#endif

TEST_F(Log, BaseNameIsMadeSafeForAFileNameOnEverySystem) {
  const struct {
    const char* Base;
    const char* Safe;
  } cases[] = {
      {"  192_168_0_10\t\r\n", "192_168_0_10"},
      {"a|b<c>d?e*f\"g:h", "a_b_c_d_e_f_g_h"},
      {"dir/sub\\name.ext", "dir_sub_name"},
      {"x\ty\x7F", "x_y_"},
      {"Весы.1", "Весы"},
      {"w_quendal7v2k.dll", "w_quendal7v2k"},
  };
  for (const auto& c : cases) EXPECT_EQ(LogFileBaseName(c.Base), c.Safe) << c.Base;
  SetLogLevel(1);
  SetLogFileBaseName(" 127_0_0_1|<x>?\t");
  WriteLog("x", "", kLogError);
  EXPECT_TRUE(fs::exists(Folder / "127_0_0_1__x___2024.03.05.log"));
  std::string message;
  EXPECT_FALSE(TakeLogFailure(message)) << message;
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
  WriteLog("x", "", kLogInfo);
  EXPECT_EQ(test::ReadAll(target), "keep");
  std::string message;
  EXPECT_TRUE(TakeLogFailure(message));
}

// A pipe planted under today's name (the folder is writable by every user) must not block the
// host: it is refused at once, as a device behind a link is.
TEST_F(Log, PlantedPipeOrDeviceIsRefusedWithoutWaiting) {
  fs::create_directories(Folder);
  ASSERT_EQ(mkfifo((Folder / "192_168_0_10_2024.03.05.log").c_str(), 0666), 0);
  fs::create_symlink("/dev/null", Folder / "192_168_0_10_2024.03.06.log");
  SetLogLevel(3);
  WriteLog("x", "", kLogInfo);
  std::string message;
  ASSERT_TRUE(TakeLogFailure(message));
  EXPECT_NE(message.find("»: это не обычный файл"), std::string::npos) << message;
  Clock.Day = 7;
  WriteLog("y", "", kLogInfo);  // a day whose file can be written ends the run of failures
  EXPECT_FALSE(TakeLogFailure(message)) << message;
  Clock.Day = 6;
  WriteLog("z", "", kLogInfo);
  EXPECT_TRUE(TakeLogFailure(message));
  EXPECT_NE(message.find("»: это ссылка, по ней лог не пишется"), std::string::npos) << message;
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
