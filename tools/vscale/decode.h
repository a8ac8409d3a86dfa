// Decoding of a driver's log: every exchange with the scale that the log recorded in
// hexadecimal (the exchange log), turned back into the command, its table and record, and
// the scale's answer, with refused, unanswered and malformed exchanges marked.
#pragma once
#include <string>
#include <vector>

#include "json.h"

namespace qd::vscale {

struct TExchange {
  enum class TOutcome {
    Accepted,    // the answer the command expects
    Refused,     // another answer
    Unjudged,    // a read: its answer tells whether the key exists
    Unanswered,  // no answer was logged (silence, a closed connection, a failed send)
    Malformed,   // the frame does not decode
    Failed,      // not an exchange: the call failed with Error before sending anything more
  };
  std::string Time;     // the log line's time stamp
  std::string Call;     // the host method the exchange belongs to ("" before the first one)
  std::string Frame;    // the bytes sent
  std::string Answer;   // the bytes the scale answered (empty when unanswered)
  std::string Extra;    // bytes the scale sent after this answer, read off before the next command
  std::string Error;    // the failure the driver logged for an unanswered exchange
  std::string Problem;  // why a malformed frame does not decode
  TOutcome Outcome = TOutcome::Unanswered;
  TJson Decoded;        // command, table and record or key
};

// The exchanges of a log's text, in order. Lines that are not exchanges are skipped.
std::vector<TExchange> DecodeExchangeLog(const std::string& ALogText);

// One readable line per exchange (with a line for the call it belongs to when that changes).
std::string ExchangesAsText(const std::vector<TExchange>& AExchanges);
// An array with one object per exchange.
TJson ExchangesAsJson(const std::vector<TExchange>& AExchanges);

}  // namespace qd::vscale
