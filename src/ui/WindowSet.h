// The window library's side: the log viewer (ui/LogViewer.h) and the help window
// (ui/DocView.h) on the system's toolkit, offered through the C routines of
// ui/WindowLibrary.h. Only the window library and programs that show windows link it.
#pragma once

#include "ui/WindowLibrary.h"

namespace qd::ui {

// The routines the window library exports.
const TQdWindowLibrary& WindowLibraryRoutines();

// For programs that link the windows themselves: installs both windows as the ones that
// ui/Windows.h shows, and keeps the toolkit loaded for the rest of the process.
void InstallDriverWindows();

}  // namespace qd::ui
