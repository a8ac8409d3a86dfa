#include "platform/dynlib.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/wintext.h"

namespace qd::platform {

TDynLib::~TDynLib() { Unload(); }

void TDynLib::Load(const std::string& APath) {
  Unload();
  HMODULE h = LoadLibraryW(win::Widen(APath).c_str());
  if (!h) throw std::runtime_error("Cannot load " + APath + ": " + win::ErrorText(GetLastError()));
  FHandle = h;
}

void* TDynLib::Symbol(const char* AName) const {
  if (!FHandle) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), AName));
}

void TDynLib::Unload() {
  if (FHandle) FreeLibrary(static_cast<HMODULE>(FHandle));
  FHandle = nullptr;
}

}  // namespace qd::platform
