#include "ui/HelpArchive.h"

#include <zip.h>

#include <cctype>
#include <stdexcept>

#include "platform/fs.h"

namespace qd::ui {

namespace {

[[noreturn]] void Refuse(const std::string& AWhy, const std::string& AName) {
  throw std::runtime_error(AWhy + ": \"" + AName + "\"");
}

// Names that Windows takes for devices in any folder and with any extension.
bool IsDeviceName(std::string ABase) {
  size_t dot = ABase.find('.');
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

struct TZipFileCloser {
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};

constexpr zip_uint32_t kUnixFileTypeMask = 0170000;
constexpr zip_uint32_t kUnixSymlink = 0120000;

bool IsSymlink(zip_t* AZip, zip_uint64_t AIndex) {
  zip_uint8_t opsys = 0;
  zip_uint32_t attr = 0;
  return zip_file_get_external_attributes(AZip, AIndex, 0, &opsys, &attr) == 0 && opsys == ZIP_OPSYS_UNIX &&
         ((attr >> 16) & kUnixFileTypeMask) == kUnixSymlink;
}

}  // namespace

struct THelpArchive::TZip {
  zip_t* Handle = nullptr;
  ~TZip() {
    if (Handle) zip_discard(Handle);
  }
};

std::vector<std::string> THelpArchive::SafeParts(const std::string& AName) {
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
  // Both delimiters split, whichever system wrote the archive.
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

THelpArchive::THelpArchive(std::string ABytes) : FBytes(std::move(ABytes)), FZip(std::make_unique<TZip>()) {
  zip_error_t ze;
  zip_error_init(&ze);
  // Read from memory: an entry may even replace the file the archive came from.
  zip_source_t* src = zip_source_buffer_create(FBytes.data(), FBytes.size(), 0, &ze);
  FZip->Handle = src ? zip_open_from_source(src, ZIP_RDONLY, &ze) : nullptr;
  if (!FZip->Handle) {
    if (src) zip_source_free(src);
    std::string why = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    throw std::runtime_error("Не удалось открыть архив справки: " + why);
  }
  zip_error_fini(&ze);
  zip_t* za = FZip->Handle;
  zip_int64_t count = zip_get_num_entries(za, 0);
  if (count < 0 || static_cast<unsigned long long>(count) > kMaxEntries)
    throw std::runtime_error("Архив справки содержит слишком много записей");

  unsigned long long total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(za, index, ZIP_FL_ENC_GUESS, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
      throw std::runtime_error("Архив справки повреждён: " + std::string(zip_strerror(za)));
    std::string name = st.name;
    if (IsSymlink(za, index)) Refuse("Архив справки содержит символическую ссылку", name);
    TEntry e{index, name, SafeParts(name), !name.empty() && (name.back() == '/' || name.back() == '\\')};
    if (e.Parts.empty()) {
      if (e.Folder) continue;  // "./" and the like
      Refuse("Архив справки содержит недопустимое имя файла", name);
    }
    if (!e.Folder) {
      if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxEntrySize) Refuse("Файл в архиве справки слишком велик", name);
      total += st.size;
      if (total > kMaxArchiveSize) throw std::runtime_error("Архив справки слишком велик");
    }
    FEntries.push_back(std::move(e));
  }
}

THelpArchive::~THelpArchive() = default;

// The stored sizes may lie: what actually comes out is counted against the limits.
std::string THelpArchive::ReadEntry(const TEntry& AEntry, unsigned long long& AWritten) const {
  std::unique_ptr<zip_file_t, TZipFileCloser> zf(zip_fopen_index(FZip->Handle, AEntry.Index, 0));
  if (!zf) throw std::runtime_error("Архив справки повреждён: " + std::string(zip_strerror(FZip->Handle)));
  std::string data;
  char buf[65536];
  for (;;) {
    zip_int64_t n = zip_fread(zf.get(), buf, sizeof buf);
    if (n < 0) throw std::runtime_error("Архив справки повреждён: " + std::string(zip_file_strerror(zf.get())));
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    AWritten += static_cast<unsigned long long>(n);
    if (data.size() > kMaxEntrySize) Refuse("Файл в архиве справки слишком велик", AEntry.Name);
    if (AWritten > kMaxArchiveSize) throw std::runtime_error("Архив справки слишком велик");
  }
  return data;
}

void THelpArchive::WriteTo(const std::string& AFolder) const {
  using platform::TLinks;
  // Created paths, so that a failure takes everything of the archive away again.
  std::vector<std::string> created;
  // The folders of the first ACount parts, made where missing; returns the last one's path.
  auto makeFolders = [&](const std::vector<std::string>& AParts, size_t ACount) {
    std::string path = AFolder;
    for (size_t k = 0; k < ACount; ++k) {
      path += platform::kPathDelim;
      path += AParts[k];
      if (platform::FolderExists(path, TLinks::DoNotFollow)) continue;
      // A file, or a link to anything, where a folder belongs.
      if (platform::FileExists(path, TLinks::Follow) || platform::FolderExists(path, TLinks::Follow))
        throw std::runtime_error("Архив справки содержит конфликтующие пути: \"" + path + "\"");
      platform::CreateFolders(path, platform::TNewAccess::OwnerOnly);
      created.push_back(path);
    }
    return path;
  };
  try {
    unsigned long long written = 0;
    for (const TEntry& e : FEntries) {
      if (e.Folder) {
        makeFolders(e.Parts, e.Parts.size());
        continue;
      }
      std::string path = makeFolders(e.Parts, e.Parts.size() - 1) + platform::kPathDelim + e.Parts.back();
      std::string data = ReadEntry(e, written);
      if (platform::FolderExists(path, TLinks::DoNotFollow))
        throw std::runtime_error("Архив справки содержит конфликтующие пути: \"" + e.Name + "\"");
      bool existed = platform::FileExists(path, TLinks::DoNotFollow);
      platform::WriteFile(path, data, platform::TNewAccess::OwnerOnly);
      if (!existed) created.push_back(path);
    }
  } catch (...) {
    for (auto it = created.rbegin(); it != created.rend(); ++it) platform::RemoveTree(*it);
    throw;
  }
}

}  // namespace qd::ui
