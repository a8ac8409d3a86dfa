// Goods upload through the module's exports to the virtual scale on loopback, beside a raw
// client that sends exactly the same frames (recorded once through a relay) and reads the
// same one-byte answers. Prints goods per second of both and their ratio: once from a run of
// each after the other, and once from rounds in which the two take turns.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "../../tests/scale/frame_tap.h"
#include "common/text.h"
#include "device/Common.h"
#include "driver_setup.h"
#include "goods_table.h"
#include "host.h"
#include "platform/socket.h"
#include "scale.h"
#include "support/testenv.h"

namespace {

using qd::host::TComponent;
using qd::host::THostValue;
using qd::host::TModule;

constexpr int kGoods = 10000;

struct TSetup {
  std::unique_ptr<qd::test::TTempDir> Logs;
  std::unique_ptr<TModule> Module;
  std::string Table;
  std::vector<std::string> Frames;  // bytes

  TSetup() {
    Logs = std::make_unique<qd::test::TTempDir>();
    qd::test::SetEnvVar("W_QUENDAL7V2K_LOG_DIR", Logs->Str());
    Module = std::make_unique<TModule>(qd::test::ModuleFile("w_quendal7v2k"));
    Table = qd::bench::GoodsTable(kGoods);
    // The frames the driver sends for this table, recorded once.
    qd::vscale::TVirtualScale scale;
    scale.Start();
    qd::test::TFrameTap tap(scale.Port());
    TComponent c(*Module, "w_quendal7v2k");
    qd::bench::PointAtScale(c, tap.Port());
    c.Call("Open", {THostValue::Empty()});
    auto r = c.Call("UploadGoods", {THostValue::Empty(), THostValue::Text(Table), THostValue::Empty()});
    if (!r.Result.i) throw std::runtime_error("the recording upload failed");
    c.Call("Close", {THostValue::Empty()});
    for (const std::string& hex : tap.Frames()) Frames.push_back(qd::HexToBytes(hex));
  }
};

TSetup& Setup() {
  static TSetup setup;
  return setup;
}

// A component of the module, opened against a virtual scale of its own.
struct TOpenedDriver {
  qd::vscale::TVirtualScale Scale;
  std::unique_ptr<TComponent> C;
  explicit TOpenedDriver(const TModule& AModule) {
    Scale.Start();
    C = std::make_unique<TComponent>(AModule, "w_quendal7v2k");
    qd::bench::PointAtScale(*C, Scale.Port());
    C->Call("Open", {THostValue::Empty()});
  }
  ~TOpenedDriver() { C->Call("Close", {THostValue::Empty()}); }
};

void BM_DriverUploadGoods(benchmark::State& AState) {
  TSetup& s = Setup();
  TOpenedDriver driver(*s.Module);
  TComponent& c = *driver.C;
  for (auto _ : AState) {
    auto r = c.Call("UploadGoods", {THostValue::Empty(), THostValue::Text(s.Table), THostValue::Empty()});
    if (!r.Result.i) {
      AState.SkipWithError("upload failed");
      break;
    }
  }
  AState.SetItemsProcessed(AState.iterations() * kGoods);
  AState.counters["commands"] = static_cast<double>(s.Frames.size());
}
BENCHMARK(BM_DriverUploadGoods)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A short operation: DeleteGood of one item (a fresh connection, two commands and, since the
// driver looks for bytes that should not be there after the last answer, that final look).
void BM_DriverDeleteGood(benchmark::State& AState) {
  TOpenedDriver driver(*Setup().Module);
  for (auto _ : AState) {
    auto r = driver.C->Call("DeleteGood", {THostValue::Int(1)});
    if (!r.Result.i) {
      AState.SkipWithError("delete failed");
      break;
    }
  }
}
BENCHMARK(BM_DriverDeleteGood)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

// The cost of naming every bad record: the scale refuses the first record of a table of
// ARecords, and the driver checks the rest without sending it. Against one record, the rest is
// what the check of 99,999 records costs.
void BM_CheckAfterRefusal(benchmark::State& AState) {
  const int records = static_cast<int>(AState.range(0));
  const std::string table = qd::bench::GoodsTable(records);
  TOpenedDriver driver(*Setup().Module);
  driver.Scale.SetFaults({qd::vscale::ParseFault("F1/25=answer:15")});
  for (auto _ : AState) {
    auto r = driver.C->Call("UploadGoods", {THostValue::Empty(), THostValue::Text(table), THostValue::Empty()});
    if (r.Result.i) {
      AState.SkipWithError("the refusal was not reported");
      break;
    }
  }
  AState.counters["records"] = records;
}
BENCHMARK(BM_CheckAfterRefusal)->Arg(1)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// One pass of the raw client: a fresh connection per table, as the driver makes one per
// upload, the recorded frames sent one by one, each answer read and judged.
bool RawPass(uint16_t APort, const std::vector<std::string>& AFrames) {
  using namespace qd::platform;
  uint32_t addr = 0;
  ParseIPv4("127.0.0.1", addr);
  TSocketHandle sock = CreateTcpSocket();
  if (StartConnect(sock, addr, APort) != TConnectStart::Connected) {
    CloseSocket(sock);
    return false;
  }
  SetNoDelay(sock);  // as the driver's transport
  bool ok = true;
  for (const std::string& f : AFrames) {
    char reply = 0;
    if (Send(sock, f.data(), f.size()) != static_cast<int64_t>(f.size()) || Receive(sock, &reply, 1) != 1 ||
        reply != 0x06) {
      ok = false;
      break;
    }
  }
  ShutdownBoth(sock);
  CloseSocket(sock);
  return ok;
}

void BM_RawClientSameFrames(benchmark::State& AState) {
  TSetup& s = Setup();
  qd::vscale::TVirtualScale scale;
  scale.Start();
  for (auto _ : AState) {
    if (!RawPass(scale.Port(), s.Frames)) {
      AState.SkipWithError("exchange failed");
      break;
    }
  }
  AState.SetItemsProcessed(AState.iterations() * kGoods);
  AState.counters["commands"] = static_cast<double>(s.Frames.size());
}
BENCHMARK(BM_RawClientSameFrames)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Both in turn, each round a raw pass and a driver pass, so that the load of a shared machine
// falls on both alike.
void BM_DriverBesideRawClient(benchmark::State& AState) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point AFrom, Clock::time_point ATo) {
    return std::chrono::duration<double>(ATo - AFrom).count();
  };
  TSetup& s = Setup();
  qd::vscale::TVirtualScale scale;
  scale.Start();
  TComponent c(*s.Module, "w_quendal7v2k");
  qd::bench::PointAtScale(c, scale.Port());
  double bestRaw = 1e30, bestDriver = 1e30, bestHost = 1e30;
  std::vector<double> roundRatios;
  bool driverFirst = true;
  // The virtual scale serves one connection at a time: the driver's is closed before the raw
  // client connects. The order of the two passes alternates from round to round, so that a
  // machine slowing down or speeding up over a round does not favour either.
  for (auto _ : AState) {
    double driverTime = 0, rawTime = 0;
    auto driverPass = [&] {
      c.Call("Open", {THostValue::Empty()});
      auto t0 = Clock::now();
      auto r = c.Call("UploadGoods", {THostValue::Empty(), THostValue::Text(s.Table), THostValue::Empty()});
      driverTime = seconds(t0, Clock::now());
      c.Call("Close", {THostValue::Empty()});
      return r.Result.i != 0;
    };
    auto rawPass = [&] {
      auto t0 = Clock::now();
      bool ok = RawPass(scale.Port(), s.Frames);
      rawTime = seconds(t0, Clock::now());
      return ok;
    };
    bool ok = driverFirst ? driverPass() && rawPass() : rawPass() && driverPass();
    if (!ok) {
      AState.SkipWithError("a pass failed");
      break;
    }
    driverFirst = !driverFirst;
    // What the test host itself does inside the call: the table to the UTF-16 value it passes
    // and the argument back to UTF-8 when the call returns. A host that holds its text as
    // UTF-16 does neither; shown apart so that it can be told from the driver's own time.
    auto h0 = Clock::now();
    std::u16string passed = qd::Utf8ToUtf16(s.Table);
    std::string returned = qd::Utf16ToUtf8(passed);
    benchmark::DoNotOptimize(returned.data());
    double hostTime = seconds(h0, Clock::now());
    bestDriver = std::min(bestDriver, driverTime);
    bestRaw = std::min(bestRaw, rawTime);
    bestHost = std::min(bestHost, hostTime);
    roundRatios.push_back(rawTime / driverTime);
  }
  if (roundRatios.empty()) return;
  std::sort(roundRatios.begin(), roundRatios.end());
  size_t n = roundRatios.size();
  double median = n % 2 ? roundRatios[n / 2] : (roundRatios[n / 2 - 1] + roundRatios[n / 2]) / 2;
  // The best pass of each is the time the work itself takes; the rounds' own ratios show how
  // far the machine's load moved them.
  AState.counters["driver_goods/s"] = kGoods / bestDriver;
  AState.counters["raw_goods/s"] = kGoods / bestRaw;
  AState.counters["ratio"] = bestRaw / bestDriver;
  AState.counters["ratio_median"] = median;
  AState.counters["ratio_worst"] = roundRatios.front();
  AState.counters["host_text_ms"] = bestHost * 1000;
  AState.counters["ratio_wo_host_text"] = bestRaw / (bestDriver - bestHost);
}
BENCHMARK(BM_DriverBesideRawClient)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(16);

