#include "scale.h"

#include <chrono>
#include <stdexcept>

#include "records.h"

namespace qd::vscale {

using namespace qd::platform;

namespace {

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kDeleted = 0xE2;
constexpr size_t kMaxEvents = 10000;

// The first AMax bytes in hexadecimal, " ..." when there are more.
std::string Brief(const std::string& ABytes, size_t AMax = 16) {
  return Hex(ABytes.substr(0, AMax)) + (ABytes.size() > AMax ? " ..." : "");
}

std::string Hex2(uint8_t AByte) { return Brief(std::string(1, static_cast<char>(AByte))); }

int HexValue(const std::string& AText, int AMax, const std::string& AWhat) {
  if (AText == "*") return -1;
  size_t used = 0;
  int v = -1;
  try {
    v = std::stoi(AText, &used, 16);
  } catch (const std::exception&) {
    used = 0;
  }
  if (AText.empty() || used != AText.size() || v < 0 || v > AMax)
    throw std::invalid_argument(AWhat + " \"" + AText + "\" is not a hexadecimal byte");
  return v;
}

// The milliseconds of a fault: decimal digits, seven at most; AUsage when they are not.
int Milliseconds(const std::string& AText, const char* AUsage) {
  if (AText.empty() || AText.find_first_not_of("0123456789") != std::string::npos || AText.size() > 7)
    throw std::invalid_argument(AUsage);
  return std::stoi(AText);
}

}  // namespace

TFault ParseFault(const std::string& AText) {
  size_t eq = AText.find('=');
  if (eq == std::string::npos) throw std::invalid_argument("fault \"" + AText + "\" has no '=': use SEL=ACTION");
  std::string sel = AText.substr(0, eq), action = AText.substr(eq + 1);
  TFault f;
  size_t slash = sel.find('/');
  f.Command = HexValue(sel.substr(0, slash), 255, "command");
  if (slash != std::string::npos) f.Table = HexValue(sel.substr(slash + 1), 255, "table");
  size_t at = action.find('@');
  if (at != std::string::npos) {
    std::string times = action.substr(at + 1);
    action.resize(at);
    if (times.empty() || times.find_first_not_of("0123456789") != std::string::npos || times.size() > 9)
      throw std::invalid_argument("fault count \"" + times + "\" is not a number");
    f.Times = std::stoi(times);
  }
  std::string kind = action.substr(0, action.find(':'));
  std::string arg = action.find(':') == std::string::npos ? "" : action.substr(action.find(':') + 1);
  if (kind == "answer") {
    f.Kind = TFaultKind::Answer;
    size_t colon = arg.find(':');
    std::string byte = arg.substr(0, colon);
    int b = byte == "*" ? -1 : HexValue(byte, 255, "answer byte");
    if (b < 0) throw std::invalid_argument("answer needs a byte, e.g. answer:15 or answer:15:300");
    f.Byte = static_cast<uint8_t>(b);
    if (colon != std::string::npos) {
      f.DelayMs = Milliseconds(arg.substr(colon + 1), "answer needs milliseconds after its byte, e.g. answer:15:300");
    }
  } else if (kind == "close" && arg.empty()) {
    f.Kind = TFaultKind::Close;
  } else if (kind == "silent" && arg.empty()) {
    f.Kind = TFaultKind::Silent;
  } else if (kind == "extra") {
    f.Kind = TFaultKind::Extra;
    int b = arg == "*" ? -1 : HexValue(arg, 255, "extra byte");
    if (b < 0) throw std::invalid_argument("extra needs a byte, e.g. extra:06");
    f.Byte = static_cast<uint8_t>(b);
  } else if (kind == "late") {
    f.Kind = TFaultKind::Late;
    size_t colon = arg.find(':');
    std::string hex = arg.substr(0, colon);
    std::string ms = colon == std::string::npos ? "" : arg.substr(colon + 1);
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 64)
      throw std::invalid_argument("late needs bytes and milliseconds, e.g. late:06:30");
    for (size_t i = 0; i < hex.size(); i += 2)
      f.Bytes += static_cast<char>(HexValue(hex.substr(i, 2), 255, "late byte"));
    f.DelayMs = Milliseconds(ms, "late needs milliseconds, e.g. late:06:30");
  } else if (kind == "stream") {
    f.Kind = TFaultKind::Stream;
    f.DelayMs = Milliseconds(arg, "stream needs milliseconds, e.g. stream:12000");
  } else if (kind == "delay") {
    f.Kind = TFaultKind::Delay;
    f.DelayMs = Milliseconds(arg, "delay needs milliseconds, e.g. delay:2500");
  } else {
    throw std::invalid_argument("unknown fault action \"" + action +
                                "\" (answer:XX[:MS], close, silent, delay:MS, extra:XX, late:XX:MS, stream:MS)");
  }
  return f;
}

