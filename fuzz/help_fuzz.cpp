// Help-archive extraction: the input is the archive the module would carry. It is unpacked
// into a private temporary folder, its Markdown document converted and the page written;
// the window is not shown.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ui/MarkdownRenderer.h"
#include "ui/Windows.h"

namespace {

std::string_view gArchive;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using qd::ui::TMarkdownRenderer;
  TMarkdownRenderer::SetResourceReader([](const std::string& AName) -> std::optional<std::string_view> {
    if (AName != "help") return std::nullopt;
    return gArchive;
  });
  qd::ui::SetDocumentWindow([](const std::string&, const std::string&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  gArchive = std::string_view(reinterpret_cast<const char*>(AData), ASize);
  try {
    qd::ui::TMarkdownRenderer::Render("help", "Справка");
  } catch (const std::runtime_error&) {
    // a refused archive: the viewer reports the message
  }
  return 0;
}
