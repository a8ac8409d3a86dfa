// CommonMark engine with the tables, strikethrough and extended autolink extensions.
// Raw HTML is never passed through and there are no link reference definitions.
// Texts are UTF-8; lines use tab stops of 4 columns.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

// One piece of inline output. A node without a name is text (already escaped) kept in the
// owning list's text buffer; a named node is an element tag: FOpener writes the start tag,
// FCloser the end tag, both a self-closing tag.
struct TCMTextNode {
  std::uint32_t FStart = 0;   // content: FLength bytes of the list's buffer from FStart
  std::uint32_t FLength = 0;
  std::int32_t FPrev = -1;
  std::int32_t FNext = -1;
  std::int32_t FAttrs = -1;   // index of the attributes, -1 for none
  TCMElement FName = TCMElement::None;
  bool FOpener = false;
  bool FCloser = false;
  bool FActive = false;       // plain text that may still be extended
};

// Ordered list of nodes, kept as a doubly linked list inside one vector so that elements
// can be inserted in the middle when emphasis is resolved.
class TCMTextNodes {
 public:
  int first() const { return FHead; }
  int last() const { return FTail; }
  TCMTextNode& operator[](int i) { return FNodes[static_cast<std::size_t>(i)]; }
  const TCMTextNode& operator[](int i) const { return FNodes[static_cast<std::size_t>(i)]; }

  int addOpener(TCMElement AName);
  int addCloser(TCMElement AName);
  int addEmpty(TCMElement AName);             // a self-closing element
  void addText(std::string_view AText);       // extends the last node when it is open text
  int addTextNode(std::string_view AText);    // always a new, closed node
  int addOpenerAfter(TCMElement AName, int ANode);
  int addCloserBefore(TCMElement AName, int ANode);
  std::string plainTextSince(int ANode) const;
  void removeAfter(int ANode);
  void remove(int ANode);
  void writeHtml(std::string& AOut) const;

  std::string_view content(int ANode) const;
  void dropFront(int ANode, std::uint32_t ACount);  // removes characters of a text node
  void dropBack(int ANode, std::uint32_t ACount);
  TCMNodeAttrs& attrs(int ANode);                   // created when first needed

 private:
  int append(TCMTextNode&& ANode);
  int insertAfter(int APos, TCMTextNode&& ANode);
  std::string FText;
  std::vector<TCMTextNode> FNodes;
  std::vector<TCMNodeAttrs> FAttrList;
  int FHead = -1;
  int FTail = -1;
};

// ---- blocks --------------------------------------------------------------------------------

class TCMContainerBlock;

class TCMBlock {
 public:
  virtual ~TCMBlock() = default;
  virtual void writeHtml(const TCMBlock* AParent, std::string& AOut) const = 0;
  virtual bool wantsInlines() const { return true; }
  bool FClosed = false;
  int FLine = 0;
};

class TCMContainerBlock : public TCMBlock {
 public:
  std::vector<std::unique_ptr<TCMBlock>> FBlocks;
  TCMBlock* lastBlock() const { return FBlocks.empty() ? nullptr : FBlocks.back().get(); }
  void writeChildren(std::string& AOut) const;
};

class TCommonMarkDocument : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
};

class TCMParagraphBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  virtual bool isPlainPara() const { return FHeader == 0; }
  void writeText(std::string& AOut) const;
  int FHeader = 0;  // 0 paragraph, 1 or 2 setext heading level
};

class TCMQuoteBlock : public TCMParagraphBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  bool isPlainPara() const override { return false; }
};

class TCMListItemBlock : public TCMParagraphBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  bool isPlainPara() const override { return false; }
};

class TCMListBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  bool FOrdered = false;
  std::string FStart;
  std::string FMarker;
  bool FLoose = false;
  int FLastIndent = 0;
  int FBaseIndent = 0;
  bool FHasSeenEmptyLine = false;
};

class TCMHeadingBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  int FLevel = 1;
};

class TCMCodeBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  bool wantsInlines() const override { return false; }
  bool FFenced = false;
  std::string FLang;
};

class TCMTableBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  std::vector<TTextAlign> FColumns;
};

class TCMTableRowBlock : public TCMContainerBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
};

class TCMLeafBlock : public TCMBlock {};

class TCMThematicBreakBlock : public TCMLeafBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
};

class TCMTextBlock : public TCMLeafBlock {
 public:
  void writeHtml(const TCMBlock* AParent, std::string& AOut) const override;
  std::string FText;
  TCMTextNodes FNodes;
};

// ---- engine --------------------------------------------------------------------------------

class TCommonMarkEngine {
 public:
  // The caller owns the document.
  static std::unique_ptr<TCommonMarkDocument> parse(const std::string& ASrc, bool AGfm);
  static std::string render(const TCommonMarkDocument& ADoc);
  static std::string process(const std::string& ASrc, bool AGfm);
};

}  // namespace qd::md
