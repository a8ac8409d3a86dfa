#include "platform/fs.h"
#include "platform/fserror.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <stdexcept>

namespace qd::platform {

const char kPathDelim = '/';
const char kPathDelims[] = "/";

namespace {


TFsReason ReasonOf(int AErr) {
  switch (AErr) {
    case ENOENT: return TFsReason::NotFound;
    case ENOTDIR: return TFsReason::NotAFolder;
    case EACCES: case EPERM: case EROFS: return TFsReason::AccessDenied;
    case ENOSPC: case EFBIG: case EDQUOT: return TFsReason::NoSpace;
    case ELOOP: return TFsReason::Link;
    case ENXIO: return TFsReason::NotARegularFile;
    case EBUSY: case ETXTBSY: return TFsReason::InUse;
    case ENAMETOOLONG: return TFsReason::NameTooLong;
    default: return TFsReason::Other;
  }
}

[[noreturn]] void ThrowErrno(TFsAction AAction, const std::string& ASubject, int AErr) {
  ThrowKind(AAction, ASubject, std::strerror(AErr), ReasonOf(AErr), AErr);
}

bool StatPath(const std::string& APath, TLinks ALinks, struct stat& ASt) {
  return (ALinks == TLinks::Follow ? stat(APath.c_str(), &ASt) : lstat(APath.c_str(), &ASt)) == 0;
}

mode_t FolderMode(TNewAccess AAccess) { return AAccess == TNewAccess::OwnerOnly ? 0700 : 0777; }
mode_t FileMode(TNewAccess AAccess) { return AAccess == TNewAccess::OwnerOnly ? 0600 : 0666; }

// The process umask narrows a new file's mode; Everyone must not be narrowed.
void WidenNewFile(int AFd, TNewAccess AAccess) {
  if (AAccess == TNewAccess::Everyone) (void)fchmod(AFd, 0666);
}

bool EndsWithIgnoreCase(const std::string& AName, const std::string& ASuffix) {
  if (AName.size() < ASuffix.size()) return false;
  for (size_t i = 0; i < ASuffix.size(); ++i) {
    unsigned char a = static_cast<unsigned char>(AName[AName.size() - ASuffix.size() + i]);
    unsigned char b = static_cast<unsigned char>(ASuffix[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

// Opens AFileName as a regular file only: no link is followed (O_NOFOLLOW), a pipe or device
// is never waited on (O_NONBLOCK), and what was opened is checked on the descriptor itself.
int OpenRegular(const std::string& AFileName, int AFlags, TNewAccess AAccess) {
  const int flags = AFlags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  bool created = false;
  int fd = -1;
  if (AFlags & O_CREAT) {
    fd = open(AFileName.c_str(), flags | O_EXCL, FileMode(AAccess));
    if (fd >= 0) created = true;
    else if (errno == EEXIST) fd = open(AFileName.c_str(), flags & ~O_CREAT);
  } else {
    fd = open(AFileName.c_str(), flags);
  }
  if (fd < 0) {
    int err = errno;
    if (err == ELOOP) ThrowKind(TFsAction::Open, AFileName, "the path is a symbolic link", TFsReason::Link, 0);
    if (err == ENXIO) ThrowKind(TFsAction::Open, AFileName, "not a regular file", TFsReason::NotARegularFile, 0);
    ThrowErrno(TFsAction::Open, AFileName, err);
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    ThrowKind(TFsAction::Open, AFileName, "not a regular file", TFsReason::NotARegularFile, 0);
  }
  if (created) WidenNewFile(fd, AAccess);
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
      ThrowErrno(TFsAction::Read, AFileName, err);
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(AFd);
  return out;
}

// Writes every byte, then closes the descriptor.
void WriteAndClose(int AFd, const std::string& AFileName, std::string_view ABytes) {
  const char* p = ABytes.data();
  size_t left = ABytes.size();
  while (left > 0) {
    ssize_t n = write(AFd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(AFd);
      ThrowErrno(TFsAction::Write, AFileName, err);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (close(AFd) != 0) ThrowErrno(TFsAction::Write, AFileName, errno);
}

// A descriptor closed with its holder unless released.
class TFd {
 public:
  explicit TFd(int AFd) : FFd(AFd) {}
  ~TFd() {
    if (FFd >= 0) close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }
  int Release() {
    int fd = FFd;
    FFd = -1;
    return fd;
  }

 private:
  int FFd;
};

struct TDirCloser {
  DIR* Dir;
  ~TDirCloser() {
    if (Dir) closedir(Dir);
  }
};

}  // namespace

// --- Questions -----------------------------------------------------------------------------

bool FolderExists(const std::string& APath, TLinks ALinks) {
  struct stat st {};
  return StatPath(APath, ALinks, st) && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& APath, TLinks ALinks) {
  struct stat st {};
  return StatPath(APath, ALinks, st) && S_ISREG(st.st_mode);
}

bool FolderWritable(const std::string& AFolder) {
  return FolderExists(AFolder, TLinks::Follow) && access(AFolder.c_str(), W_OK | X_OK) == 0;
}

bool FileLastWriteTime(const std::string& AFileName, long long& ATime) {
  struct stat st {};
  if (lstat(AFileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  ATime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

bool IsRootedPath(const std::string& APath) { return !APath.empty() && APath[0] == '/'; }

// --- Folders -------------------------------------------------------------------------------

std::string UserTempFolder() {
  std::string dir;
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    const char* v = std::getenv(name);
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
  if (fd < 0) ThrowErrno(TFsAction::Other, "Cannot generate a GUID", errno);
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = read(fd, b + got, sizeof b - got);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      int err = n < 0 ? errno : EIO;
      close(fd);
      ThrowErrno(TFsAction::Other, "Cannot generate a GUID", err);
    }
    got += static_cast<size_t>(n);
  }
  close(fd);
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // variant
  char text[39];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

void CreateFolders(const std::string& APath, TNewAccess AAccess) {
  if (APath.empty()) throw std::runtime_error("Cannot create folder: empty path");
  std::string path = APath;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (FolderExists(path, TLinks::Follow)) return;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) CreateFolders(path.substr(0, slash), AAccess);
  if (mkdir(path.c_str(), FolderMode(AAccess)) != 0 && errno != EEXIST) ThrowErrno(TFsAction::CreateFolder, path, errno);
}

void GrantFolderAccess(const std::string& AFolder) {
  if (chmod(AFolder.c_str(), 01777) != 0) ThrowErrno(TFsAction::GrantAccess, AFolder, errno);
}

void RemoveTree(const std::string& APath) {
  struct stat st {};
  if (lstat(APath.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const std::string& name : ListFolder(APath)) RemoveTree(APath + "/" + name);
    rmdir(APath.c_str());
  } else {
    unlink(APath.c_str());
  }
}

std::vector<std::string> ListFolder(const std::string& APath) {
  std::vector<std::string> names;
  TDirCloser d{opendir(APath.c_str())};
  if (!d.Dir) return names;
  while (dirent* e = readdir(d.Dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  }
  return names;
}

std::vector<std::string> ListFolder(const std::string& APath, const std::string& AExtension) {
  std::vector<std::string> names = ListFolder(APath);
  const std::string suffix = "." + AExtension;
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& AName) { return !EndsWithIgnoreCase(AName, suffix); }),
              names.end());
  return names;
}

// --- Reading -------------------------------------------------------------------------------

std::string ReadFile(const std::string& AFileName, TLinks ALinks, TShareMode) {
  int fd = -1;
  if (ALinks == TLinks::DoNotFollow) {
    fd = OpenRegular(AFileName, O_RDONLY, TNewAccess::OwnerOnly);
  } else {
    fd = open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ThrowErrno(TFsAction::Open, AFileName, errno);
  }
  return ReadAndClose(fd, AFileName, SIZE_MAX);
}

std::string ReadFileTail(const std::string& AFileName, size_t AMaxBytes, unsigned long long& ASkipped) {
  int fd = OpenRegular(AFileName, O_RDONLY, TNewAccess::OwnerOnly);
  ASkipped = 0;
  struct stat st {};
  if (fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > AMaxBytes) {
    off_t from = st.st_size - static_cast<off_t>(AMaxBytes);
    if (lseek(fd, from, SEEK_SET) == from) ASkipped = static_cast<unsigned long long>(from);
  }
  // At most AMaxBytes, also when the file grows meanwhile.
  return ReadAndClose(fd, AFileName, AMaxBytes);
}

std::string ReadFileFrom(const std::string& AFileName, unsigned long long AOffset, size_t AMaxBytes,
                         unsigned long long& ASize) {
  int fd = OpenRegular(AFileName, O_RDONLY, TNewAccess::OwnerOnly);
  struct stat st {};
  ASize = fstat(fd, &st) == 0 ? static_cast<unsigned long long>(st.st_size) : 0;
  if (AOffset >= ASize || lseek(fd, static_cast<off_t>(AOffset), SEEK_SET) != static_cast<off_t>(AOffset)) {
    close(fd);
    return std::string();
  }
  return ReadAndClose(fd, AFileName, AMaxBytes);
}

// --- Writing -------------------------------------------------------------------------------

void WriteFile(const std::string& AFileName, std::string_view ABytes, TNewAccess AAccess) {
  int fd = open(AFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, FileMode(AAccess));
  if (fd < 0) ThrowErrno(TFsAction::NewFile, AFileName, errno);
  WidenNewFile(fd, AAccess);
  WriteAndClose(fd, AFileName, ABytes);
}

namespace {

// Holds SIGXFSZ back on this thread while it lives: a write beyond the file size limit then
// fails with EFBIG instead of ending the host process. A signal raised meanwhile by this
// thread's write is taken off before the old mask comes back; one that was pending before is
// left alone.
class TNoFileSizeSignal {
 public:
  TNoFileSizeSignal() {
    sigemptyset(&FSet);
    sigaddset(&FSet, SIGXFSZ);
    FBlocked = pthread_sigmask(SIG_BLOCK, &FSet, &FOld) == 0;
    sigset_t pending;
    FWasPending = FBlocked && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
  }
  ~TNoFileSizeSignal() {
    if (!FBlocked) return;
    sigset_t pending;
    if (!FWasPending && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
      timespec none{};
      (void)sigtimedwait(&FSet, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
  }
  TNoFileSizeSignal(const TNoFileSizeSignal&) = delete;
  TNoFileSizeSignal& operator=(const TNoFileSizeSignal&) = delete;

 private:
  sigset_t FSet, FOld;
  bool FBlocked = false;
  bool FWasPending = false;
};

}  // namespace

void AppendToFile(const std::string& AFileName, std::string_view ABytes, TNewAccess AAccess, TInUseWait) {
  TFd fd(OpenRegular(AFileName, O_WRONLY | O_APPEND | O_CREAT, AAccess));
  // A second name of the file (a hard link planted in a folder open to everyone) could be any
  // file of the computer that the host may write.
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0 || st.st_nlink > 1)
    ThrowKind(TFsAction::Open, AFileName, "the file has other names (hard links)", TFsReason::Link, 0);
  const TNoFileSizeSignal noSignal;
  // One write puts the bytes at the end whole, whatever other processes append meanwhile.
  size_t done = 0;
  int err = 0;
  while (done < ABytes.size()) {
    ssize_t n = write(fd.Get(), ABytes.data() + done, ABytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (err == 0) {
    if (close(fd.Release()) != 0) ThrowErrno(TFsAction::Write, AFileName, errno);
    return;
  }
  // A part went out (a full disk, a size limit): it is taken back, so that the file holds the
  // bytes whole or not at all. Only when nothing was appended behind it.
  if (done > 0) {
    off_t end = lseek(fd.Get(), 0, SEEK_CUR);
    struct stat st {};
    // Should that fail too, the write's own error below is still the one to report.
    if (end >= static_cast<off_t>(done) && fstat(fd.Get(), &st) == 0 && st.st_size == end &&
        ftruncate(fd.Get(), end - static_cast<off_t>(done)) != 0) {
    }
  }
  ThrowErrno(TFsAction::Write, AFileName, err);
}

}  // namespace qd::platform
