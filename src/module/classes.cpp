// The component classes this library offers to the host: the scale driver.
#include "driver/Driver.h"
#include "module/lifetime.h"

namespace qd {

// Runs at library load after the log folder is set: fills the driver description and
// registers TDriver under the library's class name.
void RegisterModuleClasses() { RegisterDriverClass(); }

}  // namespace qd
