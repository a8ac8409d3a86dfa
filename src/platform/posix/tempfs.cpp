#include "platform/tempfs.h"

#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace qd::platform::tempfs {

namespace {

[[noreturn]] void ThrowErrno(const std::string& AWhat) {
  throw std::runtime_error(AWhat + ": " + std::strerror(errno));
}

bool EndsWithIgnoreCase(const std::string& AName, const std::string& ASuffix) {
  if (AName.size() < ASuffix.size()) return false;
  for (std::size_t i = 0; i < ASuffix.size(); ++i) {
    unsigned char a = static_cast<unsigned char>(AName[AName.size() - ASuffix.size() + i]);
    unsigned char b = static_cast<unsigned char>(ASuffix[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

}  // namespace

std::string UserTempFolder() {
  const char* names[] = {"TMPDIR", "TMP", "TEMP"};
  std::string dir;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (v && *v) {
      dir = v;
      break;
    }
  }
  if (dir.empty()) dir = "/tmp";
  if (char* real = realpath(dir.c_str(), nullptr)) {
    dir = real;
    std::free(real);
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string NewGuidText() {
  unsigned char b[16];
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowErrno("Cannot generate a GUID");
  std::size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = read(fd, b + got, sizeof b - got);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      close(fd);
      ThrowErrno("Cannot generate a GUID");
    }
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // variant
  char text[39];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

void CreateFolders(const std::string& APath) {
  if (APath.empty()) throw std::runtime_error("Cannot create folder: empty path");
  std::string path = APath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (FolderExists(path)) return;
  std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) CreateFolders(path.substr(0, slash));
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) ThrowErrno("Cannot create folder " + path);
}

void RemoveTree(const std::string& APath) {
  struct stat st;
  if (lstat(APath.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(APath.c_str())) {
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        RemoveTree(APath + "/" + e->d_name);
      }
      closedir(d);
    }
    rmdir(APath.c_str());
  } else {
    unlink(APath.c_str());
  }
}

bool FileExists(const std::string& APath) {
  struct stat st;
  return lstat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& APath) {
  struct stat st;
  return lstat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ReadWholeFile(const std::string& APath) { return platform::ReadFile(APath); }

namespace {

void WriteFileWithMode(const std::string& APath, const std::string& ABytes, mode_t AMode) {
  int fd = open(APath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, AMode);
  if (fd < 0) ThrowErrno("Cannot create file " + APath);
  std::size_t done = 0;
  while (done < ABytes.size()) {
    ssize_t n = write(fd, ABytes.data() + done, ABytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      errno = err;
      ThrowErrno("Cannot write file " + APath);
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) ThrowErrno("Cannot write file " + APath);
}

}  // namespace

void WriteWholeFile(const std::string& APath, const std::string& ABytes) { WriteFileWithMode(APath, ABytes, 0600); }

// the mask takes away what the user does not give new files
void WriteUserFile(const std::string& APath, const std::string& ABytes) { WriteFileWithMode(APath, ABytes, 0666); }

std::vector<std::string> ListFolder(const std::string& APath, const std::string& AExtension) {
  std::vector<std::string> names;
  DIR* d = opendir(APath.c_str());
  if (!d) return names;
  const std::string suffix = "." + AExtension;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (EndsWithIgnoreCase(name, suffix)) names.push_back(name);
  }
  closedir(d);
  return names;
}

std::vector<std::string> ListFolderAll(const std::string& APath) {
  std::vector<std::string> names;
  DIR* d = opendir(APath.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

bool IsRootedPath(const std::string& APath) { return !APath.empty() && APath[0] == '/'; }

}  // namespace qd::platform::tempfs
