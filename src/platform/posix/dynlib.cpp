#include "platform/dynlib.h"

#include <dlfcn.h>

#include <stdexcept>

namespace qd::platform {

const char kSharedLibrarySuffix[] = ".so";

TDynLib::~TDynLib() { Unload(); }

void TDynLib::Load(const std::string& APath, TStay AStay) {
  Unload();
  // A bare file name would be searched on the library path; the host loads by path.
  std::string path = APath.find('/') == std::string::npos ? "./" + APath : APath;
  int flags = RTLD_NOW | RTLD_LOCAL | (AStay == TStay::ForGood ? RTLD_NODELETE : 0);
  FHandle = dlopen(path.c_str(), flags);
  if (!FHandle) {
    const char* err = dlerror();
    throw std::runtime_error(err ? err : ("Cannot load " + APath));
  }
  FStay = AStay;
}

void* TDynLib::Symbol(const char* AName) const { return FHandle ? dlsym(FHandle, AName) : nullptr; }

void TDynLib::Unload() noexcept {
  // A library loaded for good keeps its reference (and RTLD_NODELETE besides).
  if (FHandle && FStay == TStay::UntilUnload) dlclose(FHandle);
  FHandle = nullptr;
}

}  // namespace qd::platform
