// Every example of the CommonMark specification text (version 0.28, the version the engine
// follows) run through the engine as the help viewer runs it, extensions on. The examples where
// the engine departs on purpose are listed with their reasons in commonmark_departures.txt; any
// other difference fails, and so does a listed example that now gives the expected HTML.
//
// The text is fetched into the cache by scripts/fetch-commonmark-spec.sh (which
// scripts/setup-deps.sh runs); the environment variable QD_COMMONMARK_SPEC can name another
// copy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "markdown/MarkdownProcessor.h"

namespace qd::md {
namespace {

struct TExample {
  int Number = 0;
  std::string Section;
  std::string Markdown;
  std::string Html;
};

struct TDeparture {
  std::string Section;
  std::string Reason;
};

bool ReadFile(const std::string& APath, std::string& AText) {
  std::ifstream in(APath, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  AText = s.str();
  return true;
}

// The examples shown as "→" stand for tabs.
std::string Tabs(const std::string& AText) {
  static const std::string kArrow = "\xE2\x86\x92";
  std::string r;
  for (std::size_t i = 0; i < AText.size();) {
    if (AText.compare(i, kArrow.size(), kArrow) == 0) {
      r += '\t';
      i += kArrow.size();
    } else {
      r += AText[i++];
    }
  }
  return r;
}

// The examples of the specification text: a line of 32 backticks and " example" opens one, a
// line "." parts the Markdown from the HTML, a line of 32 backticks closes it. The heading
// above an example (outside examples) names its section. Nothing after the end-of-tests mark
// counts.
std::vector<TExample> ParseExamples(const std::string& AText) {
  const std::string fence(32, '`');
  enum class TState { Outside, Markdown, Html } state = TState::Outside;
  std::vector<TExample> examples;
  std::string section;
  TExample current;
  std::istringstream in(AText);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    switch (state) {
      case TState::Outside:
        if (line == "<!-- END TESTS -->") return examples;
        if (line == fence + " example") {
          current = TExample{};
          current.Number = static_cast<int>(examples.size()) + 1;
          current.Section = section;
          state = TState::Markdown;
        } else if (!line.empty() && line[0] == '#') {
          std::size_t level = line.find_first_not_of('#');
          if (level != std::string::npos && level <= 6 && line[level] == ' ') {
            std::size_t start = line.find_first_not_of(' ', level);
            section = start == std::string::npos ? std::string() : line.substr(start);
          }
        }
        break;
      case TState::Markdown:
        if (line == ".") state = TState::Html;
        else current.Markdown += line + "\n";
        break;
      case TState::Html:
        if (line == fence) {
          current.Markdown = Tabs(current.Markdown);
          current.Html = Tabs(current.Html);
          examples.push_back(current);
          state = TState::Outside;
        } else {
          current.Html += line + "\n";
        }
        break;
    }
  }
  return examples;
}

// HTML compared after this normalisation, on both sides alike: outside <pre> elements, runs of
// spaces, tabs and line feeds that stand alone between two tags (after a ">" and before a "<")
// are removed, and so is white space at the very end. Everything else, attribute order and
// character references included, must match byte for byte.
std::string Normalize(const std::string& AHtml) {
  std::string r;
  int pre = 0;
  for (std::size_t i = 0; i < AHtml.size();) {
    if (AHtml.compare(i, 4, "<pre") == 0) ++pre;
    if (AHtml.compare(i, 6, "</pre>") == 0 && pre > 0) --pre;
    char c = AHtml[i];
    if (pre == 0 && (c == ' ' || c == '\t' || c == '\n') && !r.empty() && r.back() == '>') {
      std::size_t j = AHtml.find_first_not_of(" \t\n", i);
      if (j == std::string::npos || AHtml[j] == '<') {
        i = j == std::string::npos ? AHtml.size() : j;
        continue;
      }
    }
    r += c;
    ++i;
  }
  while (!r.empty() && (r.back() == ' ' || r.back() == '\t' || r.back() == '\n')) r.pop_back();
  return r;
}

// Lines "number | section | reason"; "#" starts a comment line.
std::map<int, TDeparture> ParseDepartures(const std::string& AText) {
  std::map<int, TDeparture> r;
  std::istringstream in(AText);
  std::string line;
  auto trim = [](std::string s) {
    std::size_t a = s.find_first_not_of(" \t\r");
    std::size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
  };
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    std::size_t bar1 = line.find('|');
    std::size_t bar2 = bar1 == std::string::npos ? bar1 : line.find('|', bar1 + 1);
    if (bar2 == std::string::npos) {
      ADD_FAILURE() << "departure line without number, section and reason: " << line;
      continue;
    }
    int number = std::atoi(line.substr(0, bar1).c_str());
    TDeparture d{trim(line.substr(bar1 + 1, bar2 - bar1 - 1)), trim(line.substr(bar2 + 1))};
    if (number <= 0 || d.Reason.empty() || !r.emplace(number, d).second) {
      ADD_FAILURE() << "bad or repeated departure line: " << line;
    }
  }
  return r;
}

std::string SpecPath() {
  const char* env = std::getenv("QD_COMMONMARK_SPEC");
  return env && *env ? std::string(env) : std::string(QD_COMMONMARK_SPEC_PATH);
}

TEST(CommonMarkExamples, DepartOnlyWhereListed) {
  std::string specText;
  const std::string path = SpecPath();
  ASSERT_TRUE(ReadFile(path, specText))
      << "The CommonMark examples are missing: " << path
      << " cannot be read. Run scripts/setup-deps.sh (or scripts/fetch-commonmark-spec.sh) to fetch them.";
  const std::vector<TExample> examples = ParseExamples(specText);
  ASSERT_EQ(examples.size(), 624u) << "not the CommonMark 0.28 text: " << path;

  std::string departuresText;
  ASSERT_TRUE(ReadFile(QD_COMMONMARK_DEPARTURES_PATH, departuresText)) << QD_COMMONMARK_DEPARTURES_PATH;
  const std::map<int, TDeparture> departures = ParseDepartures(departuresText);

  auto processor = TMarkdownProcessor::CreateDialect(mdCommonMark);
  int passed = 0, departed = 0;
  std::set<int> seen;
  for (const TExample& e : examples) {
    const std::string html = processor->process(e.Markdown);
    const bool same = Normalize(html) == Normalize(e.Html);
    auto listed = departures.find(e.Number);
    if (listed == departures.end()) {
      EXPECT_TRUE(same) << "example " << e.Number << " (" << e.Section << ") differs and is not a listed departure\n"
                        << "markdown:\n" << e.Markdown << "expected:\n" << e.Html << "got:\n" << html;
      passed += same;
      continue;
    }
    seen.insert(e.Number);
    EXPECT_EQ(listed->second.Section, e.Section) << "departure " << e.Number << " names another section";
    EXPECT_FALSE(same) << "example " << e.Number << " (" << e.Section << ") now gives the expected HTML: remove it "
                       << "from the departures (" << listed->second.Reason << ")";
    departed += !same;
  }
  for (const auto& [number, d] : departures) {
    EXPECT_TRUE(seen.count(number)) << "departure " << number << " names no example";
  }
  std::cout << "CommonMark " << examples.size() << " examples: " << passed << " as specified, " << departed
            << " listed departures\n";
}

}  // namespace
}  // namespace qd::md
