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
#include "platform/socket.h"
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
    "  --dump PATH          write the tables as JSON to PATH on exit ('-' = standard output);\n"
    "                       PATH is tried at the start, and should it fail at the exit, the\n"
    "                       tables go to standard output instead\n"
    "  --dump-live          with --dump PATH: rewrite PATH after every change of a table\n"
    "  --fault SEL=ACTION[@N]\n"
    "                       misbehave on the frames SEL selects (repeatable; first match wins):\n"
    "                       SEL is CMD, CMD/TABLE, */TABLE or CMD/* in hexadecimal (F1/25, */DF);\n"
    "                       ACTION is answer:XX[:MS] (answer byte XX, after MS milliseconds,\n"
    "                       frame not carried out), close (drop the connection),\n"
    "                       silent (never answer), delay:MS (carry out, answer after MS\n"
    "                       milliseconds), extra:XX (carry out, send byte XX right after the\n"
    "                       answer), late:XX[XX...]:MS (carry out, answer, send the bytes MS\n"
    "                       milliseconds later), stream:MS (carry out, answer, then keep\n"
    "                       sending bytes 06 for MS milliseconds or until the connection\n"
    "                       closes);\n"
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
    "Exit status: 0 after a stop by signal, 1 when the scale cannot start (the port is taken)\n"
    "or the dump could not be written at the exit, 2 usage: an unknown option, a value it does\n"
    "not take (an address that is no IPv4 address), a dump path that cannot be written.\n";

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

// Empty when written, otherwise why not in the system's words.
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
    return qd::tools::SystemWords(e);
  }
  std::error_code ec;
  std::filesystem::rename(qd::tools::PathOf(temp), qd::tools::PathOf(APath), ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(qd::tools::PathOf(temp), ignored);
    return ec.message();
  }
  return std::string();
}

// Why the dump cannot go to APath, tried before the scale starts; empty when it can.
std::string TryDumpPath(const std::string& APath) {
  if (APath == "-") return std::string();
  std::error_code ec;
  if (std::filesystem::is_directory(qd::tools::PathOf(APath), ec))
    return "cannot write the dump to " + APath + ": it is a folder";
  // A file beside it, written and taken away again: the target itself stays as it is.
  const std::string trial = APath + ".try";
  std::string failure = WriteDump(trial, "");
  std::filesystem::remove(qd::tools::PathOf(trial), ec);
  return failure.empty() ? std::string() : "cannot write the dump to " + APath + ": " + failure;
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
        uint32_t address = 0;
        if (!qd::platform::ParseIPv4(options.BindAddress, address))
          throw std::invalid_argument("--bind: \"" + options.BindAddress + "\" is not an IPv4 address (as 127.0.0.1)");
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
    if (!dumpPath.empty()) {
      std::string failure = TryDumpPath(dumpPath);
      if (!failure.empty()) throw std::invalid_argument(failure);
    }
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
      if (!failure.empty()) options.OnEvent("cannot write the dump to " + dumpPath + ": " + failure);
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
    const std::string json = scale.DumpJson();
    std::string failure = WriteDump(dumpPath, json);
    if (!failure.empty()) {
      // The tables are not lost: they go where they can still be read.
      std::cerr << "vscale: cannot write the dump to " << dumpPath << ": " << failure
                << "; the tables follow on standard output\n";
      WriteDump("-", json);
      return 1;
    }
  }
  return 0;
}
