// The log viewer's handlers against a stand-in for the window, then the real windows, closed
// through the ready hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <utility>

#include "common/log.h"
#include "platform/fs.h"
#include "platform/window.h"
#include "support/testenv.h"
#include "ui/DocView.h"
#include "ui/LogViewer.h"
#include "ui/MarkdownRenderer.h"
#include "ui/WindowLibrary.h"
#include "ui/WindowSet.h"
#include "ui/Windows.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace qd {
namespace {

namespace fs = std::filesystem;
using platform::window::TLogWindowView;
using platform::window::TWindowProbe;

// Keeps what the handlers did to the window; the list sorts itself, as the real one does.
class TFakeView final : public TLogWindowView {
 public:
  void SetFileNames(const std::vector<std::string>& ANames) override {
    Names = ANames;
    std::sort(Names.begin(), Names.end());
    Selected = -1;
    ++Refreshes;
  }
  std::vector<std::string> FileNames() const override { return Names; }
  void SelectFile(size_t AIndex) override { Selected = static_cast<int>(AIndex); }
  std::string SelectedFile() const override { return Selected < 0 ? std::string() : Names[static_cast<size_t>(Selected)]; }
  void SetText(const std::string& AText) override {
    Shown = AText;
    ++Loads;
  }
  std::string Text() const override { return Shown; }
  size_t CaretPosition() const override { return Caret; }
  void RestoreCaret(size_t APosition) override {
    Caret = APosition;
    ++CaretRestores;
  }
  void ShowError(const std::string& AMessage) override { Errors.push_back(AMessage); }
  void Close() override { Closed = true; }

  std::vector<std::string> Names;
  int Selected = -1;
  std::string Shown;
  size_t Caret = 0;
  int Loads = 0, Refreshes = 0, CaretRestores = 0;
  std::vector<std::string> Errors;
  bool Closed = false;
};

class LogViewer : public ::testing::Test {
 protected:
  void SetUp() override { SetLogFolder(Dir.Str()); }
  void TearDown() override { SetLogFolder(std::string()); }

  fs::path File(const std::string& AName) const { return Dir.Path() / AName; }
  void Write(const std::string& AName, const std::string& AText) const {
    std::ofstream(File(AName), std::ios::binary) << AText;
  }
  void Append(const std::string& AName, const std::string& AText) const {
    std::ofstream(File(AName), std::ios::binary | std::ios::app) << AText;
  }
  // Moves the last-write time by a whole second, whatever the file system's resolution.
  void Touch(const std::string& AName, int ASeconds) const {
    fs::last_write_time(File(AName), fs::last_write_time(File(AName)) + std::chrono::seconds(ASeconds));
  }

  test::TTempDir Dir;
  ui::TfrmLog Form{Dir.Str()};
  TFakeView View;
};

TEST_F(LogViewer, OpensWithTheLogFilesListedAndTheLastOneShown) {
  Write("127_0_0_1_2026.12.09.log", "yesterday\r\n");
  Write("127_0_0_1_2026.12.10.log", "today\r\n");
  Write("BASE_2026.01.01.LOG", "upper\r\n");
  Write("notes.Log", "mixed\r\n");
  Write("readme.txt", "not a log\r\n");
  Write("archive.log.zip", "not a log\r\n");
  fs::create_directory(Dir.Path() / "sub");
  Form.FormCreate(View);
  EXPECT_EQ(View.Names, (std::vector<std::string>{"127_0_0_1_2026.12.09.log", "127_0_0_1_2026.12.10.log",
                                                  "BASE_2026.01.01.LOG", "notes.Log"}));
  EXPECT_EQ(View.SelectedFile(), "notes.Log") << "the last name in the list's order";
  EXPECT_EQ(View.Shown, "mixed\r\n");
  std::string folder = Form.LogDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == '/' || folder.back() == '\\') << folder;
}

TEST_F(LogViewer, EmptyFolderGivesAnEmptyWindowAndAnIdleTimer) {
  Form.FormCreate(View);
  EXPECT_TRUE(View.Names.empty());
  EXPECT_EQ(View.Shown, "");
  EXPECT_EQ(View.Loads, 0);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 0);
}

