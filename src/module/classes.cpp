// The component classes this library offers to the host: the scale driver.
#include "driver/Driver.h"
#include "module/lifetime.h"
#include "ui/WindowSet.h"

namespace qd {

// Runs at library load after the log folder is set: installs the windows (their toolkit is
// opened when the first one is shown), fills the driver description and registers TDriver
// under the library's class name.
void RegisterModuleClasses() {
  ui::InstallDriverWindows();
  RegisterDriverClass();
}

}  // namespace qd
