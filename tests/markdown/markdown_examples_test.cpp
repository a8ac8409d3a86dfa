// Every example of the CommonMark text (version 0.28, the version the engine
// follows), and the examples of the three extensions in the GitHub-flavoured Markdown text, run
// through the engine as the help viewer runs it, extensions on. The examples where the engine
// departs on purpose are listed with their reasons (commonmark_departures.txt,
// gfm_departures.txt); any other difference fails, and so does a listed example that now gives
// the expected HTML.
//
// The texts are fetched into the cache by scripts/fetch-markdown-examples.sh (which
// scripts/setup-deps.sh runs); the environment variables QD_COMMONMARK_SPEC and QD_GFM_SPEC
// can name other copies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "markdown/MarkdownCommonMark.h"
#include "markdown/MarkdownProcessor.h"

namespace qd::md {
namespace {

struct TExample {
  int Number = 0;
  std::string Extension;  // the word after "example" on the opening line: the GFM extension
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

// The examples of a CommonMark or GFM text: a line of 32 backticks and " example" (in the GFM
// text followed by the name of an extension) opens one, a line "." parts the Markdown from the
// HTML, a line of 32 backticks closes it. The heading above an example (outside examples) names
// its section. Nothing after the end-of-tests mark counts.
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
        if (line.rfind(fence + " example", 0) == 0) {
          current = TExample{};
          current.Number = static_cast<int>(examples.size()) + 1;
          current.Extension = line.size() > fence.size() + 9 ? line.substr(fence.size() + 9) : std::string();
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

std::string PathFrom(const char* AVariable, const char* ADefault) {
  const char* env = std::getenv(AVariable);
  return env && *env ? std::string(env) : std::string(ADefault);
}

// Runs the examples and compares them with the list of departures.
void CheckExamples(const std::vector<TExample>& AExamples, const std::string& ADeparturesPath, const char* AName) {
  std::string departuresText;
  ASSERT_TRUE(ReadFile(ADeparturesPath, departuresText)) << ADeparturesPath;
  const std::map<int, TDeparture> departures = ParseDepartures(departuresText);

  auto processor = TMarkdownProcessor::CreateDialect(mdCommonMark);
  int passed = 0, departed = 0;
  std::set<int> seen;
  for (const TExample& e : AExamples) {
    const std::string html = processor->process(e.Markdown);
    const bool same = Normalize(html) == Normalize(e.Html);
    // the conversion writes each top-level block as soon as it is complete; the document
    // parsed whole and then rendered gives the same page
    EXPECT_EQ(TCommonMarkEngine::render(*TCommonMarkEngine::parse(e.Markdown, true)), html)
        << AName << " example " << e.Number;
    auto listed = departures.find(e.Number);
    if (listed == departures.end()) {
      EXPECT_TRUE(same) << AName << " example " << e.Number << " (" << e.Section
                        << ") differs and is not a listed departure\n"
                        << "markdown:\n" << e.Markdown << "expected:\n" << e.Html << "got:\n" << html;
      passed += same;
      continue;
    }
    seen.insert(e.Number);
    EXPECT_EQ(listed->second.Section, e.Section) << "departure " << e.Number << " names another section";
    EXPECT_FALSE(same) << AName << " example " << e.Number << " (" << e.Section
                       << ") now gives the expected HTML: remove it from the departures (" << listed->second.Reason
                       << ")";
    departed += !same;
  }
  for (const auto& [number, d] : departures) {
    EXPECT_TRUE(seen.count(number)) << "departure " << number << " names no example";
  }
  std::cout << AName << ": " << AExamples.size() << " examples, " << passed << " as specified, " << departed
            << " listed departures\n";
}

const char kRunSetup[] = " cannot be read. Run scripts/setup-deps.sh (or scripts/fetch-markdown-examples.sh) to fetch it.";

TEST(CommonMarkExamples, DepartOnlyWhereListed) {
  std::string specText;
  const std::string path = PathFrom("QD_COMMONMARK_SPEC", QD_COMMONMARK_SPEC_PATH);
  ASSERT_TRUE(ReadFile(path, specText)) << "The CommonMark examples are missing: " << path << kRunSetup;
  const std::vector<TExample> examples = ParseExamples(specText);
  ASSERT_EQ(examples.size(), 624u) << "not the CommonMark 0.28 text: " << path;
  CheckExamples(examples, QD_COMMONMARK_DEPARTURES_PATH, "CommonMark 0.28");
}

// Only the examples of the extensions the engine has: its other examples are those of a later
// CommonMark version than the engine follows.
TEST(GfmExtensionExamples, DepartOnlyWhereListed) {
  std::string specText;
  const std::string path = PathFrom("QD_GFM_SPEC", QD_GFM_SPEC_PATH);
  ASSERT_TRUE(ReadFile(path, specText)) << "The GFM examples are missing: " << path << kRunSetup;
  std::vector<TExample> examples;
  for (TExample& e : ParseExamples(specText)) {
    if (e.Extension == "table" || e.Extension == "strikethrough" || e.Extension == "autolink") {
      examples.push_back(std::move(e));
    }
  }
  ASSERT_FALSE(examples.empty()) << "no extension examples in " << path;
  CheckExamples(examples, QD_GFM_DEPARTURES_PATH, "GFM extensions");
}

}  // namespace
}  // namespace qd::md