TVirtualScale::TVirtualScale(TOptions AOptions) : FOptions(std::move(AOptions)), FFaults(FOptions.Faults) {}

TVirtualScale::~TVirtualScale() { Stop(); }

void TVirtualScale::Start() {
  if (FThread.joinable()) return;
  std::string error;
  FListener = OpenServerSocket(FOptions.BindAddress, FOptions.Port, !FOptions.RefuseConnections, FPort, error);
  if (FListener == kInvalidSocket)
    throw std::runtime_error("cannot bind " + FOptions.BindAddress + ":" + std::to_string(FOptions.Port) + ": " +
                             error);
  FStop = false;
  FThread = std::thread([this] { Run(); });
}

void TVirtualScale::Stop() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
  if (FListener != kInvalidSocket) {
    CloseSocket(FListener);
    FListener = kInvalidSocket;
  }
}

void TVirtualScale::SetFaults(std::vector<TFault> AFaults) {
  std::lock_guard<std::mutex> g(FLock);
  FFaults = std::move(AFaults);
}

void TVirtualScale::SetStrictDelete(bool AValue) {
  std::lock_guard<std::mutex> g(FLock);
  FOptions.StrictDelete = AValue;
}

std::map<uint8_t, std::map<uint64_t, std::string>> TVirtualScale::Tables() const {
  std::lock_guard<std::mutex> g(FLock);
  return FTables;
}

void TVirtualScale::ClearTables() {
  std::lock_guard<std::mutex> g(FLock);
  FTables.clear();
}

TJson TVirtualScale::Snapshot() const {
  auto tables = Tables();
  TJson all = TJson::Object();
  for (uint8_t t : kTables) {
    TJson records = TJson::Array();
    for (const auto& [key, record] : tables[t]) {
      try {
        records.Push(DecodeRecord(t, record));
      } catch (const std::exception& e) {  // stored records were decoded once; kept for safety
        records.Push(TJson::Object().Set("key", static_cast<int64_t>(key)).Set("error", e.what()));
      }
    }
    all.Set(TableName(t), std::move(records));
  }
  return all;
}

std::vector<std::string> TVirtualScale::Events() const {
  std::lock_guard<std::mutex> g(FLock);
  return FEvents;
}

void TVirtualScale::Event(const std::string& ALine, bool ANotable) {
  if (ANotable) {
    std::lock_guard<std::mutex> g(FLock);
    if (FEvents.size() >= kMaxEvents) FEvents.erase(FEvents.begin());
    FEvents.push_back(ALine);
  }
  if (FOptions.OnEvent && (ANotable || FOptions.Verbose)) FOptions.OnEvent(ALine);
}

std::optional<TFault> TVirtualScale::TakeFault(uint8_t ACommand, uint8_t ATable) {
  std::lock_guard<std::mutex> g(FLock);
  for (TFault& f : FFaults) {
    if (f.Times == 0 || !f.Matches(ACommand, ATable)) continue;
    if (f.Times > 0) --f.Times;
    return f;
  }
  return std::nullopt;
}

