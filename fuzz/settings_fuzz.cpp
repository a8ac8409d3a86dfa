// The settings store through the real exports: the input is decoded into a short sequence of
// steps on one component: a setting set by either of its names (in any letter case) or by its
// number, with a value of any kind the host knows; then Open, DeviceTest, Close, the scale
// operations that read the settings Open took (uploads of small fixed tables, clears,
// deletes, raw data), the three documents, GetLastError and the property reads that take what
// the store holds. Settings the host adds by a name of its own are among them.
//
// Every document returned must be well-formed XML, and every call that fails must leave an
// error text for GetLastError: either is a finding (the run stops).
//
// The driver stays on loopback: whatever the input set, the address and port are chosen from
// fixed lists (the loopback peer, malformed and out-of-range texts) right before every step
// that connects. The window actions are never run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <expat.h>

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

// Small tables that every upload takes, one record each.
const char* const kGoods =
    "<Table><Record PLU=\"1\" Code=\"1001\" GroupCode=\"2\" EANData=\"2200001\" Name=\"Молоко||1 л\" "
    "Description=\"a||b\" SpecMessage=\"c\" Price=\"12,50\" SellByDate=\"5\" SellByTime=\"0\" "
    "UnitWeight=\"450\"/></Table>";
const char* const kGroups = "<Table><Record Code=\"7\" ImageNumber=\"3\" Name=\"Рыба\"/></Table>";
const char* const kShops = "<Table><Record Code=\"1\" Name=\"Магазин||ул. Лесная, 12\"/></Table>";
const char* const kImages = "<Table><Record ImageNumber=\"11\" ImageData=\"0808183C\"/></Table>";

[[noreturn]] void Finding(const std::string& AWhat) {
  std::fprintf(stderr, "settings fuzz: %s\n", AWhat.c_str());
  std::abort();
}

// A document the component returned in argument 0 must be well-formed.
void CheckDocument(const host::TCallResult& AResult, const char* AMethod) {
  if (!AResult.Returned || AResult.Result.vt != abi::VTYPE_BOOL || AResult.Result.i == 0 || AResult.Args.empty())
    return;
  const std::string& text = AResult.Args[0].text;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  if (!parser) return;
  const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
  const std::string error = ok ? "" : XML_ErrorString(XML_GetErrorCode(parser));
  XML_ParserFree(parser);
  if (!ok) Finding(std::string(AMethod) + " returned a document that is not well-formed: " + error);
}

// A call that returned false must have left its reason for GetLastError.
host::TCallResult Checked(TComponent& C, const char* AMethod, std::vector<THostValue> AArgs = {}) {
  host::TCallResult r = C.Call(AMethod, std::move(AArgs));
  if (r.Returned && r.Result.vt == abi::VTYPE_BOOL && r.Result.i == 0) {
    host::TCallResult e = C.Call("GetLastError", {THostValue::Empty()});
    if (e.Args.empty() || e.Args[0].text.empty()) Finding(std::string(AMethod) + " failed without an error text");
  }
  return r;
}

// Before a step that connects: an address and a port from the lists, whatever was set before.
void StayOnLoopback(TComponent& C, TInput& AIn) {
  const uint16_t port = Fixture().Peer.Port();
  C.Call("SetParameter", {THostValue::Text(kNames[kAddress][AIn.U8() & 1]), ValueFor(AIn, kAddress, port)});
  C.Call("SetParameter", {THostValue::Text(kNames[kPort][AIn.U8() & 1]), ValueFor(AIn, kPort, port)});
}

// A scale operation after the settings changed: what Open took from them goes into the
// records (fonts, label format) or decides the connection.
void Operation(TComponent& C, TInput& AIn) {
  StayOnLoopback(C, AIn);
  switch (AIn.U8() % 9) {
    case 0: Checked(C, "UploadGoods", {THostValue::Empty(), THostValue::Text(kGoods), THostValue::Empty()}); break;
    case 1: Checked(C, "UploadGroups", {THostValue::Text(kGroups)}); break;
    case 2: Checked(C, "UploadShops", {THostValue::Text(kShops)}); break;
    case 3: Checked(C, "UploadImages", {THostValue::Text(kImages)}); break;
    case 4: Checked(C, "ClearGoods", {THostValue::Empty()}); break;
    case 5: Checked(C, "ClearGroups"); break;
    case 6: Checked(C, "DeleteGood", {AnyValue(AIn)}); break;
    case 7: Checked(C, "DeleteGroup", {AnyValue(AIn)}); break;
    default:
      Checked(C, "UploadData", {THostValue::Text("f23"), THostValue::Text("0000005000130080AAE6A8EF20ADA5A4A5ABA8")});
      break;
  }
}

void Step(TComponent& C, TInput& AIn) {
  const uint16_t port = Fixture().Peer.Port();
  switch (AIn.U8() % 14) {
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
      Checked(C, "Open", {THostValue::Empty()});
      break;
    case 6: {
      StayOnLoopback(C, AIn);
      Checked(C, "DeviceTest", {THostValue::Empty(), THostValue::Empty()});
      break;
    }
    case 7: Checked(C, "Close"); break;
    case 8: CheckDocument(Checked(C, "GetDescription", {THostValue::Empty()}), "GetDescription"); break;
    case 9: CheckDocument(Checked(C, "GetParameters", {THostValue::Empty()}), "GetParameters"); break;
    case 10: CheckDocument(Checked(C, "GetAdditionalActions", {THostValue::Empty()}), "GetAdditionalActions"); break;
    case 11:
    case 12: Operation(C, AIn); break;
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
