// Questions to the operating system about this module, the machine and the user.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qd::platform {

// Full path of the module (shared library or executable) that contains this code; UTF-8.
// Empty when it cannot be found.
std::string ModulePath();

// Full path of the running program's file, UTF-8: on Linux with every symbolic link resolved,
// whether it was started through PATH, a link or a relative path; on Windows the long form of
// the name the system loaded it by. Empty when the system cannot tell.
std::string ProgramPath();

struct TFileVersion {
  uint16_t Major = 0, Minor = 0, Release = 0, Build = 0;
};
// The version the module carries (Windows version resource, or the version data of the
// Linux module). All zero when the module carries none.
TFileVersion ModuleVersion();

// Name and version of the operating system, "name (numbers)".
std::string OSName();

// The name Windows versions are known by, from the numbers the system reports.
// Service pack text may be empty. Shared so that the naming rule is testable everywhere.
std::string WindowsOSName(uint32_t AMajor, uint32_t AMinor, uint32_t ABuild, uint32_t APlatformId,
                          const std::string& AServicePack);

// Folder for data shared by all users (created when missing where the system does that),
// and the current user's data folder. Empty when unknown.
std::string CommonDataFolder();
std::string UserDataFolder();

// Environment variable as UTF-8; empty when unset.
std::string GetEnv(const char* AName);

// The program's arguments as UTF-8 (on Windows taken from the wide command line, so that
// texts outside the ANSI code page survive), without the program name.
std::vector<std::string> CommandLineArgs(int argc, char** argv);
// Console output in UTF-8 (a no-op where the terminal already speaks it).
void PrepareConsoleOutput();
// True when the standard error stream is a terminal (console), not a file or a pipe.
bool StdErrIsTerminal();

struct TLocalTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
TLocalTime LocalNow();

}  // namespace qd::platform
