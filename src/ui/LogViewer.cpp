#include "ui/LogViewer.h"

#include <stdexcept>
#include <vector>

#include "common/fsfailure.h"
#include "platform/fs.h"

namespace qd::ui {

namespace {

// ".log" in any letter case, taken from the last full stop of the name.
bool IsLogFileName(const std::string& AName) {
  size_t dot = AName.rfind('.');
  if (dot == std::string::npos || AName.size() - dot != 4) return false;
  std::string ext = AName.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == ".log";
}

}  // namespace

TfrmLog::TfrmLog(const std::string& ALogDirectory) : FLogDirectory(ALogDirectory) {
  if (!FLogDirectory.empty() && std::string(platform::kPathDelims).find(FLogDirectory.back()) == std::string::npos)
    FLogDirectory += platform::kPathDelim;
}

void TfrmLog::ShowModal(const std::string& ALogDirectory) {
  TfrmLog form(ALogDirectory);
  platform::window::RunLogWindow(kCaption, form);
}

void TfrmLog::FormCreate(TLogWindowView& AView) {
  RefreshLogFiles(AView);
  std::vector<std::string> names = AView.FileNames();
  // The daily names end with the date as year.month.day: the last one is the newest day.
  if (!names.empty()) AView.SelectFile(names.size() - 1);
  LoadSelectedLog(AView);
}

void TfrmLog::FilesChange(TLogWindowView& AView) { LoadSelectedLog(AView); }

// Files made since the window opened appear when the list is opened.
void TfrmLog::FilesDropDown(TLogWindowView& AView) { RefreshLogFiles(AView); }

void TfrmLog::OpenDirClick(TLogWindowView&) { platform::window::OpenFolderInShell(FLogDirectory); }

void TfrmLog::CheckFileTimer(TLogWindowView& AView) {
  std::string name = AView.SelectedFile();
  if (name.empty()) return;
  long long written = 0;
  if (!platform::FileLastWriteTime(FLogDirectory + name, written)) return;
  if (FLogLastWriteTime >= written) return;
  // The reader keeps his place: a log followed at its end stays followed as it grows.
  TLogWindowView::TReadingPlace place = AView.ReadingPlace();
  LoadSelectedLog(AView);
  AView.RestoreReadingPlace(place);
}

void TfrmLog::RefreshLogFiles(TLogWindowView& AView) {
  std::vector<std::string> names;
  // Only regular files: a link, pipe or device that someone put into the shared folder under
  // a log's name is not offered.
  for (const std::string& name : platform::ListFolder(FLogDirectory))
    if (IsLogFileName(name) && platform::FileExists(FLogDirectory + name, platform::TLinks::DoNotFollow)) names.push_back(name);
  AView.SetFileNames(names);
}

std::string TfrmLog::ReadLogText(const std::string& APath) {
  unsigned long long skipped = 0;
  // One byte more than is shown: the last one before the cut tells whether a line begins there.
  std::string text;
  try {
    text = platform::ReadFileTail(APath, kShownBytes + 1, skipped);
  } catch (const platform::EFsError& e) {
    throw std::runtime_error(FileFailureText(e));  // the message box speaks the user's language
  }
  if (skipped == 0) return text;
  // Shown from the first whole line after the cut.
  size_t lineEnd = text.find('\n');
  text.erase(0, lineEnd == std::string::npos ? text.size() : lineEnd + 1);
  return std::string(kMsgEarlierLinesLeftOut) + "\r\n" + text;
}

void TfrmLog::LoadSelectedLog(TLogWindowView& AView) {
  std::string name = AView.SelectedFile();
  if (name.empty()) return;
  std::string path = FLogDirectory + name;
  long long written = 0;
  if (platform::FileLastWriteTime(path, written)) FLogLastWriteTime = written;
  // A file that cannot be read fails here and the text stays as it was.
  AView.SetText(ReadLogText(path));
}

}  // namespace qd::ui
