// vscale: the virtual scale as a command-line program.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decode.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "scale.h"
#include "support.h"

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
    "                       ACTION is answer:XX[:MS] (answer byte XX, after MS milliseconds,\n"
    "                       frame not carried out), close (drop the connection),\n"
    "                       silent (never answer), delay:MS (carry out, answer after MS\n"
    "                       milliseconds), extra:XX (carry out, send byte XX right after the\n"
    "                       answer), late:XX[XX...]:MS (carry out, answer, send the bytes MS\n"
    "                       milliseconds later), stream:MS (carry out, answer, keep sending);\n"
    "                       @N limits the fault to the first N matching frames\n"
    "  --refuse             hold the port but refuse every connection\n"
    "  --strict-delete      a delete of a missing key answers 15 instead of E2\n"
    "  --frame-timeout MS   longest pause inside one frame before it is refused (default 300)\n"
    "  --verbose            report every frame on standard error, not only refusals and faults\n"
    "  --help               this text\n"
    "  --version            the version of this program\n"
    "\n"
    "The first line on standard output is 'listening ADDR:PORT' (or 'refusing ADDR:PORT' with\n"
    "--refuse). SIGINT or SIGTERM stops the scale; the dump is written then.\n"
    "\n"
    "decode: reads a driver's log and prints its exchanges with the scale\n"
    "(vscale decode --help tells more).\n"
    "\n"
    "Exit status: 0 after a stop by signal, 1 when the scale cannot start or the dump cannot\n"
    "be written, 2 usage.\n";

const char kDecodeUsage[] =
    "Usage: vscale decode LOGFILE [--json]\n"
    "Reads a driver's log file and prints every exchange with the scale that it recorded\n"
    "(the exchange log must have been on) as the command, table and decoded record or key with\n"
    "the scale's answer, one line each under the host call it belongs to, or as a JSON array\n"
    "with --json. Refused, unanswered and malformed exchanges are marked.\n"
    "\n"
    "  --json               a JSON array with one object per exchange\n"
    "  --help               this text\n"
    "  --version            the version of this program\n"
    "\n"
    "Exit status: 0 when every exchange was accepted, 1 when one was refused, unanswered or\n"
    "malformed, 2 usage or a file that cannot be read (a folder, a missing file), 3 when the\n"
    "file holds no exchange with the scale (a log written without the exchange log, or no\n"
    "log at all).\n";

std::atomic<bool> gStop{false};
void OnSignal(int) { gStop = true; }

// Empty when written, otherwise why not.
std::string WriteDump(const std::string& APath, const std::string& AJson) {
  if (APath == "-") {
    std::fwrite(AJson.data(), 1, AJson.size(), stdout);
    std::fflush(stdout);
    return std::string();
  }
  // Written beside the target and renamed over it, so that readers never see half a file.
  // Paths are UTF-8 throughout, also where the system's narrow names are another code page.
  std::string temp = APath + ".tmp";
  try {
    qd::platform::WriteFile(temp, AJson, qd::platform::TNewAccess::UserDefault);
  } catch (const std::exception& e) {
    return e.what();
  }
  std::error_code ec;
  std::filesystem::rename(std::filesystem::path(std::u8string(temp.begin(), temp.end())),
                          std::filesystem::path(std::u8string(APath.begin(), APath.end())), ec);
  if (ec) {
    std::filesystem::remove(std::filesystem::path(std::u8string(temp.begin(), temp.end())), ec);
    return "Cannot write file " + APath + ": " + ec.message();
  }
  return std::string();
}

int Fail(const std::string& AMessage) {
  std::cerr << "vscale: " << AMessage << "\n(vscale --help lists the options)\n";
  return 2;
}

}  // namespace

// vscale decode LOGFILE [--json]
int Decode(const std::vector<std::string>& AArgs) {
  std::string file;
  bool json = false;
  for (size_t i = 1; i < AArgs.size(); ++i) {
    const std::string& a = AArgs[i];
    if (qd::tools::AnswerInfoOption(a, "vscale", kDecodeUsage)) {
      return 0;
    } else if (a == "--json") {
      json = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Fail("decode: unknown option " + a);
    } else if (file.empty()) {
      file = a;
    } else {
      return Fail("decode takes one log file");
    }
  }
  if (file.empty()) return Fail("decode needs a log file");
  std::string text;
  try {
    text = qd::tools::ReadInputFile(file);
  } catch (const std::exception& e) {
    std::cerr << "vscale: " << e.what() << "\n";
    return 2;
  }
  std::vector<qd::vscale::TExchange> exchanges = qd::vscale::DecodeExchangeLog(text);
  if (exchanges.empty()) {
    std::cerr << "vscale: " << file << " holds no exchange with the scale (the log's exchange lines are written "
              << "only while ExtLogEnabled is on)\n";
    return 3;
  }
  std::cout << (json ? qd::vscale::ExchangesAsJson(exchanges).Dump() : qd::vscale::ExchangesAsText(exchanges));
  for (const qd::vscale::TExchange& e : exchanges)
    if (e.Outcome != qd::vscale::TExchange::TOutcome::Accepted && e.Outcome != qd::vscale::TExchange::TOutcome::Unjudged)
      return 1;
  return 0;
}

int main(int argc, char** argv) {
  qd::platform::PrepareConsoleOutput();
  std::vector<std::string> args = qd::platform::CommandLineArgs(argc, argv);
  if (!args.empty() && args[0] == "decode") return Decode(args);
  qd::vscale::TOptions options;
  std::string dumpPath;
  bool dumpLive = false;
  try {
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
        return args[++i];
      };
      auto number = [&](int AMax) {
        std::string v = value();
        if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) > AMax)
          throw std::invalid_argument(a + ": \"" + v + "\" is not a number from 0 to " + std::to_string(AMax));
        return std::stoi(v);
      };
      if (qd::tools::AnswerInfoOption(a, "vscale", kUsage)) {
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
      if (!scalePtr) return;
      std::string failure = WriteDump(dumpPath, scalePtr->DumpJson());
      if (!failure.empty()) options.OnEvent(failure);
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

  if (!dumpPath.empty()) {
    std::string failure = WriteDump(dumpPath, scale.DumpJson());
    if (!failure.empty()) {
      std::cerr << "vscale: " << failure << "\n";
      return 1;
    }
  }
  return 0;
}
