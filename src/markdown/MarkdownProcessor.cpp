#include "markdown/MarkdownProcessor.h"

#include <string_view>
#include <vector>

#include "markdown/MarkdownCommonMark.h"
#include "markdown/MarkdownText.h"

namespace qd::md {

std::unique_ptr<TMarkdownProcessor> TMarkdownProcessor::CreateDialect(TMarkdownProcessorDialect ADialect) {
  switch (ADialect) {
    case mdDaringFireball: return std::make_unique<TMarkdownDaringFireball>();
    case mdCommonMark: return std::make_unique<TCommonMarkProcessor>();
  }
  throw EMarkdownError("Unknown Markdown dialect");
}

void TCommonMarkProcessor::SetUnSafe(bool AValue) {
  if (AValue) throw EMarkdownError("The common mark processor cannot operate in unsafe mode+");
}

std::string TCommonMarkProcessor::process(const std::string& ASource) {
  return TCommonMarkEngine::process(ASource, true);
}

void TCommonMarkProcessor::ProcessTo(const std::string& ASource, const TPageWriter& AWrite) {
  TCommonMarkEngine::process(ASource, true, AWrite);
}

namespace {

// Inline part of the classic dialect: "**strong**", "*em*"/"_em_" and `code`, nothing nested
// across lines.
void ClassicInline(std::string& AOut, std::string_view s, bool ASafe) {
  auto text = [&](std::string_view v) {
    if (ASafe) text::AppendEscaped(AOut, v); else AOut.append(v);
  };
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '`') {
      std::size_t close = s.find('`', i + 1);
      if (close != std::string_view::npos) {
        AOut += "<code>";
        text::AppendEscaped(AOut, s.substr(i + 1, close - i - 1));
        AOut += "</code>";
        i = close + 1;
        continue;
      }
    } else if (c == '*' || c == '_') {
      bool strong = i + 1 < s.size() && s[i + 1] == c;
      std::string_view mark = strong ? s.substr(i, 2) : s.substr(i, 1);
      std::size_t close = s.find(mark, i + mark.size());
      if (close != std::string_view::npos && close > i + mark.size()) {
        const char* tag = strong ? "strong" : "em";
        AOut += '<';
        AOut += tag;
        AOut += '>';
        ClassicInline(AOut, s.substr(i + mark.size(), close - i - mark.size()), ASafe);
        AOut += "</";
        AOut += tag;
        AOut += '>';
        i = close + mark.size();
        continue;
      }
    }
    text(s.substr(i, 1));
    ++i;
  }
}

}  // namespace

std::string TMarkdownDaringFireball::process(const std::string& ASource) {
  const bool safe = FConfig.SafeMode;
  std::string out;
  std::vector<std::string_view> para;
  auto flush = [&] {
    if (para.empty()) return;
    out += "<p>";
    for (std::size_t k = 0; k < para.size(); ++k) {
      if (k) out += '\n';
      ClassicInline(out, text::Trim(para[k]), safe);
    }
    out += "</p>\n";
    para.clear();
  };
  std::string_view src(ASource);
  std::size_t start = 0;
  while (start < src.size()) {
    std::size_t lf = src.find('\n', start);
    if (lf == std::string_view::npos) lf = src.size();
    std::string_view line = src.substr(start, lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = lf + 1;
    std::string_view t = text::Trim(line);
    if (t.empty()) {
      flush();
      continue;
    }
    // ATX-style heading: 1 to 6 "#" and a space; closing "#" characters are dropped
    std::size_t level = 0;
    while (level < t.size() && level < 6 && t[level] == '#') ++level;
    if (level > 0 && level < t.size() && t[level] == ' ') {
      flush();
      std::string_view content = text::Trim(t.substr(level));
      while (!content.empty() && content.back() == '#') content.remove_suffix(1);
      char h = static_cast<char>('0' + level);
      out += "<h";
      out += h;
      out += '>';
      ClassicInline(out, text::Trim(content), safe);
      out += "</h";
      out += h;
      out += ">\n";
      continue;
    }
    para.push_back(line);
  }
  flush();
  return out;
}

}  // namespace qd::md
