#include "driver/UploadProgress.h"

#include <utility>

namespace qd {

TUploadProgress::TUploadProgress(TNativeComponent& AHost, std::string AWhat, size_t ATotal)
    : FHost(AHost), FWhat(std::move(AWhat)), FTotal(ATotal) {
  Show();
}

TUploadProgress::~TUploadProgress() {
  try {
    FHost.ResetStatusLine();
  } catch (...) {
  }
}

void TUploadProgress::Step() {
  ++FDone;
  if (std::chrono::steady_clock::now() - FShown >= kInterval) Show();
}

void TUploadProgress::Show() {
  FShown = std::chrono::steady_clock::now();
  try {
    FHost.SetStatusLine(FWhat + ": " + std::to_string(FDone) + " из " + std::to_string(FTotal));
  } catch (...) {
    // Only a hint to the user: the upload goes on without it.
  }
}

}  // namespace qd
