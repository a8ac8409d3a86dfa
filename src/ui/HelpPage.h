// The help page as the help window shows it: the converted document with every heading given
// an anchor (an id made of its text), so that the contents and other links of the document can
// lead to it, and every table and code block in a box of its own that scrolls sideways and is
// reached by the keyboard (Tab), instead of the page. The page goes through in pieces, as the
// conversion makes them; nothing but headings is held back.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace qd::ui {

class THelpPageDress {
 public:
  using TWriter = std::function<void(std::string_view)>;
  explicit THelpPageDress(TWriter AOut) : FOut(std::move(AOut)) {}

  // The next piece of the converted page, as the converter wrote it.
  void Write(std::string_view APiece);
  // After the last piece: whatever is still held goes out.
  void Finish();

  // The anchor of a heading's text (tags already removed, entities as written): letters of
  // the Latin and Cyrillic alphabets in lower case, digits, '-' and '_' as they are, a space
  // as '-', other signs of ASCII left out, any other character kept.
  static std::string AnchorOf(std::string_view AText);

 private:
  void Tag(std::string_view ATag);  // "<...>" whole
  void Put(std::string_view AText);

  TWriter FOut;
  std::string FPartial;   // a tag cut off at the end of a piece
  int FHeading = 0;       // level of the heading being read, 0 outside one
  std::string FHeadingHtml;
  std::map<std::string, int> FAnchors;  // anchors given, and how often
};

}  // namespace qd::ui
