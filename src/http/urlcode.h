#pragma once
// URL decoding and encoding of request paths, query texts and form bodies.

#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"

namespace qf {

// The parameters of a query or form body ("a=1&b&c=x+y"): one decoded line per non-empty piece, in
// order; a piece without "=" stays a bare name.
TextList SplitParams(std::string_view query);

// The path and query of a request target in origin form ("/a?b") or absolute form ("http://h/a?b").
struct RequestTarget {
  std::string path;   // still encoded
  std::string query;  // after the first "?", still encoded
};
std::optional<RequestTarget> SplitTarget(std::string_view target);

}  // namespace qf
