#include "platform/fs.h"
#include "platform/fserror.h"

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "platform/win32/handle.h"
#include "platform/win32/wintext.h"

namespace qd::platform {

const char kPathDelim = '\\';
const char kPathDelims[] = "\\/";

using win::ErrorText;
using win::TFindHandle;
using win::THandle;
using win::Narrow;
using win::Widen;

namespace {


TFsReason ReasonOf(DWORD AErr) {
  switch (AErr) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return TFsReason::NotFound;
    case ERROR_DIRECTORY: return TFsReason::NotAFolder;
    case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: return TFsReason::AccessDenied;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return TFsReason::NoSpace;
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: return TFsReason::InUse;
    case ERROR_FILENAME_EXCED_RANGE: case ERROR_BUFFER_OVERFLOW: return TFsReason::NameTooLong;
    default: return TFsReason::Other;
  }
}

[[noreturn]] void ThrowLastError(TFsAction AAction, const std::string& ASubject) {
  DWORD err = GetLastError();
  ThrowKind(AAction, ASubject, ErrorText(err), ReasonOf(err), static_cast<int>(err));
}

constexpr DWORD kNotRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

DWORD ShareFlags(TShareMode AShare) {
  return AShare == TShareMode::ReadWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
}

// The attributes of what is at the path; through a reparse point to its target with Follow.
DWORD Attributes(const std::string& APath, TLinks ALinks) {
  std::wstring path = Widen(APath);
  DWORD a = GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_REPARSE_POINT) || ALinks == TLinks::DoNotFollow) return a;
  THandle h(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.Valid()) return INVALID_FILE_ATTRIBUTES;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(h.Get(), &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

bool EndsWithIgnoreCase(const std::wstring& AName, const std::wstring& ASuffix) {
  if (AName.size() < ASuffix.size()) return false;
  return CompareStringOrdinal(AName.c_str() + AName.size() - ASuffix.size(), static_cast<int>(ASuffix.size()),
                              ASuffix.c_str(), static_cast<int>(ASuffix.size()), TRUE) == CSTR_EQUAL;
}

// Opens AFileName as a regular file only: a link in place of the file is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT) and refused, and what was opened is checked on the handle.
THandle OpenRegular(const std::string& AFileName, DWORD AAccess, DWORD AShare, DWORD ADisposition) {
  THandle h(CreateFileW(Widen(AFileName).c_str(), AAccess, AShare, nullptr, ADisposition,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) ThrowLastError(TFsAction::Open, AFileName);
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(h.Get(), &info) ||
      (info.dwFileAttributes & kNotRegular)) {
    ThrowKind(TFsAction::Open, AFileName, "not a regular file", TFsReason::NotARegularFile, 0);
  }
  return h;
}

// Reads up to AMaxBytes from the handle's position to the end, then closes it.
std::string ReadAndClose(THandle AHandle, const std::string& AFileName, size_t AMaxBytes) {
  std::string out;
  char buf[65536];
  while (out.size() < AMaxBytes) {
    DWORD want = static_cast<DWORD>(std::min<size_t>(sizeof buf, AMaxBytes - out.size()));
    DWORD n = 0;
    if (!::ReadFile(AHandle.Get(), buf, want, &n, nullptr)) ThrowLastError(TFsAction::Read, AFileName);
    if (n == 0) break;
    out.append(buf, n);
  }
  return out;
}

// Writes every byte from the handle's position, then closes it.
void WriteAndClose(THandle AHandle, const std::string& AFileName, std::string_view ABytes) {
  const char* p = ABytes.data();
  size_t left = ABytes.size();
  while (left > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(AHandle.Get(), p, chunk, &written, nullptr)) ThrowLastError(TFsAction::Write, AFileName);
    p += written;
    left -= written;
  }
  if (!AHandle.Close()) ThrowLastError(TFsAction::Write, AFileName);
}

}  // namespace

// --- Questions -----------------------------------------------------------------------------

