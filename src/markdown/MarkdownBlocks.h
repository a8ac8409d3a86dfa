// The engine's blocks and inline text nodes: what a parsed document is made of. Used inside the
// engine (and by its tests); the engine's interface is MarkdownCommonMark.h.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "markdown/MarkdownCommonMark.h"

namespace qd::md {

enum class TTextAlign { taLeft, taCenter, taRight };

// ---- inline output -------------------------------------------------------------------------

struct TCMNodeAttrs {
  std::string src, alt, href, title;
  bool hasSrc = false, hasAlt = false, hasHref = false, hasTitle = false;
};

// Element names of inline output.
enum class TCMElement : std::uint8_t { None, Em, Strong, Code, Del, A, Img, Br };
const char* ElementName(TCMElement AElement);

// Growable array of trivially copyable items. The first item is kept in the array object
// itself (a text of one piece needs no allocation); beyond that it grows with realloc, so a
// large array is moved by the allocator (usually without copying) rather than copied into a
// fresh block. The array must not be moved while it holds that first item.
template <class T>
class TCMPodArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  TCMPodArray() = default;
  TCMPodArray(const TCMPodArray&) = delete;
  TCMPodArray& operator=(const TCMPodArray&) = delete;
  ~TCMPodArray() {
    if (FData != local()) std::free(FData);
  }
  std::size_t size() const { return FSize; }
  bool empty() const { return FSize == 0; }
  T& operator[](std::size_t i) { return FData[i]; }
  const T& operator[](std::size_t i) const { return FData[i]; }
  T& back() { return FData[FSize - 1]; }
  void pop_back() { --FSize; }
  void clear() { FSize = 0; }
  void truncate(std::size_t ASize) { FSize = static_cast<std::uint32_t>(ASize); }
  void push_back(T AItem) {  // by value: the item may live in this array
    if (FSize == FCapacity) grow(FSize + 1);
    FData[FSize++] = AItem;
  }
  void reserve(std::size_t ACount) {
    if (ACount > FCapacity) grow(ACount);
  }

 private:
  T* local() { return reinterpret_cast<T*>(FLocal); }
  void grow(std::size_t AMin) {
    if (FCapacity == 0 && AMin == 1) {
      FData = local();
      FCapacity = 1;
      return;
    }
    std::size_t cap = std::max<std::size_t>({AMin, FCapacity + FCapacity / 2, 4});
    if (cap > 0xFFFFFFFFu) throw std::bad_alloc();
    void* p;
    if (FData == local()) {
      p = std::malloc(cap * sizeof(T));
      if (p) std::memcpy(p, FData, FSize * sizeof(T));
    } else {
      p = std::realloc(FData, cap * sizeof(T));
    }
    if (!p) throw std::bad_alloc();
    FData = static_cast<T*>(p);
    FCapacity = static_cast<std::uint32_t>(cap);
  }
  T* FData = nullptr;
  std::uint32_t FSize = 0;
  std::uint32_t FCapacity = 0;
  alignas(T) unsigned char FLocal[sizeof(T)];
};

// One piece of inline output: text (already escaped) kept in the owning list's text buffer,
// or an element tag. Text nodes hold FLength bytes of the buffer from FStart. Element nodes
// have kElement set in FInfo with the name and the tag kind beside it; FStart is then the
// index of their attributes (kNoAttrs for none).
struct TCMTextNode {
  static constexpr std::uint32_t kElement = 0x80000000u;
  static constexpr std::uint32_t kOpener = 0x40000000u;  // writes the start tag
  static constexpr std::uint32_t kCloser = 0x20000000u;  // writes the end tag; both: self-closing
  static constexpr std::uint32_t kNoAttrs = 0xFFFFFFFFu;
  std::uint32_t FStart = 0;
  std::uint32_t FInfo = 0;   // text: the length; element: kElement | kinds | name
  std::int32_t FNext = -1;
  bool isElement() const { return (FInfo & kElement) != 0; }
  bool isOpener() const { return (FInfo & kOpener) != 0; }
  bool isCloser() const { return (FInfo & kCloser) != 0; }
  TCMElement name() const { return isElement() ? static_cast<TCMElement>(FInfo & 0xFF) : TCMElement::None; }
  std::uint32_t length() const { return isElement() ? 0 : FInfo; }
};

// Ordered list of nodes, kept as a singly linked list inside one array so that elements
// can be inserted in the middle when emphasis is resolved. A removed node stays in the list
// as empty text.
class TCMTextNodes {
 public:
  int first() const { return FHead; }
  int last() const { return FTail; }
  TCMTextNode& operator[](int i) { return FNodes[static_cast<std::size_t>(i)]; }
  const TCMTextNode& operator[](int i) const { return FNodes[static_cast<std::size_t>(i)]; }