TEST_F(LogViewer, TimerReloadsOnlyAFileWrittenSinceItWasLoadedAndKeepsTheCaret) {
  Write("a.log", "line 1\r\n");
  Form.FormCreate(View);
  ASSERT_EQ(View.Loads, 1);
  View.Caret = 3;

  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 1) << "unchanged: not reloaded";

  // Same last-write time, other size: still not reloaded.
  auto written = fs::last_write_time(File("a.log"));
  Append("a.log", "line 2\r\n");
  fs::last_write_time(File("a.log"), written);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 1);
  EXPECT_EQ(View.Shown, "line 1\r\n");

  Touch("a.log", 2);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 2);
  EXPECT_EQ(View.Shown, "line 1\r\nline 2\r\n");
  EXPECT_EQ(View.Caret, 3u);
  EXPECT_EQ(View.CaretRestores, 1);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 2) << "loaded once per change";
}

TEST_F(LogViewer, DropDownRereadsTheFolderAndLeavesNothingSelected) {
  Write("a.log", "a\r\n");
  Form.FormCreate(View);
  Write("b.log", "b\r\n");
  Form.FilesDropDown(View);
  EXPECT_EQ(View.Names, (std::vector<std::string>{"a.log", "b.log"}));
  EXPECT_EQ(View.SelectedFile(), "");
  Touch("a.log", 2);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 1) << "nothing selected: the timer does not reload";
  View.SelectFile(1);
  Form.FilesChange(View);
  EXPECT_EQ(View.Shown, "b\r\n");
}

TEST_F(LogViewer, FileGoneMeanwhile) {
  Write("a.log", "kept text\r\n");
  Form.FormCreate(View);
  fs::remove(File("a.log"));
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 1) << "the timer skips a file that no longer exists";
  // Choosing it again fails the load; the text stays.
  EXPECT_NE(test::FailureOf([&] { Form.FilesChange(View); }), "(no error)");
  EXPECT_EQ(View.Shown, "kept text\r\n");
}

