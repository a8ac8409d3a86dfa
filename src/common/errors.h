// Driver exceptions and the record of the last outcome of a driver method.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

namespace qd {

// Error codes carried by EquException.
constexpr int32_t kErrDeviceNotEnabled = 70;  // a device operation while the driver is closed
constexpr int32_t kErrDriver = 1001;          // transport failures; every failure in the last result

// Failure of the equipment or of the driver's own state. Texts are UTF-8.
class EquException : public std::runtime_error {
 public:
  EquException(int32_t ACode, const std::string& AMessage) : std::runtime_error(AMessage), Code(ACode) {}
  int32_t Code;
};

// The outcome that GetLastError reports.
struct TResult {
  int32_t ErrorCode = 0;
  std::string ErrorDescription;

  void Clear() {
    ErrorCode = 0;
    ErrorDescription.clear();
  }
  void SetError(const std::string& ADescription, int32_t AErrorCode) {
    ErrorCode = AErrorCode;
    ErrorDescription = ADescription;
  }
};

}  // namespace qd
