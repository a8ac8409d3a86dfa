#include "common/utils.h"

#include <cstdio>

#include "platform/fs.h"

namespace qd {

std::string GetModulePath() { return platform::ModulePath(); }

platform::TFileVersion GetModuleVersion() { return platform::ModuleVersion(); }

std::string GetModuleVersionText() {
  platform::TFileVersion v = GetModuleVersion();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", v.Major, v.Minor, v.Release, v.Build);
  return buf;
}

std::string GetOSName() { return platform::OSName(); }

void GrantFolderAccess(const std::string& AFolder) { platform::GrantFolderAccess(AFolder); }

namespace {
// where the folder part of a path ends
size_t FolderEnd(const std::string& APath) {
  return APath.find_last_of(platform::kPathDelim == '\\' ? "\\/:" : "/");
}
}  // namespace

std::string ExtractFileName(const std::string& APath) {
  size_t pos = FolderEnd(APath);
  return pos == std::string::npos ? APath : APath.substr(pos + 1);
}

std::string ExtractFilePath(const std::string& APath) {
  size_t pos = FolderEnd(APath);
  return pos == std::string::npos ? std::string() : APath.substr(0, pos + 1);
}

namespace {

std::string Join(const std::string& ABase) {
  std::string delim(1, platform::kPathDelim);
  std::string base = ABase;
  while (!base.empty() && base.back() == platform::kPathDelim) base.pop_back();
  return base + delim + "Telvarin" + delim + "w_quendal7v2k";
}

// The folder is usable when it exists writable, or its nearest existing parent is writable.
bool Creatable(const std::string& AFolder) {
  std::string path = AFolder;
  while (!path.empty()) {
    if (platform::FolderExists(path, platform::TLinks::Follow)) return platform::FolderWritable(path);
    size_t pos = path.find_last_of(platform::kPathDelims);
    if (pos == std::string::npos || pos == 0) break;
    path.resize(pos);
  }
  return false;
}

}  // namespace

std::string DefaultLogFolder() {
  std::string overridden = platform::GetEnv(kLogFolderEnv);
  if (!overridden.empty()) return overridden;
  std::string common = platform::CommonDataFolder();
  if (!common.empty()) {
    std::string folder = Join(common);
    if (Creatable(folder)) return folder;
  }
  std::string user = platform::UserDataFolder();
  if (!user.empty()) return Join(user);
  return common.empty() ? std::string() : Join(common);
}

}  // namespace qd