TEST_F(LogViewer, FilesAreOnlyRead) {
  Write("a.log", "text\r\n");
  auto written = fs::last_write_time(File("a.log"));
  Form.FormCreate(View);
  Form.FilesDropDown(View);
  Form.CheckFileTimer(View);
  EXPECT_EQ(fs::last_write_time(File("a.log")), written);
  EXPECT_EQ(test::ReadAll(File("a.log")), "text\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir.Path()), fs::directory_iterator()), 1);
}

TEST_F(LogViewer, ALargeFileIsShownFromItsEndAfterALineSayingSo) {
  // Numbered lines of 16 bytes: 300,000 of them make 4.8 MB, more than is shown.
  std::string text;
  const int lines = 300000;
  for (int i = 0; i < lines; ++i) {
    char line[17];
    std::snprintf(line, sizeof line, "line %09d\r\n", i);
    text += line;
  }
  Write("big.log", text);
  Form.FormCreate(View);
  const std::string first = std::string(ui::TfrmLog::kMsgEarlierLinesLeftOut) + "\r\n";
  ASSERT_EQ(View.Shown.rfind(first, 0), 0u);
  std::string shown = View.Shown.substr(first.size());
  EXPECT_LE(shown.size(), ui::TfrmLog::kShownBytes);
  EXPECT_GT(shown.size(), ui::TfrmLog::kShownBytes - 16) << "at most one cut line is dropped";
  EXPECT_EQ(shown.size() % 16, 0u) << "whole lines only";
  EXPECT_EQ(text.substr(text.size() - shown.size()), shown);

  Write("small.log", "whole\r\n");
  Form.FilesDropDown(View);
  View.SelectFile(1);
  Form.FilesChange(View);
  EXPECT_EQ(View.Shown, "whole\r\n") << "a file that fits is shown as it is";
}

#if !defined(_WIN32)
// The log folder is writable by every user: what one of them plants there under a log's name
// must neither hang the host nor exhaust its memory.
TEST_F(LogViewer, LinksPipesAndDevicesInTheFolderAreNeitherListedNorRead) {
  Write("a.log", "real\r\n");
  ASSERT_EQ(mkfifo(File("fifo.log").c_str(), 0666), 0);
  fs::create_symlink("/dev/zero", File("zero.log"));
  fs::create_symlink(File("a.log"), File("link.log"));
  Form.FormCreate(View);
  EXPECT_EQ(View.Names, std::vector<std::string>{"a.log"});
  EXPECT_EQ(View.Shown, "real\r\n");
  for (const char* planted : {"fifo.log", "zero.log", "link.log"}) {
    EXPECT_NE(test::FailureOf([&] { ui::TfrmLog::ReadLogText(File(planted).string()); }), "(no error)") << planted;
    long long written = 0;
    EXPECT_FALSE(platform::FileLastWriteTime(File(planted).string(), written)) << planted;
  }
}
#endif

// ---- the real windows ----

bool HaveDisplay() {
#if defined(_WIN32)
  return true;
#else
  const char* display = std::getenv("DISPLAY");
  return display && *display;
#endif
}

// Runs a window; where none can be shown at all, the test is skipped.
#define QD_RUN_WINDOW(...)                                                        \
  try {                                                                           \
    __VA_ARGS__;                                                                  \
  } catch (const std::runtime_error& e) {                                         \
    if (std::string(e.what()) == platform::window::kMsgNoDisplay) GTEST_SKIP() << e.what(); \
    throw;                                                                        \
  }

// The form's handlers run inside the window; what the window shows once it is made is kept.
struct TFormInWindow final : platform::window::TLogWindowEvents {
  ui::TfrmLog Form{GetLogFileName(true)};
  std::vector<std::string> Names;
  std::string Selected, Text;
  void FormCreate(TLogWindowView& AView) override {
    Form.FormCreate(AView);
    Names = AView.FileNames();
    Selected = AView.SelectedFile();
    Text = AView.Text();
  }
  void FilesChange(TLogWindowView& AView) override { Form.FilesChange(AView); }
  void FilesDropDown(TLogWindowView& AView) override { Form.FilesDropDown(AView); }
  void OpenDirClick(TLogWindowView& AView) override { Form.OpenDirClick(AView); }
  void CheckFileTimer(TLogWindowView& AView) override { Form.CheckFileTimer(AView); }
};

class Windows : public LogViewer {
 protected:
  void SetUp() override {
    LogViewer::SetUp();
    if (!HaveDisplay()) GTEST_SKIP() << "no graphical display";
    ui::InstallDriverWindows();
  }
  void TearDown() override {
    platform::window::SetWindowReadyHook(nullptr);
    ui::SetLogWindow(nullptr);
    ui::SetDocumentWindow(nullptr);
    LogViewer::TearDown();
  }
};

TEST_F(Windows, LogWindowShowsTheNewestFileAndClosesOnRequest) {
  Write("x_2026.12.09.log", "old\r\n");
  Write("x_2026.12.10.log", "строка журнала\r\n");
  std::vector<TWindowProbe> ready;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    ready.push_back(AProbe);
    AProbe.Close();
  });
  // The form's handlers run inside the window; the caption is the form's.
  TFormInWindow events;
  QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].Caption, "Просмотр лога");
  EXPECT_EQ(ready[0].Location, "");
  EXPECT_EQ(events.Names, (std::vector<std::string>{"x_2026.12.09.log", "x_2026.12.10.log"}));
  EXPECT_EQ(events.Selected, "x_2026.12.10.log");
  EXPECT_NE(events.Text.find("строка журнала"), std::string::npos) << events.Text;
}

