// The log viewer's handlers against a stand-in for the window, then the real windows, closed
// through the ready hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <stdexcept>
#include <utility>

#include "common/log.h"
#include "platform/fs.h"
#include "platform/window.h"
#include "support/testenv.h"
#include "ui/DocView.h"
#include "ui/LogViewer.h"
#include "ui/MarkdownRenderer.h"
#include "ui/WindowSet.h"
#include "ui/Windows.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#include <sys/stat.h>

#include "platform/posix/toolkit.h"
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
  void AppendText(const std::string& AText) override {
    Shown += AText;
    ++Appends;
  }
  std::string Text() const override { return Shown; }
  size_t CaretPosition() const override { return Caret; }
  void RestoreCaret(size_t APosition) override {
    Caret = APosition;
    ++CaretRestores;
  }
  TReadingPlace ReadingPlace() const override {
    TReadingPlace place;
    place.Caret = Caret;
    place.TopLine = TopLine;
    place.ViewAtEnd = ViewAtEnd;
    return place;
  }
  void RestoreReadingPlace(const TReadingPlace& APlace) override {
    Caret = APlace.Caret;
    TopLine = APlace.TopLine;
    ViewAtEnd = APlace.ViewAtEnd;
    ++CaretRestores;
  }
  void ShowError(const std::string& AMessage) override { Errors.push_back(AMessage); }
  void Close() override { Closed = true; }

  size_t TopLine = 0;
  bool ViewAtEnd = false;
  std::vector<std::string> Names;
  int Selected = -1;
  std::string Shown;
  size_t Caret = 0;
  int Loads = 0, Appends = 0, Refreshes = 0, CaretRestores = 0;
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
  View.TopLine = 7;

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
  EXPECT_EQ(View.Loads + View.Appends, 2);
  EXPECT_EQ(View.Shown, "line 1\r\nline 2\r\n");
  EXPECT_EQ(View.Caret, 3u);
  EXPECT_EQ(View.TopLine, 7u) << "the same line stays in view";
  EXPECT_EQ(View.CaretRestores, 1);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads + View.Appends, 2) << "loaded once per change";
}

// A file that only grew gives the window its new whole lines, not the whole text again; a file
// that changed otherwise (replaced, cut, grown past what is shown at once) is read whole.
TEST_F(LogViewer, GrowthIsAddedAndOtherChangesReadWhole) {
  std::string first;
  for (int i = 0; i < 100; ++i) first += "строка " + std::to_string(i) + "\r\n";
  Write("a.log", first);
  Form.FormCreate(View);
  ASSERT_EQ(View.Loads, 1);
  struct TStep {
    const char* What;
    std::function<void()> Change;
    int Loads, Appends;
    std::function<std::string()> Shown;
  };
  std::string expected = first;
  int seconds = 0;
  const std::vector<TStep> steps = {
      {"two lines added", [&] { Append("a.log", "x 1\r\nx 2\r\n"); expected += "x 1\r\nx 2\r\n"; }, 1, 1, [&] { return expected; }},
      {"half a line: nothing yet", [&] { Append("a.log", "полстро"); }, 1, 1, [&] { return expected; }},
      {"the line completed", [&] { Append("a.log", "ки\r\n"); expected += "полстроки\r\n"; }, 1, 2, [&] { return expected; }},
      {"replaced by a longer file", [&] { Write("a.log", std::string(first.size() + 100, 'z') + "\r\n"); expected = std::string(first.size() + 100, 'z') + "\r\n"; }, 2, 2, [&] { return expected; }},
      {"cut short", [&] { Write("a.log", "short\r\n"); expected = "short\r\n"; }, 3, 2, [&] { return expected; }},
      {"more than is shown at once", [&] {
         std::string big(ui::TfrmLog::kShownBytes + 10, 'y');
         big += "\r\n";
         Append("a.log", big);
       }, 4, 2, [&] { return std::string(); }},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.What);
    step.Change();
    Touch("a.log", seconds += 2);
    Form.CheckFileTimer(View);
    EXPECT_EQ(View.Loads, step.Loads);
    EXPECT_EQ(View.Appends, step.Appends);
    std::string shown = step.Shown();
    if (!shown.empty()) {
      EXPECT_TRUE(View.Shown == shown) << View.Shown.substr(0, 200);
    }
  }
  EXPECT_EQ(View.Shown.rfind(ui::TfrmLog::kMsgEarlierLinesLeftOut, 0), 0u) << "read whole, from its end";
}

TEST_F(LogViewer, DropDownRereadsTheFolderAndKeepsTheShownFileSelected) {
  Write("a.log", "a\r\n");
  Form.FormCreate(View);
  Write("b.log", "b\r\n");
  Form.FilesDropDown(View);
  EXPECT_EQ(View.Names, (std::vector<std::string>{"a.log", "b.log"}));
  EXPECT_EQ(View.SelectedFile(), "a.log") << "the file shown stays selected";
  Append("a.log", "a2\r\n");
  Touch("a.log", 2);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads + View.Appends, 2) << "and followed by the timer";
  View.SelectFile(1);
  Form.FilesChange(View);
  EXPECT_EQ(View.Shown, "b\r\n");
  // a file gone meanwhile leaves nothing selected, and the timer idle
  fs::remove(Dir.Path() / "b.log");
  Form.FilesDropDown(View);
  EXPECT_EQ(View.Names, (std::vector<std::string>{"a.log"}));
  EXPECT_EQ(View.SelectedFile(), "");
  Append("a.log", "a3\r\n");
  Touch("a.log", 4);
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads + View.Appends, 3) << "nothing selected: the timer does not reload";
}

