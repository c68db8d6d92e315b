#include "http/urlcode.h"

namespace qf {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UrlDecode(std::string_view text, PlusMeans plus) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
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

TextList SplitParams(std::string_view query) {
  TextList params;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view piece = query.substr(start, end - start);
    if (!piece.empty()) params.push_back(UrlDecode(piece, PlusMeans::Blank));
    start = end + 1;
  }
  return params;
}

std::optional<RequestTarget> SplitTarget(std::string_view target) {
  if (StartsText(target, "http://") || StartsText(target, "https://")) {
    std::size_t authority = target.find("//") + 2;
    std::size_t path = target.find_first_of("/?", authority);
    target = path == std::string_view::npos ? std::string_view("/") : target.substr(path);
    if (!target.empty() && target[0] == '?') return RequestTarget{"/", std::string(target.substr(1))};
  }
  if (target.empty() || target[0] != '/') return std::nullopt;
  std::size_t question = target.find('?');
  if (question == std::string_view::npos) return RequestTarget{std::string(target), {}};
  return RequestTarget{std::string(target.substr(0, question)), std::string(target.substr(question + 1))};
}

}  // namespace qf
