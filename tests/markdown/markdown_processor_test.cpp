#include <gtest/gtest.h>

#include "markdown/MarkdownProcessor.h"

namespace qd::md {
namespace {

TEST(MarkdownProcessor, CommonMarkHasNoUnsafeMode) {
  auto p = TMarkdownProcessor::CreateDialect(mdCommonMark);
  ASSERT_NE(dynamic_cast<TCommonMarkProcessor*>(p.get()), nullptr);
  EXPECT_FALSE(p->GetUnSafe());
  EXPECT_NO_THROW(p->SetUnSafe(false));
  try {
    p->SetUnSafe(true);
    FAIL() << "no error";
  } catch (const EMarkdownError& e) {
    EXPECT_STREQ(e.what(), "The common mark processor cannot operate in unsafe mode+");
  }
  EXPECT_FALSE(p->GetUnSafe());
  EXPECT_EQ(p->process(""), "");
  // no state between calls
  EXPECT_EQ(p->process("*a*"), "<p><em>a</em></p>\n");
  EXPECT_EQ(p->process("*a*"), "<p><em>a</em></p>\n");
}

TEST(MarkdownProcessor, UnknownDialectIsRefused) {
  try {
    TMarkdownProcessor::CreateDialect(static_cast<TMarkdownProcessorDialect>(7));
    FAIL() << "no error";
  } catch (const EMarkdownError& e) {
    EXPECT_STREQ(e.what(), "Unknown Markdown dialect");
  }
}

TEST(MarkdownProcessor, ClassicDialectSafeModeSwitch) {
  auto p = TMarkdownProcessor::CreateDialect(mdDaringFireball);
  ASSERT_NE(dynamic_cast<TMarkdownDaringFireball*>(p.get()), nullptr);
  EXPECT_FALSE(p->GetUnSafe());
  EXPECT_EQ(p->process("# Title\n\nsome *em* and <b>x</b>\nmore\n"),
            "<h1>Title</h1>\n<p>some <em>em</em> and &lt;b&gt;x&lt;/b&gt;\nmore</p>\n");
  p->SetUnSafe(true);
  EXPECT_TRUE(p->GetUnSafe());
  EXPECT_EQ(p->process("a <b>x</b> `<c>`"), "<p>a <b>x</b> <code>&lt;c&gt;</code></p>\n");
  p->SetUnSafe(false);
  EXPECT_FALSE(p->GetUnSafe());
}

}  // namespace
}  // namespace qd::md
