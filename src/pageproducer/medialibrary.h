#pragma once
// The media-library listing's arithmetic and formats, apart from the tags that use them so that they can
// be checked on their own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "player/host_interface.h"

namespace qf {

struct SessionData;

// The records [start, end) of a result list of `count` records that one `medialibrary` tag shows, and
// the page count it reports. When `failed`, the tag shows nothing at all; `pages` is what it had reported
// up to that point. A window whose end lies before its start shows nothing.
struct MediaLibraryWindow {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::int32_t pages = 1;
  bool failed = false;
};

// `length` and `offset` are the tag's parameters and `page` the request's page number, each empty when
// not given. Numbers beyond the 32-bit range count as its nearest end, so a huge page number is a page
// past the last one and not the first.
MediaLibraryWindow ChooseMediaLibraryWindow(std::int64_t count, std::string_view length, std::string_view offset,
                                            std::string_view page);

// A decimal integer (optional sign, digits, nothing else) limited to the 32-bit range; none when the text
// is not one.
std::optional<std::int32_t> ReadClampedNumber(std::string_view text);

// Sets the session's current-item fields from one result record.
void SetMediaLibraryItem(SessionData& session, const host::itemRecord& record, std::int32_t index);

// The C library's ctime text of a moment (seconds since 1970) in local time: 24 characters and a line
// feed. Empty when the moment cannot be converted.
std::string CTimeText(std::int64_t seconds);

}  // namespace qf
