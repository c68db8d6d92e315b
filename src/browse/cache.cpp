#include "browse/cache.h"

#include <chrono>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "browse/extensionmatcher.h"
#include "core/quenforth.h"
#include "platform/files.h"

namespace qf {
namespace {

constexpr std::chrono::milliseconds kPollInterval{1000};
// Each folder's pending entries live on a heap stack, not the thread's: a deep tree needs no deep stack.
constexpr std::size_t kStackBytes = 64 * 1024;

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;  // "D:\"
  return folder + "\\" + name;
}

struct Folder {
  std::string path;
  std::vector<std::string> subfolders;  // names, in the order the file system lists them
  std::size_t next = 0;                 // the first subfolder not yet scanned
  std::vector<std::string> files;       // full paths, grouped by extension
};

// One enumeration of the folder gives both its subfolders and its playable files.
Folder Read(std::string path, const ExtensionMatcher& matcher) {
  Folder folder{std::move(path), {}, 0, {}};
  std::vector<std::string> names;
  for (platform::FindData& entry : platform::FindFiles(Join(folder.path, "*"))) {
    if (entry.info.IsDirectory()) {
      // A link back into the tree would make the walk endless.
      if (entry.name == "." || entry.name == ".." || entry.info.IsLink()) continue;
      folder.subfolders.push_back(std::move(entry.name));
    } else {
      names.push_back(std::move(entry.name));
    }
  }
  folder.files = matcher.Group(names);
  for (std::string& name : folder.files) name = Join(folder.path, name);
  return folder;
}

}  // namespace

bool ScanFolder(const std::string& folder, const ExtensionMatcher& matcher, const std::function<bool()>& stopRequested,
                PackedTextList& files) {
  // An empty folder text would name the current drive's root on Windows, not nothing.
  if (Trim(folder).empty() || matcher.size() == 0) return true;
  std::vector<Folder> pending;
  pending.push_back(Read(folder, matcher));
  while (!pending.empty()) {
    Folder& top = pending.back();
    if (top.next < top.subfolders.size()) {
      if (stopRequested()) return false;
      std::string child = Join(top.path, top.subfolders[top.next++]);
      pending.push_back(Read(std::move(child), matcher));  // `top` is not used past this point
    } else {
      for (const std::string& file : top.files) files.push_back(file);
      pending.pop_back();
    }
  }
  return true;
}

TCache::TCache(TQuenforth& core) : core_(core) {}

TCache::~TCache() { Stop(); }

void TCache::Start() {
  thread_ = platform::Thread::Start(
      kStackBytes, [this] { Execute(); }, platform::Thread::Priority::Idle);
}

void TCache::Stop() {
  stop_.Request();
  thread_.Join();
}

bool TCache::Rebuild() {
  Snapshot<Settings> settings = core_.CurrentSettings.Get();
  Snapshot<SortedTextList> extensions = core_.MusicExtensions.Get();
  const ExtensionMatcher matcher(extensions->Items());
  auto stopRequested = [this] { return stop_.Requested(); };
  auto files = std::make_shared<PackedTextList>();
  if (!ScanFolder(settings->RootDirectory, matcher, stopRequested, *files)) return false;
  for (const std::string& folder : settings->AdditionalFolders)
    if (!ScanFolder(folder, matcher, stopRequested, *files)) return false;
  files->shrink_to_fit();
  core_.FileCache.Set(std::move(files));
  core_.CacheRefreshPending = false;
  core_.CacheAgeTicks = 0;
  return true;
}

void TCache::Execute() {
  while (!stop_.Requested()) {
    if (!core_.CacheRefreshPending) {
      stop_.WaitFor(kPollInterval);
      continue;
    }
    try {
      Rebuild();
    } catch (const std::exception&) {
      // Out of memory for the list: the old cache stays, and the request is dropped rather than retried
      // at once for ever; the next period asks again.
      core_.CacheRefreshPending = false;
      core_.CacheAgeTicks = 0;
    }
  }
}

}  // namespace qf
