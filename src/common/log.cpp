#include "common/log.h"

#include <cstdio>
#include <mutex>

#include "common/text.h"
#include "common/utils.h"
#include "platform/env.h"
#include "platform/fs.h"

namespace qd {

namespace {

// Process-wide log state. The level, the started flag and the names are plain settings
// (calls into one component never overlap); only the file append is serialised.
struct TLogState {
  uint8_t LogLevel = 0;
  bool Started = false;
  std::string LogFolder;
  std::string LogFileBaseName;
  std::mutex FileLock;
  std::function<TLogTime()> Clock;
};

TLogState& State() {
  // Built on first use; the module's start-up code touches it first, so it outlives the
  // module's unload hook that writes the stop banner.
  static TLogState state;
  return state;
}

TLogTime Now() {
  TLogState& s = State();
  if (s.Clock) return s.Clock();
  platform::TLocalTime t = platform::LocalNow();
  return TLogTime{t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Millisecond};
}

bool Admits(uint8_t ALogLevel, int AMessageLevel) {
  switch (ALogLevel) {
    case 0: return false;
    case 1: return AMessageLevel == kLogError;
    case 2: return AMessageLevel == kLogError || AMessageLevel == kLogInfo;
    default: return true;
  }
}

std::string DateText(const TLogTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d.%02d.%02d", t.Year % 10000, t.Month % 100, t.Day % 100);
  return buf;
}

std::string FolderWithDelim() {
  std::string folder = State().LogFolder;
  if (!folder.empty() && folder.back() != platform::kPathDelim) folder += platform::kPathDelim;
  return folder;
}

std::string FileNameFor(const TLogTime& ATime) {
  std::string folder = FolderWithDelim();
  if (!platform::DirectoryExists(folder)) {
    platform::ForceDirectories(folder);
    GrantFolderAccess(folder);
  }
  std::string base = ExtractFileName(State().LogFileBaseName);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  return folder + base + "_" + DateText(ATime) + ".log";
}

void AppendLine(const std::string& ALine, const TLogTime& ATime) {
  std::string fileName = FileNameFor(ATime);
  std::string bytes = ALine + "\r\n";
  std::lock_guard<std::mutex> guard(State().FileLock);
  platform::AppendToFile(fileName, bytes);
}

void WriteStartBanner() {
  const std::string spaces(40, ' ');
  platform::TFileVersion v = GetModuleVersion();
  char version[32];
  std::snprintf(version, sizeof version, "%d.%d.%d.%d", v.Major, v.Minor, v.Release, v.Build);
  const std::string lines[] = {spaces,
                               "============Start log=============",
                               "OS version:\t" + GetOSName(),
                               "Application:\t" + ExtractFileName(GetModulePath()),
                               std::string("App. version:\t") + version,
                               spaces};
  TLogTime now = Now();
  for (const std::string& line : lines) AppendLine(line, now);
}

void WriteStopBanner() { AppendLine("============Stop log===============\r\n", Now()); }

}  // namespace

void WriteLog(const std::string& AText, const std::string& ADetails, int ALevel) {
  TLogState& s = State();
  if (!Admits(s.LogLevel, ALevel)) return;
  if (!s.Started) {
    WriteStartBanner();
    s.Started = true;
  }
  TLogTime t = Now();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d.%02d.%02d %02d:%02d:%02d.%03d", t.Year % 10000, t.Month % 100,
                t.Day % 100, t.Hour % 100, t.Minute % 100, t.Second % 100, t.Millisecond % 1000);
  std::string line = stamp;
  switch (ALevel) {
    case kLogInfo: line += "\tINFO"; break;
    case kLogDebug: line += "\tDEBUG"; break;
    case kLogError: line += "\tERROR"; break;
    default: break;
  }
  line += '\t';
  line += Trim(AText);
  if (!ADetails.empty()) {
    line += ": \t";
    line += Trim(ADetails);
  }
  AppendLine(line, t);
}

void SetLogLevel(uint8_t ALevel) {
  TLogState& s = State();
  bool switchingOff = s.LogLevel > 0 && ALevel == 0;
  if (switchingOff && s.Started) WriteStopBanner();
  s.LogLevel = ALevel;
  if (ALevel == 0) s.Started = false;
}

uint8_t GetLogLevel() { return State().LogLevel; }

void SetLogFolder(const std::string& AFolder) { State().LogFolder = AFolder; }
std::string GetLogFolderSetting() { return State().LogFolder; }
void SetLogFileBaseName(const std::string& ABaseName) { State().LogFileBaseName = ABaseName; }
std::string GetLogFileBaseName() { return State().LogFileBaseName; }

std::string GetLogFileName(bool AFolderOnly) {
  if (AFolderOnly) {
    std::string folder = FolderWithDelim();
    if (!platform::DirectoryExists(folder)) {
      platform::ForceDirectories(folder);
      GrantFolderAccess(folder);
    }
    return folder;
  }
  return FileNameFor(Now());
}

void LogShutdown() {
  TLogState& s = State();
  if (s.LogLevel > 0 && s.Started) {
    try {
      WriteStopBanner();
    } catch (...) {
      // Unloading must not fail because the log folder went away.
    }
  }
  s.Started = false;
}

void SetLogClock(std::function<TLogTime()> AClock) { State().Clock = std::move(AClock); }

}  // namespace qd
