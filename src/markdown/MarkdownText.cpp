#include "markdown/MarkdownText.h"

#include <pcre2.h>

#include <memory>

namespace qd::md::text {

void AppendEscaped(std::string& AOut, std::string_view AText) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char* rep;
    switch (AText[i]) {
      case '"': rep = "&quot;"; break;
      case '&': rep = "&amp;"; break;
      case '<': rep = "&lt;"; break;
      case '>': rep = "&gt;"; break;
      default: continue;
    }
    AOut.append(AText.data() + start, i - start);
    AOut.append(rep);
    start = i + 1;
  }
  AOut.append(AText.data() + start, AText.size() - start);
}

void AppendEscaped(std::string& AOut, char c) { AppendEscaped(AOut, std::string_view(&c, 1)); }

void AppendUtf8(std::string& AOut, char32_t c) {
  if (c < 0x80) {
    AOut.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    AOut.push_back(static_cast<char>(0xC0 | (c >> 6)));
    AOut.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    AOut.push_back(static_cast<char>(0xE0 | (c >> 12)));
    AOut.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    AOut.push_back(static_cast<char>(0xF0 | (c >> 18)));
    AOut.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

char32_t DecodeAt(std::string_view s, std::size_t p, std::size_t* AEnd) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char c = b(p);
  int len = 1;
  char32_t cp = c;
  if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
  if (len > 1) {
    if (p + static_cast<std::size_t>(len) > s.size()) {
      len = 1;
      cp = c;
    } else {
      for (int k = 1; k < len; ++k) {
        unsigned char cc = b(p + static_cast<std::size_t>(k));
        if ((cc & 0xC0) != 0x80) { len = 1; cp = c; break; }
        cp = (cp << 6) | (cc & 0x3F);
      }
    }
  }
  if (AEnd) *AEnd = p + static_cast<std::size_t>(len);
  return cp;
}

char32_t DecodeBefore(std::string_view s, std::size_t p) {
  if (p == 0) return 0;
  std::size_t q = p - 1;
  int back = 0;
  while (q > 0 && back < 3 && (static_cast<unsigned char>(s[q]) & 0xC0) == 0x80) { --q; ++back; }
  std::size_t end;
  char32_t cp = DecodeAt(s, q, &end);
  if (end != p) return static_cast<unsigned char>(s[p - 1]);
  return cp;
}

namespace {

struct TCodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct TMatchDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};

std::unique_ptr<pcre2_code, TCodeDeleter> Compile(const char* APattern, uint32_t AOptions) {
  int err = 0;
  PCRE2_SIZE off = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(APattern), PCRE2_ZERO_TERMINATED, AOptions,
                                   &err, &off, nullptr);
  return std::unique_ptr<pcre2_code, TCodeDeleter>(code);
}

bool Matches(const pcre2_code* ACode, std::string_view AText) {
  if (!ACode) return false;
  // room for the results of every pattern here (none has groups), made once per thread
  thread_local std::unique_ptr<pcre2_match_data, TMatchDeleter> md(pcre2_match_data_create(4, nullptr));
  if (!md) return false;
  int rc = pcre2_match(ACode, reinterpret_cast<PCRE2_SPTR>(AText.data()), AText.size(), 0, 0, md.get(), nullptr);
  return rc >= 0;
}

bool MatchesCodePoint(const pcre2_code* ACode, char32_t c) {
  std::string s;
  AppendUtf8(s, c);
  return Matches(ACode, s);
}

// The answers of one character class for the code points met last: the letters of one
// script come again and again, and each look-up costs a match.
class TClassCache {
 public:
  template <class F>
  bool get(char32_t c, F AMatch) {
    TEntry& e = FEntries[c % kSize];
    if (e.code != c + 1) {
      e.code = c + 1;
      e.member = AMatch();
    }
    return e.member;
  }

 private:
  static constexpr std::size_t kSize = 512;
  struct TEntry {
    char32_t code = 0;  // the code point + 1; 0 for none
    bool member = false;
  };
  TEntry FEntries[kSize];
};

}  // namespace

bool IsPunctuation(char32_t c) {
  if (c < 0x80) return IsAsciiPunct(static_cast<unsigned char>(c));
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  static const auto code = Compile("^[\\p{Pc}\\p{Pd}\\p{Pe}\\p{Pf}\\p{Pi}\\p{Po}\\p{Ps}\\p{Sm}]", PCRE2_UTF | PCRE2_UCP);
  thread_local TClassCache cache;
  return cache.get(c, [&] { return MatchesCodePoint(code.get(), c); });
}

bool IsUnassigned(char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  static const auto code = Compile("^\\p{Cn}", PCRE2_UTF | PCRE2_UCP);
  thread_local TClassCache cache;
  return cache.get(c, [&] { return MatchesCodePoint(code.get(), c); });
}

// The HTML5 "valid e-mail address", which CommonMark 6.5 takes for e-mail autolinks.
bool IsEmailAddress(std::string_view AText) {
  static const auto code = Compile(
      "^[a-zA-Z0-9.!#$%&'*+/=?^_`{|}~-]+@[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?"
      "(?:\\.[a-zA-Z0-9](?:[a-zA-Z0-9-]{0,61}[a-zA-Z0-9])?)*$",
      PCRE2_DOLLAR_ENDONLY);
  return Matches(code.get(), AText);
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

}  // namespace qd::md::text
