#include "platform/env.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/win32/wintext.h"

namespace qd::platform {

using win::Narrow;

namespace {

// The module that holds this code; null when the system cannot tell.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ThisModule), &module))
    return nullptr;
  return module;
}

// The module's file name, however long: the buffer grows until the name fits.
std::wstring ModuleFileName(HMODULE AModule) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(AModule, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return std::wstring();
    if (n < name.size()) {
      name.resize(n);
      return name;
    }
    if (name.size() >= 32768) return std::wstring();  // beyond any path the system allows
    name.resize(name.size() * 2);
  }
}

// The long name of a module's file (null: the program), UTF-8: short (8.3) parts become their
// long names; where that fails, the name as loaded serves.
std::string LongModuleFileName(HMODULE AModule) {
  std::wstring shortName = ModuleFileName(AModule);
  if (shortName.empty()) return std::string();
  DWORD n = GetLongPathNameW(shortName.c_str(), nullptr, 0);
  if (n == 0) return Narrow(shortName.c_str());
  std::wstring longName(n, L'\0');
  n = GetLongPathNameW(shortName.c_str(), longName.data(), n);
  if (n == 0 || n >= longName.size()) return Narrow(shortName.c_str());
  longName.resize(n);
  return Narrow(longName.c_str());
}

}  // namespace

std::string ModulePath() {
  HMODULE module = ThisModule();
  return module ? LongModuleFileName(module) : std::string();
}

// The wide name of the program's own module: the narrow argv[0] loses every character outside
// the ANSI code page.
std::string ProgramPath() { return LongModuleFileName(nullptr); }

TFileVersion ModuleVersion() {
  // Read from the loaded module's own resource: no path is involved, so its length does not
  // matter.
  TFileVersion v;
  HMODULE module = ThisModule();
  if (!module) return v;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16) /* RT_VERSION */);
  if (!found) return v;
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(module, found);
  if (!data || size == 0) return v;
  // The query may write into the block it reads, so it works on a copy.
  std::string copy(static_cast<const char*>(data), size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&info), &len) || info == nullptr ||
      len < sizeof(VS_FIXEDFILEINFO))
    return v;
  v.Major = HIWORD(info->dwFileVersionMS);
  v.Minor = LOWORD(info->dwFileVersionMS);
  v.Release = HIWORD(info->dwFileVersionLS);
  v.Build = LOWORD(info->dwFileVersionLS);
  return v;
}

std::string OSName() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL ok = GetVersionExW(&info);
#pragma GCC diagnostic pop
  if (!ok) return "Unknown ";
  return WindowsOSName(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.dwPlatformId,
                       Narrow(info.szCSDVersion));
}

namespace {

std::string ShellFolder(int ACsidl) {
  wchar_t buf[MAX_PATH + 1] = {};
  if (SHGetFolderPathW(nullptr, ACsidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK)
    return std::string();
  return Narrow(buf);
}

}  // namespace

std::string CommonDataFolder() { return ShellFolder(CSIDL_COMMON_APPDATA); }
std::string UserDataFolder() { return ShellFolder(CSIDL_APPDATA); }

std::string GetEnv(const char* AName) {
  std::wstring name = win::Widen(AName);
  DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (n == 0) return std::string();
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(name.c_str(), value.data(), n);
  return Narrow(value.c_str(), static_cast<int>(n));
}

std::vector<std::string> CommandLineArgs(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) {
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
  }
  for (int i = 1; i < count; ++i) args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

void PrepareConsoleOutput() { SetConsoleOutputCP(CP_UTF8); }

bool StdErrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

TLocalTime LocalNow() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return TLocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace qd::platform