TEST_F(LogViewer, FileGoneMeanwhile) {
  Write("a.log", "kept text\r\n");
  Form.FormCreate(View);
  fs::remove(File("a.log"));
  Form.CheckFileTimer(View);
  EXPECT_EQ(View.Loads, 1) << "the timer skips a file that no longer exists";
  // Choosing it again fails the load, in the user's words and naming the file; the text stays.
  const std::string failure = test::FailureOf([&] { Form.FilesChange(View); });
  EXPECT_EQ(failure.rfind("не удалось открыть файл «", 0), 0u) << failure;
  EXPECT_NE(failure.find("a.log"), std::string::npos) << failure;
  EXPECT_EQ(failure.find("No such file"), std::string::npos) << failure;
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

// Points the user's temporary folder at a folder for as long as it lives; the variables are
// put back as they were, unset again where they were unset.
class TTempFolderVars {
 public:
  explicit TTempFolderVars(const std::string& AFolder) {
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
      const char* old = std::getenv(name);
      FSaved.push_back({name, old != nullptr, old ? old : ""});
      test::SetEnvVar(name, AFolder);
    }
  }
  ~TTempFolderVars() {
    for (const TSaved& v : FSaved) {
      if (v.Set) {
        test::SetEnvVar(v.Name, v.Value);
      } else {
#if defined(_WIN32)
        _putenv_s(v.Name, "");
#else
        unsetenv(v.Name);
#endif
      }
    }
  }
  TTempFolderVars(const TTempFolderVars&) = delete;
  TTempFolderVars& operator=(const TTempFolderVars&) = delete;

 private:
  struct TSaved {
    const char* Name;
    bool Set;
    std::string Value;
  };
  std::vector<TSaved> FSaved;
};

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

// Shows the page in the document window under the caption "Справка". Without the system's
// HTML engine (as in a bare emulated Windows) the window says so, and the test is skipped.
#if defined(_WIN32)
#define QD_RUN_DOCUMENT_WINDOW(APage)                                          \
  try {                                                                        \
    QD_RUN_WINDOW(ui::TfrmDocView((APage).string(), "Справка").ShowModal());   \
  } catch (const std::runtime_error& e) {                                      \
    ASSERT_STREQ(e.what(), "Встроенный веб-браузер недоступен");               \
    GTEST_SKIP() << "no HTML engine here";                                     \
  }
#else
#define QD_RUN_DOCUMENT_WINDOW(APage)                                          \
  try {                                                                        \
    QD_RUN_WINDOW(ui::TfrmDocView((APage).string(), "Справка").ShowModal());   \
  } catch (const std::runtime_error& e) {                                      \
    FAIL() << e.what();                                                        \
  }
#endif

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

TEST_F(Windows, DocumentWindowShowsThePageWithItsCaption) {
  fs::path page = Dir.Path() / "md.html";
  std::ofstream(page, std::ios::binary) << "\xEF\xBB\xBF<h1>Справка</h1>\r\n";
  std::vector<TWindowProbe> ready;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    ready.push_back(AProbe);
    AProbe.Close();
  });
  QD_RUN_DOCUMENT_WINDOW(page);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].Caption, "Справка");
  EXPECT_EQ(ready[0].Location, page.string());
}

TEST_F(Windows, HelpIsShownFromItsArchiveAndLeavesNothingBehind) {
  // The renderer's folder goes under the user's temporary folder: here, this test's own.
  std::optional<TTempFolderVars> temp(std::in_place, Dir.Str());
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
  temp.reset();
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

// ---- the windows as the user works them: keys, message boxes, the reader's place, the page ----

// Moves the focus with Tab until the control has it; false when it never does.
bool FocusControl(const TWindowProbe& AProbe, const std::string& AControl) {
  for (int i = 0; i < 6 && AProbe.FocusedControl() != AControl; ++i) AProbe.PressKey("Tab");
  return AProbe.FocusedControl() == AControl;
}

bool OffersKeys(const TWindowProbe& AProbe) { return AProbe.PressKey && AProbe.FocusedControl && AProbe.WaitFor && AProbe.Alive; }

// Handlers of the real form, and a folder button whose opening fails as it does where the
// desktop has no file manager.
struct TFormWithFailingFolder final : platform::window::TLogWindowEvents {
  ui::TfrmLog Form{GetLogFileName(true)};
  int FolderClicks = 0;
  void FormCreate(TLogWindowView& AView) override { Form.FormCreate(AView); }
  void FilesChange(TLogWindowView& AView) override { Form.FilesChange(AView); }
  void FilesDropDown(TLogWindowView& AView) override { Form.FilesDropDown(AView); }
  void OpenDirClick(TLogWindowView&) override {
    ++FolderClicks;
    throw std::runtime_error("Не удалось открыть папку: нет программы для папок");
  }
  void CheckFileTimer(TLogWindowView& AView) override { Form.CheckFileTimer(AView); }
};

// Tab and Shift+Tab go round every control of the log window, the text area included, and
// the text keeps a margin from its frame.
TEST_F(Windows, LogWindowTabGoesRoundEveryControlAndTheTextHasMargins) {
  Write("a.log", "line 1\r\nline 2\r\n");
  std::vector<std::string> forward, backward;
  std::vector<int> margins;
  bool offered = false, closedByEsc = false;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    offered = OffersKeys(AProbe) && AProbe.TextMargins;
    if (offered) {
      margins = AProbe.TextMargins();
      forward.push_back(AProbe.FocusedControl());
      for (int i = 0; i < 3; ++i) {
        AProbe.PressKey("Tab");
        forward.push_back(AProbe.FocusedControl());
      }
      backward.push_back(AProbe.FocusedControl());
      for (int i = 0; i < 3; ++i) {
        AProbe.PressKey("shift+Tab");
        backward.push_back(AProbe.FocusedControl());
      }
      AProbe.PressKey("Escape");
      closedByEsc = AProbe.WaitFor(5000, [&] { return !AProbe.Alive(); });
    }
    AProbe.Close();
  });
  TFormInWindow events;
  QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
  if (!offered) GTEST_SKIP() << "keys cannot be sent by a test here";
  ASSERT_EQ(forward.size(), 4u);
  std::vector<std::string> seen(forward.begin(), forward.begin() + 3);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"files", "folder", "text"})) << "Tab visits every control once";
  EXPECT_EQ(forward[3], forward[0]) << "and comes round again";
  EXPECT_EQ(backward, (std::vector<std::string>{forward[3], forward[2], forward[1], forward[0]}))
      << "Shift+Tab goes the other way";
  ASSERT_EQ(margins.size(), 4u);
  EXPECT_GE(margins[0], 3) << "left";
  EXPECT_GE(margins[2], 3) << "right";
  EXPECT_TRUE(closedByEsc);
}

