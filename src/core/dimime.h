#pragma once
// Base64 with the standard alphabet and "=" padding (RFC 2045), as user.ini stores logins.

#include <string>
#include <string_view>

namespace qf {

// Encodes without line breaks.
std::string MimeEncodeString(std::string_view bytes);
// Decodes, skipping line breaks, blanks and any other byte outside the alphabet; stops at "=".
std::string MimeDecodeString(std::string_view text);

}  // namespace qf
