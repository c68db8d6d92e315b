#include "core/text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace qf {

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = LowerChar(c);
  return result;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = UpperChar(c);
  return result;
}

int CompareText(std::string_view a, std::string_view b) {
  std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    auto x = static_cast<unsigned char>(LowerChar(a[i]));
    auto y = static_cast<unsigned char>(LowerChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

bool StartsText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool EndsText(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && SameText(text.substr(text.size() - suffix.size()), suffix);
}

std::size_t FindText(std::string_view haystack, std::string_view needle, std::size_t start) {
  if (needle.empty()) return start <= haystack.size() ? start : std::string_view::npos;
  if (haystack.size() < needle.size()) return std::string_view::npos;
  // Candidates are found by their first letter in either case; only they are compared whole.
  const char lower = LowerChar(needle[0]), upper = UpperChar(needle[0]);
  const std::string_view rest = needle.substr(1);
  for (std::size_t i = start; i + needle.size() <= haystack.size(); ++i) {
    char c = haystack[i];
    if ((c == lower || c == upper) && CompareText(haystack.substr(i + 1, rest.size()), rest) == 0) return i;
  }
  return std::string_view::npos;
}

bool ContainsText(std::string_view haystack, std::string_view needle) {
  return FindText(haystack, needle) != std::string_view::npos;
}

std::string_view TrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) <= 32) ++start;
  return text.substr(start);
}

std::string_view TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(0, end);
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to, Matching matching) {
  if (from.empty()) return std::string(text);
  std::string result;
  std::size_t position = 0;
  for (;;) {
    std::size_t found = matching == Matching::IgnoreCase ? FindText(text, from, position) : text.find(from, position);
    if (found == std::string_view::npos) break;
    result.append(text.substr(position, found - position));
    result.append(to);
    position = found + from.size();
  }
  result.append(text.substr(position));
  return result;
}

namespace {

std::optional<int> ParseWithBase(std::string_view text, int base) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(copy.c_str(), &end, base);
  if (end != copy.c_str() + copy.size() || errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

bool IsSignOrDigit(char c) { return c == '-' || c == '+' || (c >= '0' && c <= '9'); }

}  // namespace

std::optional<int> ParseInt(std::string_view text) {
  // strtoll would also skip leading blanks; a number here is exactly sign and digits.
  if (text.empty() || !IsSignOrDigit(text[0])) return std::nullopt;
  return ParseWithBase(text, 10);
}

std::optional<int> ParseIntOrHex(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  std::string_view digits = negative ? text.substr(1) : text;
  std::string_view hex;
  if (!digits.empty() && digits[0] == '$')
    hex = digits.substr(1);
  else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    hex = digits.substr(2);
  else
    return ParseInt(text);
  if (hex.empty() ||
      !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  std::optional<int> value = ParseWithBase(hex, 16);
  if (!value) return std::nullopt;
  return negative ? -*value : *value;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && name.find_first_of("\\/:") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string UrlDecode(std::string_view text, PlusMeans plus) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int high = HexDigitValue(text[i + 1]), low = HexDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        result += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    result += (c == '+' && plus == PlusMeans::Blank) ? ' ' : c;
  }
  return result;
}

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string result;
  result.reserve(text.size() * 3);
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        std::string_view("!$'()*-.@_").find(c) != std::string_view::npos) {
      result += c;
    } else if (c == ' ') {
      result += '+';
    } else {
      result += '%';
      result += kHex[byte >> 4];
      result += kHex[byte & 15];
    }
  }
  return result;
}

namespace {

// The characters of the bytes 0x80 to 0x9F in code page 1252; the five bytes it leaves undefined keep
// their own values, as browsers read them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

std::string JsonEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      result += '\\';
      result += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      unsigned code = byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
      result += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) result += kHex[(code >> shift) & 15];
    } else {
      result += c;
    }
  }
  return result;
}

