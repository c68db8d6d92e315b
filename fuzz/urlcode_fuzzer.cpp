// libFuzzer target: the percent decoder and what the server builds on it (src/core/text.*,
// src/http/urlcode.*): paths and query texts decoded, queries and form bodies split into parameters,
// request targets split into path and query; and the encoders pages write with.
//
// Input: any text, taken as a request target, a query and a value alike.
//
// Oracles: decoding agrees with a plain reading of the rule (%XX with two hexadecimal digits is the
// byte, any other "%" stays, "+" is a blank only in forms) and never lengthens a text; what UrlEncode
// writes holds only its safe characters and decodes back to the text; SplitParams gives the decoded
// non-empty pieces between "&" in order; SplitTarget gives a path that starts with "/" and holds no
// "?", and for a target in origin form path and query put together are the target; HtmlEncode leaves no
// markup character and JsonEncode no control character or bare quote.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"
#include "fuzzing.h"
#include "http/urlcode.h"

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decoded(std::string_view text, bool plusIsBlank) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && text.size() - i >= 3 && Hex(text[i + 1]) >= 0 && Hex(text[i + 2]) >= 0) {
      out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
      i += 2;
    } else {
      out += plusIsBlank && text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

bool Safe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("!$'()*-.@_+%").find(c) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = qffuzz::Text(data, size);

  for (qf::PlusMeans plus : {qf::PlusMeans::Plus, qf::PlusMeans::Blank}) {
    std::string decoded = qf::UrlDecode(text, plus);
    QF_FUZZ_CHECK(decoded == Decoded(text, plus == qf::PlusMeans::Blank));
    QF_FUZZ_CHECK(decoded.size() <= text.size());
  }

  std::string encoded = qf::UrlEncode(text);
  for (char c : encoded) QF_FUZZ_CHECK(Safe(c));
  QF_FUZZ_CHECK(qf::UrlDecode(encoded, qf::PlusMeans::Blank) == text);

  qf::TextList params = qf::SplitParams(text);
  std::size_t next = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) {
      QF_FUZZ_CHECK(next < params.size());
      QF_FUZZ_CHECK(params[next++] == Decoded(text.substr(start, end - start), true));
    }
    start = end + 1;
  }
  QF_FUZZ_CHECK(next == params.size());

  if (std::optional<qf::RequestTarget> target = qf::SplitTarget(text)) {
    QF_FUZZ_CHECK(!target->path.empty() && target->path[0] == '/');
    QF_FUZZ_CHECK(target->path.find('?') == std::string::npos);
    if (text[0] == '/') {
      std::string joined = target->path;
      if (text.find('?') != std::string_view::npos) joined += "?" + target->query;
      QF_FUZZ_CHECK(joined == text);
    }
  }

  for (qf::Apostrophe apostrophe : {qf::Apostrophe::Keep, qf::Apostrophe::Too}) {
    std::string html = qf::HtmlEncode(text, apostrophe);
    QF_FUZZ_CHECK(html.find_first_of(apostrophe == qf::Apostrophe::Too ? "<>\"'" : "<>\"") == std::string::npos);
  }
  std::string json = qf::JsonEncode(text);
  for (std::size_t i = 0; i < json.size(); ++i) {
    auto byte = static_cast<unsigned char>(json[i]);
    QF_FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
    if (json[i] == '\\') {
      QF_FUZZ_CHECK(i + 1 < json.size());
      ++i;  // the escaped character
    } else {
      QF_FUZZ_CHECK(json[i] != '"');
    }
  }
  return 0;
}