// Esc closes the log window whichever control has the focus.
TEST_F(Windows, LogWindowClosesOnEscFromEveryControl) {
  Write("a.log", "line\r\n");
  for (const char* control : {"files", "folder", "text"}) {
    SCOPED_TRACE(control);
    bool offered = false, focused = false, closed = false;
    platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
      offered = OffersKeys(AProbe);
      if (offered) {
        focused = FocusControl(AProbe, control);
        AProbe.PressKey("Escape");
        closed = AProbe.WaitFor(5000, [&] { return !AProbe.Alive(); });
      }
      AProbe.Close();
    });
    TFormInWindow events;
    QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
    if (!offered) GTEST_SKIP() << "keys cannot be sent by a test here";
    EXPECT_TRUE(focused);
    EXPECT_TRUE(closed);
  }
}

// A failure of the folder button is shown in a box over the log window, under the window's
// caption, that the keys dismiss; no second box comes, and the window closes as usual after.
TEST_F(Windows, LogWindowErrorBoxIsModalAndDismissedByKeys) {
  Write("a.log", "line\r\n");
  for (const char* dismiss : {"Return", "Escape", "space"}) {
    SCOPED_TRACE(dismiss);
    bool offered = false, focused = false, closed = false;
    std::vector<std::string> shown, afterDismiss;
    TFormWithFailingFolder events;
    platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
      offered = OffersKeys(AProbe) && AProbe.MessageBoxes;
      if (offered) {
        focused = FocusControl(AProbe, "folder");
        AProbe.PressKey("space");  // presses the folder button
        AProbe.WaitFor(3000, [&] { return !AProbe.MessageBoxes().empty(); });
        shown = AProbe.MessageBoxes();
        AProbe.PressKey(dismiss);
        AProbe.WaitFor(3000, [&] { return AProbe.MessageBoxes().empty(); });
        // what else the key might have set off has had its time
        AProbe.WaitFor(300, [] { return false; });
        afterDismiss = AProbe.MessageBoxes();
        AProbe.PressKey("Escape");
        closed = AProbe.WaitFor(5000, [&] { return !AProbe.Alive(); });
      }
      AProbe.Close();
    });
    QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
    if (!offered) GTEST_SKIP() << "message boxes cannot be watched by a test here";
    EXPECT_TRUE(focused);
    EXPECT_EQ(shown, std::vector<std::string>{"Просмотр лога"}) << "one box, under the window's caption";
    EXPECT_EQ(afterDismiss, std::vector<std::string>{}) << "the key dismissed the box";
    EXPECT_EQ(events.FolderClicks, 1) << "the key went to the box, not to the window's button";
    EXPECT_TRUE(closed) << "Esc closes the window after the box has gone";
  }
}

// A reload that fails every second shows one box, not one more each second behind it.
TEST_F(Windows, LogWindowTimerAddsNoBoxWhileOneIsOpen) {
  Write("a.log", "line\r\n");
  struct TEvents final : platform::window::TLogWindowEvents {
    ui::TfrmLog Form{GetLogFileName(true)};
    int Ticks = 0;
    void FormCreate(TLogWindowView& AView) override { Form.FormCreate(AView); }
    void FilesChange(TLogWindowView&) override {}
    void FilesDropDown(TLogWindowView&) override {}
    void OpenDirClick(TLogWindowView&) override {}
    void CheckFileTimer(TLogWindowView&) override {
      ++Ticks;
      throw std::runtime_error("Файл журнала не читается");
    }
  } events;
  bool offered = false;
  size_t boxes = 0;
  int ticksWithBox = -1;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    offered = OffersKeys(AProbe) && AProbe.MessageBoxes;
    if (offered) {
      AProbe.WaitFor(10000, [&] { return !AProbe.MessageBoxes().empty(); });
      int ticks = events.Ticks;
      AProbe.WaitFor(3500, [] { return false; });
      boxes = AProbe.MessageBoxes().size();
      ticksWithBox = events.Ticks - ticks;
      AProbe.PressKey("Return");
    }
    AProbe.Close();
  });
  QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
  if (!offered) GTEST_SKIP() << "message boxes cannot be watched by a test here";
  EXPECT_EQ(boxes, 1u);
  EXPECT_EQ(ticksWithBox, 0) << "no reload behind the open box";
}

