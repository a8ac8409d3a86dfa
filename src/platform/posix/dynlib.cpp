#include "platform/dynlib.h"

#include <dlfcn.h>

#include <stdexcept>

namespace qd::platform {

TDynLib::~TDynLib() { Unload(); }

void TDynLib::Load(const std::string& APath) {
  Unload();
  // A bare file name would be searched on the library path; the host loads by path.
  std::string path = APath.find('/') == std::string::npos ? "./" + APath : APath;
  FHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!FHandle) {
    const char* err = dlerror();
    throw std::runtime_error(err ? err : ("Cannot load " + APath));
  }
}

void* TDynLib::Symbol(const char* AName) const { return FHandle ? dlsym(FHandle, AName) : nullptr; }

void TDynLib::Unload() noexcept {
  if (FHandle) dlclose(FHandle);
  FHandle = nullptr;
}

}  // namespace qd::platform
