// The typed arguments of addin-host's calls: a type letter, a colon and the value, read
// strictly. Anything that does not say exactly one value of its type is refused.
#pragma once
#include <string>

#include "host.h"

namespace qd::host {

// True for a token that is an argument ("s:text", "e:"), not a command.
bool IsArgumentToken(const std::string& AToken);

// The value of one argument. Throws tools::EUsage for a value that its type does not take
// ("i:abc: not a whole number") and std::runtime_error for a file that cannot be read or is
// not UTF-8 text (f:).
THostValue ParseArgument(const std::string& AToken);

// Refuses a text given on the command line that is not UTF-8 (a host hands over only whole
// characters): throws tools::EUsage "AWHAT is not UTF-8 at byte offset N (byte XX); ...".
void CheckUtf8Argument(const std::string& AWhat, const std::string& AText);

}  // namespace qd::host
