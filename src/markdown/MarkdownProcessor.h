// Markdown front door: a processor per dialect that turns Markdown text into an HTML fragment.
// Texts are UTF-8.
#pragma once
#include <memory>
#include <stdexcept>
#include <string>

namespace qd::md {

// Failures of the Markdown subsystem; the message is the text shown to the caller.
class EMarkdownError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TMarkdownProcessorDialect : int { mdDaringFireball = 0, mdCommonMark = 1 };

class TMarkdownProcessor {
 public:
  virtual ~TMarkdownProcessor() = default;

  // Creates a processor for the dialect; the caller owns it.
  static std::unique_ptr<TMarkdownProcessor> CreateDialect(TMarkdownProcessorDialect ADialect);

  // Property UnSafe: whether raw HTML in the source may reach the output.
  virtual bool GetUnSafe() const = 0;
  virtual void SetUnSafe(bool AValue) = 0;

  // Converts Markdown text to an HTML fragment (no doctype, head or body).
  virtual std::string process(const std::string& ASource) = 0;
};

// CommonMark with the tables, strikethrough and extended autolink extensions. Raw HTML never
// passes through, so it has no unsafe mode.
class TCommonMarkProcessor : public TMarkdownProcessor {
 public:
  bool GetUnSafe() const override { return false; }
  void SetUnSafe(bool AValue) override;
  std::string process(const std::string& ASource) override;
};

// The classic dialect. Its conversion is deliberately small: paragraphs separated by blank
// lines, ATX headings, "*"/"_" emphasis and backtick code spans. In safe mode (the default)
// every "<" and "&" of the source is escaped; in unsafe mode text is copied as it stands, so
// embedded HTML reaches the output.
class TMarkdownDaringFireball : public TMarkdownProcessor {
 public:
  struct TConfiguration {
    bool SafeMode = true;
  };

  bool GetUnSafe() const override { return !FConfig.SafeMode; }
  void SetUnSafe(bool AValue) override { FConfig.SafeMode = !AValue; }
  std::string process(const std::string& ASource) override;

 private:
  TConfiguration FConfig;
};

}  // namespace qd::md
