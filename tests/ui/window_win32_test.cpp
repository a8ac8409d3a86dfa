// The real log window on Windows, driven through its view from inside its own handlers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace qd {
namespace {

namespace win = platform::window;
using win::TLogWindowView;

// Handlers that do nothing unless a test fills them in; counts what the window raised.
struct TEvents : win::TLogWindowEvents {
  std::function<void(TLogWindowView&)> OnCreate, OnTimer;
  int Changes = 0, DropDowns = 0, Clicks = 0;
  std::atomic<int> Ticks{0};

  void FormCreate(TLogWindowView& AView) override {
    if (OnCreate) OnCreate(AView);
  }
  void FilesChange(TLogWindowView&) override { ++Changes; }
  void FilesDropDown(TLogWindowView&) override { ++DropDowns; }
  void OpenDirClick(TLogWindowView&) override { ++Clicks; }
  void CheckFileTimer(TLogWindowView& AView) override {
    ++Ticks;
    if (OnTimer) OnTimer(AView);
  }
};

class LogWindowWin32 : public ::testing::Test {
 protected:
  void TearDown() override { win::SetWindowReadyHook(nullptr); }

  // Shows the window; false when there is no display to show it on.
  bool Run(TEvents& AEvents) {
    try {
      win::RunLogWindow("Просмотр лога", AEvents);
    } catch (const std::runtime_error& e) {
      if (std::strcmp(e.what(), win::kMsgNoDisplay) == 0) return false;
      throw;
    }
    return true;
  }
};

TEST_F(LogWindowWin32, ViewKeepsTheListTextAndCaret) {
  const std::string text = "строка 1\r\nline 2\nконец";
  struct TSeen {
    std::vector<std::string> Names;
    std::string SelectedAfterFill, SelectedAfterSelect, Text;
    std::vector<size_t> Carets;
  } seen;
  const std::vector<size_t> carets = {0, 3, 10, 13, 18, 22};
  TEvents events;
  events.OnCreate = [&](TLogWindowView& AView) {
    AView.SetFileNames({"c_2026.12.10.log", "a_2026.12.10.log", "b_2026.12.10.log"});
    seen.Names = AView.FileNames();
    seen.SelectedAfterFill = AView.SelectedFile();
    AView.SelectFile(1);
    seen.SelectedAfterSelect = AView.SelectedFile();
    AView.SetText(text);
    seen.Text = AView.Text();
    for (size_t caret : carets) {
      AView.RestoreCaret(caret);
      seen.Carets.push_back(AView.CaretPosition());
    }
    AView.Close();
  };
  if (!Run(events)) GTEST_SKIP() << "no graphical display";
  EXPECT_EQ(seen.Names, (std::vector<std::string>{"a_2026.12.10.log", "b_2026.12.10.log", "c_2026.12.10.log"}));
  EXPECT_EQ(seen.SelectedAfterFill, "");
  EXPECT_EQ(seen.SelectedAfterSelect, "b_2026.12.10.log");
  EXPECT_EQ(events.Changes, 0) << "selecting from code raises no change";
  EXPECT_EQ(seen.Text, text);
  // Positions count characters of the text as the control holds it (CR LF line ends).
  EXPECT_EQ(seen.Carets, carets);
}

TEST_F(LogWindowWin32, TimerTicksUntilAHandlerClosesTheWindow) {
  int ready = 0;
  win::SetWindowReadyHook([&](const win::TWindowProbe&) { ++ready; });
  TEvents events;
  events.OnTimer = [](TLogWindowView& AView) { AView.Close(); };
  if (!Run(events)) GTEST_SKIP() << "no graphical display";
  EXPECT_EQ(events.Ticks, 1);
  EXPECT_EQ(ready, 1);
}

// A failing handler is reported in a message box; the window stays, and no tick runs while the
// box is up. Closing the window from outside also takes the box away.
TEST_F(LogWindowWin32, HandlerErrorStaysInsideTheWindow) {
  std::function<void()> close;
  win::SetWindowReadyHook([&](const win::TWindowProbe& AProbe) { close = AProbe.Close; });
  TEvents events;
  events.OnTimer = [](TLogWindowView&) { throw std::runtime_error("Файл журнала не читается"); };
  std::atomic<bool> done{false};
  std::thread closer([&] {
    while (events.Ticks == 0 && !done) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (done) return;
    // Long enough for two more ticks, had the box not held them back.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    close();
  });
  bool shown = false;
  EXPECT_NO_THROW(shown = Run(events));
  done = true;
  closer.join();
  if (!shown) GTEST_SKIP() << "no graphical display";
  EXPECT_EQ(events.Ticks, 1);
}

// A host thread in the multithreaded COM apartment cannot hold the browser control itself: the
// help window still opens and closes (or fails at once with a message), never hangs.
TEST(DocumentWindowWin32, OpensFromAThreadInTheMultithreadedApartment) {
  std::atomic<bool> done{false}, ready{false};
  std::string failure;
  std::thread host([&] {
    if (!win::JoinMultithreadedApartment()) {
      failure = "could not join";
      done = true;
      return;
    }
    win::SetWindowReadyHook([&](const win::TWindowProbe& AProbe) {
      ready = true;
      AProbe.Close();
    });
    try {
      win::RunDocumentWindow("C:\\no-such-folder\\page.html", "Справка");
    } catch (const std::exception& e) {
      failure = e.what();
    }
    win::SetWindowReadyHook(nullptr);
    win::LeaveApartment();
    done = true;
  });
  // A hang check, not a speed check: the window closes as soon as it is ready.
  for (int i = 0; i < 600 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!done) {
    ADD_FAILURE() << "the document window did not return within a minute";
    std::fflush(nullptr);
    std::_Exit(1);  // the thread is stuck for good
  }
  host.join();
  if (failure == win::kMsgNoDisplay) GTEST_SKIP() << failure;
  EXPECT_NE(failure, "could not join");
  EXPECT_TRUE(ready || !failure.empty()) << "neither shown nor refused";
  std::printf("document window: %s\n", ready ? "shown" : failure.c_str());
}

}  // namespace
}  // namespace qd
