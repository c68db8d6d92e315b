#pragma once
// One query of the player's media library: sent when made, its results released exactly once when it
// goes. Results live in the player's memory and are read through the records of its interface.
//
// A result set can be the whole library (tens of megabytes for a large one), and the player's thread
// answers one query after the other anyway: at most kHeldAtOnce queries of the process that may return
// more than kFewResults hold results at a time, and the others wait their turn before they ask (a query
// made while the same thread holds one, from an item template, never waits).

#include <optional>
#include <string>
#include <string_view>

#include "player/host_interface.h"

namespace qf {

class TPlayer;

class MediaLibraryQuery {
 public:
  static constexpr int kHeldAtOnce = 2;
  static constexpr int kFewResults = 100;

  enum class Kind { Query, Search };  // ML_IPC_DB_RUNQUERY, ML_IPC_DB_RUNQUERY_SEARCH

  // Without a media-library window the query has no results.
  MediaLibraryQuery(TPlayer& player, Kind kind, const std::string& text, int maxResults = 50000);
  ~MediaLibraryQuery();
  MediaLibraryQuery(const MediaLibraryQuery&) = delete;
  MediaLibraryQuery& operator=(const MediaLibraryQuery&) = delete;

  int Size() const { return record_.results.Items ? record_.results.Size : 0; }
  const host::itemRecord& operator[](int index) const { return record_.results.Items[index]; }

  // The value of an item's extended field `name` (compared without regard to case), if it has one.
  static std::optional<std::string> Extended(const host::itemRecord& item, std::string_view name);
  // A text field of an item, empty for a null pointer.
  static std::string Text(const char* field) { return field ? std::string(field) : std::string(); }

 private:
  class Turn {  // a place among the queries holding results
   public:
    explicit Turn(bool needed);
    ~Turn();
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    bool needed_ = false;
    bool counted_ = false;
  };

  Turn turn_;
  platform::HWND window_ = nullptr;
  std::string text_;
  host::mlQueryStruct record_{};
};

}  // namespace qf