// Keeps the goods rates of the runs to print the ratios at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& ARuns) override {
    for (const Run& r : ARuns) {
      auto counter = [&r](const char* AName) {
        auto it = r.counters.find(AName);
        return it == r.counters.end() ? 0.0 : static_cast<double>(it->second);
      };
      if (r.benchmark_name().find("BM_DriverUploadGoods") == 0) Driver = counter("items_per_second");
      if (r.benchmark_name().find("BM_RawClientSameFrames") == 0) Raw = counter("items_per_second");
      if (r.benchmark_name().find("BM_DriverBesideRawClient") == 0) {
        Beside = counter("ratio");
        BesideMedian = counter("ratio_median");
        BesideWorst = counter("ratio_worst");
      }
    }
    ConsoleReporter::ReportRuns(ARuns);
  }
  double Driver = 0, Raw = 0, Beside = 0, BesideMedian = 0, BesideWorst = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.Driver > 0 && reporter.Raw > 0)
    std::printf("\ngoods/s through the driver: %.0f, raw client: %.0f, ratio %.3f (goal >= 0.95); %zu commands per "
                "%d goods\n",
                reporter.Driver, reporter.Raw, reporter.Driver / reporter.Raw, Setup().Frames.size(), kGoods);
  if (reporter.Beside > 0)
    std::printf("taking turns: ratio of the best passes %.3f, median of the rounds %.3f, worst round %.3f (goal >= "
                "0.95)\n",
                reporter.Beside, reporter.BesideMedian, reporter.BesideWorst);
  benchmark::Shutdown();
  return 0;
}
