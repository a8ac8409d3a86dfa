// md_bench [megabytes [case]]
// md_bench --write-mixed <megabytes> <file>: writes the generated document only.
// 1. Throughput on a generated document (12 MB by default) that mixes every construct, like
//    with like against the cmark reference converter:
//    - in this process, on the same buffer: the engine without its extensions (plain
//      CommonMark, as cmark) and with them, beside the cmark library when it was found at build
//      time;
//    - as whole processes on the same file: mdconv (extensions on, as the help viewer converts)
//      against the cmark program, when it is on the PATH.
//    Then the peak memory of one conversion of the document, with extensions, in a fresh process:
//    the rise of the peak resident size over the resident size before the call (the document is
//    made before, its output counts), against the size of the document (goal: at most 4).
// 2. Linearity: times pathological inputs at size n and 10 n; the ratio should stay near 10.
//    Beside it, the peak memory of one conversion of each at 10 MB, measured as above (goal:
//    at most 8 times the input).
// With a case name (or part of one) only the matching pathological cases run.
//
// Each linearity time is taken twice, as the best of 5 runs, both sizes from the same state:
// - "warm, same process": the runs follow each other in this process, and the allocator is
//   told to keep all memory freed for the next run (by default the C library of the host
//   platform returns blocks over 32 MB, and free room over 64 MB at the top of its heap, to the
//   system at once, so that the large input alone would pay a page fault per 4 KB every run).
//   Every run after the first, at either size, works in memory that is already mapped.
// - "fresh process": every run converts once in a new process (this program started again with
//   an internal argument), so both sizes start with all memory fresh, as when a document is
//   converted once.
// Work done in this process (and in the process started for one run) is timed as the
// processor time of the process, so that other work on a busy machine does not count; whole
// processes (mdconv, the cmark program) are timed by the clock, as the best of 7.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "markdown/MarkdownCommonMark.h"
#include "markdown/MarkdownProcessor.h"
#include "platform/fs.h"
#include "measure/peak_memory.h"

#ifdef QD_HAVE_CMARK
#include <cmark.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = qd::platform;

const char* const kWords[] = {"lorem", "ipsum", "dolor", "sit", "amet", "весы", "товар", "цена", "этикетка", "scale"};

std::string Words(std::mt19937& rng, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kWords[rng() % std::size(kWords)];
  }
  return s;
}

// A document of about ABytes bytes in which every block and inline construct occurs.
std::string MixedDocument(std::size_t ABytes) {
  std::mt19937 rng(12345);
  const char* const kInline[] = {
      " *emphasis* and **strong** text",   " `code span` here",
      " [a link](http://example.com/a \"title\")", " ![picture](images/p.png)",
      " <http://auto.link/x> &amp; &copy; &#169; &#x41;", " ~~struck~~ www.example.com/path.",
      " mail@example.com _under_ \\*escaped\\*", " <b>raw</b> tag",
      " ***both*** __strong__ *a **b** c*",  " trailing break  ",
  };
  std::string doc;
  doc.reserve(ABytes + 1024);
  while (doc.size() < ABytes) {
    switch (rng() % 12) {
      case 0: case 1: case 2: case 3: {  // paragraph
        int lines = 3 + static_cast<int>(rng() % 5);
        for (int i = 0; i < lines; ++i) {
          doc += Words(rng, 5 + static_cast<int>(rng() % 8));
          if (rng() % 2) doc += kInline[rng() % std::size(kInline)];
          doc += '\n';
        }
        doc += '\n';
        break;
      }
      case 4: doc += "## Heading *" + std::to_string(rng() % 100) + "*\n\nSetext\n------\n\n"; break;
      case 5:
        for (int i = 0; i < 4; ++i) doc += "- item " + Words(rng, 3) + "\n";
        doc += "  - nested `x`\n    1. deep\n\n";
        break;
      case 6: doc += "1. step *one*\n2. step\n\n   continued\n3) other\n\n"; break;
      case 7: doc += "> quoted **text**\n> more\nlazy line\n> > inner\n\n"; break;
      case 8: doc += "```cpp\nint x = 1 < 2;\n\treturn x;\n```\n\n"; break;
      case 9: doc += "    indented code\n    more\n\n"; break;
      case 10: doc += "| a | b | c |\n|:--|:-:|--:|\n| 1 | *2* | 3 |\n| x \\| y | z |\n\n"; break;
      default: doc += "***\n\n"; break;
    }
  }
  return doc;
}

