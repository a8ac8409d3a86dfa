// How fast the log viewer answers keys while a large log grows: the real window on a file of
// about 20 MB that gains 100 lines every second, Down pressed every 100 ms for 15 seconds; prints
// the median and the largest time from a key's press until the window has handled it and is
// idle again (the timer's reloads included, when one falls there).
//
//   log_viewer_keys [MEGABYTES] [SECONDS] [LINES]   (default 20, 15 and 100 lines a second; a
//                                                   display is needed)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/window.h"
#include "ui/LogViewer.h"

namespace fs = std::filesystem;
using namespace qd;

int main(int argc, char** argv) {
  const int megabytes = argc > 1 ? std::atoi(argv[1]) : 20;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 15;
  const int lines = argc > 3 ? std::atoi(argv[3]) : 100;
  fs::path folder = fs::temp_directory_path() / "qd-log-viewer-keys";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::path log = folder / "x_2026.12.10.log";
  {
    std::ofstream out(log, std::ios::binary);
    std::string line = "2026.12.10 12:00:00.000 DEBUG Данные обмена -> 02 25 00 01 00 00 00 00 00 00 00 00 00 00\r\n";
    for (size_t written = 0; written < static_cast<size_t>(megabytes) << 20; written += line.size()) out << line;
  }
  using TClock = std::chrono::steady_clock;
  std::vector<double> times;
  bool shown = false;
  platform::window::SetWindowReadyHook([&](const platform::window::TWindowProbe& AProbe) {
    // the keys go to the text, as a reader's do
    for (int i = 0; i < 6 && AProbe.FocusedControl && AProbe.FocusedControl() != "text"; ++i) AProbe.PressKey("Tab");
    shown = !AProbe.FocusedControl || AProbe.FocusedControl() == "text";
    const auto start = TClock::now();
    auto lastGrowth = start;
    int grown = 0;
    while (TClock::now() - start < std::chrono::seconds(seconds) && AProbe.Alive()) {
      if (lines > 0 && TClock::now() - lastGrowth >= std::chrono::seconds(1)) {
        std::ofstream out(log, std::ios::binary | std::ios::app);
        for (int i = 0; i < lines; ++i) out << "2026.12.10 12:00:01.000 INFO добавлено " << grown << " " << i << "\r\n";
        ++grown;
        lastGrowth = TClock::now();
      }
      // A key pressed now waits for whatever the window is doing (a reload of the timer) and
      // then for its own handling: counted from the press until the window is idle again,
      // less the 100 ms that the loop waits on purpose.
      const auto pressed = TClock::now();
      AProbe.PressKey("Down");
      AProbe.WaitFor(100, [] { return false; });
      times.push_back(std::max(0.0, std::chrono::duration<double>(TClock::now() - pressed).count() - 0.1));
    }
    AProbe.Close();
  });
  try {
    ui::TfrmLog::ShowModal(folder.string());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "log_viewer_keys: %s\n", e.what());
    return 1;
  }
  fs::remove_all(folder);
  if (!shown || times.empty()) {
    std::fprintf(stderr, "log_viewer_keys: the text could not be given the keys\n");
    return 1;
  }
  std::sort(times.begin(), times.end());
  std::printf("log of %d MB growing %d lines a second: %zu keys, median %.3f s, largest %.3f s\n", megabytes, lines,
              times.size(), times[times.size() / 2], times.back());
  return 0;
}
