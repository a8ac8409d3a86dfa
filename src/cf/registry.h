// The process-wide list of component classes and the three exports behind it.
#pragma once
#include <string>

#include "cf/component.h"

namespace qd {

struct TNativeComponents {
  std::string (*NCClassName)();
  TCustomNativeComponent* (*Create)();  // a fully constructed component
};

template <class T>
TNativeComponents NativeComponentClass() {
  return TNativeComponents{&T::ClassName, []() -> TCustomNativeComponent* {
                             T* object = new T();
                             try {
                               object->Create();
                             } catch (...) {
                               delete object;
                               throw;
                             }
                             return object;
                           }};
}

// Any thread may register, clear and read the list at any time. Clearing (at unload) never
// waits: when another thread is reading the list just then, it is left as it is, and it is
// never destroyed, so that hosts' threads still running at a process exit read a whole list.
void RegisterNativeComponent(const TNativeComponents& AClass);
void ClearNativeComponents();

// What the exports do; none of them lets a failure out.
const abi::WCHAR_T* GetClassNamesImpl();
abi::host_long GetClassObjectImpl(const abi::WCHAR_T* wsName, void** pIntf);
abi::host_long DestroyObjectImpl(void** pIntf);

}  // namespace qd
