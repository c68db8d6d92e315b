#include "http/upload.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <vector>

#include "browse/folders.h"
#include "core/pathrules.h"
#include "core/quenforth.h"
#include "core/records.h"
#include "core/session.h"
#include "http/multipart.h"
#include "platform/files.h"

namespace qf {
namespace {

// Room for " (999)" within the 255 characters Windows allows for one name.
constexpr std::size_t kMaxNameLength = 240;
constexpr int kMaxNumberedNames = 999;
constexpr std::size_t kCopyPiece = 256 * 1024;

enum UploadMode : std::int32_t { kNoUpload = 0, kUnlimited = 1, kMaxFileSize = 2, kDailyLimit = 3, kAccountLimit = 4 };

// Writes bytes [begin, end) of the body to a new file in `folder` under a name no other file has; the
// temporary name the data is written under becomes `name`, or a numbered twin of it, only once
// everything is written. The full path stored, or nothing (no file left behind).
std::optional<std::string> StoreNewFile(ByteSource& body, std::uint64_t begin, std::uint64_t end,
                                        const std::string& folder, const std::string& name) {
  static std::atomic<unsigned> counter{0};
  std::string temporary;
  platform::File file;
  for (int attempt = 0; attempt < 8 && !file.IsOpen(); ++attempt) {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    temporary = folder + "\\~upload-" + std::to_string(stamp % 100000000) + "-" + std::to_string(counter++) + ".tmp";
    file = platform::File::Open(temporary, platform::File::Mode::CreateNew);
  }
  if (!file.IsOpen()) return std::nullopt;

  bool written = true;
  std::vector<char> buffer(kCopyPiece);
  for (std::uint64_t position = begin; position < end && written;) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - position));
    std::size_t got = body.ReadAt(position, buffer.data(), want);
    written = got == want && file.Write(buffer.data(), got);
    position += got;
  }
  file.Close();

  if (written) {
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
      std::string target = folder + "\\" + NumberedName(name, n);
      if (platform::GetFileInfo(target)) continue;
      if (platform::MoveFileNoReplace(temporary, target)) return target;
      if (!platform::GetFileInfo(target)) break;  // the move failed for another reason than the name
    }
  }
  platform::DeleteFileA(temporary);
  return std::nullopt;
}

// The folder the request's upload goes to, when it may write there.
std::optional<std::string> UploadFolder(TQuenforth& core, UserClass* user) {
  FolderContext context(core, user);
  std::optional<std::string> folder = CurrentFolderFor(context, FolderUse::Write);
  if (!folder || IsRefusedPath(*folder) || !platform::DirectoryExists(*folder)) return std::nullopt;
  return folder;
}

}  // namespace

std::optional<std::string> UploadFileName(std::string_view clientName) {
  std::size_t slash = clientName.find_last_of("\\/");
  std::string_view name = slash == std::string_view::npos ? clientName : clientName.substr(slash + 1);
  if (name.size() > kMaxNameLength || !IsSafeFileName(name)) return std::nullopt;
  return std::string(name);
}

std::string NumberedName(std::string_view name, int n) {
  if (n <= 1) return std::string(name);
  // A leading dot starts the name, not an extension.
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) dot = name.size();
  return std::string(name.substr(0, dot)) + " (" + std::to_string(n) + ")" + std::string(name.substr(dot));
}

std::optional<std::int32_t> TakeAllowance(UserClass& user, std::uint64_t bytes) {
  constexpr std::int64_t kMost = std::numeric_limits<std::int32_t>::max();
  const std::int64_t kb = static_cast<std::int64_t>(std::min<std::uint64_t>(bytes / 1024, kMost));
  const std::int64_t limit = user.uploadlimit.load();
  std::int32_t current = user.currentupload.load();
  for (;;) {
    switch (user.uploadmode) {
      case kUnlimited:
        break;
      case kMaxFileSize:
        if (limit < kb) return std::nullopt;
        break;
      case kDailyLimit:
      case kAccountLimit:
        if (limit < kb + current) return std::nullopt;
        break;
      default:
        return std::nullopt;
    }
    // Every accepted mode counts the KB; the count stops at the largest number it can hold.
    std::int32_t next = static_cast<std::int32_t>(std::min(kMost, current + kb));
    if (user.currentupload.compare_exchange_weak(current, next)) return next - current;
  }
}

void GiveBackAllowance(UserClass& user, std::int32_t kb) {
  std::int32_t current = user.currentupload.load();
  while (!user.currentupload.compare_exchange_weak(current, std::max(0, current - kb))) {
  }
}

void StoreUpload(TQuenforth& core, ByteSource& body, std::string_view contentType, UserClass* user,
                 SessionData& session) {
  std::optional<std::string> boundary = MultipartBoundary(contentType);
  if (!boundary) return;
  std::optional<MultipartPart> part = CutFirstPart(body, *boundary);
  if (!part || part->fileName.empty()) return;  // a form sent without a chosen file

  std::optional<std::string> name = UploadFileName(part->fileName);
  std::optional<std::string> folder = name ? UploadFolder(core, user) : std::nullopt;
  // Never into the data folder: a stored template would run as a page.
  if (!folder || MayReachFolder(*folder + "\\" + *name, core.DataFolder()) || session.FromAnotherSite ||
      (!user && !core.CurrentSettings.Get()->allowUpload)) {
    session.ErrorMessage += kUploadRefused;
    return;
  }
  std::optional<std::int32_t> taken;
  if (user && !(taken = TakeAllowance(*user, part->dataEnd - part->dataBegin))) {
    session.ErrorMessage += kUploadRefused;
    return;
  }
  if (!StoreNewFile(body, part->dataBegin, part->dataEnd, *folder, *name)) {
    if (taken) GiveBackAllowance(*user, *taken);
    session.ErrorMessage += kUploadFailed;
  }
}

}  // namespace qf
