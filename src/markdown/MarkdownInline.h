// Inline phase of the CommonMark engine.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "markdown/MarkdownBlocks.h"

namespace qd::md {

// Parses the raw text of one text block into nodes. With AInlines false (code lines) every
// character is written escaped as plain text.
void ParseInlines(std::string_view AText, bool AInlines, bool AGfm, TCMTextNodes& ANodes);

// What the caller of WriteInlines does with its page while the text is parsed: FHandOn is
// called between two parts whenever the page holds FAt bytes or more (it may take them out).
struct TInlineHandOn {
  std::size_t FAt;
  std::function<void()> FHandOn;
};

// Parses AText (a paragraph's raw text) and appends its HTML to AOut, each part as soon as
// nothing after it can change it: the nodes hold only what is still open.
void WriteInlines(std::string_view AText, bool AGfm, std::string& AOut, const TInlineHandOn* AHandOn = nullptr);

// Decodes the named or numeric character reference that starts at APos ("&"): appends the
// characters (not escaped) and sets AEnd after the ";". False when there is none.
bool DecodeEntityRef(std::string_view AText, std::size_t APos, std::string& AOut, std::size_t& AEnd);

}  // namespace qd::md