void TVirtualScale::Run() {
  while (!FStop) {
    if (FOptions.RefuseConnections || WaitReadable(FListener, 50) <= 0) {
      if (FOptions.RefuseConnections) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    TSocketHandle client = AcceptConnection(FListener);
    if (client == kInvalidSocket) continue;
    ++FConnections;
    SetNoDelay(client);
    TConnection conn{client, {}};
    Serve(conn);
    ShutdownBoth(client);
    CloseSocket(client);
  }
}

TVirtualScale::TFill TVirtualScale::Fill(TConnection& AConn, size_t ALen, int ATimeoutMs) {
  auto start = std::chrono::steady_clock::now();
  char buf[65536];
  while (AConn.Pending.size() < ALen) {
    if (FStop) return TFill::Stopped;
    int w = WaitReadable(AConn.Socket, 50);
    if (w < 0) return TFill::Closed;
    if (w == 0) {
      auto waited = std::chrono::steady_clock::now() - start;
      if (ATimeoutMs >= 0 && waited >= std::chrono::milliseconds(ATimeoutMs)) return TFill::Timeout;
      continue;
    }
    int64_t n = Receive(AConn.Socket, buf, sizeof buf);
    if (n <= 0) return TFill::Closed;
    AConn.Pending.append(buf, static_cast<size_t>(n));
  }
  return TFill::Ok;
}

void TVirtualScale::DrainQuietly(TConnection& AConn) {
  char buf[65536];
  while (WaitReadable(AConn.Socket, 20) > 0) {
    int64_t n = Receive(AConn.Socket, buf, sizeof buf);
    if (n <= 0) break;
  }
  AConn.Pending.clear();
}

bool TVirtualScale::WaitUnlessStopped(int AMilliseconds, int AStepMs) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds);
  while (!FStop && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(AStepMs));
  return !FStop;
}

void TVirtualScale::Serve(TConnection& AConn) {
  auto answer = [&](uint8_t AByte) { Send(AConn.Socket, &AByte, 1); };
  const int timeout = FOptions.FrameTimeoutMs;
  for (;;) {
    if (Fill(AConn, 1, -1) != TFill::Ok) return;
    TFill got = Fill(AConn, 2, timeout);
    if (got == TFill::Timeout) {
      Event("refused: incomplete frame " + Brief(AConn.Pending), true);
      AConn.Pending.clear();
      answer(kNak);
      continue;
    }
    if (got != TFill::Ok) return;
    const uint8_t cmd = static_cast<uint8_t>(AConn.Pending[0]);
    const uint8_t table = static_cast<uint8_t>(AConn.Pending[1]);
    size_t expected = 0;
    if (cmd == 0xF2) {
      expected = 2;
    } else if (cmd == 0xF3 || cmd == 0xF7) {
      expected = 6;
    } else if (cmd == 0xF1) {
      got = Fill(AConn, 8, timeout);
      if (got == TFill::Ok) {
        size_t size = static_cast<size_t>(static_cast<uint8_t>(AConn.Pending[6])) << 8 |
                      static_cast<uint8_t>(AConn.Pending[7]);
        if (size < 6) {
          Event("refused: " + Brief(AConn.Pending.substr(0, 8)) + ": size field " + std::to_string(size) +
                    " is smaller than the key and size fields",
                true);
          DrainQuietly(AConn);
          answer(kNak);
          continue;
        }
        expected = 2 + size;
      }
    } else {
      Event("refused: unknown command " + Brief(AConn.Pending), true);
      DrainQuietly(AConn);
      answer(kNak);
      continue;
    }
    if (got == TFill::Ok) got = Fill(AConn, expected, timeout);
    if (got == TFill::Timeout) {
      Event("refused: frame " + Brief(AConn.Pending) + " ended after " + std::to_string(AConn.Pending.size()) +
                " bytes; it should have " + std::to_string(expected) + " (size field " +
                std::to_string(expected >= 2 ? expected - 2 : 0) + ")",
            true);
      AConn.Pending.clear();
      answer(kNak);
      continue;
    }
    if (got != TFill::Ok) return;
    std::string frame = AConn.Pending.substr(0, expected);
    AConn.Pending.erase(0, expected);
    if (!AConn.Pending.empty() || WaitReadable(AConn.Socket, 0) > 0) {
      size_t extra = AConn.Pending.size();
      DrainQuietly(AConn);
      Event("refused: frame " + Brief(frame) + ": more bytes followed than its size field " +
                std::to_string(expected - 2) + " says (at least " + std::to_string(extra) + " more)",
            true);
      answer(kNak);
      continue;
    }
    ++FFrames;

    std::optional<TFault> fault = TakeFault(cmd, table);
    bool changed = false;
    const bool carriedOut = fault && (fault->Kind == TFaultKind::Delay || fault->Kind == TFaultKind::Extra ||
                                      fault->Kind == TFaultKind::Late || fault->Kind == TFaultKind::Stream);
    if (fault && !carriedOut) {
      switch (fault->Kind) {
        case TFaultKind::Answer:
          Event("fault: answered " + Hex2(fault->Byte) + " to " + Brief(frame) +
                    (fault->DelayMs > 0 ? " after " + std::to_string(fault->DelayMs) + " ms" : std::string()),
                true);
          if (fault->DelayMs > 0 && !WaitUnlessStopped(fault->DelayMs, 1)) return;
          answer(fault->Byte);
          continue;
        case TFaultKind::Close:
          Event("fault: closed the connection on " + Brief(frame), true);
          return;
        case TFaultKind::Silent:
          Event("fault: no answer to " + Brief(frame), true);
          continue;
        default:
          break;
      }
    }
    uint8_t reply = Execute(frame, changed);
    if (fault && fault->Kind == TFaultKind::Extra) {
      Event("fault: sent " + Hex2(fault->Byte) + " after the answer to " + Brief(frame), true);
      const uint8_t both[2] = {reply, fault->Byte};
      Send(AConn.Socket, both, 2);
      if (changed && FOptions.OnChange) FOptions.OnChange();
      continue;
    }
    if (fault && fault->Kind == TFaultKind::Late) {
      answer(reply);
      if (changed && FOptions.OnChange) FOptions.OnChange();
      Event("fault: " + std::to_string(fault->Bytes.size()) + " more byte(s) " + std::to_string(fault->DelayMs) +
                " ms after the answer to " + Brief(frame),
            true);
      if (!WaitUnlessStopped(fault->DelayMs, 1)) return;
      Send(AConn.Socket, fault->Bytes.data(), fault->Bytes.size());
      continue;
    }
    if (fault && fault->Kind == TFaultKind::Stream) {
      answer(reply);
      if (changed && FOptions.OnChange) FOptions.OnChange();
      Event("fault: bytes streamed for " + std::to_string(fault->DelayMs) + " ms after the answer to " + Brief(frame),
            true);
      // Sends while the driver reads, until the time is up or the driver has gone.
      const std::string chunk(64 * 1024, '\x06');
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(fault->DelayMs);
      while (!FStop && std::chrono::steady_clock::now() < until)
        if (platform::Send(AConn.Socket, chunk.data(), chunk.size()) < 0) return;
      continue;
    }
    if (fault) {
      Event("fault: answer to " + Brief(frame) + " delayed by " + std::to_string(fault->DelayMs) + " ms", true);
      if (!WaitUnlessStopped(fault->DelayMs, 10)) return;
    }
    answer(reply);
    if (changed && FOptions.OnChange) FOptions.OnChange();
  }
}