#if !defined(_WIN32)
// Without a program for folders (or for a folder that is not there) the folder button's
// action fails with a message for the user instead of doing nothing.
TEST_F(Windows, OpeningAMissingFolderFailsWithAMessage) {
  std::string failure = test::FailureOf([&] { platform::window::OpenFolderInShell((Dir.Path() / "нет такой").string()); });
  EXPECT_EQ(failure.rfind("Не удалось открыть папку: ", 0), 0u) << failure;
}
#endif

// The timer's reload keeps the reader's place: a log read at its end is followed as it grows;
// read elsewhere, the same line stays at the top of the view.
TEST_F(Windows, LogViewKeepsTheReadersPlaceOverReloads) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Keys;
    bool AtEnd;
  };
  const std::vector<TCase> cases = {
      {"at the end", {"ctrl+End"}, true},
      {"in the middle", {"ctrl+Home", "Page_Down", "Page_Down"}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string text;
    for (int i = 0; i < 400; ++i) text += "строка " + std::to_string(i) + "\r\n";
    Write("grow.log", text);
    struct TEvents final : platform::window::TLogWindowEvents {
      ui::TfrmLog Form{GetLogFileName(true)};
      bool Reloaded = false;
      void FormCreate(TLogWindowView& AView) override { Form.FormCreate(AView); }
      void FilesChange(TLogWindowView& AView) override { Form.FilesChange(AView); }
      void FilesDropDown(TLogWindowView& AView) override { Form.FilesDropDown(AView); }
      void OpenDirClick(TLogWindowView&) override {}
      void CheckFileTimer(TLogWindowView& AView) override {
        Form.CheckFileTimer(AView);
        if (AView.Text().find("добавлено 199") != std::string::npos) Reloaded = true;
      }
    } events;
    bool offered = false, focused = false, placed = false, reloaded = false, atEnd = false;
    int topBefore = -1, topAfter = -1;
    platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
      offered = OffersKeys(AProbe) && AProbe.TextAtEnd && AProbe.FirstVisibleLine;
      if (offered) {
        focused = FocusControl(AProbe, "text");
        for (const std::string& key : c.Keys) {
          AProbe.PressKey(key);
          AProbe.WaitFor(200, [] { return false; });
        }
        placed = AProbe.WaitFor(5000, [&] { return AProbe.TextAtEnd() == c.AtEnd && AProbe.FirstVisibleLine() > 0; });
        AProbe.WaitFor(300, [] { return false; });
        topBefore = AProbe.FirstVisibleLine();
        std::string more;
        for (int i = 0; i < 200; ++i) more += "добавлено " + std::to_string(i) + "\r\n";
        Append("grow.log", more);
        Touch("grow.log", 2);
        reloaded = AProbe.WaitFor(10000, [&] { return events.Reloaded; });
        // laid out and scrolled; a view that went elsewhere does not come back meanwhile
        AProbe.WaitFor(1000, [] { return false; });
        atEnd = AProbe.TextAtEnd();
        topAfter = AProbe.FirstVisibleLine();
      }
      AProbe.Close();
    });
    QD_RUN_WINDOW(platform::window::RunLogWindow(ui::TfrmLog::kCaption, events));
    if (!offered) GTEST_SKIP() << "the view cannot be watched by a test here";
    ASSERT_TRUE(focused);
    ASSERT_TRUE(placed) << "the keys moved the view";
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(atEnd, c.AtEnd) << "top line before " << topBefore << ", after " << topAfter;
    if (c.AtEnd) {
      EXPECT_GT(topAfter, topBefore) << "the view followed the new lines";
    } else {
      EXPECT_EQ(topAfter, topBefore);
    }
  }
}

// The help page in the real browser: Esc closes the window.
TEST_F(Windows, DocumentWindowClosesOnEsc) {
  fs::path page = Dir.Path() / "md.html";
  std::ofstream(page, std::ios::binary) << "<p><a href=\"#x\">ссылка</a></p>";
  bool offered = false, closed = false;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    offered = OffersKeys(AProbe);
    if (offered) {
      AProbe.PressKey("Escape");
      closed = AProbe.WaitFor(5000, [&] { return !AProbe.Alive(); });
    }
    AProbe.Close();
  });
  QD_RUN_DOCUMENT_WINDOW(page);
  if (!offered) GTEST_SKIP() << "keys cannot be sent by a test here";
  EXPECT_TRUE(closed);
}

// What the page measures in the browser: the document's scroll width and the viewport's width,
// and the tables whose right edge lies beyond the viewport outside a scrolling box of their own.
struct TPageFit {
  int Width = 0;  // of the client area
  long ScrollWidth = -1, ClientWidth = -1;
  std::string CutTables;
  long SplitWords = -1, UnreachableBoxes = -1;  // words of table cells across lines; boxes that
                                                // scroll but the keyboard cannot reach
  std::string Raw;
};

