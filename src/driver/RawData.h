// Ready-made scale records passed through to the scale: the file name chooses the command
// and the table, the data is a run of records written as hexadecimal text.
#pragma once
#include <string>
#include <vector>

namespace qd {

inline constexpr const char* kMsgBadFileName = "Некорректное имя файла";
inline constexpr const char* kMsgBadData = "Некорректные входные данные";

// Command prefix for a file name: "D" -> "F2", "F" -> "F1", "T" -> "F7" (first character in
// either letter case), followed by the name's characters 2 and 3 upper-cased, the table number
// (a name of one character gives the command code alone; characters after the third are
// ignored). Fails with kMsgBadFileName for an empty name, any other first character, a name of
// two characters or a table number that is not two hexadecimal digits.
std::string DataCommandPrefix(const std::string& AFileName);

// Cuts the data into records by the length (in bytes) that characters 9 to 12 of each record
// state. The whole data is cut before anything is used, so malformed data fails with
// kMsgBadData and nothing of it is sent: empty data, a rest too short to hold a length field,
// a length of 0 (or unreadable), or a length longer than what remains.
std::vector<std::string> SplitDataRecords(const std::string& AData);

// Fails naming the first character of the data that is not a hexadecimal digit: the whole
// character as written (however many bytes it takes), its position in the data in characters
// from 1, and the record it falls in (from 1, as far as the length fields before it tell).
void CheckDataDigits(const std::string& AData);

}  // namespace qd
