// The CommonMark engine through the processor: block rules, inline rules, the extensions and
// the departures from CommonMark (no raw HTML, no reference links).
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "markdown/MarkdownBlocks.h"
#include "markdown/MarkdownCommonMark.h"
#include "markdown/MarkdownProcessor.h"

namespace qd::md {
namespace {

struct TCase {
  const char* name;
  const char* markdown;
  const char* html;
};

std::string Convert(const std::string& AMarkdown) {
  return TMarkdownProcessor::CreateDialect(mdCommonMark)->process(AMarkdown);
}

// The conversion writes each top-level block once the next one begins; the document parsed
// whole and rendered afterwards gives the same page.
std::string ParseThenRender(const std::string& AMarkdown) {
  return TCommonMarkEngine::render(*TCommonMarkEngine::parse(AMarkdown, true));
}

void CheckAll(const TCase* ACases, std::size_t ACount) {
  for (std::size_t i = 0; i < ACount; ++i) {
    EXPECT_EQ(Convert(ACases[i].markdown), ACases[i].html) << ACases[i].name << "\ninput: " << ACases[i].markdown;
    EXPECT_EQ(ParseThenRender(ACases[i].markdown), ACases[i].html) << ACases[i].name << " (parsed whole)";
  }
}

#define CHECK_ALL(cases) CheckAll(cases, sizeof(cases) / sizeof(cases[0]))

std::string Repeat(const std::string& AUnit, std::size_t ACount) {
  std::string s;
  for (std::size_t i = 0; i < ACount; ++i) s += AUnit;
  return s;
}

TEST(CommonMarkBlocks, LinesAndTabs) {
  const TCase cases[] = {
      {"CR LF and CR", "a\r\nb\rc\n", "<p>a\nb\nc</p>\n"},
      {"final line feed makes no line", "a\n", "<p>a</p>\n"},
      {"empty", "", ""},
  };
  CHECK_ALL(cases);
  EXPECT_EQ(Convert(std::string("a\0b", 3)), "<p>a\xEF\xBF\xBD" "b</p>\n");
}

TEST(CommonMarkBlocks, ThematicBreaks) {
  const TCase cases[] = {
      {"mixed characters", "*-*\n", "<p><em>-</em></p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, AtxHeadings) {
  const TCase cases[] = {
      {"levels", "# a\n## b\n### c\n#### d\n##### e\n###### f\n",
       "<h1>a</h1>\n<h2>b</h2>\n<h3>c</h3>\n<h4>d</h4>\n<h5>e</h5>\n<h6>f</h6>\n"},
      {"escaped closing", "### foo \\###\n", "<h3>foo ###</h3>\n"},
      {"only hashes", "### ###\n", "<h3></h3>\n"},
      {"empty", "##\n#\n", "<h2></h2>\n<h1></h1>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, SetextHeadings) {
  const TCase cases[] = {
      {"multi-line content", "Foo\nbar\n===\n", "<h1>Foo\nbar</h1>\n"},
      {"inner spaces", "Foo\n= =\n", "<p>Foo\n= =</p>\n"},
      {"after blank no heading", "Foo\n\n===\n", "<p>Foo</p>\n<p>===</p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, IndentedCode) {
  const TCase cases[] = {
      {"cannot interrupt paragraph", "Foo\n    bar\n", "<p>Foo\nbar</p>\n"},
      {"trailing blanks dropped", "    foo\n\n\n", "<pre><code>foo\n</code></pre>\n"},
      {"escaping", "    <a/>\n    *hi*\n", "<pre><code>&lt;a/&gt;\n*hi*\n</code></pre>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, FencedCode) {
  const TCase cases[] = {
      {"unclosed runs to end", "```\n\n  \naaa\n", "<pre><code>\n  \naaa\n</code></pre>\n"},
      {"closing with spaces", "```\naaa\n  ```   \n", "<pre><code>aaa\n</code></pre>\n"},
      {"closing with text is content", "```\naaa\n``` x\n```\n", "<pre><code>aaa\n``` x\n</code></pre>\n"},
      {"info language", "```ruby startline=3\ndef foo(x)\n```\n",
       "<pre><code class=\"language-ruby\">def foo(x)\n</code></pre>\n"},
      {"info with escapes and entities", "```\\*a&amp;&#35;\nx\n```\n", "<pre><code class=\"language-*a&amp;#\">x\n</code></pre>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, BlockQuotes) {
  const TCase cases[] = {
      {"four spaces is code", "    > # Foo\n", "<pre><code>&gt; # Foo\n</code></pre>\n"},
      {"interrupts paragraph", "aaa\n> bbb\n", "<p>aaa</p>\n<blockquote>\n<p>bbb</p>\n</blockquote>\n"},
      {"star line ends quote", "> a\n*b\n", "<blockquote>\n<p>a</p>\n</blockquote>\n<p>*b</p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, ListItems) {
  const TCase cases[] = {
      {"one with zeros", "01. a\n02. b\n", "<ol>\n<li>a</li>\n<li>b</li>\n</ol>\n"},
      {"code first", "-    one\n", "<ul>\n<li>one</li>\n</ul>\n"},
      {"five spaces make code", "-     one\n", "<ul>\n<li>\n<pre><code>one\n</code></pre>\n</li>\n</ul>\n"},
      {"starts with blank", "-\n  foo\n-\n  ```\n  bar\n  ```\n",
       "<ul>\n<li>foo</li>\n<li>\n<pre><code>bar\n</code></pre>\n</li>\n</ul>\n"},
      {"lazy line", "- a\nb\n", "<ul>\n<li>a\nb</li>\n</ul>\n"},
      {"nested", "- foo\n  - bar\n    - baz\n", "<ul>\n<li>foo\n<ul>\n<li>bar\n<ul>\n<li>baz</li>\n</ul>\n</li>\n</ul>\n</li>\n</ul>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, Lists) {
  const TCase cases[] = {
      {"blank at end stays tight", "- a\n- b\n\n", "<ul>\n<li>a</li>\n<li>b</li>\n</ul>\n"},
      {"indented items same list", "- a\n - b\n  - c\n   - d\n", "<ul>\n<li>a</li>\n<li>b</li>\n<li>c</li>\n<li>d</li>\n</ul>\n"},
      {"start rendered without zeros", "007. x\n", "<ol start=\"7\">\n<li>x</li>\n</ol>\n"},
      // a blank line after an empty item separates it from the next item
      {"blank after empty first item", "-\n\n- c\n", "<ul>\n<li></li>\n<li>\n<p>c</p>\n</li>\n</ul>\n"},
      {"blank after empty item in quote", "> - a\n> -\n>\n> - c\n",
       "<blockquote>\n<ul>\n<li>\n<p>a</p>\n</li>\n<li></li>\n<li>\n<p>c</p>\n</li>\n</ul>\n</blockquote>\n"},
      // a blank line taken by an indented code block still separates the blocks around it
      {"blank after code then text", "1.     code\n\n   para\n2. next\n",
       "<ol>\n<li>\n<pre><code>code\n</code></pre>\n<p>para</p>\n</li>\n<li>\n<p>next</p>\n</li>\n</ol>\n"},
      {"blank after code then item", "-     code\n\n- next\n",
       "<ul>\n<li>\n<pre><code>code\n</code></pre>\n</li>\n<li>\n<p>next</p>\n</li>\n</ul>\n"},
      {"blank after code in quote in item", "- >     code\n  >\n  > para\n- next\n",
       "<ul>\n<li>\n<blockquote>\n<pre><code>code\n</code></pre>\n<p>para</p>\n</blockquote>\n</li>\n<li>next</li>\n</ul>\n"},
      {"blank inside code stays tight", "- a\n\n      b\n\n      c\n- d\n",
       "<ul>\n<li>\n<p>a</p>\n<pre><code>b\n\nc\n</code></pre>\n</li>\n<li>\n<p>d</p>\n</li>\n</ul>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, InterruptionTest) {
  const TCase cases[] = {
      // the first character alone decides: these lines end the item even where they start no block
      {"hash ends item", "- a\n#b\n", "<ul>\n<li>a</li>\n</ul>\n<p>#b</p>\n"},
      {"backtick ends item", "- a\n`b`\n", "<ul>\n<li>a</li>\n</ul>\n<p><code>b</code></p>\n"},
      {"underscores end quote", "> a\n___b\n", "<blockquote>\n<p>a</p>\n</blockquote>\n<p>___b</p>\n"},
      {"ordered 1 ends quote", "> a\n1. b\n", "<blockquote>\n<p>a</p>\n</blockquote>\n<ol>\n<li>b</li>\n</ol>\n"},
      {"ordered 2 is lazy", "> a\n2. b\n", "<blockquote>\n<p>a\n2. b</p>\n</blockquote>\n"},
      {"any number in ordered list", "1. a\n5. b\n", "<ol>\n<li>a</li>\n<li>b</li>\n</ol>\n"},
      {"plain text is lazy", "> a\nb\n", "<blockquote>\n<p>a\nb</p>\n</blockquote>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, NoReferenceDefinitions) {
  const TCase cases[] = {
      {"definition is a paragraph", "[foo]: /url \"title\"\n\n[foo]\n", "<p>[foo]: /url &quot;title&quot;</p>\n<p>[foo]</p>\n"},
      {"reference link stays text", "[foo][bar]\n\n[bar]: /u\n", "<p>[foo][bar]</p>\n<p>[bar]: /u</p>\n"},
      {"collapsed", "[foo][]\n", "<p>[foo][]</p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkBlocks, RawHtmlIsEscaped) {
  const TCase cases[] = {
      {"tag pair", "<div>text</div>\n", "<p>&lt;div&gt;text&lt;/div&gt;</p>\n"},
      {"html block start", "<table><tr><td>\nhi\n</td></tr></table>\n",
       "<p>&lt;table&gt;&lt;tr&gt;&lt;td&gt;\nhi\n&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;</p>\n"},
      {"script", "<script>alert(1)</script>\n", "<p>&lt;script&gt;alert(1)&lt;/script&gt;</p>\n"},
      {"inline tag", "a <b onclick=\"x\">b</b>\n", "<p>a &lt;b onclick=&quot;x&quot;&gt;b&lt;/b&gt;</p>\n"},
      {"comment", "<!-- c -->\n", "<p>&lt;!-- c --&gt;</p>\n"},
      {"language attribute", "```\"><x\nc\n```\n", "<pre><code class=\"language-&quot;&gt;&lt;x\">c\n</code></pre>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkTables, Rules) {
  const TCase cases[] = {
      {"basic", "| foo | bar |\n| --- | --- |\n| baz | bim |\n",
       "<table>\n<thead>\n<tr>\n<th>foo</th>\n<th>bar</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>baz</td>\n<td>bim</td>\n</tr>\n"
       "</tbody>\n</table>\n"},
      {"alignments", "| a | b | c |\n|:-|:-:|-:|\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n<th align=\"center\">b</th>\n<th align=\"right\">c</th>\n</tr>\n</thead>\n</table>\n"},
      {"no outer pipes", "a | b\n--|--\n1 | 2\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n<td>2</td>\n</tr>\n</tbody>\n</table>\n"},
      {"inlines and escaped pipe", "| f\\|oo |\n| ------ |\n| `b\\|az` |\n| **b** \\| im |\n",
       "<table>\n<thead>\n<tr>\n<th>f|oo</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td><code>b|az</code></td>\n</tr>\n"
       "<tr>\n<td><strong>b</strong> | im</td>\n</tr>\n</tbody>\n</table>\n"},
      {"delimiter row without hyphens", "| a | b |\n|   |   |\n| 1 | 2 |\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n<td>2</td>\n</tr>\n</tbody>\n</table>\n"},
      {"surplus and missing cells", "| a | b |\n| - | - |\n| 1 | 2 | 3 |\n| 4 |\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n<td>2</td>\n</tr>\n"
       "<tr>\n<td>4</td>\n<td></td>\n</tr>\n</tbody>\n</table>\n"},
      {"cell counts differ", "| a | b |\n| - |\n", "<p>| a | b |\n| - |</p>\n"},
      {"ends at blank line", "| a |\n| - |\n| 1 |\n\nafter\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n</tr>\n</tbody>\n</table>\n<p>after</p>\n"},
      {"ends at quote", "| a |\n| - |\n> q\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n</table>\n<blockquote>\n<p>q</p>\n</blockquote>\n"},
      {"ends at three spaces", "| a |\n| - |\n   text\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n</table>\n<p>text</p>\n"},
      {"plain line is a row", "| a |\n| - |\nx\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>x</td>\n</tr>\n</tbody>\n</table>\n"},
      {"interrupts paragraph", "text\n| a |\n| - |\n",
       "<p>text</p>\n<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n</table>\n"},
      {"no pipe no table", "a\n-\n", "<h2>a</h2>\n"},
      // a table ends at a blank line or where another block starts; its lines pass the prefixes
      // of the containers around it
      {"in a list item", "- | a | b |\n  |---|---|\n  | 1 | 2 |\n- next item\n",
       "<ul>\n<li>\n<table>\n<thead>\n<tr>\n<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n<td>2</td>\n"
       "</tr>\n</tbody>\n</table>\n</li>\n<li>next item</li>\n</ul>\n"},
      {"in an item three columns in", "1. | a |\n   | - |\n   | 1 |\n",
       "<ol>\n<li>\n<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n</tr>\n</tbody>\n"
       "</table>\n</li>\n</ol>\n"},
      {"in a quote", "> | a |\n> | - |\n> | 1 |\nnext\n",
       "<blockquote>\n<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n</tr>\n</tbody>\n"
       "</table>\n</blockquote>\n<p>next</p>\n"},
      {"delimiter outside the item", "- | a |\n| - |\n", "<ul>\n<li>| a |\n| - |</li>\n</ul>\n"},
      {"ends at list items", "| a |\n| - |\n| 1 |\n2) item\n- item\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>1</td>\n</tr>\n</tbody>\n</table>\n"
       "<ol start=\"2\">\n<li>item</li>\n</ol>\n<ul>\n<li>item</li>\n</ul>\n"},
      {"ends at break and fence", "| a |\n| - |\n***\n| b |\n| - |\n```\nc\n```\n",
       "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n</table>\n<hr />\n"
       "<table>\n<thead>\n<tr>\n<th>b</th>\n</tr>\n</thead>\n</table>\n<pre><code>c\n</code></pre>\n"},
  };
  CHECK_ALL(cases);
}

// A table has at most 128 columns, and the empty cells that fill short rows never outweigh the
// table's own text: neither the output nor the room reserved for it grows past a small multiple
// of the input.
TEST(CommonMarkTables, OutputStaysNearInputSize) {
  auto row = [](const char* ACell, std::size_t ACount) { return Repeat(ACell, ACount) + "\n"; };
  // a header of 10000 cells is no table
  const std::string wide = row("th|", 10000) + row("-|", 10000) + Repeat("td\n", 10000);
  std::string html = TCommonMarkEngine::process(wide, true);
  EXPECT_EQ(html.find("<table>"), std::string::npos);
  EXPECT_LE(html.size(), 2 * wide.size());
  EXPECT_LE(html.capacity(), 4 * wide.size());

  // 128 columns make a table, 129 do not
  EXPECT_EQ(Convert(row("|a", 128) + row("|-", 128)).rfind("<table>", 0), 0u);
  EXPECT_EQ(Convert(row("|a", 129) + row("|-", 129)).rfind("<p>", 0), 0u);

  // rows of one short cell under 128 centred columns
  const std::string tall = row("|a", 128) + row("|:-:", 128) + Repeat("x\n", 40000);
  html = TCommonMarkEngine::process(tall, true);
  EXPECT_EQ(html.rfind("<table>", 0), 0u);
  // one short cell in a row of its own costs some 18 bytes for 2 already
  EXPECT_LE(html.size(), 32 * tall.size());
  // the rows at the top are filled up; every row is still there
  EXPECT_NE(html.find("<tr>\n<td align=\"center\">x</td>\n<td align=\"center\"></td>\n"), std::string::npos);
  std::size_t rows = 0;
  for (std::size_t at = html.find("<tr>"); at != std::string::npos; at = html.find("<tr>", at + 1)) ++rows;
  EXPECT_EQ(rows, 40001u);
}

// Empty cells fill short rows while their bytes stay within four times the table's source
// (and 64 KiB that the tables of a document may fill beyond); later short rows keep their own
// cells only.
TEST(CommonMarkTables, FillingStaysWithinFourTimesTheSource) {
  auto count = [](const std::string& AText, const std::string& APart) {
    std::size_t n = 0;
    for (std::size_t at = AText.find(APart); at != std::string::npos; at = AText.find(APart, at + 1)) ++n;
    return n;
  };
  // a small table is filled up whole
  const std::string small = "| a | b | c |\n|---|---|---|\n" + Repeat("x\n", 100);
  for (const std::string& html : {Convert(small), ParseThenRender(small)}) {
    EXPECT_EQ(count(html, "<td></td>\n"), 200u);
    EXPECT_EQ(count(html, "<tr>"), 101u);
  }
  // rows of one short cell under 128 centred columns
  const std::string tall = Repeat("|a", 128) + "\n" + Repeat("|:-:", 128) + "\n" + Repeat("x\n", 40000);
  const std::string empty = "<td align=\"center\"></td>\n";
  for (const std::string& html : {Convert(tall), ParseThenRender(tall)}) {
    EXPECT_LE(count(html, empty) * empty.size(), 4 * tall.size() + 64 * 1024);
    EXPECT_EQ(html.find("<tbody>\n<tr>\n<td align=\"center\">x</td>\n" + empty), html.find("<tbody>"));
    EXPECT_EQ(count(html, "<tr>"), 40001u);
  }
}

// A bracket that makes no link is text again, joined to the text around it where nothing else
// refers to it: emphasis, links and code around and inside it come out as before.
TEST(CommonMarkInlines, BracketsThatMakeNothing) {
  const TCase cases[] = {
      {"inside emphasis", "*a [b] c*\n", "<p><em>a [b] c</em></p>\n"},
      {"emphasis opened inside", "[a *b] c*\n", "<p>[a <em>b] c</em></p>\n"},
      {"emphasis across", "_a [b_ c] d_\n", "<p><em>a [b</em> c] d_</p>\n"},
      {"autolink inside", "a [<http://x> b] c\n", "<p>a [<a href=\"http://x\">http://x</a> b] c</p>\n"},
      {"bare address inside", "[www.a.com x] y\n", "<p>[<a href=\"http://www.a.com\">www.a.com</a> x] y</p>\n"},
      {"after emphasis", "*x* [a](b [c] d) [e]\n", "<p><em>x</em> [a](b [c] d) [e]</p>\n"},
      {"nested, then strong", "[[a]] [b]( **c [d] e**\n", "<p>[[a]] [b]( <strong>c [d] e</strong></p>\n"},
      {"over a line, then code", "[a\nb] ![c] [d](<e) `f`\n", "<p>[a\nb] ![c] [d](&lt;e) <code>f</code></p>\n"},
      {"link after many", "[a](b [c](d [e](f)\n", "<p>[a](b [c](d <a href=\"f\">e</a></p>\n"},
  };
  CHECK_ALL(cases);
}

// A run of "*" or "_" with no run after it that could close stays text from the start; runs
// that may close are found also after an escaped delimiter, a code span and addresses.
TEST(CommonMarkInlines, RunsWithNoCloserAfterThem) {
  const TCase cases[] = {
      {"closer after an escape", "*a \\**\n", "<p><em>a *</em></p>\n"},
      {"opener after an escape", "*a*\\**b\n", "<p><em>a</em>**b</p>\n"},
      {"underscores", "__a__ _b \\__\n", "<p><strong>a</strong> <em>b _</em></p>\n"},
      {"code span inside", "*a `*` b*\n", "<p><em>a <code>*</code> b</em></p>\n"},
      {"around addresses", "*www.a.com* x **b www.c.org**\n",
       "<p><em><a href=\"http://www.a.com\">www.a.com</a></em> x <strong>b <a href=\"http://www.c.org\">www.c.org</a></strong></p>\n"},
      {"intraword underscore", "_a_b_ *c**\n", "<p><em>a_b</em> <em>c</em>*</p>\n"},
      {"over a line", "***a\n*b***\n", "<p>*<strong>a\n<em>b</em></strong></p>\n"},
      {"in an autolink", "x *a <http://b*> *c\n", "<p>x *a <a href=\"http://b*\">http://b*</a> *c</p>\n"},
      {"in a link", "*a [b*](c*) d*\n", "<p><em>a <a href=\"c*\">b*</a> d</em></p>\n"},
      {"openers only", "*a **a _b __b\n", "<p>*a **a _b __b</p>\n"},
  };
  CHECK_ALL(cases);
}

// Brackets one after the other are held together until one of them makes a link or an image;
// the text around the one that does stays as it was.
TEST(CommonMarkInlines, BracketsOneAfterTheOther) {
  const TCase cases[] = {
      {"link inside brackets", "[[a](b)]\n", "<p>[<a href=\"b\">a</a>]</p>\n"},
      {"after text", "x[[y](z)\n", "<p>x[<a href=\"z\">y</a></p>\n"},
      {"outer ones inactive", "[[[a](b)](c)](d)\n", "<p>[[<a href=\"b\">a</a>](c)](d)</p>\n"},
      {"link in an image", "![[a](b)](c)\n", "<p><img src=\"c\" alt=\"a\" /></p>\n"},
      {"image in a link", "[![a](b)](c)\n", "<p><a href=\"c\"><img src=\"b\" alt=\"a\" /></a></p>\n"},
      {"images one after the other", "![![a](b)](c) ![[d]](e)\n",
       "<p><img src=\"c\" alt=\"a\" /> <img src=\"e\" alt=\"[d]\" /></p>\n"},
      {"emphasis in the inner link", "[[*a*](b) c](d)\n", "<p>[<a href=\"b\"><em>a</em></a> c](d)</p>\n"},
      {"closer in a link, opener before", "*[[a*](b)\n", "<p>*[<a href=\"b\">a*</a></p>\n"},
      {"image and link inside", "[a ![b](c) [d](e)](f)\n",
       "<p>[a <img src=\"c\" alt=\"b\" /> <a href=\"e\">d</a>](f)</p>\n"},
      {"many, then a link at the end", "[[[[x] [y](z)\n", "<p>[[[[x] <a href=\"z\">y</a></p>\n"},
      {"address inside, link around", "[[www.a.com](b)\n", "<p>[<a href=\"b\">www.a.com</a></p>\n"},
  };
  CHECK_ALL(cases);
}

// Closers are matched as they come while no bracket is open, and those that came inside a
// bracket once it makes nothing or stays open: the emphasis is what matching them all at the
// end of the paragraph gives.
TEST(CommonMarkInlines, ClosersMatchedAsTheyCome) {
  const TCase cases[] = {
      {"closer inside a bracket that makes nothing", "*a [b* c] d*\n", "<p><em>a [b</em> c] d*</p>\n"},
      {"closer inside a bracket left open", "*a [b* [c](d)\n", "<p><em>a [b</em> <a href=\"d\">c</a></p>\n"},
      {"closer inside a link stays inside", "*a [b*](c) d*\n", "<p><em>a <a href=\"c\">b*</a> d</em></p>\n"},
      {"two brackets, inner makes nothing", "*a [[b*] c\n", "<p><em>a [[b</em>] c</p>\n"},
      {"rule of 3 across a bracket", "**a [*b*] c**\n", "<p><strong>a [<em>b</em>] c</strong></p>\n"},
      {"opener at the start, no closer", "*a **b\n", "<p>*a **b</p>\n"},
      {"alternating", "*_*_*_*\n", "<p><em>_</em><em>*</em>*</p>\n"},
  };
  CHECK_ALL(cases);
}

// A long paragraph is written in pieces as its parts become final: what is still open (an
// emphasis opener, a bracket) keeps the text after it until it closes.
TEST(CommonMarkInlines, LongParagraphsWrittenInPieces) {
  const std::string many = Repeat("*a* [b](c) _d_ www.e.com ", 20000);
  const std::string manyHtml = Repeat("<em>a</em> <a href=\"c\">b</a> <em>d</em> <a href=\"http://www.e.com\">www.e.com</a> ", 20000);
  const std::string letters(70000, 'x');
  const std::string path(70000, 'b');
  const std::string cases[][2] = {
      {many, "<p>" + manyHtml.substr(0, manyHtml.size() - 1) + "</p>\n"},
      {"*" + letters + "*", "<p><em>" + letters + "</em></p>\n"},
      {"[" + letters + "](u) " + letters, "<p><a href=\"u\">" + letters + "</a> " + letters + "</p>\n"},
      {"*a www.x.com/" + path + " c*", "<p><em>a <a href=\"http://www.x.com/" + path + "\">www.x.com/" + path + "</a> c</em></p>\n"},
      {"a www.x.com/" + path + " *c*", "<p>a <a href=\"http://www.x.com/" + path + "\">www.x.com/" + path + "</a> <em>c</em></p>\n"},
      {many + "[x *y](z)", "<p>" + manyHtml + "<a href=\"z\">x *y</a></p>\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Convert(c[0]), c[1]) << c[0].substr(0, 40);
    EXPECT_EQ(ParseThenRender(c[0]), c[1]) << c[0].substr(0, 40) << " (parsed whole)";
  }
}

// Code spans are written as text unless an image description is open, whose alt text takes
// their content without the tags.
TEST(CommonMarkInlines, CodeSpansInImagesAndAround) {
  const TCase cases[] = {
      {"unequal runs", "`a``b`a``b`\n", "<p><code>a``b</code>a``b`</p>\n"},
      {"image and link", "![x `c` y](i.png) [x `c` y](l)\n",
       "<p><img src=\"i.png\" alt=\"x c y\" /> <a href=\"l\">x <code>c</code> y</a></p>\n"},
      {"in emphasis, escaped", "*`a`* **`b`** `<&>`\n",
       "<p><em><code>a</code></em> <strong><code>b</code></strong> <code>&lt;&amp;&gt;</code></p>\n"},
      {"image in image", "![a ![b `c`](d) `e`](f) `g`\n", "<p><img src=\"f\" alt=\"a b c e\" /> <code>g</code></p>\n"},
      {"no link, no image", "[`a`](b `c`) ![`d`]\n", "<p>[<code>a</code>](b <code>c</code>) ![<code>d</code>]</p>\n"},
      {"after an image that failed", "![`a`] `b`](c)\n", "<p>![<code>a</code>] <code>b</code>](c)</p>\n"},
  };
  CHECK_ALL(cases);
}

// Brackets with no "]" after them are text at once; addresses and autolinks outside brackets
// are written as text with their tags. Links, images and emphasis around them are unchanged.
TEST(CommonMarkInlines, BracketsNeverClosedAndAddresses) {
  const TCase cases[] = {
      {"open brackets", "[www.a.com/x [www.b.com/y z\n",
       "<p>[<a href=\"http://www.a.com/x\">www.a.com/x</a> [<a href=\"http://www.b.com/y\">www.b.com/y</a> z</p>\n"},
      {"autolinks outside", "*www.a.com* <http://x> a@b.com ![c\n",
       "<p><em><a href=\"http://www.a.com\">www.a.com</a></em> <a href=\"http://x\">http://x</a> "
       "<a href=\"mailto:a@b.com\">a@b.com</a> ![c</p>\n"},
      {"closed, then open", "[a www.b.com] [c](d) www.e.com [f\n",
       "<p>[a <a href=\"http://www.b.com\">www.b.com</a>] <a href=\"d\">c</a> <a href=\"http://www.e.com\">www.e.com</a> [f</p>\n"},
      {"inside a link and an image", "[a <http://b> *c*](d) ![e www.f.com](g) [h\n",
       "<p><a href=\"d\">a http://b <em>c</em></a> <img src=\"g\" alt=\"e www.f.com\" /> [h</p>\n"},
      {"in strong", "**[a** www.b.com\n", "<p><strong>[a</strong> <a href=\"http://www.b.com\">www.b.com</a></p>\n"},
      {"escaped closer", "[a\\] ![b\n", "<p>[a] ![b</p>\n"},
      {"closer in code", "[a `]` www.b.com\n", "<p>[a <code>]</code> <a href=\"http://www.b.com\">www.b.com</a></p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, EscapesAndEntities) {
  const TCase cases[] = {
      {"escaped markers", "\\*not emphasized*\n\\[not a link](/foo)\n\\`not code`\n",
       "<p>*not emphasized*\n[not a link](/foo)\n`not code`</p>\n"},
      {"named", "&nbsp; &amp; &copy; &AElig; &Dcaron;\n", "<p>\xC2\xA0 &amp; \xC2\xA9 \xC3\x86 \xC4\x8E</p>\n"},
      {"decimal", "&#35; &#1234; &#992;\n", "<p># \xD3\x92 \xCF\xA0</p>\n"},
      {"hexadecimal", "&#X22; &#XD06; &#xcab; &#x41;\n", "<p>&quot; \xE0\xB4\x86 \xE0\xB2\xAB A</p>\n"},
      {"zero and astral", "&#0; &#x1F600; &#98765432; &#987654321;\n",
       "<p>\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD &amp;#987654321;</p>\n"},
      {"unassigned", "&#x378;\n", "<p>\xEF\xBF\xBD</p>\n"},
      {"unknown name", "&MadeUpEntity; &x; &#;\n", "<p>&amp;MadeUpEntity; &amp;x; &amp;#;</p>\n"},
      {"no semicolon", "&copy &amp\n", "<p>&amp;copy &amp;amp</p>\n"},
      {"case matters", "&AMP; &Amp;\n", "<p>&amp; &amp;Amp;</p>\n"},
      {"multi code point", "&NotEqualTilde; &ThickSpace;\n", "<p>\xE2\x89\x82\xCC\xB8 \xE2\x81\x9F\xE2\x80\x8A</p>\n"},
      {"in code span literal", "`&ouml;`\n", "<p><code>&amp;ouml;</code></p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, CodeSpans) {
  const TCase cases[] = {
      {"outer and inner spaces", "``  a  b  ``\n", "<p><code>a b</code></p>\n"},
      {"line feeds", "`foo\nbar  \nbaz`\n", "<p><code>foo bar baz</code></p>\n"},
      {"tabs kept", "`a\tb`\n", "<p><code>a\tb</code></p>\n"},
      {"escaped content", "`<a>&`\n", "<p><code>&lt;a&gt;&amp;</code></p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, Emphasis) {
  const TCase cases[] = {
      {"snake case", "snake_case_name\n", "<p>snake_case_name</p>\n"},
      {"triple", "***strong emph***\n", "<p><em><strong>strong emph</strong></em></p>\n"},
      {"strong in em", "***strong** in emph*\n", "<p><em><strong>strong</strong> in emph</em></p>\n"},
      {"em in strong", "***emph* in strong**\n", "<p><strong><em>emph</em> in strong</strong></p>\n"},
      {"rule of three blocks", "*foo**bar*\n", "<p><em>foo**bar</em></p>\n"},
      {"different characters", "*foo_\n", "<p>*foo_</p>\n"},
      {"unicode punctuation", "*\xE2\x80\x9C" "a\xE2\x80\x9D*\n", "<p><em>\xE2\x80\x9C" "a\xE2\x80\x9D</em></p>\n"},
      {"inside link text", "[*a*](/u)\n", "<p><a href=\"/u\"><em>a</em></a></p>\n"},
      {"link wins over emphasis", "*[foo*](/u)\n", "<p>*<a href=\"/u\">foo*</a></p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, Strikethrough) {
  const TCase cases[] = {
      {"simple", "~~a~~\n", "<p><del>a</del></p>\n"},
      {"content literal", "~~a *b* c~~\n", "<p><del>a *b* c</del></p>\n"},
      {"closing on next line", "~~a\nb~~\n", "<p>~~a\nb~~</p>\n"},
      {"single tilde", "~a~\n", "<p>~a~</p>\n"},
      {"three tildes", "~~~a~~~ x\n", "<p>~~~a~~~ x</p>\n"},
      {"whitespace as code span", "~~  a  b ~~\n", "<p><del>a b</del></p>\n"},
      {"escaped content", "~~<x>~~\n", "<p><del>&lt;x&gt;</del></p>\n"},
      {"no closer then closer", "~~ a ~~~ b ~~\n", "<p><del>a ~~~ b</del></p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, Links) {
  const TCase cases[] = {
      {"pointed with space", "[link](</my uri>)\n", "<p><a href=\"/my%20uri\">link</a></p>\n"},
      {"pointed line feed", "[link](<foo\nbar>)\n", "<p>[link](&lt;foo\nbar&gt;)</p>\n"},
      {"unbalanced parens", "[link](foo(and(bar))\n", "<p>[link](foo(and(bar))</p>\n"},
      {"fragment and query", "[link](http://example.com?foo=3#frag)\n", "<p><a href=\"http://example.com?foo=3#frag\">link</a></p>\n"},
      {"ampersand and quote", "[a](/u?a=1&b=\"2\")\n", "<p><a href=\"/u?a=1&amp;b=%222%22\">a</a></p>\n"},
      {"title kinds", "[a](/u 'x') [b](/u (y))\n", "<p><a href=\"/u\" title=\"x\">a</a> <a href=\"/u\" title=\"y\">b</a></p>\n"},
      {"title needs whitespace", "[link](/url\"title\")\n", "<p><a href=\"/url%22title%22\">link</a></p>\n"},
      {"unclosed title", "[a](/u \"t)\n", "<p>[a](/u &quot;t)</p>\n"},
      {"lone brackets", "a ] b [ c\n", "<p>a ] b [ c</p>\n"},
      {"non-ascii destination", "[a](/\xC3\xA4\xE2\x82\xAC)\n", "<p><a href=\"/%C3%A4%E2%82%AC\">a</a></p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, Images) {
  const TCase cases[] = {
      {"alt drops emphasis", "![foo *bar*](train.jpg)\n", "<p><img src=\"train.jpg\" alt=\"foo bar\" /></p>\n"},
      {"nested image alt", "![foo ![bar](/u2)](/u1)\n", "<p><img src=\"/u1\" alt=\"foo bar\" /></p>\n"},
      {"escaped bang", "\\![foo](/u)\n", "<p>!<a href=\"/u\">foo</a></p>\n"},
      {"bang alone", "a! b\n", "<p>a! b</p>\n"},
      {"no reference image", "![foo]\n", "<p>![foo]</p>\n"},
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, Autolinks) {
  const TCase cases[] = {
      {"odd scheme", "<a+b+c:d>\n", "<p><a href=\"#\">a+b+c:d</a></p>\n"},
      {"space refused", "<http://foo.bar/baz bim>\n",
       "<p>&lt;<a href=\"http://foo.bar/baz\">http://foo.bar/baz</a> bim&gt;</p>\n"},  // then an extended autolink
  };
  CHECK_ALL(cases);
}

TEST(CommonMarkInlines, ExtendedAutolinks) {
  const TCase cases[] = {
      {"www", "www.example.org\n", "<p><a href=\"http://www.example.org\">www.example.org</a></p>\n"},
      {"www with path", "Visit www.example.org/help for more information.\n",
       "<p>Visit <a href=\"http://www.example.org/help\">www.example.org/help</a> for more information.</p>\n"},
      {"trailing full stop", "Visit www.example.org.\n",
       "<p>Visit <a href=\"http://www.example.org\">www.example.org</a>.</p>\n"},
      {"trailing punctuation all left out", "Visit www.example.org/a.b..\nSee www.a.com/x?!:,_~.\n",
       "<p>Visit <a href=\"http://www.example.org/a.b\">www.example.org/a.b</a>..\n"
       "See <a href=\"http://www.a.com/x\">www.a.com/x</a>?!:,_~.</p>\n"},
      {"parentheses", "www.google.com/search?q=(business))+ok\n",
       "<p><a href=\"http://www.google.com/search?q=(business))+ok\">www.google.com/search?q=(business))+ok</a></p>\n"},
      {"surplus closing paren", "(www.google.com/search?q=Markup+(business)))\n",
       "<p>(<a href=\"http://www.google.com/search?q=Markup+(business)\">www.google.com/search?q=Markup+(business)</a>))</p>\n"},
      {"entity-like tail", "www.google.com/search?q=commonmark&hl;\n",
       "<p><a href=\"http://www.google.com/search?q=commonmark\">www.google.com/search?q=commonmark</a>&amp;hl;</p>\n"},
      {"ends at angle", "www.example.org/he<lp\n", "<p><a href=\"http://www.example.org/he\">www.example.org/he</a>&lt;lp</p>\n"},
      {"http and https", "http://example.org https://x.org/a?b=c ftp://f.net\n",
       "<p><a href=\"http://example.org\">http://example.org</a> <a href=\"https://x.org/a?b=c\">https://x.org/a?b=c</a> "
       "<a href=\"ftp://f.net\">ftp://f.net</a></p>\n"},
      {"after a letter", "xhttp://a.com\n", "<p>x<a href=\"http://a.com\">http://a.com</a></p>\n"},
      {"no dot no link", "www.localhost and http://localhost\n", "<p>www.localhost and http://localhost</p>\n"},
      {"case sensitive prefix", "WWW.example.com\n", "<p>WWW.example.com</p>\n"},
      {"email", "foo@bar.baz\n", "<p><a href=\"mailto:foo@bar.baz\">foo@bar.baz</a></p>\n"},
      {"email final dot", "a.b-c_d@a.b.\n", "<p><a href=\"mailto:a.b-c_d@a.b\">a.b-c_d@a.b</a>.</p>\n"},
      {"email bad ends", "a.b-c_d@a.b- a.b-c_d@a.b_\n", "<p>a.b-c_d@a.b- a.b-c_d@a.b_</p>\n"},
      {"email plus in domain", "hello+xyz@mail.example\nhello@mail+xyz.example\n",
       "<p><a href=\"mailto:hello+xyz@mail.example\">hello+xyz@mail.example</a>\nhello@mail+xyz.example</p>\n"},
      {"two ats", "a@b@c.d\n", "<p>a@<a href=\"mailto:b@c.d\">b@c.d</a></p>\n"},
      {"leading underscore", "Write to _sales@example.com\n",
       "<p>Write to <a href=\"mailto:_sales@example.com\">_sales@example.com</a></p>\n"},
      {"leading underscores and signs", "__a@b.com +c@d.com -e@f.com\n",
       "<p><a href=\"mailto:__a@b.com\">__a@b.com</a> <a href=\"mailto:+c@d.com\">+c@d.com</a> "
       "<a href=\"mailto:-e@f.com\">-e@f.com</a></p>\n"},
      {"underscore then no address", "_a@b_ and _x_\n", "<p><em>a@b</em> and <em>x</em></p>\n"},
      {"not in code", "`www.a.com`\n", "<p><code>www.a.com</code></p>\n"},
  };
  CHECK_ALL(cases);
}

// Bare addresses never reach into link text, into a link's destination or across emphasis.
TEST(CommonMarkInlines, ExtendedAutolinksBesideLinks) {
  const TCase cases[] = {
      {"address as link text", "[https://example.com](https://example.com)\n",
       "<p><a href=\"https://example.com\">https://example.com</a></p>\n"},
      {"e-mail as link text", "[me@example.com](mailto:me@example.com)\n",
       "<p><a href=\"mailto:me@example.com\">me@example.com</a></p>\n"},
      {"www in link text", "[see www.a.com/x now](/u)\n", "<p><a href=\"/u\">see www.a.com/x now</a></p>\n"},
      {"in image description", "![www.a.com](/p.png)\n", "<p><img src=\"/p.png\" alt=\"www.a.com\" /></p>\n"},
      {"inside strong", "**www.a.com/x**\n",
       "<p><strong><a href=\"http://www.a.com/x\">www.a.com/x</a></strong></p>\n"},
      {"inside emphasis", "_http://a.com/x_ and *a@b.com*\n",
       "<p><em><a href=\"http://a.com/x\">http://a.com/x</a></em> and <em><a href=\"mailto:a@b.com\">a@b.com</a></em></p>\n"},
      {"in angle brackets", "<www.a.com>\n", "<p>&lt;<a href=\"http://www.a.com\">www.a.com</a>&gt;</p>\n"},
      {"bracket that makes no link", "[see http://a.com/x] (y)\n",
       "<p>[see <a href=\"http://a.com/x\">http://a.com/x</a>] (y)</p>\n"},
      {"link after an address", "www.a.com/[x](/u)\n",
       "<p><a href=\"http://www.a.com/\">www.a.com/</a><a href=\"/u\">x</a></p>\n"},
      {"unbalanced parentheses", "(see www.a.com/a_(b)))\n",
       "<p>(see <a href=\"http://www.a.com/a_(b)\">www.a.com/a_(b)</a>))</p>\n"},
      {"entity-like tails", "www.a.com/q&x;&amp2; &lt;\n",
       "<p><a href=\"http://www.a.com/q\">www.a.com/q</a>&amp;x;&amp;amp2; &lt;</p>\n"},
  };
  CHECK_ALL(cases);
}

// Targets that could run script or carry a document of their own are never written.
TEST(CommonMarkInlines, UnsafeTargets) {
  const TCase cases[] = {
      {"script link", "[x](javascript:alert(1))\n", "<p><a href=\"#\">x</a></p>\n"},
      {"script autolink", "<javascript:alert(1)>\n", "<p><a href=\"#\">javascript:alert(1)</a></p>\n"},
      {"data image", "![x](data:image/png;base64,AAAA \"t\")\n", "<p><img alt=\"x\" title=\"t\" /></p>\n"},
      {"data link", "[x](<data:text/html,hi>)\n", "<p><a href=\"#\">x</a></p>\n"},
      {"case and hidden characters", "[a](JavaScript:x) [b](java&#9;script:x) [c](&#32;vbscript:x) [d](<  file:///x>)\n",
       "<p><a href=\"#\">a</a> <a href=\"#\">b</a> <a href=\"#\">c</a> <a href=\"#\">d</a></p>\n"},
      {"allowed schemes", "[a](HTTP://a.b) [b](https://a.b) [c](ftp://a.b) [d](mailto:a@b.c)\n",
       "<p><a href=\"HTTP://a.b\">a</a> <a href=\"https://a.b\">b</a> <a href=\"ftp://a.b\">c</a> "
       "<a href=\"mailto:a@b.c\">d</a></p>\n"},
      {"relative targets", "[a](p.md#x:y) [b](/a:b) [c](?q=a:b) [d](#top) ![e](img/e.svg)\n",
       "<p><a href=\"p.md#x:y\">a</a> <a href=\"/a:b\">b</a> <a href=\"?q=a:b\">c</a> <a href=\"#top\">d</a> "
       "<img src=\"img/e.svg\" alt=\"e\" /></p>\n"},
      // a scheme is a letter, then letters, digits, "+", "-" or ".", then ":"; anything else before
      // the first colon makes a relative target
      {"colon in relative targets", "[link](foo\\)\\:) [a](10:30.md) [](:) [b](a_b:c) [c](a%3Ab:c) ![d](1:2.png)\n",
       "<p><a href=\"foo):\">link</a> <a href=\"10:30.md\">a</a> <a href=\":\"></a> <a href=\"a_b:c\">b</a> "
       "<a href=\"a%3Ab:c\">c</a> <img src=\"1:2.png\" alt=\"d\" /></p>\n"},
      {"unknown schemes of any length", "[a](c:x) [b](x-y+z.9:q) [c](abcdefghijklmnopqrstuvwxyzabcdefghij:x) [d](<java\nscript:x>)\n",
       "<p><a href=\"#\">a</a> <a href=\"#\">b</a> <a href=\"#\">c</a> [d](&lt;java\nscript:x&gt;)</p>\n"},
  };
  CHECK_ALL(cases);
}

// Every ill-formed UTF-8 sequence becomes one U+FFFD for each maximal part of it, in text and
// in attribute values alike.
TEST(CommonMarkInlines, InvalidUtf8Replaced) {
  const TCase cases[] = {
      {"lone bytes", "a\xFF b\x80\n", "<p>a\xEF\xBF\xBD b\xEF\xBF\xBD</p>\n"},
      {"truncated sequence", "\xE2\x82 \xF0\x9F\x98\n", "<p>\xEF\xBF\xBD \xEF\xBF\xBD</p>\n"},
      {"overlong and surrogate", "\xC0\xAF\xED\xA0\x80\n",
       "<p>\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD</p>\n"},
      {"beyond the last code point", "\xF4\x90\x80\x80\n",
       "<p>\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD</p>\n"},
      {"valid kept", "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\n", "<p>\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80</p>\n"},
      {"attributes", "![\xFF](/u \"t\xE2\x82\")\n", "<p><img src=\"/u\" alt=\"\xEF\xBF\xBD\" title=\"t\xEF\xBF\xBD\" /></p>\n"},
      {"code", "    \xFF\n`\xC3`\n", "<pre><code>\xEF\xBF\xBD\n</code></pre>\n<p><code>\xEF\xBF\xBD</code></p>\n"},
  };
  CHECK_ALL(cases);
}

// Unterminated destinations, titles and address runs are scanned once: each of these inputs,
// some hundred kilobytes long, would need billions of steps if every "]" or every boundary
// started the scan again.
TEST(CommonMarkEngine, HostileInputsGiveTheirText) {
  const std::size_t n = 60000;
  const struct {
    const char* unit;
    const char* html;
  } cases[] = {
      {"[ (](", "[ (]("},
      {"[](a (", "[](a ("},
      {"[a](<b", "[a](&lt;b"},
      {"[](<", "[](&lt;"},
      {"a@", "a@"},
      {"a@b.", "a@b."},
      {"[](a \"", "[](a &quot;"},
      {"[](<a b", "[](&lt;a b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Convert(Repeat(c.unit, n)), "<p>" + Repeat(c.html, n) + "</p>\n") << c.unit;
  }
  EXPECT_EQ(Convert("www.a.com" + std::string(n, ')')),
            "<p><a href=\"http://www.a.com\">www.a.com</a>" + std::string(n, ')') + "</p>\n");
  EXPECT_EQ(Convert("www.a.com/" + Repeat("&a;", n)),
            "<p><a href=\"http://www.a.com/\">www.a.com/</a>" + Repeat("&amp;a;", n) + "</p>\n");
}

TEST(CommonMarkInlines, LineBreaks) {
  const TCase cases[] = {
      {"one space is soft", "foo \nbaz\n", "<p>foo\nbaz</p>\n"},
      {"inner spaces kept", "a \t b\n", "<p>a \t b</p>\n"},
  };
  CHECK_ALL(cases);
}

// A blank line taken inside a block that is still open counts after the blocks before it have
// been written.
TEST(CommonMarkEngine, BlocksWrittenAsTheyComplete) {
  const TCase cases[] = {
      {"loose list after a heading", "# h\n\n1. a\n\n1. b\n",
       "<h1>h</h1>\n<ol>\n<li>\n<p>a</p>\n</li>\n<li>\n<p>b</p>\n</li>\n</ol>\n"},
      {"loose item after a paragraph", "p\n\n- a\n\n  b\n\nq\n",
       "<p>p</p>\n<ul>\n<li>\n<p>a</p>\n<p>b</p>\n</li>\n</ul>\n<p>q</p>\n"},
      {"blank after an empty item", "> q\n\n- a\n-\n\n- c\n",
       "<blockquote>\n<p>q</p>\n</blockquote>\n<ul>\n<li>\n<p>a</p>\n</li>\n<li></li>\n<li>\n<p>c</p>\n</li>\n</ul>\n"},
      {"tight list after a loose one", "- a\n\n- b\n\n***\n- c\n- d\n",
       "<ul>\n<li>\n<p>a</p>\n</li>\n<li>\n<p>b</p>\n</li>\n</ul>\n<hr />\n<ul>\n<li>c</li>\n<li>d</li>\n</ul>\n"},
  };
  CHECK_ALL(cases);
}

// The items of a top-level list are written as the next one begins, tight until the list is
// known to be loose; the page of the items written before that is mended then.
TEST(CommonMarkEngine, ListItemsWrittenAsTheyComplete) {
  const TCase cases[] = {
      {"tight", "- a\n- b\n- c\n", "<ul>\n<li>a</li>\n<li>b</li>\n<li>c</li>\n</ul>\n"},
      {"loose by the last item", "- a\n- b\n\n- c\n",
       "<ul>\n<li>\n<p>a</p>\n</li>\n<li>\n<p>b</p>\n</li>\n<li>\n<p>c</p>\n</li>\n</ul>\n"},
      {"loose from the start", "- a\n\n- b\n- c\n",
       "<ul>\n<li>\n<p>a</p>\n</li>\n<li>\n<p>b</p>\n</li>\n<li>\n<p>c</p>\n</li>\n</ul>\n"},
      {"paragraph and nested list, loose later", "- a\n  - x\n- b\n\n- c\n",
       "<ul>\n<li>\n<p>a</p>\n<ul>\n<li>x</li>\n</ul>\n</li>\n<li>\n<p>b</p>\n</li>\n<li>\n<p>c</p>\n</li>\n</ul>\n"},
      {"code then paragraph, loose later", "1.     code\n   para\n2. b\n\n3. c\n",
       "<ol>\n<li>\n<pre><code>code\n</code></pre>\n<p>para</p>\n</li>\n<li>\n<p>b</p>\n</li>\n<li>\n<p>c</p>\n"
       "</li>\n</ol>\n"},
      {"code then paragraph, tight", "1.     code\n   para\n2. b\n",
       "<ol>\n<li>\n<pre><code>code\n</code></pre>\npara</li>\n<li>b</li>\n</ol>\n"},
      {"paragraph, quote, paragraph", "- a\n  > q\n\n  b\n- c\n",
       "<ul>\n<li>\n<p>a</p>\n<blockquote>\n<p>q</p>\n</blockquote>\n<p>b</p>\n</li>\n<li>\n<p>c</p>\n</li>\n</ul>\n"},
      {"empty items", "- a\n-\n- c\n\n- d\n",
       "<ul>\n<li>\n<p>a</p>\n</li>\n<li></li>\n<li>\n<p>c</p>\n</li>\n<li>\n<p>d</p>\n</li>\n</ul>\n"},
      {"start number", "7. a\n8. b\n9. c\n", "<ol start=\"7\">\n<li>a</li>\n<li>b</li>\n<li>c</li>\n</ol>\n"},
      {"lines of one item", "- a\n  b\nlazy\n- c\n", "<ul>\n<li>a\nb\nlazy</li>\n<li>c</li>\n</ul>\n"},
      {"two lists apart", "- a\n- b\n\npara\n\n- c\n- d\n\n- e\n",
       "<ul>\n<li>a</li>\n<li>b</li>\n</ul>\n<p>para</p>\n<ul>\n<li>\n<p>c</p>\n</li>\n<li>\n<p>d</p>\n</li>\n<li>\n"
       "<p>e</p>\n</li>\n</ul>\n"},
      {"another marker starts a list", "- a\n- b\n+ c\n+ d\n",
       "<ul>\n<li>a</li>\n<li>b</li>\n</ul>\n<ul>\n<li>c</li>\n<li>d</li>\n</ul>\n"},
      {"blank line in a quote of an item", "- > a\n  >\n  > b\n- c\n",
       "<ul>\n<li>\n<blockquote>\n<p>a</p>\n<p>b</p>\n</blockquote>\n</li>\n<li>c</li>\n</ul>\n"},
  };
  CHECK_ALL(cases);
  // many items written tight, then one blank line makes them all loose
  std::string md, tight, loose;
  for (int i = 0; i < 500; ++i) {
    std::string n = std::to_string(i);
    md += "- *" + n + "*\n  - x\n";
    tight += "<li><em>" + n + "</em>\n<ul>\n<li>x</li>\n</ul>\n</li>\n";
    loose += "<li>\n<p><em>" + n + "</em></p>\n<ul>\n<li>x</li>\n</ul>\n</li>\n";
  }
  EXPECT_EQ(Convert(md), "<ul>\n" + tight + "</ul>\n");
  EXPECT_EQ(Convert(md + "\n- z\n"), "<ul>\n" + loose + "<li>\n<p>z</p>\n</li>\n</ul>\n");
}

// A page that goes to a file is handed on in pieces as it grows; joined they are the page.
TEST(CommonMarkEngine, PageHandedOnInPieces) {
  std::string items, rows = "| a | b |\n|---|:-:|\n", paras, quotes, line;
  for (int i = 0; i < 12000; ++i) {
    std::string n = std::to_string(i);
    items += "- *" + n + "* item\n  - x\n";
    rows += "| " + n + " | *b* |\n";
    paras += "paragraph " + n + " of some words\n\n";
    quotes += "- > quote " + n + "\n";
    line += "word *" + n + "* [a](b) ";
  }
  struct TDoc {
    const char* name;
    std::string markdown;
    bool inPieces;  // more than one piece
  };
  const TDoc docs[] = {
      {"tight list, items waiting for its end", items, false},
      {"list loose at its end", items + "\n- z\n", true},
      {"paragraphs, then a loose list", paras + items + "\n- z\n", true},
      {"list whose items have no paragraphs", quotes, true},
      {"table", rows, true},
      {"paragraphs", paras, true},
      {"one long paragraph", line + "\n", true},
      {"empty", "", false},
  };
  for (const TDoc& d : docs) {
    std::vector<std::string> pieces;
    TMarkdownProcessor::CreateDialect(mdCommonMark)->ProcessTo(d.markdown, [&](std::string_view APiece) {
      pieces.emplace_back(APiece);
    });
    std::string joined;
    for (const std::string& p : pieces) joined += p;
    EXPECT_EQ(joined, Convert(d.markdown)) << d.name;
    EXPECT_EQ(pieces.size() > 1, d.inPieces) << d.name << ": " << pieces.size() << " pieces";
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) EXPECT_GE(pieces[i].size(), TCommonMarkEngine::kPagePiece) << d.name;
  }
  // the writer's failure ends the conversion
  EXPECT_THROW(TMarkdownProcessor::CreateDialect(mdCommonMark)->ProcessTo(paras, [](std::string_view) {
    throw std::runtime_error("disk full");
  }), std::runtime_error);
  // the classic dialect gives its page whole
  std::vector<std::string> pieces;
  TMarkdownProcessor::CreateDialect(mdDaringFireball)->ProcessTo("# a\n", [&](std::string_view APiece) {
    pieces.emplace_back(APiece);
  });
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0], TMarkdownProcessor::CreateDialect(mdDaringFireball)->process("# a\n"));
}

TEST(CommonMarkEngine, ParseAndRenderSeparately) {
  TCommonMarkDocumentPtr doc = TCommonMarkEngine::parse("# T\n\n*x*\n", true);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->FBlocks.size(), 2u);
  EXPECT_EQ(TCommonMarkEngine::render(*doc), "<h1>T</h1>\n<p><em>x</em></p>\n");
  // without the extensions there are no tables, strikethrough or extended autolinks
  EXPECT_EQ(TCommonMarkEngine::process("~~a~~ www.a.com\n\n| a |\n| - |\n", false), "<p>~~a~~ www.a.com</p>\n<p>| a |\n| - |</p>\n");
}

TEST(CommonMarkEngine, DeepNestingStaysBounded) {
  std::string quotes(5000, '>');
  std::string html = Convert(quotes + " a\n");
  EXPECT_NE(html.find("<blockquote>"), std::string::npos);
  EXPECT_NE(html.find("a</p>"), std::string::npos);
  std::string brackets = std::string(20000, '[') + "a" + std::string(20000, ']');
  EXPECT_EQ(Convert(brackets), "<p>" + brackets + "</p>\n");
  std::string stars = std::string(10000, '*') + "a" + std::string(10000, '*');
  EXPECT_NE(Convert(stars).find("<strong>"), std::string::npos);
}

// Containers with many children, and output larger than the source by far.
TEST(CommonMarkEngine, ManyBlocksKeepTheirOrder) {
  std::string items, itemsHtml;
  std::string rows = "| a | b | c |\n|:-|:-:|-:|\n", rowsHtml;
  for (int i = 0; i < 300; ++i) {
    std::string n = std::to_string(i);
    items += "- > *" + n + "*\n";
    itemsHtml += "<li>\n<blockquote>\n<p><em>" + n + "</em></p>\n</blockquote>\n</li>\n";
    rows += "| " + n + " |\n";
    rowsHtml += "<tr>\n<td>" + n + "</td>\n<td align=\"center\"></td>\n<td align=\"right\"></td>\n</tr>\n";
  }
  EXPECT_EQ(Convert(items), "<ul>\n" + itemsHtml + "</ul>\n");
  EXPECT_EQ(Convert(rows),
            "<table>\n<thead>\n<tr>\n<th>a</th>\n<th align=\"center\">b</th>\n<th align=\"right\">c</th>\n</tr>\n"
            "</thead>\n<tbody>\n" + rowsHtml + "</tbody>\n</table>\n");
  // blank lines at the end of indented code go, those inside stay
  EXPECT_EQ(Convert("    a\n    \n    b\n    \n      \n"), "<pre><code>a\n\nb\n</code></pre>\n");
  std::string tags;
  for (int i = 0; i < 2000; ++i) tags += "*_";
  std::string html = Convert(tags + "\n");
  EXPECT_EQ(html.substr(0, 23), "<p><em>_</em><em>*</em>");
  EXPECT_EQ(html.size(), 13339u);
}

}  // namespace
}  // namespace qd::md
