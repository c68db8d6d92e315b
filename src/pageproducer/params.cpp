#include "pageproducer/params.h"

#include <algorithm>
#include <utility>

#include "core/text.h"

namespace qf {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string RemoveQuotes(std::string_view entry) {
  std::string kept;
  kept.reserve(entry.size());
  char open = 0;  // the quote of the pair being read, scanning backwards
  for (std::size_t i = entry.size(); i-- > 0;) {
    char c = entry[i];
    if (c == '"' || c == '\'') {
      if (open == 0) {
        open = c;
        continue;
      }
      if (c == open) {
        open = 0;
        continue;
      }
    }
    kept += c;
  }
  std::reverse(kept.begin(), kept.end());
  return kept;
}

std::string DecodeEntry(std::string_view entry) {
  std::string decoded;
  decoded.reserve(entry.size());
  for (std::size_t i = 0; i < entry.size(); ++i) {
    char c = entry[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c != '%') {
      decoded += c;
    } else if (i + 1 < entry.size() && entry[i + 1] == '%') {
      decoded += '%';
      ++i;
    } else if (i + 2 >= entry.size()) {
      throw TemplateError(Format("Error decoding URL style (%%XX) encoded string at position %zu", i + 1));
    } else {
      int high = HexDigitValue(entry[i + 1]), low = HexDigitValue(entry[i + 2]);
      if (high < 0 || low < 0)
        throw TemplateError(
            Format("Invalid URL encoded character (%%%c%c) at position %zu", entry[i + 1], entry[i + 2], i + 1));
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return decoded;
}

TagParams TagParams::Split(std::string_view text) {
  std::vector<std::string> entries;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i >= text.size()) break;
    std::string entry;
    bool quotedStart = text[i] == '"';
    if (quotedStart) {
      // An entry that begins with a double quote is the quoted text, without its quotes.
      std::size_t close = text.find('"', i + 1);
      std::size_t end = close == std::string_view::npos ? text.size() : close;
      entry.append(text.substr(i + 1, end - i - 1));
      i = end == text.size() ? end : end + 1;
    }
    while (i < text.size() && !IsBlank(text[i])) {
      if (text[i] == '"') {  // a quoted stretch inside an entry keeps its blanks and its quotes
        std::size_t close = text.find('"', i + 1);
        std::size_t end = close == std::string_view::npos ? text.size() : close + 1;
        entry.append(text.substr(i, end - i));
        i = end;
        continue;
      }
      entry += text[i++];
    }
    entries.push_back(DecodeEntry(RemoveQuotes(entry)));
  }
  return TagParams(std::move(entries));
}

TagParams::TagParams(std::vector<std::string> entries) : entries_(std::move(entries)) {
  static constexpr std::pair<OutputOption, std::string_view> kNames[] = {
      {OutputOption::MaxLength, "maxlength"},     {OutputOption::UseSlashes, "useslashes"},
      {OutputOption::UrlEncoded, "urlencoded"},   {OutputOption::HtmlEncoded, "htmlencoded"},
      {OutputOption::JsonEncoded, "jsonencoded"}, {OutputOption::Escape, "escape"},
  };
  if (entries_.empty()) return;
  for (const auto& [option, name] : kNames)
    if (Given(name)) options_ |= static_cast<unsigned>(option);
}

std::string_view TagParams::View(std::string_view key) const {
  std::ptrdiff_t index = IndexOfName(entries_, key);
  return index < 0 ? std::string_view() : ValueOf(entries_[static_cast<std::size_t>(index)]);
}

}  // namespace qf
