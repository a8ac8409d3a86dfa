// A host that exits while its threads are in the middle of logged calls, as when the user closes
// the host during an upload with the log on. The process must end, at once and cleanly: the
// module's unload code runs while (Linux) or after (Windows) the other threads are stopped in
// whatever they were doing, the log's lock perhaps held. The test's run ends the process from
// the main thread once every thread is calling; CTest fails the run when it does not end in time
// or ends with an error.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "support/testenv.h"

using qd::host::TComponent;
using qd::host::THostValue;

int main() {
  // The log folder stays: the process does not get to remove it.
  const std::filesystem::path logs = std::filesystem::temp_directory_path() / "qd-exit-while-logging";
  std::filesystem::create_directories(logs);
  qd::test::SetEnvVar("W_QUENDAL7V2K_LOG_DIR", logs.string());
  // Lives to the end of the process: unloading it is the exit's business.
  auto* module = new qd::host::TModule(qd::test::ModuleFile("w_quendal7v2k"));
  constexpr int kThreads = 4;
  std::atomic<int> calling{0};
  std::atomic<long> calls{0};
  for (int i = 0; i < kThreads; ++i) {
    std::thread([module, &calling, &calls] {
      auto* c = new TComponent(*module, "w_quendal7v2k");
      c->Call("SetParameter", {THostValue::Text("LogEnabled"), THostValue::Bool(true)});
      c->Call("SetParameter", {THostValue::Text("IPAddress"), THostValue::Text("127.0.0.1")});
      c->Call("SetParameter", {THostValue::Text("IPPort"), THostValue::Text("1")});
      c->Call("Open", {THostValue::Empty()});  // switches the log on; the connect may fail
      ++calling;
      for (;;) {
        c->Call("GetDescription", {THostValue::Empty()});
        ++calls;
      }
    }).detach();
  }
  while (calling < kThreads) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const long start = calls;
  while (calls < start + 200) std::this_thread::yield();
  std::printf("exiting after %ld logged calls\n", static_cast<long>(calls));
  std::fflush(stdout);
  std::exit(0);
}
