// The player's media library: the `medialibrary` list tag, which sends one query or search and lists a
// window of its results, the item tags of one result, and the tags of the search inputs and page numbers.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "browse/folders.h"
#include "browse/listing.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "core/settingsdata.h"
#include "core/text.h"
#include "pageproducer/medialibrary.h"
#include "pageproducer/tags.h"
#include "platform/system.h"
#include "player/mlquery.h"

namespace qf {

namespace {

// Every query asks for this many records at most; the window is cut out of them here.
constexpr int kMaxResults = 50000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal integer of any size, saturated at the ends of the 64-bit range.
std::optional<std::int64_t> ReadWideNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    int digit = c - '0';
    if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10)
      return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

std::int32_t Clamp32(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

std::int32_t ExtendedNumber(const host::itemRecord& record, std::string_view name) {
  return ParseInt(MediaLibraryQuery::Extended(record, name).value_or("")).value_or(0);
}

}  // namespace

std::optional<std::int32_t> ReadClampedNumber(std::string_view text) {
  std::optional<std::int64_t> wide = ReadWideNumber(text);
  if (!wide) return std::nullopt;
  return Clamp32(*wide);
}

MediaLibraryWindow ChooseMediaLibraryWindow(std::int64_t count, std::string_view length, std::string_view offset,
                                            std::string_view page) {
  MediaLibraryWindow window;
  if (length.empty()) {
    window.end = count;
    return window;
  }
  // One reading of `length` with three defaults: the page size (0), the divisor of the page count (1)
  // and the window's size (50000). Every product and difference below fits 64 bits.
  std::optional<std::int32_t> given = ReadClampedNumber(length);
  std::int64_t divisor = given.value_or(1);
  if (divisor == 0) {
    window.failed = true;
    return window;
  }
  window.pages = Clamp32(count / divisor + 1);
  std::int64_t pageSize = given.value_or(0);
  std::int64_t size = given.value_or(kMaxResults);
  std::int64_t start;
  if (!page.empty()) {
    start = std::min(pageSize * ReadClampedNumber(page).value_or(0), count - size);
  } else if (!offset.empty()) {
    start = std::min<std::int64_t>(ReadClampedNumber(offset).value_or(0), count - size);
  } else {
    if (!given) {
      window.failed = true;
      return window;
    }
    start = 0;
  }
  window.start = std::max<std::int64_t>(0, start);
  window.end = std::min(size + window.start, count);
  return window;
}

void SetMediaLibraryItem(SessionData& session, const host::itemRecord& record, std::int32_t index) {
  session.ItemIndex = index;
  session.ItemPath = MediaLibraryQuery::Text(record.filename);
  session.ItemTitle = MediaLibraryQuery::Text(record.title);
  session.ItemArtist = MediaLibraryQuery::Text(record.artist);
  session.ItemGenre = MediaLibraryQuery::Text(record.genre);
  session.ItemAlbum = MediaLibraryQuery::Text(record.album);
  session.ItemSeconds = record.length;
  session.ItemTrack = record.track;
  session.ItemYear = record.year;
  // Kilobytes from the library; kept in 64 bits so that files past 2 GiB keep their size.
  constexpr std::int64_t kMaxKilobytes = std::numeric_limits<std::int64_t>::max() / 1024;
  std::int64_t kilobytes = ReadWideNumber(MediaLibraryQuery::Extended(record, "FILESIZE").value_or("")).value_or(0);
  session.ItemFileSize = std::clamp(kilobytes, -kMaxKilobytes, kMaxKilobytes) * 1024;
  session.ItemPlayCount = ExtendedNumber(record, "PLAYCOUNT");
  session.ItemRating = ExtendedNumber(record, "RATING");
  session.ItemLastPlayed = ReadWideNumber(MediaLibraryQuery::Extended(record, "LASTPLAY").value_or("")).value_or(0);
}

std::string CTimeText(std::int64_t seconds) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  platform::SYSTEMTIME local;
  if (!platform::LocalTimeOfUnixTime(seconds, &local)) return std::string();
  if (local.wDayOfWeek < 0 || local.wDayOfWeek > 6 || local.wMonth < 1 || local.wMonth > 12) return std::string();
  return Format("%.3s %.3s%3d %.2d:%.2d:%.2d %d\n", kDays[local.wDayOfWeek], kMonths[local.wMonth - 1], local.wDay,
                local.wHour, local.wMinute, local.wSecond, local.wYear);
}

