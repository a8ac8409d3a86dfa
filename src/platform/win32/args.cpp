#include "platform/args.h"

#include <windows.h>

#include <string>

#include "platform/win32/wintext.h"

namespace qd::platform {

std::string ProgramPath() {
  // The wide name of the program's own module: the narrow argv[0] loses every character
  // outside the ANSI code page.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return std::string();
    if (n < name.size()) {
      name.resize(n);
      break;
    }
    if (name.size() >= 32768) return std::string();
    name.resize(name.size() * 2);
  }
  DWORD n = GetLongPathNameW(name.c_str(), nullptr, 0);
  if (n == 0) return win::Narrow(name.c_str());
  std::wstring longName(n, L'\0');
  n = GetLongPathNameW(name.c_str(), longName.data(), n);
  if (n == 0 || n >= longName.size()) return win::Narrow(name.c_str());
  longName.resize(n);
  return win::Narrow(longName.c_str());
}

}  // namespace qd::platform
