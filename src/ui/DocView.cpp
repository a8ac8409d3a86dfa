#include "ui/DocView.h"

#include "platform/window.h"

namespace qd::ui {

void TfrmDocView::ShowModal() const { platform::window::RunDocumentWindow(FHtmlFilePath, FCaption); }

}  // namespace qd::ui
