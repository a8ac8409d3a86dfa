// The log viewer: a modal window listing the log files of the log folder and showing the
// selected one, reloaded while the driver keeps writing to it. It only reads.
#pragma once
#include <cstddef>
#include <string>

#include "platform/window.h"

namespace qd::ui {

class TfrmLog final : public platform::window::TLogWindowEvents {
 public:
  using TLogWindowView = platform::window::TLogWindowView;

  static constexpr const char* kCaption = "Просмотр лога";
  // A large file is shown from its end: at most this many bytes, after a first line saying so.
  static constexpr size_t kShownBytes = 4u << 20;
  static constexpr const char* kMsgEarlierLinesLeftOut =
      "(Файл больше 4 МБ: показан его конец, более ранние строки не показаны)";

  // The text the window shows for a log file.
  static std::string ReadLogText(const std::string& APath);

  // The form for the log folder (with or without the path delimiter at its end).
  explicit TfrmLog(const std::string& ALogDirectory);

  // Creates the window without an owner, shows it modally and returns when it is closed.
  static void ShowModal(const std::string& ALogDirectory);

  void FormCreate(TLogWindowView& AView) override;
  void FilesChange(TLogWindowView& AView) override;
  void FilesDropDown(TLogWindowView& AView) override;
  void OpenDirClick(TLogWindowView& AView) override;
  void CheckFileTimer(TLogWindowView& AView) override;

  const std::string& LogDirectory() const { return FLogDirectory; }

 private:
  void RefreshLogFiles(TLogWindowView& AView);
  void LoadSelectedLog(TLogWindowView& AView);

  std::string FLogDirectory;  // ends with a path delimiter
  long long FLogLastWriteTime = 0;
};

}  // namespace qd::ui
