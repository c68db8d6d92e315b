#include "http/urlcode.h"

namespace qf {
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
