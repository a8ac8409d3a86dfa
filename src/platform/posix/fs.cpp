#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace qd::platform {

const char kPathDelim = '/';

namespace {

[[noreturn]] void ThrowErrno(const std::string& AWhat, int AErr) {
  throw std::runtime_error(AWhat + ": " + std::strerror(AErr));
}

}  // namespace

bool DirectoryExists(const std::string& APath) {
  struct stat st {};
  return stat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& APath) {
  struct stat st {};
  return stat(APath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void ForceDirectories(const std::string& APath) {
  if (APath.empty()) throw std::runtime_error("Cannot create directory: empty path");
  std::string path = APath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (DirectoryExists(path)) return;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) ForceDirectories(path.substr(0, slash));
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) ThrowErrno("Cannot create directory " + path, errno);
}

void GrantFolderAccess(const std::string& AFolder) {
  if (chmod(AFolder.c_str(), 01777) != 0) ThrowErrno("Cannot grant access to " + AFolder, errno);
}

bool FolderWritable(const std::string& AFolder) {
  return DirectoryExists(AFolder) && access(AFolder.c_str(), W_OK | X_OK) == 0;
}

namespace {

// Opens AFileName as a regular file only: no link is followed (O_NOFOLLOW), a pipe or device
// is never waited on (O_NONBLOCK), and what was opened is checked on the descriptor itself.
int OpenRegular(const std::string& AFileName, int AFlags, bool& ACreated) {
  const int flags = AFlags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  ACreated = false;
  int fd = -1;
  if (AFlags & O_CREAT) {
    fd = open(AFileName.c_str(), flags | O_EXCL, 0666);
    if (fd >= 0) ACreated = true;
    else if (errno == EEXIST) fd = open(AFileName.c_str(), flags & ~O_CREAT);
  } else {
    fd = open(AFileName.c_str(), flags);
  }
  if (fd < 0) {
    int err = errno;
    if (err == ELOOP) throw std::runtime_error("Cannot open file " + AFileName + ": the path is a symbolic link");
    if (err == ENXIO) throw std::runtime_error("Cannot open file " + AFileName + ": not a regular file");
    ThrowErrno("Cannot open file " + AFileName, err);
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    throw std::runtime_error("Cannot open file " + AFileName + ": not a regular file");
  }
  return fd;
}

// Reads up to AMaxBytes from the descriptor's position to the end, then closes it.
std::string ReadAndClose(int AFd, const std::string& AFileName, size_t AMaxBytes) {
  std::string out;
  char buf[65536];
  while (out.size() < AMaxBytes) {
    ssize_t n = read(AFd, buf, std::min(sizeof buf, AMaxBytes - out.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(AFd);
      ThrowErrno("Cannot read file " + AFileName, err);
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(AFd);
  return out;
}

}  // namespace

void AppendToFile(const std::string& AFileName, const std::string& ABytes) {
  bool created = false;
  int fd = OpenRegular(AFileName, O_WRONLY | O_APPEND | O_CREAT, created);
  // The process umask would narrow the mode; log files are shared by every user.
  if (created) (void)fchmod(fd, 0666);
  const char* p = ABytes.data();
  size_t left = ABytes.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      ThrowErrno("Cannot write file " + AFileName, err);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (close(fd) != 0) ThrowErrno("Cannot write file " + AFileName, errno);
}

bool IsRegularFile(const std::string& APath) {
  struct stat st {};
  return lstat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadFileTail(const std::string& AFileName, size_t AMaxBytes, unsigned long long& ASkipped) {
  bool created = false;
  int fd = OpenRegular(AFileName, O_RDONLY, created);
  ASkipped = 0;
  struct stat st {};
  if (fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > AMaxBytes) {
    off_t from = st.st_size - static_cast<off_t>(AMaxBytes);
    if (lseek(fd, from, SEEK_SET) == from) ASkipped = static_cast<unsigned long long>(from);
  }
  // At most AMaxBytes, also when the file grows meanwhile.
  return ReadAndClose(fd, AFileName, AMaxBytes);
}

bool FileLastWriteTime(const std::string& AFileName, long long& ATime) {
  struct stat st {};
  if (lstat(AFileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  ATime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

std::string ReadFile(const std::string& AFileName) {
  int fd = open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowErrno("Cannot open file " + AFileName, errno);
  return ReadAndClose(fd, AFileName, SIZE_MAX);
}

}  // namespace qd::platform
