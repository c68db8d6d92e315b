#pragma once
// One query of the player's media library: sent when made, its results released exactly once when the
// last query sharing them goes. Results live in the player's memory and are read through the records of
// its interface.
//
// A result set can be the whole library (tens of megabytes for a large one), and the player's thread
// answers one query after the other anyway: at most kHeldAtOnce result sets of queries that may return
// more than kFewResults are held at a time in the process, and such a query waits its turn before it
// asks (a query made while the same thread holds one, from an item template, never waits). Queries that
// wait for their turn with the same text share one result set: it is asked for when they have all been
// made, so each sees the library as it was after it was made, and a household's phones showing the same
// library page at once cost the player one search instead of one each.

#include <memory>
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

  int Size() const;
  const host::itemRecord& operator[](int index) const;

  // The value of an item's extended field `name` (compared without regard to case), if it has one.
  static std::optional<std::string> Extended(const host::itemRecord& item, std::string_view name);
  // A text field of an item, empty for a null pointer.
  static std::string Text(const char* field) { return field ? std::string(field) : std::string(); }

  // For tests: the large queries of the process that wait for their turn or for a result set they share.
  static int Waiting();

  class ResultSet;

 private:
  // This thread's count of the large result sets it holds, for as long as the query lives.
  class LargeSetOfThisThread {
   public:
    LargeSetOfThisThread() = default;
    ~LargeSetOfThisThread();
    LargeSetOfThisThread(const LargeSetOfThisThread&) = delete;
    LargeSetOfThisThread& operator=(const LargeSetOfThisThread&) = delete;
    // Counts this one; true when the thread held one already (the query is nested in another).
    bool Take();

   private:
    bool taken_ = false;
  };

  LargeSetOfThisThread large_;
  std::shared_ptr<const ResultSet> results_;
};

}  // namespace qf
