// What the document window does with a link, the same on every system, and the test's stand-in
// for the system's default program.
#include <mutex>
#include <string>

#include "platform/links.h"
#include "platform/window.h"

namespace qd::platform::window {

const char kOpenFolderHint[] = "Открыть папку с логами";

namespace {

std::string AsciiLower(std::string AText) {
  for (char& c : AText)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return AText;
}

int HexValue(char AChar) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  return -1;
}

// A file address in one spelling: escapes decoded, '/' between names, no query or fragment,
// "file:///" in front, ASCII letters in lower case where names ignore case (Windows).
std::string Comparable(std::string AUri) {
  size_t cut = AUri.find_first_of("?#");
  if (cut != std::string::npos) AUri.erase(cut);
  std::string out;
  out.reserve(AUri.size());
  for (size_t i = 0; i < AUri.size(); ++i) {
    int high = i + 2 < AUri.size() && AUri[i] == '%' ? HexValue(AUri[i + 1]) : -1;
    int low = high >= 0 ? HexValue(AUri[i + 2]) : -1;
    if (low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += AUri[i] == '\\' ? '/' : AUri[i];
    }
  }
  if (AsciiLower(out.substr(0, 17)) == "file://localhost/") out.erase(7, 9);
#if defined(_WIN32)
  out = AsciiLower(out);
#endif
  return out;
}

std::mutex gOpenerLock;
std::function<void(const std::string&)> gOpener;

}  // namespace

TLinkAction LinkActionFor(const std::string& ALinkUri, const std::string& APageUri) {
#if defined(_WIN32)
  // A path with a drive letter, as the browser may report the page the window was sent to.
  const char letter = ALinkUri.empty() ? '\0' : static_cast<char>(ALinkUri[0] | 0x20);
  const bool drive = letter >= 'a' && letter <= 'z' && ALinkUri.size() > 2 && ALinkUri[1] == ':' &&
                     (ALinkUri[2] == '\\' || ALinkUri[2] == '/');
  if (drive) return LinkActionFor("file:///" + ALinkUri, APageUri);
#endif
  size_t colon = ALinkUri.find(':');
  std::string scheme = colon == std::string::npos ? std::string() : AsciiLower(ALinkUri.substr(0, colon));
  if (scheme == "http" || scheme == "https" || scheme == "mailto") return TLinkAction::External;
  if (scheme != "file") return TLinkAction::Refuse;
  std::string page = Comparable(APageUri), link = Comparable(ALinkUri);
  size_t slash = page.rfind('/');
  if (AsciiLower(page.substr(0, 5)) != "file:" || slash == std::string::npos) return TLinkAction::Refuse;
  const std::string folder = page.substr(0, slash + 1);
  if (link.compare(0, folder.size(), folder) != 0 || link.size() == folder.size()) return TLinkAction::Refuse;
  // A way out of the folder is not inside it.
  const std::string rest = "/" + link.substr(folder.size()) + "/";
  if (rest.find("/../") != std::string::npos) return TLinkAction::Refuse;
  return TLinkAction::Show;
}

void SetExternalLinkOpener(std::function<void(const std::string& AUri)> AOpener) {
  std::lock_guard<std::mutex> lock(gOpenerLock);
  gOpener = std::move(AOpener);
}

// The test's stand-in when one is set; false: the system's default program is to be used.
bool OpenedByStandIn(const std::string& AUri) {
  std::function<void(const std::string&)> opener;
  {
    std::lock_guard<std::mutex> lock(gOpenerLock);
    opener = gOpener;
  }
  if (!opener) return false;
  opener(AUri);
  return true;
}

}  // namespace qd::platform::window
