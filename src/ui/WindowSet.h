// The driver's windows library: the log viewer (ui/LogViewer.h) and the help window
// (ui/DocView.h) on the system's toolkit. Only a program that shows windows links it.
#pragma once

namespace qd::ui {

// Installs both windows as the ones that ui/Windows.h shows, and keeps the toolkit loaded
// for the rest of the process.
void InstallDriverWindows();

}  // namespace qd::ui
