// Files and folders. Paths are UTF-8. Failures throw std::runtime_error carrying the
// operating system's message.
#pragma once
#include <string>

namespace qd::platform {

extern const char kPathDelim;

bool DirectoryExists(const std::string& APath);
bool FileExists(const std::string& APath);

// Creates the folder and every missing parent.
void ForceDirectories(const std::string& APath);

// Opens the folder to every user: on Windows a generic-all entry for the Everyone group,
// inherited by files and subfolders; on Linux mode 1777 (writable by all, sticky).
void GrantFolderAccess(const std::string& AFolder);

// True when a file can be created in the folder (the folder exists and is writable).
bool FolderWritable(const std::string& AFolder);

// Appends the bytes to the file, creating it when missing. Other processes may read the
// file meanwhile but not write it. New files are readable and writable by all users. Only a
// regular file is written: a symbolic link in place of the file is refused rather than
// followed, and a pipe or device planted under the name is refused without waiting on it.
void AppendToFile(const std::string& AFileName, const std::string& ABytes);

// True for a regular file; a symbolic link is not followed and is not one.
bool IsRegularFile(const std::string& APath);

// At most the last AMaxBytes of a regular file, opened as AppendToFile opens it (no link
// followed, no wait on a pipe or device). ASkipped receives how many bytes before them were
// left out. Throws when the file cannot be opened or is not a regular file.
std::string ReadFileTail(const std::string& AFileName, size_t AMaxBytes, unsigned long long& ASkipped);

// Last-write time of a regular file as a number that grows with the time (the system's own
// units); false when there is no such file. Links are not followed.
bool FileLastWriteTime(const std::string& AFileName, long long& ATime);
// Whole-file read; throws when the file cannot be read.
std::string ReadFile(const std::string& AFileName);

}  // namespace qd::platform
