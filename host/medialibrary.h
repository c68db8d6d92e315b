#pragma once
// The stand-in player's media library: the playable files under its library folders with their tags,
// play counts and ratings, a plain-text search, a query language, and the result records of the
// player's media-library interface.
//
// Query language (field names and keywords without regard to case):
//   comparison   FIELD OP VALUE, OP one of = == != < <= > >= HAS NOTHAS BEGINS ENDS
//   combination  a && b, a || b (also AND, OR), !a (also NOT), parentheses
//   values       "a quoted text" (no escapes: paths keep their backslashes) or a bare word
//   fields       text: filename title artist album genre comment
//                numbers: year track length (seconds) filesize (KB) playcount rating lastplay type
// Text comparisons ignore letter case; HAS, NOTHAS, BEGINS and ENDS work on the text of number fields
// too. An empty query, and a dangling "&&" at its end, match every item. A query that cannot be parsed
// matches nothing.
//
// Not thread-safe: the player's thread owns it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/text.h"
#include "metadata.h"
#include "player/host_interface.h"

namespace host {

// A text of an item: in an item the library holds, a view of the library's store, valid as long as the
// library and the item are unchanged; in an item given to Add, a view of the caller's text, which Add
// copies. It cannot be set from a temporary string, which would be gone before Add saw it.
class LibraryText : public std::string_view {
 public:
  LibraryText() = default;
  LibraryText(const char* text) : std::string_view(text) {}
  LibraryText(std::string_view text) : std::string_view(text) {}
  LibraryText(const std::string& text) : std::string_view(text) {}
  LibraryText(std::string&&) = delete;
};

struct LibraryItem {
  LibraryText filename;
  LibraryText title, artist, album, genre, comment;
  int year = -1;
  int track = -1;
  int length = -1;            // seconds
  std::int64_t fileSize = 0;  // bytes
  int playCount = 0;
  int rating = 0;               // 0 (none) .. 5
  std::int64_t lastPlayed = 0;  // seconds since 1970, 0 when never played
  int type = 0;                 // 0 audio, 1 video
};

class MediaLibrary {
 public:
  // Adds every file below `folders` (Windows paths, searched recursively) whose extension is one of
  // `extensions` (without dot, any case). Items are kept sorted by file name. `read` gives a file's tags
  // and properties: the stand-in passes its own cache, so that a playlist of library files is not read twice.
  // An entry of `folders` that names a file is read with Load instead: tests describe a library's records
  // that way, with fields no real file would have.
  using MetadataReader = std::function<const Metadata&(const std::string&)>;
  void Scan(const std::vector<std::string>& folders, const std::vector<std::string>& extensions,
            const MetadataReader& read);
  MediaLibrary() = default;
  MediaLibrary(MediaLibrary&&) = default;
  MediaLibrary& operator=(MediaLibrary&&) = default;
  MediaLibrary(const MediaLibrary&) = delete;  // its items point into its store
  MediaLibrary& operator=(const MediaLibrary&) = delete;

  void Add(LibraryItem item);
  // Adds records from a description: one record per line, its fields separated by tabs, each field
  // NAME=VALUE with the query language's field names and units (filesize in KB). Lines that are empty or
  // begin with "#", fields with names it does not know and records without a filename are skipped;
  // a number that cannot be read leaves the field's default. Answers the number of records added.
  std::size_t Load(std::string_view description);
  const std::vector<LibraryItem>& Items() const { return items_; }
  // The item may be changed through the pointer until the next call of a member; a text set that way must
  // stay valid as long as the library (Update copies its texts).
  LibraryItem* Find(std::string_view filename);

  // A file was played to its end at `now` (seconds since 1970).
  void CountPlay(std::string_view filename, std::int64_t now);

  // Items whose file name, title, artist, album or genre contains `text`, without regard to case.
  std::vector<const LibraryItem*> Search(std::string_view text) const;
  // Items the query matches; empty when the query cannot be parsed.
  std::optional<std::vector<const LibraryItem*>> Query(std::string_view query) const;

  // Fills the record's result list with copies of at most max_results items, all in one heap block;
  // Release frees it.
  static void Fill(qf::host::mlQueryStruct& query, const std::vector<const LibraryItem*>& items);
  static void Release(qf::host::mlQueryStruct& query);
  // Applies the fields an update record carries (texts that are set, numbers above 0, the extended
  // fields RATING, PLAYCOUNT and LASTPLAY) to the item with its file name. False when there is none.
  bool Update(const qf::host::itemRecord& record);

 private:
  const LibraryItem* FindItem(std::string_view filename) const;
  // Copies the item's texts into the store and points them there.
  void Keep(LibraryItem& item);
  void Replace(LibraryText& field, const char* text);
  // Copies the texts of all items anew, in the items' order: after a scan sorts them, and once replaced
  // texts have left as much behind as the items use.
  void Compact();

  // The items' texts, in blocks that never move. (Six strings an item, each with its own heap block,
  // took 5.6 MB more for a library of 50,000 records, and the texts of one item lay far apart: copying
  // a whole result set waited on memory at each of them.)
  class TextStore {
   public:
    TextStore() = default;
    // A store moved from is empty, and can be used again.
    TextStore(TextStore&& other) noexcept
        : blocks_(std::exchange(other.blocks_, {})),
          free_(std::exchange(other.free_, 0)),
          bytes_(std::exchange(other.bytes_, 0)) {}
    TextStore& operator=(TextStore&& other) noexcept {
      blocks_ = std::exchange(other.blocks_, {});
      free_ = std::exchange(other.free_, 0);
      bytes_ = std::exchange(other.bytes_, 0);
      return *this;
    }

    std::string_view Copy(std::string_view text);
    std::size_t Bytes() const { return bytes_; }

   private:
    static constexpr std::size_t kBlock = 256 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t free_ = 0;  // bytes left at the end of the last block
    std::size_t bytes_ = 0;
  };

  std::vector<LibraryItem> items_;
  TextStore texts_;
  std::size_t replacedBytes_ = 0;  // of texts in texts_ no item uses any more
  // For Search: each item's searched texts in lower case, NUL between them, made again after a change.
  // (Asked of all 50,000 items of a library at once, case-blind searching field by field was most of
  // what a search cost.)
  // One block for all of them: a string each took half as much again in headers and growth.
  mutable qf::PackedTextList folded_;
  mutable bool foldedStale_ = true;
};

}  // namespace host
