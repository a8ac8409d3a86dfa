#include "platform/env.h"

#include <dlfcn.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>

// The driver module defines this (see src/module); other programs built from the same code
// carry no version, exactly as a Windows module without a version resource.
extern "C" __attribute__((weak)) const uint16_t* qd_module_version();

namespace qd::platform {

std::string ModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return std::string();
  return resolved;
}

std::string ProgramPath() {
  // The kernel's own link to the program's file: never argv[0], which may be a bare name found
  // through PATH, a link, or relative to a folder the program has left.
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    if (path.size() >= 65536) return std::string();
    path.resize(path.size() * 2);
  }
}

TFileVersion ModuleVersion() {
  TFileVersion v;
  if (qd_module_version != nullptr) {
    const uint16_t* data = qd_module_version();
    v.Major = data[0];
    v.Minor = data[1];
    v.Release = data[2];
    v.Build = data[3];
  }
  return v;
}

namespace {

std::string OsReleaseValue(const std::string& AContent, const std::string& AKey) {
  size_t pos = 0;
  while (pos < AContent.size()) {
    size_t end = AContent.find('\n', pos);
    if (end == std::string::npos) end = AContent.size();
    std::string line = AContent.substr(pos, end - pos);
    pos = end + 1;
    if (line.compare(0, AKey.size() + 1, AKey + "=") != 0) continue;
    std::string value = line.substr(AKey.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::string();
}

}  // namespace

std::string OSName() {
  std::string name;
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(file, std::ios::binary);
    if (!in) continue;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    name = OsReleaseValue(content, "NAME");
    std::string version = OsReleaseValue(content, "VERSION_ID");
    if (!name.empty() && !version.empty()) name += " " + version;
    break;
  }
  if (name.empty()) name = "Linux";
  std::string numbers;
  utsname uts{};
  if (uname(&uts) == 0) {
    for (const char* p = uts.release; *p && ((*p >= '0' && *p <= '9') || *p == '.'); ++p) numbers += *p;
    while (!numbers.empty() && numbers.back() == '.') numbers.pop_back();
  }
  if (numbers.empty()) return name + " ";
  return name + " (" + numbers + ")";
}

std::string CommonDataFolder() { return "/var/lib"; }

std::string UserDataFolder() {
  std::string xdg = GetEnv("XDG_DATA_HOME");
  if (!xdg.empty() && xdg.front() == '/') return xdg;
  std::string home = GetEnv("HOME");
  if (home.empty()) return std::string();
  return home + "/.local/share";
}

std::string GetEnv(const char* AName) {
  const char* v = std::getenv(AName);
  return v ? std::string(v) : std::string();
}

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

void PrepareConsoleOutput() {}

bool StdErrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

TLocalTime LocalNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  time_t secs = tv.tv_sec;
  tm parts{};
  localtime_r(&secs, &parts);
  return TLocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                    parts.tm_min,         parts.tm_sec,     static_cast<int>(tv.tv_usec / 1000)};
}

}  // namespace qd::platform
