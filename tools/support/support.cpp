#include "support.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "common/text.h"
#include "common/utils.h"
#include "platform/env.h"
#include "platform/fs.h"

namespace qd::tools {

std::filesystem::path PathOf(const std::string& AUtf8) {
  return std::filesystem::path(std::u8string(AUtf8.begin(), AUtf8.end()));
}

std::string HexByte(unsigned char AByte) {
  const char* digits = "0123456789ABCDEF";
  return {digits[AByte >> 4], digits[AByte & 15]};
}

std::string SystemWords(const std::exception& AError) {
  std::string message = AError.what();
  size_t colon = message.rfind(": ");
  return colon == std::string::npos ? message : message.substr(colon + 2);
}

namespace {

std::string ReasonOf(const platform::EFsError& AError) {
  switch (AError.Reason) {
    case platform::TFsReason::NotFound: return "there is no such file";
    case platform::TFsReason::AccessDenied: return "access is denied";
    case platform::TFsReason::NotARegularFile: return "it is not a regular file";
    case platform::TFsReason::InUse: return "another program holds it";
    default: break;
  }
  return SystemWords(AError);
}

bool IsXmlSpace(char AChar) { return AChar == ' ' || AChar == '\t' || AChar == '\r' || AChar == '\n'; }

char Lower(char AChar) { return AChar >= 'A' && AChar <= 'Z' ? static_cast<char>(AChar - 'A' + 'a') : AChar; }

}  // namespace

const char* Version() { return QD_PROJECT_VERSION; }

bool AnswerInfoOption(const std::string& AArg, const char* AProgram, const char* AUsage) {
  if (AArg == "--help" || AArg == "-h") {
    std::cout << AUsage;
    return true;
  }
  if (AArg == "--version") {
    std::cout << AProgram << " " << Version() << "\n";
    return true;
  }
  return false;
}

std::string ReadInputFile(const std::string& APath) {
  // The kind of the path first: reading a folder or waiting on a pipe is no answer.
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(PathOf(APath), ec);
  const char* reason = nullptr;
  if (std::filesystem::is_directory(status))
    reason = "it is a folder";
  else if (status.type() == std::filesystem::file_type::not_found)
    reason = "there is no such file";
  else if (!ec && !std::filesystem::is_regular_file(status))
    reason = "it is not a regular file";
  if (reason) throw std::runtime_error("cannot read " + APath + ": " + reason);
  try {
    return platform::ReadFile(APath, platform::TLinks::Follow, platform::TShareMode::ReadWrite);
  } catch (const platform::EFsError& e) {
    throw std::runtime_error("cannot read " + APath + ": " + ReasonOf(e));
  }
}

std::optional<TUtf8Fault> FindUtf8Fault(std::string_view ABytes) {
  size_t line = 1;
  for (size_t pos = 0; pos < ABytes.size();) {
    unsigned char c = static_cast<unsigned char>(ABytes[pos]);
    if (c < 0x80) {
      if (c == '\n') ++line;
      ++pos;
      continue;
    }
    size_t start = pos;
    char32_t code = 0;
    if (!NextUtf8CodePoint(ABytes, pos, code) || (code >= 0xD800 && code <= 0xDFFF))
      return TUtf8Fault{start, line, c};
  }
  return std::nullopt;
}

std::optional<std::string> DeclaredXmlEncoding(std::string_view AText) {
  if (AText.substr(0, 3) == "\xEF\xBB\xBF") AText.remove_prefix(3);
  if (AText.substr(0, 5) != "<?xml" || AText.size() < 6 || !IsXmlSpace(AText[5])) return std::nullopt;
  std::string_view decl = AText.substr(0, AText.find("?>"));
  for (size_t at = decl.find("encoding"); at != std::string_view::npos; at = decl.find("encoding", at + 1)) {
    if (!IsXmlSpace(decl[at - 1])) continue;
    size_t i = at + 8;
    while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || decl[i] != '=') continue;
    ++i;
    while (i < decl.size() && IsXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) continue;
    size_t end = decl.find(decl[i], i + 1);
    if (end == std::string_view::npos) continue;
    return std::string(decl.substr(i + 1, end - i - 1));
  }
  return std::nullopt;
}

void CheckUtf8Text(const std::string& APath, std::string_view ABytes, TUtf16Text AUtf16) {
  bool utf16le = ABytes.substr(0, 2) == "\xFF\xFE", utf16be = ABytes.substr(0, 2) == "\xFE\xFF";
  if (utf16le || utf16be) {
    if (AUtf16 == TUtf16Text::Accept) return;
    throw std::runtime_error(APath + ": UTF-16 text (byte-order mark " + (utf16le ? "FF FE" : "FE FF") +
                             "); save the file as UTF-8");
  }
  if (std::optional<std::string> encoding = DeclaredXmlEncoding(ABytes)) {
    std::string name;
    for (char c : *encoding) name += Lower(c);
    if (name != "utf-8" && name != "utf8")
      throw std::runtime_error(APath + ": the XML declaration names the encoding " + *encoding +
                               "; save the file as UTF-8 and declare UTF-8");
  }
  if (std::optional<TUtf8Fault> fault = FindUtf8Fault(ABytes))
    throw std::runtime_error(APath + ": not UTF-8 text at line " + std::to_string(fault->Line) + ", byte offset " +
                             std::to_string(fault->Offset) + " (byte " + HexByte(fault->Byte) + "); save the file as UTF-8");
}

void AppendJsonString(std::string& AOut, std::string_view AText) {
  AOut += '"';
  for (size_t pos = 0; pos < AText.size();) {
    const unsigned char c = static_cast<unsigned char>(AText[pos]);
    if (c >= 0x80) {
      // A whole character as it stands; a byte that starts none becomes U+FFFD.
      size_t start = pos;
      char32_t code = 0;
      if (NextUtf8CodePoint(AText, pos, code) && !(code >= 0xD800 && code <= 0xDFFF))
        AOut.append(AText.substr(start, pos - start));
      else
        AOut += "\\ufffd";
      continue;
    }
    ++pos;
    switch (c) {
      case '"': AOut += "\\\""; break;
      case '\\': AOut += "\\\\"; break;
      case '\n': AOut += "\\n"; break;
      case '\r': AOut += "\\r"; break;
      case '\t': AOut += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          AOut += buf;
        } else {
          AOut += static_cast<char>(c);
        }
    }
  }
  AOut += '"';
}

std::string JsonString(std::string_view AText) {
  std::string out;
  out.reserve(AText.size() + 2);
  AppendJsonString(out, AText);
  return out;
}

std::string ProgramFolder() { return ExtractFilePath(platform::ProgramPath()); }

}  // namespace qd::tools