bool FolderExists(const std::string& APath, TLinks ALinks) {
  DWORD a = Attributes(APath, ALinks);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return ALinks == TLinks::Follow || !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool FileExists(const std::string& APath, TLinks ALinks) {
  DWORD a = Attributes(APath, ALinks);
  return a != INVALID_FILE_ATTRIBUTES && !(a & kNotRegular);
}

bool FolderWritable(const std::string& AFolder) {
  if (!FolderExists(AFolder, TLinks::Follow)) return false;
  // A new file of a name of its own, created only where nothing is: an entry that is already
  // there (a file, or a link someone planted under a name they could guess) is never opened or
  // changed.
  const std::wstring base = Widen(AFolder) + L"\\.write-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(GetTickCount64()) + L"-";
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::wstring probe = base + std::to_wstring(attempt);
    THandle h(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (h.Valid()) return true;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool FileLastWriteTime(const std::string& AFileName, long long& ATime) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Widen(AFileName).c_str(), GetFileExInfoStandard, &data) || (data.dwFileAttributes & kNotRegular))
    return false;
  ATime = static_cast<long long>((static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                 data.ftLastWriteTime.dwLowDateTime);
  return true;
}

bool IsRootedPath(const std::string& APath) {
  if (APath.empty()) return false;
  if (APath[0] == '\\' || APath[0] == '/') return true;
  return APath.size() >= 2 && APath[1] == ':' &&
         ((APath[0] >= 'A' && APath[0] <= 'Z') || (APath[0] >= 'a' && APath[0] <= 'z'));
}

// --- Folders -------------------------------------------------------------------------------

std::string UserTempFolder() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) ThrowLastError(TFsAction::Other, "Cannot read the temporary folder");
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

// A new folder takes the permissions that its parent passes on, whatever the access asked.
void CreateFolders(const std::string& APath, TNewAccess AAccess) {
  if (APath.empty()) throw std::runtime_error("Cannot create folder: empty path");
  std::string path = APath;
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (FolderExists(path, TLinks::Follow)) return;
  size_t slash = path.find_last_of(kPathDelims);
  if (slash != std::string::npos && slash > 0 && path[slash - 1] != ':') CreateFolders(path.substr(0, slash), AAccess);
  if (!CreateDirectoryW(Widen(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    ThrowLastError(TFsAction::CreateFolder, path);
}

void GrantFolderAccess(const std::string& AFolder) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    ThrowLastError(TFsAction::GrantAccess, AFolder);
  std::wstring folder = Widen(AFolder);
  PACL oldAcl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  DWORD rc = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   &oldAcl, nullptr, &sd);
  if (rc != ERROR_SUCCESS) {
    FreeSid(everyone);
    SetLastError(rc);
    ThrowLastError(TFsAction::GrantAccess, AFolder);
  }
  bool needEntry = oldAcl != nullptr;
  if (needEntry) {
    for (DWORD i = 0; i < oldAcl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(oldAcl, i, &ace)) continue;
      auto* header = static_cast<ACE_HEADER*>(ace);
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
      // Allowed and denied entries share this layout.
      auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      if (EqualSid(reinterpret_cast<PSID>(&entry->SidStart), everyone) && entry->Mask == GENERIC_ALL) {
        needEntry = false;
        break;
      }
    }
  }
  if (needEntry) {
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL newAcl = nullptr;
    rc = SetEntriesInAclW(1, &access, oldAcl, &newAcl);
    if (rc != ERROR_SUCCESS) {
      LocalFree(sd);
      FreeSid(everyone);
      SetLastError(rc);
      ThrowLastError(TFsAction::GrantAccess, AFolder);
    }
    SetNamedSecurityInfoW(folder.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl,
                          nullptr);
    LocalFree(newAcl);
  }
  LocalFree(sd);
  FreeSid(everyone);
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
    for (const std::string& name : ListFolder(APath)) RemoveTree(APath + "\\" + name);
  }
  RemoveDirectoryW(path.c_str());
}

std::vector<std::string> ListFolder(const std::string& APath) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW fd;
  TFindHandle find{FindFirstFileW(Widen(APath + "\\*").c_str(), &fd)};
  if (!find.Valid()) return names;
  do {
    if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0) names.push_back(Narrow(fd.cFileName));
  } while (FindNextFileW(find.Get(), &fd));
  return names;
}

std::vector<std::string> ListFolder(const std::string& APath, const std::string& AExtension) {
  std::vector<std::string> names;
  std::wstring suffix = Widen("." + AExtension);
  WIN32_FIND_DATAW fd;
  TFindHandle find{FindFirstFileW(Widen(APath + "\\*." + AExtension).c_str(), &fd)};
  if (!find.Valid()) return names;
  do {
    std::wstring name = fd.cFileName;
    // the system also matches short (8.3) names; keep only real matches of the long name
    if (EndsWithIgnoreCase(name, suffix)) names.push_back(Narrow(name.c_str(), static_cast<int>(name.size())));
  } while (FindNextFileW(find.Get(), &fd));
  return names;
}

// --- Reading -------------------------------------------------------------------------------

