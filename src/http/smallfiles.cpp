#include "http/smallfiles.h"

namespace qf {

std::optional<SmallFiles::Kept> SmallFiles::Find(const std::string& path) {
  Entry entry;
  {
    std::lock_guard guard(lock_);
    auto found = entries_.find(path);
    if (found == entries_.end()) return std::nullopt;
    entry = found->second;
  }
  std::optional<platform::FileInfo> now = platform::GetFileInfo(path);
  if (now && !now->IsDirectory() && now->version == entry.version && now->size == entry.content->size())
    return Kept{*now, std::move(entry.content)};
  std::lock_guard guard(lock_);
  auto found = entries_.find(path);
  if (found != entries_.end() && found->second.version == entry.version) {
    bytes_ -= found->first.size() + found->second.content->size();
    entries_.erase(found);
  }
  return std::nullopt;
}

void SmallFiles::Keep(const std::string& path, const platform::FileInfo& info, std::string_view content,
                      std::time_t now) {
  if (content.size() > fileBytes_ || content.size() != info.size || info.lastWriteTime > now - 2) return;
  auto kept = std::make_shared<const std::string>(content);
  std::lock_guard guard(lock_);
  auto found = entries_.find(path);
  if (found != entries_.end()) {
    bytes_ -= found->first.size() + found->second.content->size();
    entries_.erase(found);
  }
  const std::size_t cost = path.size() + content.size();
  if (cost > totalBytes_) return;
  // Full: start again. The files a skin's pages use come back with their next requests; a client that
  // asks for ever other files only ever costs the limit.
  if (bytes_ + cost > totalBytes_) {
    entries_.clear();
    bytes_ = 0;
  }
  entries_.emplace(path, Entry{info.version, std::move(kept)});
  bytes_ += cost;
}

std::size_t SmallFiles::Bytes() const {
  std::lock_guard guard(lock_);
  return bytes_;
}

}  // namespace qf
