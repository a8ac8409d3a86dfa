// Inline phase of the CommonMark engine: turns the raw text of one text block into text nodes.
#include "markdown/MarkdownInline.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "markdown/MarkdownHTMLEntities.h"
#include "markdown/MarkdownText.h"

namespace qd::md {

using namespace text;

// ---- TCMTextNodes --------------------------------------------------------------------------

const char* ElementName(TCMElement AElement) {
  switch (AElement) {
    case TCMElement::Em: return "em";
    case TCMElement::Strong: return "strong";
    case TCMElement::Code: return "code";
    case TCMElement::Del: return "del";
    case TCMElement::A: return "a";
    case TCMElement::Img: return "img";
    case TCMElement::Br: return "br";
    case TCMElement::None: break;
  }
  return "";
}

void TCMTextNodes::reserve(std::size_t ANodes, std::size_t AText) {
  FNodes.reserve(ANodes);
  FText.reserve(AText);
}

int TCMTextNodes::append(const TCMTextNode& ANode) {
  FTailOpen = false;
  int idx = static_cast<int>(FNodes.size());
  FNodes.push_back(ANode);
  FNodes.back().FNext = -1;
  if (FTail >= 0) (*this)[FTail].FNext = idx; else FHead = idx;
  FTail = idx;
  return idx;
}

int TCMTextNodes::insertAfter(int APos, const TCMTextNode& ANode) {
  if (APos == FTail) return append(ANode);
  int idx = static_cast<int>(FNodes.size());
  int next = (APos < 0) ? FHead : (*this)[APos].FNext;
  FNodes.push_back(ANode);
  FNodes.back().FNext = next;
  if (APos >= 0) (*this)[APos].FNext = idx; else FHead = idx;
  return idx;
}

TCMTextNode TCMTextNodes::element(TCMElement AName, bool AOpener, bool ACloser) {
  TCMTextNode n;
  n.FStart = TCMTextNode::kNoAttrs;
  n.FInfo = TCMTextNode::kElement | static_cast<std::uint32_t>(AName) | (AOpener ? TCMTextNode::kOpener : 0) |
            (ACloser ? TCMTextNode::kCloser : 0);
  return n;
}

int TCMTextNodes::addOpener(TCMElement AName) { return append(element(AName, true, false)); }

int TCMTextNodes::addCloser(TCMElement AName) { return append(element(AName, false, true)); }

int TCMTextNodes::addEmpty(TCMElement AName) { return append(element(AName, true, true)); }

// The open node is always the last one and its text the end of the buffer: nodes inserted
// in the middle are elements without text.
void TCMTextNodes::addText(std::string_view AText) {
  if (FTailOpen) {
    FText.append(AText);
    (*this)[FTail].FInfo += static_cast<std::uint32_t>(AText.size());
    return;
  }
  addTextNode(AText);
  FTailOpen = true;
}

int TCMTextNodes::addTextNode(std::string_view AText) {
  TCMTextNode n;
  n.FStart = static_cast<std::uint32_t>(FText.size());
  n.FInfo = static_cast<std::uint32_t>(AText.size());
  FText.append(AText);
  return append(n);
}

int TCMTextNodes::addOpenerAfter(TCMElement AName, int ANode) {
  return insertAfter(ANode, element(AName, true, false));
}

int TCMTextNodes::addCloserBefore(TCMElement AName, int ANode) {
  int moved = static_cast<int>(FNodes.size());
  FNodes.push_back((*this)[ANode]);
  TCMTextNode tag = element(AName, false, true);
  tag.FNext = moved;
  (*this)[ANode] = tag;
  if (ANode == FTail) FTail = moved;
  return moved;
}

void TCMTextNodes::makeElement(int ANode, TCMElement AName, bool AOpener, bool ACloser) {
  TCMTextNode& n = (*this)[ANode];
  TCMTextNode e = element(AName, AOpener, ACloser);
  n.FStart = e.FStart;
  n.FInfo = e.FInfo;
  if (ANode == FTail) FTailOpen = false;
}

std::string_view TCMTextNodes::content(int ANode) const {
  const TCMTextNode& n = (*this)[ANode];
  return std::string_view(FText).substr(n.FStart, n.length());
}

void TCMTextNodes::dropFront(int ANode, std::uint32_t ACount) {
  TCMTextNode& n = (*this)[ANode];
  n.FStart += ACount;
  n.FInfo -= ACount;
}

void TCMTextNodes::dropBack(int ANode, std::uint32_t ACount) { (*this)[ANode].FInfo -= ACount; }

TCMNodeAttrs& TCMTextNodes::attrs(int ANode) {
  TCMTextNode& n = (*this)[ANode];
  assert(n.isElement());
  if (n.FStart == TCMTextNode::kNoAttrs) {
    if (!FAttrList) FAttrList = std::make_unique<std::vector<TCMNodeAttrs>>();
    n.FStart = static_cast<std::uint32_t>(FAttrList->size());
    FAttrList->emplace_back();
  }
  return (*FAttrList)[n.FStart];
}

std::string TCMTextNodes::plainTextSince(int ANode) const {
  std::string s;
  for (int i = (*this)[ANode].FNext; i >= 0; i = (*this)[i].FNext) {
    const TCMTextNode& n = (*this)[i];
    if (!n.isElement()) s += content(i);
    else if (n.FStart != TCMTextNode::kNoAttrs && (*FAttrList)[n.FStart].hasAlt) s += (*FAttrList)[n.FStart].alt;
  }
  return s;
}

void TCMTextNodes::removeAfter(int ANode) {
  (*this)[ANode].FNext = -1;
  FTail = ANode;
  FTailOpen = false;
}

void TCMTextNodes::foldTail(int ANode, int AInUseUpTo) {
  constexpr int kMaxFold = 4;
  const int count = static_cast<int>(FNodes.size());
  if (ANode <= AInUseUpTo || ANode >= count || count - ANode > kMaxFold) return;
  auto textEnd = [&](int i) { return static_cast<std::size_t>((*this)[i].FStart) + (*this)[i].length(); };
  for (int i = ANode; i < count; ++i) {
    const TCMTextNode& n = (*this)[i];
    if (n.isElement()) return;
    if (n.FNext != (i + 1 < count ? i + 1 : -1)) return;
    if (i > ANode && n.FStart != textEnd(i - 1)) return;
  }
  if (FTail != count - 1 || textEnd(count - 1) != FText.size()) return;
  int into = ANode;
  const int before = ANode - 1;
  if (before > AInUseUpTo && (*this)[before].FNext == ANode && !(*this)[before].isElement() &&
      textEnd(before) == (*this)[ANode].FStart)
    into = before;
  TCMTextNode& n = (*this)[into];
  n.FInfo = static_cast<std::uint32_t>(FText.size() - n.FStart);
  n.FNext = -1;
  FNodes.truncate(static_cast<std::size_t>(into) + 1);
  FTail = into;
  FTailOpen = true;
}

int TCMTextNodes::splitOut(int ANode, std::uint32_t AAt, std::uint32_t ALength) {
  TCMTextNode& n = (*this)[ANode];
  assert(!n.isElement() && AAt >= n.FStart && AAt + ALength <= n.FStart + n.FInfo);
  const std::uint32_t end = n.FStart + n.FInfo;
  const bool openTail = ANode == FTail && FTailOpen;
  int piece = ANode;
  if (AAt > n.FStart) {
    n.FInfo = AAt - n.FStart;
    TCMTextNode p;
    p.FStart = AAt;
    p.FInfo = ALength;
    piece = insertAfter(ANode, p);
  } else {
    n.FInfo = ALength;
  }
  if (AAt + ALength < end) {
    TCMTextNode rest;
    rest.FStart = AAt + ALength;
    rest.FInfo = end - rest.FStart;
    insertAfter(piece, rest);
    if (openTail) FTailOpen = true;  // the rest is the last node, its text the end of the buffer
  }
  return piece;
}

void TCMTextNodes::clear() {
  FText.clear();
  FNodes.clear();
  if (FAttrList) FAttrList->clear();
  FHead = -1;
  FTail = -1;
  FTailOpen = false;
}

void TCMTextNodes::remove(int ANode) {
  TCMTextNode& n = (*this)[ANode];
  n.FStart = 0;
  n.FInfo = 0;
  if (ANode == FTail) FTailOpen = false;
}

std::size_t TCMTextNodes::htmlSizeBound() const {
  // every node of the array counts, also those no longer in the list
  std::size_t n = 0;
  for (std::size_t i = 0; i < FNodes.size(); ++i) {
    const TCMTextNode& node = FNodes[i];
    if (!node.isElement()) {
      n += node.FInfo;
      continue;
    }
    n += 4 + std::char_traits<char>::length(ElementName(node.name()));  // "</name>" or "<name />"
    if (node.FStart != TCMTextNode::kNoAttrs) {
      const TCMNodeAttrs& a = (*FAttrList)[node.FStart];
      n += 4 * 9 + a.src.size() + a.alt.size() + a.href.size() + a.title.size();
    }
  }
  return n;
}

void TCMTextNodes::writeHtml(std::string& AOut) const {
  for (int i = FHead; i >= 0; i = (*this)[i].FNext) {
    const TCMTextNode& n = (*this)[i];
    if (!n.isElement()) {
      AOut.append(FText, n.FStart, n.FInfo);
      continue;
    }
    bool opener = n.isOpener();
    AOut += opener ? "<" : "</";
    AOut += ElementName(n.name());
    if (opener && n.FStart != TCMTextNode::kNoAttrs) {
      const TCMNodeAttrs& a = (*FAttrList)[n.FStart];
      auto attr = [&](const char* name, const std::string& v) {
        AOut += ' ';
        AOut += name;
        AOut += "=\"";
        AOut += v;
        AOut += '"';
      };
      if (a.hasSrc) attr("src", a.src);
      if (a.hasAlt) attr("alt", a.alt);
      if (a.hasHref) attr("href", a.href);
      if (a.hasTitle) attr("title", a.title);
    }
    AOut += (opener && n.isCloser()) ? " />" : ">";
  }
}

// ---- inline parser ---------------------------------------------------------------------------

// Longest named reference is 33 characters with "&" and ";".
constexpr std::size_t kMaxEntityName = 40;

// Entity and numeric character references (CommonMark 2.5).
// Decodes a named or numeric reference at APos ("&"); appends the raw characters.
bool DecodeEntityRef(std::string_view AText, std::size_t APos, std::string& AOut, std::size_t& AEnd) {
  std::size_t limit = std::min(AText.size(), APos + kMaxEntityName);
  std::size_t semi = APos + 1;
  while (semi < limit && AText[semi] != ';') ++semi;
  if (semi >= limit) return false;
  std::string_view ref = AText.substr(APos, semi + 1 - APos);
  if (const char* v = FindHtmlEntity(ref)) {
    AOut += v;
    AEnd = semi + 1;
    return true;
  }
  std::string_view name = ref.substr(1, ref.size() - 2);
  if (name.empty() || name[0] != '#' || name.size() > 9) return false;
  // numeric reference, read more loosely than CommonMark: blanks, a sign, "$" or "0x" for hex
  std::string_view num = name.substr(1);
  std::size_t i = 0;
  while (i < num.size() && num[i] == ' ') ++i;
  bool neg = false;
  if (i < num.size() && (num[i] == '+' || num[i] == '-')) neg = num[i++] == '-';
  int base = 10;
  if (i < num.size() && (num[i] == 'x' || num[i] == 'X' || num[i] == '$')) {
    base = 16;
    ++i;
  } else if (i + 1 < num.size() && num[i] == '0' && (num[i + 1] == 'x' || num[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= num.size()) return false;
  int64_t v = 0;
  for (; i < num.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(num[i]);
    int digit;
    if (IsAsciiDigit(ch)) digit = ch - '0';
    else if (base == 16 && IsHexDigit(ch)) digit = (ch | 0x20) - 'a' + 10;
    else return false;
    v = v * base + digit;
  }
  if (neg) v = (-v) & 0xFFFF;
  // zero and invalid code points give U+FFFD as in CommonMark; here unassigned ones and all
  // above U+FFFF do too
  char32_t cp = static_cast<char32_t>(v);
  if (v <= 0 || v >= 0x10000 || (cp >= 0xD800 && cp <= 0xDFFF) || IsUnassigned(cp)) cp = 0xFFFD;
  AppendUtf8(AOut, cp);
  AEnd = semi + 1;
  return true;
}


namespace {

// Whether a delimiter run can open or close emphasis, by the flanking rules (CommonMark 6.2).
enum TCMDelimiterMode { dmNeither, dmOpener, dmCloser, dmBoth };

// An entry of the delimiter stack (8 bytes): a run of "*" or "_" that may open or close. The
// characters of the run not yet matched are the text of its node. FBits holds the node index,
// the kind (bits 28-29) and the mode (bits 30-31). An entry on the stack links to the entry below it (FLink >= -1); a removed
// entry keeps in FLink, as -2 - index, a later index no further than the next entry still on
// the stack, so that walking up passes runs of removed entries in one step.
struct TCMDelimiter {
  static constexpr std::uint32_t kNodeMask = 0x0FFFFFFFu;
  enum class TKind : std::uint32_t { Star, Underscore };
  std::uint32_t FBits = 0;
  std::int32_t FLink = -1;
  int node() const { return static_cast<int>(FBits & kNodeMask); }
  void setNode(int ANode) { FBits = (FBits & ~kNodeMask) | static_cast<std::uint32_t>(ANode); }
  TKind kind() const { return static_cast<TKind>((FBits >> 28) & 3); }
  std::uint32_t mode() const { return FBits >> 30; }
  bool isOpener() const { return mode() == dmOpener || mode() == dmBoth; }
  bool isCloser() const { return mode() == dmCloser || mode() == dmBoth; }
  bool removed() const { return FLink <= -2; }
  int prev() const { return FLink; }
  int skip() const { return -2 - FLink; }
  void setSkip(int AIndex) { FLink = -2 - AIndex; }
};

// Open brackets ("[" or "![", CommonMark appendix), kept apart from the delimiter stack: a run
// of "[" one after the other in the text of one node, with the same entries below them, takes
// one of these (16 bytes); an "![" takes one of its own. The brackets are text in the node
// until one makes a link or an image: the node is split there.
struct TCMBracketRun {
  static constexpr std::uint32_t kImage = 0x80000000u;
  std::int32_t FBelow = -1;  // the top of the delimiter stack when they were pushed
  std::uint32_t FNode = 0;   // the text node that holds them
  std::uint32_t FStart = 0;  // the buffer offset of the first
  std::uint32_t FCount = 0;  // how many (an image: kImage | 1)
  std::uint32_t count() const { return FCount & ~kImage; }
  bool isImage() const { return (FCount & kImage) != 0; }
};

// Whether a link or image may lead to the destination: a relative one, or one with the scheme
// http, https, ftp or mailto; a target of any other scheme could run script or hold a document
// of its own. A scheme is what a browser takes for one: a letter, then letters, digits, "+", "-"
// or ".", then ":" (CommonMark 6.5 asks 2 to 32 characters of an autolink's scheme; a browser
// reads one of any length, a single letter included, which on Windows names a drive). Anything
// else in front of the first ":" makes the target relative. Blanks and control characters do
// not hide a scheme, as browsers drop them, nor do they when percent-encoded (the destination
// comes here encoded, as it is written).
bool IsSafeDestination(std::string_view ADest) {
  auto hex = [](char h) {
    return h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
  };
  std::string scheme;
  for (std::size_t i = 0; i < ADest.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(ADest[i]);
    if (c <= 0x20) continue;
    if (c == '%' && i + 2 < ADest.size() && hex(ADest[i + 1]) >= 0 && hex(ADest[i + 2]) >= 0 &&
        hex(ADest[i + 1]) * 16 + hex(ADest[i + 2]) <= 0x20) {
      i += 2;
      continue;
    }
    if (c == ':') {
      return scheme.empty() || scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "mailto";
    }
    bool schemeChar = scheme.empty() ? IsAsciiAlpha(c) : (IsAsciiAlnum(c) || c == '+' || c == '-' || c == '.');
    if (!schemeChar) return true;
    // longer than every allowed one: stays unknown
    if (scheme.size() <= 8) scheme += static_cast<char>(IsAsciiAlpha(c) ? (c | 0x20) : c);
  }
  return true;
}

// Nesting of parentheses allowed inside a plain link destination.
// (CommonMark 6.3 lets an implementation bound it; a deeper destination makes no link.)
constexpr int kMaxDestinationParens = 32;

bool IsSpaceTabLf(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// With a sink, what is final is written there in pieces of about this size; a larger piece of
// text goes there without passing through the nodes.
constexpr std::size_t kFlushText = 64 * 1024;
constexpr std::size_t kFlushNodes = 8 * 1024;

// Inline structure of one text (CommonMark appendix, phase 2): the characters are dispatched in
// order; delimiter runs and brackets go on the delimiter stack, which links and emphasis resolve.
class TInlineParser {
 public:
  // With ASink, the nodes are written there and dropped whenever nothing on the stack can
  // change them any more, and at the end.
  TInlineParser(std::string_view AText, bool AGfm, TCMTextNodes& ANodes, std::string* ASink = nullptr,
                const TInlineHandOn* AHandOn = nullptr)
      : FText(AText), FGfm(AGfm), FNodes(ANodes), FSink(ASink), FHandOn(AHandOn) {
    FBaseBottom.fill(-1);
  }
  void run();

 private:
  // delimiter stack
  int pushDelimiter(int ANode, char AChar, TCMDelimiterMode AMode);
  void pushBracket(bool AImage);
  // the innermost open bracket, taken off the list
  struct TBracket {
    int FBelow;
    int FNode;
    std::uint32_t FOffset;
    bool FImage;
  };
  TBracket popBracket();
  void removeDelimiter(int AIndex);
  int nextOnStack(int AIndex);    // the first entry above AIndex still on the stack, -1 for none
  void truncateStack(int ATop);   // everything above ATop leaves the stack
  TCMDelimiter& at(int AIndex) { return FStack[static_cast<std::size_t>(AIndex)]; }
  // openers_bottom of "process emphasis", by the closer's character, by whether it can also
  // open and by its length mod 3
  struct TOpenersBottom {
    int FIndex[2][2][3];
    void fill(int AValue) {
      for (auto& a : FIndex)
        for (auto& b : a)
          for (int& c : b) c = AValue;
    }
    void clampTo(int ATop) {
      for (auto& a : FIndex)
        for (auto& b : a)
          for (int& c : b) c = std::min(c, ATop);
    }
  };
  // One step of "process emphasis" at the entry ACloser: the entry to look at next.
  int matchCloser(int ACloser, int ABottom, TOpenersBottom& ABottoms);
  void processEmphasis(int ABottom);
  // The closers above AFrom, in order, with the bottom of the whole text: the closers below
  // every bracket are processed as they come, which gives what processing them all at the end
  // would, as what a closer finds depends only on the entries below it.
  void processPending(int AFrom);
  void flushFinal();  // writes the nodes to the sink and drops them
  // Whether a piece of text of ASize that is final as soon as it is added goes straight to the
  // sink: nothing on the stack can change what is before it (the nodes are written first).
  bool writesDirectly(std::size_t ASize) {
    if (!FSink || ASize < kFlushText || FTop >= 0 || !FBrackets.empty()) return false;
    flushFinal();
    return true;
  }

  void handleRun(char AChar);
  void handleCloseBracket();
  bool handleCodeSpan();
  bool handleStrikethrough();
  bool handleAutolink();
  bool handleExtendedAutolink();
  bool handleExtendedEmail();
  // A link whose text is the address itself, as written.
  void addAutolink(std::string AHref, std::string_view AShown);
  bool decodeEntity(std::size_t APos, std::string& AOut, std::size_t& AEnd) const {
    return DecodeEntityRef(FText, APos, AOut, AEnd);
  }
  bool parseLinkTail(std::size_t APos, std::string& AHref, std::string& ATitle, bool& AHasTitle, std::size_t& AEnd);
  void plainRun();
  bool mayStartExtended(std::size_t APos) const;

  TCMDelimiterMode flanking(std::size_t AStart, std::size_t AEnd) const;
  // The last position of a "*" (or "_") that could start a closing run: the first of a run,
  // right after a character other than a blank or a line feed (a run can close only then,
  // CommonMark 6.2). 0 when there is none. One scan of the text on first use.
  std::size_t lastPossibleCloser(char AChar);

  std::string_view FText;
  std::size_t FPos = 0;
  bool FGfm;
  TCMTextNodes& FNodes;
  std::string* FSink;
  const TInlineHandOn* FHandOn;
  TOpenersBottom FBaseBottom;  // of the closers processed below every bracket

  TCMPodArray<TCMDelimiter> FStack;  // in stack order; removed entries stay until the top goes
  int FTop = -1;
  TCMPodArray<TCMBracketRun> FBrackets;  // the open brackets, innermost last
  std::size_t FBracketCount = 0;          // open brackets
  int FOpenImages = 0;                    // "![" among them
  std::size_t FLinkFloor = 0;             // "[" below this many open brackets are inactive

  // Linear-time guards: what one scan learnt about the rest of the text is kept, so that no
  // later start scans the same characters again.
  // positions of the maximal backtick runs, by length (built on first use)
  bool FTicksScanned = false;
  // (the map's entries stay where they are made, as the arrays need)
  std::unordered_map<std::size_t, TCMPodArray<std::uint32_t>> FTickRuns;
  std::size_t FNoTildeCloserUntil = 0;  // a "~~" before this position has no closer
  std::size_t FNoEmailUntil = 0;        // an e-mail autolink cannot start before this position
  // A title opened by '"', '\'' or '(' once ran to the end of the text without its closing
  // character: every later title of that kind does too.
  bool FTitleUnclosed[3] = {false, false, false};
  // bare-address links made while a "[" was open, as (start node, end node): undone when the
  // bracket becomes a link, as links do not nest
  TCMPodArray<int> FBareLinks;
  std::string FScratch;
  // Whether a "]" stands at APos or after it (only a "]" can make a bracket a link or an image).
  bool closesLater(std::size_t APos) {
    if (FLastCloseBracket == kUnknown) FLastCloseBracket = FText.rfind(']');
    return FLastCloseBracket != std::string_view::npos && FLastCloseBracket >= APos;
  }
  static constexpr std::size_t kUnknown = std::string_view::npos - 1;
  std::size_t FLastCloseBracket = kUnknown;
  bool FClosersScanned = false;
  std::size_t FLastCloser[2] = {0, 0};  // of "*" and of "_"
};

std::size_t TInlineParser::lastPossibleCloser(char AChar) {
  if (!FClosersScanned) {
    FClosersScanned = true;
    for (std::size_t i = 1; i < FText.size(); ++i) {
      char c = FText[i];
      if (c != '*' && c != '_') continue;
      char before = FText[i - 1];
      if (before == ' ' || before == '\t' || before == '\n') continue;
      // inside a run, unless the character before is escaped: a run is always taken whole (an
      // address never ends in "*" or "_", a code span, autolink or link tail in neither)
      if (before == c && !(i >= 2 && FText[i - 2] == '\\')) continue;
      FLastCloser[c == '*' ? 0 : 1] = i;
    }
  }
  return FLastCloser[AChar == '*' ? 0 : 1];
}

int TInlineParser::pushDelimiter(int ANode, char AChar, TCMDelimiterMode AMode) {
  if (static_cast<std::uint32_t>(ANode) > TCMDelimiter::kNodeMask) throw std::length_error("Markdown text too long");
  using TKind = TCMDelimiter::TKind;
  TKind kind = AChar == '*' ? TKind::Star : TKind::Underscore;
  TCMDelimiter d;
  d.FBits = static_cast<std::uint32_t>(ANode) | (static_cast<std::uint32_t>(kind) << 28) |
            (static_cast<std::uint32_t>(AMode) << 30);
  d.FLink = FTop;
  FStack.push_back(d);
  FTop = static_cast<int>(FStack.size()) - 1;
  return FTop;
}

void TInlineParser::pushBracket(bool AImage) {
  const std::size_t at = FNodes.textSize();
  if (at > 0xFFFFFFFFu - 2) throw std::length_error("Markdown text too long");
  FNodes.addText(AImage ? "![" : "[");  // the open node holds it
  const int node = FNodes.last();
  const auto offset = static_cast<std::uint32_t>(at);
  ++FBracketCount;
  if (AImage) {
    ++FOpenImages;
  } else if (!FBrackets.empty()) {
    TCMBracketRun& run = FBrackets.back();
    if (!run.isImage() && run.FNode == static_cast<std::uint32_t>(node) && run.FBelow == FTop &&
        run.FStart + run.FCount == offset) {
      ++run.FCount;
      return;
    }
  }
  TCMBracketRun run;
  run.FBelow = FTop;
  run.FNode = static_cast<std::uint32_t>(node);
  run.FStart = offset;
  run.FCount = AImage ? (TCMBracketRun::kImage | 1) : 1;
  FBrackets.push_back(run);
}

TInlineParser::TBracket TInlineParser::popBracket() {
  TCMBracketRun& run = FBrackets.back();
  TBracket b;
  b.FBelow = run.FBelow;
  b.FNode = static_cast<int>(run.FNode);
  b.FImage = run.isImage();
  b.FOffset = run.FStart + run.count() - 1;
  if (run.count() > 1) --run.FCount;
  else FBrackets.pop_back();
  --FBracketCount;
  if (b.FImage) --FOpenImages;
  // brackets opened from here on are active again
  FLinkFloor = std::min(FLinkFloor, FBracketCount);
  return b;
}

int TInlineParser::nextOnStack(int AIndex) {
  const int n = static_cast<int>(FStack.size());
  int j = AIndex + 1;
  while (j < n && at(j).removed()) j = at(j).skip();
  // the removed entries passed now point straight at j
  for (int k = AIndex + 1; k < j;) {
    int next = at(k).skip();
    at(k).setSkip(j);
    k = next;
  }
  return j < n ? j : -1;
}

void TInlineParser::truncateStack(int ATop) {
  FStack.truncate(static_cast<std::size_t>(ATop + 1));
  FTop = ATop;
  // indices above the top are given out again and must not bound an opener search
  FBaseBottom.clampTo(ATop);
}

void TInlineParser::removeDelimiter(int AIndex) {
  int next = nextOnStack(AIndex);
  int prev = at(AIndex).prev();
  if (next < 0) {
    truncateStack(prev);  // the entries between prev and AIndex were removed before
    return;
  }
  at(next).FLink = prev;
  at(AIndex).setSkip(next);
}

// The procedure "process emphasis" over the entries above ABottom (-1: the whole stack).
// The index of an entry also tells its position on the stack.
void TInlineParser::processEmphasis(int ABottom) {
  // no opener search goes below openers_bottom again, which keeps the procedure linear
  TOpenersBottom bottoms;
  bottoms.fill(ABottom);
  for (int closer = nextOnStack(ABottom); closer >= 0;) closer = matchCloser(closer, ABottom, bottoms);
  // everything above the bottom leaves the stack
  truncateStack(ABottom);
}

void TInlineParser::processPending(int AFrom) {
  for (int closer = nextOnStack(AFrom); closer >= 0;) closer = matchCloser(closer, -1, FBaseBottom);
}

int TInlineParser::matchCloser(int ACloser, int ABottom, TOpenersBottom& ABottoms) {
  const int closer = ACloser;
  TCMDelimiter* c = &at(closer);
  if (!c->isCloser()) return nextOnStack(closer);
  const std::uint32_t closerLength = FNodes.length(c->node());
  const int charSlot = c->kind() == TCMDelimiter::TKind::Star ? 0 : 1;
  int& bottom = ABottoms.FIndex[charSlot][c->isOpener() ? 1 : 0][closerLength % 3];
  int opener = c->prev();
  bool found = false;
  while (opener >= 0 && opener > bottom) {
    const TCMDelimiter& o = at(opener);
    if (o.kind() == c->kind() && o.isOpener()) {
      bool both = o.isCloser() || c->isOpener();
      // the rule of 3 (CommonMark 6.2, rules 9 and 10), here without the exception for two lengths
      // that are both multiples of 3
      if (!(both && (FNodes.length(o.node()) + closerLength) % 3 == 0)) {
        found = true;
        break;
      }
    }
    opener = o.prev();
  }
  // no opener: openers_bottom moves up, and a closer that cannot also open leaves the stack
  if (!found) {
    bottom = std::max(c->prev(), ABottom);
    int next = nextOnStack(closer);
    if (!c->isOpener()) removeDelimiter(closer);
    return next;
  }
  TCMDelimiter* o = &at(opener);
  // strong when both runs have two characters left, else em (CommonMark 6.2, rule 13)
  int use = (FNodes.length(o->node()) >= 2 && closerLength >= 2) ? 2 : 1;
  TCMElement tag = use == 2 ? TCMElement::Strong : TCMElement::Em;
  FNodes.dropBack(o->node(), static_cast<std::uint32_t>(use));
  FNodes.dropFront(c->node(), static_cast<std::uint32_t>(use));
  FNodes.addOpenerAfter(tag, o->node());
  int moved = FNodes.addCloserBefore(tag, c->node());
  if (static_cast<std::uint32_t>(moved) > TCMDelimiter::kNodeMask) throw std::length_error("Markdown text too long");
  c->setNode(moved);
  // entries between opener and closer go
  for (int d = nextOnStack(opener); d >= 0 && d != closer;) {
    int next = nextOnStack(d);
    at(d).setSkip(closer);
    d = next;
  }
  c->FLink = opener;
  if (FNodes.length(o->node()) == 0) {
    FNodes.remove(o->node());
    removeDelimiter(opener);
  }
  if (FNodes.length(c->node()) == 0) {
    int next = nextOnStack(closer);
    FNodes.remove(c->node());
    removeDelimiter(closer);
    return next;
  }
  return closer;  // what is left of the closer looks for another opener
}

void TInlineParser::flushFinal() {
  FNodes.writeHtml(*FSink);
  FNodes.clear();
  FBareLinks.clear();  // made inside brackets that are closed now: no link can take them in
}

// Left-flanking / right-flanking delimiter runs decide whether * and _ may open or close emphasis
// (CommonMark 6.2).
TCMDelimiterMode TInlineParser::flanking(std::size_t AStart, std::size_t AEnd) const {
  char32_t before = DecodeBefore(FText, AStart);
  char32_t after = AEnd < FText.size() ? DecodeAt(FText, AEnd) : 0;
  auto ws = [](char32_t c) { return c == 0 || c == ' ' || c == '\t' || c == '\n'; };
  bool beforeWs = ws(before), afterWs = ws(after);
  bool beforePunct = !beforeWs && IsPunctuation(before);
  bool afterPunct = !afterWs && IsPunctuation(after);
  bool left = !afterWs && (!afterPunct || beforeWs || beforePunct);
  bool right = !beforeWs && (!beforePunct || afterWs || afterPunct);
  if (left && right) return dmBoth;
  if (left) return dmOpener;
  if (right) return dmCloser;
  return dmNeither;
}

// A delimiter run of * or _ (CommonMark 6.2): on the stack when it can open or close, else text.
void TInlineParser::handleRun(char AChar) {
  std::size_t start = FPos;
  while (FPos < FText.size() && FText[FPos] == AChar) ++FPos;
  std::string_view run = FText.substr(start, FPos - start);
  // no intraword emphasis with _ (CommonMark 6.2): a run with neither whitespace nor ASCII
  // punctuation on either side is text
  if (AChar == '_') {
    auto plain = [](unsigned char ch) { return !(ch == ' ' || ch == '\t' || ch == '\n' || IsAsciiPunct(ch)); };
    bool hasBefore = start > 0, hasAfter = FPos < FText.size();
    if (hasBefore && hasAfter && plain(static_cast<unsigned char>(FText[start - 1])) &&
        plain(static_cast<unsigned char>(FText[FPos]))) {
      FNodes.addText(run);
      return;
    }
  }
  // a run after the last one of its character that could close can only open, and nothing
  // closes it: it stays text, and costs no node of its own (nor keeps what is before it open)
  const std::size_t lastCloser = lastPossibleCloser(AChar);
  if (lastCloser == 0 || start > lastCloser) {
    FNodes.addText(run);
    return;
  }
  TCMDelimiterMode mode = flanking(start, FPos);
  if (mode == dmNeither) {  // can neither open nor close: plain text
    FNodes.addText(run);
    return;
  }
  int node = FNodes.addTextNode(run);
  int entry = pushDelimiter(node, AChar, mode);
  if (FBrackets.empty() && mode != dmOpener) processPending(entry - 1);
}

// href encoding of a decoded link destination.
void AppendHref(std::string& AOut, std::string_view ADest) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char ch : ADest) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '&': AOut += "&amp;"; continue;
      case '"': case '[': case '\\': case ']': case '`': case '<': case '>': case ' ': break;
      default:
        if (c < 0x7F) {
          AOut += static_cast<char>(c);
          continue;
        }
    }
    AOut += '%';
    AOut += kHex[c >> 4];
    AOut += kHex[c & 15];
  }
}

// Inline link tail (CommonMark 6.3): "(", a destination, an optional title, ")". There are no
// reference links.
bool TInlineParser::parseLinkTail(std::size_t APos, std::string& AHref, std::string& ATitle, bool& AHasTitle,
                                  std::size_t& AEnd) {
  const std::size_t n = FText.size();
  std::size_t q = APos;
  if (q >= n || FText[q] != '(') return false;
  ++q;
  while (q < n && IsSpaceTabLf(FText[q])) ++q;
  std::string dest;
  // link destination in pointed brackets; a space in it only with the extensions
  if (q < n && FText[q] == '<') {
    ++q;
    for (;;) {
      if (q >= n) return false;
      char c = FText[q];
      if (c == '>') { ++q; break; }
      if (c == '<') return false;
      if (c == ' ') {
        if (!FGfm) return false;
        dest += ' ';
        ++q;
      } else if (c == '\n' || c == '\t' || c == '\r') {
        return false;
      } else if (c == '\\' && q + 1 < n && IsAsciiPunct(static_cast<unsigned char>(FText[q + 1]))) {
        dest += FText[q + 1];
        q += 2;
      } else if (c == '&' && decodeEntity(q, dest, q)) {
      } else {
        dest += c;
        ++q;
      }
    }
  } else {
    // plain link destination: up to whitespace, with its parentheses balanced
    int depth = 0;
    while (q < n) {
      char c = FText[q];
      if (IsSpaceTabLf(c)) break;
      if (c == '(') {
        if (++depth > kMaxDestinationParens) return false;
      } else if (c == ')') {
        if (depth == 0) break;
        --depth;
      }
      if (c == '\\' && q + 1 < n && IsAsciiPunct(static_cast<unsigned char>(FText[q + 1]))) {
        dest += FText[q + 1];
        q += 2;
      } else if (c == '&' && decodeEntity(q, dest, q)) {
      } else {
        dest += c;
        ++q;
      }
    }
    if (depth != 0) return false;
  }
  // link title in "...", '...' or (...), after whitespace
  std::size_t wsStart = q;
  while (q < n && IsSpaceTabLf(FText[q])) ++q;
  AHasTitle = false;
  if (q > wsStart && q < n && (FText[q] == '"' || FText[q] == '\'' || FText[q] == '(')) {
    char close = FText[q] == '(' ? ')' : FText[q];
    bool& unclosed = FTitleUnclosed[close == '"' ? 0 : close == '\'' ? 1 : 2];
    if (unclosed) return false;
    ++q;
    std::string title;
    for (;;) {
      if (q >= n) {
        unclosed = true;
        return false;
      }
      char c = FText[q];
      if (c == close) { ++q; break; }
      if (c == '\\' && q + 1 < n) {
        std::size_t e;
        DecodeAt(FText, q + 1, &e);
        AppendEscaped(title, FText.substr(q + 1, e - q - 1));
        q = e;
      } else if (c == '&') {
        std::string raw;
        if (decodeEntity(q, raw, q)) {
          AppendEscaped(title, raw);
        } else {
          title += "&amp;";
          ++q;
        }
      } else if (c == '\n') {
        title += ' ';
        ++q;
      } else {
        AppendEscaped(title, c);
        ++q;
      }
    }
    ATitle = std::move(title);
    AHasTitle = true;
    while (q < n && IsSpaceTabLf(FText[q])) ++q;
  }
  if (q >= n || FText[q] != ')') return false;
  AHref.clear();
  AppendHref(AHref, dest);
  AEnd = q + 1;
  return true;
}

// Look for link or image (CommonMark appendix) at "]": the nearest "[" or "![" on the stack.
// Links may not contain links (CommonMark 6.3); image descriptions may (6.4).
void TInlineParser::handleCloseBracket() {
  ++FPos;  // "]"
  if (FBrackets.empty()) {
    FNodes.addText("]");
    return;
  }
  const bool active = FBrackets.back().isImage() || FBracketCount - 1 >= FLinkFloor;
  std::string href, title;
  bool hasTitle = false;
  std::size_t end = 0;
  if (!active || !parseLinkTail(FPos, href, title, hasTitle, end)) {
    const TBracket b = popBracket();
    // the closers pushed since the last bracket opened are processed now
    if (FBrackets.empty()) processPending(b.FBelow);
    FNodes.addText("]");
    // With the bracket, every entry above it left the stack: the text after it is plain text
    // now, and joins the text before it where nothing refers to it.
    if (FTop <= b.FBelow) {
      int inUse = FTop >= 0 ? at(FTop).node() : -1;
      if (!FBareLinks.empty()) inUse = std::max(inUse, FBareLinks.back());
      if (!FBrackets.empty()) inUse = std::max(inUse, static_cast<int>(FBrackets.back().FNode));
      FNodes.foldTail(b.FNode, inUse);
    }
    return;
  }
  FPos = end;
  const TBracket b = popBracket();
  const bool image = b.FImage;
  // the bracket's text gets a node of its own, which becomes the element
  const int node = FNodes.splitOut(b.FNode, b.FOffset, image ? 2 : 1);
  const bool safe = IsSafeDestination(href);
  // bare-address links made after the bracket are in nodes after the one that held it
  while (!FBareLinks.empty() && FBareLinks[FBareLinks.size() - 2] > b.FNode) {
    if (!image) {  // an image's description becomes plain text anyway
      FNodes.remove(FBareLinks[FBareLinks.size() - 2]);
      FNodes.remove(FBareLinks.back());
    }
    FBareLinks.truncate(FBareLinks.size() - 2);
  }
  if (image) {
    processEmphasis(b.FBelow);
    // the alt text is the description as plain text (CommonMark 6.4)
    std::string alt = FNodes.plainTextSince(node);
    FNodes.removeAfter(node);
    FNodes.makeElement(node, TCMElement::Img, true, true);
    TCMNodeAttrs& attrs = FNodes.attrs(node);
    if (safe) {
      attrs.src = std::move(href);
      attrs.hasSrc = true;
    }
    attrs.alt = std::move(alt);
    attrs.hasAlt = true;
    if (hasTitle) {
      attrs.title = std::move(title);
      attrs.hasTitle = true;
    }
  } else {
    FNodes.makeElement(node, TCMElement::A, true, false);
    TCMNodeAttrs& attrs = FNodes.attrs(node);
    attrs.href = safe ? std::move(href) : std::string("#");
    attrs.hasHref = true;
    if (hasTitle) {
      attrs.title = std::move(title);
      attrs.hasTitle = true;
    }
    FNodes.addCloser(TCMElement::A);
    // no links inside links: every "[" below becomes inactive
    FLinkFloor = std::max(FLinkFloor, FBracketCount);
    processEmphasis(b.FBelow);
  }
}

// Code span content: outer spaces and line feeds dropped, inner runs of them become one space.
// (CommonMark 6.1 strips only one space from each end and keeps inner runs of spaces.)
void AppendSpanContent(std::string& AOut, std::string_view AContent) {
  std::size_t b = 0, e = AContent.size();
  auto blank = [](char c) { return c == ' ' || c == '\n'; };
  while (b < e && blank(AContent[b])) ++b;
  while (e > b && blank(AContent[e - 1])) --e;
  // copied in pieces between the runs of blanks
  for (std::size_t i = b; i < e;) {
    std::size_t j = i;
    while (j < e && !blank(AContent[j])) ++j;
    AppendEscaped(AOut, AContent.substr(i, j - i));
    if (j >= e) break;
    AOut += ' ';
    while (j < e && blank(AContent[j])) ++j;
    i = j;
  }
}

// Code span (CommonMark 6.1): a backtick run closed by the next run of the same length; without
// one the run is literal text.
bool TInlineParser::handleCodeSpan() {
  std::size_t start = FPos;
  std::size_t e = FPos;
  while (e < FText.size() && FText[e] == '`') ++e;
  std::size_t len = e - start;
  // one scan indexes every run by length, so that the closers are found in linear time
  if (!FTicksScanned) {
    FTicksScanned = true;
    for (std::size_t i = 0; i < FText.size();) {
      if (FText[i] != '`') {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < FText.size() && FText[j] == '`') ++j;
      FTickRuns[j - i].push_back(static_cast<std::uint32_t>(i));
      i = j;
    }
  }
  auto it = FTickRuns.find(len);
  std::size_t closeAt = std::string_view::npos;
  if (it != FTickRuns.end()) {
    const TCMPodArray<std::uint32_t>& runs = it->second;
    const std::uint32_t* first = &runs[0];
    const std::uint32_t* last = first + runs.size();
    const std::uint32_t* pos = std::lower_bound(first, last, static_cast<std::uint32_t>(e));
    if (pos != last) closeAt = *pos;
  }
  if (closeAt == std::string_view::npos) {
    FNodes.addText(FText.substr(start, len));
    FPos = e;
    return true;
  }
  FScratch.clear();
  AppendSpanContent(FScratch, FText.substr(e, closeAt - e));
  if (FOpenImages > 0) {  // an image's alt text takes the span's content without the tags
    FNodes.addOpener(TCMElement::Code);
    FNodes.addTextNode(FScratch);
    FNodes.addCloser(TCMElement::Code);
  } else {  // nothing changes a code span later: it is written as text, tags and all
    FNodes.addText("<code>");
    FNodes.addText(FScratch);
    FNodes.addText("</code>");
  }
  FPos = closeAt + len;
  return true;
}

// Strikethrough (GFM 6.5): exactly two tildes, closed by the next two on the same line; the
// content stays literal text.
bool TInlineParser::handleStrikethrough() {
  std::size_t start = FPos;
  std::size_t e = FPos;
  while (e < FText.size() && FText[e] == '~') ++e;
  FPos = e;
  if (!FGfm || e - start != 2 || start < FNoTildeCloserUntil) {
    FNodes.addText(FText.substr(start, e - start));
    return true;
  }
  std::size_t q = e;
  std::size_t closeAt = std::string_view::npos;
  while (q < FText.size() && FText[q] != '\n') {
    if (FText[q] != '~') {
      ++q;
      continue;
    }
    std::size_t r = q;
    while (r < FText.size() && FText[r] == '~') ++r;
    if (r - q == 2) {
      closeAt = q;
      break;
    }
    q = r;
  }
  if (closeAt == std::string_view::npos) {
    FNoTildeCloserUntil = q;
    FNodes.addText(FText.substr(start, 2));
    return true;
  }
  FNodes.addOpener(TCMElement::Del);
  FScratch.clear();
  AppendSpanContent(FScratch, FText.substr(e, closeAt - e));
  FNodes.addTextNode(FScratch);
  FNodes.addCloser(TCMElement::Del);
  FPos = closeAt + 2;
  return true;
}

// Autolink (CommonMark 6.5): "<" scheme ":" ... ">" with a scheme of 2 to 32 characters, or an
// e-mail address in pointed brackets.
bool TInlineParser::handleAutolink() {
  std::size_t q = FPos + 1;
  while (q < FText.size() && FText[q] != '>' && FText[q] != ' ' && FText[q] != '\t' && FText[q] != '\n' &&
         FText[q] != '<')
    ++q;
  if (q >= FText.size() || FText[q] != '>') return false;
  std::string_view s = FText.substr(FPos + 1, q - FPos - 1);
  std::size_t i = 0;
  bool uri = false;
  if (!s.empty() && IsAsciiAlpha(static_cast<unsigned char>(s[0]))) {
    i = 1;
    while (i < s.size() && (IsAsciiAlnum(static_cast<unsigned char>(s[i])) || s[i] == '+' || s[i] == '.' || s[i] == '-')) ++i;
    uri = i >= 2 && i <= 32 && i < s.size() && s[i] == ':';
  }
  std::string href;
  if (uri) {
    if (IsSafeDestination(s)) AppendHref(href, s);
    else href.push_back('#');  // assigning "#" draws a false -Wrestrict warning from GCC 12
  } else if (IsEmailAddress(s)) {
    href = "mailto:";
    AppendEscaped(href, s);
  } else {
    return false;
  }
  addAutolink(std::move(href), s);
  FPos = q + 1;
  return true;
}

bool IsDomainChar(unsigned char c) { return IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.'; }
bool IsEmailRunChar(unsigned char c) { return IsAsciiAlnum(c) || c == '+' || c == '-' || c == '.' || c == '_' || c == '@'; }

// Whether an extended autolink (GFM 6.9) may start here: "www.", a scheme, or an e-mail character.
bool TInlineParser::mayStartExtended(std::size_t APos) const {
  unsigned char c = static_cast<unsigned char>(FText[APos]);
  if (c == 'w' || c == 'h' || c == 'f') {
    std::string_view rest = FText.substr(APos);
    if (rest.starts_with("www.") || rest.starts_with("http://") || rest.starts_with("https://") ||
        rest.starts_with("ftp://"))
      return true;
  }
  return APos >= FNoEmailUntil && IsEmailRunChar(c);
}

// Where a bare address ends: at whitespace, at an angle bracket, before a "[" that may open a
// link, and before a "]" that may close one.
bool EndsBareAddress(char c, bool AInBrackets) {
  switch (c) {
    case ' ': case '\t': case '\n': case '<': case '>': case '[':
      return true;
    case ']':
      return AInBrackets;
    default:
      return false;
  }
}

// Extended www. and URL autolinks (GFM 6.9), here recognised at any position in the text; the
// domain must hold a dot.
bool TInlineParser::handleExtendedAutolink() {
  std::string_view rest = FText.substr(FPos);
  std::size_t prefix = 0;
  bool www = false;
  if (rest.starts_with("www.")) { prefix = 4; www = true; }
  else if (rest.starts_with("http://")) prefix = 7;
  else if (rest.starts_with("https://")) prefix = 8;
  else if (rest.starts_with("ftp://")) prefix = 6;
  if (prefix == 0) return handleExtendedEmail();

  const std::size_t n = FText.size();
  const std::size_t domainStart = FPos + prefix;
  std::size_t q = domainStart;
  while (q < n && IsDomainChar(static_cast<unsigned char>(FText[q]))) ++q;
  const std::size_t domainEnd = q;
  const bool inBrackets = !FBrackets.empty();
  std::size_t opens = 0, closes = 0;
  while (q < n && !EndsBareAddress(FText[q], inBrackets)) {
    opens += FText[q] == '(';
    closes += FText[q] == ')';
    ++q;
  }
  // Trailing punctuation, closing parentheses without an opening one and entity-like tails
  // ("&" letters and digits ";") stay outside, as many as there are.
  std::size_t e = q;
  while (e > domainStart) {
    char last = FText[e - 1];
    if (last == '?' || last == '!' || last == '.' || last == ',' || last == ':' || last == '*' || last == '_' ||
        last == '~') {
      --e;
    } else if (last == ')' && closes > opens) {
      --e;
      --closes;
    } else if (last == ';') {
      std::size_t a = e - 1;
      while (a > domainStart && IsAsciiAlnum(static_cast<unsigned char>(FText[a - 1]))) --a;
      if (a == e - 1 || a <= domainStart || FText[a - 1] != '&') break;
      e = a - 1;
    } else {
      break;
    }
  }
  std::string_view domain = FText.substr(domainStart, std::min(domainEnd, e) - domainStart);
  if (domain.find('.') == std::string_view::npos) return false;
  std::string_view shown = FText.substr(FPos, e - FPos);
  std::string href;
  if (www) href = "http://";
  AppendEscaped(href, shown);
  addAutolink(std::move(href), shown);
  FPos = e;
  return true;
}

void TInlineParser::addAutolink(std::string AHref, std::string_view AShown) {
  if (FBrackets.empty()) {  // no bracket can make it part of a link or an image: written as text
    const bool direct = writesDirectly(AShown.size());
    std::string& out = direct ? *FSink : FScratch;
    if (!direct) FScratch.clear();
    out += "<a href=\"";
    out += AHref;
    out += "\">";
    AppendEscaped(out, AShown);
    out += "</a>";
    if (!direct) FNodes.addText(FScratch);
    return;
  }
  int a = FNodes.addOpener(TCMElement::A);
  FNodes.attrs(a).href = std::move(AHref);
  FNodes.attrs(a).hasHref = true;
  FScratch.clear();
  AppendEscaped(FScratch, AShown);
  FNodes.addTextNode(FScratch);
  FBareLinks.push_back(a);
  FBareLinks.push_back(FNodes.addCloser(TCMElement::A));
}

// Extended e-mail autolink (GFM 6.9): one "@", a dot in the domain and no "+" after the "@".
bool TInlineParser::handleExtendedEmail() {
  if (FPos < FNoEmailUntil) return false;
  std::size_t q = FPos;
  std::size_t atSign = std::string_view::npos, prevAtSign = std::string_view::npos;
  int ats = 0;
  while (q < FText.size() && IsEmailRunChar(static_cast<unsigned char>(FText[q]))) {
    if (FText[q] == '@') {
      prevAtSign = atSign;
      atSign = q;
      ++ats;
    }
    ++q;
  }
  std::size_t e = q;
  auto fail = [&] {
    // the run ends at the same place from every later start: only starts after its last but
    // one "@" can hold exactly one
    FNoEmailUntil = (ats >= 2) ? prevAtSign + 1 : e;
    return false;
  };
  if (ats != 1 || FText[FPos] == '@') return fail();
  if (e > FPos && FText[e - 1] == '.') --e;
  if (e <= atSign + 1) return fail();
  char last = FText[e - 1];
  if (last == '-' || last == '_') return fail();
  std::string_view domain = FText.substr(atSign + 1, e - atSign - 1);
  if (domain.find('.') == std::string_view::npos || domain.find('+') != std::string_view::npos) return fail();
  std::string_view addr = FText.substr(FPos, e - FPos);
  std::string href = "mailto:";
  AppendEscaped(href, addr);
  addAutolink(std::move(href), addr);
  FPos = e;
  return true;
}

// The characters that run() dispatches; every other one is textual content (CommonMark 6.9).
bool IsSpecial(unsigned char c) {
  switch (c) {
    case '!': case '"': case '>': case '&': case '*': case '<': case '[': case '\\': case ']': case '_':
    case '`': case '~': case ' ': case '\t': case '\n': case '\0':
      return true;
    default:
      return false;
  }
}

// Plain characters up to the next one that needs attention.
void TInlineParser::plainRun() {
  std::size_t start = FPos;
  ++FPos;  // the current character is plain (checked by the caller)
  while (FPos < FText.size()) {
    unsigned char c = static_cast<unsigned char>(FText[FPos]);
    if (IsSpecial(c)) break;
    if (FGfm && mayStartExtended(FPos)) break;
    ++FPos;
  }
  if (writesDirectly(FPos - start)) FSink->append(FText, start, FPos - start);
  else FNodes.addText(FText.substr(start, FPos - start));
}

void TInlineParser::run() {
  const std::size_t n = FText.size();
  bool lineStart = true;
  while (FPos < n) {
    // the page grows only while nothing is open
    if (FSink && FTop < 0 && FBrackets.empty()) {
      if (FNodes.textSize() >= kFlushText || FNodes.nodeCount() >= kFlushNodes) flushFinal();
      if (FHandOn && FSink->size() >= FHandOn->FAt) FHandOn->FHandOn();
    }
    char c = FText[FPos];
    // blanks are dropped at line starts and ends; two or more spaces before a line end make a
    // hard line break (CommonMark 6.7), otherwise the line end is a soft one (6.8)
    if (c == ' ' || c == '\t') {
      std::size_t q = FPos;
      while (q < n && (FText[q] == ' ' || FText[q] == '\t')) ++q;
      if (lineStart) {
        FPos = q;
        continue;
      }
      if (q >= n) break;  // trailing spaces of the text
      if (FText[q] == '\n') {
        if (q - FPos >= 2 && FText[q - 1] == ' ' && FText[q - 2] == ' ') {
          FNodes.addEmpty(TCMElement::Br);
        }
      } else {
        FNodes.addText(FText.substr(FPos, q - FPos));
      }
      FPos = q;
      continue;
    }
    if (c == '\n') {
      FNodes.addText("\n");
      ++FPos;
      lineStart = true;
      continue;
    }
    lineStart = false;
    switch (c) {
      case '!':
        if (FPos + 1 < n && FText[FPos + 1] == '[' && !closesLater(FPos + 2)) {
          FNodes.addText("![");
          FPos += 2;
        } else if (FPos + 1 < n && FText[FPos + 1] == '[') {
          pushBracket(true);
          FPos += 2;
        } else {
          FNodes.addText("!");
          ++FPos;
        }
        break;
      case '"':
        FNodes.addText("&quot;");
        ++FPos;
        break;
      case '>':
        FNodes.addText("&gt;");
        ++FPos;
        break;
      case '&': {
        FScratch.clear();
        std::size_t end;
        if (decodeEntity(FPos, FScratch, end)) {
          std::string esc;
          AppendEscaped(esc, FScratch);
          FNodes.addText(esc);
          FPos = end;
        } else {
          FNodes.addText("&amp;");
          ++FPos;
        }
        break;
      }
      case '_':
        // an underscore may begin a bare e-mail address (GFM 6.9) rather than emphasis
        if (FGfm && mayStartExtended(FPos) && handleExtendedEmail()) break;
        handleRun(c);
        break;
      case '*':
        handleRun(c);
        break;
      case '<':
        if (!handleAutolink()) {
          FNodes.addText("&lt;");
          ++FPos;
        }
        break;
      case '[': {
        if (!closesLater(FPos + 1)) {  // no "]" follows: the bracket is text
          FNodes.addText("[");
          ++FPos;
          break;
        }
        pushBracket(false);
        ++FPos;
        break;
      }
      // backslash escape of ASCII punctuation (CommonMark 2.4), or a hard line break (6.7)
      case '\\':
        if (FPos + 1 < n && IsAsciiPunct(static_cast<unsigned char>(FText[FPos + 1]))) {
          FScratch.clear();
          AppendEscaped(FScratch, FText[FPos + 1]);
          FNodes.addText(FScratch);
          FPos += 2;
        } else if (FPos + 1 < n && FText[FPos + 1] == '\n') {
          FNodes.addEmpty(TCMElement::Br);
          ++FPos;
        } else {
          FNodes.addText("\\");
          ++FPos;
        }
        break;
      case ']':
        handleCloseBracket();
        break;
      case '`':
        handleCodeSpan();
        break;
      case '~':
        handleStrikethrough();
        break;
      default:
        if (FGfm && mayStartExtended(FPos) && handleExtendedAutolink()) break;
        // U+0000 is replaced (CommonMark 2.3)
        if (c == '\0') {
          FNodes.addText("\xEF\xBF\xBD");
          ++FPos;
          break;
        }
        plainRun();
        break;
    }
  }
  // the closers above the lowest bracket still open (it stays text) were not processed yet
  if (!FBrackets.empty()) processPending(FBrackets[0].FBelow);
  truncateStack(-1);
  FBrackets.clear();
  if (FSink) flushFinal();
}

}  // namespace

void ParseInlines(std::string_view AText, bool AInlines, bool AGfm, TCMTextNodes& ANodes) {
  if (!AInlines) {
    std::string s;
    s.reserve(AText.size() + 16);
    AppendEscaped(s, AText);
    ANodes.addTextNode(s);
    return;
  }
  // short texts fit the string's own room and a few nodes
  if (AText.size() > 15) ANodes.reserve(AText.size() / 8 + 4, AText.size() + 16);
  TInlineParser parser(AText, AGfm, ANodes);
  parser.run();
}

void WriteInlines(std::string_view AText, bool AGfm, std::string& AOut, const TInlineHandOn* AHandOn) {
  TCMTextNodes nodes;
  // room for what is held before it is written
  if (AText.size() > 15)
    nodes.reserve(std::min<std::size_t>(AText.size() / 8 + 4, 2 * kFlushNodes),
                  std::min<std::size_t>(AText.size() + 16, 2 * kFlushText));
  TInlineParser parser(AText, AGfm, nodes, &AOut, AHandOn);
  parser.run();
}

}  // namespace qd::md
