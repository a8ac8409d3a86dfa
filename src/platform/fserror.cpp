// The failure of a file operation as both implementations of the file interface raise it.
#include "platform/fserror.h"

#include <utility>

namespace qd::platform {

namespace {

// What failed and on which path, read off the message that names them.
void Describe(const std::string& AWhat, TFsAction& AAction, std::string& APath) {
  static const std::pair<const char*, TFsAction> kPrefixes[] = {
      {"Cannot open file ", TFsAction::Open},          {"Cannot read file ", TFsAction::Read},
      {"Cannot write file ", TFsAction::Write},        {"Cannot create file ", TFsAction::Write},
      {"Cannot create folder ", TFsAction::CreateFolder}, {"Cannot grant access to ", TFsAction::GrantAccess}};
  AAction = TFsAction::Open;
  APath.clear();
  for (const auto& p : kPrefixes)
    if (AWhat.rfind(p.first, 0) == 0) {
      AAction = p.second;
      APath = AWhat.substr(std::string(p.first).size());
      return;
    }
}

}  // namespace

void ThrowKind(const std::string& AWhat, const std::string& AReasonText, TFsReason AReason, int ACode) {
  TFsAction action;
  std::string path;
  Describe(AWhat, action, path);
  throw EFsError(AWhat + ": " + AReasonText, action, AReason, path, ACode);
}

}  // namespace qd::platform
