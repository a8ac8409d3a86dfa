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
// file meanwhile but not write it. New files are readable and writable by all users; a
// symbolic link in place of the file is refused rather than followed.
void AppendToFile(const std::string& AFileName, const std::string& ABytes);

// Last-write time of a file as a number that grows with the time (the system's own units);
// false when there is no such file.
bool FileLastWriteTime(const std::string& AFileName, long long& ATime);
// Whole-file read; throws when the file cannot be read.
std::string ReadFile(const std::string& AFileName);

}  // namespace qd::platform
