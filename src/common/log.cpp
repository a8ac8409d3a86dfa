#include "common/log.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>

#include "common/fsfailure.h"
#include "common/text.h"
#include "common/utils.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/fserror.h"

namespace qd {

namespace {

// Process-wide log state, shared by every component on every thread: each item is read and
// written only under Lock, which also serialises the file appends.
struct TLogState {
  std::mutex Lock;
  uint8_t LogLevel = 0;
  bool Started = false;
  std::string LogFolder;
  std::string LogFileBaseName;  // already made safe for a file name
  std::function<TLogTime()> Clock;
  bool Failing = false;        // the latest write failed
  // Set once the unload code has run: the stop banner is the last line of this process, and
  // threads still running write nothing more (nor start the log again with a new banner). Set
  // without the lock, which the unload code may not get.
  std::atomic<bool> Stopped{false};
  bool FailurePending = false; // a run of failures that nobody has been told of
  std::string FailureMessage;
};

TLogState& State() {
  // Built on first use and never destroyed: a host may exit while its threads are in the middle
  // of writing a line, and the exit's clean-up must not pull the state from under them. The
  // pointer keeps it reachable to the end of the process.
  static TLogState* const state = new TLogState;
  return *state;
}

using TGuard = std::lock_guard<std::mutex>;

// Every helper below runs with the state's lock held.

TLogTime Now(TLogState& s) {
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

std::string FolderWithDelim(const TLogState& s) {
  std::string folder = s.LogFolder;
  if (!folder.empty() && folder.back() != platform::kPathDelim) folder += platform::kPathDelim;
  return folder;
}

void NoteFailure(TLogState& s, const std::string& AMessage) {
  if (s.Failing) return;
  s.Failing = true;
  if (!s.FailurePending) {
    s.FailurePending = true;
    s.FailureMessage = AMessage;
  }
}

// The folder with its delimiter, created (and opened to every user) when missing. Something
// else at its path (a file, say) is a failure naming the folder: it is neither created nor
// touched.
std::string EnsureFolder(TLogState& s) {
  std::string folder = FolderWithDelim(s);
  if (!platform::FolderExists(folder, platform::TLinks::Follow)) {
    platform::CreateFolders(folder, platform::TNewAccess::UserDefault);
    if (!platform::FolderExists(folder, platform::TLinks::Follow))
      platform::ThrowKind(platform::TFsAction::CreateFolder, folder, "something else is there",
                          platform::TFsReason::NotAFolder, 0);
    platform::GrantFolderAccess(folder);
  }
  return folder;
}

// The day's file name without its folder.
std::string DailyName(const TLogState& s, const TLogTime& ATime) {
  return s.LogFileBaseName + "_" + DateText(ATime) + ".log";
}

std::string FileNameFor(TLogState& s, const TLogTime& ATime) { return EnsureFolder(s) + DailyName(s, ATime); }

void AppendLine(TLogState& s, const std::string& ALine, const TLogTime& ATime) {
  // Every user of the computer writes the same day's file. A file that another program holds
  // without sharing it is waited for once per run of failures, not for every line.
  platform::AppendToFile(FileNameFor(s, ATime), ALine + "\r\n", platform::TNewAccess::Everyone,
                         s.Failing ? platform::TInUseWait::None : platform::TInUseWait::Brief);
  s.Failing = false;
}

void WriteStartBanner(TLogState& s) {
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
  TLogTime now = Now(s);
  for (const std::string& line : lines) AppendLine(s, line, now);
}

void WriteStopBanner(TLogState& s) { AppendLine(s, "============Stop log===============\r\n", Now(s)); }

// Runs AWrite; a failure is noted for TakeLogFailure instead of reaching the caller.
template <class F>
bool Guarded(TLogState& s, F&& AWrite) {
  try {
    AWrite();
    return true;
  } catch (const platform::EFsError& e) {
    NoteFailure(s, FileFailureText(e));
  } catch (const std::exception& e) {
    NoteFailure(s, e.what());
  } catch (...) {
    NoteFailure(s, "Unknown error");
  }
  return false;
}

}  // namespace

std::string LogFileBaseName(const std::string& ABaseName) {
  std::string name = Trim(ABaseName);
  for (char& c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::strchr("\\/:*?\"<>|", c)) c = '_';
  }
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

namespace {

void WriteLine(const std::string& AText, const std::string& ADetails, int ALevel) {
  TLogState& s = State();
  TGuard guard(s.Lock);
  if (s.Stopped || !Admits(s.LogLevel, ALevel)) return;
  // The banner is written whole before the first line; when it could not be, it is tried
  // again with the next line.
  if (!s.Started && Guarded(s, [&] { WriteStartBanner(s); })) s.Started = true;
  TLogTime t = Now(s);
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
  Guarded(s, [&] { AppendLine(s, line, t); });
}

}  // namespace

void WriteLog(const std::string& AText, const std::string& ADetails, int ALevel) noexcept {
  try {
    WriteLine(AText, ADetails, ALevel);
  } catch (...) {
    // Out of memory for the line, or a lock the system refused: the line is lost, the work goes on.
  }
}

bool LogAdmits(int ALevel) {
  TLogState& s = State();
  TGuard guard(s.Lock);
  return Admits(s.LogLevel, ALevel);
}

bool TakeLogFailure(std::string& AMessage) noexcept try {
  TLogState& s = State();
  TGuard guard(s.Lock);
  if (!s.FailurePending) return false;
  s.FailurePending = false;
  AMessage = std::move(s.FailureMessage);
  s.FailureMessage.clear();
  return true;
} catch (...) {
  return false;
}

void SetLogLevel(uint8_t ALevel) {
  TLogState& s = State();
  TGuard guard(s.Lock);
  if (s.Stopped) return;
  bool switchingOff = s.LogLevel > 0 && ALevel == 0;
  if (switchingOff && s.Started) Guarded(s, [&] { WriteStopBanner(s); });
  s.LogLevel = ALevel;
  if (ALevel == 0) s.Started = false;
}

uint8_t GetLogLevel() {
  TLogState& s = State();
  TGuard guard(s.Lock);
  return s.LogLevel;
}

// Another folder or file name is a new situation: its failures are told anew.
void SetLogFolder(const std::string& AFolder) {
  TLogState& s = State();
  TGuard guard(s.Lock);
  if (s.LogFolder != AFolder) s.Failing = false;
  s.LogFolder = AFolder;
}

void SetLogFileBaseName(const std::string& ABaseName) {
  std::string name = LogFileBaseName(ABaseName);
  TLogState& s = State();
  TGuard guard(s.Lock);
  if (s.LogFileBaseName != name) s.Failing = false;
  s.LogFileBaseName = std::move(name);
}

std::string GetLogFileName(bool AFolderOnly) {
  TLogState& s = State();
  TGuard guard(s.Lock);
  // While the log is off, nothing is written, so there is nothing to warn of: the folder is
  // made if it can be, and a failure is left for the log to find when it is switched on.
  if (s.LogLevel > 0) {
    Guarded(s, [&] { EnsureFolder(s); });
  } else {
    try {
      EnsureFolder(s);
    } catch (...) {
    }
  }
  std::string folder = FolderWithDelim(s);
  if (AFolderOnly) return folder;
  return folder + DailyName(s, Now(s));
}

void LogShutdown() noexcept {
  TLogState& s = State();
  const bool once = !s.Stopped.exchange(true);
  // The unload code never waits: at a process exit the system may have stopped another thread
  // while it held the lock (on Windows it has ended them all), and that lock is never given
  // back. The stop banner is then left out.
  std::unique_lock<std::mutex> guard(s.Lock, std::try_to_lock);
  if (!guard.owns_lock()) return;
  // Unloading must not fail because the log folder went away.
  if (once && s.LogLevel > 0 && s.Started) Guarded(s, [&] { WriteStopBanner(s); });
  s.Started = false;
}

void SetLogClock(std::function<TLogTime()> AClock) {
  TLogState& s = State();
  TGuard guard(s.Lock);
  s.Clock = std::move(AClock);
}

}  // namespace qd
