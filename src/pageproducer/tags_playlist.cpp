// The playlist: reading the player's playlist file, the `playlist` list tag with its window around the
// current track, and the item and whole-list tags.

#include <chrono>
#include <cstdint>
#include <memory>

#include "core/quenforth.h"
#include "core/session.h"
#include "core/text.h"
#include "pageproducer/playlist.h"
#include "pageproducer/tags.h"
#include "platform/files.h"
#include "player/player.h"

namespace qf {
namespace {

// How long a page waits for the playlist read it needs before it takes the newest list there is: long
// enough for a slow read on a busy machine, short enough that a player that no longer answers does not
// hold pages for ever.
constexpr auto kReadWaitLimit = std::chrono::seconds(10);

// The next line of `text` from `at` on, without its line end (LF or CR LF); moves `at` past it.
std::string_view NextLine(std::string_view text, std::size_t& at) {
  std::size_t end = text.find('\n', at);
  if (end == std::string_view::npos) end = text.size();
  std::string_view line = text.substr(at, end - at);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  at = end + 1;
  return line;
}

// A title from a path: the file name without folder and extension; empty without an extension.
std::string TitleOf(std::string_view path) {
  std::string_view name = path.substr(path.rfind('\\') == std::string_view::npos ? 0 : path.rfind('\\') + 1);
  std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(0, dot));
}

}  // namespace

