#include "http/answerhead.h"

#include <string_view>

#include "http/server.h"

namespace qf {

namespace {

const char* Reason(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return status < 400 ? "OK" : "Error";
  }
}

// An HTTP date, kept with the time it was written from. Trivially destructible, so that a thread-local
// one leaves nothing to destroy when a thread of the player's ends.
struct FormattedDate {
  bool set = false;
  std::time_t time = 0;
  char text[64] = {};
  std::size_t size = 0;

  std::string_view Of(std::time_t of) {
    if (!set || of != time) {
      std::tm parts{};
#ifdef _WIN32
      gmtime_s(&parts, &of);
#else
      gmtime_r(&of, &parts);
#endif
      size = std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
      time = of;
      set = true;
    }
    return {text, size};
  }
};

// The Date field of an answer changes once a second: each thread writes it once a second and keeps it.
std::string_view DateNow() {
  thread_local FormattedDate now;
  return now.Of(std::time(nullptr));
}

}  // namespace

// A file's Last-Modified is asked for again and again while one file is requested.
std::string HttpDate(std::time_t time) {
  thread_local FormattedDate last;
  return std::string(last.Of(time));
}

std::string DefaultPage(int status) {
  std::string title = std::to_string(status) + " " + Reason(status);
  return "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>";
}

std::string FormatHead(const Head& head) {
  std::string text;
  text.reserve(256 + head.extra.size());
  text += "HTTP/1.1 ";
  text += std::to_string(head.status);
  text += ' ';
  text += Reason(head.status);
  text += "\r\nServer: ";
  text += kServerSoftware;
  text += "\r\nDate: ";
  text += DateNow();
  if (!head.contentType.empty()) {
    text += "\r\nContent-Type: ";
    text += head.contentType;
  }
  text += "\r\nContent-Length: ";
  text += std::to_string(head.contentLength);
  text += "\r\n";
  text += head.extra;
  if (!head.keepAlive)
    text += "Connection: close\r\n";
  else if (head.http10)
    text += "Connection: keep-alive\r\n";
  text += "\r\n";
  return text;
}

std::string RefusalText(int status) {
  Head head;
  head.status = status;
  std::string page = DefaultPage(status);
  head.contentLength = page.size();
  if (status == 405) head.extra = "Allow: GET, POST, HEAD\r\n";
  return FormatHead(head) + page;
}

}  // namespace qf
