// The help viewer's file work: temporary folder, archive extraction and its guards, reading the
// document, writing the page, both conversion paths.
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "markdown/MarkdownProcessor.h"
#include "platform/fs.h"
#include "support/testenv.h"
#include "ui/HelpArchive.h"
#include "ui/HelpPage.h"
#include "ui/MarkdownRenderer.h"
#include "ui/Windows.h"

namespace qd::ui {
namespace {

namespace fs = qd::platform;
using md::mdCommonMark;
using md::TMarkdownProcessor;

std::string ReadAll(const std::string& APath) { return fs::ReadFile(APath, fs::TLinks::Follow, fs::TShareMode::Read); }

#ifdef _WIN32
constexpr char kDelim = '\\';
void SetEnv(const char* AName, const std::string& AValue) { _putenv_s(AName, AValue.c_str()); }
#else
#include <sys/stat.h>
constexpr char kDelim = '/';
void SetEnv(const char* AName, const std::string& AValue) { setenv(AName, AValue.c_str(), 1); }
#endif

// The first line of every page: asks the browser control for its newest document mode.
#define MODE_REQUEST "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\r\n"

const char* const kTempVars[] = {"TMPDIR", "TMP", "TEMP"};

struct TZipEntry {
  std::string name;
  std::string data;
  bool folder = false;
  bool symlink = false;
};

// Every renderer of a test works inside the test's own temporary folder: the user's temporary
// folder is pointed there for the time of the test.
class RendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FBase = fs::UserTempFolder() + kDelim + "qd_md_test_" + fs::NewGuidText();
    fs::CreateFolders(FBase, fs::TNewAccess::OwnerOnly);
    for (const char* v : kTempVars) {
      const char* old = std::getenv(v);
      FSaved.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
      SetEnv(v, FBase);
    }
    FResources.clear();
    TMarkdownRenderer::SetResourceReader([this](const std::string& AName) -> std::optional<std::string_view> {
      for (const auto& [name, data] : FResources)
        if (name == AName) return data;
      return std::nullopt;
    });
    SetDocumentWindow([this](const std::string& APath, const std::string& ACaption) {
      FShownPath = APath;
      FShownCaption = ACaption;
      FShownPage = ReadAll(APath);
      FShownFolder = Listing(APath.substr(0, APath.find_last_of(kDelim)));
    });
  }

  void TearDown() override {
    TMarkdownRenderer::SetResourceReader(nullptr);
    SetDocumentWindow(nullptr);
    for (const auto& [name, value] : FSaved) SetEnv(name.c_str(), value ? *value : std::string());
    fs::RemoveTree(FBase);
  }

  static std::vector<std::string> Listing(const std::string& AFolder) { return fs::ListFolder(AFolder); }

  std::string MakeZip(const std::vector<TZipEntry>& AEntries) {
    std::string path = FBase + kDelim + "build" + std::to_string(FZipCount++) + ".zip";
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    EXPECT_NE(za, nullptr);
    for (const TZipEntry& e : AEntries) {
      zip_int64_t idx;
      if (e.folder) {
        idx = zip_dir_add(za, e.name.c_str(), ZIP_FL_ENC_UTF_8);
      } else {
        zip_source_t* src = zip_source_buffer(za, e.data.data(), e.data.size(), 0);
        idx = zip_file_add(za, e.name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
      }
      EXPECT_GE(idx, 0) << e.name << ": " << zip_strerror(za);
      if (e.symlink)
        zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(idx), 0, ZIP_OPSYS_UNIX, (0120777u) << 16);
    }
    EXPECT_EQ(zip_close(za), 0);
    std::string bytes = ReadAll(path);
    fs::RemoveTree(path);
    return bytes;
  }

