// What the shipped tools share: their version, the files a user names on the command line
// (read with a reason for every failure, and checked to be UTF-8 text), and the folder the
// running program sits in.
#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qd::tools {

// A command line the tool cannot run: the tools end with exit status 2 on it.
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A path given in UTF-8, as the tools hold every path, also where the system's narrow names
// are another code page.
std::filesystem::path PathOf(const std::string& AUtf8);

// The byte in two upper-case hexadecimal digits: "C3".
std::string HexByte(unsigned char AByte);

// The system's own words of a failure whose message names a file first: what follows the
// message's last ": " (the whole message when there is none).
std::string SystemWords(const std::exception& AError);

// The project's version, "1.0.0.0": what every tool answers to --version.
const char* Version();

// Answers "--help" (or "-h") with AUsage and "--version" with AProgram and Version(), on
// standard output: true when AArg was one of them (the tool has then done its work).
bool AnswerInfoOption(const std::string& AArg, const char* AProgram, const char* AUsage);

// The whole file that a user named. Throws std::runtime_error "cannot read PATH: REASON",
// the reason in words ("it is a folder", "there is no such file", ...).
std::string ReadInputFile(const std::string& APath);

// The first place where bytes stop being UTF-8: a malformed, overlong or cut-short sequence,
// an encoded surrogate or a code past U+10FFFF.
struct TUtf8Fault {
  size_t Offset;  // from the start of the bytes
  size_t Line;    // from 1; lines end with line feeds
  unsigned char Byte;
};
std::optional<TUtf8Fault> FindUtf8Fault(std::string_view ABytes);

// The encoding an XML declaration at the start of the text names (after a UTF-8 byte-order
// mark, if any), as written; nothing when there is no declaration or it names none.
std::optional<std::string> DeclaredXmlEncoding(std::string_view AText);

enum class TUtf16Text { Refuse, Accept };

// Checks the bytes of a file a tool takes as text: UTF-8 (with or without its byte-order
// mark), and an XML declaration, if any, that names UTF-8. With Accept, text that starts with
// a UTF-16 byte-order mark passes as it stands. Throws std::runtime_error naming the file and
// the line and byte offset of the first byte that is not UTF-8, the encoding a declaration
// names, or the UTF-16 mark.
void CheckUtf8Text(const std::string& APath, std::string_view ABytes, TUtf16Text AUtf16 = TUtf16Text::Refuse);

// The text as a JSON string, quotes included: quote, backslash and control characters
// escaped, UTF-8 characters as they stand, and every byte that is not part of one as
// \ufffd, so that the JSON is valid whatever the text held.
void AppendJsonString(std::string& AOut, std::string_view AText);
std::string JsonString(std::string_view AText);

// The folder of the running program with a trailing delimiter; empty when unknown.
std::string ProgramFolder();

}  // namespace qd::tools