uint8_t TVirtualScale::Execute(const std::string& AFrame, bool& AChanged) {
  const uint8_t cmd = static_cast<uint8_t>(AFrame[0]);
  const uint8_t table = static_cast<uint8_t>(AFrame[1]);
  const std::string what = Brief(AFrame.substr(0, 2));
  if (TableName(table) == nullptr) {
    Event("refused: " + what + ": no table " + Hex2(table), true);
    return kNak;
  }
  uint64_t key = 0;
  try {
    key = DecodeBCD(AFrame.substr(2, 4));
  } catch (const std::exception& e) {
    Event("refused: " + Brief(AFrame) + ": key: " + e.what(), true);
    return kNak;
  }
  if (cmd == 0xF1) {
    std::string record = AFrame.substr(2);
    try {
      DecodeRecord(table, record);
    } catch (const std::exception& e) {
      Event("refused: write " + Brief(AFrame) + ": " + e.what(), true);
      return kNak;
    }
    {
      std::lock_guard<std::mutex> g(FLock);
      FTables[table][key] = std::move(record);
    }
    AChanged = true;
    Event(what + " key " + std::to_string(key) + ": stored (" + std::to_string(AFrame.size()) + " bytes)", false);
    return kAck;
  }
  std::lock_guard<std::mutex> g(FLock);
  auto& records = FTables[table];
  switch (cmd) {
    case 0xF2:
      AChanged = !records.empty();
      records.clear();
      return kAck;
    case 0xF3: {
      bool present = records.erase(key) > 0;
      AChanged = present;
      return !present && FOptions.StrictDelete ? kNak : kDeleted;
    }
    default:  // 0xF7
      return records.count(key) ? kAck : kNak;
  }
}

}  // namespace qd::vscale
