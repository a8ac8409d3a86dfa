#include "ui/MarkdownRenderer.h"

#include "common/resources.h"
#include "common/text.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "markdown/MarkdownProcessor.h"
#include "platform/tempfs.h"

namespace qd::ui {

namespace fs = qd::platform::tempfs;

namespace {

#ifdef _WIN32
constexpr char kDelim = '\\';
#else
constexpr char kDelim = '/';
#endif

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

// ---- archive checks ----------------------------------------------------------------------------

[[noreturn]] void Refuse(const std::string& AWhy, const std::string& AName) {
  throw std::runtime_error(AWhy + ": \"" + AName + "\"");
}

bool IsDeviceName(std::string ABase) {
  std::size_t dot = ABase.find('.');
  if (dot != std::string::npos) ABase.resize(dot);
  for (char& c : ABase) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  while (!ABase.empty() && ABase.back() == ' ') ABase.pop_back();
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* n : kNames)
    if (ABase == n) return true;
  if (!ABase.starts_with("COM") && !ABase.starts_with("LPT")) return false;
  std::string_view number = std::string_view(ABase).substr(3);
  // a digit, or the superscript one, two or three (U+00B9, U+00B2, U+00B3), which the system
  // takes for the same devices
  if (number.size() == 1) return number[0] >= '0' && number[0] <= '9';
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

// The parts of an entry's relative path; refuses every name that could land outside the folder
// or mean something other than a plain file on either system.
std::vector<std::string> SafeParts(const std::string& AName) {
  if (AName.empty()) Refuse("Архив справки содержит запись без имени", AName);
  if (AName[0] == '/' || AName[0] == '\\') Refuse("Архив справки содержит абсолютный путь", AName);
  if (AName.find(':') != std::string::npos) Refuse("Архив справки содержит путь с именем диска или потока", AName);
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (part.empty() || part == ".") {
      part.clear();
      return;
    }
    if (part == "..") Refuse("Архив справки содержит путь, выходящий за пределы папки", AName);
    if (part.back() == '.' || part.back() == ' ') Refuse("Архив справки содержит недопустимое имя файла", AName);
    if (IsDeviceName(part)) Refuse("Архив справки содержит имя устройства", AName);
    parts.push_back(part);
    part.clear();
  };
  for (char c : AName) {
    auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\') {
      flush();
      continue;
    }
    if (u < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
      Refuse("Архив справки содержит недопустимое имя файла", AName);
    part += c;
  }
  flush();
  return parts;
}

struct TZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};
struct TZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

constexpr zip_uint32_t kUnixFileTypeMask = 0170000;
constexpr zip_uint32_t kUnixSymlink = 0120000;

}  // namespace

// ---- TMarkdownRenderer ---------------------------------------------------------------------------

void TMarkdownRenderer::SetResourceReader(TResourceReader AReader) { ResourceReader() = std::move(AReader); }

TMarkdownRenderer::TMarkdownRenderer() {
  FTempDirectory = fs::UserTempFolder() + kDelim + fs::NewGuidText();
  fs::CreateFolders(FTempDirectory);
}

TMarkdownRenderer::TMarkdownRenderer(const std::string& ASourceName) : TMarkdownRenderer() {
  FSourceName = ASourceName;
}

TMarkdownRenderer::~TMarkdownRenderer() {
  try {
    fs::RemoveTree(FTempDirectory);
  } catch (...) {
  }
}

bool TMarkdownRenderer::SourceExist(const std::string& ASourceName) {
  if (ASourceName.empty()) return false;
  return ReadResource(ASourceName).has_value();
}

void TMarkdownRenderer::ConvertToHtml(const std::string& ASource, const std::string& ADestination,
                                      const std::string& ACss) {
  if (!fs::FileExists(ASource)) throw std::runtime_error("File not found: " + ASource);
  if (!ACss.empty() && !fs::FileExists(ACss)) throw std::runtime_error("File not found: " + ACss);
  // A relative source would otherwise be looked for in the renderer's own folder.
  std::u8string source(ASource.begin(), ASource.end());
  std::u8string full = std::filesystem::absolute(std::filesystem::path(source)).u8string();
  TMarkdownRenderer renderer(std::string(full.begin(), full.end()));
  renderer.ConvertToHtml(ADestination, ACss);
}

void TMarkdownRenderer::ConvertToHtml(const std::string& ADestination, const std::string& ACss) {
  SaveHtmlFile(MarkdownToHtml(LoadSourceText(FSourceName)), ACss, ADestination);
}

std::string TMarkdownRenderer::SaveSourceArchive() {
  std::optional<std::string_view> data;
  if (!FSourceName.empty()) data = ReadResource(FSourceName);
  if (!data) throw std::runtime_error("File not found: " + FSourceName);
  std::string path = FTempDirectory + kDelim + "md.zip";
  fs::WriteWholeFile(path, std::string(*data));
  return path;
}

