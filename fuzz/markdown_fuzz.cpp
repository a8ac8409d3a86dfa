// The Markdown engine: the input is the document, converted by both dialects (the classic
// one in safe and in unsafe mode).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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
        p->process(source);
      } catch (const qd::md::EMarkdownError&) {
        // refused with the subsystem's own message
      }
    }
  }
  return 0;
}
