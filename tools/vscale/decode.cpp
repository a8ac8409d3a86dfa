#include "decode.h"

#include <cctype>
#include <stdexcept>

#include "records.h"

namespace qd::vscale {

namespace {

// The texts the driver writes for an exchange (the log trims the blanks that follow them).
constexpr char kSent[] = "Данные обмена ->";
constexpr char kReceived[] = "Данные обмена <-";
constexpr char kUnexpected[] = "Неожиданные данные от весов";
constexpr char kException[] = "Exception";

struct TLine {
  std::string Time, Level, Text, Details;
};

// "yyyy.mm.dd hh:nn:ss.zzz<TAB>LEVEL<TAB>text[: <TAB>details]"; false for other lines
// (banners, blank lines).
bool ParseLine(const std::string& ALine, TLine& AOut) {
  if (ALine.size() < 25 || ALine[4] != '.' || ALine[10] != ' ' || ALine[23] != '\t') return false;
  AOut.Time = ALine.substr(0, 23);
  size_t tab = ALine.find('\t', 24);
  if (tab == std::string::npos) return false;
  AOut.Level = ALine.substr(24, tab - 24);
  std::string rest = ALine.substr(tab + 1);
  size_t join = rest.find(": \t");
  AOut.Text = rest.substr(0, join);
  AOut.Details = join == std::string::npos ? std::string() : rest.substr(join + 3);
  return true;
}

// Bytes of a hexadecimal text, blanks allowed between them; false when it is not one.
bool ParseHex(const std::string& AText, std::string& ABytes) {
  ABytes.clear();
  int high = -1;
  for (unsigned char c : AText) {
    if (std::isspace(c)) continue;
    if (!std::isxdigit(c)) return false;
    int v = std::isdigit(c) ? c - '0' : std::toupper(c) - 'A' + 10;
    if (high < 0) {
      high = v;
    } else {
      ABytes += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  return high < 0;
}

std::string TableText(uint8_t ATable) {
  if (const char* name = TableName(ATable)) return name;
  return "table " + Hex(std::string(1, static_cast<char>(ATable)));
}

// Command, table and record or key of a frame; throws std::runtime_error when it does not
// decode. AExpected receives the answer that accepts it, or -1 when the answer is not judged.
TJson DecodeFrame(const std::string& AFrame, int& AExpected) {
  if (AFrame.size() < 2) throw std::runtime_error("shorter than a command and a table");
  const uint8_t command = static_cast<uint8_t>(AFrame[0]), table = static_cast<uint8_t>(AFrame[1]);
  const std::string body = AFrame.substr(2);
  TJson j = TJson::Object();
  auto key = [&](const char* ACommand) {
    if (body.size() != 4) throw std::runtime_error(std::string(ACommand) + " takes a 4-byte key, not " +
                                                   std::to_string(body.size()) + " bytes");
    j.Set("key", TJson(static_cast<int64_t>(DecodeBCD(body))));
  };
  switch (command) {
    case 0xF1:
      j.Set("command", "write").Set("table", TableText(table));
      if (!TableName(table)) throw std::runtime_error("the scale has no table " + Hex(AFrame.substr(1, 1)));
      j.Set("record", DecodeRecord(table, body));
      AExpected = 0x06;
      break;
    case 0xF2:
      j.Set("command", "clear").Set("table", TableText(table));
      if (!body.empty()) throw std::runtime_error("a clear carries nothing after the table");
      AExpected = 0x06;
      break;
    case 0xF3:
      j.Set("command", "delete").Set("table", TableText(table));
      key("a delete");
      AExpected = 0xE2;
      break;
    case 0xF7:
      j.Set("command", "read").Set("table", TableText(table));
      key("a read");
      AExpected = -1;
      break;
    default: throw std::runtime_error("unknown command " + Hex(AFrame.substr(0, 1)));
  }
  return j;
}

const char* OutcomeName(TExchange::TOutcome AOutcome) {
  switch (AOutcome) {
    case TExchange::TOutcome::Accepted: return "accepted";
    case TExchange::TOutcome::Refused: return "refused";
    case TExchange::TOutcome::Unjudged: return "answered";
    case TExchange::TOutcome::Unanswered: return "unanswered";
    case TExchange::TOutcome::Malformed: return "malformed";
    case TExchange::TOutcome::Failed: return "failed";
  }
  return "";
}

class TDecoder {
 public:
  void Line(const TLine& L) {
    if (L.Text == kSent) {
      Unanswered(std::string());
      Sent(L);
    } else if (L.Text == kReceived) {
      Received(L);
    } else if (L.Text == kUnexpected) {
      // "06 0D (2 байт)", or the first bytes of more: "06 06 ... (не менее 4096 байт)".
      std::string hex = L.Details.substr(0, L.Details.find('('));
      for (size_t dots; (dots = hex.find("...")) != std::string::npos;) hex.erase(dots, 3);
      std::string bytes;
      if (!FOut.empty() && ParseHex(hex, bytes)) FOut.back().Extra += bytes;
    } else if (L.Level == "ERROR" && L.Text == kException) {
      if (FPending)
        Unanswered(L.Details);
      else if (!FOut.empty() && FOut.back().Call == FCall && FOut.back().Outcome == TExchange::TOutcome::Refused &&
               FOut.back().Error.empty())
        FOut.back().Error = L.Details;  // the driver's message for that refusal
      else
        Failed(L);
    } else if (L.Level == "DEBUG" && L.Text.rfind("> ", 0) == 0) {
      Unanswered(std::string());
      FCall = L.Text.substr(2);
    }
  }
  std::vector<TExchange> Finish() {
    Unanswered(std::string());
    return std::move(FOut);
  }

 private:
  void Sent(const TLine& L) {
    TExchange e;
    e.Time = L.Time;
    e.Call = FCall;
    FExpected = -1;
    if (!ParseHex(L.Details, e.Frame)) {
      e.Frame.clear();
      e.Outcome = TExchange::TOutcome::Malformed;
      e.Problem = "not hexadecimal: " + L.Details;
    } else {
      try {
        e.Decoded = DecodeFrame(e.Frame, FExpected);
      } catch (const std::exception& x) {
        e.Outcome = TExchange::TOutcome::Malformed;
        e.Problem = x.what();
      }
    }
    FOut.push_back(std::move(e));
    FPending = true;
  }
  void Received(const TLine& L) {
    if (!FPending) return;
    FPending = false;
    TExchange& e = FOut.back();
    ParseHex(L.Details, e.Answer);
    if (e.Outcome == TExchange::TOutcome::Malformed) return;
    if (e.Answer.empty())
      e.Outcome = TExchange::TOutcome::Unanswered;
    else if (FExpected < 0)
      e.Outcome = TExchange::TOutcome::Unjudged;
    else
      e.Outcome = static_cast<uint8_t>(e.Answer[0]) == FExpected ? TExchange::TOutcome::Accepted
                                                                 : TExchange::TOutcome::Refused;
  }
  void Failed(const TLine& L) {
    TExchange e;
    e.Time = L.Time;
    e.Call = FCall;
    e.Outcome = TExchange::TOutcome::Failed;
    e.Error = L.Details;
    FOut.push_back(std::move(e));
  }
  // The exchange still waiting for its answer gets none.
  void Unanswered(const std::string& AError) {
    if (!FPending) return;
    FPending = false;
    TExchange& e = FOut.back();
    if (e.Outcome != TExchange::TOutcome::Malformed) e.Outcome = TExchange::TOutcome::Unanswered;
    e.Error = AError;
  }

  std::vector<TExchange> FOut;
  std::string FCall;
  bool FPending = false;
  int FExpected = -1;
};

}  // namespace

std::vector<TExchange> DecodeExchangeLog(const std::string& ALogText) {
  TDecoder decoder;
  size_t pos = 0;
  while (pos < ALogText.size()) {
    size_t end = ALogText.find('\n', pos);
    if (end == std::string::npos) end = ALogText.size();
    std::string line = ALogText.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TLine parsed;
    if (ParseLine(line, parsed)) decoder.Line(parsed);
    pos = end + 1;
  }
  return decoder.Finish();
}

std::string ExchangesAsText(const std::vector<TExchange>& AExchanges) {
  std::string out;
  std::string call = "\x01";  // no call shown yet
  for (const TExchange& e : AExchanges) {
    if (e.Call != call) {
      call = e.Call;
      out += call.empty() ? std::string("(before any call)\n") : call + "\n";
    }
    out += "  " + e.Time + "  ";
    if (e.Outcome == TExchange::TOutcome::Failed) {
      out += "FAILED: " + e.Error;
    } else if (e.Outcome == TExchange::TOutcome::Malformed) {
      out += "MALFORMED" + (e.Frame.empty() ? std::string() : " " + Hex(e.Frame)) + ": " + e.Problem;
      if (!e.Answer.empty()) out += "  <- " + Hex(e.Answer);
    } else {
      out += e.Decoded["command"].Str() + " " + e.Decoded["table"].Str();
      if (!e.Decoded["key"].IsNull()) out += " key " + std::to_string(e.Decoded["key"].Int());
      if (!e.Decoded["record"].IsNull()) out += " " + e.Decoded["record"].DumpLine();
      out += "  ";
      switch (e.Outcome) {
        case TExchange::TOutcome::Accepted: out += "<- " + Hex(e.Answer) + " accepted"; break;
        case TExchange::TOutcome::Unjudged: out += "<- " + Hex(e.Answer); break;
        case TExchange::TOutcome::Refused:
          out += "<- " + Hex(e.Answer) + " REFUSED";
          if (!e.Error.empty()) out += ": " + e.Error;
          break;
        default:
          out += "NO ANSWER";
          if (!e.Error.empty()) out += ": " + e.Error;
          break;
      }
    }
    if (!e.Extra.empty()) out += "  (then unexpected bytes " + Hex(e.Extra) + ")";
    out += "\n";
  }
  return out;
}

TJson ExchangesAsJson(const std::vector<TExchange>& AExchanges) {
  TJson all = TJson::Array();
  for (const TExchange& e : AExchanges) {
    TJson j = TJson::Object();
    j.Set("time", e.Time).Set("call", e.Call).Set("outcome", OutcomeName(e.Outcome));
    if (!e.Frame.empty()) j.Set("frame", Hex(e.Frame));
    for (const char* field : {"command", "table", "key", "record"})
      if (!e.Decoded[field].IsNull()) j.Set(field, e.Decoded[field]);
    if (!e.Answer.empty()) j.Set("answer", Hex(e.Answer));
    if (!e.Error.empty()) j.Set("error", e.Error);
    if (!e.Problem.empty()) j.Set("problem", e.Problem);
    if (!e.Extra.empty()) j.Set("extra", Hex(e.Extra));
    all.Push(std::move(j));
  }
  return all;
}

}  // namespace qd::vscale
