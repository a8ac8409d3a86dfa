// Help viewer file work: unpacks the help archive into a private temporary folder, converts
// its Markdown document to an HTML page there and hands the page to the document window.
// Texts and paths are UTF-8.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qd::ui {

class TMarkdownRenderer {
 public:
  // Looks a raw-data resource up by name (letter case ignored); nothing when there is none of
  // that name. The bytes must stay in place while the renderer works. Without a reader set,
  // the driver module's own stored items are read.
  using TResourceReader = std::function<std::optional<std::string_view>(const std::string& AName)>;
  static void SetResourceReader(TResourceReader AReader);

  TMarkdownRenderer();
  explicit TMarkdownRenderer(const std::string& ASourceName);
  ~TMarkdownRenderer();
  TMarkdownRenderer(const TMarkdownRenderer&) = delete;
  TMarkdownRenderer& operator=(const TMarkdownRenderer&) = delete;

  const std::string& SourceName() const { return FSourceName; }
  void SetSourceName(const std::string& AValue) { FSourceName = AValue; }
  const std::string& TempDirectory() const { return FTempDirectory; }

  static bool SourceExist(const std::string& ASourceName);
  bool SourceExist() const { return SourceExist(FSourceName); }

  // The help entry point: unpack, convert, show in the installed document window
  // (ui/Windows.h), clean up.
  static void Render(const std::string& ASourceName, const std::string& ACaption);
  // Returns the full path of the page that it showed.
  std::string Render(const std::string& ACaption);

  // File-to-file conversion.
  static void ConvertToHtml(const std::string& ASource, const std::string& ADestination, const std::string& ACss);
  void ConvertToHtml(const std::string& ADestination, const std::string& ACss);

  // Steps shared by both paths.
  std::string SaveSourceArchive();
  // Unpacks the archive into the temporary folder (THelpArchive: every entry checked, then
  // written; nothing is left of it after a failure).
  void ExtractArchive(const std::string& AArchivePath);
  std::string FindSourceFile(const std::string& AExtension) const;
  std::string LoadSourceText(const std::string& AFileName) const;
  // Converts the text, handing the HTML to AWrite in pieces as it is made.
  using TPageWriter = std::function<void(std::string_view)>;
  static void MarkdownToHtml(const std::string& AText, const TPageWriter& AWrite);
  // Writes the page of the Markdown text AText (converted on the way, never held whole) into
  // the destination, or md.html in the temporary folder when it is empty; returns the path.
  std::string SaveHtmlFile(const std::string& AText, const std::string& ACss, const std::string& ADestination) const;

 private:
  std::string FSourceName;
  std::string FTempDirectory;
};

// Decodes the bytes of a text file: a UTF-8 byte-order mark (EF BB BF), UTF-16 little-endian
// (FF FE) or big-endian (FE FF) mark chooses the encoding; without one the bytes are UTF-8.
std::string DecodeTextFile(std::string ABytes);

}  // namespace qd::ui
