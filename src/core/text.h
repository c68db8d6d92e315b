#pragma once
// Text helpers. Texts are byte strings in the system's single-byte code page; comparisons "without
// regard to case" fold the ASCII letters only, as names of commands, tags, keys and paths are compared.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

inline char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
inline char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }
std::string LowerCase(std::string_view text);
std::string UpperCase(std::string_view text);

// ASCII case-insensitive comparison: <0, 0, >0 like strcmp.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view text, std::string_view prefix);
bool EndsText(std::string_view text, std::string_view suffix);
// Position of the first occurrence of `needle` at or after `start`, without regard to case; npos if none.
std::size_t FindText(std::string_view haystack, std::string_view needle, std::size_t start = 0);
bool ContainsText(std::string_view haystack, std::string_view needle);

// Removes bytes of code 32 and below from both ends.
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);

// Every occurrence of `from` replaced by `to`; with IgnoreCase the search folds ASCII case.
enum class Matching { Exact, IgnoreCase };
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to,
                       Matching matching = Matching::Exact);

// The decimal integer `text` stands for (an optional sign, digits, nothing else), if it fits an int.
std::optional<int> ParseInt(std::string_view text);
// As ParseInt, also accepting hexadecimal written "$1F" or "0x1F".
std::optional<int> ParseIntOrHex(std::string_view text);

// A file or folder name without folder parts: not empty, no "\", "/", ":" or "..".
bool IsPlainName(std::string_view name);

// The value of a hexadecimal digit, or -1.
int HexDigitValue(char c);

// URL decoding: %XX becomes the byte XX; with PlusMeans::Blank "+" becomes a blank (form style). A "%"
// that is not followed by two hexadecimal digits stays as it is.
enum class PlusMeans { Plus, Blank };
std::string UrlDecode(std::string_view text, PlusMeans plus);

// Form-style URL encoding as pages use it: A-Z a-z 0-9 and ! $ ' ( ) * - . @ _ stay, a blank becomes "+",
// every other byte "%" and two lower-case hexadecimal digits.
std::string UrlEncode(std::string_view text);

// HTML entities for "&", "<", ">" and '"', and with Apostrophe::Too also for "'".
enum class Apostrophe { Keep, Too };
std::string HtmlEncode(std::string_view text, Apostrophe apostrophe = Apostrophe::Too);
// The same, appended to `out` (which `text` must not be part of).
void AppendHtmlEncoded(std::string& out, std::string_view text, Apostrophe apostrophe = Apostrophe::Too);

// The inside of a JSON string, in ASCII only: '"' and '\' behind a backslash, the control characters
// (below 0x20, and DEL) as \u00XX, and every byte from 0x80 up as the \uXXXX of its character in the
// Windows code page 1252 (which browsers also read for pages labelled iso-8859-1, the default charset).
// Texts are bytes of the single-byte code page, never UTF-8: written as they are, such bytes would make
// the document invalid for every JSON reader that insists on UTF-8.
std::string JsonEncode(std::string_view text);

// printf-style formatting into a text. The formats are checked as GNU printf's (MinGW would otherwise check
// them as the Microsoft runtime's); clang knows that style as plain printf.
#ifdef __clang__
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#endif

// An ordered list of texts.
using TextList = std::vector<std::string>;

// name=value lines: the name is the text before the first "=", looked up without regard to case.
std::string_view NameOf(std::string_view line);
std::string_view ValueOf(std::string_view line);
std::ptrdiff_t IndexOfName(const TextList& list, std::string_view name);
std::optional<std::string> ValueOfName(const TextList& list, std::string_view name);
// Replaces the value of the first line with `name`, or appends name=value.
void SetValueOfName(TextList& list, std::string_view name, std::string_view value);
// Removes the first line with `name`; false when there is none.
bool DeleteName(TextList& list, std::string_view name);

// A list kept sorted without regard to case; a text equal to one already present is not added again.
class SortedTextList {
 public:
  // False when an equal text is already present.
  bool Add(std::string text);
  std::ptrdiff_t IndexOf(std::string_view text) const;
  bool Contains(std::string_view text) const { return IndexOf(text) >= 0; }
  void Clear() { items_.clear(); }

  const TextList& Items() const { return items_; }
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const std::string& operator[](std::size_t index) const { return items_[index]; }
  TextList::const_iterator begin() const { return items_.begin(); }
  TextList::const_iterator end() const { return items_.end(); }

 private:
  TextList items_;
};

// A list of texts kept in one block, each read as a view into it. The file cache holds the paths of tens
// of thousands of files: packed, they take about half the memory of as many strings, and a search over
// them reads one block in order instead of one allocation per path.
class PackedTextList {
 public:
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using reference = std::string_view;
    using pointer = void;
    const_iterator() = default;
    std::string_view operator*() const { return (*list_)[index_]; }
    std::string_view operator[](difference_type n) const { return (*list_)[index_ + n]; }
    const_iterator& operator++() { return ++index_, *this; }
    const_iterator operator++(int) { return const_iterator(list_, index_++); }
    const_iterator& operator--() { return --index_, *this; }
    const_iterator operator--(int) { return const_iterator(list_, index_--); }
    const_iterator& operator+=(difference_type n) { return index_ += n, *this; }
    const_iterator& operator-=(difference_type n) { return index_ -= n, *this; }
    friend const_iterator operator+(const_iterator at, difference_type n) { return at += n; }
    friend const_iterator operator+(difference_type n, const_iterator at) { return at += n; }
    friend const_iterator operator-(const_iterator at, difference_type n) { return at -= n; }
    friend difference_type operator-(const_iterator a, const_iterator b) {
      return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
    }
    friend bool operator==(const_iterator a, const_iterator b) { return a.index_ == b.index_; }
    friend auto operator<=>(const_iterator a, const_iterator b) { return a.index_ <=> b.index_; }

   private:
    friend class PackedTextList;
    const_iterator(const PackedTextList* list, std::size_t index) : list_(list), index_(index) {}
    const PackedTextList* list_ = nullptr;
    std::size_t index_ = 0;
  };
  using value_type = std::string_view;

  PackedTextList() = default;
  PackedTextList(std::initializer_list<std::string_view> items);
  PackedTextList(const TextList& items);  // a packed copy, for where a list of strings is at hand

  // Throws std::length_error past 4 GiB of text.
  void push_back(std::string_view text);
  // Gives back the room that growing left over.
  void shrink_to_fit();

  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_.data() + begin, ends_[index] - begin);
  }
  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, size()); }
  TextList ToTextList() const { return TextList(begin(), end()); }
  // All the texts one after the other, with nothing between them, and where text `index` ends in it.
  std::string_view Joined() const { return text_; }
  std::size_t EndOf(std::size_t index) const { return ends_[index]; }

  friend bool operator==(const PackedTextList& a, const PackedTextList& b) {
    return a.ends_ == b.ends_ && a.text_ == b.text_;
  }

 private:
  std::string text_;                 // the texts one after the other
  std::vector<std::uint32_t> ends_;  // where each ends in text_
};

}  // namespace qf
