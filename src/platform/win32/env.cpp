#include "platform/env.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/win32/wintext.h"

namespace qd::platform {

using win::Narrow;

std::string ModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ModulePath), &module))
    return std::string();
  wchar_t shortName[MAX_PATH + 1] = {};
  wchar_t longName[MAX_PATH + 1] = {};
  GetModuleFileNameW(module, shortName, MAX_PATH);
  if (GetLongPathNameW(shortName, longName, MAX_PATH) == 0) return std::string();
  return Narrow(longName);
}

TFileVersion ModuleVersion() {
  TFileVersion v;
  std::wstring path = win::Widen(ModulePath());
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return v;
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return v;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || info == nullptr) return v;
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