std::string ReadFile(const std::string& AFileName, TLinks ALinks, TShareMode AShare) {
  THandle h;
  if (ALinks == TLinks::DoNotFollow) {
    h = OpenRegular(AFileName, GENERIC_READ, ShareFlags(AShare), OPEN_EXISTING);
  } else {
    h = THandle(CreateFileW(Widen(AFileName).c_str(), GENERIC_READ, ShareFlags(AShare), nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) ThrowLastError(TFsAction::Open, AFileName);
  }
  return ReadAndClose(std::move(h), AFileName, SIZE_MAX);
}

std::string ReadFileTail(const std::string& AFileName, size_t AMaxBytes, unsigned long long& ASkipped) {
  THandle h = OpenRegular(AFileName, GENERIC_READ, ShareFlags(TShareMode::ReadWrite), OPEN_EXISTING);
  ASkipped = 0;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h.Get(), &size) && static_cast<unsigned long long>(size.QuadPart) > AMaxBytes) {
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart - static_cast<LONGLONG>(AMaxBytes);
    if (SetFilePointerEx(h.Get(), from, nullptr, FILE_BEGIN)) ASkipped = static_cast<unsigned long long>(from.QuadPart);
  }
  // At most AMaxBytes, also when the file grows meanwhile.
  return ReadAndClose(std::move(h), AFileName, AMaxBytes);
}

std::string ReadFileFrom(const std::string& AFileName, unsigned long long AOffset, size_t AMaxBytes,
                         unsigned long long& ASize) {
  THandle h = OpenRegular(AFileName, GENERIC_READ, ShareFlags(TShareMode::ReadWrite), OPEN_EXISTING);
  LARGE_INTEGER size{};
  ASize = GetFileSizeEx(h.Get(), &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
  LARGE_INTEGER from{};
  from.QuadPart = static_cast<LONGLONG>(AOffset);
  if (AOffset >= ASize || !SetFilePointerEx(h.Get(), from, nullptr, FILE_BEGIN)) return std::string();
  return ReadAndClose(std::move(h), AFileName, AMaxBytes);
}

// --- Writing -------------------------------------------------------------------------------

// A new file takes the permissions that its folder passes on, whatever the access asked.
void WriteFile(const std::string& AFileName, std::string_view ABytes, TNewAccess) {
  std::wstring path = Widen(AFileName);
  DWORD attr = GetFileAttributesW(path.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT))
    throw std::runtime_error("Cannot create file " + AFileName + ": the path is a link");
  THandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.Valid()) ThrowLastError(TFsAction::NewFile, AFileName);
  WriteAndClose(std::move(h), AFileName, ABytes);
}

void AppendToFile(const std::string& AFileName, std::string_view ABytes, TNewAccess, TInUseWait AWait) {
  // Other processes may hold the file open the same way and append to it at the same time; a
  // process that holds it without sharing it is waited for briefly, when the caller allows.
  const int attempts = AWait == TInUseWait::Brief ? 50 : 0;
  THandle h;
  for (int attempt = 0;; ++attempt) {
    try {
      h = OpenRegular(AFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS);
      break;
    } catch (const EFsError& e) {
      if (e.Reason != TFsReason::InUse || attempt >= attempts) throw;
      Sleep(10);
    }
  }
  // A second name of the file (a hard link planted in a folder open to everyone) could be any
  // file of the computer that the host may write.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h.Get(), &info) || info.nNumberOfLinks > 1)
    ThrowKind(TFsAction::Open, AFileName, "the file has other names (hard links)", TFsReason::Link, 0);
  // The writers take turns: each holds a lock on one byte far beyond any end of file (it keeps
  // no reader out) while it finds the end and writes there.
  OVERLAPPED turn{};
  turn.OffsetHigh = 0x7FFFFFFF;
  if (!LockFileEx(h.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn)) ThrowLastError(TFsAction::Write, AFileName);
  LARGE_INTEGER zero{}, end{};
  DWORD written = 0;
  bool ok = SetFilePointerEx(h.Get(), zero, &end, FILE_END) && ABytes.size() <= (1u << 30) &&
            ::WriteFile(h.Get(), ABytes.data(), static_cast<DWORD>(ABytes.size()), &written, nullptr) &&
            written == ABytes.size();
  DWORD err = ok ? 0 : GetLastError();
  if (!ok) {
    // A part went out (a full disk): it is taken back, so that the file holds the bytes whole
    // or not at all.
    if (written > 0 && SetFilePointerEx(h.Get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(h.Get());
    if (err == ERROR_SUCCESS) err = ERROR_HANDLE_DISK_FULL;
  }
  UnlockFileEx(h.Get(), 0, 1, 0, &turn);
  if (!ok) {
    SetLastError(err);
    ThrowLastError(TFsAction::Write, AFileName);
  }
  if (!h.Close()) ThrowLastError(TFsAction::Write, AFileName);
}

}  // namespace qd::platform