// Best of ARuns: processor time of this process, or with AWall the time by the clock.
double Seconds(const std::function<void()>& AWork, int ARuns, bool AWall = false) {
  double best = 1e9;
  for (int i = 0; i < ARuns; ++i) {
    auto t0 = Clock::now();
    std::clock_t c0 = std::clock();
    AWork();
    double s = AWall ? std::chrono::duration<double>(Clock::now() - t0).count()
                     : static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    best = std::min(best, s);
  }
  return best;
}

double ConvertSeconds(const std::string& ADoc, int ARuns, std::size_t* AOutSize = nullptr) {
  auto p = qd::md::TMarkdownProcessor::CreateDialect(qd::md::mdCommonMark);
  std::string out;
  double s = Seconds([&] { out = p->process(ADoc); }, ARuns);
  if (AOutSize) *AOutSize = out.size();
  return s;
}

std::string Repeat(const std::string& AUnit, std::size_t ACount) {
  std::string s;
  s.reserve(AUnit.size() * ACount);
  for (std::size_t i = 0; i < ACount; ++i) s += AUnit;
  return s;
}

struct TPathological {
  const char* name;
  std::function<std::string(std::size_t)> make;  // input of about n bytes
};

const std::vector<TPathological>& Pathological() {
  static const std::vector<TPathological> cases = {
      {"nested brackets", [](std::size_t k) { return std::string(k / 2, '[') + std::string(k / 2, ']'); }},
      {"open brackets with parens", [](std::size_t k) { return Repeat("[a](", k / 4); }},
      {"emphasis runs", [](std::size_t k) { return Repeat("*a **a ", k / 7) + Repeat("_b __b ", k / 14); }},
      {"alternating emphasis", [](std::size_t k) { return Repeat("*_", k / 2) + "\n"; }},
      {"backtick runs", [](std::size_t k) {
         std::string s;
         for (std::size_t i = 1; s.size() < k; ++i) s += std::string(i % 64 + 1, '`') + "x";
         return s;
       }},
      {"unclosed code spans", [](std::size_t k) { return Repeat("`a``b", k / 5); }},
      {"tildes", [](std::size_t k) { return Repeat("~~a ~~~b ", k / 9); }},
      {"nested quotes", [](std::size_t k) { return Repeat(std::string(200, '>') + " a\n", k / 204); }},
      {"nested lists", [](std::size_t k) {
         std::string s;
         for (std::size_t i = 0; s.size() < k; ++i) s += std::string((i % 60) * 2, ' ') + "- x\n";
         return s;
       }},
      {"list of quotes", [](std::size_t k) { return Repeat("- > - > - > a\n", k / 14); }},
      {"angle brackets", [](std::size_t k) { return Repeat("<a", k / 2); }},
      {"entities", [](std::size_t k) { return Repeat("&aaaaaaaaaaaaaaaaaaaaaaa", k / 24); }},
      {"letters (autolink scan)", [](std::size_t k) { return std::string(k, 'w') + "@"; }},
      {"dots for www", [](std::size_t k) { return Repeat("www.", k / 4); }},
      // unterminated titles, destinations and address runs
      {"title paren after dest", [](std::size_t k) { return Repeat("[ (](", k / 5); }},
      {"title paren", [](std::size_t k) { return Repeat("[](a (", k / 6); }},
      {"title quote", [](std::size_t k) { return Repeat("[](a \"", k / 6); }},
      {"pointed dest", [](std::size_t k) { return Repeat("[a](<b", k / 6); }},
      {"empty pointed dest", [](std::size_t k) { return Repeat("[](<", k / 4); }},
      {"pointed dest with space", [](std::size_t k) { return Repeat("[](<a b", k / 7); }},
      {"at signs", [](std::size_t k) { return Repeat("a@", k / 2); }},
      {"at signs and dots", [](std::size_t k) { return Repeat("a@b.", k / 4); }},
      {"address, closing parens", [](std::size_t k) { return "www.a.com" + std::string(k, ')'); }},
      {"address, entity tails", [](std::size_t k) { return "www.a.com/" + Repeat("&a;", k / 3); }},
      {"addresses in brackets", [](std::size_t k) { return Repeat("[www.a.com/x ", k / 13); }},
      {"table rows", [](std::size_t k) { return "a|b\n-|-\n" + Repeat("x|y|z\n", k / 6); }},
      {"wide table, short rows", [](std::size_t k) {
         return Repeat("|a", 128) + "\n" + Repeat("|:-:", 128) + "\n" + Repeat("x\n", k / 2);
       }},
  };
  return cases;
}

