#include "platform/dynlib.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/wintext.h"

namespace qd::platform {

namespace {

bool IsFullPath(const std::wstring& APath) {
  return (APath.size() > 2 && APath[1] == L':' && (APath[2] == L'\\' || APath[2] == L'/')) ||
         (APath.size() > 1 && (APath[0] == L'\\' || APath[0] == L'/') && (APath[1] == L'\\' || APath[1] == L'/'));
}

}  // namespace

TDynLib::~TDynLib() { Unload(); }

void TDynLib::Load(const std::string& APath) {
  Unload();
  std::wstring path = win::Widen(APath);
  // With a full path, the library's own dependencies are looked up in its folder first.
  HMODULE h = IsFullPath(path) ? LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                               : LoadLibraryW(path.c_str());
  if (!h) throw std::runtime_error("Cannot load " + APath + ": " + win::ErrorText(GetLastError(), APath));
  FHandle = h;
}

void* TDynLib::Symbol(const char* AName) const {
  if (!FHandle) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), AName));
}

void TDynLib::Unload() noexcept {
  if (FHandle) FreeLibrary(static_cast<HMODULE>(FHandle));
  FHandle = nullptr;
}

}  // namespace qd::platform
