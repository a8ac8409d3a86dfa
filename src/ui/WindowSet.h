// The driver's windows on the system's toolkit: the log viewer (ui/LogViewer.h) and the help
// window (ui/DocView.h). The module and the window tests link them; tools and other tests show
// no window and leave them out.
#pragma once

namespace qd::ui {

// Installs both windows as the ones that ui/Windows.h shows.
void InstallDriverWindows();

}  // namespace qd::ui