namespace {

void MediaLibrary(Tag& tag) {
  SessionData& session = tag.Session();
  std::string text;
  if (tag.Given("basequery")) text = tag.Param("basequery") + " && ";
  text += session.MediaLibraryQuery;
  bool search = !session.MediaLibrarySearch.empty();
  // Sent now, released when `results` goes, however the tag ends.
  MediaLibraryQuery results(tag.Player(), search ? MediaLibraryQuery::Kind::Search : MediaLibraryQuery::Kind::Query,
                            search ? session.MediaLibrarySearch : text, kMaxResults);
  ListTemplates templates(tag);
  int count = results.Size();
  if (count < 1) return templates.AppendEmpty();
  session.MediaLibraryResults = count;
  if (!templates.LoadItemTemplate()) return;
  session.MediaLibraryPages = 1;
  MediaLibraryWindow window =
      ChooseMediaLibraryWindow(count, tag.Param("length"), tag.Param("offset"), session.MediaLibraryPage);
  session.MediaLibraryPages = window.pages;
  if (window.failed) return;
  for (std::int64_t at = window.start; at < window.end; ++at) {  // 0 <= start, end <= count
    int i = static_cast<int>(at);
    SetMediaLibraryItem(session, results[i], i);
    templates.AppendItem();
  }
}

void Query(Tag& tag) { tag.Write(tag.Session().MediaLibraryQuery, kTextOptions); }
void SearchText(Tag& tag) { tag.Write(tag.Session().MediaLibrarySearch, kTextOptions); }
void Page(Tag& tag) {
  tag.Write(std::to_string(ReadClampedNumber(tag.Session().MediaLibraryPage).value_or(0)), kTextOptions);
}
void Pages(Tag& tag) { tag.Write(std::to_string(tag.Session().MediaLibraryPages), kTextOptions); }
void Results(Tag& tag) { tag.Write(std::to_string(tag.Session().MediaLibraryResults), kTextOptions); }

void Artist(Tag& tag) { tag.Write(tag.Session().ItemArtist, kTextOptions); }
void Title(Tag& tag) { tag.Write(tag.Session().ItemTitle, kTextOptions); }
void Genre(Tag& tag) { tag.Write(tag.Session().ItemGenre, kTextOptions); }
void Album(Tag& tag) { tag.Write(tag.Session().ItemAlbum, kTextOptions); }
void FileName(Tag& tag) { tag.Write(tag.Session().ItemPath, kTextOptions); }
// The value the `file` and `download` commands take back, as for the folder browser's file entries.
void FormFile(Tag& tag) {
  tag.Write(FileFormValue(tag.Core(), tag.User(), tag.Session(), tag.Session().ItemPath), kUrlEncoded | kEscape);
}

void LengthMin(Tag& tag) { tag.output = std::to_string(tag.Session().ItemSeconds / 60); }
void LengthSec(Tag& tag) { tag.output = Format("%02d", tag.Session().ItemSeconds % 60); }

std::string Positive(std::int32_t value) { return value < 1 ? std::string() : std::to_string(value); }
void TrackNumber(Tag& tag) { tag.output = Positive(tag.Session().ItemTrack); }
void Year(Tag& tag) { tag.output = Positive(tag.Session().ItemYear); }
void Rating(Tag& tag) { tag.output = Positive(tag.Session().ItemRating); }
void PlayCount(Tag& tag) { tag.output = Positive(tag.Session().ItemPlayCount); }

void LastPlayed(Tag& tag) {
  std::int64_t seconds = tag.Session().ItemLastPlayed;
  tag.Write(seconds < 1 ? std::string() : CTimeText(seconds), kUrlEncoded | kEscape);
}

void FileSize(Tag& tag) { tag.Write(MebibyteText(tag.Session().ItemFileSize), kUrlEncoded); }

}  // namespace

void AddMediaLibraryTags(TagTable& table) {
  table["medialibrary"] = MediaLibrary;
  table["query"] = Query;
  table["search_ml"] = SearchText;
  table["ml_page"] = Page;
  table["ml_pages"] = Pages;
  table["ml_results"] = Results;
  table["medialibrary_artist"] = Artist;
  table["medialibrary_title"] = Title;
  table["medialibrary_genre"] = Genre;
  table["medialibrary_album"] = Album;
  table["medialibrary_songlengthmin"] = LengthMin;
  table["medialibrary_songlengthsec"] = LengthSec;
  table["medialibrary_tracknumber"] = TrackNumber;
  table["medialibrary_year"] = Year;
  table["medialibrary_rating"] = Rating;
  table["medialibrary_playcount"] = PlayCount;
  table["medialibrary_lastplayed"] = LastPlayed;
  table["medialibrary_filename"] = FileName;
  table["medialibrary_form_filename"] = FormFile;
  table["medialibrary_filesize"] = FileSize;
}

}  // namespace qf
