// Throughput of goods records sent to the virtual scale over loopback: the device object
// (build, send, read and judge every command) beside a raw client that only sends the same
// ready-made frames and reads the same one-byte answers; and the cost of building one record.
#include <benchmark/benchmark.h>

#include <stdexcept>
#include <vector>

#include "device/Device.h"
#include "platform/socket.h"
#include "scale.h"

namespace {

constexpr int kGoods = 1000;  // PLU numbers cycle through this many records

void Configure(qd::TDevice& ADevice) {
  ADevice.SetCommodityFont(6);
  ADevice.SetIngredientFont(1);
  ADevice.SetSpecMessageFont(1);
  ADevice.SetLabelFormatNumber(17);
}

std::string BuildFrame(qd::TDevice& ADevice, int32_t APLU) {
  return ADevice.BuildPlu(APLU, 2, 5, 0, 0, 0, 0, 0, "2200001", "Молоко 3,2%||пастеризованное", "Молоко цельное",
                          "", 125000, true, qd::TFont{});
}

void BM_DeviceWritePlu(benchmark::State& AState) {
  qd::vscale::TVirtualScale scale;
  scale.Start();
  qd::TDevice device;
  Configure(device);
  device.Enable("127.0.0.1", scale.Port());
  int32_t plu = 0;
  for (auto _ : AState) {
    plu = plu % kGoods + 1;
    device.WritePlu(plu, 2, 5, 0, 0, 0, 0, 0, "2200001", "Молоко 3,2%||пастеризованное", "Молоко цельное", "",
                    125000, true, qd::TFont{});
  }
  device.Disable();
  AState.SetItemsProcessed(AState.iterations());
  AState.counters["commands/s"] = benchmark::Counter(static_cast<double>(AState.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DeviceWritePlu)->UseRealTime();

void BM_RawClientWritePlu(benchmark::State& AState) {
  using namespace qd::platform;
  qd::vscale::TVirtualScale scale;
  scale.Start();
  qd::TDevice builder;
  Configure(builder);
  std::vector<std::string> frames;
  for (int32_t plu = 1; plu <= kGoods; ++plu) frames.push_back(BuildFrame(builder, plu));

  uint32_t addr = 0;
  ParseIPv4("127.0.0.1", addr);
  TSocketHandle s = CreateTcpSocket();
  if (StartConnect(s, addr, scale.Port()) != TConnectStart::Connected) {
    CloseSocket(s);
    AState.SkipWithError("connect failed");
    return;
  }
  SetNoDelay(s);  // as the device's transport
  size_t i = 0;
  for (auto _ : AState) {
    const std::string& f = frames[i];
    i = (i + 1) % frames.size();
    char reply = 0;
    if (Send(s, f.data(), f.size()) < 0 || Receive(s, &reply, 1) != 1 || reply != 0x06) {
      AState.SkipWithError("exchange failed");
      break;
    }
  }
  ShutdownBoth(s);
  CloseSocket(s);
  AState.SetItemsProcessed(AState.iterations());
  AState.counters["commands/s"] = benchmark::Counter(static_cast<double>(AState.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RawClientWritePlu)->UseRealTime();

void BM_BuildPluRecord(benchmark::State& AState) {
  qd::TDevice device;
  Configure(device);
  int32_t plu = 0;
  for (auto _ : AState) {
    plu = plu % kGoods + 1;
    benchmark::DoNotOptimize(BuildFrame(device, plu));
  }
  AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_BuildPluRecord);

}  // namespace

BENCHMARK_MAIN();