  // Runs the help entry point over an archive and returns the failure message (empty on success).
  std::string RenderArchive(const std::string& AArchive) {
    FResources = {{"help", AArchive}};
    try {
      TMarkdownRenderer::Render("help", "Справка");
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  bool BaseIsEmpty() const { return Listing(FBase).empty(); }

  std::string FBase;
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
  std::vector<std::pair<std::string, std::string>> FResources;
  std::string FShownPath, FShownCaption, FShownPage;
  std::vector<std::string> FShownFolder;
  int FZipCount = 0;
};

TEST_F(RendererTest, TemporaryFolderIsPrivateAndRemoved) {
  std::string first, second;
  {
    TMarkdownRenderer a;
    TMarkdownRenderer b("x.md");
    first = a.TempDirectory();
    second = b.TempDirectory();
    EXPECT_EQ(a.SourceName(), "");
    EXPECT_EQ(b.SourceName(), "x.md");
    EXPECT_NE(first, second);
    std::string guid = first.substr(first.find_last_of(kDelim) + 1);
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_EQ(guid.front(), '{');
    EXPECT_EQ(guid.back(), '}');
    for (std::size_t i : {9u, 14u, 19u, 24u}) EXPECT_EQ(guid[i], '-') << guid;
    EXPECT_EQ(first.substr(0, first.size() - 39), FBase);
    EXPECT_TRUE(fs::FolderExists(first, fs::TLinks::DoNotFollow));
    // something nested inside goes too
    fs::CreateFolders(first + kDelim + "a" + kDelim + "b", fs::TNewAccess::OwnerOnly);
    fs::WriteFile(first + kDelim + "a" + kDelim + "b" + kDelim + "f.txt", "x", fs::TNewAccess::OwnerOnly);
  }
  EXPECT_FALSE(fs::FolderExists(first, fs::TLinks::DoNotFollow));
  EXPECT_FALSE(fs::FolderExists(second, fs::TLinks::DoNotFollow));
  EXPECT_TRUE(BaseIsEmpty());
}

TEST_F(RendererTest, SourceExist) {
  FResources = {{"help", "bytes"}};
  EXPECT_TRUE(TMarkdownRenderer::SourceExist("help"));
  EXPECT_FALSE(TMarkdownRenderer::SourceExist("other"));
  EXPECT_FALSE(TMarkdownRenderer::SourceExist(""));
  TMarkdownRenderer r("help");
  EXPECT_TRUE(r.SourceExist());
  r.SetSourceName("");
  EXPECT_FALSE(r.SourceExist());
  try {
    r.Render("x");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "File not found: ");
  }
}

TEST_F(RendererTest, RenderShowsThePageAndLeavesNothing) {
  std::string archive = MakeZip({{"help.md", "# Справка\n\n![схема](images/pic.png)\n"},
                                 {"style.css", "body { color: black; }"},
                                 {"images/", "", true},
                                 {"images/pic.png", std::string("\x89PNG\r\n", 6)}});
  EXPECT_EQ(RenderArchive(archive), "");
  EXPECT_EQ(FShownCaption, "Справка");
  EXPECT_EQ(FShownPath.substr(FShownPath.size() - 8), std::string(1, kDelim) + "md.html");
  EXPECT_EQ(FShownPage,
            "\xEF\xBB\xBF<!DOCTYPE html>\r\n<html>\r\n<head>\r\n" MODE_REQUEST "<link href=\"style.css\" rel=\"stylesheet\">\r\n</head>\r\n"
            "<body>\r\n<h1 id=\"справка\">Справка</h1>\n<p><img src=\"images/pic.png\" alt=\"схема\" /></p>\n\r\n</body>\r\n</html>");
  // while shown, the folder held the archive, its files and the page
  std::string folder = FShownPath.substr(0, FShownPath.find_last_of(kDelim));
  EXPECT_EQ(FShownFolder.size(), 5u);  // md.zip, help.md, style.css, images, md.html
  EXPECT_FALSE(fs::FolderExists(folder, fs::TLinks::DoNotFollow));
  EXPECT_TRUE(BaseIsEmpty());
}

TEST_F(RendererTest, PageWithoutStyleSheetIsTheBareFragment) {
  EXPECT_EQ(RenderArchive(MakeZip({{"doc.md", "text"}})), "");
  EXPECT_EQ(FShownPage, "\xEF\xBB\xBF" MODE_REQUEST "<p>text</p>\n");
  EXPECT_TRUE(BaseIsEmpty());
}

TEST_F(RendererTest, MarkdownOnlyAtTheTopLevel) {
  EXPECT_EQ(RenderArchive(MakeZip({{"docs/help.md", "# x"}, {"a.css", ""}})), "Mardown file not found");
  EXPECT_TRUE(FShownPath.empty());
  EXPECT_TRUE(BaseIsEmpty());
}

TEST_F(RendererTest, MissingResource) {
  FResources.clear();
  try {
    TMarkdownRenderer::Render("help", "c");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "File not found: help");
  }
  try {
    TMarkdownRenderer::Render("", "c");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "File not found: ");
  }
  EXPECT_TRUE(BaseIsEmpty());
}

