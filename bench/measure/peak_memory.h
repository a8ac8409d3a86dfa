// The process's resident memory as Linux reports it, for the benchmarks that measure the peak
// of one operation: reset the peak, run, read the peak.
#pragma once
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace qd::bench {

// A line of the process status in bytes ("VmHWM:" peak, "VmRSS:" current resident size); 0
// when the system does not offer it.
inline long long StatusBytes(const char* AKey) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(AKey);
  while (std::getline(status, line))
    if (line.rfind(AKey, 0) == 0) return std::atoll(line.c_str() + n) * 1024;
  return 0;
}

// Sets the peak resident size back to the current one; false when the system cannot.
inline bool ResetPeak() {
  std::ofstream refs("/proc/self/clear_refs");
  refs << "5";
  refs.flush();
  return static_cast<bool>(refs);
}

}  // namespace qd::bench
