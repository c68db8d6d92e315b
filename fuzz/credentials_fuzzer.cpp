// libFuzzer target: Base64 (src/core/dimime.*), the Basic credentials of an Authorization header
// (ReadCredentials, src/http/request.*) and the logins of user.ini built on Base64 (src/settings/users.*).
//
// Input: any text, taken as an Authorization header value, as Base64 text and as bytes to encode.
//
// Oracles: decoding takes 6 bits of every alphabet character before the first "=" and nothing else;
// encoding writes only the alphabet and padding, four characters per three bytes, and decodes back to
// the bytes; the credentials of "Basic " and the encoding of "name:password" are name and password
// (the name up to the first ":"); a header that is not Basic, or whose text holds no ":", gives none; a
// login of user.ini decodes back to its name and password.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/dimime.h"
#include "fuzzing.h"
#include "http/request.h"
#include "settings/users.h"

namespace {

bool InAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = qffuzz::Text(data, size);

  std::size_t symbols = 0;
  for (char c : text.substr(0, text.find('='))) symbols += InAlphabet(c);
  std::string decoded = qf::MimeDecodeString(text);
  QF_FUZZ_CHECK(decoded.size() == symbols * 6 / 8);

  std::string encoded = qf::MimeEncodeString(text);
  QF_FUZZ_CHECK(encoded.size() == (text.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < encoded.size(); ++i)
    QF_FUZZ_CHECK(InAlphabet(encoded[i]) || (encoded[i] == '=' && i + 2 >= encoded.size()));
  QF_FUZZ_CHECK(qf::MimeDecodeString(encoded) == text);

  qf::TRequest request;
  qf::ReadCredentials(text, request);
  std::size_t blank = text.find(' ');
  bool basic = blank == 5;
  for (std::size_t i = 0; basic && i < 5; ++i) basic = (text[i] | 0x20) == "basic"[i];
  std::string credentials = basic ? qf::MimeDecodeString(text.substr(blank + 1)) : std::string();
  std::size_t separator = credentials.find(':');
  if (basic && separator != std::string::npos) {
    QF_FUZZ_CHECK(request.AuthUsername == credentials.substr(0, separator));
    QF_FUZZ_CHECK(request.AuthPassword == credentials.substr(separator + 1));
  } else {
    QF_FUZZ_CHECK(request.AuthUsername.empty() && request.AuthPassword.empty());
  }

  qf::TRequest basicRequest;
  qf::ReadCredentials("Basic " + encoded, basicRequest);
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    QF_FUZZ_CHECK(basicRequest.AuthUsername.empty() && basicRequest.AuthPassword.empty());
  } else {
    QF_FUZZ_CHECK(basicRequest.AuthUsername == text.substr(0, colon));
    QF_FUZZ_CHECK(basicRequest.AuthPassword == text.substr(colon + 1));
  }

  // A login of user.ini: the name never holds the separator 0xB7, the password may.
  std::string name(text.substr(0, text.find('\xB7')));
  std::string password(text.substr(name.size() < text.size() ? name.size() + 1 : name.size()));
  std::string login, secret;
  qf::DecodeLogin(qf::EncodeLogin(name, password), &login, &secret);
  QF_FUZZ_CHECK(login == name && secret == password);
  return 0;
}
