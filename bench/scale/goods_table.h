// A goods table of N records as the host would pass it: Cyrillic two-line names, ingredients,
// weighed and piece goods, every record with unit weights (five scale commands per record).
#pragma once
#include <string>

namespace qd::bench {

inline std::string GoodsTable(int ACount) {
  std::string text;
  text.reserve(static_cast<size_t>(ACount) * 420 + 64);
  text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Table>\n";
  for (int i = 1; i <= ACount; ++i) {
    std::string n = std::to_string(i);
    std::string group = std::to_string(i % 90 + 1);
    text += "  <Record PLU=\"" + n + "\" Code=\"" + n + "\" GroupCode=\"" + group + "\" EANData=\"2200" +
            std::to_string(100 + i % 900) + "\" Price=\"" + std::to_string(50 + i % 400) + ",90\" Name=\"Товар № " +
            n + "||упаковка 450 г\" ShortName=\"Товар " + n +
            "\" Description=\"Молоко нормализованное, соль,||закваска\" SellByDate=\"" + std::to_string(i % 30 + 1) +
            "\" SellByTime=\"0\" PLUTare=\"" + std::to_string(i % 3 * 10) + "\" IsWeightGoods=\"" +
            (i % 2 ? "true" : "false") + "\" UnitWeight=\"450\" TotalUnitWeight=\"450\"/>\n";
  }
  text += "</Table>\n";
  return text;
}

}  // namespace qd::bench
