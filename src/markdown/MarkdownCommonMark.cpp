// Block phase and rendering of the CommonMark engine.
#include "markdown/MarkdownCommonMark.h"

#include "markdown/MarkdownBlocks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "markdown/MarkdownHTMLEntities.h"
#include "markdown/MarkdownInline.h"
#include "markdown/MarkdownText.h"

namespace qd::md {

using namespace text;

// ---- block memory ----------------------------------------------------------------------------

TCMArena::~TCMArena() {
  while (FChunk) {
    TChunk* prev = FChunk->FPrev;
    std::free(FChunk);
    FChunk = prev;
  }
}

void* TCMArena::allocate(std::size_t ASize, std::size_t AAlign) {
  auto aligned = [&](char* p) {
    auto v = reinterpret_cast<std::uintptr_t>(p);
    return reinterpret_cast<char*>((v + AAlign - 1) & ~static_cast<std::uintptr_t>(AAlign - 1));
  };
  char* p = FPos ? aligned(FPos) : nullptr;
  if (!p || p + ASize > FEnd) {
    // chunks double up to 64 KiB; a larger request gets a chunk of its own size
    std::size_t want = std::max(FNextSize, sizeof(TChunk) + ASize + AAlign);
    void* mem = std::malloc(want);
    if (!mem) throw std::bad_alloc();
    auto* chunk = static_cast<TChunk*>(mem);
    chunk->FPrev = FChunk;
    FChunk = chunk;
    FPos = static_cast<char*>(mem) + sizeof(TChunk);
    FEnd = static_cast<char*>(mem) + want;
    FNextSize = std::min<std::size_t>(FNextSize * 2, 64 * 1024);
    p = aligned(FPos);
  }
  FPos = p + ASize;
  return p;
}

void TCMBlockList::push_back(TCMArena& AArena, TCMBlock* ABlock) {
  if (FSize == 0 && FCapacity == 1) {
    FOnly = ABlock;
    FSize = 1;
    return;
  }
  if (FSize == FCapacity) {
    // the old room stays in the arena; doubling keeps that waste below the final size
    std::uint32_t cap = FCapacity * 2;
    auto* items = static_cast<TCMBlock**>(AArena.allocate(cap * sizeof(TCMBlock*), alignof(TCMBlock*)));
    std::memcpy(items, data(), FSize * sizeof(TCMBlock*));
    FItems = items;
    FCapacity = cap;
  }
  FItems[FSize++] = ABlock;
}

void TCMBlockList::pop_back() {
  TCMBlock* b = back();
  --FSize;
  b->~TCMBlock();
}

void TCMBlockList::destroyFront() {
  if (FSize == 0) return;
  TCMBlock** items = FCapacity > 1 ? FItems : &FOnly;
  items[0]->~TCMBlock();
  std::memmove(items, items + 1, (FSize - 1) * sizeof(TCMBlock*));
  --FSize;
  if (FCapacity > 1 && FSize <= 1) {
    TCMBlock* only = FSize ? FItems[0] : nullptr;
    FCapacity = 1;
    FOnly = only;
  }
}

void TCMBlockList::clear() {
  for (TCMBlock* b : *this) b->~TCMBlock();
  FSize = 0;
}

namespace {

// Containers (quotes, lists) nested deeper than this are not opened: the marker stays text.
// Keeps the recursion of the block phase and of rendering bounded.
constexpr int kMaxNesting = 64;

// Columns of a table at most, as other engines allow: a wider header row makes no table.
constexpr std::size_t kMaxTableColumns = 128;

// ---- lines ---------------------------------------------------------------------------------

// One source line with a cursor counted in columns (tab stops of 4). When the cursor stands
// inside a tab, the tab's remaining columns are virtual spaces in front of FPos.
class TCMLine {
 public:
  TCMLine() = default;
  TCMLine(std::string_view ALine, int AIndex) : FLine(ALine), FIndex(AIndex) {}

  std::string_view FLine;
  int FIndex = -1;

  void reset() { FPos = 0; FCursor = 1; FVirt = 0; }
  int cursor() const { return FCursor; }

  // current character (virtual spaces count as " "); 0 at the end
  char peek() const { return FVirt > 0 ? ' ' : (FPos < FLine.size() ? FLine[FPos] : '\0'); }
  bool atEnd() const { return FVirt == 0 && FPos >= FLine.size(); }

  void advance1() {
    if (FVirt > 0) {
      --FVirt;
    } else if (FPos < FLine.size()) {
      if (FLine[FPos] == '\t') {
        int width = 4 - (FCursor - 1) % 4;
        FVirt = width - 1;
      }
      ++FPos;
    } else {
      return;
    }
    ++FCursor;
  }
  void advance(int ACols) {
    for (int i = 0; i < ACols && !atEnd(); ++i) advance1();
  }
  // advances to the given column (no further than the line end)
  void advanceTo(int ACol) { advance(ACol - FCursor); }
  void skipWS() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t')) advance1();
  }
  int countWS() const {
    int cols = FVirt;
    int col = FCursor + FVirt;
    for (std::size_t i = FPos; i < FLine.size(); ++i) {
      if (FLine[i] == ' ') {
        ++cols;
        ++col;
      } else if (FLine[i] == '\t') {
        int w = 4 - (col - 1) % 4;
        cols += w;
        col += w;
      } else {
        break;
      }
    }
    return cols;
  }
  bool isEmpty() const { return atEnd(); }
  bool isWhitespace() const {
    for (std::size_t i = FPos; i < FLine.size(); ++i)
      if (FLine[i] != ' ' && FLine[i] != '\t' && FLine[i] != '\n') return false;
    return true;
  }
  // appends the text from the cursor to the line end
  void appendFocus(std::string& AOut) const {
    AOut.append(static_cast<std::size_t>(FVirt), ' ');
    AOut.append(FLine.substr(std::min<std::size_t>(FPos, FLine.size())));
  }
  // Whether the text from the cursor to the line end stands as it is in the source (no part of
  // a tab in front of it), and that text.
  bool focusInSource() const { return FVirt == 0; }
  std::string_view focusView() const { return FLine.substr(std::min<std::size_t>(FPos, FLine.size())); }
  // the text from the cursor to the line end
  std::string focus() const {
    std::string s(static_cast<std::size_t>(FVirt), ' ');
    s.append(FLine.substr(std::min<std::size_t>(FPos, FLine.size())));
    return s;
  }
  // the text after the spaces and tabs at the cursor
  std::string_view afterWS() const {
    std::size_t i = FPos;
    while (i < FLine.size() && (FLine[i] == ' ' || FLine[i] == '\t')) ++i;
    return FLine.substr(i);
  }

 private:
  std::uint32_t FPos = 0;  // one line of the source is below 4 GB, as are the texts of the nodes
  int FCursor = 1;
  int FVirt = 0;
};

// Length of the well-formed UTF-8 sequence at APos, 0 when there is none.
std::size_t ValidUtf8Length(std::string_view s, std::size_t APos) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[APos + k]); };
  unsigned char c = b(0);
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) len = 2;
  else if (c == 0xE0) { len = 3; lo = 0xA0; }
  else if (c == 0xED) { len = 3; hi = 0x9F; }  // no surrogates
  else if (c >= 0xE1 && c <= 0xEF) len = 3;
  else if (c == 0xF0) { len = 4; lo = 0x90; }
  else if (c == 0xF4) { len = 4; hi = 0x8F; }  // nothing above U+10FFFF
  else if (c >= 0xF1 && c <= 0xF3) len = 4;
  else return 0;
  if (APos + len > s.size()) return 0;
  if (b(1) < lo || b(1) > hi) return 0;
  for (std::size_t k = 2; k < len; ++k)
    if ((b(k) & 0xC0) != 0x80) return 0;
  return len;
}

