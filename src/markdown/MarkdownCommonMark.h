// CommonMark engine with the tables, strikethrough and extended autolink extensions.
// Raw HTML is never passed through and there are no link reference definitions.
// Texts are UTF-8; lines use tab stops of 4 columns.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qd::md {

// The blocks of a parsed document (MarkdownBlocks.h, inside the engine).
class TCommonMarkDocument;

// Destroys a parsed document where its blocks are known.
struct TCommonMarkDocumentDeleter {
  void operator()(TCommonMarkDocument* ADoc) const;
};
using TCommonMarkDocumentPtr = std::unique_ptr<TCommonMarkDocument, TCommonMarkDocumentDeleter>;

class TCommonMarkEngine {
 public:
  // The caller owns the document.
  static TCommonMarkDocumentPtr parse(const std::string& ASrc, bool AGfm);
  // The output is reserved up front from the document (at least ASizeHint bytes), never more
  // than a small multiple of the source's size.
  static std::string render(const TCommonMarkDocument& ADoc, std::size_t ASizeHint = 0);
  // parse and render in one: each top-level block is written and freed as soon as the next one
  // begins, so the whole document is never held at once.
  static std::string process(const std::string& ASrc, bool AGfm);
  // The same page handed to AWrite in pieces as it is made (each but the last at least
  // kPagePiece bytes, unless a list's items wait for it to end), so that only a small part of
  // it is ever held. An exception of AWrite ends the conversion.
  using TPageWriter = std::function<void(std::string_view)>;
  static void process(const std::string& ASrc, bool AGfm, const TPageWriter& AWrite);
  static constexpr std::size_t kPagePiece = 256 * 1024;
  // HTML is usually somewhat longer than its source; the spare room is not touched unless used.
  static std::size_t HtmlSizeHint(std::size_t ASourceSize);
};

}  // namespace qd::md
