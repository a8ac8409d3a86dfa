#include "driver/ScaleOfflineDriver.h"

namespace qd {

void TScaleOfflineDriver::ClassUpdateDriverInfo(TDriverInfo& ADriverInfo) {
  TCommonDriver::ClassUpdateDriverInfo(ADriverInfo);
  ADriverInfo.EquipmentType = etPrintingScale;
  ADriverInfo.IntegrationComponent = false;
}

}  // namespace qd