const char kMeasurePage[] = R"js((function () {
  var root = document.documentElement, width = root.clientWidth, cut = [];
  var tables = document.querySelectorAll('table');
  for (var i = 0; i < tables.length; ++i) {
    var t = tables[i], right = t.getBoundingClientRect().right;
    if (right <= width + 0.5) continue;
    var boxed = false;
    for (var p = t; p && p !== root; p = p.parentElement) {
      var s = getComputedStyle(p);
      if ((s.overflowX === 'auto' || s.overflowX === 'scroll') && p.getBoundingClientRect().right <= width + 0.5) {
        boxed = true;
        break;
      }
    }
    if (!boxed) cut.push(i + '@' + Math.round(right));
  }
  var split = 0, samples = [], cells = document.querySelectorAll('td, th');
  for (var c = 0; c < cells.length; ++c) {
    var walker = document.createTreeWalker(cells[c], NodeFilter.SHOW_TEXT, null, false), node;
    while ((node = walker.nextNode())) {
      var re = /\S+/g, m;
      while ((m = re.exec(node.data))) {
        var range = document.createRange();
        range.setStart(node, m.index);
        range.setEnd(node, m.index + m[0].length);
        var rects = range.getClientRects(), tops = {};
        var lines = 0;
        for (var k = 0; k < rects.length; ++k) {
          var top = Math.round(rects[k].top);
          if (rects[k].width > 0 && !tops[top]) { tops[top] = true; ++lines; }
        }
        if (lines > 1) { ++split; if (samples.length < 5) samples.push(m[0]); }
      }
    }
  }
  var unreachable = 0, boxes = document.querySelectorAll('.wide, pre');
  for (var b = 0; b < boxes.length; ++b)
    if (boxes[b].scrollWidth > boxes[b].clientWidth + 1 && boxes[b].tabIndex < 0) ++unreachable;
  return root.scrollWidth + ' ' + width + ' ' + (cut.length ? cut.join(',') : '-') + ' ' + split + ' ' + unreachable +
      ' ' + samples.join('|');
})())js";

// The help page fits its window: shown at the window's designed width and at a larger one,
// it never scrolls sideways and cuts no table. What the browser shows is kept as PNG pictures
// in the build folder.
TEST_F(Windows, HelpPageFitsItsWindowAtTheDesignedWidthAndWider) {
  std::optional<TTempFolderVars> temp(std::in_place, Dir.Str());
  std::string archive = test::ReadAll(QD_HELP_ARCHIVE_PATH);
  ui::TMarkdownRenderer::SetResourceReader([&](const std::string& AName) -> std::optional<std::string_view> {
    if (AName == "help") return archive;
    return std::nullopt;
  });
  bool offered = false;
  std::vector<TPageFit> fits;
  std::vector<std::string> pictures;
  std::vector<bool> pictured;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    offered = AProbe.RunScript && AProbe.ResizeClient && AProbe.Snapshot && AProbe.WaitFor;
    if (offered) {
      // the designed width, as the window opened, then a larger one
      int designed = std::atoi(AProbe.RunScript("window.innerWidth").c_str());
      int height = std::atoi(AProbe.RunScript("window.innerHeight").c_str());
      for (int width : {designed, 900, 1280}) {
        TPageFit fit;
        fit.Width = width;
        if (width != designed && !AProbe.ResizeClient(width, height)) {
          fit.Raw = "not resized";
          fits.push_back(fit);
          continue;
        }
        AProbe.WaitFor(300, [] { return false; });
        fit.Raw = AProbe.RunScript(kMeasurePage);
        std::istringstream(fit.Raw) >> fit.ScrollWidth >> fit.ClientWidth >> fit.CutTables >> fit.SplitWords >>
            fit.UnreachableBoxes;
        fits.push_back(fit);
        std::string picture = (fs::path(QD_TEST_OUTPUT_DIR) / ("help_page_" + std::to_string(width) + ".png")).string();
        pictures.push_back(picture);
        pictured.push_back(AProbe.Snapshot(picture));
      }
    }
    AProbe.Close();
  });
  std::string failure = test::FailureOf([] { ui::TMarkdownRenderer::Render("help", "Справка"); });
  ui::TMarkdownRenderer::SetResourceReader(nullptr);
  temp.reset();
  if (failure == platform::window::kMsgNoDisplay) GTEST_SKIP() << failure;
#if defined(_WIN32)
  if (failure == "Встроенный веб-браузер недоступен") GTEST_SKIP() << "no HTML engine here";
#endif
  ASSERT_EQ(failure, "(no error)");
  if (!offered) GTEST_SKIP() << "the page cannot be measured by a test here";
  ASSERT_EQ(fits.size(), 3u);
  for (size_t i = 0; i < fits.size(); ++i) {
    const TPageFit& fit = fits[i];
    SCOPED_TRACE("client width " + std::to_string(fit.Width) + ": " + fit.Raw);
    std::printf("help page at %d px: scrollWidth %ld, clientWidth %ld, cut tables %s, words split in tables %ld\n",
                fit.Width, fit.ScrollWidth, fit.ClientWidth, fit.CutTables.c_str(), fit.SplitWords);
    ASSERT_GT(fit.ClientWidth, 0);
    EXPECT_LE(fit.ScrollWidth, fit.ClientWidth) << "the page scrolls sideways";
    EXPECT_EQ(fit.CutTables, "-") << "tables cut at the window's edge (index@right edge)";
    EXPECT_EQ(fit.SplitWords, 0) << "words of table cells split across lines (the first few at the end)";
    EXPECT_EQ(fit.UnreachableBoxes, 0) << "boxes that scroll sideways but take no keyboard focus";
    ASSERT_LT(i, pictured.size());
    EXPECT_TRUE(pictured[i]) << pictures[i];
    EXPECT_GT(fs::exists(pictures[i]) ? fs::file_size(pictures[i]) : 0u, 0u) << pictures[i];
  }
  EXPECT_GT(fits[1].ClientWidth, fits[0].ClientWidth) << "the window was made wider";
}

