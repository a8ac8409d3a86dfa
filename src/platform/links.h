// Between the systems' document windows and the link rules they share (links.cpp).
#pragma once
#include <string>

namespace qd::platform::window {

// Hands the address to the test's stand-in for the system's default program, when one is set
// (SetExternalLinkOpener); false when there is none and the system's program is to be used.
bool OpenedByStandIn(const std::string& AUri);

}  // namespace qd::platform::window
