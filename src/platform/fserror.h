// Raising the failure of a file operation, shared by the implementations of the file interface.
#pragma once
#include <string>

#include "platform/fs.h"

namespace qd::platform {

// Throws EFsError for AAction on the path ASubject, with the message "Cannot <action> PATH:
// AReasonText". With TFsAction::Other, ASubject is the whole of what failed and no path is named.
[[noreturn]] void ThrowKind(TFsAction AAction, const std::string& ASubject, const std::string& AReasonText,
                            TFsReason AReason, int ACode);

}  // namespace qd::platform
