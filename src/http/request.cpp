#include "http/request.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/dimime.h"
#include "core/text.h"

namespace qf {

void ReadCredentials(std::string_view authorization, TRequest& request) {
  std::size_t blank = authorization.find(' ');
  if (blank == std::string_view::npos || !SameText(authorization.substr(0, blank), "Basic")) return;
  std::string decoded = MimeDecodeString(authorization.substr(blank + 1));
  std::size_t colon = decoded.find(':');
  if (colon == std::string::npos) return;
  request.AuthUsername = decoded.substr(0, colon);
  request.AuthPassword = decoded.substr(colon + 1);
}

void RequestBody::Append(const char* data, std::size_t size) {
  if (size == 0) return;
  if (!spill_.IsOpen() && memory_.size() + size <= kMemoryLimit) {
    memory_.append(data, size);
  } else {
    if (!spill_.IsOpen()) {
      spill_ = platform::File::CreateTemporary();
      if (!spill_.IsOpen() || !spill_.Write(memory_)) throw std::runtime_error("request body: no scratch file");
      memory_.clear();
      memory_.shrink_to_fit();
    }
    if (!spill_.Seek(size_) || !spill_.Write(data, size)) throw std::runtime_error("request body: write failed");
  }
  size_ += size;
}

std::size_t RequestBody::ReadAt(std::uint64_t offset, char* data, std::size_t size) {
  if (offset >= size_) return 0;
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
  if (!spill_.IsOpen()) {
    std::memcpy(data, memory_.data() + offset, size);
    return size;
  }
  if (!spill_.Seek(offset)) return 0;
  std::size_t done = 0;
  while (done < size) {
    std::int64_t got = spill_.Read(data + done, size - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::string RequestBody::Text() {
  std::string text(static_cast<std::size_t>(size_), '\0');
  text.resize(ReadAt(0, text.data(), text.size()));
  return text;
}

bool TResponse::WriteContent() {
  if (!Channel) return false;
  written_ = true;
  return Channel->SendContent(*this);
}

bool TResponse::ServeFile(const std::string& path) {
  if (!Channel) return false;
  ResponseChannel::FileResult result = Channel->SendFile(*this, path);
  // No answer is set when the file cannot be read; the caller may still answer otherwise.
  if (result != ResponseChannel::FileResult::Unreadable) written_ = true;
  return result == ResponseChannel::FileResult::Sent;
}

}  // namespace qf
