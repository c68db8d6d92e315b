#pragma once
// The parameter list of a template tag: the text after the tag name split into entries, each normally
// "key=value", quotes removed and URL-decoded.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

// A parameter text that cannot be decoded: it fails the production of the template the tag stands in.
class TemplateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The parameters of the common output options (pageproducer/tags.h), which nearly every tag looks for.
enum class OutputOption : unsigned {
  MaxLength = 1,
  UseSlashes = 2,
  UrlEncoded = 4,
  HtmlEncoded = 8,
  JsonEncoded = 16,
  Escape = 32,
};

class TagParams {
 public:
  TagParams() = default;
  explicit TagParams(std::vector<std::string> entries);

  // Splits a parameter text: entries end at blanks, a double quote groups blanks into an entry, quotes are
  // then removed from each entry and it is URL-decoded ("+" a blank, %XX a byte, %% a "%").
  // Throws TemplateError on a broken %XX escape.
  static TagParams Split(std::string_view text);

  // The value of the first entry whose key (the text before its first "=") equals `key` without regard
  // to case; empty when there is none.
  std::string Value(std::string_view key) const { return std::string(View(key)); }
  // The same value, valid as long as the parameters are.
  std::string_view View(std::string_view key) const;
  // A parameter is given when its value is not empty.
  bool Given(std::string_view key) const { return !View(key).empty(); }
  // Given(the option's name), looked up once when the parameters were made.
  bool Given(OutputOption option) const { return (options_ & static_cast<unsigned>(option)) != 0; }
  // Every OutputOption given, as a set of their bits.
  unsigned Options() const { return options_; }

  const std::vector<std::string>& Entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
  unsigned options_ = 0;  // the OutputOptions given
};

// Quote removal of one entry, scanning from its end (exposed for tests).
std::string RemoveQuotes(std::string_view entry);
// URL decoding of one entry (exposed for tests); throws TemplateError.
std::string DecodeEntry(std::string_view entry);

}  // namespace qf
