// Test module offering the test driver class through the real exports.
#include "cf/registry.h"
#include "common/resources.h"
#include "driver/testdriver.h"
#include "module/lifetime.h"
#include "ui/WindowSet.h"

namespace qd {

// Like the product module: with the driver's windows.
void RegisterModuleClasses() {
  ui::InstallDriverWindows();
  TCommonDriver::GetDriverInfo<test::TTestDriver>("w_quendal7v2k", LoadResourceString(kStrDriverDescription));
  RegisterNativeComponent(NativeComponentClass<test::TTestDriver>());
}

}  // namespace qd
