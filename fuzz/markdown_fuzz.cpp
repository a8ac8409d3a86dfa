// The Markdown engine: the input is the document, converted by both dialects (the classic
// one in safe and in unsafe mode). The CommonMark page must come out the same whether it is
// returned whole, handed on in pieces, or parsed whole and rendered afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "markdown/MarkdownCommonMark.h"
#include "markdown/MarkdownProcessor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  std::string source(reinterpret_cast<const char*>(AData), ASize);
  using qd::md::TMarkdownProcessor;
  for (auto dialect : {qd::md::mdCommonMark, qd::md::mdDaringFireball}) {
    for (bool unsafe : {false, true}) {
      std::unique_ptr<TMarkdownProcessor> p = TMarkdownProcessor::CreateDialect(dialect);
      try {
        p->SetUnSafe(unsafe);
      } catch (const std::exception&) {
        continue;  // a dialect without that mode says so
      }
      try {
        std::string page = p->process(source);
        if (dialect != qd::md::mdCommonMark) continue;
        std::string pieces;
        p->ProcessTo(source, [&](std::string_view APiece) { pieces += APiece; });
        using qd::md::TCommonMarkEngine;
        if (pieces != page || TCommonMarkEngine::render(*TCommonMarkEngine::parse(source, true)) != page) std::abort();
      } catch (const qd::md::EMarkdownError&) {
        // refused with the subsystem's own message
      }
    }
  }
  return 0;
}
