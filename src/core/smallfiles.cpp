#include "core/smallfiles.h"

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
    bytes_ -= Cost(found->first, *found->second.content);
    entries_.erase(found);
  }
  return std::nullopt;
}

void SmallFiles::Keep(const std::string& path, const platform::FileInfo& info, std::string_view content,
                      std::time_t now) {
  if (Keeps(info, content.size(), now)) Store(path, info, std::make_shared<const std::string>(content));
}

bool SmallFiles::Keeps(const platform::FileInfo& info, std::size_t length, std::time_t now) const {
  return length <= fileBytes_ && length == info.size && info.lastWriteTime <= now - 2;
}

void SmallFiles::Store(const std::string& path, const platform::FileInfo& info,
                       std::shared_ptr<const std::string> content) {
  std::lock_guard guard(lock_);
  auto found = entries_.find(path);
  if (found != entries_.end()) {
    bytes_ -= Cost(found->first, *found->second.content);
    entries_.erase(found);
  }
  const std::size_t cost = Cost(path, *content);
  if (cost > totalBytes_) return;
  // Full: start again. The files a skin's pages use come back with their next requests; a client that
  // asks for ever other files only ever costs the limit.
  if (bytes_ + cost > totalBytes_) {
    entries_.clear();
    bytes_ = 0;
  }
  entries_.emplace(path, Entry{info.version, std::move(content)});
  bytes_ += cost;
}

std::shared_ptr<const std::string> SmallFiles::Read(const std::string& path) {
  if (std::optional<Kept> kept = Find(path)) return std::move(kept->content);
  platform::File file = platform::File::Open(path, platform::File::Mode::Read);
  std::optional<platform::FileInfo> info = file.IsOpen() ? file.Info() : std::nullopt;
  if (!info || info->IsDirectory()) return nullptr;
  std::optional<std::string> contents = platform::ReadToEnd(file, info->size);
  if (!contents) return nullptr;
  auto shared = std::make_shared<const std::string>(std::move(*contents));
  if (Keeps(*info, shared->size(), std::time(nullptr))) Store(path, *info, shared);
  return shared;
}

std::size_t SmallFiles::Bytes() const {
  std::lock_guard guard(lock_);
  return bytes_;
}

}  // namespace qf
