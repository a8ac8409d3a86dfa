#include "platform/env.h"

#include <cstdio>

namespace qd::platform {

std::string WindowsOSName(uint32_t AMajor, uint32_t AMinor, uint32_t ABuild, uint32_t APlatformId,
                          const std::string& AServicePack) {
  const char* name = "Unknown";
  switch (AMajor) {
    case 3: name = "Windows NT 3"; break;
    case 4:
      if (AMinor == 0) name = APlatformId == 2 ? "Windows NT 4" : "Windows 95";
      else if (AMinor == 10) name = "Windows 98";
      else if (AMinor == 90) name = "Windows ME";
      break;
    case 5:
      if (AMinor == 0) name = "Windows 2000";
      else if (AMinor == 1) name = "Windows XP";
      else if (AMinor == 2) name = "Windows 2003";
      break;
    case 6:
      if (AMinor == 0) name = "Windows Vista";
      else if (AMinor == 1) name = "Windows 7";
      else if (AMinor == 2) name = "Windows 8.0";
      else if (AMinor == 3) name = "Windows 8.1";
      break;
    case 10:
      if (AMinor == 0) name = "Windows 10";
      break;
  }
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "(%u.%u.%u)", AMajor, AMinor, ABuild);
  std::string details = AServicePack.empty() ? std::string() : AServicePack + " ";
  return std::string(name) + " " + details + numbers;
}

}  // namespace qd::platform
