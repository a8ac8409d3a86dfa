// Files and folders: the log folder and its files, the help viewer's temporary folder, files
// that a user names. Paths are UTF-8. Failures throw EFsError: the operating system's message,
// and beside it what failed, on which path, and a kind of reason that callers put into words.
//
// What differs between those uses is chosen at each call:
// - TLinks: whether a symbolic link (on Windows, any reparse point) at the path is followed
//   or taken for what it is, which is never a file or folder of ours;
// - TNewAccess: who may use a file or folder that the call creates;
// - TShareMode: what other processes may do with a file while it is being read.
#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qd::platform {

enum class TFsAction { Open, Read, Write, NewFile, CreateFolder, GrantAccess, Other };
enum class TFsReason { NotFound, NotAFolder, NotARegularFile, Link, AccessDenied, NoSpace, InUse, NameTooLong, Other };

class EFsError : public std::runtime_error {
 public:
  EFsError(const std::string& AMessage, TFsAction AAction, TFsReason AReason, std::string APath, int ACode)
      : std::runtime_error(AMessage), Action(AAction), Reason(AReason), Path(std::move(APath)), Code(ACode) {}
  TFsAction Action;
  TFsReason Reason;
  std::string Path;
  int Code;  // the system's error number; 0 when the reason is the path's kind
};

// The system's path delimiter, and every character that it takes as one ("\\/" on Windows).
extern const char kPathDelim;
extern const char kPathDelims[];

enum class TLinks { Follow, DoNotFollow };

// OwnerOnly: the user alone (mode 0700 for folders, 0600 for files).
// UserDefault: what the user's file-creation mask gives any new file or folder.
// Everyone: every user may read and write (files only).
// On Windows a new item takes the permissions its folder passes on in every case.
enum class TNewAccess { OwnerOnly, UserDefault, Everyone };

// Others may read the file meanwhile (Read), or read and write it (ReadWrite). Only Windows
// enforces it; elsewhere both are the same.
enum class TShareMode { Read, ReadWrite };

// --- Questions -----------------------------------------------------------------------------

// A folder at the path; with DoNotFollow a link to a folder is not one.
bool FolderExists(const std::string& APath, TLinks ALinks);
// A regular file at the path; with DoNotFollow a link to a file is not one.
bool FileExists(const std::string& APath, TLinks ALinks);

// True when a file can be created in the folder (the folder exists and is writable).
bool FolderWritable(const std::string& AFolder);

// Last-write time of a regular file as a number that grows with the time (the system's own
// units); false when there is no such file. Links are not followed.
bool FileLastWriteTime(const std::string& AFileName, long long& ATime);

// True for a rooted path: a leading delimiter, or (on Windows) a drive.
bool IsRootedPath(const std::string& APath);

// --- Folders -------------------------------------------------------------------------------

// The user's temporary folder as the system reports it, in its long form, without a
// trailing delimiter.
std::string UserTempFolder();

// A freshly generated GUID in its 38-character registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}":
// a name that no other folder has.
std::string NewGuidText();

// Creates the folder and every missing parent, each new one with the given access
// (OwnerOnly or UserDefault). An existing folder is left as it is.
void CreateFolders(const std::string& APath, TNewAccess AAccess);

// Opens the folder to every user: on Windows a generic-all entry for the Everyone group,
// inherited by files and subfolders; elsewhere mode 1777 (writable by all, sticky).
void GrantFolderAccess(const std::string& AFolder);

// Deletes the folder with everything in it. Symbolic links are removed, never followed.
// Whatever cannot be deleted is left behind without an error.
void RemoveTree(const std::string& APath);

// Names (not paths) of every entry at the top level of the folder, in the order the system
// lists them; none when the folder cannot be read.
std::vector<std::string> ListFolder(const std::string& APath);
// Only the names that end with "." + AExtension (letter case ignored).
std::vector<std::string> ListFolder(const std::string& APath, const std::string& AExtension);

// --- Reading -------------------------------------------------------------------------------

// The whole file. With DoNotFollow only a regular file is read: a link in its place is
// refused, and a pipe or device is refused without waiting on it.
std::string ReadFile(const std::string& AFileName, TLinks ALinks, TShareMode AShare);

// At most the last AMaxBytes of a regular file (no link followed, no wait on a pipe or
// device), shared for reading and writing. ASkipped receives how many bytes before them were
// left out.
std::string ReadFileTail(const std::string& AFileName, size_t AMaxBytes, unsigned long long& ASkipped);

// At most AMaxBytes of a regular file from the byte at AOffset on (nothing when the file is
// not that long), opened as ReadFileTail opens it; ASize receives the file's size.
std::string ReadFileFrom(const std::string& AFileName, unsigned long long AOffset, size_t AMaxBytes,
                         unsigned long long& ASize);

// --- Writing -------------------------------------------------------------------------------

// Creates the file, replacing an existing one, and writes the bytes. A link at the path is
// refused, never written through. Nobody else may open the file meanwhile.
void WriteFile(const std::string& AFileName, std::string_view ABytes, TNewAccess AAccess);

// Whether an append waits for a file that another program holds open without sharing it.
enum class TInUseWait { Brief, None };

// Appends the bytes to the file, creating it when missing, in one write: other processes that
// append the same way at the same time take turns, and may read the file meanwhile. Only a
// regular file with one name is written: a symbolic link in its place, or a file that has other
// names too (a hard link, which could lead to any file of the computer), is refused (reason
// Link), and a pipe or device is refused without waiting on it. A write cut short (a full disk,
// a file size limit, which never raises a signal here) is taken back, so the file holds the
// bytes whole or not at all. A file held open by another program without write sharing is
// waited for up to half a second with AWait Brief (Windows only; reason InUse after that), and
// not at all with None.
void AppendToFile(const std::string& AFileName, std::string_view ABytes, TNewAccess AAccess,
                  TInUseWait AWait = TInUseWait::Brief);

}  // namespace qd::platform
