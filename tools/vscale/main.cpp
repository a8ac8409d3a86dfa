// vscale: the virtual scale as a command-line program.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "decode.h"
#include "scale.h"

namespace {

const char kUsage[] =
    "Usage: vscale [options]\n"
    "       vscale decode LOGFILE [--json]\n"
    "A virtual offline label scale: a TCP server that takes the scale's command frames,\n"
    "keeps its tables in memory and answers like the scale.\n"
    "\n"
    "  --bind ADDR          address to listen on (default 127.0.0.1)\n"
    "  --port N             port to listen on; 0 picks a free one (default 0)\n"
    "  --dump PATH          write the tables as JSON to PATH on exit ('-' = standard output)\n"
    "  --dump-live          with --dump PATH: rewrite PATH after every change of a table\n"
    "  --fault SEL=ACTION[@N]\n"
    "                       misbehave on the frames SEL selects (repeatable; first match wins):\n"
    "                       SEL is CMD, CMD/TABLE, */TABLE or CMD/* in hexadecimal (F1/25, */DF);\n"
    "                       ACTION is answer:XX (answer byte XX, frame not carried out),\n"
    "                       close (drop the connection), silent (never answer),\n"
    "                       delay:MS (carry out, answer after MS milliseconds);\n"
    "                       extra:XX (carry out, send byte XX right after the answer);\n"
    "                       @N limits the fault to the first N matching frames\n"
    "  --refuse             hold the port but refuse every connection\n"
    "  --strict-delete      a delete of a missing key answers 15 instead of E2\n"
    "  --frame-timeout MS   longest pause inside one frame before it is refused (default 300)\n"
    "  --verbose            report every frame on standard error, not only refusals and faults\n"
    "  --help               this text\n"
    "\n"
    "The first line on standard output is 'listening ADDR:PORT' (or 'refusing ADDR:PORT' with\n"
    "--refuse). SIGINT or SIGTERM stops the scale; the dump is written then.\n"
    "\n"
    "decode: reads a driver's log file and prints every exchange with the scale that it\n"
    "recorded (the exchange log must have been on) as the command, table and decoded record\n"
    "or key with the scale's answer, one line each under the host call it belongs to, or as a\n"
    "JSON array with --json. Refused, unanswered and malformed exchanges are marked. Exit\n"
    "status 0 when every exchange was accepted, 1 otherwise, 2 when the file cannot be read.\n";

std::atomic<bool> gStop{false};
void OnSignal(int) { gStop = true; }

bool WriteDump(const std::string& APath, const std::string& AJson) {
  if (APath == "-") {
    std::fwrite(AJson.data(), 1, AJson.size(), stdout);
    std::fflush(stdout);
    return true;
  }
  // Written beside the target and renamed over it, so that readers never see half a file.
  std::string temp = APath + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << AJson;
    if (!f) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, APath, ec);
  return !ec;
}

int Fail(const std::string& AMessage) {
  std::cerr << "vscale: " << AMessage << "\n(vscale --help lists the options)\n";
  return 2;
}

}  // namespace

// vscale decode LOGFILE [--json]
int Decode(int argc, char** argv) {
  std::string file;
  bool json = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--json")
      json = true;
    else if (file.empty())
      file = a;
    else
      return Fail("decode takes one log file");
  }
  if (file.empty()) return Fail("decode needs a log file");
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail("cannot read " + file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<qd::vscale::TExchange> exchanges = qd::vscale::DecodeExchangeLog(text);
  std::cout << (json ? qd::vscale::ExchangesAsJson(exchanges).Dump() : qd::vscale::ExchangesAsText(exchanges));
  for (const qd::vscale::TExchange& e : exchanges)
    if (e.Outcome != qd::vscale::TExchange::TOutcome::Accepted && e.Outcome != qd::vscale::TExchange::TOutcome::Unjudged)
      return 1;
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "decode") return Decode(argc, argv);
  qd::vscale::TOptions options;
  std::string dumpPath;
  bool dumpLive = false;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
        return argv[++i];
      };
      auto number = [&](int AMax) {
        std::string v = value();
        if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) > AMax)
          throw std::invalid_argument(a + ": \"" + v + "\" is not a number from 0 to " + std::to_string(AMax));
        return std::stoi(v);
      };
      if (a == "--help" || a == "-h") {
        std::cout << kUsage;
        return 0;
      } else if (a == "--bind") {
        options.BindAddress = value();
      } else if (a == "--port") {
        options.Port = static_cast<uint16_t>(number(65535));
      } else if (a == "--dump") {
        dumpPath = value();
      } else if (a == "--dump-live") {
        dumpLive = true;
      } else if (a == "--fault") {
        options.Faults.push_back(qd::vscale::ParseFault(value()));
      } else if (a == "--refuse") {
        options.RefuseConnections = true;
      } else if (a == "--strict-delete") {
        options.StrictDelete = true;
      } else if (a == "--frame-timeout") {
        options.FrameTimeoutMs = number(60000);
      } else if (a == "--verbose") {
        options.Verbose = true;
      } else {
        throw std::invalid_argument("unknown option " + a);
      }
    }
    if (dumpLive && (dumpPath.empty() || dumpPath == "-"))
      throw std::invalid_argument("--dump-live needs --dump with a file path");
  } catch (const std::exception& e) {
    return Fail(e.what());
  }

  std::mutex outLock;
  options.OnEvent = [&](const std::string& ALine) {
    std::lock_guard<std::mutex> g(outLock);
    std::cerr << ALine << std::endl;
  };
  qd::vscale::TVirtualScale* scalePtr = nullptr;
  if (dumpLive)
    options.OnChange = [&] {
      if (scalePtr && !WriteDump(dumpPath, scalePtr->DumpJson())) options.OnEvent("cannot write " + dumpPath);
    };

  qd::vscale::TVirtualScale scale(options);
  scalePtr = &scale;
  try {
    scale.Start();
  } catch (const std::exception& e) {
    std::cerr << "vscale: " << e.what() << "\n";
    return 1;
  }
  std::printf("%s %s:%u\n", options.RefuseConnections ? "refusing" : "listening", options.BindAddress.c_str(),
              static_cast<unsigned>(scale.Port()));
  std::fflush(stdout);

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  scale.Stop();

  if (!dumpPath.empty() && !WriteDump(dumpPath, scale.DumpJson())) {
    std::cerr << "vscale: cannot write " << dumpPath << "\n";
    return 1;
  }
  return 0;
}