  void reserve(std::size_t ANodes, std::size_t AText);
  int addOpener(TCMElement AName);
  int addCloser(TCMElement AName);
  int addEmpty(TCMElement AName);             // a self-closing element
  void addText(std::string_view AText);       // extends the last node when it is open text
  int addTextNode(std::string_view AText);    // always a new, closed node
  int addOpenerAfter(TCMElement AName, int ANode);
  // Inserts the end tag in front of ANode, whose content moves to a new index (returned).
  [[nodiscard]] int addCloserBefore(TCMElement AName, int ANode);
  void makeElement(int ANode, TCMElement AName, bool AOpener, bool ACloser);  // turns text into a tag
  // Splits the text node ANode so that its ALength bytes from buffer offset AAt are a node of
  // their own (returned), in place.
  int splitOut(int ANode, std::uint32_t AAt, std::uint32_t ALength);
  std::string plainTextSince(int ANode) const;
  void removeAfter(int ANode);
  std::size_t nodeCount() const { return FNodes.size(); }  // also those no longer in the list
  std::size_t textSize() const { return FText.size(); }
  void clear();  // no nodes, no text; the room stays for what comes next
  // Joins the text nodes from ANode to the end of the array (the last nodes of the list, in
  // order, their texts one after the other at the end of the buffer) into one open node, and
  // that into the node before it when that is text just in front and its index is above
  // AInUseUpTo (nodes up to there may be referred to). Only a few nodes are looked at; when
  // they do not qualify nothing changes.
  void foldTail(int ANode, int AInUseUpTo);
  void remove(int ANode);
  void writeHtml(std::string& AOut) const;
  std::size_t htmlSizeBound() const;  // writeHtml appends at most this many bytes

  std::string_view content(int ANode) const;
  std::uint32_t length(int ANode) const { return (*this)[ANode].length(); }
  void dropFront(int ANode, std::uint32_t ACount);  // removes characters of a text node
  void dropBack(int ANode, std::uint32_t ACount);
  TCMNodeAttrs& attrs(int ANode);                   // of an element, created when first needed
  // The text buffer. Before its inlines are parsed, a text block keeps its raw text here.
  std::string& buffer() { return FText; }

 private:
  int append(const TCMTextNode& ANode);
  int insertAfter(int APos, const TCMTextNode& ANode);
  static TCMTextNode element(TCMElement AName, bool AOpener, bool ACloser);
  std::string FText;
  TCMPodArray<TCMTextNode> FNodes;
  std::unique_ptr<std::vector<TCMNodeAttrs>> FAttrList;  // made for the first element with attributes
  int FHead = -1;
  int FTail = -1;
  bool FTailOpen = false;  // the last node is plain text that may still be extended
};

// ---- blocks --------------------------------------------------------------------------------

// Memory for the blocks of one document: carved from chunks that are released together, so a
// document of many small blocks costs few allocations. Objects made here are destroyed by
// their owner, not by the arena.
class TCMArena {
 public:
  TCMArena() = default;
  TCMArena(const TCMArena&) = delete;
  TCMArena& operator=(const TCMArena&) = delete;
  ~TCMArena();
  void* allocate(std::size_t ASize, std::size_t AAlign);
  template <class T>
  T* make() { return new (allocate(sizeof(T), alignof(T))) T(); }

 private:
  struct TChunk {
    TChunk* FPrev;
  };
  TChunk* FChunk = nullptr;
  char* FPos = nullptr;
  char* FEnd = nullptr;
  std::size_t FNextSize = 1024;
};

class TCMBlock;

// Children of a container, in order. The first child is kept in the list itself; more take
// room from the document's arena. The list owns its blocks (it runs their destructors).
class TCMBlockList {
 public:
  TCMBlockList() = default;
  TCMBlockList(const TCMBlockList&) = delete;
  TCMBlockList& operator=(const TCMBlockList&) = delete;
  ~TCMBlockList() { clear(); }
  std::size_t size() const { return FSize; }
  bool empty() const { return FSize == 0; }
  TCMBlock* operator[](std::size_t i) const { return data()[i]; }
  TCMBlock* front() const { return data()[0]; }
  TCMBlock* back() const { return data()[FSize - 1]; }
  TCMBlock* const* begin() const { return data(); }
  TCMBlock* const* end() const { return data() + FSize; }
  void push_back(TCMArena& AArena, TCMBlock* ABlock);
  void pop_back();  // destroys the last block
  void clear();     // destroys every block
  // Destroys the first block; the list no longer refers to arena storage once at most one
  // block is left.
  void destroyFront();

 private:
  TCMBlock* const* data() const { return FCapacity > 1 ? FItems : &FOnly; }
  union {
    TCMBlock* FOnly = nullptr;  // while the capacity is 1
    TCMBlock** FItems;          // arena storage once there is more than one child
  };
  std::uint32_t FSize = 0;
  std::uint32_t FCapacity = 1;
};

class TCMContainerBlock;

enum class TCMBlockKind : std::uint8_t {
  Document, Paragraph, Quote, ListItem, List, Heading, Code, Table, ThematicBreak, Text
};

