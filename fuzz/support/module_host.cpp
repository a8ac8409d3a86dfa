#include "module_host.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/env.h"

namespace qd::fuzz {

namespace {

constexpr const char* kModuleName = "w_quendal7v2k";

[[noreturn]] void Fail(const std::string& AWhy) {
  std::fprintf(stderr, "fuzz: %s\n", AWhy.c_str());
  std::abort();
}

}  // namespace

const std::string& WorkFolder() {
  static const std::string folder = [] {
    std::filesystem::path base = std::filesystem::temp_directory_path() / "qd-fuzz";
    std::filesystem::create_directories(base);
    std::string pattern = (base / "run.XXXXXX").string();
    if (!mkdtemp(pattern.data())) Fail("cannot create a work folder under " + base.string());
    return pattern;
  }();
  static const bool cleanup = [] {
    // libFuzzer ends with exit(): the folder goes with the process, crash or not aside.
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(WorkFolder(), ec);
    });
    return true;
  }();
  (void)cleanup;
  return folder;
}

const host::TModule& Module() {
  static const host::TModule* module = [] {
    std::filesystem::path logs = std::filesystem::path(WorkFolder()) / "logs";
    std::filesystem::create_directories(logs);
    // The module reads its log folder when it loads.
    setenv("W_QUENDAL7V2K_LOG_DIR", logs.string().c_str(), 1);
    std::filesystem::path program(platform::ModulePath());
    std::filesystem::path file = program.parent_path() / (std::string(kModuleName) + ".so");
    return new host::TModule(file.string());  // lives as long as the process
  }();
  return *module;
}

void CheckMemory(const host::TMemoryManager& AMemory) {
  if (AMemory.Faults().empty()) return;
  std::string all;
  for (const std::string& f : AMemory.Faults()) all += "\n  " + f;
  Fail("the host's memory manager saw bad releases:" + all);
}

void EndInput(host::TComponent& AComponent, TLoopbackPeer& APeer) {
  AComponent.Destroy();
  APeer.TakeConnections();
  CheckMemory(AComponent.Memory);
}

void ClearLogs() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(WorkFolder()) / "logs", ec))
    std::filesystem::remove_all(entry.path(), ec);
}

TOpenedDriver::TOpenedDriver() {
  FComponent = std::make_unique<host::TComponent>(Module(), kModuleName);
  Open();
}

int64_t TOpenedDriver::Method(const std::string& AName) {
  static std::map<std::string, int64_t> numbers;
  auto it = numbers.find(AName);
  if (it != numbers.end()) return it->second;
  int64_t n = FComponent->FindMethod(AName);
  if (n < 0) Fail("the component has no method " + AName);
  numbers[AName] = n;
  return n;
}

void TOpenedDriver::Open() {
  using host::THostValue;
  auto set = [&](const char* AName, const std::string& AValue) {
    Call("SetParameter", {THostValue::Text(AName), THostValue::Text(AValue)});
  };
  set("IPAddress", "127.0.0.1");
  set("IPPort", std::to_string(FPeer.Port()));
  set("LogEnabled", "false");
  host::TCallResult r = FComponent->CallAsFunc(Method("Open"), {THostValue::Empty()});
  if (!r.Returned) Fail("the driver did not open against the loopback peer");
}

bool TOpenedDriver::Call(const std::string& AMethod, const std::vector<host::THostValue>& AArgs) {
  host::TCallResult r = FComponent->CallAsFunc(Method(AMethod), AArgs);
  CheckMemory(FComponent->Memory);
  return r.Returned && r.Result.vt == abi::VTYPE_BOOL && r.Result.i != 0;
}

TOpenedDriver& SharedDriver() {
  static TOpenedDriver* driver = new TOpenedDriver;
  return *driver;
}

}  // namespace qd::fuzz
