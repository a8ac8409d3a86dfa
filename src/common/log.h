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
// first line after the log was switched on. Texts are UTF-8. Never throws: a log that cannot
// be written must not stop the work it records. A failure to create the folder or to write
// the file is kept for TakeLogFailure, and the next line tries again.
void WriteLog(const std::string& AText, const std::string& ADetails, int ALevel) noexcept;

// Whether a line of level ALevel would be written now; lets callers skip building details
// that would not be used.
bool LogAdmits(int ALevel);

// The message of a failure to write the log that nobody has been told of yet: true once for
// each run of failures (a successful write, or another folder or base name, ends the run),
// with the message of its first one.
bool TakeLogFailure(std::string& AMessage) noexcept;

// Changes the level; switching off after lines were written appends the stop banner.
void SetLogLevel(uint8_t ALevel);
uint8_t GetLogLevel();

// The log folder (no trailing separator needed) and the base name of the files. The base name
// is made safe for a file name when the name is built (see LogFileBaseName).
void SetLogFolder(const std::string& AFolder);
void SetLogFileBaseName(const std::string& ABaseName);

// The part of today's file name that the base name gives: blanks and control characters
// trimmed at both ends, every character that a file name may not hold on either system
// (controls, \ / : * ? " < > |) replaced by "_", and the extension (from the last full stop)
// dropped.
std::string LogFileBaseName(const std::string& ABaseName);

// With AFolderOnly the log folder with a trailing separator, otherwise today's file name.
// Creates the folder (and grants every user access to it) when it is missing; a failure to do
// so is kept for TakeLogFailure and the name is returned all the same.
std::string GetLogFileName(bool AFolderOnly);

// Called when the library unloads: writes the stop banner if the log is on and started and the
// log is not busy; never waits. From then on the log of this process takes no more lines and
// ignores level changes, so that threads still running at the exit write nothing after the
// banner.
void LogShutdown() noexcept;

// Local wall-clock time with milliseconds; replaceable so that tests can step over midnight.
struct TLogTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
void SetLogClock(std::function<TLogTime()> AClock);  // empty function restores the system clock

}  // namespace qd
