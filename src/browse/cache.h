#pragma once
// TCache: the file cache thread. It keeps the core object's FileCache, the full paths of the playable
// files under the global root folder and the additional folders, and rebuilds it whenever
// CacheRefreshPending is set (at load, by the timer's period, by "refresh now").
//
// A rebuild fills a new list and swaps it in at the end: a search never sees half a cache, and a reader
// keeps the snapshot it took. A request made while a rebuild runs is absorbed by it.
//
// The owner (the main form) creates it with the core object it borrows, starts it before the settings
// are loaded, and destroys it (or calls Stop) before the core object goes: from Stop's return on the
// thread no longer touches the core object.

#include <functional>
#include <string>

#include "core/text.h"
#include "platform/system.h"

namespace qf {

class TQuenforth;
class ExtensionMatcher;

// Appends to `files` the playable files under `folder`, depth-first: for each subfolder in the order the
// file system lists them (hidden ones included), its own files first; then the folder's files grouped by
// extension in the matcher's list order. Links to folders (symbolic links, junctions, mount points) are
// never followed; folders that cannot be read add nothing. `stopRequested` is asked before each subfolder;
// false when it said stop, with `files` holding what was found until then.
bool ScanFolder(const std::string& folder, const ExtensionMatcher& matcher, const std::function<bool()>& stopRequested,
                PackedTextList& files);

class TCache {
 public:
  explicit TCache(TQuenforth& core);
  // Stops the thread if it runs.
  ~TCache();
  TCache(const TCache&) = delete;
  TCache& operator=(const TCache&) = delete;

  // Starts the thread at idle priority. It looks for CacheRefreshPending once a second.
  void Start();
  // Asks the thread to stop and waits for it; a rebuild in progress ends at the next folder, its list is
  // dropped. Callable more than once; the cache cannot be started again.
  void Stop();

  // One rebuild on the calling thread (the thread's body; tests call it directly): the root folder and
  // the additional folders of the current settings, with the current extensions, then the swap, then
  // CacheRefreshPending cleared and CacheAgeTicks 0. False, with nothing changed, when Stop came first.
  bool Rebuild();

 private:
  void Execute();

  TQuenforth& core_;
  platform::StopSignal stop_;
  platform::Thread thread_;
};

}  // namespace qf
