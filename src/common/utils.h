// Environment helpers: this module's path and version, the OS name, folder grants and the
// log folder.
#pragma once
#include <string>

#include "platform/env.h"

namespace qd {

std::string GetModulePath();
platform::TFileVersion GetModuleVersion();
// "%d.%d.%d.%d"; "0.0.0.0" when the module carries no version.
std::string GetModuleVersionText();
std::string GetOSName();
void GrantFolderAccess(const std::string& AFolder);

// File name without its folder part.
std::string ExtractFileName(const std::string& APath);
// The folder part of a path with its final delimiter; empty when there is none.
std::string ExtractFilePath(const std::string& APath);

// Environment variable that overrides the log folder (for administrators and tests).
constexpr const char* kLogFolderEnv = "W_QUENDAL7V2K_LOG_DIR";

// Folder where the driver keeps its logs: the override above when set; otherwise
// <common data folder>/Telvarin/w_quendal7v2k when it can be created and written, else the
// same under the user's data folder. Nothing is created here.
std::string DefaultLogFolder();

}  // namespace qd
