#pragma once
// The server's built-in MIME table: the content type of a file by its extension.

#include <string>
#include <string_view>

namespace qf {

// "application/octet-stream" for an unknown or missing extension. `path` may be a Windows path.
std::string MimeTypeFor(std::string_view path);

}  // namespace qf