void TMarkdownRenderer::ExtractArchive(const std::string& AArchivePath) {
  // The archive is read from memory, so an entry may even replace the archive file itself.
  const std::string bytes = fs::ReadWholeFile(AArchivePath);
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &ze);
  std::unique_ptr<zip_t, TZipCloser> za(src ? zip_open_from_source(src, ZIP_RDONLY, &ze) : nullptr);
  if (!za) {
    if (src) zip_source_free(src);
    std::string why = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    throw std::runtime_error("Не удалось открыть архив справки: " + why);
  }
  zip_error_fini(&ze);
  zip_int64_t count = zip_get_num_entries(za.get(), 0);
  if (count < 0 || static_cast<unsigned long long>(count) > kMaxEntries)
    throw std::runtime_error("Архив справки содержит слишком много записей");

  // Every entry is checked before anything is written.
  struct TEntry {
    zip_uint64_t index;
    std::vector<std::string> parts;
    bool folder;
    std::string name;
  };
  std::vector<TEntry> entries;
  unsigned long long total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
      throw std::runtime_error("Архив справки повреждён: " + std::string(zip_strerror(za.get())));
    std::string name = st.name;
    zip_uint8_t opsys = 0;
    zip_uint32_t attr = 0;
    if (zip_file_get_external_attributes(za.get(), static_cast<zip_uint64_t>(i), 0, &opsys, &attr) == 0 &&
        opsys == ZIP_OPSYS_UNIX && ((attr >> 16) & kUnixFileTypeMask) == kUnixSymlink)
      Refuse("Архив справки содержит символическую ссылку", name);
    TEntry e{static_cast<zip_uint64_t>(i), SafeParts(name), !name.empty() && (name.back() == '/' || name.back() == '\\'), name};
    if (e.parts.empty()) {
      if (e.folder) continue;  // "./" and the like
      Refuse("Архив справки содержит недопустимое имя файла", name);
    }
    if (!e.folder) {
      if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxEntrySize)
        Refuse("Файл в архиве справки слишком велик", name);
      total += st.size;
      if (total > kMaxArchiveSize) throw std::runtime_error("Архив справки слишком велик");
    }
    entries.push_back(std::move(e));
  }

  // Created paths, so that a failure takes everything of the archive away again.
  std::vector<std::string> created;
  auto cleanup = [&] {
    for (auto it = created.rbegin(); it != created.rend(); ++it) fs::RemoveTree(*it);
  };
  try {
    auto makeFolders = [&](const std::vector<std::string>& AParts, std::size_t ACount) {
      std::string path = FTempDirectory;
      for (std::size_t k = 0; k < ACount; ++k) {
        path += kDelim;
        path += AParts[k];
        if (fs::FolderExists(path)) continue;
        if (fs::FileExists(path)) throw std::runtime_error("Архив справки содержит конфликтующие пути: \"" + path + "\"");
        fs::CreateFolders(path);
        created.push_back(path);
      }
      return path;
    };
    unsigned long long written = 0;
    for (const TEntry& e : entries) {
      if (e.folder) {
        makeFolders(e.parts, e.parts.size());
        continue;
      }
      std::string dir = makeFolders(e.parts, e.parts.size() - 1);
      std::string path = dir + kDelim + e.parts.back();
      std::unique_ptr<zip_file_t, TZipFileCloser> zf(zip_fopen_index(za.get(), e.index, 0));
      if (!zf) throw std::runtime_error("Архив справки повреждён: " + std::string(zip_strerror(za.get())));
      std::string data;
      char buf[65536];
      for (;;) {
        zip_int64_t n = zip_fread(zf.get(), buf, sizeof buf);
        if (n < 0) throw std::runtime_error("Архив справки повреждён: " + std::string(zip_file_strerror(zf.get())));
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
        written += static_cast<unsigned long long>(n);
        // the stored sizes may lie: count what actually comes out
        if (data.size() > kMaxEntrySize) Refuse("Файл в архиве справки слишком велик", e.name);
        if (written > kMaxArchiveSize) throw std::runtime_error("Архив справки слишком велик");
      }
      if (fs::FolderExists(path)) throw std::runtime_error("Архив справки содержит конфликтующие пути: \"" + e.name + "\"");
      bool existed = fs::FileExists(path);
      fs::WriteWholeFile(path, data);
      if (!existed) created.push_back(path);
    }
  } catch (...) {
    cleanup();
    throw;
  }
}

std::string TMarkdownRenderer::FindSourceFile(const std::string& AExtension) const {
  // regular files only, the first by name, so that every system picks the same one
  std::string first;
  for (const std::string& name : fs::ListFolder(FTempDirectory, AExtension)) {
    if ((first.empty() || name < first) && fs::FileExists(FTempDirectory + kDelim + name)) first = name;
  }
  return first;
}

std::string TMarkdownRenderer::LoadSourceText(const std::string& AFileName) const {
  std::string path = fs::IsRootedPath(AFileName) ? AFileName : FTempDirectory + kDelim + AFileName;
  return DecodeTextFile(fs::ReadWholeFile(path));
}

std::string TMarkdownRenderer::MarkdownToHtml(const std::string& AText) {
  std::unique_ptr<md::TMarkdownProcessor> processor = md::TMarkdownProcessor::CreateDialect(md::mdCommonMark);
  return processor->process(AText);
}

std::string TMarkdownRenderer::SaveHtmlFile(const std::string& AHtml, const std::string& ACss,
                                            const std::string& ADestination) const {
  std::string path = ADestination.empty() ? FTempDirectory + kDelim + "md.html" : ADestination;
  // The embedded browser of Windows opens a local page in its oldest document mode, where
  // the help's pictures and style sheet do not draw, unless the page asks for the newest
  // one before anything else.
  static constexpr char kModeRequest[] = "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\r\n";
  std::string page;
  page.reserve(AHtml.size() + ACss.size() + 256);  // a large page is copied once
  page += "\xEF\xBB\xBF";
  if (ACss.empty()) {
    page += kModeRequest;
    page += AHtml;
  } else {
    page += "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n";
    page += kModeRequest;
    page += "<link href=\"";
    page += ACss;
    page += "\" rel=\"stylesheet\">\r\n</head>\r\n<body>\r\n";
    page += AHtml;
    page += "\r\n</body>\r\n</html>";
  }
  // a page in the viewer's own folder stays private; one the user named is the user's file
  if (ADestination.empty())
    fs::WriteWholeFile(path, page);
  else
    fs::WriteUserFile(path, page);
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