// What the help window does with a followed link, the same on every system: a place in the
// page and a file of the help's own folder are shown, addresses of the web and of mail go to
// the system's program, anything else stays where it is.
TEST(LinkPolicy, ActionForEachKindOfLink) {
  using platform::window::TLinkAction;
#if defined(_WIN32)
  const std::string page = "file:///C:/Users/%D1%8F/Temp/{1A}/md.html", folder = "file:///c:/users/я/temp/{1a}/";
#else
  const std::string page = "file:///tmp/%D1%8F/{1A}/md.html", folder = "file:///tmp/я/{1A}/";
#endif
  const struct {
    std::string Link;
    TLinkAction Action;
  } cases[] = {
      {page + "#%D0%BF%D0%BE%D1%80%D1%8F%D0%B4%D0%BE%D0%BA", TLinkAction::Show},
      {page, TLinkAction::Show},
      {folder + "images/scheme.svg", TLinkAction::Show},
      {folder + "images/%73cheme.svg?x#y", TLinkAction::Show},
      {"http://scale.invalid/a", TLinkAction::External},
      {"HTTPS://scale.invalid/a", TLinkAction::External},
      {"mailto:help@scale.invalid", TLinkAction::External},
      {folder + "../secret.html", TLinkAction::Refuse},
      {folder + "images/%2E%2E/%2e%2e/secret.html", TLinkAction::Refuse},
      {folder + "..%2Fsecret.html", TLinkAction::Refuse},
      {folder, TLinkAction::Refuse},
      {"file:///etc/hostname", TLinkAction::Refuse},
      {"javascript:alert(1)", TLinkAction::Refuse},
      {"ftp://scale.invalid/a", TLinkAction::Refuse},
      {"about:blank", TLinkAction::Refuse},
      {"", TLinkAction::Refuse},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::window::LinkActionFor(c.Link, page), c.Action) << c.Link;
#if defined(_WIN32)
  // a page given as a path, as the window is sent to it
  EXPECT_EQ(platform::window::LinkActionFor("file:///C:/Temp/%7B1A%7D/images/a.svg", "file:///C:\\Temp\\{1A}\\md.html"),
            TLinkAction::Show);
  // the page itself as the browser may report it, a plain path; a path elsewhere stays refused
  EXPECT_EQ(platform::window::LinkActionFor("C:\\Temp\\{1A}\\md.html", "file:///C:\\Temp\\{1A}\\md.html"),
            TLinkAction::Show);
  EXPECT_EQ(platform::window::LinkActionFor("c:/temp/{1a}/images/a.svg", "file:///C:\\Temp\\{1A}\\md.html"),
            TLinkAction::Show);
  EXPECT_EQ(platform::window::LinkActionFor("C:\\Windows\\win.ini", "file:///C:\\Temp\\{1A}\\md.html"),
            TLinkAction::Refuse);
#endif
}

// The list of files opens from the keyboard with the file shown still selected, and the focus
// stays on it.
TEST_F(Windows, FileListOpensFromTheKeyboardKeepingTheDayShown) {
  Write("x_2026.12.09.log", "old\r\n");
  Write("x_2026.12.10.log", "new\r\n");
#if defined(_WIN32)
  const std::vector<std::string> keys = {"alt+Down", "F4"};
#else
  const std::vector<std::string> keys = {"space", "Return", "alt+Down"};
#endif
  for (const std::string& key : keys) {
    SCOPED_TRACE(key);
    struct TResult {
      bool Offered = false, Focused = false, Open = false, Closed = false, Alive = false;
      std::string SelectedBefore, SelectedOpen, SelectedClosed, FocusClosed;
    } r;
    platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
      r.Offered = OffersKeys(AProbe) && AProbe.FileListOpen && AProbe.SelectedFile;
      if (r.Offered) {
        r.Focused = FocusControl(AProbe, "files");
        r.SelectedBefore = AProbe.SelectedFile();
        AProbe.PressKey(key);
        r.Open = AProbe.WaitFor(3000, [&] { return AProbe.FileListOpen(); });
        r.SelectedOpen = AProbe.SelectedFile();
        // Esc closes the list, not the window; the list keeps the focus and the day
        AProbe.PressKey("Escape");
        r.Closed = AProbe.WaitFor(3000, [&] { return !AProbe.FileListOpen(); });
        AProbe.WaitFor(200, [] { return false; });
        r.Alive = AProbe.Alive();
        r.SelectedClosed = AProbe.SelectedFile();
        r.FocusClosed = AProbe.FocusedControl();
      }
      AProbe.Close();
    });
    QD_RUN_WINDOW(ui::TfrmLog::ShowModal(GetLogFileName(true)));
    if (!r.Offered) GTEST_SKIP() << "the list cannot be watched by a test here";
    ASSERT_TRUE(r.Focused);
    EXPECT_EQ(r.SelectedBefore, "x_2026.12.10.log");
    EXPECT_TRUE(r.Open) << "the key opens the list";
    EXPECT_EQ(r.SelectedOpen, "x_2026.12.10.log") << "the day shown stays selected";
    EXPECT_TRUE(r.Closed);
    EXPECT_TRUE(r.Alive) << "Esc on the open list closes the list only";
    EXPECT_EQ(r.SelectedClosed, "x_2026.12.10.log");
    EXPECT_EQ(r.FocusClosed, "files");
  }
}