// Length of the ill-formed sequence at APos that one U+FFFD replaces: the longest start of a
// well-formed sequence, at least one byte.
std::size_t IllFormedLength(std::string_view s, std::size_t APos) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[APos + k]); };
  unsigned char c = b(0);
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) len = 2;
  else if (c == 0xE0) { len = 3; lo = 0xA0; }
  else if (c == 0xED) { len = 3; hi = 0x9F; }
  else if (c >= 0xE1 && c <= 0xEF) len = 3;
  else if (c == 0xF0) { len = 4; lo = 0x90; }
  else if (c == 0xF4) { len = 4; hi = 0x8F; }
  else if (c >= 0xF1 && c <= 0xF3) len = 4;
  else return 1;
  std::size_t k = 1;
  if (APos + k < s.size() && b(k) >= lo && b(k) <= hi) {
    ++k;
    while (k < len && APos + k < s.size() && (b(k) & 0xC0) == 0x80) ++k;
  }
  return k;
}

bool IsOpenPlainPara(const TCMBlock* b) { return b && !b->FClosed && b->isPlainPara(); }

// The deepest open block under the container.
const TCMBlock* InnermostOpen(const TCMContainerBlock* AContainer) {
  const TCMBlock* b = AContainer;
  for (;;) {
    const TCMContainerBlock* c = b->asContainer();
    if (!c) return b;
    const TCMBlock* last = c->lastBlock();
    if (!last || last->FClosed) return b;
    if (IsOpenPlainPara(last)) return last;
    b = last;
  }
}

// A list marker at the start of AText (after indentation).
struct TListMarker {
  bool ok = false;
  bool ordered = false;
  char marker = 0;       // bullet character or delimiter
  std::string start;     // ordered: the number without leading zeros
  std::size_t length = 0;  // bytes of the marker
};

// List marker (CommonMark 5.2): "-", "+" or "*", or 1 to 9 digits and "." or ")", then a blank or
// the line end.
TListMarker ReadListMarker(std::string_view s) {
  TListMarker m;
  if (s.empty()) return m;
  if (s[0] == '*' || s[0] == '+' || s[0] == '-') {
    if (s.size() == 1 || s[1] == ' ' || s[1] == '\t') {
      m.ok = true;
      m.marker = s[0];
      m.length = 1;
    }
    return m;
  }
  std::size_t i = 0;
  while (i < s.size() && IsAsciiDigit(static_cast<unsigned char>(s[i]))) ++i;
  if (i == 0 || i > 9 || i >= s.size() || (s[i] != '.' && s[i] != ')')) return m;
  if (i + 1 < s.size() && s[i + 1] != ' ' && s[i + 1] != '\t') return m;
  m.ok = true;
  m.ordered = true;
  m.marker = s[i];
  m.length = i + 1;
  std::size_t z = 0;
  while (z + 1 < i && s[z] == '0') ++z;
  m.start.assign(s.substr(z, i - z));
  return m;
}

// ---- block processors ----------------------------------------------------------------------

// Lazy: the line lacks the container's prefix but continues its open paragraph, a lazy
// continuation line (CommonMark 5.1).
enum class TAccept { No, Yes, Lazy };

class TCMBlockProcessor {
 public:
  explicit TCMBlockProcessor(TCMBlockProcessor* AParent) : FParent(AParent) {}
  virtual ~TCMBlockProcessor() = default;
  virtual TAccept acceptsLine(TCMLine& ALine) = 0;
  virtual bool isContainerProcessor() const { return false; }
  TCMBlockProcessor* FParent;
};

class TCMDocumentProcessor : public TCMBlockProcessor {
 public:
  TCMDocumentProcessor() : TCMBlockProcessor(nullptr) {}
  TAccept acceptsLine(TCMLine&) override { return TAccept::Yes; }
};

// The interruption test: does a line that lacks the container's prefix end the container?
// Roughly: when it may start a block that can interrupt a paragraph, or no paragraph is open.
bool Interrupts(const TCMLine& ALine, int AAllowance, const TCMContainerBlock* AContainer, bool AInOrderedList) {
  int ind = ALine.countWS();
  std::string_view s = ALine.afterWS();
  char c = s.empty() ? '\0' : s[0];
  if (ind <= AAllowance && (c == '*' || c == '-' || c == '+')) return true;
  if (ind <= 3 && (s.starts_with("___") || c == '#' || c == '~' || c == '>' || c == '`')) return true;
  const TCMBlock* inner = InnermostOpen(AContainer);
  if (!IsOpenPlainPara(inner)) return true;
  TListMarker m = ReadListMarker(s);
  if (m.ok && m.ordered && (AInOrderedList || m.start == "1")) return true;
  return false;
}

// Block quote (CommonMark 5.1): each line needs ">" after at most 3 columns of indentation, and
// one space or tab after it belongs to the marker; other lines may only continue lazily.
class TCMQuoteProcessor : public TCMBlockProcessor {
 public:
  TCMQuoteProcessor(TCMBlockProcessor* AParent, TCMQuoteBlock* AQuote) : TCMBlockProcessor(AParent), quote(AQuote) {}
  bool isContainerProcessor() const override { return true; }
  TAccept acceptsLine(TCMLine& ALine) override {
    TAccept r = FParent->acceptsLine(ALine);
    if (r != TAccept::Yes) return r;
    int ind = ALine.countWS();
    std::string_view s = ALine.afterWS();
    if (ind <= 3 && !s.empty() && s[0] == '>') {
      ALine.skipWS();
      ALine.advance1();
      if (ALine.peek() == ' ' || ALine.peek() == '\t') ALine.advance1();
      return TAccept::Yes;
    }
    if (ALine.isWhitespace() || Interrupts(ALine, 3, quote, false)) return TAccept::No;
    return TAccept::Lazy;
  }
  TCMQuoteBlock* quote;
};

// List item continuation (CommonMark 5.2): lines indented to the content column, blank lines
// once the item has content, and lazy continuation lines.
// The columns of an item's content count from where its container's content starts on each
// line, after the markers of the quotes around it, which may differ in width from line to line.
class TCMListProcessor : public TCMBlockProcessor {
 public:
  TCMListProcessor(TCMBlockProcessor* AParent, TCMListBlock* AList, TCMListItemBlock* AItem, int AContentIndent)
      : TCMBlockProcessor(AParent), FList(AList), FItem(AItem), FContentIndent(AContentIndent) {}
  bool isContainerProcessor() const override { return true; }
  TAccept acceptsLine(TCMLine& ALine) override {
    TAccept r = FParent->acceptsLine(ALine);
    if (r != TAccept::Yes) return r;
    if (ALine.FIndex == FItem->FLine) {  // the marker line
      ALine.advance(FContentIndent);
      return TAccept::Yes;
    }
    FHasContent = !FItem->FBlocks.empty();
    if (ALine.isWhitespace()) {
      // an item can begin with at most one blank line
      if (!FHasContent) return TAccept::No;
      if (FEmptyLine < 0) FEmptyLine = ALine.FIndex;
      ALine.advance(std::min(FContentIndent, ALine.countWS()));
      return TAccept::Yes;
    }
    if (ALine.countWS() >= FContentIndent) {
      ALine.advance(FContentIndent);
      return TAccept::Yes;
    }
    if (Interrupts(ALine, FContentIndent, FItem, FList->FOrdered)) return TAccept::No;
    return TAccept::Lazy;
  }
  TCMListBlock* FList;
  TCMListItemBlock* FItem;
  int FContentIndent;
  bool FHasContent = false;
  int FEmptyLine = -1;
};

// ---- engine ----------------------------------------------------------------------------------

std::size_t HtmlSizeBound(const TCMBlock* ABlock);
constexpr std::size_t kMaxReserveFactor = 4;

