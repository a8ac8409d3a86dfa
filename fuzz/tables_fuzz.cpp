// The four input tables through the driver's host methods, against a loopback peer that
// accepts every command. The first byte chooses the table, the rest is the table's text.
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
  if (ASize < 1) return 0;
  std::string table(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
  switch (AData[0] % 4) {
    case 0: driver.Call("UploadGoods", {THostValue::Empty(), THostValue::Text(table), THostValue::Empty()}); break;
    case 1: driver.Call("UploadGroups", {THostValue::Text(table)}); break;
    case 2: driver.Call("UploadShops", {THostValue::Text(table)}); break;
    default: driver.Call("UploadImages", {THostValue::Text(table)}); break;
  }
  driver.Peer().TakeConnections();
  return 0;
}
