#pragma once
// The small files read again and again (a skin's templates, style sheets, scripts and pictures), kept in
// memory with the version of the file they were read from. A request for a kept file looks the file up
// by its name, one call to the file system, instead of opening, reading and closing it; a file whose
// version changed is read again.

#include <cstddef>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/files.h"

namespace qf {

class SmallFiles {
 public:
  // At most `totalBytes` kept, of files of at most `fileBytes` each.
  SmallFiles(std::size_t fileBytes, std::size_t totalBytes) : fileBytes_(fileBytes), totalBytes_(totalBytes) {}

  struct Kept {
    platform::FileInfo info;  // as the file is now
    std::shared_ptr<const std::string> content;
  };
  // The file's content when it is kept and the file is still that version; otherwise nothing, and the
  // caller reads the file.
  std::optional<Kept> Find(const std::string& path);

  // Keeps what the caller read whole from `path`, `info` taken from the open file before reading. A file
  // written in the last two seconds is not kept: a second write within the same tick of the file
  // system's clock, of the same length, would leave its version as it was.
  void Keep(const std::string& path, const platform::FileInfo& info, std::string_view content,
            std::time_t now = std::time(nullptr));

  // The whole file as ReadWholeFile reads it (nothing when it cannot be read): from memory while its
  // version is unchanged, otherwise read, and kept as Keep keeps it.
  std::shared_ptr<const std::string> Read(const std::string& path);

  std::size_t Bytes() const;

 private:
  // What an entry holds: its name, its content and the bookkeeping around them (the map's node, the
  // shared text's control block), so that many empty files cost the limit too.
  static std::size_t Cost(const std::string& path, const std::string& content) {
    return path.size() + content.size() + 160;
  }
  bool Keeps(const platform::FileInfo& info, std::size_t length, std::time_t now) const;
  void Store(const std::string& path, const platform::FileInfo& info, std::shared_ptr<const std::string> content);

  struct Entry {
    std::uint64_t version;
    std::shared_ptr<const std::string> content;
  };
  const std::size_t fileBytes_;
  const std::size_t totalBytes_;
  mutable std::mutex lock_;
  std::unordered_map<std::string, Entry> entries_;  // guarded by lock_
  std::size_t bytes_ = 0;                           // guarded by lock_: the Cost of every entry
};

}  // namespace qf
