// How fast the log viewer answers keys while a large log grows: the real window on a file of
// about 20 MB that gains 100 lines every second, Down pressed every 100 ms for 15 seconds; prints
// the median and the largest time from a key's press until the window has handled it and
// everything it caused (the timer's reloads included, when one falls on a key).
//
//   log_viewer_keys [MEGABYTES] [SECONDS]      (default 20 and 15; a display is needed)
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
    shown = true;
    const auto start = TClock::now();
    auto lastGrowth = start;
    int grown = 0;
    while (TClock::now() - start < std::chrono::seconds(seconds) && AProbe.Alive()) {
      if (TClock::now() - lastGrowth >= std::chrono::seconds(1)) {
        std::ofstream out(log, std::ios::binary | std::ios::app);
        for (int i = 0; i < 100; ++i) out << "2026.12.10 12:00:01.000 INFO добавлено " << grown << " " << i << "\r\n";
        ++grown;
        lastGrowth = TClock::now();
      }
      const auto pressed = TClock::now();
      AProbe.PressKey("Down");
      times.push_back(std::chrono::duration<double>(TClock::now() - pressed).count());
      AProbe.WaitFor(100, [] { return false; });
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
  if (!shown || times.empty()) return 1;
  std::sort(times.begin(), times.end());
  std::printf("log of %d MB growing 100 lines a second: %zu keys, median %.3f s, largest %.3f s\n", megabytes,
              times.size(), times[times.size() / 2], times.back());
  return 0;
}
