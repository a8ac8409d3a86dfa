// The settings store through the real exports: the input is decoded into a short sequence of
// steps on one component: a setting set by either of its names (in any letter case) or by its
// number, with a value of any kind the host knows; then Open, DeviceTest, Close, the three
// documents, GetLastError and the property reads that take what the store holds. Settings the
// host adds by a name of its own are among them.
//
// The driver stays on loopback: whatever the input set, the address and port are chosen from
// fixed lists (the loopback peer, malformed and out-of-range texts) right before every step
// that connects. The window actions are never run.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/input.h"
#include "support/module_host.h"

namespace {

using namespace qd;
using host::TComponent;
using host::THostValue;

using qd::fuzz::TInput;

// Every setting of the driver under both of its names, the address and port last.
const char* const kNames[][2] = {
    {"ЛогВключен", "LogEnabled"},
    {"ШрифтНаименования", "CommodityFont"},
    {"ШрифтИнгридиентов", "IngredientFont"},
    {"ШрифтСообщений", "SpecMessageFont"},
    {"ШрифтМагазина", "CompanyFont"},
    {"НомерФорматаЭтикетки", "LabelFormatNumber"},
    {"ВестиЛогОбмена", "ExtLogEnabled"},
    {"IPАдрес", "IPAddress"},
    {"IPПорт", "IPPort"},
};
constexpr size_t kSettings = sizeof kNames / sizeof kNames[0];
constexpr size_t kAddress = kSettings - 2;
constexpr size_t kPort = kSettings - 1;

// Names the host might add settings under, and names that are almost a setting's.
const char* const kOtherNames[] = {"НоваяНастройка", "", " LogEnabled", "LogEnabled ", "IPAddress\t", "ip"};

// Texts that the number, Boolean and font readers meet.
const char* const kTexts[] = {"0",   "1",     "-1",   "6",    "17",   "255",  "256",   "65535", "65536",
                              "true", "FALSE", "True", "yes",  "$FF",  "0x10", " 12 ", "1e3",   "2147483648",
                              "-2147483649", "1,5", "1.5", "",   "ЛОЖЬ", "Истина"};

// Addresses that stay on this machine or are not addresses at all.
const char* const kAddresses[] = {"127.0.0.1", " 127.0.0.1 ", "127.0.0.010", "127.1",   "0127.0.0.1", "",
                                  "localhost", "127.0.0.1.1", "256.0.0.1",   "127.0.0", "127.0.0.-1", "1.2.3.4x"};

std::string Cased(TInput& AIn, const std::string& AName) {
  std::string s = AName;
  switch (AIn.U8() % 3) {
    case 1:
      for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      break;
    case 2:
      for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      break;
    default: break;
  }
  return s;
}

THostValue AnyValue(TInput& AIn) {
  switch (AIn.U8() % 10) {
    case 0: return THostValue::Empty();
    case 1: return THostValue::Bool(AIn.U8() & 1);
    case 2: return THostValue::Int(static_cast<int32_t>(AIn.U32()));
    case 3: return THostValue::Int64(static_cast<int64_t>(AIn.U64()));
    case 4: {
      uint64_t bits = AIn.U64();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return THostValue::Double(d);
    }
    case 5: return THostValue::Date(static_cast<double>(static_cast<int32_t>(AIn.U32())) / 16.0);
    case 6: return THostValue::Blob(AIn.Bytes());
    case 7: return THostValue::Text(AIn.Bytes());
    default: return THostValue::Text(kTexts[AIn.U8() % (sizeof kTexts / sizeof kTexts[0])]);
  }
}

// A value for the setting with index ASetting: the address and port only from their lists.
THostValue ValueFor(TInput& AIn, size_t ASetting, uint16_t APeerPort) {
  if (ASetting == kAddress) return THostValue::Text(kAddresses[AIn.U8() % (sizeof kAddresses / sizeof kAddresses[0])]);
  if (ASetting == kPort) {
    switch (AIn.U8() % 6) {
      case 0: return THostValue::Int(APeerPort);
      case 1: return THostValue::Text(std::to_string(APeerPort));
      case 2: return THostValue::Text(" " + std::to_string(APeerPort) + " ");
      case 3: return THostValue::Int(0);
      case 4: return THostValue::Int(65536 + static_cast<int32_t>(AIn.U16()));
      default: return THostValue::Text("порт");
    }
  }
  return AnyValue(AIn);
}

struct TFixture {
  qd::fuzz::TLoopbackPeer Peer;
  int64_t AddressProp = -1, PortProp = -1;
};

TFixture& Fixture() {
  static TFixture* f = [] {
    auto* fx = new TFixture;
    TComponent probe(qd::fuzz::Module(), "w_quendal7v2k");
    fx->AddressProp = probe.FindProp("IPAddress");
    fx->PortProp = probe.FindProp("IPPort");
    probe.Destroy();
    return fx;
  }();
  return *f;
}

// Before a step that connects: an address and a port from the lists, whatever was set before.
void StayOnLoopback(TComponent& C, TInput& AIn) {
  const uint16_t port = Fixture().Peer.Port();
  C.Call("SetParameter", {THostValue::Text(kNames[kAddress][AIn.U8() & 1]), ValueFor(AIn, kAddress, port)});
  C.Call("SetParameter", {THostValue::Text(kNames[kPort][AIn.U8() & 1]), ValueFor(AIn, kPort, port)});
}

void Step(TComponent& C, TInput& AIn) {
  const uint16_t port = Fixture().Peer.Port();
  switch (AIn.U8() % 12) {
    case 0:
    case 1:
    case 2: {
      size_t setting = AIn.U8() % kSettings;
      std::string name = Cased(AIn, kNames[setting][AIn.U8() & 1]);
      C.Call("SetParameter", {THostValue::Text(name), ValueFor(AIn, setting, port)});
      break;
    }
    case 3: {
      std::string name = kOtherNames[AIn.U8() % (sizeof kOtherNames / sizeof kOtherNames[0])];
      C.Call("SetParameter", {THostValue::Text(name), AnyValue(AIn)});
      break;
    }
    case 4: {
      // By number, as the host sets a property; the address and port keep to their lists.
      int64_t count = C.GetNProps();
      int64_t n = static_cast<int64_t>(AIn.U8() % (count + 2)) - 1;
      if (n == Fixture().AddressProp)
        C.SetPropValue(n, ValueFor(AIn, kAddress, port));
      else if (n == Fixture().PortProp)
        C.SetPropValue(n, ValueFor(AIn, kPort, port));
      else
        C.SetPropValue(n, AnyValue(AIn));
      THostValue v;
      C.GetPropValue(n, v);
      break;
    }
    case 5:
      StayOnLoopback(C, AIn);
      C.Call("Open", {THostValue::Empty()});
      break;
    case 6: {
      StayOnLoopback(C, AIn);
      C.Call("DeviceTest", {THostValue::Empty(), THostValue::Empty()});
      break;
    }
    case 7: C.Call("Close"); break;
    case 8: C.Call("GetDescription", {THostValue::Empty()}); break;
    case 9: C.Call("GetParameters", {THostValue::Empty()}); break;
    case 10: C.Call("GetAdditionalActions", {THostValue::Empty()}); break;
    default: C.Call("GetLastError", {THostValue::Empty()}); break;
  }
}

}  // namespace

// The module is loaded before fuzzing starts, so that its coverage counts from the first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Fixture();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFixture& fixture = Fixture();
  TInput in(AData, ASize);
  {
    TComponent C(qd::fuzz::Module(), "w_quendal7v2k");
    for (int steps = 0; steps < 16 && !in.Empty(); ++steps) Step(C, in);
    qd::fuzz::EndInput(C, fixture.Peer);
  }
  qd::fuzz::ClearLogs();
  return 0;
}