// Internal mode of the fresh-process measurement: converts case ACase at ABytes once and
// writes the seconds to AResultFile.
int TimeOnce(std::size_t ACase, std::size_t ABytes, const std::string& AResultFile) {
  std::string doc = Pathological().at(ACase).make(ABytes);
  double s = ConvertSeconds(doc, 1);
  fs::WriteFile(AResultFile, std::to_string(s), fs::TNewAccess::OwnerOnly);
  return 0;
}

using qd::bench::ResetPeak;
using qd::bench::StatusBytes;

// Internal mode of the memory measurement: converts the mixed document (ACase < 0) or the
// pathological case ACase of ABytes once and writes the rise of the peak resident size during
// the conversion, the document's size and the page's size to AResultFile (a rise of "-1" when
// the system does not tell). With AToFile the page goes to a file in pieces as it is made, as
// the help viewer writes it; otherwise it is returned whole.
int PeakOnce(long ACase, std::size_t ABytes, bool AToFile, const std::string& AResultFile) {
  std::string doc = ACase < 0 ? MixedDocument(ABytes) : Pathological().at(static_cast<std::size_t>(ACase)).make(ABytes);
  auto p = qd::md::TMarkdownProcessor::CreateDialect(qd::md::mdCommonMark);
  const std::string pageFile = AResultFile + ".html";
  long long before = ResetPeak() ? StatusBytes("VmRSS:") : 0;
  std::size_t pageSize = 0;
  if (AToFile) {
    fs::WriteFile(pageFile, "", fs::TNewAccess::OwnerOnly);
    p->ProcessTo(doc, [&](std::string_view APiece) {
      fs::AppendToFile(pageFile, APiece, fs::TNewAccess::OwnerOnly);
      pageSize += APiece.size();
    });
  } else {
    pageSize = p->process(doc).size();
  }
  long long after = StatusBytes("VmHWM:");
  long long rise = before > 0 && after > 0 ? after - before : -1;
  if (AToFile) fs::RemoveTree(pageFile);
  fs::WriteFile(AResultFile, std::to_string(rise) + " " + std::to_string(doc.size()) + " " + std::to_string(pageSize),
                fs::TNewAccess::OwnerOnly);
  return 0;
}

struct TPeak {
  long long Rise = -1;
  std::size_t DocSize = 0, HtmlSize = 0;
  bool Known() const { return Rise >= 0 && DocSize > 0; }
  double PerByte() const { return static_cast<double>(Rise) / static_cast<double>(DocSize); }
};

// The command that runs this program in one of its internal modes on a case and a size,
// writing its result to AResultFile.
std::string SelfCommand(const std::string& ASelf, const char* AMode, long ACase, std::size_t ABytes,
                        const std::string& AResultFile) {
  std::string run = "\"" + ASelf + "\" " + AMode + " " + std::to_string(ACase) + " " + std::to_string(ABytes) + " \"" +
                    AResultFile + "\"";
#ifdef _WIN32
  run = "\"" + run + "\"";  // the command interpreter drops the outer pair of quotes
#endif
  return run;
}

// The peak of one conversion in a new process of this program (see PeakOnce).
TPeak FreshProcessPeak(const std::string& ASelf, const std::string& ADir, long ACase, std::size_t ABytes,
                       bool AToFile) {
  std::string result = ADir + "/peak.txt";
  std::string run = SelfCommand(ASelf, AToFile ? "--peak-file-once" : "--peak-once", ACase, ABytes, result);
  TPeak peak;
  if (std::system(run.c_str()) == 0)
    std::sscanf(fs::ReadFile(result, fs::TLinks::Follow, fs::TShareMode::Read).c_str(), "%lld %zu %zu", &peak.Rise,
                &peak.DocSize, &peak.HtmlSize);
  return peak;
}

