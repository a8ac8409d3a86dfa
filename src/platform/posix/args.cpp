#include "platform/args.h"

#include <unistd.h>

#include <string>

namespace qd::platform {

std::string ProgramPath() {
  // The kernel's own link to the program's file: never argv[0], which may be a bare name found
  // through PATH, a link, or relative to a folder the program has left.
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    if (path.size() >= 65536) return std::string();
    path.resize(path.size() * 2);
  }
}

}  // namespace qd::platform
