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
  // The end of a log as it is read for the window, from the byte ASkipped on: one byte more
  // than is shown, since the last one before the cut tells whether a line begins there.
  static std::string ReadShownTail(const std::string& APath, unsigned long long& ASkipped);
  // The text shown for the end of a file read from the byte ASkipped on.
  static std::string ShownText(std::string AText, unsigned long long ASkipped);
  void RefreshLogFiles(TLogWindowView& AView);
  void LoadSelectedLog(TLogWindowView& AView);
  // When the file shown has only grown by whole lines since it was read: adds them to the
  // text and tells true; false when it has to be read again whole.
  bool AppendGrowth(TLogWindowView& AView, const std::string& APath, long long AWritten);

  std::string FLogDirectory;  // ends with a path delimiter
  long long FLogLastWriteTime = 0;
  // How far the text shows the file: the offset after its last byte shown, the bytes before
  // that offset (at most kSameFileBytes, to know the same file again) and how much was added
  // since it was read whole.
  unsigned long long FShownEnd = 0;
  std::string FShownLast;
  size_t FAppended = 0;
  static constexpr size_t kSameFileBytes = 64;
};

}  // namespace qd::ui