class TEngine {
 public:
  TEngine(std::string_view ASrc, bool AGfm, TCMArena& AArena);
  void parseBlocks(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc);
  void runInlines(TCMBlock* ABlock, bool AWantsInlines);
  // Writes each top-level block of ADoc into AOut once the next one has begun, and frees it.
  void streamInto(TCommonMarkDocument* ADoc, std::string* AOut);
  // With a writer, the page goes to it in pieces as it grows.
  void setWriter(const TCommonMarkEngine::TPageWriter* AWrite) { FWrite = AWrite; }
  void flushTopLevel(bool AAll);
  // Writes the items of a top-level list but its last (which may still take lines) and frees them.
  void flushListItems();
  bool writeParagraph(TCMBlock* ABlock);

 private:
  // Lines are cut from the source as they are reached and kept in a small ring: the parse
  // steps back at most one line, and nothing looks at a line once the next few are read.
  TCMLine* nextLine() {
    const int want = FCurrentLine + 1;
    if (want >= FLinesRead) {
      if (FNextLineStart >= FText.size()) return nullptr;
      std::size_t lf = FText.find('\n', FNextLineStart);
      if (lf == std::string_view::npos) lf = FText.size();
      FLines[static_cast<std::size_t>(want) % kLineRing] = TCMLine(FText.substr(FNextLineStart, lf - FNextLineStart), want);
      FNextLineStart = lf + 1;
      FLinesRead = want + 1;
    }
    FCurrentLine = want;
    return &FLines[static_cast<std::size_t>(want) % kLineRing];
  }
  void stepBack() { --FCurrentLine; }

  // a new block in the arena, owned by AContainer
  template <class T>
  T* adopt(TCMContainerBlock* AContainer, int ALine) {
    T* b = FArena->make<T>();
    b->FLine = ALine;
    AContainer->FBlocks.push_back(*FArena, b);
    if (AContainer == FStreamDoc) FLastTopArena = FArenaBase + FArenas.size() - 1;
    else if (FStreamDoc && AContainer == FStreamDoc->lastBlock()) FLastItemArena = FArenaBase + FArenas.size() - 1;
    return b;
  }
  template <class T>
  T* addBlock(TCMContainerBlock* AContainer, int ALine) {
    if (TCMBlock* last = AContainer->lastBlock()) last->FClosed = true;
    return adopt<T>(AContainer, ALine);
  }
  TCMTextBlock* addText(TCMContainerBlock* AContainer, std::string AText, int ALine) {
    TCMTextBlock* tb = adopt<TCMTextBlock>(AContainer, ALine);
    tb->rawText() = std::move(AText);
    tb->FClosed = true;
    return tb;
  }
  // the cells of a row into FCells, no more than ACells (surplus cells are never written)
  void splitRow(std::string_view ALine, std::size_t ACells);
  std::string_view cell(std::size_t i) const {
    std::uint32_t from = i ? FCellEnds[i - 1] : 0;
    return std::string_view(FCells).substr(from, FCellEnds[i] - from);
  }
  void appendParagraph(TCMContainerBlock* AContainer, TCMLine& ALine);

  bool trySetext(TCMContainerBlock* AContainer, TCMLine& ALine);
  bool tryThematicBreak(TCMContainerBlock* AContainer, TCMLine& ALine);
  bool tryAtxHeading(TCMContainerBlock* AContainer, TCMLine& ALine);
  bool tryQuote(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine);
  bool tryListItem(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine, bool AOrdered);
  bool tryIndentedCode(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine);
  bool tryFencedCode(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine);
  bool tryTable(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine);

  TCMArena* FArena;  // where blocks are made
  std::string FSource;  // the source when it had to be changed (line ends, U+0000, bad UTF-8)
  std::string_view FText;  // the source the lines refer to

  // While streaming: the document whose top-level blocks are written as they are completed,
  // the output, and the arenas of the blocks not yet written. An arena is freed once every
  // block made in it has been written: the last top-level block began in arena FLastTopArena
  // (counted from the first ever made), and everything in earlier arenas is written.
  TCommonMarkDocument* FStreamDoc = nullptr;
  std::string* FOut = nullptr;
  const TCommonMarkEngine::TPageWriter* FWrite = nullptr;
  // Hands the page written so far to the writer once it is large enough; the part of a list's
  // items that may still be mended stays.
  void passOn(bool AAll);
  std::deque<std::unique_ptr<TCMArena>> FArenas;
  std::size_t FArenaBase = 0;  // arenas freed so far
  std::size_t FLastTopArena = 0;
  // A top-level list is written item by item (flushListItems): the arena its last item began in,
  // and where its tight page differs from the loose one while its looseness is not known.
  std::size_t FLastItemArena = 0;
  TCMLooseEdits FLooseEdits;
  const TCMListBlock* FStreamList = nullptr;  // the list being written item by item
  std::unique_ptr<TCMArena> FListArena;       // the arena that list was made in
  void checkBlankIn();
  static constexpr std::size_t kLineRing = 4;
  TCMLine FLines[kLineRing];
  std::size_t FNextLineStart = 0;  // in FText, of the first line not read yet
  int FLinesRead = 0;
  int FCurrentLine = -1;
  bool FGFMExtensions = true;
  bool FLastLineBlank = false;
  const TCMContainerBlock* FBlankIn = nullptr;  // the container whose loop took the last blank line
  int FDepth = 0;
  std::size_t FFillAllowance = 64 * 1024;  // bytes of empty table cells beyond the tables' own budgets
  std::string FCells;  // the cells of the table row being written, one after the other
  std::vector<std::uint32_t> FCellEnds;

  // Whether the last line was blank and belonged to AContainer or to the lists and items at
  // its end (a blank line inside a quote does not loosen the list around the quote).
  bool blankCountsFor(const TCMContainerBlock* AContainer) const {
    if (!FLastLineBlank) return false;
    for (const TCMBlock* b = AContainer; b;) {
      if (b == FBlankIn) return true;
      const TCMContainerBlock* c = b->asContainer();
      const TCMBlock* last = c ? c->lastBlock() : nullptr;
      if (!last || (last->kind() != TCMBlockKind::List && last->kind() != TCMBlockKind::ListItem)) return false;
      b = last;
    }
    return false;
  }
};

// Line endings (CR LF, CR) become LF (CommonMark 2.1); U+0000 (2.3) and ill-formed UTF-8 become
// U+FFFD.
TEngine::TEngine(std::string_view ASrc, bool AGfm, TCMArena& AArena) : FArena(&AArena), FGFMExtensions(AGfm) {
  // positions in lines and texts are 32-bit
  if (ASrc.size() > 0xFFFFFFF0u / 3) throw std::length_error("Markdown text too long");
  // A source that needs no change is used as it is, without a copy.
  std::size_t clean = 0;
  while (clean < ASrc.size()) {
    unsigned char b = static_cast<unsigned char>(ASrc[clean]);
    if (b == '\r' || b == '\0') break;
    if (b < 0x80) {
      ++clean;
      continue;
    }
    std::size_t len = ValidUtf8Length(ASrc, clean);
    if (len == 0) break;
    clean += len;
  }
  if (clean < ASrc.size()) {
    FSource.reserve(ASrc.size());
    FSource.append(ASrc, 0, clean);
  }
  for (std::size_t i = clean; i < ASrc.size();) {
    // runs of bytes that stay as they are go over in one piece
    std::size_t plain = i;
    while (plain < ASrc.size()) {
      unsigned char b = static_cast<unsigned char>(ASrc[plain]);
      if (b == '\r' || b == '\0' || b >= 0x80) break;
      ++plain;
    }
    if (plain > i) {
      FSource.append(ASrc, i, plain - i);
      i = plain;
      continue;
    }
    char c = ASrc[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      std::size_t len = ValidUtf8Length(ASrc, i);
      if (len == 0) {
        FSource += "\xEF\xBF\xBD";
        i += IllFormedLength(ASrc, i);
      } else {
        FSource.append(ASrc, i, len);
        i += len;
      }
      continue;
    }
    if (c == '\r') {
      FSource += '\n';
      if (i + 1 < ASrc.size() && ASrc[i + 1] == '\n') ++i;
    } else if (c == '\0') {
      FSource += "\xEF\xBF\xBD";
    } else {
      FSource += c;
    }
    ++i;
  }
  FText = clean < ASrc.size() ? std::string_view(FSource) : ASrc;
}

