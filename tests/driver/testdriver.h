// A driver class for the tests of the driver layer: the standard methods of TCommonDriver,
// described as a label-printing scale, with an Open that switches the log from its setting
// and can be made to fail.
#pragma once
#include <stdexcept>

#include "driver/CommonDriver.h"

namespace qd::test {

class TTestDriver : public TCommonDriver {
 public:
  static std::string ClassName() { return "TestDriver"; }
  std::string NCClassName() const override { return ClassName(); }
  std::string DriverClassName() const override { return "TTestDriver"; }

  static void ClassUpdateDriverInfo(TDriverInfo& ADriverInfo) {
    TCommonDriver::ClassUpdateDriverInfo(ADriverInfo);
    ADriverInfo.EquipmentType = etPrintingScale;
    ADriverInfo.IntegrationComponent = false;
  }
  void UpdateDriverInfo(TDriverInfo& ADriverInfo) override { ClassUpdateDriverInfo(ADriverInfo); }

  ~TTestDriver() override {
    try {
      Close();
    } catch (...) {
    }
  }

  void RegisterMethods() override {
    TCommonDriver::RegisterMethods();
    // A device operation: needs an opened driver.
    mt_Add("ОчиститьТовары", "ClearGoods", 1, Guarded([this](VarArrayData&) { CheckEnabled(); }));
  }

  void RegisterSettings() override {
    TCommonDriver::RegisterSettings();
    pt_Add("IPПорт", "IPPort", false, TValue::Str("0"));
    pt_Add("ВестиЛогОбмена", "ExtLogEnabled", false, TValue::Str("false"));
    pt_Add("СбойПодключения", "FailOpen", false, TValue::Str("false"));
    pt_Add("ЛогВключен", "Duplicate", false, TValue::Int(1));  // name taken: skipped
  }

  void Open() override {
    TCommonDriver::Open();
    SetLogEnabled(GetSettingValueBool("LogEnabled"));
    if (GetSettingValueBool("FailOpen")) throw std::runtime_error("Нет связи с весами");
  }
};

}  // namespace qd::test