// Among several documents the first by name is used, the same on every system; folders never.
TEST_F(RendererTest, FirstRegularFileByNameIsUsed) {
  TMarkdownRenderer r;
  EXPECT_EQ(r.FindSourceFile("md"), "");
  fs::CreateFolders(r.TempDirectory() + kDelim + "a.md", fs::TNewAccess::OwnerOnly);
  EXPECT_EQ(r.FindSourceFile("md"), "");
  for (const char* name : {"two.md", "b.CSS", "one.md", "x.mdx", "three.md", "a.css"})
    fs::WriteFile(r.TempDirectory() + kDelim + name, name, fs::TNewAccess::OwnerOnly);
  EXPECT_EQ(r.FindSourceFile("md"), "one.md");
  EXPECT_EQ(r.FindSourceFile("css"), "a.css");
  EXPECT_EQ(RenderArchive(MakeZip({{"x.md/", "", true}, {"z.md", "z"}, {"y.md", "y"}, {"x.md/w.md", "w"}})), "");
  EXPECT_EQ(FShownPage, "\xEF\xBB\xBF" MODE_REQUEST "<p>y</p>\n");
}

TEST_F(RendererTest, ByteOrderMarks) {
  struct {
    const char* name;
    std::string bytes;
    std::string text;
  } const cases[] = {
      {"utf-8 mark", "\xEF\xBB\xBF# Ж", "# Ж"},
      {"no mark", "# Ж", "# Ж"},
      {"utf-16 le", std::string("\xFF\xFE#\0 \0\x16\x04", 8), "# Ж"},
      {"utf-16 be", std::string("\xFE\xFF\0#\0 \x04\x16", 8), "# Ж"},
      {"utf-16 le pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80"},
      {"lone surrogate", std::string("\xFF\xFE\x3D\xD8" "a\0", 6), "\xEF\xBF\xBD" "a"},
      {"empty", "", ""},
  };
  TMarkdownRenderer r;
  for (const auto& c : cases) {
    fs::WriteFile(r.TempDirectory() + kDelim + "t.md", c.bytes, fs::TNewAccess::OwnerOnly);
    EXPECT_EQ(r.LoadSourceText("t.md"), c.text) << c.name;
    EXPECT_EQ(r.LoadSourceText(r.TempDirectory() + kDelim + "t.md"), c.text) << c.name << " (rooted)";
  }
}

TEST_F(RendererTest, ConvertToHtmlFileToFile) {
  std::string src = FBase + kDelim + "in.md";
  std::string dst = FBase + kDelim + "out.html";
  std::string css = FBase + kDelim + "s.css";
  fs::WriteFile(src, std::string("\xFF\xFE*\0x\0*\0", 8), fs::TNewAccess::OwnerOnly);
  fs::WriteFile(css, "p{}", fs::TNewAccess::OwnerOnly);
  TMarkdownRenderer::ConvertToHtml(src, dst, "");
  EXPECT_EQ(ReadAll(dst), "\xEF\xBB\xBF" MODE_REQUEST "<p><em>x</em></p>\n");
  TMarkdownRenderer::ConvertToHtml(src, dst, css);
  EXPECT_EQ(ReadAll(dst), "\xEF\xBB\xBF<!DOCTYPE html>\r\n<html>\r\n<head>\r\n" MODE_REQUEST "<link href=\"" + css +
                                        "\" rel=\"stylesheet\">\r\n</head>\r\n<body>\r\n<p><em>x</em></p>\n\r\n</body>\r\n</html>");
  // A style sheet that is not there is linked all the same; a missing source is refused.
  TMarkdownRenderer::ConvertToHtml(src, dst, "none.css");
  EXPECT_EQ(ReadAll(dst), "\xEF\xBB\xBF<!DOCTYPE html>\r\n<html>\r\n<head>\r\n" MODE_REQUEST
                          "<link href=\"none.css\" rel=\"stylesheet\">\r\n</head>\r\n<body>\r\n<p><em>x</em></p>\n\r\n</body>\r\n</html>");
  try {
    TMarkdownRenderer::ConvertToHtml(FBase + kDelim + "none.md", dst, "");
    ADD_FAILURE() << "a missing source was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "File not found: " + FBase + kDelim + "none.md");
  }
  // the renderer folders are gone, the named files stay
  EXPECT_EQ(Listing(FBase).size(), 3u);
}