// Paragraph (CommonMark 4.8): a line that starts no other block continues the open paragraph or
// starts a new one.
void TEngine::appendParagraph(TCMContainerBlock* AContainer, TCMLine& ALine) {
  TCMBlock* last = AContainer->lastBlock();
  if (IsOpenPlainPara(last)) {
    auto* para = static_cast<TCMParagraphBlock*>(last);
    auto* tb = static_cast<TCMTextBlock*>(para->FBlocks.front());
    if (tb->FRawLine.data()) {
      tb->rawText().assign(tb->FRawLine);
      tb->FRawLine = {};
    }
    tb->rawText() += '\n';
    ALine.appendFocus(tb->rawText());
    return;
  }
  auto* para = addBlock<TCMParagraphBlock>(AContainer, ALine.FIndex);
  if (ALine.focusInSource()) {
    TCMTextBlock* tb = addText(para, std::string(), ALine.FIndex);
    std::string_view v = ALine.focusView();
    tb->FRawLine = v.data() ? v : std::string_view("", 0);  // set even when empty
  } else {
    addText(para, ALine.focus(), ALine.FIndex);
  }
}

// Block structure of one container (CommonMark appendix, phase 1): the processor chain takes the
// prefixes of the open containers, then the block starts are tried in a fixed order.
void TEngine::parseBlocks(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc) {
  auto* item = AContainer->kind() == TCMBlockKind::ListItem ? static_cast<TCMListItemBlock*>(AContainer) : nullptr;
  auto* listProc = item ? static_cast<TCMListProcessor*>(AProc) : nullptr;
  for (;;) {
    if (AContainer == FStreamDoc) {
      if (AContainer->FBlocks.size() > 1) flushTopLevel(false);
      flushListItems();
    }
    TCMLine* line = nextLine();
    if (!line) return;
    line->reset();
    TAccept a = AProc->acceptsLine(*line);
    if (a == TAccept::No) {
      stepBack();
      return;
    }
    if (a == TAccept::Lazy) {
      appendParagraph(AContainer, *line);
      FLastLineBlank = false;
      continue;
    }
    bool blank = line->isWhitespace();
    if (blank && item && line->FIndex == item->FLine) continue;  // item marker without content
    // a blank line ends the open paragraph (CommonMark 4.8, 4.9)
    if (blank) {
      if (TCMBlock* last = AContainer->lastBlock(); IsOpenPlainPara(last)) last->FClosed = true;
      FLastLineBlank = true;
      FBlankIn = AContainer;
      continue;
    }
    // loose lists (CommonMark 5.3): blank lines between items, or between blocks of one item
    // content after a blank line inside an item makes its list loose
    if (listProc && line->FIndex != item->FLine && !item->FBlocks.empty() && blankCountsFor(item)) {
      TCMBlock* last = item->lastBlock();
      bool joinsNested = false;
      if (last->kind() == TCMBlockKind::List) {
        auto* nested = static_cast<TCMListBlock*>(last);
        TCMLine probe = *line;
        probe.skipWS();
        TListMarker m = ReadListMarker(probe.afterWS());
        joinsNested = m.ok && m.ordered == nested->FOrdered && m.marker == nested->FMarker;
      }
      if (!joinsNested) listProc->FList->FLoose = true;
    }
    bool done = trySetext(AContainer, *line) || tryThematicBreak(AContainer, *line) ||
                tryAtxHeading(AContainer, *line) || tryQuote(AContainer, AProc, *line) ||
                tryListItem(AContainer, AProc, *line, false) || tryListItem(AContainer, AProc, *line, true) ||
                tryIndentedCode(AContainer, AProc, *line) || tryFencedCode(AContainer, AProc, *line) ||
                (FGFMExtensions && tryTable(AContainer, AProc, *line));
    if (!done) {
      appendParagraph(AContainer, *line);
      FLastLineBlank = false;
    }
  }
}

// Setext heading underline: a run of = or - after paragraph lines (CommonMark 4.3).
bool TEngine::trySetext(TCMContainerBlock* AContainer, TCMLine& ALine) {
  if (ALine.countWS() >= 4) return false;
  TCMBlock* last = AContainer->lastBlock();
  if (!IsOpenPlainPara(last)) return false;
  std::string_view s = Trim(ALine.afterWS());
  if (s.empty() || (s[0] != '=' && s[0] != '-')) return false;
  if (s.find_first_not_of(s[0]) != std::string_view::npos) return false;
  auto* para = static_cast<TCMParagraphBlock*>(last);
  para->FHeader = s[0] == '=' ? 1 : 2;
  para->FClosed = true;
  FLastLineBlank = false;
  return true;
}

// Thematic break: three or more matching *, - or _, spaces and tabs between them (CommonMark 4.1).
bool IsThematicBreak(const TCMLine& ALine) {
  if (ALine.countWS() >= 4) return false;
  std::string_view s = ALine.afterWS();
  char ch = s.empty() ? '\0' : s[0];
  if (ch != '*' && ch != '-' && ch != '_') return false;
  int count = 0;
  for (char x : s) {
    if (x == ' ' || x == '\t' || x == '\n') continue;
    if (x != ch) return false;
    ++count;
  }
  return count >= 3;
}

bool TEngine::tryThematicBreak(TCMContainerBlock* AContainer, TCMLine& ALine) {
  if (!IsThematicBreak(ALine)) return false;
  addBlock<TCMThematicBreakBlock>(AContainer, ALine.FIndex)->FClosed = true;
  FLastLineBlank = false;
  return true;
}

// ATX heading: 1 to 6 "#" and a blank or the line end; a closing run of "#" is dropped
// (CommonMark 4.2).
bool TEngine::tryAtxHeading(TCMContainerBlock* AContainer, TCMLine& ALine) {
  if (ALine.countWS() >= 4) return false;
  std::string_view s = Trim(ALine.afterWS());
  std::size_t level = 0;
  while (level < s.size() && s[level] == '#') ++level;
  if (level < 1 || level > 6) return false;
  if (level < s.size() && s[level] != ' ' && s[level] != '\t') return false;
  std::string_view content = Trim(s.substr(level));
  if (!content.empty()) {
    std::size_t e = content.size();
    while (e > 0 && content[e - 1] == '#') --e;
    if (e == 0) {
      content = {};
    } else if (e < content.size() && (content[e - 1] == ' ' || content[e - 1] == '\t')) {
      content = Trim(content.substr(0, e));
    }
  }
  auto* h = addBlock<TCMHeadingBlock>(AContainer, ALine.FIndex);
  h->FLevel = static_cast<int>(level);
  h->FClosed = true;
  addText(h, std::string(content), ALine.FIndex);
  FLastLineBlank = false;
  return true;
}

// Block quote start (CommonMark 5.1): its lines are parsed as a container of their own.
bool TEngine::tryQuote(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine) {
  if (FDepth >= kMaxNesting || ALine.countWS() >= 4) return false;
  std::string_view s = ALine.afterWS();
  if (s.empty() || s[0] != '>') return false;
  auto* q = addBlock<TCMQuoteBlock>(AContainer, ALine.FIndex);
  stepBack();
  TCMQuoteProcessor qp(AProc, q);
  ++FDepth;
  parseBlocks(q, &qp);
  --FDepth;
  q->FClosed = true;
  return true;
}

