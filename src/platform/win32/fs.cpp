#include "platform/fs.h"

#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "platform/win32/wintext.h"

namespace qd::platform {

const char kPathDelim = '\\';

using win::ErrorText;
using win::Widen;

namespace {

[[noreturn]] void ThrowLastError(const std::string& AWhat) {
  DWORD err = GetLastError();
  throw std::runtime_error(AWhat + ": " + ErrorText(err));
}

DWORD Attributes(const std::string& APath) { return GetFileAttributesW(Widen(APath).c_str()); }

}  // namespace

bool DirectoryExists(const std::string& APath) {
  DWORD a = Attributes(APath);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& APath) {
  DWORD a = Attributes(APath);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void ForceDirectories(const std::string& APath) {
  if (APath.empty()) throw std::runtime_error("Cannot create directory: empty path");
  std::string path = APath;
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (DirectoryExists(path)) return;
  size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0 && path[slash - 1] != ':') ForceDirectories(path.substr(0, slash));
  if (!CreateDirectoryW(Widen(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    ThrowLastError("Cannot create directory " + path);
}

void GrantFolderAccess(const std::string& AFolder) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    ThrowLastError("Cannot grant access to " + AFolder);
  std::wstring folder = Widen(AFolder);
  PACL oldAcl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  DWORD rc = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   &oldAcl, nullptr, &sd);
  if (rc != ERROR_SUCCESS) {
    FreeSid(everyone);
    SetLastError(rc);
    ThrowLastError("Cannot grant access to " + AFolder);
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
      ThrowLastError("Cannot grant access to " + AFolder);
    }
    SetNamedSecurityInfoW(folder.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl,
                          nullptr);
    LocalFree(newAcl);
  }
  LocalFree(sd);
  FreeSid(everyone);
}

bool FolderWritable(const std::string& AFolder) {
  if (!DirectoryExists(AFolder)) return false;
  std::wstring probe = Widen(AFolder) + L"\\.write-test-" + std::to_wstring(GetCurrentProcessId());
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

namespace {

// Opens AFileName as a regular file only: a link in place of the file is opened as itself
// (FILE_FLAG_OPEN_REPARSE_POINT) and refused, and what was opened is checked on the handle.
HANDLE OpenRegular(const std::string& AFileName, DWORD AAccess, DWORD ADisposition) {
  HANDLE h = CreateFileW(Widen(AFileName).c_str(), AAccess, FILE_SHARE_READ | (AAccess == GENERIC_READ ? FILE_SHARE_WRITE : 0),
                         nullptr, ADisposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError("Cannot open file " + AFileName);
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))) {
    CloseHandle(h);
    throw std::runtime_error("Cannot open file " + AFileName + ": not a regular file");
  }
  return h;
}

// Reads up to AMaxBytes from the handle's position to the end, then closes it.
std::string ReadAndClose(HANDLE AHandle, const std::string& AFileName, size_t AMaxBytes) {
  std::string out;
  char buf[65536];
  while (out.size() < AMaxBytes) {
    DWORD want = static_cast<DWORD>(std::min<size_t>(sizeof buf, AMaxBytes - out.size()));
    DWORD n = 0;
    if (!::ReadFile(AHandle, buf, want, &n, nullptr)) {
      DWORD err = GetLastError();
      CloseHandle(AHandle);
      SetLastError(err);
      ThrowLastError("Cannot read file " + AFileName);
    }
    if (n == 0) break;
    out.append(buf, n);
  }
  CloseHandle(AHandle);
  return out;
}

}  // namespace

void AppendToFile(const std::string& AFileName, const std::string& ABytes) {
  HANDLE h = OpenRegular(AFileName, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(h, zero, nullptr, FILE_END)) {
    DWORD err = GetLastError();
    CloseHandle(h);
    SetLastError(err);
    ThrowLastError("Cannot write file " + AFileName);
  }
  const char* p = ABytes.data();
  size_t left = ABytes.size();
  while (left > 0) {
    DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(h, p, chunk, &written, nullptr)) {
      DWORD err = GetLastError();
      CloseHandle(h);
      SetLastError(err);
      ThrowLastError("Cannot write file " + AFileName);
    }
    p += written;
    left -= written;
  }
  CloseHandle(h);
}

bool IsRegularFile(const std::string& APath) {
  DWORD a = Attributes(APath);
  return a != INVALID_FILE_ATTRIBUTES &&
         !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

std::string ReadFileTail(const std::string& AFileName, size_t AMaxBytes, unsigned long long& ASkipped) {
  HANDLE h = OpenRegular(AFileName, GENERIC_READ, OPEN_EXISTING);
  ASkipped = 0;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && static_cast<unsigned long long>(size.QuadPart) > AMaxBytes) {
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart - static_cast<LONGLONG>(AMaxBytes);
    if (SetFilePointerEx(h, from, nullptr, FILE_BEGIN)) ASkipped = static_cast<unsigned long long>(from.QuadPart);
  }
  // At most AMaxBytes, also when the file grows meanwhile.
  return ReadAndClose(h, AFileName, AMaxBytes);
}

bool FileLastWriteTime(const std::string& AFileName, long long& ATime) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Widen(AFileName).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
    return false;
  ATime = static_cast<long long>((static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                 data.ftLastWriteTime.dwLowDateTime);
  return true;
}

std::string ReadFile(const std::string& AFileName) {
  HANDLE h = CreateFileW(Widen(AFileName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError("Cannot open file " + AFileName);
  return ReadAndClose(h, AFileName, SIZE_MAX);
}

}  // namespace qd::platform
