// Peak memory of one goods upload of 100,000 records through the module's exports: the rise of
// the process's peak resident size during the call over its resident size at the call, against
// the size of the XML text. The peak is reset just before the call, and the host's arguments
// are made before it, so that neither the making of the table nor the host's own copies of it
// count; the UTF-16 text that the call hands to the module is made inside the call and counts.
// The virtual scale answers every frame without storing it, so its tables take no memory.
//
//   bench_scale_memory [GOODS]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "driver_setup.h"
#include "goods_table.h"
#include "host.h"
#include "scale.h"
#include "support/testenv.h"
#include "measure/peak_memory.h"

namespace {

using qd::bench::ResetPeak;
using qd::bench::StatusBytes;

}  // namespace

int main(int argc, char** argv) {
  using qd::host::TComponent;
  using qd::host::THostValue;
  int goods = argc > 1 ? std::atoi(argv[1]) : 100000;

  qd::test::TTempDir logs;
  qd::test::SetEnvVar("W_QUENDAL7V2K_LOG_DIR", logs.Str());
  qd::host::TModule module(qd::test::ModuleFile("w_quendal7v2k"));
  qd::vscale::TOptions options;
  options.Faults = {qd::vscale::TFault{-1, -1, qd::vscale::TFaultKind::Answer, 0x06, 0, -1, {}}};
  qd::vscale::TVirtualScale scale(options);
  scale.Start();

  std::string table = qd::bench::GoodsTable(goods);
  size_t utf16Bytes = qd::Utf8ToUtf16(table).size() * 2;
  TComponent c(module, "w_quendal7v2k");
  qd::bench::PointAtScale(c, scale.Port());
  c.Call("Open", {THostValue::Empty()});
  // A small upload first, so that one-time allocations do not count.
  c.Call("UploadGoods", {THostValue::Empty(), THostValue::Text(qd::bench::GoodsTable(10)), THostValue::Empty()});

  const std::vector<THostValue> args = {THostValue::Empty(), THostValue::Text(table), THostValue::Empty()};
  bool reset = ResetPeak();
  long long before = reset ? StatusBytes("VmRSS:") : StatusBytes("VmHWM:");
  auto r = c.Call("UploadGoods", args);
  long long after = StatusBytes("VmHWM:");
  c.Call("Close", {THostValue::Empty()});
  if (!r.Result.i) {
    std::fprintf(stderr, "upload failed: %s\n", c.LastErrorDescription().c_str());
    return 1;
  }
  if (before == 0) {
    std::printf("peak resident size is not available on this system\n");
    return 0;
  }
  long long rise = after - before;
  if (!reset) std::printf("(the peak could not be reset: the rise is over the earlier peak)\n");
  std::printf("goods: %d, frames: %llu\n", goods, static_cast<unsigned long long>(scale.Frames()));
  std::printf("XML text: %zu bytes UTF-8, %zu bytes as the host's UTF-16 value\n", table.size(), utf16Bytes);
  std::printf("peak rise during the call: %lld bytes = %.2f x the UTF-8 text, %.2f x the UTF-16 text (goal <= 3)\n",
              rise, static_cast<double>(rise) / static_cast<double>(table.size()),
              static_cast<double>(rise) / static_cast<double>(utf16Bytes));
  std::printf("without the host's own UTF-16 copy of the argument: %.2f x the UTF-8 text\n",
              static_cast<double>(rise - static_cast<long long>(utf16Bytes)) / static_cast<double>(table.size()));
  return 0;
}
