#pragma once
// The status line and header block of the server's answers, and the answers it makes on its own.

#include <cstdint>
#include <ctime>
#include <string>

namespace qf {

struct Head {
  int status = 200;
  std::string contentType = "text/html";
  std::uint64_t contentLength = 0;
  std::string extra;  // further header lines, each ending in CR LF
  bool keepAlive = false;
  bool http10 = false;
};

// The status line and header fields, up to and including the blank line.
std::string FormatHead(const Head& head);
// The time as an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDate(std::time_t time);
// The page the server sends when the handler set no text of its own.
std::string DefaultPage(int status);
// The whole answer to a refused or broken request, sent before closing.
std::string RefusalText(int status);

}  // namespace qf
