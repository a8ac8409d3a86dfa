// The running program: the file it was started from. (Its arguments as UTF-8 come from
// CommandLineArgs in platform/env.h.)
#pragma once
#include <string>

namespace qd::platform {

// Full path of the running program's file, UTF-8: on Linux with every symbolic link resolved,
// whether it was started through PATH, a link or a relative path; on Windows the long form of
// the name the system loaded it by. Empty when the system cannot tell.
std::string ProgramPath();

}  // namespace qd::platform
