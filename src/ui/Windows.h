// Where the driver shows its two modal windows. The module installs its windows at load
// (ui/WindowSet.h); a program without them (a tool, a test) converts and reads files the same
// way and only fails when it would show a window.
// Texts and paths are UTF-8.
#pragma once
#include <functional>
#include <string>

namespace qd::ui {

// Message of the failure when no window of that kind has been installed.
extern const char kMsgNoWindows[];

// Shows the log viewer of the log folder modally; returns when it has been closed.
using TLogWindowShow = std::function<void(const std::string& ALogFolder)>;
// Shows a local HTML page modally under the caption; returns when the window has been closed.
using TDocumentWindowShow = std::function<void(const std::string& AHtmlFilePath, const std::string& ACaption)>;

// Each replaces what was installed before; an empty function removes it.
void SetLogWindow(TLogWindowShow AShow);
void SetDocumentWindow(TDocumentWindowShow AShow);

// Show the installed window; throw std::runtime_error(kMsgNoWindows) when there is none.
void ShowLogWindow(const std::string& ALogFolder);
void ShowDocumentWindow(const std::string& AHtmlFilePath, const std::string& ACaption);

}  // namespace qd::ui
