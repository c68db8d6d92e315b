#include "http/mimetable.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/text.h"

namespace qf {
namespace {

// Sorted by extension for binary search.
constexpr std::array<std::pair<std::string_view, std::string_view>, 43> kTypes{{
    {"aac", "audio/aac"},         {"aif", "audio/x-aiff"},    {"aiff", "audio/x-aiff"},
    {"avi", "video/x-msvideo"},   {"bmp", "image/bmp"},       {"css", "text/css"},
    {"csv", "text/csv"},          {"flac", "audio/flac"},     {"gif", "image/gif"},
    {"htm", "text/html"},         {"html", "text/html"},      {"ico", "image/x-icon"},
    {"jpeg", "image/jpeg"},       {"jpg", "image/jpeg"},      {"js", "text/javascript"},
    {"json", "application/json"}, {"m3u", "audio/x-mpegurl"}, {"m3u8", "application/vnd.apple.mpegurl"},
    {"m4a", "audio/mp4"},         {"mid", "audio/midi"},      {"midi", "audio/midi"},
    {"mp2", "audio/mpeg"},        {"mp3", "audio/mpeg"},      {"mp4", "video/mp4"},
    {"mpeg", "video/mpeg"},       {"mpg", "video/mpeg"},      {"oga", "audio/ogg"},
    {"ogg", "audio/ogg"},         {"opus", "audio/ogg"},      {"pdf", "application/pdf"},
    {"pls", "audio/x-scpls"},     {"png", "image/png"},       {"svg", "image/svg+xml"},
    {"ttf", "font/ttf"},          {"txt", "text/plain"},      {"wav", "audio/wav"},
    {"webm", "video/webm"},       {"webp", "image/webp"},     {"wma", "audio/x-ms-wma"},
    {"woff", "font/woff"},        {"woff2", "font/woff2"},    {"xml", "text/xml"},
    {"zip", "application/zip"},
}};

}  // namespace

std::string MimeTypeFor(std::string_view path) {
  std::size_t dot = path.rfind('.');
  std::size_t slash = path.find_last_of("\\/");
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return "application/octet-stream";
  std::string extension = LowerCase(path.substr(dot + 1));
  auto found = std::lower_bound(kTypes.begin(), kTypes.end(), extension,
                                [](const auto& entry, const std::string& key) { return entry.first < key; });
  if (found == kTypes.end() || found->first != extension) return "application/octet-stream";
  return std::string(found->second);
}

}  // namespace qf
