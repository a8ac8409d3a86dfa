// Temporary folders, folder listings and whole-file access of the help viewer and the log
// viewer. Paths are UTF-8.
// Failures throw std::runtime_error carrying the operating system's message.
#pragma once
#include <string>
#include <vector>

namespace qd::platform::tempfs {

// The user's temporary folder as the system reports it, in its long form, without a
// trailing delimiter.
std::string UserTempFolder();

// A freshly generated GUID in its 38-character registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string NewGuidText();

// Creates the folder and every missing parent.
void CreateFolders(const std::string& APath);

// Deletes the folder with everything in it. Symbolic links are removed, never followed.
// Whatever cannot be deleted is left behind without an error.
void RemoveTree(const std::string& APath);

bool FileExists(const std::string& APath);     // a regular file (links are not followed)
bool FolderExists(const std::string& APath);

// Reads the whole file; other processes may read it meanwhile but not write it.
std::string ReadWholeFile(const std::string& APath);

// Creates the file (replacing an existing one) and writes the bytes. Refuses to write through
// a symbolic link. A new file can be read and written by its owner only.
void WriteWholeFile(const std::string& APath, const std::string& ABytes);

// As WriteWholeFile, for a file that the user named: a new file gets the permissions that the
// user's file-creation mask (on Windows, the folder) gives any new file.
void WriteUserFile(const std::string& APath, const std::string& ABytes);

// Names (not paths) of the entries at the top level of the folder whose name matches "*." +
// AExtension (letter case ignored), in the order the system lists them.
std::vector<std::string> ListFolder(const std::string& APath, const std::string& AExtension);

// Names of every entry at the top level of the folder.
std::vector<std::string> ListFolderAll(const std::string& APath);

// True for a rooted path: a leading delimiter, or (on Windows) a drive.
bool IsRootedPath(const std::string& APath);

}  // namespace qd::platform::tempfs
