// The window library's only entry point: the module finds it by name after loading the
// library from its own folder.
#include "ui/WindowSet.h"

#if defined(_WIN32)
#define QD_EXPORT extern "C" __declspec(dllexport)
#else
#define QD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

QD_EXPORT const TQdWindowLibrary* GetWindowLibrary(uint32_t AVersion) {
  return AVersion == qd::ui::kWindowLibraryVersion ? &qd::ui::WindowLibraryRoutines() : nullptr;
}