// A large page goes to its file in pieces as it is converted: the file holds the same page,
// and an existing file of that name is replaced, not appended to.
TEST_F(RendererTest, LargePageWrittenInPieces) {
  std::string src = FBase + kDelim + "big.md";
  std::string dst = FBase + kDelim + "big.html";
  std::string css = FBase + kDelim + "s.css";
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "- item *" + std::to_string(i) + "*\n\n| a |\n|---|\n| " + std::to_string(i) + " |\n\n";
  fs::WriteFile(src, text, fs::TNewAccess::OwnerOnly);
  fs::WriteFile(css, "p{}", fs::TNewAccess::OwnerOnly);
  const std::string html = TMarkdownProcessor::CreateDialect(mdCommonMark)->process(text);
  ASSERT_GT(html.size(), 1000000u);
  fs::WriteFile(dst, std::string(3000000, 'x'), fs::TNewAccess::OwnerOnly);
  TMarkdownRenderer::ConvertToHtml(src, dst, "");
  EXPECT_TRUE(ReadAll(dst) == "\xEF\xBB\xBF" MODE_REQUEST + html);
  TMarkdownRenderer::ConvertToHtml(src, dst, css);
  std::string dressed;
  THelpPageDress dress([&](std::string_view APiece) { dressed += APiece; });
  dress.Write(html);
  dress.Finish();
  EXPECT_NE(dressed.find("<div class=\"wide\" tabindex=\"0\"><table>"), std::string::npos);
  EXPECT_TRUE(ReadAll(dst) == "\xEF\xBB\xBF<!DOCTYPE html>\r\n<html>\r\n<head>\r\n" MODE_REQUEST "<link href=\"" + css +
                                  "\" rel=\"stylesheet\">\r\n</head>\r\n<body>\r\n" + dressed + "\r\n</body>\r\n</html>");
}

// The page a user names is created like any file of the user's (as the file-creation mask
// allows), not with the private permissions of the viewer's own folder.
TEST_F(RendererTest, ConvertedPageHasTheUsersPermissions) {
  std::string src = FBase + kDelim + "in.md";
  std::string dst = FBase + kDelim + "out.html";
  std::string ref = FBase + kDelim + "ref.txt";
  fs::WriteFile(src, "a", fs::TNewAccess::OwnerOnly);
#ifndef _WIN32
  mode_t old = umask(022);
#endif
  std::ofstream(ref) << "x";
  TMarkdownRenderer::ConvertToHtml(src, dst, "");
#ifndef _WIN32
  umask(old);
  EXPECT_EQ(std::filesystem::status(ref).permissions(), std::filesystem::perms(0644));
#endif
  EXPECT_EQ(std::filesystem::status(dst).permissions(), std::filesystem::status(ref).permissions());
}

TEST_F(RendererTest, ConvertWithoutDestinationWritesIntoTheRendererFolder) {
  std::string src = FBase + kDelim + "in.md";
  fs::WriteFile(src, "a", fs::TNewAccess::OwnerOnly);
  TMarkdownRenderer r(src);
  r.ConvertToHtml("", "");
  EXPECT_EQ(ReadAll(r.TempDirectory() + kDelim + "md.html"), "\xEF\xBB\xBF" MODE_REQUEST "<p>a</p>\n");
}

