// The product module as the fuzz targets use it: loaded once per process from the program's
// own folder, as the host loads it, with its log folder pointed at a private temporary folder.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "peer.h"

namespace qd::fuzz {

const host::TModule& Module();
// The private folder of this process (logs and other files the module writes).
const std::string& WorkFolder();

// Stops the run with a report when the host's memory manager saw a foreign or repeated free.
void CheckMemory(const host::TMemoryManager& AMemory);

// The end of an input that made its own component: destroys it, lets the peer take every
// connection it opened and checks the host's memory manager.
void EndInput(host::TComponent& AComponent, TLoopbackPeer& APeer);
// Removes whatever the module wrote into its log folder.
void ClearLogs();

// One component opened against a loopback peer, reused across inputs.
class TOpenedDriver {
 public:
  TOpenedDriver();
  host::TComponent& Component() { return *FComponent; }
  TLoopbackPeer& Peer() { return FPeer; }
  // The method's number; the run stops when the component has no such method.
  int64_t Method(const std::string& AName);
  // A call as the host makes it; true when the method returned the Boolean true.
  bool Call(const std::string& AMethod, const std::vector<host::THostValue>& AArgs);

 private:
  void Open();

  TLoopbackPeer FPeer;
  std::unique_ptr<host::TComponent> FComponent;
};

// The one opened driver of a target that drives the scale methods, made on first use (the
// targets make it in LLVMFuzzerInitialize, so that the module's coverage counts from the first
// input) and kept to the end of the process.
TOpenedDriver& SharedDriver();

}  // namespace qd::fuzz
