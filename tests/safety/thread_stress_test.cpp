// Several components of the product module on several threads at once, through the real
// exports, as a host may run them (calls into one component never overlap). The process-wide
// state they share, the log, the description record and the class names, must come out whole.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "scale.h"
#include "support/module_env.h"
#include "support/testenv.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

using host::TComponent;
using host::THostValue;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new test::TModuleEnvironment({"w_quendal7v2k"}));

constexpr int kWorkers = 4;
constexpr int kRounds = 60;

THostValue S(const std::string& AText) { return THostValue::Text(AText); }

std::unique_ptr<TComponent> NewComponent() {
  return std::make_unique<TComponent>(test::TModuleEnvironment::Module(), "w_quendal7v2k");
}

// The attribute's value in a document text, or "" when it is missing.
std::string Attribute(const std::string& ADocument, const std::string& AName) {
  size_t at = ADocument.find(" " + AName + "=\"");
  if (at == std::string::npos) return std::string();
  at += AName.size() + 3;
  return ADocument.substr(at, ADocument.find('"', at) - at);
}

TEST(ThreadStress, ComponentsOnSeveralThreadsKeepTheLogAndTheDescriptionWhole) {
  std::error_code ec;
  fs::remove_all(test::TModuleEnvironment::LogDir(), ec);
  // Every connection is refused at once: the work is the calls and their log lines.
  vscale::TOptions options;
  options.RefuseConnections = true;
  vscale::TVirtualScale refusing(options);
  refusing.Start();
  const std::string port = std::to_string(refusing.Port());

  std::atomic<int> running{kWorkers};
  std::atomic<int> failures{0};
  std::vector<std::string> seenTypes;  // wrong equipment types, read by one thread only
  std::vector<std::thread> threads;
  for (int w = 0; w < kWorkers; ++w) {
    threads.emplace_back([&, w] {
      std::unique_ptr<TComponent> c = NewComponent();
      const std::string address = "127.0.0." + std::to_string(w + 1);
      for (int round = 0; round < kRounds; ++round) {
        bool ok = c->Call("SetParameter", {S("IPAddress"), S(address)}).Returned &&
                  c->Call("SetParameter", {S("IPPort"), S(port)}).Returned &&
                  c->Call("SetParameter", {S("LogEnabled"), THostValue::Bool(true)}).Returned;
        c->Call("Open", {THostValue::Empty()});
        ok = ok && c->Call("GetInterfaceRevision").Result == THostValue::Int(3002);
        ok = ok && c->Call("Close", {THostValue::Empty()}).Result == THostValue::Bool(true);
        if (!ok) ++failures;
      }
      c->Destroy();
      if (!c->Memory.Faults().empty() || c->Memory.LiveBlocks() != 0) ++failures;
      --running;
    });
  }
  threads.emplace_back([&] {
    std::unique_ptr<TComponent> c = NewComponent();
    while (running > 0) {
      std::string document = c->Call("GetDescription", {THostValue::Empty()}).Args.at(0).text;
      std::string type = Attribute(document, "EquipmentType");
      if (type != "ВесыСПечатьюЭтикеток") seenTypes.push_back(type);
    }
  });
  threads.emplace_back([&] {
    while (running > 0) NewComponent().reset();
  });
  threads.emplace_back([&] {
    while (running > 0)
      if (test::TModuleEnvironment::Module().ClassNames() != "w_quendal7v2k") ++failures;
  });
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(seenTypes.empty()) << seenTypes.size() << " descriptions read half built, e.g. " << seenTypes.front();

  // Every file is one of the scales' daily files, and holds whole lines only.
  const std::regex name(R"((127_0_0_[1-4]|w_quendal7v2k)_\d{4}\.\d{2}\.\d{2}\.log)");
  const std::regex line(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\t.*|={12}St.*|( {40})|OS version:\t.*|)"
                        R"(Application:\t.*|App\. version:\t.*|)");
  int files = 0;
  for (const auto& entry : fs::directory_iterator(test::TModuleEnvironment::LogDir())) {
    ++files;
    std::string file = entry.path().filename().string();
    EXPECT_TRUE(std::regex_match(file, name)) << file;
    std::string text = test::ReadAll(entry.path());
    ASSERT_GE(text.size(), 2u) << file;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << file;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      std::string one = text.substr(pos, end - pos);
      EXPECT_TRUE(std::regex_match(one, line)) << file << ": " << one;
      pos = end + 2;
    }
  }
  EXPECT_GE(files, kWorkers);

  // The log off again for whatever runs next in this process.
  std::unique_ptr<TComponent> c = NewComponent();
  c->Call("SetParameter", {S("IPPort"), S(port)});
  c->Call("Open", {THostValue::Empty()});
  c->Call("Close", {THostValue::Empty()});
}

}  // namespace
}  // namespace qd
