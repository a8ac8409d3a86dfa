// The component classes this library offers to the host.
#include "cf/registry.h"
#include "module/lifetime.h"

namespace qd {
namespace {

// The scale driver's component. Its driver methods and settings are registered by the
// driver layer; this class is the registered entry point under the library's class name.
class TModuleComponent : public TExtNativeComponent {
 public:
  static std::string ClassName() { return "w_quendal7v2k"; }
  std::string NCClassName() const override { return ClassName(); }
};

}  // namespace

void RegisterModuleClasses() { RegisterNativeComponent(NativeComponentClass<TModuleComponent>()); }

}  // namespace qd