PlaylistEntryList ParsePlaylistFile(std::string_view text) {
  PlaylistEntryList entries;
  std::size_t at = 0;
  NextLine(text, at);  // the file's header
  while (at < text.size()) {
    std::string_view line = NextLine(text, at);
    PlaylistClass entry;
    if (line.find("#EXTINF:") != std::string_view::npos) {
      std::size_t comma = line.find(',');
      if (comma != std::string_view::npos) entry.DisplayTitle = line.substr(comma + 1);
      std::string seconds(line.size() > 8
                              ? line.substr(8, comma == std::string_view::npos ? std::string_view::npos : comma - 8)
                              : std::string_view());
      entry.Seconds = std::max(ParseInt(seconds).value_or(0), 0);  // streams are written with -1
      if (at >= text.size()) break;                                // an #EXTINF line without its path line
      entry.FileName = NextLine(text, at);
    } else {
      entry.FileName = line;
      entry.DisplayTitle = TitleOf(line);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

// Makes the player write its playlist file, reads it into a new entry list and swaps that in: readers of
// the old list keep it whole. Answers the new list.
Snapshot<PlaylistEntryList> ReadPlaylist(TQuenforth& core) {
  core.Player->WritePlaylist();
  std::optional<std::string> text = platform::ReadWholeFile(core.PlaylistFolder.Get() + "\\winamp.m3u");
  auto started = std::chrono::steady_clock::now();
  auto entries = std::make_shared<PlaylistEntryList>(text ? ParsePlaylistFile(*text) : PlaylistEntryList());
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  core.PlaylistReadTime = took.count() / 86400.0;
  core.PlaylistEntries.Set(entries);
  return entries;
}

Snapshot<PlaylistEntryList> ReadPlaylistShared(TQuenforth& core) {
  return core.SharePlaylistRead([&core] { return ReadPlaylist(core); }, kReadWaitLimit);
}

namespace {

// The playlist as this page shows it: read from the player by the first tag of the page that needs it
// (the list or one of the whole-list tags, whichever comes first), so that a count above the list counts
// the list below it; every later tag of the page takes the entry list as it is.
Snapshot<PlaylistEntryList> PageEntries(Tag& tag) {
  return tag.producer.FirstPlaylistRead() ? ReadPlaylistShared(tag.Core()) : tag.Core().PlaylistEntries.Get();
}

void Playlist(Tag& tag) {
  Snapshot<PlaylistEntryList> entries = PageEntries(tag);
  int count = static_cast<int>(entries->size());
  ListTemplates templates(tag);
  if (count < 1) return templates.AppendEmpty();
  if (!templates.LoadItemTemplate()) return;

  int current = tag.Player().GetListPos();
  // In 64 bits: offset, length and the player's position are any 32-bit numbers, and their sums and
  // differences must not wrap.
  std::int64_t start = 0, end = count;
  if (tag.Given("length")) {
    std::optional<int> length = ParseInt(tag.Param("length"));
    std::int64_t first;
    std::int64_t window;
    if (tag.Given("offset")) {
      window = length.value_or(10000);
      std::int64_t from = std::int64_t{ParseInt(tag.Param("offset")).value_or(0)} + current;
      first = from < count - window ? from : count - window;
    } else {
      if (!length) return;  // not a number: nothing at all
      window = *length;
      first = current < count - window ? current : count - window;
    }
    start = first < 1 ? 0 : first;
    end = start + window < count ? start + window : count;
  }

  SessionData& session = tag.Session();
  const std::string& filter = session.PlaylistFilter;
  int next = tag.Player().GetNextListPos();
  for (std::int64_t at = start; at < end; ++at) {  // 0 <= start, end <= count
    int i = static_cast<int>(at);
    const PlaylistClass& entry = (*entries)[static_cast<std::size_t>(i)];
    if (!filter.empty() && !ContainsText(entry.DisplayTitle, filter)) continue;
    session.ItemPath = entry.FileName;
    session.ItemTitle = entry.DisplayTitle;
    session.ItemArtist.clear();
    session.ItemSeconds = entry.Seconds;
    session.ItemIndex = i;
    if (filter.empty() && i == current && templates.AppendOptional("highlight")) continue;
    if (filter.empty() && i == next && templates.AppendOptional("next")) continue;
    templates.AppendItem();
  }
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void Filename(Tag& tag) { tag.Write(tag.Session().ItemPath, kTextOptions); }
void Directory(Tag& tag) { tag.Write(FolderOf(tag.Session().ItemPath), kTextOptions); }
void SongTitle(Tag& tag) { tag.Write(tag.Session().ItemTitle, kTextOptions); }

void Artist(Tag& tag) {
  const std::string& title = tag.Session().ItemTitle;
  std::size_t separator = title.find(" - ");
  tag.Write(separator == std::string::npos ? std::string() : title.substr(0, separator), kTextOptions);
}

void EncSongTitle(Tag& tag) { tag.output = UrlEncode(tag.Session().ItemTitle); }
// A song id: the CRC key of the entry's file name followed by its 0-based index (TQuenforth::SongId).
void SongId(Tag& tag) {
  tag.output = tag.producer.ItemKey();
  tag.output += std::to_string(tag.Session().ItemIndex);
}

void AddedBy(Tag& tag) {
  std::optional<std::string> login = tag.producer.OwnerOf(tag.producer.ItemKey());
  std::string text = login ? *login : tag.Given("default") ? tag.Param("default") : "Admin";
  tag.Write(text, kTextOptions);
}

void Index(Tag& tag) { tag.output = std::to_string(tag.Session().ItemIndex + 1); }
void LengthMin(Tag& tag) { tag.output = std::to_string(tag.Session().ItemSeconds / 60); }
void LengthSec(Tag& tag) {
  int seconds = tag.Session().ItemSeconds % 60;
  if (seconds < 0) return void(tag.output = Format("%02d", seconds));
  const char digits[2] = {static_cast<char>('0' + seconds / 10), static_cast<char>('0' + seconds % 10)};
  tag.output = std::string_view(digits, 2);
}

// The playing time of all entries of a playlist read. A status page asks for it on every request, and
// a list of ten thousand entries is read much less often than that: each request thread remembers the
// sum of the last read it added up. The weak pointer holds that read's control block, so an equal owner
// is that very read, never a later one at the same address.
long long TotalSeconds(const Snapshot<PlaylistEntryList>& entries) {
  thread_local std::weak_ptr<const PlaylistEntryList> summed;
  thread_local long long total = 0;
  if (summed.owner_before(entries) || entries.owner_before(summed)) {
    long long seconds = 0;
    for (const PlaylistClass& entry : *entries) seconds += entry.Seconds;
    summed = entries;
    total = seconds;
  }
  return total;
}

void Length(Tag& tag) {
  const long long seconds = TotalSeconds(PageEntries(tag));
  tag.Write(Format("%2lld:%02lld:%02lld", seconds / 3600, (seconds / 60) % 60, seconds % 60), kUrlEncoded);
}

void NumTracks(Tag& tag) { tag.Write(Format("%02d", static_cast<int>(PageEntries(tag)->size())), kUrlEncoded); }

void SearchString(Tag& tag) { tag.Write(tag.Session().PlaylistFilter, kTextOptions); }

}  // namespace

void AddPlaylistTags(TagTable& table) {
  table["playlist"] = Playlist;
  table["playlist_filename"] = Filename;
  table["playlist_directory"] = Directory;
  table["playlist_title"] = SongTitle;
  table["playlist_songtitle"] = SongTitle;
  table["playlist_artist"] = Artist;
  table["playlist_enc_songtitle"] = EncSongTitle;
  table["playlist_songid"] = SongId;
  table["playlist_addedby"] = AddedBy;
  table["playlist_index"] = Index;
  table["playlist_songlengthmin"] = LengthMin;
  table["playlist_songlengthsec"] = LengthSec;
  table["playlist_length"] = Length;
  table["playlist_numtracks"] = NumTracks;
  table["search_playlist_string"] = SearchString;
}

}  // namespace qf