// Best of ARuns, each run in a new process of this program.
double FreshProcessSeconds(const std::string& ASelf, const std::string& ADir, std::size_t ACase, std::size_t ABytes,
                           int ARuns) {
  std::string result = ADir + "/time.txt";
  std::string run = SelfCommand(ASelf, "--time-once", static_cast<long>(ACase), ABytes, result);
  double best = 1e9;
  for (int i = 0; i < ARuns; ++i) {
    if (std::system(run.c_str()) != 0) return -1;
    best = std::min(best, std::atof(fs::ReadFile(result, fs::TLinks::Follow, fs::TShareMode::Read).c_str()));
  }
  return best;
}

// Best of ARuns of a shell command; negative when it fails.
double CommandSeconds(const std::string& ACommand, int ARuns) {
  std::string run = ACommand;
#ifdef _WIN32
  run = "\"" + run + "\"";  // the command interpreter drops the outer pair of quotes
#endif
  if (std::system(run.c_str()) != 0) return -1;
  bool failed = false;
  double s = Seconds([&] { failed |= std::system(run.c_str()) != 0; }, ARuns, true);
  return failed ? -1 : s;
}

void MixedBenchmark(std::size_t ABytes, const std::string& AMdconv, const std::string& ASelf) {
  const int kRuns = 7;
  std::string doc = MixedDocument(ABytes);
  std::printf("mixed document: %.1f MB\n", doc.size() / 1048576.0);

  std::printf(" in this process, same buffer, best of %d:\n", kRuns);
  std::string out;
  double plain = Seconds([&] { out = qd::md::TCommonMarkEngine::process(doc, false); }, kRuns);
  std::printf("  engine, plain CommonMark:  %.3f s  (%.1f MB/s, %.1f MB out)\n", plain, doc.size() / 1048576.0 / plain,
              out.size() / 1048576.0);
  std::size_t outSize = 0;
  double gfm = ConvertSeconds(doc, kRuns, &outSize);
  std::printf("  engine, with extensions:   %.3f s  (%.1f MB/s, %.1f MB out)\n", gfm, doc.size() / 1048576.0 / gfm,
              outSize / 1048576.0);
#ifdef QD_HAVE_CMARK
  std::size_t refSize = 0;
  double lib = Seconds([&] {
    char* html = cmark_markdown_to_html(doc.data(), doc.size(), CMARK_OPT_DEFAULT);
    refSize = std::strlen(html);
    std::free(html);
  }, kRuns);
  std::printf("  cmark library %s:         %.3f s  (%.1f MB/s, %.1f MB out)\n", cmark_version_string(), lib,
              doc.size() / 1048576.0 / lib, refSize / 1048576.0);
  std::printf("  ratio engine (plain) / cmark library: %.2f\n", plain / lib);
  std::printf("  ratio engine (extensions) / cmark library: %.2f\n", gfm / lib);
#else
  std::printf("  cmark library not found at build time, no reference time\n");
#endif

  std::string dir = fs::UserTempFolder() + "/md_bench_" + fs::NewGuidText();
  fs::CreateFolders(dir, fs::TNewAccess::OwnerOnly);
  std::string file = dir + "/mixed.md";
  fs::WriteFile(file, doc, fs::TNewAccess::OwnerOnly);
#ifdef _WIN32
  const char* nul = "NUL";
#else
  const char* nul = "/dev/null";
#endif
  std::printf(" whole processes, same file, best of %d:\n", kRuns);
  double conv = CommandSeconds("\"" + AMdconv + "\" \"" + file + "\" \"" + dir + "/mdconv.html\" 2>" + nul, kRuns);
  double prog = CommandSeconds("cmark \"" + file + "\" > \"" + dir + "/cmark.html\" 2>" + nul, kRuns);
  if (conv > 0) std::printf("  mdconv:   %.3f s\n", conv);
  else std::printf("  mdconv failed or not found (%s)\n", AMdconv.c_str());
  if (prog > 0) std::printf("  cmark:    %.3f s\n", prog);
  else std::printf("  cmark program not found, no reference time\n");
  if (conv > 0 && prog > 0) std::printf("  ratio mdconv / cmark: %.2f\n", conv / prog);

  for (bool toFile : {false, true}) {
    TPeak peak = FreshProcessPeak(ASelf, dir, -1, ABytes, toFile);
    if (!peak.Known()) {
      std::printf(" peak memory: not available on this system\n");
      break;
    }
    std::printf(" peak memory of one conversion, fresh process, %s: %.1f MB = %.2f x the document (goal <= 4; the "
                "page alone is %.2f x)\n",
                toFile ? "page to a file" : "page returned whole", peak.Rise / 1048576.0, peak.PerByte(),
                static_cast<double>(peak.HtmlSize) / static_cast<double>(peak.DocSize));
  }
  fs::RemoveTree(dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write-mixed") == 0) {  // the document, for other tools
    fs::WriteFile(argv[3], MixedDocument(static_cast<std::size_t>(std::atof(argv[2]) * 1024 * 1024)), fs::TNewAccess::OwnerOnly);
    return 0;
  }
  if (argc == 5 && (std::strcmp(argv[1], "--peak-once") == 0 || std::strcmp(argv[1], "--peak-file-once") == 0))
    return PeakOnce(std::strtol(argv[2], nullptr, 10), std::strtoul(argv[3], nullptr, 10),
                    std::strcmp(argv[1], "--peak-file-once") == 0, argv[4]);
  if (argc == 5 && std::strcmp(argv[1], "--time-once") == 0)
    return TimeOnce(std::strtoul(argv[2], nullptr, 10), std::strtoul(argv[3], nullptr, 10), argv[4]);
  std::setvbuf(stdout, nullptr, _IOLBF, 1 << 12);  // each line as it comes, also into a file
#ifdef __GLIBC__
  // memory freed stays with the process: repeated runs are warm at every size, for every engine
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest it takes
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 64 << 20);
#endif
  double mb = argc > 1 ? std::atof(argv[1]) : 12.0;
  std::size_t bytes = static_cast<std::size_t>(mb * 1024 * 1024);
  const char* only = argc > 2 ? argv[2] : nullptr;
  if (!only) MixedBenchmark(bytes, QD_MDCONV_PATH, argv[0]);

  const std::size_t n = std::max<std::size_t>(bytes / 20, 50000);
  std::string dir = fs::UserTempFolder() + "/md_bench_" + fs::NewGuidText();
  fs::CreateFolders(dir, fs::TNewAccess::OwnerOnly);
  std::printf("\nlinearity (time at 10 n / time at n, n = %zu bytes; 10 is linear, at most 12 wanted)\n", n);
  std::printf("  %-28s %-30s %-30s %s\n", "", "warm, same process", "fresh process",
              "peak at 10 MB, fresh (goal <= 8): page returned whole / page to a file / the page alone");
  const std::size_t peakBytes = 10u << 20;
  const auto& cases = Pathological();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TPathological& c = cases[i];
    if (only && !std::strstr(c.name, only)) continue;
    std::string small = c.make(n), large = c.make(n * 10);
    double t1 = ConvertSeconds(small, 5), t10 = ConvertSeconds(large, 5);
    double f1 = FreshProcessSeconds(argv[0], dir, i, n, 5), f10 = FreshProcessSeconds(argv[0], dir, i, n * 10, 5);
    TPeak whole = FreshProcessPeak(argv[0], dir, static_cast<long>(i), peakBytes, false);
    TPeak toFile = FreshProcessPeak(argv[0], dir, static_cast<long>(i), peakBytes, true);
    char peakText[96] = "not available";
    if (whole.Known() && toFile.Known())
      std::snprintf(peakText, sizeof peakText, "%6.2f x  %6.2f x (%.1f MB)  %6.2f x", whole.PerByte(), toFile.PerByte(),
                    toFile.Rise / 1048576.0, static_cast<double>(whole.HtmlSize) / static_cast<double>(whole.DocSize));
    std::printf("  %-28s %7.4f s %7.4f s ratio %5.2f   %7.4f s %7.4f s ratio %5.2f   %s\n", c.name, t1, t10, t10 / t1, f1,
                f10, f10 / f1, peakText);
  }
  fs::RemoveTree(dir);
  return 0;
}
