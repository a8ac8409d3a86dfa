#include "ui/LogViewer.h"

#include <algorithm>
#include <exception>
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

// Files made since the window opened appear when the list is opened; the file shown stays
// selected (and followed by the timer) when it is still there.
void TfrmLog::FilesDropDown(TLogWindowView& AView) {
  const std::string shown = AView.SelectedFile();
  RefreshLogFiles(AView);
  if (shown.empty()) return;
  std::vector<std::string> names = AView.FileNames();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == shown) AView.SelectFile(i);
}

void TfrmLog::OpenDirClick(TLogWindowView&) { platform::window::OpenFolderInShell(FLogDirectory); }

void TfrmLog::CheckFileTimer(TLogWindowView& AView) {
  std::string name = AView.SelectedFile();
  if (name.empty()) return;
  long long written = 0;
  if (!platform::FileLastWriteTime(FLogDirectory + name, written)) return;
  if (FLogLastWriteTime >= written) return;
  // The reader keeps his place: a log followed at its end stays followed as it grows. A file
  // that only grew gives the window just its new lines, so that a large log that is being
  // written costs each tick only what was added.
  TLogWindowView::TReadingPlace place = AView.ReadingPlace();
  if (!AppendGrowth(AView, FLogDirectory + name, written)) LoadSelectedLog(AView);
  AView.RestoreReadingPlace(place);
}

bool TfrmLog::AppendGrowth(TLogWindowView& AView, const std::string& APath, long long AWritten) {
  // Grown texts are read whole again now and then, so that the window keeps the size limit.
  if (FShownLast.empty() || FAppended > kShownBytes) return false;
  const unsigned long long from = FShownEnd - FShownLast.size();
  unsigned long long size = 0;
  std::string bytes;
  try {
    bytes = platform::ReadFileFrom(APath, from, FShownLast.size() + kShownBytes, size);
  } catch (const std::exception&) {
    return false;  // read whole again, which reports what is wrong
  }
  // Not the file that was read (replaced, cut short), or more added than is shown at once.
  if (size < FShownEnd || bytes.compare(0, FShownLast.size(), FShownLast) != 0 || size - FShownEnd > kShownBytes)
    return false;
  std::string added = bytes.substr(FShownLast.size());
  // Whole lines only: a line being written shows once it is complete.
  size_t lineEnd = added.rfind('\n');
  FLogLastWriteTime = AWritten;
  if (lineEnd == std::string::npos) return true;
  added.resize(lineEnd + 1);
  AView.AppendText(added);
  FShownEnd += added.size();
  FAppended += added.size();
  FShownLast += added;
  if (FShownLast.size() > kSameFileBytes) FShownLast.erase(0, FShownLast.size() - kSameFileBytes);
  return true;
}

void TfrmLog::RefreshLogFiles(TLogWindowView& AView) {
  std::vector<std::string> names;
  // Only regular files: a link, pipe or device that someone put into the shared folder under
  // a log's name is not offered.
  for (const std::string& name : platform::ListFolder(FLogDirectory))
    if (IsLogFileName(name) && platform::FileExists(FLogDirectory + name, platform::TLinks::DoNotFollow)) names.push_back(name);
  AView.SetFileNames(names);
}

std::string TfrmLog::ReadShownTail(const std::string& APath, unsigned long long& ASkipped) {
  try {
    return platform::ReadFileTail(APath, kShownBytes + 1, ASkipped);
  } catch (const platform::EFsError& e) {
    // said in the user's words, as the message box shows it
    throw std::runtime_error(FileFailureText(e));
  }
}

std::string TfrmLog::ReadLogText(const std::string& APath) {
  unsigned long long skipped = 0;
  std::string text = ReadShownTail(APath, skipped);
  return ShownText(std::move(text), skipped);
}

std::string TfrmLog::ShownText(std::string AText, unsigned long long ASkipped) {
  if (ASkipped == 0) return AText;
  // Shown from the first whole line after the cut.
  size_t lineEnd = AText.find('\n');
  AText.erase(0, lineEnd == std::string::npos ? AText.size() : lineEnd + 1);
  return std::string(kMsgEarlierLinesLeftOut) + "\r\n" + AText;
}

void TfrmLog::LoadSelectedLog(TLogWindowView& AView) {
  std::string name = AView.SelectedFile();
  if (name.empty()) return;
  std::string path = FLogDirectory + name;
  long long written = 0;
  if (platform::FileLastWriteTime(path, written)) FLogLastWriteTime = written;
  // A file that cannot be read fails here and the text stays as it was.
  unsigned long long skipped = 0;
  std::string bytes = ReadShownTail(path, skipped);
  FShownEnd = skipped + bytes.size();
  FShownLast = bytes.substr(bytes.size() - std::min(bytes.size(), kSameFileBytes));
  FAppended = 0;
  AView.SetText(ShownText(std::move(bytes), skipped));
}

}  // namespace qd::ui
