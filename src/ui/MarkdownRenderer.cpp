#include "ui/MarkdownRenderer.h"

#include "common/resources.h"
#include "common/text.h"

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "markdown/MarkdownProcessor.h"
#include "platform/fs.h"
#include "ui/HelpArchive.h"
#include "ui/HelpPage.h"
#include "ui/Windows.h"

namespace qd::ui {

namespace {

using platform::kPathDelim;
using platform::TLinks;
using platform::TNewAccess;
using platform::TShareMode;

// Pages larger than this go to their file in several writes.
constexpr std::size_t kFilePiece = 256 * 1024;

TMarkdownRenderer::TResourceReader& ResourceReader() {
  static TMarkdownRenderer::TResourceReader reader;
  return reader;
}

std::optional<std::string_view> ReadResource(const std::string& AName) {
  const TMarkdownRenderer::TResourceReader& reader = ResourceReader();
  return reader ? reader(AName) : FindModuleResource(AName);
}

// UTF-16 text of a file (after its byte-order mark) as UTF-8; an unpaired surrogate becomes
// U+FFFD, since a page cannot carry it.
std::string Utf16BytesToUtf8(const std::string& ABytes, std::size_t AStart, bool ABigEndian) {
  std::u16string units;
  units.reserve(ABytes.size() / 2);
  for (std::size_t i = AStart; i + 1 < ABytes.size(); i += 2) {
    auto b0 = static_cast<unsigned char>(ABytes[i]);
    auto b1 = static_cast<unsigned char>(ABytes[i + 1]);
    units += static_cast<char16_t>(ABigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0));
  }
  for (std::size_t i = 0; i < units.size(); ++i) {
    char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (u >= 0xD800 && u <= 0xDFFF) units[i] = 0xFFFD;
  }
  return Utf16ToUtf8(units);
}

}  // namespace

// ---- TMarkdownRenderer ---------------------------------------------------------------------------

void TMarkdownRenderer::SetResourceReader(TResourceReader AReader) { ResourceReader() = std::move(AReader); }

TMarkdownRenderer::TMarkdownRenderer() {
  FTempDirectory = platform::UserTempFolder() + kPathDelim + platform::NewGuidText();
  platform::CreateFolders(FTempDirectory, TNewAccess::OwnerOnly);
}

TMarkdownRenderer::TMarkdownRenderer(const std::string& ASourceName) : TMarkdownRenderer() {
  FSourceName = ASourceName;
}

TMarkdownRenderer::~TMarkdownRenderer() {
  try {
    platform::RemoveTree(FTempDirectory);
  } catch (...) {
  }
}

void TMarkdownRenderer::Render(const std::string& ASourceName, const std::string& ACaption) {
  if (!SourceExist(ASourceName)) throw std::runtime_error("File not found: " + ASourceName);
  TMarkdownRenderer renderer(ASourceName);  // its destructor removes the folder on every path
  renderer.Render(ACaption);
}

std::string TMarkdownRenderer::Render(const std::string& ACaption) {
  if (!SourceExist()) throw std::runtime_error("File not found: " + FSourceName);
  ExtractArchive(SaveSourceArchive());
  std::string mdName = FindSourceFile("md");
  if (mdName.empty()) throw std::runtime_error("Mardown file not found");
  std::string text = LoadSourceText(mdName);
  // the page names the style sheet at its head, and is written as it is converted
  std::string css = FindSourceFile("css");
  std::string page = SaveHtmlFile(text, css, "");
  ShowDocumentWindow(page, ACaption);
  return page;
}

bool TMarkdownRenderer::SourceExist(const std::string& ASourceName) {
  if (ASourceName.empty()) return false;
  return ReadResource(ASourceName).has_value();
}

void TMarkdownRenderer::ConvertToHtml(const std::string& ASource, const std::string& ADestination,
                                      const std::string& ACss) {
  // Files that the user names: a link to one is taken as the file.
  if (!platform::FileExists(ASource, TLinks::Follow)) throw std::runtime_error("File not found: " + ASource);
  // The style sheet is only linked by name: it need not be there yet.
  // A relative source would otherwise be looked for in the renderer's own folder.
  std::u8string source(ASource.begin(), ASource.end());
  std::u8string full = std::filesystem::absolute(std::filesystem::path(source)).u8string();
  TMarkdownRenderer renderer(std::string(full.begin(), full.end()));
  renderer.ConvertToHtml(ADestination, ACss);
}

void TMarkdownRenderer::ConvertToHtml(const std::string& ADestination, const std::string& ACss) {
  SaveHtmlFile(LoadSourceText(FSourceName), ACss, ADestination);
}

