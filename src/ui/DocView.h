// The help window: a local HTML page in an embedded web browser, shown modally.
#pragma once
#include <string>

namespace qd::ui {

class TfrmDocView {
 public:
  static constexpr const char* kDesignCaption = "Документ";

  // The window without an owner, its caption, and the browser sent to the page (a plain local
  // file path).
  TfrmDocView(std::string AHtmlFilePath, std::string ACaption)
      : FHtmlFilePath(std::move(AHtmlFilePath)), FCaption(std::move(ACaption)) {}

  // Returns when the user has closed the window.
  void ShowModal() const;

 private:
  std::string FHtmlFilePath;
  std::string FCaption;
};

}  // namespace qd::ui
