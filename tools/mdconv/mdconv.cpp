// mdconv: converts a Markdown file to an HTML page the way the help viewer does.
//   mdconv SOURCE.md TARGET.html [STYLE.css]
// With a style sheet the page gets the document skeleton and links the sheet by the path as
// given; without one the file holds the bare HTML fragment. Either way it starts with the
// UTF-8 byte-order mark and the request for the browser control's newest document mode.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "support.h"
#include "ui/MarkdownRenderer.h"

namespace {

const char kUsage[] =
    "usage: mdconv SOURCE.md TARGET.html [STYLE.css]\n"
    "       mdconv --help | --version\n"
    "\n"
    "Converts a Markdown document to an HTML page with the help viewer's engine. The source\n"
    "is UTF-8 text (with or without its byte-order mark; UTF-16 with its byte-order mark is\n"
    "taken too); any other bytes are refused with the line and byte offset of the first one.\n"
    "With a style sheet the page is a whole document that links the sheet by the path as\n"
    "given (the sheet is not read, so it need not exist yet); without one the file holds the\n"
    "bare HTML.\n"
    "\n"
    "Exit status: 0 converted, 1 the source cannot be read or is not UTF-8 text, or the page\n"
    "cannot be written (nothing is written then), 2 usage.\n";

int Usage(const std::string& AMessage) {
  std::cerr << "mdconv: " << AMessage << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  qd::platform::PrepareConsoleOutput();
  std::vector<std::string> files;
  for (const std::string& a : qd::platform::CommandLineArgs(argc, argv)) {
    if (qd::tools::AnswerInfoOption(a, "mdconv", kUsage)) return 0;
    if (a.size() > 1 && a[0] == '-') return Usage("unknown option " + a);
    files.push_back(a);
  }
  if (files.size() < 2 || files.size() > 3) return Usage(files.size() < 2 ? "a source and a target are needed" : "too many files");
  try {
    qd::tools::CheckUtf8Text(files[0], qd::tools::ReadInputFile(files[0]), qd::tools::TUtf16Text::Accept);
    qd::ui::TMarkdownRenderer::ConvertToHtml(files[0], files[1], files.size() == 3 ? files[2] : "");
  } catch (const std::exception& e) {
    std::cerr << "mdconv: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
