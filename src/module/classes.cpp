// The component classes this library offers to the host: the scale driver.
#include "driver/Driver.h"
#include "module/lifetime.h"
#include "ui/WindowLibrary.h"

namespace qd {

// Runs at library load after the log folder is set: installs the windows (their library is
// loaded on first use), fills the driver description and registers TDriver under the
// library's class name.
void RegisterModuleClasses() {
  ui::InstallWindowLibrary();
  RegisterDriverClass();
}

}  // namespace qd
