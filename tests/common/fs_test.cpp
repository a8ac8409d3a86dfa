// The file interface: what each explicit choice (links, access of new items) does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/fsfailure.h"
#include "platform/fs.h"
#include "support/testenv.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qd::platform {
namespace {

namespace stdfs = std::filesystem;

class Files : public ::testing::Test {
 protected:
  std::string At(const std::string& AName) const { return Temp.Str() + kPathDelim + AName; }
  void Put(const std::string& AName, const std::string& ABytes) const {
    std::ofstream(Temp.Path() / AName, std::ios::binary) << ABytes;
  }
  test::TTempDir Temp;
};

TEST_F(Files, FoldersAreMadeWithTheirParentsAndRemovedWithEverythingInThem) {
  std::string deep = At("a") + kPathDelim + "b" + kPathDelim + "c";
  CreateFolders(deep, TNewAccess::OwnerOnly);
  CreateFolders(deep, TNewAccess::OwnerOnly);  // an existing folder is left as it is
  EXPECT_TRUE(FolderExists(deep, TLinks::DoNotFollow));
  WriteFile(deep + kPathDelim + "f.txt", "x", TNewAccess::OwnerOnly);
  EXPECT_TRUE(FileExists(deep + kPathDelim + "f.txt", TLinks::DoNotFollow));
  EXPECT_FALSE(FileExists(deep, TLinks::Follow)) << "a folder is not a file";
  EXPECT_FALSE(FolderExists(deep + kPathDelim + "f.txt", TLinks::Follow)) << "a file is not a folder";
  RemoveTree(At("a"));
  EXPECT_FALSE(FolderExists(At("a"), TLinks::Follow));
  RemoveTree(At("a"));  // nothing there: no error
}

TEST_F(Files, WriteReplacesReadAndAppendAddUp) {
  WriteFile(At("f"), "first", TNewAccess::OwnerOnly);
  WriteFile(At("f"), "new", TNewAccess::OwnerOnly);
  AppendToFile(At("f"), "+more", TNewAccess::OwnerOnly);
  for (TLinks links : {TLinks::Follow, TLinks::DoNotFollow})
    for (TShareMode share : {TShareMode::Read, TShareMode::ReadWrite}) EXPECT_EQ(ReadFile(At("f"), links, share), "new+more");
  unsigned long long skipped = 0;
  EXPECT_EQ(ReadFileTail(At("f"), 4, skipped), "more");
  EXPECT_EQ(skipped, 4u);
  EXPECT_THROW(ReadFile(At("missing"), TLinks::Follow, TShareMode::Read), std::runtime_error);
}

TEST_F(Files, ListingByExtensionIgnoresLetterCase) {
  for (const char* name : {"a.md", "B.MD", "c.mdx", "d.txt", "md"}) Put(name, "x");
  CreateFolders(At("e.md"), TNewAccess::OwnerOnly);
  std::vector<std::string> all = ListFolder(Temp.Str());
  std::vector<std::string> md = ListFolder(Temp.Str(), "md");
  std::sort(all.begin(), all.end());
  std::sort(md.begin(), md.end());
  EXPECT_EQ(all, (std::vector<std::string>{"B.MD", "a.md", "c.mdx", "d.txt", "e.md", "md"}));
  EXPECT_EQ(md, (std::vector<std::string>{"B.MD", "a.md", "e.md"}));
  EXPECT_TRUE(ListFolder(At("missing")).empty());
}

// A failure of the file system is told in the users' words, whatever the system said: a file
// that is missing, a name too long, a file held by another program.
TEST(FileFailures, AreSaidInRussianWithTheSystemsCode) {
  using platform::EFsError;
  using platform::TFsAction;
  using platform::TFsReason;
  const struct {
    EFsError Error;
    const char* Text;
  } cases[] = {
      {EFsError("Cannot open file p: No such file or directory", TFsAction::Open, TFsReason::NotFound, "p", 2),
       "не удалось открыть файл «p»: путь не найден (код 2)"},
      {EFsError("Cannot read file p: File name too long", TFsAction::Read, TFsReason::NameTooLong, "p", 36),
       "не удалось прочитать файл «p»: слишком длинное имя (код 36)"},
      {EFsError("Cannot write file p: in use", TFsAction::Write, TFsReason::InUse, "p", 32),
       "не удалось дописать файл «p»: файл занят другой программой (код 32)"},
      {EFsError("Cannot open file p: the file has other names", TFsAction::Open, TFsReason::Link, "p", 0),
       "не удалось открыть файл «p»: это ссылка, по ней лог не пишется"},
  };
  for (const auto& c : cases) EXPECT_EQ(FileFailureText(c.Error), c.Text) << c.Error.what();
}

TEST(Paths, RootedPaths) {
  EXPECT_TRUE(IsRootedPath(std::string(1, kPathDelim) + "x"));
  EXPECT_FALSE(IsRootedPath("x"));
  EXPECT_FALSE(IsRootedPath(""));
#if defined(_WIN32)
  EXPECT_TRUE(IsRootedPath("C:\\x"));
  EXPECT_TRUE(IsRootedPath("/x"));
  EXPECT_EQ(std::string(kPathDelims), "\\/");
#else
  EXPECT_FALSE(IsRootedPath("C:\\x"));
  EXPECT_EQ(std::string(kPathDelims), "/");
#endif
  EXPECT_EQ(NewGuidText().size(), 38u);
  EXPECT_NE(NewGuidText(), NewGuidText());
}

// Whether a folder takes new files is found out without opening or changing anything that is
// there: a file linked in under a name the check might use keeps its bytes.
TEST_F(Files, WritableFolderCheckLeavesPlantedEntriesAlone) {
  Put("victim", "twenty-one bytes here");
  CreateFolders(At("shared"), TNewAccess::UserDefault);
#if defined(_WIN32)
  const std::string pid = std::to_string(_getpid());
#else
  const std::string pid = std::to_string(getpid());
#endif
  for (const std::string& name : std::vector<std::string>{".write-test-" + pid, ".write-test-" + pid + "-0", ".write-test"})
    stdfs::create_hard_link(Temp.Path() / "victim", Temp.Path() / "shared" / name);
  EXPECT_TRUE(FolderWritable(At("shared")));
  EXPECT_EQ(ReadFile(At("victim"), TLinks::Follow, TShareMode::Read), "twenty-one bytes here");
  EXPECT_FALSE(FolderWritable(At("no-such-folder")));
}

#if !defined(_WIN32)
TEST_F(Files, LinksAreFollowedOnlyWhenTheCallSaysSo) {
  Put("file", "data");
  CreateFolders(At("dir"), TNewAccess::OwnerOnly);
  stdfs::create_symlink(At("file"), At("file-link"));
  stdfs::create_symlink(At("dir"), At("dir-link"));
  EXPECT_TRUE(FileExists(At("file-link"), TLinks::Follow));
  EXPECT_FALSE(FileExists(At("file-link"), TLinks::DoNotFollow));
  EXPECT_TRUE(FolderExists(At("dir-link"), TLinks::Follow));
  EXPECT_FALSE(FolderExists(At("dir-link"), TLinks::DoNotFollow));
  EXPECT_EQ(ReadFile(At("file-link"), TLinks::Follow, TShareMode::Read), "data");
  EXPECT_EQ(test::FailureOf([&] { ReadFile(At("file-link"), TLinks::DoNotFollow, TShareMode::Read); }),
            "Cannot open file " + At("file-link") + ": the path is a symbolic link");
  // Writing never goes through a link, whatever it points at.
  EXPECT_THROW(WriteFile(At("file-link"), "x", TNewAccess::OwnerOnly), std::runtime_error);
  EXPECT_THROW(AppendToFile(At("file-link"), "x", TNewAccess::OwnerOnly), std::runtime_error);
  EXPECT_EQ(ReadFile(At("file"), TLinks::Follow, TShareMode::Read), "data");
  // A link is removed, not entered.
  Put("dir/inside", "x");
  RemoveTree(At("dir-link"));
  EXPECT_TRUE(FileExists(At("dir/inside"), TLinks::DoNotFollow));
}

TEST_F(Files, APipeIsRefusedWithoutWaitingUnlessLinksAreFollowed) {
  ASSERT_EQ(mkfifo(At("pipe").c_str(), 0600), 0);
  EXPECT_FALSE(FileExists(At("pipe"), TLinks::Follow));
  EXPECT_EQ(test::FailureOf([&] { ReadFile(At("pipe"), TLinks::DoNotFollow, TShareMode::Read); }),
            "Cannot open file " + At("pipe") + ": not a regular file");
  EXPECT_THROW(AppendToFile(At("pipe"), "x", TNewAccess::Everyone), std::runtime_error);
}

mode_t ModeOf(const std::string& APath) {
  struct stat st {};
  EXPECT_EQ(lstat(APath.c_str(), &st), 0) << APath;
  return st.st_mode & 07777;
}

TEST_F(Files, NewItemsGetTheAccessThatTheCallAsks) {
  const mode_t mask = umask(022);
  CreateFolders(At("private"), TNewAccess::OwnerOnly);
  CreateFolders(At("default"), TNewAccess::UserDefault);
  WriteFile(At("private.txt"), "x", TNewAccess::OwnerOnly);
  WriteFile(At("default.txt"), "x", TNewAccess::UserDefault);
  WriteFile(At("everyone.txt"), "x", TNewAccess::Everyone);
  AppendToFile(At("appended.txt"), "x", TNewAccess::Everyone);
  CreateFolders(At("shared"), TNewAccess::UserDefault);
  GrantFolderAccess(At("shared"));
  umask(mask);
  EXPECT_EQ(ModeOf(At("private")), 0700u);
  EXPECT_EQ(ModeOf(At("default")), 0755u);
  EXPECT_EQ(ModeOf(At("private.txt")), 0600u);
  EXPECT_EQ(ModeOf(At("default.txt")), 0644u);
  EXPECT_EQ(ModeOf(At("everyone.txt")), 0666u);
  EXPECT_EQ(ModeOf(At("appended.txt")), 0666u);
  EXPECT_EQ(ModeOf(At("shared")), 01777u);
}
#endif

}  // namespace
}  // namespace qd::platform
