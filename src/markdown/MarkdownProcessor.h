// Markdown front door: a processor per dialect that turns Markdown text into an HTML fragment.
// Texts are UTF-8.
#pragma once
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

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

  // The same fragment handed to AWrite in pieces as it is made, for a page that goes straight
  // to a file: a dialect that can holds only a small part of it at a time; by default the
  // whole fragment is one piece. An exception of AWrite ends the conversion.
  using TPageWriter = std::function<void(std::string_view)>;
  virtual void ProcessTo(const std::string& ASource, const TPageWriter& AWrite) { AWrite(process(ASource)); }
};

// CommonMark with the tables, strikethrough and extended autolink extensions. Raw HTML never
// passes through, so it has no unsafe mode.
class TCommonMarkProcessor : public TMarkdownProcessor {
 public:
  bool GetUnSafe() const override { return false; }
  void SetUnSafe(bool AValue) override;
  std::string process(const std::string& ASource) override;
  void ProcessTo(const std::string& ASource, const TPageWriter& AWrite) override;
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