std::string TMarkdownRenderer::SaveSourceArchive() {
  std::optional<std::string_view> data;
  if (!FSourceName.empty()) data = ReadResource(FSourceName);
  if (!data) throw std::runtime_error("File not found: " + FSourceName);
  std::string path = FTempDirectory + kPathDelim + "md.zip";
  platform::WriteFile(path, std::string(*data), TNewAccess::OwnerOnly);
  return path;
}

void TMarkdownRenderer::ExtractArchive(const std::string& AArchivePath) {
  THelpArchive archive(platform::ReadFile(AArchivePath, TLinks::DoNotFollow, TShareMode::Read));
  archive.WriteTo(FTempDirectory);
}

std::string TMarkdownRenderer::FindSourceFile(const std::string& AExtension) const {
  // regular files only, the first by name, so that every system picks the same one
  std::string first;
  for (const std::string& name : platform::ListFolder(FTempDirectory, AExtension)) {
    if ((first.empty() || name < first) && platform::FileExists(FTempDirectory + kPathDelim + name, TLinks::DoNotFollow))
      first = name;
  }
  return first;
}

std::string TMarkdownRenderer::LoadSourceText(const std::string& AFileName) const {
  std::string path = platform::IsRootedPath(AFileName) ? AFileName : FTempDirectory + kPathDelim + AFileName;
  return DecodeTextFile(platform::ReadFile(path, TLinks::Follow, TShareMode::Read));
}

void TMarkdownRenderer::MarkdownToHtml(const std::string& AText, const TPageWriter& AWrite) {
  std::unique_ptr<md::TMarkdownProcessor> processor = md::TMarkdownProcessor::CreateDialect(md::mdCommonMark);
  processor->ProcessTo(AText, AWrite);
}

std::string TMarkdownRenderer::SaveHtmlFile(const std::string& AText, const std::string& ACss,
                                            const std::string& ADestination) const {
  std::string path = ADestination.empty() ? FTempDirectory + kPathDelim + "md.html" : ADestination;
  // a page in the viewer's own folder stays private; one the user named is the user's file
  const TNewAccess access = ADestination.empty() ? TNewAccess::OwnerOnly : TNewAccess::UserDefault;
  // The embedded browser of Windows opens a local page in its oldest document mode, where
  // the help's pictures and style sheet do not draw, unless the page asks for the newest
  // one before anything else.
  static constexpr char kModeRequest[] = "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\r\n";
  // The page goes to the file in pieces as the conversion makes them (large ones as they come);
  // a small page is written at once.
  std::string pending = "\xEF\xBB\xBF";
  bool created = false;
  auto put = [&](std::string_view ABytes) {
    if (created) {
      platform::AppendToFile(path, ABytes, access);
    } else {
      platform::WriteFile(path, ABytes, access);
      created = true;
    }
  };
  if (ACss.empty()) {
    pending += kModeRequest;
  } else {
    pending += "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n";
    pending += kModeRequest;
    pending += "<link href=\"";
    pending += ACss;
    pending += "\" rel=\"stylesheet\">\r\n</head>\r\n<body>\r\n";
  }
  auto piece = [&](std::string_view APiece) {
    if (pending.size() + APiece.size() < kFilePiece) {
      pending += APiece;
      return;
    }
    put(pending);
    pending.clear();
    put(APiece);
  };
  if (ACss.empty()) {
    // the converter's own output, as it is
    MarkdownToHtml(AText, piece);
  } else {
    // the page of the help window: headings with anchors, tables and code in boxes of their own
    THelpPageDress dress(piece);
    MarkdownToHtml(AText, [&](std::string_view APiece) { dress.Write(APiece); });
    dress.Finish();
    pending += "\r\n</body>\r\n</html>";
  }
  if (!pending.empty() || !created) put(pending);
  return path;
}

// (the bytes are taken over: UTF-8 text is not copied)
std::string DecodeTextFile(std::string ABytes) {
  auto starts = [&](const char* AMark, std::size_t ALen) { return ABytes.compare(0, ALen, AMark, ALen) == 0; };
  if (ABytes.size() >= 3 && starts("\xEF\xBB\xBF", 3)) return ABytes.erase(0, 3);
  if (ABytes.size() >= 2 && starts("\xFF\xFE", 2)) return Utf16BytesToUtf8(ABytes, 2, false);
  if (ABytes.size() >= 2 && starts("\xFE\xFF", 2)) return Utf16BytesToUtf8(ABytes, 2, true);
  return ABytes;
}

}  // namespace qd::ui
