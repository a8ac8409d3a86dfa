// The help entry point: the page converted from the help archive, shown in the help window.
// Kept apart from the file work, so that a program that only converts files (mdconv) links
// no window code.
#include <stdexcept>
#include <string>

#include "ui/DocView.h"
#include "ui/MarkdownRenderer.h"

namespace qd::ui {

namespace {

TMarkdownRenderer::TDocumentViewer& DocumentViewer() {
  static TMarkdownRenderer::TDocumentViewer viewer;
  return viewer;
}

}  // namespace

void TMarkdownRenderer::SetDocumentViewer(TDocumentViewer AViewer) { DocumentViewer() = std::move(AViewer); }

void TMarkdownRenderer::Render(const std::string& ASourceName, const std::string& ACaption) {
  if (!SourceExist(ASourceName)) throw std::runtime_error("File not found: " + ASourceName);
  TMarkdownRenderer renderer(ASourceName);  // its destructor removes the folder on every path
  renderer.Render(ACaption);
}

std::string TMarkdownRenderer::Render(const std::string& ACaption) {
  if (!SourceExist()) throw std::runtime_error("File not found: " + FSourceName);
  ExtractArchive(SaveSourceArchive());
  std::string mdName = FindSourceFile("md");
  if (mdName.empty()) throw std::runtime_error("Mardown file not found");
  std::string html = MarkdownToHtml(LoadSourceText(mdName));
  std::string css = FindSourceFile("css");
  std::string page = SaveHtmlFile(html, css, "");
  if (const TDocumentViewer& viewer = DocumentViewer())
    viewer(page, ACaption);
  else
    TfrmDocView(page, ACaption).ShowModal();
  return page;
}

}  // namespace qd::ui