#if !defined(_WIN32)
// Anyone may put a file into the log folder, under a name in any bytes. Such a name is listed
// as valid text (its broken bytes shown as U+FFFD), sorted by what it shows, and its file is
// still read under its real name.
TEST_F(Windows, NamesInAnyBytesAreListedSortedAndRead) {
  const std::string broken = std::string(22, 'z') + "\xFC.log";
  const std::string brokenInside = "m\xC3(\xE2\x82_1.log";
  // A broken lead byte must not swallow the bytes after it: these two are told apart by them.
  const std::string leadLower = "k\xFCzzzzz1.log", leadUpper = "k\xFC" "AAAAA2.log";
  Write(broken, "planted\r\n");
  Write(brokenInside, "inside\r\n");
  Write(leadLower, "lower\r\n");
  Write(leadUpper, "upper\r\n");
  Write("B_2026.12.10.log", "b\r\n");
  Write("a_2026.12.10.log", "a\r\n");
  platform::window::SetWindowReadyHook([](const TWindowProbe& AProbe) { AProbe.Close(); });
  TFormInWindow events;
  QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
  EXPECT_EQ(events.Names, (std::vector<std::string>{"a_2026.12.10.log", "B_2026.12.10.log", leadUpper, leadLower, brokenInside, broken}));
  EXPECT_EQ(events.Selected, broken);
  EXPECT_EQ(events.Text, "planted\r\n");
}
#endif

// The list is filled anew before it opens, so that it opens as tall as its names need.
TEST_F(Windows, LogWindowRefillsTheListBeforeItOpens) {
  for (const char* name : {"a_1.log", "b_2.log", "c_3.log", "d_4.log", "e_5.log", "f_6.log", "g_7.log"}) Write(name, "x\r\n");
  struct TEvents final : platform::window::TLogWindowEvents {
    ui::TfrmLog Form{GetLogFileName(true)};
    TWindowProbe Probe;
    std::vector<bool> OpenAtRefill;
    std::vector<std::string> Names;
    void FormCreate(TLogWindowView& AView) override { Form.FormCreate(AView); }
    void FilesChange(TLogWindowView& AView) override { Form.FilesChange(AView); }
    void FilesDropDown(TLogWindowView& AView) override {
      OpenAtRefill.push_back(Probe.FileListOpen());
      Form.FilesDropDown(AView);
      Names = AView.FileNames();
    }
    void OpenDirClick(TLogWindowView&) override {}
    void CheckFileTimer(TLogWindowView&) override {}
  } events;
  bool offered = false, openAfter = false;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    offered = AProbe.OpenFileList && AProbe.FileListOpen;
    if (offered) {
      events.Probe = AProbe;
      AProbe.OpenFileList();
      openAfter = AProbe.FileListOpen();
    }
    AProbe.Close();
  });
  QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
  if (!offered) GTEST_SKIP() << "the list cannot be opened by a test here";
  EXPECT_EQ(events.OpenAtRefill, std::vector<bool>{false});
  EXPECT_TRUE(openAfter);
  EXPECT_EQ(events.Names.size(), 7u);
}

TEST_F(Windows, LogViewerThroughItsModalEntryPoint) {
  int shown = 0;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    ++shown;
    AProbe.Close();
  });
  QD_RUN_WINDOW(ui::TfrmLog::ShowModal(GetLogFileName(true)));
  EXPECT_EQ(shown, 1);
}

// What the driver's ViewLog action calls: the installed log window, shown until it is closed.
TEST_F(Windows, InstalledLogWindowIsTheLogViewer) {
  std::vector<std::string> captions;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    captions.push_back(AProbe.Caption);
    AProbe.Close();
  });
  QD_RUN_WINDOW(ui::ShowLogWindow(GetLogFileName(true)));
  EXPECT_EQ(captions, std::vector<std::string>{"Просмотр лога"});
}