TEST_F(RendererTest, UnsafeEntriesAreRefused) {
  const std::vector<std::vector<TZipEntry>> archives = {
      {{"help.md", "x"}, {"../evil.txt", "x"}},
      {{"help.md", "x"}, {"a/../../evil.txt", "x"}},
      {{"help.md", "x"}, {"/abs.txt", "x"}},
      {{"help.md", "x"}, {"\\abs.txt", "x"}},
      {{"help.md", "x"}, {"C:evil.txt", "x"}},
      {{"help.md", "x"}, {"c:\\evil.txt", "x"}},
      {{"help.md", "x"}, {"..\\evil.txt", "x"}},
      {{"help.md", "x"}, {"sub/NUL.txt", "x"}},
      {{"help.md", "x"}, {"con", "x"}},
      {{"help.md", "x"}, {"com1.md", "x"}},
      {{"help.md", "x"}, {"COM\xC2\xB9", "x"}},
      {{"help.md", "x"}, {"sub/com\xC2\xB2.txt", "x"}},
      {{"help.md", "x"}, {"lpt\xC2\xB3 .md", "x"}},
      {{"help.md", "x"}, {"name.", "x"}},
      {{"help.md", "x"}, {"file:stream", "x"}},
      {{"help.md", "x"}, {"link", "/etc/passwd", false, true}},
  };
  for (const auto& entries : archives) {
    std::string msg = RenderArchive(MakeZip(entries));
    EXPECT_FALSE(msg.empty()) << entries.back().name;
    EXPECT_NE(msg.find("Архив справки"), std::string::npos) << msg;
    EXPECT_NE(msg.find(entries.back().name), std::string::npos) << msg;
    EXPECT_TRUE(FShownPath.empty());
    EXPECT_TRUE(BaseIsEmpty()) << entries.back().name;
  }
}

// The two steps apart: every entry is checked when the archive is opened, and only writing puts
// anything on disk, under the system's own delimiter.
TEST_F(RendererTest, ArchiveIsCheckedWholeBeforeAnythingIsWritten) {
  THelpArchive archive(MakeZip({{"help.md", "x"}, {"./", "", true}, {"img/", "", true}, {"img\\a.png", "p"}}));
  ASSERT_EQ(archive.Entries().size(), 3u);  // "./" names nothing
  EXPECT_EQ(archive.Entries()[1].Parts, std::vector<std::string>{"img"});
  EXPECT_TRUE(archive.Entries()[1].Folder);
  EXPECT_EQ(archive.Entries()[2].Parts, (std::vector<std::string>{"img", "a.png"}));
  EXPECT_FALSE(archive.Entries()[2].Folder);
  EXPECT_TRUE(BaseIsEmpty());
  std::string target = FBase + kDelim + "out";
  fs::CreateFolders(target, fs::TNewAccess::OwnerOnly);
  archive.WriteTo(target);
  EXPECT_EQ(ReadAll(target + kDelim + "img" + kDelim + "a.png"), "p");
  EXPECT_EQ(ReadAll(target + kDelim + "help.md"), "x");

  // A bad entry last: refused at opening, before the good ones could be written.
  std::string bad = MakeZip({{"help.md", "x"}, {"../up.txt", "u"}});
  EXPECT_EQ(test::FailureOf([&] { THelpArchive refused(bad); }),
            "Архив справки содержит путь, выходящий за пределы папки: \"../up.txt\"");
}

TEST_F(RendererTest, NothingOfARefusedArchiveStays) {
  TMarkdownRenderer r("help");
  FResources = {{"help", MakeZip({{"help.md", "x"}, {"dir/a.txt", "a"}, {"dir/sub/b.txt", "b"}, {"dir/sub", "file in the way"}})}};
  std::string zip = r.SaveSourceArchive();
  EXPECT_THROW(r.ExtractArchive(zip), std::runtime_error);
  auto names = Listing(r.TempDirectory());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "md.zip");
}

TEST_F(RendererTest, OversizedEntryIsRefused) {
  std::string big(THelpArchive::kMaxEntrySize + 1, '\0');
  std::string msg = RenderArchive(MakeZip({{"help.md", "x"}, {"big.bin", big}}));
  EXPECT_NE(msg.find("слишком велик"), std::string::npos) << msg;
  EXPECT_NE(msg.find("big.bin"), std::string::npos) << msg;
  EXPECT_TRUE(BaseIsEmpty());
}

TEST_F(RendererTest, DamagedArchive) {
  std::string msg = RenderArchive("PK\x03\x04 this is not really an archive");
  EXPECT_NE(msg.find("Не удалось открыть архив справки"), std::string::npos) << msg;
  EXPECT_TRUE(BaseIsEmpty());
}

