// The library's only entry points: the host finds them by name.
#include "cf/registry.h"

#if defined(_WIN32)
#define QD_EXPORT extern "C" __declspec(dllexport)
#else
#define QD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using qd::abi::host_long;
using qd::abi::WCHAR_T;

QD_EXPORT const WCHAR_T* GetClassNames() { return qd::GetClassNamesImpl(); }

QD_EXPORT host_long GetClassObject(const WCHAR_T* wsName, void** pIntf) {
  return qd::GetClassObjectImpl(wsName, pIntf);
}

QD_EXPORT host_long DestroyObject(void** pIntf) { return qd::DestroyObjectImpl(pIntf); }
