#include "ui/WindowSet.h"

#include "ui/DocView.h"
#include "ui/LogViewer.h"
#include "ui/Windows.h"

#include "platform/window.h"

namespace qd::ui {

void InstallDriverWindows() {
  platform::window::KeepToolkitLoaded();
  SetLogWindow([] { TfrmLog::ShowModal(); });
  SetDocumentWindow([](const std::string& AHtmlFilePath, const std::string& ACaption) {
    TfrmDocView(AHtmlFilePath, ACaption).ShowModal();
  });
}

}  // namespace qd::ui
