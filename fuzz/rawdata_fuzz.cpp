// Raw data through the driver's host method, against a loopback peer that accepts every
// command. The input is the file name, a line feed, then the data.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/module_host.h"

using qd::host::THostValue;

// The module is loaded before fuzzing starts, so that its coverage counts from the first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qd::fuzz::SharedDriver();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  qd::fuzz::TOpenedDriver& driver = qd::fuzz::SharedDriver();
  std::string input(reinterpret_cast<const char*>(AData), ASize);
  size_t cut = input.find('\n');
  std::string name = cut == std::string::npos ? input : input.substr(0, cut);
  std::string data = cut == std::string::npos ? std::string() : input.substr(cut + 1);
  driver.Call("UploadData", {THostValue::Text(name), THostValue::Text(data)});
  driver.Peer().TakeConnections();
  return 0;
}
