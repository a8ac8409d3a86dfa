// One of several processes that write the same day's log at once, as a terminal server's
// sessions or a client beside a job server do: writes COUNT lines "MARKER<n>" and records in
// FOLDER/warnings-MARKER.txt how many runs of failures the log reported.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/log.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: log_append_child FOLDER COUNT MARKER\n");
    return 2;
  }
  const std::string folder = argv[1], marker = argv[3];
  const int count = std::atoi(argv[2]);
  qd::SetLogFolder(folder);
  qd::SetLogFileBaseName("shared");
  qd::SetLogLevel(qd::kLogLevelAll);
  int warnings = 0;
  std::string message;
  for (int i = 0; i < count; ++i) {
    qd::WriteLog(marker + std::to_string(i), "", qd::kLogInfo);
    if (qd::TakeLogFailure(message)) ++warnings;
  }
  qd::SetLogLevel(0);
  if (qd::TakeLogFailure(message)) ++warnings;
  std::ofstream(folder + "/warnings-" + marker + ".txt") << warnings << "\n";
  return 0;
}