TEST_F(RendererTest, ShippedHelpArchive) {
  std::string archive = ReadAll(QD_HELP_ARCHIVE_PATH);
  EXPECT_EQ(RenderArchive(archive), "");
  EXPECT_EQ(FShownPage.rfind("\xEF\xBB\xBF<!DOCTYPE html>\r\n<html>\r\n<head>\r\n" MODE_REQUEST, 0), 0u);
  EXPECT_NE(FShownPage.find("<h1 id=\""), std::string::npos);
  EXPECT_NE(FShownPage.find("<table>"), std::string::npos);
  EXPECT_NE(FShownPage.find("<img src=\""), std::string::npos);
  EXPECT_EQ(FShownPage.find("&lt;script"), std::string::npos);
  EXPECT_TRUE(BaseIsEmpty());
}

// The help page: headings get anchors made of their text (unique within the page), tables and
// code blocks boxes of their own that the keyboard reaches; everything else is left as it is.
TEST(HelpPageDress, HeadingsGetAnchorsTablesAndCodeBoxes) {
  const struct {
    const char* Markdown;
    const char* Page;
  } cases[] = {
      {"# Порядок работы", "<h1 id=\"порядок-работы\">Порядок работы</h1>\n"},
      {"## Методы весов\n### ВыгрузитьДанные", "<h2 id=\"методы-весов\">Методы весов</h2>\n<h3 id=\"выгрузитьданные\">ВыгрузитьДанные</h3>\n"},
      {"## Ёлка `Open` & <b>, x.y!", "<h2 id=\"ёлка-open--b-xy\">Ёлка <code>Open</code> &amp; &lt;b&gt;, x.y!</h2>\n"},
      {"# A\n# a\n# A", "<h1 id=\"a\">A</h1>\n<h1 id=\"a-1\">a</h1>\n<h1 id=\"a-2\">A</h1>\n"},
      {"# ...", "<h1 id=\"section\">...</h1>\n"},
      {"| a |\n|---|\n| b |", "<div class=\"wide\" tabindex=\"0\"><table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n"
                              "<tbody>\n<tr>\n<td>b</td>\n</tr>\n</tbody>\n</table></div>\n"},
      {"    <h1>x</h1>", "<pre tabindex=\"0\"><code>&lt;h1&gt;x&lt;/h1&gt;\n</code></pre>\n"},
      {"[к разделу](#порядок-работы) <table>", "<p><a href=\"#%D0%BF%D0%BE%D1%80%D1%8F%D0%B4%D0%BE%D0%BA-%D1%80%D0%B0%D0%B1%D0%BE%D1%82%D1%8B\">"
                                             "к разделу</a> &lt;table&gt;</p>\n"},
  };
  for (const auto& c : cases) {
    const std::string html = md::TMarkdownProcessor::CreateDialect(mdCommonMark)->process(c.Markdown);
    std::string whole;
    THelpPageDress dress([&](std::string_view APiece) { whole += APiece; });
    dress.Write(html);
    dress.Finish();
    EXPECT_EQ(whole, c.Page) << c.Markdown;
    // cut anywhere into pieces, the page is the same
    for (size_t cut = 1; cut < html.size(); ++cut) {
      std::string pieces;
      THelpPageDress cutDress([&](std::string_view APiece) { pieces += APiece; });
      cutDress.Write(std::string_view(html).substr(0, cut));
      cutDress.Write(std::string_view(html).substr(cut));
      cutDress.Finish();
      ASSERT_EQ(pieces, c.Page) << c.Markdown << " cut at " << cut;
    }
  }
}

// The shipped help: every link of its contents leads to a heading of the page.
TEST_F(RendererTest, ShippedHelpContentsLeadToItsHeadings) {
  std::string archive = ReadAll(QD_HELP_ARCHIVE_PATH);
  ASSERT_EQ(RenderArchive(archive), "");
  std::vector<std::string> links;
  for (size_t at = FShownPage.find("href=\"#"); at != std::string::npos; at = FShownPage.find("href=\"#", at + 1))
    links.push_back(FShownPage.substr(at + 7, FShownPage.find('"', at + 7) - at - 7));
  ASSERT_GE(links.size(), 7u);
  auto decoded = [](const std::string& AText) {
    std::string out;
    for (size_t i = 0; i < AText.size(); ++i) {
      if (AText[i] == '%' && i + 2 < AText.size()) {
        out += static_cast<char>(std::stoi(AText.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += AText[i];
      }
    }
    return out;
  };
  for (const std::string& link : links)
    EXPECT_NE(FShownPage.find(" id=\"" + decoded(link) + "\""), std::string::npos) << decoded(link);
}

}  // namespace
}  // namespace qd::ui