// After a file is loaded the caret is where the view is: at the top, so the first key moves
// from there (not from the end while the top is in view).
TEST_F(Windows, CaretAndViewAtTheTopAfterALoad) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "строка " + std::to_string(i) + "\r\n";
  Write("x_2026.12.10.log", text);
  bool offered = false;
  size_t caret = 99;
  int top = -1, topAfterKey = -1;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    offered = OffersKeys(AProbe) && AProbe.Caret && AProbe.FirstVisibleLine;
    if (offered) {
      AProbe.WaitFor(500, [] { return false; });
      caret = AProbe.Caret();
      top = AProbe.FirstVisibleLine();
      if (FocusControl(AProbe, "text")) {
        AProbe.PressKey("Down");
        AProbe.WaitFor(300, [] { return false; });
        topAfterKey = AProbe.FirstVisibleLine();
      }
    }
    AProbe.Close();
  });
  QD_RUN_WINDOW(ui::TfrmLog::ShowModal(GetLogFileName(true)));
  if (!offered) GTEST_SKIP() << "the caret cannot be watched by a test here";
  EXPECT_EQ(caret, 0u);
  EXPECT_EQ(top, 0);
  EXPECT_EQ(topAfterKey, 0) << "the first Down stays near the top";
}

// The folder button says what it does, to the eye and to a screen reader, and its picture is
// at least as large as the system's small icons.
TEST_F(Windows, FolderButtonHasATooltipAndAName) {
  bool offered = false;
  TWindowProbe::TButtonFacts facts;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    offered = static_cast<bool>(AProbe.FolderButton);
    if (offered) facts = AProbe.FolderButton();
    AProbe.Close();
  });
  QD_RUN_WINDOW(ui::TfrmLog::ShowModal(GetLogFileName(true)));
  if (!offered) GTEST_SKIP() << "the button cannot be read by a test here";
  EXPECT_EQ(facts.Tooltip, "Открыть папку с логами");
  EXPECT_EQ(facts.AccessibleName, "Открыть папку с логами");
  // the picture grows with the font: run with GDK_DPI_SCALE=2 the fonts are doubled (Linux)
  const char* fontScale = std::getenv("GDK_DPI_SCALE");
  const double scale = fontScale ? std::max(1.0, std::atof(fontScale)) : 1.0;
  EXPECT_GE(facts.PictureSize, static_cast<int>(16 * scale));
  std::printf("folder button picture %d px beside a list %d px high (font scale %.1f)\n", facts.PictureSize,
              facts.ListHeight, scale);
}

// Links in the help window: a place in the page and a file of the help's folder are shown there
// (Backspace and Alt+Left come back), the web and mail go to the system's program (here a
// recorder) with the page left as it was, and a file elsewhere goes nowhere.
TEST_F(Windows, HelpLinksGoWhereTheyBelong) {
  fs::create_directories(Dir.Path() / "images");
  std::ofstream(Dir.Path() / "images" / "pic.svg", std::ios::binary)
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"></svg>";
  std::string body = "<p><a href=\"#part\">к разделу</a> <a href=\"images/pic.svg\">картинка</a> "
                     "<a href=\"http://scale.invalid/page\">сайт</a> <a href=\"mailto:help@scale.invalid\">почта</a> "
                     "<a href=\"file:///etc/hostname\">чужой файл</a></p>";
  for (int i = 0; i < 200; ++i) body += "<p>абзац " + std::to_string(i) + "</p>";
  body += "<h2 id=\"part\">Раздел</h2>";
  for (int i = 0; i < 200; ++i) body += "<p>ещё " + std::to_string(i) + "</p>";
  fs::path page = Dir.Path() / "md.html";
  std::ofstream(page, std::ios::binary) << "<!DOCTYPE html><html><body>" << body << "</body></html>";
  std::vector<std::string> opened;
  platform::window::SetExternalLinkOpener([&](const std::string& AUri) { opened.push_back(AUri); });
  struct TSeen {
    bool Offered = false;
    std::string AfterAnchor, ScrolledAtAnchor, AfterFile, AfterBackspace, AfterFileAgain, AfterAltLeft, AfterExternal,
        AfterForeign;
  } seen;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    seen.Offered = OffersKeys(AProbe) && AProbe.RunScript;
    if (!seen.Offered) {
      AProbe.Close();
      return;
    }
    auto where = [&] { return AProbe.RunScript("location.href"); };
    auto click = [&](int AIndex) {
      AProbe.RunScript("document.querySelectorAll('a')[" + std::to_string(AIndex) + "].click(); 'ok'");
    };
    auto waitFor = [&](const std::string& AEnd) {
      AProbe.WaitFor(5000, [&] {
        std::string at = where();
        return at.size() >= AEnd.size() && at.compare(at.size() - AEnd.size(), AEnd.size(), AEnd) == 0;
      });
      return where();
    };
    click(0);
    seen.AfterAnchor = waitFor("md.html#part");
    seen.ScrolledAtAnchor = AProbe.RunScript("window.scrollY > 0 ? 'yes' : 'no'");
    click(1);
    seen.AfterFile = waitFor("pic.svg");
    AProbe.PressKey("BackSpace");
    seen.AfterBackspace = waitFor("md.html#part");
    click(1);
    seen.AfterFileAgain = waitFor("pic.svg");
    AProbe.PressKey("alt+Left");
    seen.AfterAltLeft = waitFor("md.html#part");
    click(2);
    click(3);
    AProbe.WaitFor(1000, [&] { return opened.size() >= 2; });
    seen.AfterExternal = where();
    click(4);
    AProbe.WaitFor(500, [] { return false; });
    seen.AfterForeign = where();
    AProbe.Close();
  });
  QD_RUN_DOCUMENT_WINDOW(page);
  platform::window::SetExternalLinkOpener(nullptr);
  if (!seen.Offered) GTEST_SKIP() << "the page cannot be worked by a test here";
  auto ends = [](const std::string& AText, const std::string& AEnd) {
    return AText.size() >= AEnd.size() && AText.compare(AText.size() - AEnd.size(), AEnd.size(), AEnd) == 0;
  };
  EXPECT_TRUE(ends(seen.AfterAnchor, "md.html#part")) << seen.AfterAnchor;
  EXPECT_EQ(seen.ScrolledAtAnchor, "yes");
  EXPECT_TRUE(ends(seen.AfterFile, "images/pic.svg")) << seen.AfterFile;
  EXPECT_TRUE(ends(seen.AfterBackspace, "md.html#part")) << seen.AfterBackspace;
  EXPECT_TRUE(ends(seen.AfterFileAgain, "images/pic.svg")) << seen.AfterFileAgain;
  EXPECT_TRUE(ends(seen.AfterAltLeft, "md.html#part")) << seen.AfterAltLeft;
  EXPECT_EQ(opened, (std::vector<std::string>{"http://scale.invalid/page", "mailto:help@scale.invalid"}));
  EXPECT_TRUE(ends(seen.AfterExternal, "md.html#part")) << "the help stays: " << seen.AfterExternal;
  EXPECT_TRUE(ends(seen.AfterForeign, "md.html#part")) << "a file elsewhere is not shown: " << seen.AfterForeign;
}