// List item (CommonMark 5.2): the content starts after the marker and 1 to 4 spaces, or one space
// when there are more or the line is blank. Items with the same marker form one list (5.3).
bool TEngine::tryListItem(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine, bool AOrdered) {
  if (FDepth >= kMaxNesting) return false;
  int ind = ALine.countWS();
  TListMarker m = ReadListMarker(ALine.afterWS());
  if (!m.ok || m.ordered != AOrdered) return false;
  TCMBlock* last = AContainer->lastBlock();
  auto* list = last && last->kind() == TCMBlockKind::List ? static_cast<TCMListBlock*>(last) : nullptr;
  bool joins = list && list->FOrdered == m.ordered && list->FMarker == m.marker;
  // deeper than 3 columns only when it does not reach the content of the list's last item
  if (ind >= 4 && !(joins && ind < list->FLastIndent)) return false;

  const TCMLine saved = ALine;
  ALine.advance(ind + static_cast<int>(m.length));
  int spaces = ALine.countWS();
  bool blankContent = ALine.isWhitespace();
  ALine = saved;
  // counted from the cursor, where the content of the container starts on this line
  int contentIndent = ind + static_cast<int>(m.length) + ((blankContent || spaces >= 5) ? 1 : spaces);

  // an empty item, or an ordered one not starting at 1, cannot interrupt a paragraph (CommonMark 5.2)
  if (IsOpenPlainPara(last)) {
    if (blankContent) return false;
    if (m.ordered && m.start != "1") return false;
  }
  if (joins) {
    list->FLastIndent = contentIndent;
    // a blank line left to the container (after an empty item) also separates two items
    if (blankCountsFor(list) || (FLastLineBlank && FBlankIn == AContainer)) list->FLoose = true;
  } else {
    list = addBlock<TCMListBlock>(AContainer, ALine.FIndex);
    list->FOrdered = m.ordered;
    m.start.copy(list->FStart, sizeof(list->FStart) - 1);  // at most 9 digits
    list->FMarker = m.marker;
    list->FLastIndent = list->FBaseIndent = contentIndent;
  }
  if (TCMBlock* prev = list->lastBlock()) prev->FClosed = true;
  TCMListItemBlock* it = adopt<TCMListItemBlock>(list, ALine.FIndex);
  stepBack();
  TCMListProcessor lp(AProc, list, it, contentIndent);
  ++FDepth;
  FLastLineBlank = false;
  parseBlocks(it, &lp);
  --FDepth;
  it->FClosed = true;
  if (lp.FEmptyLine >= 0) list->FHasSeenEmptyLine = true;
  return true;
}

// Indented code block (CommonMark 4.4): lines indented 4 or more columns, blank lines kept inside
// and dropped at the end; it cannot interrupt a paragraph.
bool TEngine::tryIndentedCode(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine) {
  if (ALine.countWS() < 4 || ALine.isWhitespace()) return false;
  if (IsOpenPlainPara(AContainer->lastBlock())) return false;
  auto* code = addBlock<TCMCodeBlock>(AContainer, ALine.FIndex);
  ALine.advance(4);
  addText(code, ALine.focus(), ALine.FIndex);
  bool lastBlank = false;
  for (;;) {
    TCMLine* n = nextLine();
    if (!n) break;
    n->reset();
    if (AProc->acceptsLine(*n) != TAccept::Yes) {
      stepBack();
      break;
    }
    if (n->isWhitespace()) {
      n->advance(std::min(4, n->countWS()));
      addText(code, n->focus(), n->FIndex);
      lastBlank = true;
    } else if (n->countWS() >= 4) {
      n->advance(4);
      addText(code, n->focus(), n->FIndex);
      lastBlank = false;
    } else {
      stepBack();
      break;
    }
  }
  while (!code->FBlocks.empty()) {
    auto* tb = static_cast<TCMTextBlock*>(code->FBlocks.back());
    if (tb->rawText().find_first_not_of(" \t") != std::string::npos) break;
    code->FBlocks.pop_back();
  }
  code->FClosed = true;
  // a blank line the code block took in and then dropped still separates what follows from
  // the blocks before it (CommonMark 5.3: it may make the list loose)
  FLastLineBlank = lastBlank;
  if (lastBlank) FBlankIn = AContainer;
  return true;
}

// Info string of a fence: backslash escapes removed, entity references decoded.
std::string UnescapeInfo(std::string_view s) {
  std::string r;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '\\' && i + 1 < s.size() && IsAsciiPunct(static_cast<unsigned char>(s[i + 1]))) {
      r += s[i + 1];
      i += 2;
      continue;
    }
    if (s[i] == '&' && DecodeEntityRef(s, i, r, i)) continue;
    r += s[i++];
  }
  return r;
}

// Fenced code block (CommonMark 4.5): 3 or more backticks or tildes, closed by a run of the same
// character at least as long; the fence's indentation is removed from the content lines.
bool TEngine::tryFencedCode(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine) {
  int fenceIndent = ALine.countWS();
  if (fenceIndent >= 4) return false;
  std::string_view s = Trim(ALine.afterWS());
  if (s.size() < 3 || (s[0] != '`' && s[0] != '~')) return false;
  char fc = s[0];
  std::size_t run = 0;
  while (run < s.size() && s[run] == fc) ++run;
  if (run < 3) return false;
  std::string_view infoRaw = Trim(s.substr(run));
  if (infoRaw.find('`') != std::string_view::npos) return false;
  std::string_view firstWord = infoRaw.substr(0, infoRaw.find(' '));
  if (firstWord.find(fc) != std::string_view::npos) return false;
  std::string info = UnescapeInfo(infoRaw);

  auto* code = addBlock<TCMCodeBlock>(AContainer, ALine.FIndex);
  code->FFenced = true;
  code->FLang = info.substr(0, info.find(' '));
  for (;;) {
    TCMLine* n = nextLine();
    if (!n) break;
    n->reset();
    if (AProc->acceptsLine(*n) != TAccept::Yes) {
      stepBack();
      break;
    }
    if (n->countWS() < 4) {
      std::string_view t = Trim(n->afterWS());
      if (t.size() >= run && t.find_first_not_of(fc) == std::string_view::npos) break;
    }
    for (int i = 0; i < fenceIndent && (n->peek() == ' ' || n->peek() == '\t'); ++i) n->advance1();
    addText(code, n->focus(), n->FIndex);
  }
  code->FClosed = true;
  FLastLineBlank = false;
  return true;
}

// Number of unescaped "|" plus one for a missing leading and one for a missing trailing "|".
int CellCount(std::string_view ALine, bool* AHasPipe = nullptr) {
  std::string_view s = Trim(ALine);
  int pipes = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
      continue;
    }
    if (s[i] == '|') ++pipes;
  }
  if (AHasPipe) *AHasPipe = pipes > 0;
  int count = pipes;
  if (s.empty() || s[0] != '|') ++count;
  bool endsWithPipe = !s.empty() && s.back() == '|' && !(s.size() >= 2 && s[s.size() - 2] == '\\');
  if (!endsWithPipe) ++count;
  return count;
}

