#include "device/DeviceCommon.h"

namespace qd {

std::string TPLURecord::Bytes() const {
  std::string out;
  AppendTo(out);
  return out;
}

void TPLURecord::AppendTo(std::string& AOut) const {
  AOut.reserve(AOut.size() + 64 + Commodity.size() + Ingredient.size() + SpecMessage.size());
  for (const std::string* f : {&PLU_Number, &PLU_RecordSize, &PLU_Status, &PLU_Status2, &Unit_Price, &Label_Format1,
                               &Barcode_Format, &EAN_Data, &Main_Group_Code, &Sell_By_Date, &Sell_By_Time,
                               &Used_By_Date, &Packed_Date, &Packed_Time, &PLU_Tare, &Image1, &Image2_10, &Commodity,
                               &Ingredient, &SpecMessage, &BCC})
    AOut += *f;
}

}  // namespace qd