// The windows as the module shows them: from the window library beside it, through the
// library's C routines; the ready hook is set on the library's side, failures come back as text.
TEST_F(Windows, WindowLibraryShowsBothWindowsThroughItsRoutines) {
  const TQdWindowLibrary& library = ui::LoadWindowLibrary();
  EXPECT_EQ(&library, &ui::LoadWindowLibrary()) << "loaded once";
  std::vector<std::string> seen;
  library.SetReadyHook(
      [](void* AContext, const char* ACaption, const char* ALocation) {
        static_cast<std::vector<std::string>*>(AContext)->push_back(std::string(ACaption) + "|" + ALocation);
        return 1;
      },
      &seen);
  const TQdWindowErrorSink keep = [](void* AContext, const char* AMessage) { *static_cast<std::string*>(AContext) = AMessage; };
  std::string logFailure, pageFailure;
  int logResult = library.ShowLogWindow(Dir.Str().c_str(), keep, &logFailure);
  fs::path page = Dir.Path() / "page.html";
  std::ofstream(page, std::ios::binary) << "<p>x</p>";
  int pageResult = library.ShowDocumentWindow(page.string().c_str(), "Справка", keep, &pageFailure);
  library.SetReadyHook(nullptr, nullptr);
  if (logFailure == platform::window::kMsgNoDisplay) GTEST_SKIP() << logFailure;
  EXPECT_EQ(logResult, 0) << logFailure;
#if defined(_WIN32)
  if (pageFailure == "Встроенный веб-браузер недоступен") {
    EXPECT_EQ(pageResult, 1);
    EXPECT_EQ(seen, std::vector<std::string>{"Просмотр лога|"});
    return;
  }
#endif
  EXPECT_EQ(pageResult, 0) << pageFailure;
  EXPECT_EQ(seen, (std::vector<std::string>{"Просмотр лога|", "Справка|" + page.string()}));
}

TEST_F(Windows, DocumentWindowShowsThePageWithItsCaption) {
  fs::path page = Dir.Path() / "md.html";
  std::ofstream(page, std::ios::binary) << "\xEF\xBB\xBF<h1>Справка</h1>\r\n";
  std::vector<TWindowProbe> ready;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    ready.push_back(AProbe);
    AProbe.Close();
  });
  try {
    QD_RUN_WINDOW(ui::TfrmDocView(page.string(), "Справка").ShowModal());
  } catch (const std::runtime_error& e) {
#if defined(_WIN32)
    // Without the system's HTML engine (as in a bare emulated Windows) the window says so.
    ASSERT_STREQ(e.what(), "Встроенный веб-браузер недоступен");
    GTEST_SKIP() << "no HTML engine here";
#else
    FAIL() << e.what();
#endif
  }
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].Caption, "Справка");
  EXPECT_EQ(ready[0].Location, page.string());
}

TEST_F(Windows, HelpIsShownFromItsArchiveAndLeavesNothingBehind) {
  // The renderer's folder goes under the user's temporary folder: here, this test's own.
  const char* const tempVars[] = {"TMPDIR", "TMP", "TEMP"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* v : tempVars) {
    const char* old = std::getenv(v);
    saved.emplace_back(v, old ? old : "");
    test::SetEnvVar(v, Dir.Str());
  }
  std::string archive = test::ReadAll(QD_HELP_ARCHIVE_PATH);
  ui::TMarkdownRenderer::SetResourceReader([&](const std::string& AName) -> std::optional<std::string_view> {
    if (AName == "help") return archive;
    return std::nullopt;
  });
  std::vector<TWindowProbe> ready;
  std::string page;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    ready.push_back(AProbe);
    page = test::ReadAll(AProbe.Location);
    AProbe.Close();
  });
  std::string failure = test::FailureOf([] { ui::TMarkdownRenderer::Render("help", "Справка"); });
  ui::TMarkdownRenderer::SetResourceReader(nullptr);
  for (const auto& [name, value] : saved) test::SetEnvVar(name.c_str(), value);
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir.Path()), fs::directory_iterator()), 0)
      << "the renderer's folder is removed on every path";
  if (failure == platform::window::kMsgNoDisplay) GTEST_SKIP() << failure;
#if defined(_WIN32)
  if (failure == "Встроенный веб-браузер недоступен") GTEST_SKIP() << "no HTML engine here";
#endif
  ASSERT_EQ(failure, "(no error)");
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].Caption, "Справка");
  EXPECT_EQ(fs::path(ready[0].Location).filename(), "md.html");
  EXPECT_EQ(page.rfind("\xEF\xBB\xBF<!DOCTYPE html>", 0), 0u) << page.substr(0, 80);
}

}  // namespace
}  // namespace qd
