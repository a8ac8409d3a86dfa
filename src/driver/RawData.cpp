// Raw data: command prefix and cutting the data into records.
#include "driver/RawData.h"

#include <stdexcept>

#include "common/text.h"
#include "device/Common.h"

namespace qd {

namespace {

char Upper(char AChar) { return AChar >= 'a' && AChar <= 'z' ? static_cast<char>(AChar - 'a' + 'A') : AChar; }

// Characters 9 to 12 of a record.
constexpr size_t kLengthOffset = 8;
constexpr size_t kLengthDigits = 4;

}  // namespace

std::string DataCommandPrefix(const std::string& AFileName) {
  if (AFileName.empty()) throw std::runtime_error(kMsgBadFileName);
  std::string prefix;
  switch (Upper(AFileName[0])) {
    case 'D': prefix = "F2"; break;
    case 'F': prefix = "F1"; break;
    case 'T': prefix = "F7"; break;
    default: throw std::runtime_error(kMsgBadFileName);
  }
  // The table number: two hexadecimal digits, or nothing for a name of one character. A single
  // digit would leave half a byte and shift every byte of the command behind it.
  if (AFileName.size() == 1) return prefix;
  if (AFileName.size() < 3) throw std::runtime_error(kMsgBadFileName);
  for (size_t i = 1; i < 3; ++i) {
    char c = Upper(AFileName[i]);
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) throw std::runtime_error(kMsgBadFileName);
    prefix += c;
  }
  return prefix;
}

std::vector<std::string> SplitDataRecords(const std::string& AData) {
  std::vector<std::string> records;
  if (AData.empty()) throw std::runtime_error(kMsgBadData);
  size_t pos = 0;
  while (pos < AData.size()) {
    size_t rest = AData.size() - pos;
    if (rest < kLengthOffset + kLengthDigits) throw std::runtime_error(kMsgBadData);
    uint64_t bytes = static_cast<uint64_t>(HexToInt(AData.substr(pos + kLengthOffset, kLengthDigits)));
    uint64_t chars = 2 * bytes;
    // A length of 0 would take nothing and never come to an end.
    if (chars == 0 || chars > rest) throw std::runtime_error(kMsgBadData);
    records.push_back(AData.substr(pos, chars));
    pos += chars;
  }
  return records;
}

void CheckDataDigits(const std::string& AData) {
  size_t bad = 0;
  while (bad < AData.size() && HexDigitValue(AData[bad]) >= 0) ++bad;
  if (bad == AData.size()) return;
  size_t end = bad + 1;
  while (end < AData.size() && (static_cast<unsigned char>(AData[end]) & 0xC0) == 0x80) ++end;
  // Every character before it is a digit, so it is the character at position bad + 1.
  size_t record = 1, pos = 0;
  while (pos + kLengthOffset + kLengthDigits <= bad) {
    const uint64_t chars = 2 * static_cast<uint64_t>(HexToInt(AData.substr(pos + kLengthOffset, kLengthDigits)));
    if (chars == 0 || pos + chars > bad) break;
    pos += chars;
    ++record;
  }
  throw std::runtime_error("Недопустимое значение поля \"данные\": \"" + AData.substr(bad, end - bad) +
                           "\" в позиции " + std::to_string(bad + 1) +
                           " не является шестнадцатеричной цифрой; запись " + std::to_string(record));
}

}  // namespace qd
