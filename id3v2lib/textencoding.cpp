#include "textencoding.h"

#include <array>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace qf::id3v2 {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kByteOrderMark = 0xFEFF;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendCodePoint(std::u16string& text, char32_t codePoint) {
  if (codePoint < 0x10000) {
    text.push_back(static_cast<char16_t>(codePoint));
    return;
  }
  codePoint -= 0x10000;
  text.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
  text.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

std::u16string DecodeLatin1(Bytes bytes) { return std::u16string(bytes.begin(), bytes.end()); }

std::u16string DecodeUtf16(Bytes bytes, ByteOrder order) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned first = bytes[i], second = bytes[i + 1];
    text.push_back(static_cast<char16_t>(order == ByteOrder::BigEndian ? first << 8 | second : second << 8 | first));
  }
  // Pairs stay as they are; a surrogate without its partner is no character.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      text[i] = kReplacement;
    }
  }
  return text;
}

std::u16string DecodeUtf8(Bytes bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t lead = bytes[i];
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
      length = 1, codePoint = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, codePoint = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, codePoint = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, codePoint = lead & 0x07, smallest = 0x10000;
    }
    // An invalid sequence stands for one replacement character and ends before the byte that broke it.
    std::size_t taken = 1;
    bool valid = length != 0;
    while (valid && taken < length) {
      if (i + taken >= bytes.size() || (bytes[i + taken] & 0xC0) != 0x80) {
        valid = false;
      } else {
        codePoint = codePoint << 6 | (bytes[i + taken] & 0x3F);
        ++taken;
      }
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters either.
    if (valid &&
        (codePoint < smallest || codePoint > 0x10FFFF || IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint))) {
      valid = false;
    }
    AppendCodePoint(text, valid ? codePoint : kReplacement);
    i += taken;
  }
  return text;
}

#if !defined(_WIN32)

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page has no character.
constexpr std::array<char16_t, 32> kWindows1252High = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                                       0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToWindows1252(char16_t character) {
  if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) return static_cast<char>(character);
  for (std::size_t i = 0; i < kWindows1252High.size(); ++i) {
    if (kWindows1252High[i] != 0 && kWindows1252High[i] == character) return static_cast<char>(0x80 + i);
  }
  return '?';
}

#endif

}  // namespace

std::optional<TextEncoding> TextEncodingOf(std::uint8_t byte) {
  if (byte > static_cast<std::uint8_t>(TextEncoding::Utf8)) return std::nullopt;
  return static_cast<TextEncoding>(byte);
}

TerminatedText SplitAtTerminator(Bytes bytes, TextEncoding encoding) {
  const bool wide = encoding == TextEncoding::Utf16 || encoding == TextEncoding::Utf16BigEndian;
  const std::size_t width = wide ? 2 : 1;
  for (std::size_t i = 0; i + width <= bytes.size(); i += width) {
    if (bytes[i] == 0 && (!wide || bytes[i + 1] == 0)) {
      return {bytes.first(i), bytes.subspan(i + width), true};
    }
  }
  return {bytes, {}, false};
}

std::u16string DecodeText(Bytes bytes, TextEncoding encoding, ByteOrder& utf16Order) {
  std::u16string text;
  switch (encoding) {
    case TextEncoding::Latin1:
      text = DecodeLatin1(bytes);
      break;
    case TextEncoding::Utf16:
      if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        utf16Order = ByteOrder::LittleEndian;
        bytes = bytes.subspan(2);
      } else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        utf16Order = ByteOrder::BigEndian;
        bytes = bytes.subspan(2);
      }
      text = DecodeUtf16(bytes, utf16Order);
      break;
    case TextEncoding::Utf16BigEndian:
      text = DecodeUtf16(bytes, ByteOrder::BigEndian);
      break;
    case TextEncoding::Utf8:
      text = DecodeUtf8(bytes);
      break;
  }
  // Some writers put a byte order mark before UTF-8 and UTF-16BE text too.
  if (!text.empty() && text.front() == kByteOrderMark) text.erase(0, 1);
  return text;
}

#if defined(_WIN32)

std::string ToCodePage(std::u16string_view text) {
  if (text.empty()) return {};
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  const std::wstring wide(text.begin(), text.end());
  const int wideLength = static_cast<int>(wide.size());
  // No best-fit mapping: a character the code page lacks becomes '?', as on Linux, rather than a
  // look-alike that reads as a different word. Code pages that refuse the flag (UTF-8 as the ANSI code
  // page) are converted without it.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int length = WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    flags = 0;
    length = WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  }
  if (length <= 0) return std::string(text.size(), '?');
  std::string converted(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, converted.data(), length, nullptr, nullptr);
  return converted;
}

#else

std::string ToCodePage(std::u16string_view text) {
  std::string converted;
  converted.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A surrogate pair is one character beyond the code page.
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      converted.push_back('?');
      ++i;
      continue;
    }
    converted.push_back(ToWindows1252(text[i]));
  }
  return converted;
}

#endif

}  // namespace qf::id3v2
