// The scale's replies: a scripted loopback peer answers the driver's commands with the input.
// The first byte chooses the operation (each sends a few commands); the rest is a run of
// answers, each a control byte and the answer's bytes:
//   bits 0-2  number of bytes that follow (0 to 7; fewer when the input ends first)
//   bit 3     the peer closes the connection after sending them
//   bits 4-5  0: the bytes once; 1: a burst, the bytes 64 times in one go; 2 and 3: the bytes
//             and then a stream of them for 20 or 50 ms, as a scale that does not stop
// An answer without bytes closes the connection too, so the driver never waits for its
// time-out. When the answers are used up the peer closes the connection.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/module_host.h"

using qd::fuzz::TAnswer;
using qd::host::THostValue;

namespace {

std::string Table(const std::string& ARecords) { return "<?xml version=\"1.0\"?><Table>" + ARecords + "</Table>"; }

std::vector<TAnswer> Answers(const uint8_t* AData, size_t ASize) {
  std::vector<TAnswer> answers;
  size_t i = 0;
  while (i < ASize) {
    uint8_t control = AData[i++];
    size_t count = control & 7u;
    if (count > ASize - i) count = ASize - i;
    TAnswer a;
    a.Bytes.assign(reinterpret_cast<const char*>(AData) + i, count);
    i += count;
    switch ((control >> 4) & 3u) {
      case 1: {
        std::string one = a.Bytes;
        for (int k = 1; k < 64; ++k) a.Bytes += one;
        break;
      }
      case 2: a.StreamMs = 20; break;
      case 3: a.StreamMs = 50; break;
      default: break;
    }
    a.Close = (control & 8u) != 0 || a.Bytes.empty();
    answers.push_back(std::move(a));
  }
  return answers;
}

}  // namespace

// The module is loaded before fuzzing starts, so that its coverage counts from the first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qd::fuzz::SharedDriver();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  qd::fuzz::TOpenedDriver& driver = qd::fuzz::SharedDriver();
  if (ASize < 1) return 0;
  driver.Peer().Script(Answers(AData + 1, ASize - 1), TAnswer::Hangup());
  auto S = THostValue::Text;
  switch (AData[0] % 10) {
    case 0:
      driver.Call("UploadGoods",
                  {THostValue::Empty(),
                   S(Table("<Record PLU=\"1\" Code=\"1001\" GroupCode=\"1\" EANData=\"2200001\" Price=\"389.90\" "
                           "Name=\"Сыр||45%\" SellByDate=\"30\" IsWeightGoods=\"true\"/>"
                           "<Record PLU=\"3\" Code=\"2001\" GroupCode=\"2\" EANData=\"2200003\" Price=\"59\" "
                           "Name=\"Булка\" UnitWeight=\"400\" TotalUnitWeight=\"400\" PLUTare=\"12\"/>")),
                   THostValue::Empty()});
      break;
    case 1:
      driver.Call("UploadGroups", {S(Table("<Record Code=\"1\" ImageNumber=\"11\" Name=\"Молочные продукты\"/>"
                                           "<Record Code=\"4\" Name=\"Бакалея\"/>"))});
      break;
    case 2: driver.Call("UploadShops", {S(Table("<Record Code=\"2\" Name=\"Гастроном||№ 5\"/>"))}); break;
    case 3:
      driver.Call("UploadImages", {S(Table("<Record ImageNumber=\"11\" ImageData=\"0808183C7EFFFF7E3C18\"/>"))});
      break;
    case 4: driver.Call("ClearGoods", {S("")}); break;
    case 5: driver.Call("ClearGroups", {}); break;
    case 6: driver.Call("ClearImages", {}); break;
    case 7: driver.Call("DeleteGood", {S("15")}); break;
    case 8: driver.Call("DeleteGroup", {S("3")}); break;
    default:
      driver.Call("UploadData", {S("f23"), S("0000005000130080AAE6A8EF20ADA5A4A5ABA800000051000E0082EBAFA5E7AAA0")});
      break;
  }
  driver.Peer().TakeConnections();
  return 0;
}