// Table cells (GFM 4.10): split at unescaped pipes; "\\|" stands for a pipe inside a cell.
void TEngine::splitRow(std::string_view ALine, std::size_t ACells) {
  std::string_view s = Trim(ALine);
  std::size_t i = 0;
  if (!s.empty() && s[0] == '|') i = 1;
  FCells.clear();
  FCellEnds.clear();
  std::size_t cellStart = 0;
  auto flush = [&] {
    std::string_view c = Trim(std::string_view(FCells).substr(cellStart));
    std::size_t lead = static_cast<std::size_t>(c.data() - FCells.data()) - cellStart;
    FCells.erase(cellStart + lead + c.size());
    FCells.erase(cellStart, lead);
    FCellEnds.push_back(static_cast<std::uint32_t>(FCells.size()));
    cellStart = FCells.size();
  };
  bool pending = false;
  for (; i < s.size() && FCellEnds.size() < ACells; ++i) {
    char ch = s[i];
    if (ch == '\\' && i + 1 < s.size()) {
      if (s[i + 1] == '|') {
        FCells += '|';
      } else {
        FCells += ch;
        FCells += s[i + 1];
      }
      ++i;
      pending = true;
      continue;
    }
    if (ch == '|') {
      flush();
      pending = false;
      continue;
    }
    FCells += ch;
    pending = true;
  }
  if (pending && FCellEnds.size() < ACells && !Trim(std::string_view(FCells).substr(cellStart)).empty()) flush();
}

// Whether a line after a table's delimiter row ends the table instead of being a row: a blank
// line, or the start of another block (GFM 4.10). Beyond the block starts, a line indented three
// columns or beginning with ">", "#" or "~" ends it too.
bool EndsTable(const TCMLine& ALine) {
  if (ALine.isWhitespace() || ALine.countWS() >= 3) return true;
  std::string_view s = ALine.afterWS();
  if (s.empty()) return true;
  char c = s[0];
  if (c == '>' || c == '#' || c == '~' || s.starts_with("```")) return true;
  return IsThematicBreak(ALine) || ReadListMarker(s).ok;
}

