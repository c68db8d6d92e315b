#include "http/answerhead.h"

#include <algorithm>
#include <cstring>
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

// The Date field of an answer changes once a second: each thread writes it once a second and keeps it.
std::string_view DateNow() {
  struct Kept {
    std::time_t second = -1;
    char text[32] = {};
    std::size_t size = 0;
  };
  thread_local Kept kept;  // trivially destructible: a thread that ends has nothing of it to destroy
  std::time_t now = std::time(nullptr);
  if (now != kept.second) {
    std::string text = HttpDate(now);
    kept.size = std::min(text.size(), sizeof kept.text);
    std::memcpy(kept.text, text.data(), kept.size);
    kept.second = now;
  }
  return {kept.text, kept.size};
}

}  // namespace

std::string HttpDate(std::time_t time) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &time);
#else
  gmtime_r(&time, &parts);
#endif
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
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