void AppendHtmlEncoded(std::string& result, std::string_view text, Apostrophe apostrophe) {
  // Most texts (titles, names) hold nothing to encode: the plain stretches are copied whole.
  const bool apostrophes = apostrophe == Apostrophe::Too;
  auto special = [apostrophes](char c) {
    return c == '&' || c == '<' || c == '>' || c == '"' || (c == '\'' && apostrophes);
  };
  for (std::size_t at = 0; at < text.size();) {
    std::size_t plain = at;
    while (plain < text.size() && !special(text[plain])) ++plain;
    result.append(text.substr(at, plain - at));
    if (plain == text.size()) break;
    at = plain + 1;
    switch (text[plain]) {
      case '&':
        result += "&amp;";
        break;
      case '<':
        result += "&lt;";
        break;
      case '>':
        result += "&gt;";
        break;
      case '"':
        result += "&quot;";
        break;
      default:  // the apostrophe, found only when it is encoded
        result += "&#39;";
    }
  }
}

std::string HtmlEncode(std::string_view text, Apostrophe apostrophe) {
  std::string result;
  result.reserve(text.size());
  AppendHtmlEncoded(result, text, apostrophe);
  return result;
}

std::string Format(const char* format, ...) {
  char small[256];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(small, sizeof small, format, arguments);
  va_end(arguments);
  if (length < 0) return std::string();
  if (static_cast<std::size_t>(length) < sizeof small) return std::string(small, static_cast<std::size_t>(length));
  std::string result(static_cast<std::size_t>(length) + 1, '\0');
  va_start(arguments, format);
  std::vsnprintf(result.data(), result.size(), format, arguments);
  va_end(arguments);
  result.resize(static_cast<std::size_t>(length));
  return result;
}

std::string_view NameOf(std::string_view line) {
  std::size_t equals = line.find('=');
  return equals == std::string_view::npos ? line : line.substr(0, equals);
}

std::string_view ValueOf(std::string_view line) {
  std::size_t equals = line.find('=');
  return equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
}

std::ptrdiff_t IndexOfName(const TextList& list, std::string_view name) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::size_t equals = list[i].find('=');
    if (equals != std::string::npos && SameText(std::string_view(list[i]).substr(0, equals), name))
      return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

std::optional<std::string> ValueOfName(const TextList& list, std::string_view name) {
  std::ptrdiff_t index = IndexOfName(list, name);
  if (index < 0) return std::nullopt;
  return std::string(ValueOf(list[static_cast<std::size_t>(index)]));
}

void SetValueOfName(TextList& list, std::string_view name, std::string_view value) {
  std::string line = std::string(name) + "=" + std::string(value);
  std::ptrdiff_t index = IndexOfName(list, name);
  if (index < 0)
    list.push_back(std::move(line));
  else
    list[static_cast<std::size_t>(index)] = std::move(line);
}

bool DeleteName(TextList& list, std::string_view name) {
  std::ptrdiff_t index = IndexOfName(list, name);
  if (index < 0) return false;
  list.erase(list.begin() + index);
  return true;
}

PackedTextList::PackedTextList(std::initializer_list<std::string_view> items) {
  for (std::string_view item : items) push_back(item);
}

PackedTextList::PackedTextList(const TextList& items) {
  for (const std::string& item : items) push_back(item);
}

void PackedTextList::push_back(std::string_view text) {
  if (text.size() > UINT32_MAX - text_.size()) throw std::length_error("more text than a packed list holds");
  text_.append(text);
  ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

void PackedTextList::shrink_to_fit() {
  text_.shrink_to_fit();
  ends_.shrink_to_fit();
}

bool SortedTextList::Add(std::string text) {
  auto position = std::lower_bound(items_.begin(), items_.end(), text,
                                   [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  if (position != items_.end() && SameText(*position, text)) return false;
  items_.insert(position, std::move(text));
  return true;
}

std::ptrdiff_t SortedTextList::IndexOf(std::string_view text) const {
  auto position = std::lower_bound(items_.begin(), items_.end(), text,
                                   [](const std::string& a, std::string_view b) { return CompareText(a, b) < 0; });
  if (position == items_.end() || !SameText(*position, text)) return -1;
  return position - items_.begin();
}

}  // namespace qf