class TCMBlock {
 public:
  virtual ~TCMBlock() = default;
  virtual void writeHtml(const TCMBlock* AParent, std::string& AOut) const = 0;
  virtual bool wantsInlines() const { return true; }
  virtual TCMBlockKind kind() const = 0;
  virtual bool isPlainPara() const { return false; }  // a paragraph, not a heading or container
  virtual TCMContainerBlock* asContainer() { return nullptr; }
  const TCMContainerBlock* asContainer() const { return const_cast<TCMBlock*>(this)->asContainer(); }
  bool FClosed = false;
  int FLine = 0;
};

class TCMContainerBlock : public TCMBlock {
 public:
  TCMBlockList FBlocks;
  TCMBlock* lastBlock() const { return FBlocks.empty() ? nullptr : FBlocks.back(); }
  void writeChildren(std::string& AOut) const;
  TCMContainerBlock* asContainer() override { return this; }
};

class TCommonMarkDocument : public TCMContainerBlock {
 public:
  ~TCommonMarkDocument() override { FBlocks.clear(); }  // before the arena goes
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  TCMBlockKind kind() const override { return TCMBlockKind::Document; }
  TCMArena FArena;  // holds every block below the document
  std::size_t FSourceSize = 0;  // bytes of the Markdown text; bounds the room reserved for output
};

class TCMParagraphBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  TCMBlockKind kind() const override { return TCMBlockKind::Paragraph; }
  bool isPlainPara() const override { return FHeader == 0; }
  void writeText(std::string& AOut) const;
  int FHeader = 0;  // 0 paragraph, 1 or 2 setext heading level
};

class TCMQuoteBlock : public TCMParagraphBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  TCMBlockKind kind() const override { return TCMBlockKind::Quote; }
  bool isPlainPara() const override { return false; }
};

// Where the page of list items written tight differs from the same items written loose: the
// list's looseness is known only when it ends, and a long list is written item by item. Each
// entry is a page position (times four) with what the loose page has there instead.
class TCMLooseEdits {
 public:
  enum TEdit : std::uint64_t { leLineFeed, leParaStart, leParaEnd, leDropLineFeed };
  void add(std::size_t APos, TEdit AEdit) {
    FEdits.push_back(static_cast<std::uint64_t>(APos + FBase) << 2 | AEdit);
  }
  bool empty() const { return FEdits.empty(); }
  // Positions count from the page's start when the first piece of it is still held; after
  // pieces have been handed on, from where the first of them began.
  std::size_t front() const { return static_cast<std::size_t>(FEdits.front() >> 2); }
  std::size_t base() const { return FBase; }
  void rebase(std::size_t AHandedOn) { FBase += AHandedOn; }
  void clear() { FEdits.clear(); }
  // Turns the tight page into the loose one, in place.
  void apply(std::string& APage);

 private:
  std::vector<std::uint64_t> FEdits;
  std::size_t FBase = 0;  // bytes of the page handed on
};

class TCMListItemBlock : public TCMParagraphBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  // Writes the item as its list has it; a tight item notes into AEdits, when given, what the
  // loose one would have written.
  void writeItem(bool ALoose, std::string& AOut, TCMLooseEdits* AEdits) const;
  TCMBlockKind kind() const override { return TCMBlockKind::ListItem; }
  bool isPlainPara() const override { return false; }
};

class TCMListBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  TCMBlockKind kind() const override { return TCMBlockKind::List; }
  bool FOrdered = false;
  char FStart[10] = {};  // ordered: the start number (up to 9 digits, no leading zeros)
  std::string_view start() const { return FStart; }
  char FMarker = 0;  // bullet character or the delimiter after the number
  bool FLoose = false;  // loose: the paragraphs of its items keep their <p> tags (CommonMark 5.3)
  int FLastIndent = 0;
  int FBaseIndent = 0;
  bool FHasSeenEmptyLine = false;
  bool FHeadWritten = false;  // its start tag and first items are in the page already
  void writeHead(std::string& AOut) const;
};

class TCMHeadingBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  TCMBlockKind kind() const override { return TCMBlockKind::Heading; }
  int FLevel = 1;
};

class TCMCodeBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  TCMBlockKind kind() const override { return TCMBlockKind::Code; }
  bool wantsInlines() const override { return false; }
  bool FFenced = false;
  std::string FLang;
};

// A table is written as its rows are read, with their inlines: no block is kept for a row or a
// cell. A table at the top of a streamed document goes straight into the page; elsewhere its
// page waits here until the table's container is written.
class TCMTableBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  TCMBlockKind kind() const override { return TCMBlockKind::Table; }
  std::string FHtml;
};

class TCMLeafBlock : public TCMBlock {};

class TCMThematicBreakBlock : public TCMLeafBlock {
 public:
  TCMBlockKind kind() const override { return TCMBlockKind::ThematicBreak; }
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
};

class TCMTextBlock : public TCMLeafBlock {
 public:
  TCMBlockKind kind() const override { return TCMBlockKind::Text; }
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  std::string& rawText() { return FNodes.buffer(); }  // until the inline phase
  TCMTextNodes FNodes;
  // Until the inline phase, instead of rawText: the text when it is the rest of one source
  // line, read where it stands (a one-line paragraph is not copied).
  std::string_view FRawLine;
};

}  // namespace qd::md
