// The window library: the log viewer and the help window in a shared library of their own,
// beside the module, loaded the first time a window is shown. A process that never shows a
// window never loads the toolkit (GTK and WebKitGTK on Linux), and the module loads where no
// toolkit is installed.
//
// The library has its own copy of the runtime and of the driver's static code, so only C
// types cross between the two: texts are UTF-8, failures come back through a sink, never as
// exceptions, and nothing allocated on one side is freed on the other.
#pragma once
#include <cstdint>
#include <string>

extern "C" {

// Receives the message of a failure, UTF-8, valid only during the call.
typedef void (*TQdWindowErrorSink)(void* AContext, const char* AMessage);
// Called on the window's thread when a window is ready (see platform/window.h); returns
// nonzero to close the window at once.
typedef int (*TQdWindowReadyHook)(void* AContext, const char* ACaption, const char* ALocation);

struct TQdWindowLibrary {
  uint32_t Size;  // of this record, for additions at its end
  // Each shows its window modally and returns 0 once the user has closed it; on a failure
  // it passes the message to the sink and returns 1.
  int (*ShowLogWindow)(const char* ALogFolder, TQdWindowErrorSink ASink, void* AContext);
  int (*ShowDocumentWindow)(const char* AHtmlFilePath, const char* ACaption, TQdWindowErrorSink ASink,
                            void* AContext);
  // For tests and diagnosis; a null hook removes it.
  void (*SetReadyHook)(TQdWindowReadyHook AHook, void* AContext);
};

// The one function the library exports, under kWindowLibraryEntry: the routines for that
// version of this record, or null when the library does not offer it.
typedef const TQdWindowLibrary* (*TQdWindowLibraryEntry)(uint32_t AVersion);
}

namespace qd::ui {

constexpr uint32_t kWindowLibraryVersion = 1;
constexpr const char kWindowLibraryEntry[] = "GetWindowLibrary";
// The library's file name without the system's suffix; it lies in the module's folder.
constexpr const char kWindowLibraryName[] = "w_quendal7v2k_windows";

// Full path of the window library beside the module that contains this code.
std::string WindowLibraryPath();

// Installs the windows of ui/Windows.h so that they are shown by the window library, loaded
// on first use from WindowLibraryPath() and kept to the end of the process. When it cannot be
// loaded, showing a window fails with a message naming the file and the reason.
void InstallWindowLibrary();

// The routines of the loaded library (loading it first); throws std::runtime_error with the
// message for the user when it cannot be loaded.
const TQdWindowLibrary& LoadWindowLibrary();

}  // namespace qd::ui
