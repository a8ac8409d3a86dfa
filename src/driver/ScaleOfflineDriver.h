// The layer of the label-printing scale drivers: marks the driver description as such.
#pragma once
#include <string>

#include "driver/CommonDriver.h"

namespace qd {

class TScaleOfflineDriver : public TCommonDriver {
 public:
  static void ClassUpdateDriverInfo(TDriverInfo& ADriverInfo);
  void UpdateDriverInfo(TDriverInfo& ADriverInfo) override { ClassUpdateDriverInfo(ADriverInfo); }
  std::string DriverClassName() const override { return "TScaleOfflineDriver"; }
};

}  // namespace qd
