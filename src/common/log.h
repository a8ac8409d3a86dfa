// The driver's daily log: one file per day and per base name in the log folder,
// UTF-8, CR LF, each line "yyyy.mm.dd hh:nn:ss.zzz<TAB>LEVEL<TAB>text[: <TAB>details]".
// The state is process-wide and shared by every component of the library.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace qd {

// Message levels.
constexpr int kLogInfo = 0;
constexpr int kLogDebug = 1;
constexpr int kLogError = 2;

// Log levels: 0 off, 1 errors, 2 errors and information, 3 everything.
constexpr uint8_t kLogLevelOff = 0;
constexpr uint8_t kLogLevelAll = 3;

// Writes one line when the current level admits ALevel; writes the start banner before the
// first line after the log was switched on. Texts are UTF-8. Failures to create the folder or
// to write the file are thrown (std::runtime_error with the system's message).
void WriteLog(const std::string& AText, const std::string& ADetails, int ALevel);

// Changes the level; switching off after lines were written appends the stop banner.
void SetLogLevel(uint8_t ALevel);
uint8_t GetLogLevel();

// The log folder (no trailing separator needed) and the base name of the files.
void SetLogFolder(const std::string& AFolder);
std::string GetLogFolderSetting();
void SetLogFileBaseName(const std::string& ABaseName);
std::string GetLogFileBaseName();

// With AFolderOnly the log folder with a trailing separator, otherwise today's file name.
// Creates the folder (and grants every user access to it) when it is missing.
std::string GetLogFileName(bool AFolderOnly);

// Called when the library unloads: writes the stop banner if the log is on and started.
void LogShutdown();

// Local wall-clock time with milliseconds; replaceable so that tests can step over midnight.
struct TLogTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
void SetLogClock(std::function<TLogTime()> AClock);  // empty function restores the system clock

}  // namespace qd
