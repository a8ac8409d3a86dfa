// Raising the failure of a file operation, shared by the implementations of the file interface.
#pragma once
#include <string>

#include "platform/fs.h"

namespace qd::platform {

// Throws EFsError with the message "AWhat: AReasonText"; AWhat ("Cannot open file PATH", ...)
// tells what failed and on which path.
[[noreturn]] void ThrowKind(const std::string& AWhat, const std::string& AReasonText, TFsReason AReason, int ACode);

}  // namespace qd::platform
