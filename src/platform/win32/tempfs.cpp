#include "platform/tempfs.h"

#include <objbase.h>

#include <algorithm>
#include <stdexcept>

#include "platform/win32/wintext.h"

namespace qd::platform::tempfs {

using win::Narrow;
using win::Widen;

namespace {

[[noreturn]] void ThrowLast(const std::string& AWhat) {
  DWORD code = GetLastError();
  throw std::runtime_error(AWhat + ": " + win::ErrorText(code));
}

bool EndsWithIgnoreCase(const std::wstring& AName, const std::wstring& ASuffix) {
  if (AName.size() < ASuffix.size()) return false;
  return CompareStringOrdinal(AName.c_str() + AName.size() - ASuffix.size(), static_cast<int>(ASuffix.size()),
                              ASuffix.c_str(), static_cast<int>(ASuffix.size()), TRUE) == CSTR_EQUAL;
}

struct TFindHandle {
  HANDLE h;
  ~TFindHandle() {
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
};

}  // namespace

std::string UserTempFolder() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) ThrowLast("Cannot read the temporary folder");
  std::wstring path(buf, n);
  DWORD need = GetLongPathNameW(path.c_str(), nullptr, 0);
  if (need > 0) {
    std::wstring longPath(need, L'\0');
    DWORD got = GetLongPathNameW(path.c_str(), longPath.data(), need);
    if (got > 0 && got < need) {
      longPath.resize(got);
      path = longPath;
    }
  }
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return Narrow(path.c_str(), static_cast<int>(path.size()));
}

std::string NewGuidText() {
  GUID g;
  if (FAILED(CoCreateGuid(&g))) throw std::runtime_error("Cannot generate a GUID");
  wchar_t text[40];
  int n = StringFromGUID2(g, text, 40);
  if (n <= 0) throw std::runtime_error("Cannot generate a GUID");
  return Narrow(text);
}

void CreateFolders(const std::string& APath) {
  if (APath.empty()) throw std::runtime_error("Cannot create folder: empty path");
  std::string path = APath;
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (FolderExists(path)) return;
  std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0 && path[slash - 1] != ':') CreateFolders(path.substr(0, slash));
  if (!CreateDirectoryW(Widen(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    ThrowLast("Cannot create folder " + path);
}

void RemoveTree(const std::string& APath) {
  std::wstring path = Widen(APath);
  DWORD attr = GetFileAttributesW(path.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return;
  if (attr & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);
  if (!(attr & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return;
  }
  if (!(attr & FILE_ATTRIBUTE_REPARSE_POINT)) {  // a link to a folder is removed, not entered
    WIN32_FIND_DATAW fd;
    TFindHandle find{FindFirstFileW((path + L"\\*").c_str(), &fd)};
    if (find.h != INVALID_HANDLE_VALUE) {
      do {
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
        RemoveTree(APath + "\\" + Narrow(fd.cFileName));
      } while (FindNextFileW(find.h, &fd));
    }
  }
  RemoveDirectoryW(path.c_str());
}

bool FileExists(const std::string& APath) {
  DWORD attr = GetFileAttributesW(Widen(APath).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& APath) {
  DWORD attr = GetFileAttributesW(Widen(APath).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadWholeFile(const std::string& APath) {
  HANDLE h = CreateFileW(Widen(APath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLast("Cannot open file " + APath);
  std::string data;
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      DWORD err = GetLastError();
      CloseHandle(h);
      SetLastError(err);
      ThrowLast("Cannot read file " + APath);
    }
    if (got == 0) break;
    data.append(buf, got);
  }
  CloseHandle(h);
  return data;
}

void WriteWholeFile(const std::string& APath, const std::string& ABytes) {
  std::wstring path = Widen(APath);
  DWORD attr = GetFileAttributesW(path.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT))
    throw std::runtime_error("Cannot create file " + APath + ": the path is a link");
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLast("Cannot create file " + APath);
  std::size_t done = 0;
  while (done < ABytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(ABytes.size() - done, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(h, ABytes.data() + done, chunk, &wrote, nullptr)) {
      DWORD err = GetLastError();
      CloseHandle(h);
      SetLastError(err);
      ThrowLast("Cannot write file " + APath);
    }
    done += wrote;
  }
  CloseHandle(h);
}

// A new file takes the permissions that its folder passes on in either case.
void WriteUserFile(const std::string& APath, const std::string& ABytes) { WriteWholeFile(APath, ABytes); }

std::vector<std::string> ListFolder(const std::string& APath, const std::string& AExtension) {
  std::vector<std::string> names;
  std::wstring suffix = Widen("." + AExtension);
  WIN32_FIND_DATAW fd;
  TFindHandle find{FindFirstFileW(Widen(APath + "\\*." + AExtension).c_str(), &fd)};
  if (find.h == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = fd.cFileName;
    // the system also matches short (8.3) names; keep only real matches of the long name
    if (EndsWithIgnoreCase(name, suffix)) names.push_back(Narrow(name.c_str(), static_cast<int>(name.size())));
  } while (FindNextFileW(find.h, &fd));
  return names;
}

std::vector<std::string> ListFolderAll(const std::string& APath) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW fd;
  TFindHandle find{FindFirstFileW(Widen(APath + "\\*").c_str(), &fd)};
  if (find.h == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0) names.push_back(Narrow(fd.cFileName));
  } while (FindNextFileW(find.h, &fd));
  return names;
}

bool IsRootedPath(const std::string& APath) {
  if (APath.empty()) return false;
  if (APath[0] == '\\' || APath[0] == '/') return true;
  return APath.size() >= 2 && APath[1] == ':' &&
         ((APath[0] >= 'A' && APath[0] <= 'Z') || (APath[0] >= 'a' && APath[0] <= 'z'));
}

}  // namespace qd::platform::tempfs
