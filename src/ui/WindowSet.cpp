#include "ui/WindowSet.h"

#include <string>

#include "ui/DocView.h"
#include "ui/LogViewer.h"
#include "ui/Windows.h"

namespace qd::ui {

void InstallDriverWindows() {
  SetLogWindow([](const std::string& ALogFolder) { TfrmLog::ShowModal(ALogFolder); });
  SetDocumentWindow([](const std::string& AHtmlFilePath, const std::string& ACaption) {
    TfrmDocView(AHtmlFilePath, ACaption).ShowModal();
  });
}

}  // namespace qd::ui
