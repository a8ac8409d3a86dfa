// mdconv: converts a Markdown file to an HTML page the way the help viewer does.
//   mdconv <input.md> <output.html> [<style sheet>]
// With a style sheet the page gets the document skeleton and links the sheet by the path as
// given; without one the file holds the bare HTML fragment. Either way it starts with the
// UTF-8 byte-order mark and the request for the browser control's newest document mode.
#include <cstdio>
#include <exception>
#include <string>

#include "ui/MarkdownRenderer.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: mdconv <input.md> <output.html> [<style sheet>]\n");
    return 2;
  }
  try {
    qd::ui::TMarkdownRenderer::ConvertToHtml(argv[1], argv[2], argc == 4 ? argv[3] : "");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mdconv: %s\n", e.what());
    return 1;
  }
  return 0;
}
