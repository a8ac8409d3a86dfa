// The failure of a file operation as both implementations of the file interface raise it.
#include "platform/fserror.h"

namespace qd::platform {

void ThrowKind(TFsAction AAction, const std::string& ASubject, const std::string& AReasonText, TFsReason AReason,
               int ACode) {
  const char* verb = "";
  switch (AAction) {
    case TFsAction::Open: verb = "Cannot open file "; break;
    case TFsAction::Read: verb = "Cannot read file "; break;
    case TFsAction::Write: verb = "Cannot write file "; break;
    case TFsAction::NewFile: verb = "Cannot create file "; break;
    case TFsAction::CreateFolder: verb = "Cannot create folder "; break;
    case TFsAction::GrantAccess: verb = "Cannot grant access to "; break;
    case TFsAction::Other: break;
  }
  throw EFsError(verb + ASubject + ": " + AReasonText, AAction, AReason,
                 AAction == TFsAction::Other ? std::string() : ASubject, ACode);
}

}  // namespace qd::platform