#if !defined(_WIN32)
// Pictures of the log window at the help's designed width and at a wide one, left in the build
// folder for a person to look at (this program has the toolkit linked, as a host may).
TEST_F(Windows, LogWindowPictures) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "2026.12.10 12:00:" + std::to_string(10 + i % 50) + ".000 DEBUG Данные обмена -> 02 25 00 01 00 00 00 00 " +
            std::to_string(i) + "\r\n";
  Write("x_2026.12.10.log", text);
  std::vector<std::string> pictures;
  std::vector<bool> saved;
  bool offered = false;
  platform::window::SetWindowReadyHook([&](const TWindowProbe& AProbe) {
    GtkWindow* window = nullptr;
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* t = toplevels; t; t = t->next)
      if (gtk_widget_get_mapped(GTK_WIDGET(t->data)) && std::string(gtk_window_get_title(GTK_WINDOW(t->data)) ?: "") == AProbe.Caption)
        window = GTK_WINDOW(t->data);
    g_list_free(toplevels);
    offered = window != nullptr;
    for (int width : {506, 1280}) {
      if (!window) break;
      gtk_window_resize(window, width, 293);
      AProbe.WaitFor(1500, [&] { return gtk_widget_get_allocated_width(GTK_WIDGET(window)) == width; });
      AProbe.WaitFor(300, [] { return false; });
      GdkWindow* where = gtk_widget_get_window(GTK_WIDGET(window));
      GdkPixbuf* picture = gdk_pixbuf_get_from_window(where, 0, 0, gdk_window_get_width(where), gdk_window_get_height(where));
      std::string path = (fs::path(QD_TEST_OUTPUT_DIR) / ("log_window_" + std::to_string(width) + ".png")).string();
      pictures.push_back(path);
      saved.push_back(picture && gdk_pixbuf_save(picture, path.c_str(), "png", nullptr, nullptr));
      if (picture) g_object_unref(picture);
    }
    AProbe.Close();
  });
  QD_RUN_WINDOW(ui::TfrmLog::ShowModal(GetLogFileName(true)));
  if (!offered) GTEST_SKIP() << "the window cannot be pictured here";
  ASSERT_EQ(saved.size(), 2u);
  for (size_t i = 0; i < saved.size(); ++i) EXPECT_TRUE(saved[i]) << pictures[i];
}
#endif

#if !defined(_WIN32)
// Files of the process's memory map whose name holds the text.
std::set<std::string> MappedFiles(const std::string& AName) {
  std::set<std::string> files;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    size_t slash = line.find('/');
    if (slash != std::string::npos && line.find(AName, slash) != std::string::npos) files.insert(line.substr(slash));
  }
  return files;
}

// This program has the toolkit loaded from its start, as a host that shows windows of its own
// may: the windows take the libraries the process holds, and no second copy is loaded.
TEST(Toolkit, LibrariesTheProcessHoldsAreTakenAsTheyAre) {
  platform::toolkit::LoadWeb();
  EXPECT_EQ(reinterpret_cast<void*>(platform::toolkit::Gtk.gtk_window_new), dlsym(RTLD_DEFAULT, "gtk_window_new"));
  EXPECT_EQ(reinterpret_cast<void*>(platform::toolkit::Gtk.g_main_loop_run), dlsym(RTLD_DEFAULT, "g_main_loop_run"));
  EXPECT_EQ(reinterpret_cast<void*>(platform::toolkit::Web.webkit_web_view_new), dlsym(RTLD_DEFAULT, "webkit_web_view_new"));
  for (const char* library : {"libgtk-3.so", "libgdk-3.so", "libglib-2.0.so", "libwebkit2gtk-4.1.so"})
    EXPECT_EQ(MappedFiles(library).size(), 1u) << library;
  EXPECT_NO_THROW(platform::toolkit::LoadGtk()) << "a second load finds the tables filled";
}
#endif

}  // namespace
}  // namespace qd
