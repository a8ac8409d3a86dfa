// The component classes this library offers to the host.
#include "cf/registry.h"
#include "common/resources.h"
#include "driver/CommonDriver.h"
#include "module/lifetime.h"

namespace qd {
namespace {

// The library's component under its class name: the standard driver methods for now; the
// scale driver takes its place.
class TModuleComponent : public TCommonDriver {
 public:
  static std::string ClassName() { return "w_quendal7v2k"; }
  std::string NCClassName() const override { return ClassName(); }
  std::string DriverClassName() const override { return "TModuleComponent"; }
};

}  // namespace

void RegisterModuleClasses() {
  TCommonDriver::GetDriverInfo<TModuleComponent>("w_quendal7v2k", LoadResourceString(kStrDriverDescription));
  RegisterNativeComponent(NativeComponentClass<TModuleComponent>());
}

}  // namespace qd
