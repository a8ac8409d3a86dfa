// Start-up and clean-up of a component module: runs when the library is loaded and unloaded.
#include "module/lifetime.h"

#include "cf/registry.h"
#include "common/log.h"
#include "common/utils.h"

namespace qd {
namespace {

struct TModuleLifetime {
  TModuleLifetime() {
    try {
      SetLogFolder(DefaultLogFolder());
      SetLogFileBaseName("w_quendal7v2k");
      RegisterModuleClasses();
    } catch (...) {
      // A module that cannot register offers no classes; loading itself must not fail.
    }
  }
  ~TModuleLifetime() {
    ClearNativeComponents();
    LogShutdown();
  }
};

TModuleLifetime gModuleLifetime;

}  // namespace
}  // namespace qd