// Table (GFM 4.10): a header row, then a delimiter row of as many cells whose colons give the
// alignment, then body rows up to a blank line or the start of another block. The lines after
// the header pass through the processor chain like those of any other block, so a table may
// stand in a quote or a list item. A table has at most kMaxTableColumns columns; a wider header
// makes no table.
bool TEngine::tryTable(TCMContainerBlock* AContainer, TCMBlockProcessor* AProc, TCMLine& ALine) {
  // the line as it stands in the source, copied only when a tab had to be expanded
  std::string headerCopy;
  std::string_view header;
  if (ALine.focusInSource()) {
    header = ALine.focusView();
  } else {
    headerCopy = ALine.focus();
    header = headerCopy;
  }
  if (Trim(header).empty()) return false;
  bool hasPipe = false;
  int cells = CellCount(header, &hasPipe);
  // the count is one more than the cells of a row written with outer pipes
  if (!hasPipe || static_cast<std::size_t>(cells) > kMaxTableColumns + 1) return false;
  TCMLine* delim = nextLine();
  if (!delim) return false;
  delim->reset();
  std::string delimText;
  if (AProc->acceptsLine(*delim) == TAccept::Yes) delimText = delim->focus();
  std::string_view d = Trim(delimText);
  if (d.empty() || d.find_first_not_of(" -:|") != std::string_view::npos || CellCount(d) != cells) {
    stepBack();
    return false;
  }

  auto* table = addBlock<TCMTableBlock>(AContainer, ALine.FIndex);
  std::vector<TTextAlign> aligns;
  std::string_view parts = d;
  if (!parts.empty() && parts[0] == '|') parts.remove_prefix(1);
  if (!parts.empty() && parts.back() == '|') parts.remove_suffix(1);
  for (std::size_t start = 0; aligns.size() < kMaxTableColumns;) {
    std::size_t bar = parts.find('|', start);
    std::string_view part = Trim(parts.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    TTextAlign a = TTextAlign::taLeft;
    if (part.size() >= 2 && part.front() == ':' && part.back() == ':') a = TTextAlign::taCenter;
    else if (!part.empty() && part.back() == ':') a = TTextAlign::taRight;
    aligns.push_back(a);
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  const std::size_t columns = aligns.size();
  auto alignAttr = [&](std::size_t i) -> std::string_view {
    switch (aligns[i]) {
      case TTextAlign::taCenter: return " align=\"center\"";
      case TTextAlign::taRight: return " align=\"right\"";
      case TTextAlign::taLeft: break;
    }
    return {};
  };
  // bytes of the empty cells from column i to the last: emptyFrom[i]
  std::vector<std::size_t> emptyFrom(columns + 1, 0);
  for (std::size_t i = columns; i-- > 0;) emptyFrom[i] = emptyFrom[i + 1] + std::strlen("<td></td>\n") + alignAttr(i).size();

  // The blocks before a table at the top of the page are complete: they are written first, and
  // the table's rows follow them straight into the page.
  std::string* out = &table->FHtml;
  if (AContainer == FStreamDoc) {
    flushTopLevel(false);
    out = FOut;
  }
  // Empty cells fill up short rows while the bytes they take stay within four times the
  // table's source so far, or beyond that within what is left of the document's allowance
  // (so that small tables are always filled up); later short rows keep their own cells only.
  // So the filling never multiplies the input.
  constexpr std::size_t kFillFactor = 4;
  std::size_t fillBudget = kFillFactor * (ALine.FLine.size() + delim->FLine.size() + 2);
  bool head = true;
  auto writeRow = [&](std::string_view AText, const TCMLine& ARowLine) {
    splitRow(AText, columns);
    const std::size_t own = FCellEnds.size();
    fillBudget += kFillFactor * (ARowLine.FLine.size() + 1);
    std::size_t width = own;
    if (emptyFrom[own] <= fillBudget + FFillAllowance) {
      const std::size_t fromBudget = std::min(fillBudget, emptyFrom[own]);
      fillBudget -= fromBudget;
      FFillAllowance -= emptyFrom[own] - fromBudget;
      width = columns;
    }
    *out += "<tr>\n";
    for (std::size_t i = 0; i < width; ++i) {
      *out += head ? "<th" : "<td";
      *out += alignAttr(i);
      *out += '>';
      if (i < own) {
        TCMTextNodes nodes;
        ParseInlines(cell(i), true, FGFMExtensions, nodes);
        nodes.writeHtml(*out);
      }
      *out += head ? "</th>\n" : "</td>\n";
    }
    *out += "</tr>\n";
  };
  *out += "<table>\n<thead>\n";
  writeRow(header, ALine);
  *out += "</thead>\n";
  head = false;
  bool body = false;
  for (;;) {
    TCMLine* n = nextLine();
    if (!n) break;
    n->reset();
    if (AProc->acceptsLine(*n) != TAccept::Yes || EndsTable(*n)) {
      stepBack();
      break;
    }
    if (!body) *out += "<tbody>\n";
    body = true;
    writeRow(n->focus(), *n);
    if (out == FOut) passOn(false);
  }
  if (body) *out += "</tbody>\n";
  *out += "</table>\n";
  table->FClosed = true;
  FLastLineBlank = false;
  return true;
}

void TEngine::streamInto(TCommonMarkDocument* ADoc, std::string* AOut) {
  FStreamDoc = ADoc;
  FOut = AOut;
  FArenas.push_back(std::make_unique<TCMArena>());
  FArena = FArenas.back().get();
  TCMDocumentProcessor root;
  try {
    parseBlocks(ADoc, &root);
    flushTopLevel(true);
    passOn(true);
  } catch (...) {
    ADoc->FBlocks.clear();  // while their arenas are still there
    throw;
  }
}

// A top-level block is complete once the next one has begun: only the last block of a
// container is ever looked at again (lazy lines, joined list items, setext underlines).
void TEngine::flushTopLevel(bool AAll) {
  TCommonMarkDocument* doc = FStreamDoc;
  const std::size_t keep = AAll ? 0 : 1;
  if (doc->FBlocks.size() <= keep) return;
  while (doc->FBlocks.size() > keep) {
    TCMBlock* b = doc->FBlocks.front();
    const bool streamedList = b == FStreamList;
    if (!writeParagraph(b)) {
      runInlines(b, doc->wantsInlines());
      // The page makes room for the block before it is written: when it has to move, it moves
      // without the block, whose text is then in memory only twice (in the block and the page).
      // A bound far above the block's likely page (markup-heavy containers) reserves nothing.
      const std::size_t bound = HtmlSizeBound(b);
      if (bound <= kMaxReserveFactor * FText.size() + 4096 && FOut->capacity() - FOut->size() < bound)
        FOut->reserve(FOut->size() + bound);
      if (streamedList && FStreamList->FLoose && !FLooseEdits.empty()) FLooseEdits.apply(*FOut);
      b->writeHtml(doc, *FOut);
    }
    doc->FBlocks.destroyFront();
    if (streamedList) {
      FLooseEdits.clear();
      FStreamList = nullptr;
      FListArena.reset();
    }
    passOn(false);
  }
  checkBlankIn();
  const std::size_t firstKept = doc->FBlocks.empty() ? FArenaBase + FArenas.size() : FLastTopArena;
  while (FArenaBase < firstKept && !FArenas.empty()) {
    FArenas.pop_front();
    ++FArenaBase;
  }
  FArenas.push_back(std::make_unique<TCMArena>());
  FArena = FArenas.back().get();
}

// An item is complete once the next one has begun, as a top-level block is. Until the list
// ends, its items are written tight unless it is already known to be loose; should it become
// loose later, the page of its items is mended in one pass.
void TEngine::flushListItems() {
  TCMBlock* last = FStreamDoc->lastBlock();
  if (!last || last->kind() != TCMBlockKind::List) return;
  auto* list = static_cast<TCMListBlock*>(last);
  if (list->FBlocks.size() < 2) return;
  if (!list->FHeadWritten) {
    list->writeHead(*FOut);
    list->FHeadWritten = true;
    FLooseEdits.clear();
  }
  if (list->FLoose && !FLooseEdits.empty()) FLooseEdits.apply(*FOut);
  while (list->FBlocks.size() > 1) {
    auto* item = static_cast<TCMListItemBlock*>(list->FBlocks.front());
    runInlines(item, true);
    item->writeItem(list->FLoose, *FOut, list->FLoose ? nullptr : &FLooseEdits);
    list->FBlocks.destroyFront();
    passOn(false);
  }
  checkBlankIn();
  // The arenas before the one the open item began in hold only written blocks, but for the list
  // itself: its arena is kept aside until the list is written.
  if (!FListArena) {
    FStreamList = list;
    FListArena = std::move(FArenas[FLastTopArena - FArenaBase]);
  }
  while (FArenaBase < FLastItemArena && !FArenas.empty()) {
    FArenas.pop_front();
    ++FArenaBase;
  }
  FArenas.push_back(std::make_unique<TCMArena>());
  FArena = FArenas.back().get();
}

void TEngine::passOn(bool AAll) {
  if (!FWrite) return;
  const std::size_t ready = FLooseEdits.empty() ? FOut->size() : FLooseEdits.front() - FLooseEdits.base();
  if (ready == 0 || (!AAll && ready < TCommonMarkEngine::kPagePiece)) return;
  (*FWrite)(std::string_view(*FOut).substr(0, ready));
  FOut->erase(0, ready);
  FLooseEdits.rebase(ready);
}

// The blank line counts only for the open blocks along the last block's line of last children
// (blankCountsFor): pointing anywhere else, it could later match a new block made where a freed
// one was.
void TEngine::checkBlankIn() {
  TCommonMarkDocument* doc = FStreamDoc;
  if (FBlankIn && FBlankIn != doc) {
    const TCMBlock* b = doc->lastBlock();
    while (b && b != FBlankIn) {
      const TCMContainerBlock* c = b->asContainer();
      b = c ? c->lastBlock() : nullptr;
    }
    if (!b) FBlankIn = nullptr;
  }
}

// A top-level paragraph is written as its inlines are parsed, straight into the page, so that
// its output is never held anywhere else. The page makes room first for a page of a few times
// the text (most are far smaller).
bool TEngine::writeParagraph(TCMBlock* ABlock) {
  if (!ABlock->isPlainPara()) return false;
  auto* para = static_cast<TCMParagraphBlock*>(ABlock);
  if (para->FBlocks.size() != 1 || para->FBlocks.front()->kind() != TCMBlockKind::Text) return false;
  auto* tb = static_cast<TCMTextBlock*>(para->FBlocks.front());
  std::string raw;
  std::string_view text = tb->FRawLine;
  if (!text.data()) {
    raw.swap(tb->rawText());
    text = raw;
  }
  tb->FRawLine = {};
  *FOut += "<p>";
  if (FWrite) {  // a long paragraph's page is handed on as it is written
    const TInlineHandOn handOn{TCommonMarkEngine::kPagePiece, [this] { passOn(false); }};
    WriteInlines(text, FGFMExtensions, *FOut, &handOn);
  } else {
    const std::size_t bound = kMaxReserveFactor * text.size();
    if (FOut->capacity() - FOut->size() < bound) FOut->reserve(FOut->size() + bound);
    WriteInlines(text, FGFMExtensions, *FOut);
  }
  *FOut += "</p>\n";
  return true;
}

// Inline structure (CommonMark appendix, phase 2) of every text block, depth first.
void TEngine::runInlines(TCMBlock* ABlock, bool AWantsInlines) {
  if (ABlock->kind() == TCMBlockKind::Text) {
    auto* tb = static_cast<TCMTextBlock*>(ABlock);
    if (tb->FRawLine.data()) {
      std::string_view line = tb->FRawLine;
      tb->FRawLine = {};
      ParseInlines(line, AWantsInlines, FGFMExtensions, tb->FNodes);
      return;
    }
    std::string raw;
    raw.swap(tb->rawText());  // the buffer now takes the output of the inlines
    ParseInlines(raw, AWantsInlines, FGFMExtensions, tb->FNodes);
    return;
  }
  if (TCMContainerBlock* c = ABlock->asContainer()) {
    bool wants = c->wantsInlines();
    for (TCMBlock* b : c->FBlocks) runInlines(b, wants);
  }
}

}  // namespace

// ---- rendering -------------------------------------------------------------------------------

void TCMContainerBlock::writeChildren(std::string& AOut) const {
  for (const TCMBlock* b : FBlocks) b->writeHtml(this, AOut);
}

void TCommonMarkDocument::writeHtml(const TCMBlock*, std::string& AOut) const { writeChildren(AOut); }

void TCMParagraphBlock::writeText(std::string& AOut) const {
  bool first = true;
  for (const TCMBlock* b : FBlocks) {
    if (!first) AOut += '\n';
    first = false;
    b->writeHtml(this, AOut);
  }
}

// A paragraph closed by a setext underline is a level 1 or 2 heading (CommonMark 4.3, 4.8).
void TCMParagraphBlock::writeHtml(const TCMBlock*, std::string& AOut) const {
  const char* open = FHeader == 1 ? "<h1>" : FHeader == 2 ? "<h2>" : "<p>";
  const char* close = FHeader == 1 ? "</h1>\n" : FHeader == 2 ? "</h2>\n" : "</p>\n";
  AOut += open;
  writeText(AOut);
  AOut += close;
}

// Block quote (CommonMark 5.1).
void TCMQuoteBlock::writeHtml(const TCMBlock*, std::string& AOut) const {
  AOut += "<blockquote>\n";
  writeChildren(AOut);
  AOut += "</blockquote>\n";
}

// In a tight list the paragraphs of an item are written without <p> tags (CommonMark 5.3).
void TCMListItemBlock::writeHtml(const TCMBlock* AParent, std::string& AOut) const {
  bool loose = AParent && AParent->kind() == TCMBlockKind::List && static_cast<const TCMListBlock*>(AParent)->FLoose;
  writeItem(loose, AOut, nullptr);
}

// Loose, a line feed follows <li> and every paragraph has its tags. Tight, a paragraph is its
// bare text and the line feed comes before the first block that is not a paragraph.
void TCMListItemBlock::writeItem(bool ALoose, std::string& AOut, TCMLooseEdits* AEdits) const {
  if (FBlocks.empty()) {
    AOut += "<li></li>\n";
    return;
  }
  AOut += "<li>";
  bool lfWritten = false;
  bool looseLf = false;  // the loose page's line feed after <li> is among the edits
  for (const TCMBlock* b : FBlocks) {
    if (!ALoose && b->isPlainPara()) {
      if (AEdits) {
        if (!lfWritten && !looseLf) {
          AEdits->add(AOut.size(), TCMLooseEdits::leLineFeed);
          looseLf = true;
        }
        AEdits->add(AOut.size(), TCMLooseEdits::leParaStart);
      }
      static_cast<const TCMParagraphBlock*>(b)->writeText(AOut);
      if (AEdits) AEdits->add(AOut.size(), TCMLooseEdits::leParaEnd);
      continue;
    }
    if (!lfWritten) {
      if (AEdits && looseLf) AEdits->add(AOut.size(), TCMLooseEdits::leDropLineFeed);
      AOut += '\n';
      lfWritten = true;
    }
    b->writeHtml(this, AOut);
  }
  AOut += "</li>\n";
}

void TCMLooseEdits::apply(std::string& APage) {
  static constexpr std::string_view kText[] = {"\n", "<p>", "</p>\n", ""};
  std::size_t grow = 0;
  for (std::uint64_t e : FEdits) grow = (e & 3) == leDropLineFeed ? grow - 1 : grow + kText[e & 3].size();
  // Every dropped line feed follows an added one, so no part of the page moves left: the
  // parts move right from the last one, each to its final place.
  std::size_t end = APage.size();
  APage.resize(end + grow);
  char* page = APage.data();
  std::size_t shift = grow;
  for (std::size_t i = FEdits.size(); i-- > 0;) {
    std::size_t pos = static_cast<std::size_t>(FEdits[i] >> 2) - FBase;
    auto edit = static_cast<TEdit>(FEdits[i] & 3);
    std::size_t from = pos + (edit == leDropLineFeed ? 1 : 0);
    std::memmove(page + from + shift, page + from, end - from);
    if (edit == leDropLineFeed) {
      ++shift;
    } else {
      shift -= kText[edit].size();
      std::memcpy(page + pos + shift, kText[edit].data(), kText[edit].size());
    }
    end = pos;
  }
  FEdits.clear();
}

void TCMListBlock::writeHead(std::string& AOut) const {
  if (!FOrdered) {
    AOut += "<ul>\n";
  } else if (start() == "1") {
    AOut += "<ol>\n";
  } else {
    AOut += "<ol start=\"";
    AOut += start();
    AOut += "\">\n";
  }
}

// An ordered list that does not start at 1 carries its start number (CommonMark 5.3).
void TCMListBlock::writeHtml(const TCMBlock*, std::string& AOut) const {
  if (!FHeadWritten) writeHead(AOut);
  writeChildren(AOut);
  AOut += FOrdered ? "</ol>\n" : "</ul>\n";
}

// ATX heading of level 1 to 6 (CommonMark 4.2).
void TCMHeadingBlock::writeHtml(const TCMBlock*, std::string& AOut) const {
  char level = static_cast<char>('0' + FLevel);
  AOut += "<h";
  AOut += level;
  AOut += '>';
  writeChildren(AOut);
  AOut += "</h";
  AOut += level;
  AOut += ">\n";
}

// The first word of a fence's info string gives the class "language-..." (CommonMark 4.5).
void TCMCodeBlock::writeHtml(const TCMBlock*, std::string& AOut) const {
  if (FLang.empty()) {
    AOut += "<pre><code>";
  } else {
    AOut += "<pre><code class=\"language-";
    AppendEscaped(AOut, FLang);
    AOut += "\">";
  }
  for (const TCMBlock* b : FBlocks) {
    b->writeHtml(this, AOut);
    AOut += '\n';
  }
  AOut += "</code></pre>\n";
}

// Table (GFM 4.10): written as its rows were read.
void TCMTableBlock::writeHtml(const TCMBlock*, std::string& AOut) const { AOut += FHtml; }

// Thematic break (CommonMark 4.1).
void TCMThematicBreakBlock::writeHtml(const TCMBlock*, std::string& AOut) const { AOut += "<hr />\n"; }

void TCMTextBlock::writeHtml(const TCMBlock*, std::string& AOut) const { FNodes.writeHtml(AOut); }

// ---- engine interface ------------------------------------------------------------------------

std::size_t TCommonMarkEngine::HtmlSizeHint(std::size_t ASourceSize) { return ASourceSize + ASourceSize / 2 + 64; }

void TCommonMarkDocumentDeleter::operator()(TCommonMarkDocument* ADoc) const { delete ADoc; }

TCommonMarkDocumentPtr TCommonMarkEngine::parse(const std::string& ASrc, bool AGfm) {
  TCommonMarkDocumentPtr doc(new TCommonMarkDocument());
  doc->FSourceSize = ASrc.size();
  TEngine engine(ASrc, AGfm, doc->FArena);
  TCMDocumentProcessor root;
  engine.parseBlocks(doc.get(), &root);
  engine.runInlines(doc.get(), true);
  return doc;
}

namespace {

// At most the bytes that writeHtml appends for the block: the output is reserved from this, so
// that a large page is written into one block instead of a chain of ever larger copies.
std::size_t HtmlSizeBound(const TCMBlock* ABlock) {
  constexpr std::size_t kBlockTags = 48;  // the longest pair of block tags with line feeds
  std::size_t n = kBlockTags;
  switch (ABlock->kind()) {
    case TCMBlockKind::Text:
      return n + static_cast<const TCMTextBlock*>(ABlock)->FNodes.htmlSizeBound();
    case TCMBlockKind::List:
      n += static_cast<const TCMListBlock*>(ABlock)->start().size();
      break;
    case TCMBlockKind::Code:
      n += 6 * static_cast<const TCMCodeBlock*>(ABlock)->FLang.size();  // "&quot;" per character at most
      break;
    case TCMBlockKind::Table:
      n += static_cast<const TCMTableBlock*>(ABlock)->FHtml.size();
      break;
    default:
      break;
  }
  if (const TCMContainerBlock* c = ABlock->asContainer()) {
    for (const TCMBlock* b : c->FBlocks) n += HtmlSizeBound(b);
  }
  return n;
}

}  // namespace

std::string TCommonMarkEngine::render(const TCommonMarkDocument& ADoc, std::size_t ASizeHint) {
  // The bound is exact enough for ordinary text, but markup-heavy input (many short table
  // cells, runs of quotes) can make it far larger than what is written: the room reserved never
  // exceeds a few times the source, and a larger page grows as it is written.
  const std::size_t cap = kMaxReserveFactor * ADoc.FSourceSize + 4096;
  std::string out;
  out.reserve(std::max(ASizeHint, std::min(cap, HtmlSizeBound(&ADoc))));
  ADoc.writeHtml(nullptr, out);
  return out;
}

std::string TCommonMarkEngine::process(const std::string& ASrc, bool AGfm) {
  std::string out;
  out.reserve(HtmlSizeHint(ASrc.size()));
  TCommonMarkDocument doc;
  TEngine engine(ASrc, AGfm, doc.FArena);
  engine.streamInto(&doc, &out);
  return out;
}

void TCommonMarkEngine::process(const std::string& ASrc, bool AGfm, const TPageWriter& AWrite) {
  std::string out;
  out.reserve(std::min(HtmlSizeHint(ASrc.size()), 2 * kPagePiece));
  TCommonMarkDocument doc;
  TEngine engine(ASrc, AGfm, doc.FArena);
  engine.setWriter(&AWrite);
  engine.streamInto(&doc, &out);
}

}  // namespace qd::md
