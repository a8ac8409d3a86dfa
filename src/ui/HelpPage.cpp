#include "ui/HelpPage.h"

#include <cstdint>

#include "markdown/MarkdownText.h"

namespace qd::ui {

namespace {

// The text of a heading's HTML: tags left out, the converter's character references read.
std::string TextOf(std::string_view AHtml) {
  static const struct {
    std::string_view Name, Text;
  } kReferences[] = {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}};
  std::string text;
  for (size_t i = 0; i < AHtml.size();) {
    if (AHtml[i] == '<') {
      size_t end = AHtml.find('>', i);
      i = end == std::string_view::npos ? AHtml.size() : end + 1;
      continue;
    }
    bool referenced = false;
    if (AHtml[i] == '&') {
      for (const auto& r : kReferences) {
        if (AHtml.substr(i, r.Name.size()) == r.Name) {
          text += r.Text;
          i += r.Name.size();
          referenced = true;
          break;
        }
      }
    }
    if (!referenced) text += AHtml[i++];
  }
  return text;
}

}  // namespace

std::string THelpPageDress::AnchorOf(std::string_view AText) {
  std::string anchor;
  for (size_t i = 0; i < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    if (c < 0x80) {
      if (c >= 'A' && c <= 'Z') {
        anchor += static_cast<char>(c - 'A' + 'a');
      } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
        anchor += static_cast<char>(c);
      } else if (c == ' ') {
        anchor += '-';
      }
      ++i;
      continue;
    }
    // Two-byte characters: the Cyrillic capitals (А..Я, Ё) in lower case; the rest as written.
    if ((c & 0xE0) == 0xC0 && i + 1 < AText.size()) {
      uint32_t code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(AText[i + 1]) & 0x3Fu);
      if (code >= 0x410 && code <= 0x42F)
        code += 0x20;
      else if (code >= 0x400 && code <= 0x40F)
        code += 0x50;
      md::text::AppendUtf8(anchor, code);
      i += 2;
      continue;
    }
    anchor += AText[i++];
  }
  return anchor.empty() ? "section" : anchor;
}

void THelpPageDress::Put(std::string_view AText) {
  if (AText.empty()) return;
  if (FHeading)
    FHeadingHtml.append(AText);
  else
    FOut(AText);
}

void THelpPageDress::Tag(std::string_view ATag) {
  // The converter writes these tags exactly so; the document's own HTML is never passed
  // through, so that text holds them only escaped.
  if (!FHeading && ATag.size() == 4 && ATag[1] == 'h' && ATag[2] >= '1' && ATag[2] <= '6') {
    FHeading = ATag[2] - '0';
    FHeadingHtml.clear();
    return;
  }
  if (FHeading && ATag.size() == 5 && ATag[1] == '/' && ATag[2] == 'h' && ATag[3] - '0' == FHeading) {
    std::string anchor = AnchorOf(TextOf(FHeadingHtml));
    int seen = FAnchors[anchor]++;
    if (seen > 0) anchor += "-" + std::to_string(seen);
    const std::string level = std::to_string(FHeading);
    FHeading = 0;
    // of ASCII, an anchor holds letters, digits, '-' and '_' only: nothing in it needs a reference
    FOut("<h" + level + " id=\"" + anchor + "\">" + FHeadingHtml + "</h" + level + ">");
    FHeadingHtml.clear();
    return;
  }
  if (ATag == "<table>") return Put("<div class=\"wide\" tabindex=\"0\"><table>");
  if (ATag == "</table>") return Put("</table></div>");
  if (ATag == "<pre>") return Put("<pre tabindex=\"0\">");
  Put(ATag);
}

void THelpPageDress::Write(std::string_view APiece) {
  size_t at = 0;
  // A tag cut off at the end of the last piece is completed from this one, without copying
  // the piece.
  if (!FPartial.empty()) {
    size_t close = APiece.find('>');
    if (close == std::string_view::npos) {
      FPartial.append(APiece);
      return;
    }
    FPartial.append(APiece.substr(0, close + 1));
    std::string tag;
    tag.swap(FPartial);
    Tag(tag);
    at = close + 1;
  }
  while (at < APiece.size()) {
    size_t open = APiece.find('<', at);
    if (open == std::string_view::npos) {
      Put(APiece.substr(at));
      return;
    }
    Put(APiece.substr(at, open - at));
    size_t close = APiece.find('>', open);
    if (close == std::string_view::npos) {
      FPartial.assign(APiece.substr(open));
      return;
    }
    Tag(APiece.substr(open, close - open + 1));
    at = close + 1;
  }
}

void THelpPageDress::Finish() {
  std::string partial;
  partial.swap(FPartial);
  Put(partial);
  if (FHeading) {
    // a heading the converter never closed goes out as it came
    const int level = FHeading;
    FHeading = 0;
    FOut("<h" + std::to_string(level) + ">");
    FOut(FHeadingHtml);
    FHeadingHtml.clear();
  }
}

}  // namespace qd::ui
