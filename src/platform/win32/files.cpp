// Files and folders: the real Win32 calls behind the platform names.

#include "platform/files.h"

#include <windows.h>

namespace platform {
namespace {

std::uint64_t Ticks(const ::FILETIME& time) {  // 100 ns since 1601
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::int64_t UnixTime(const ::FILETIME& time) {
  return static_cast<std::int64_t>(Ticks(time) / 10000000ULL) - 11644473600LL;
}

// The creation time tells a file replaced under the same name (a new file moved over it) from the old.
FileInfo InfoOf(::DWORD attributes, ::DWORD sizeHigh, ::DWORD sizeLow, const ::FILETIME& written,
                const ::FILETIME& created) {
  FileInfo info;
  info.attributes = attributes;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) info.size = (static_cast<std::uint64_t>(sizeHigh) << 32) | sizeLow;
  info.lastWriteTime = UnixTime(written);
  info.version = Ticks(written) ^ (Ticks(created) * 0x9E3779B97F4A7C15u);
  return info;
}

// A search of FindFirstFileA, closed when it goes (push_back may throw halfway through a listing).
class FindHandle {
 public:
  explicit FindHandle(::HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (handle_) ::FindClose(handle_);
  }
  explicit operator bool() const { return handle_ != nullptr; }
  ::HANDLE get() const { return handle_; }

 private:
  ::HANDLE handle_;
};

}  // namespace

std::vector<FindData> FindFiles(const std::string& pattern) {
  std::vector<FindData> found;
  ::WIN32_FIND_DATAA data;
  FindHandle search(::FindFirstFileA(pattern.c_str(), &data));
  if (!search) return found;
  do {
    found.push_back(FindData{data.cFileName, InfoOf(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                                                    data.ftLastWriteTime, data.ftCreationTime)});
  } while (::FindNextFileA(search.get(), &data));
  return found;
}

std::optional<FileInfo> GetFileInfo(const std::string& path) {
  ::WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return InfoOf(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime,
                data.ftCreationTime);
}

bool FileExists(const std::string& path) {
  std::optional<FileInfo> info = GetFileInfo(path);
  return info && !info->IsDirectory();
}

bool DirectoryExists(const std::string& path) {
  std::optional<FileInfo> info = GetFileInfo(path);
  return info && info->IsDirectory();
}

bool CreateDirectoryA(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }
bool RemoveDirectoryA(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != 0; }
bool DeleteFileA(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool CopyFileA(const std::string& existing, const std::string& target, bool failIfExists) {
  return ::CopyFileA(existing.c_str(), target.c_str(), failIfExists) != 0;
}

bool ReplaceFileWith(const std::string& existing, const std::string& target, bool durable) {
  const ::DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
  return ::MoveFileExA(existing.c_str(), target.c_str(), flags) != 0;
}

bool MoveFileNoReplace(const std::string& existing, const std::string& target) {
  return ::MoveFileExA(existing.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

FailCriticalErrors::FailCriticalErrors() {
  ::DWORD previous = 0;
  ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous);
  previous_ = previous;
}

FailCriticalErrors::~FailCriticalErrors() { ::SetThreadErrorMode(previous_, nullptr); }

bool GetDiskFreeSpaceExA(const std::string& root, std::uint64_t* freeToCaller, std::uint64_t* total,
                         std::uint64_t* totalFree) {
  ::ULARGE_INTEGER available, size, free;
  if (!::GetDiskFreeSpaceExA(root.c_str(), &available, &size, &free)) return false;
  if (freeToCaller) *freeToCaller = available.QuadPart;
  if (total) *total = size.QuadPart;
  if (totalFree) *totalFree = free.QuadPart;
  return true;
}

std::optional<std::string> GetVolumeLabel(const std::string& root) {
  char label[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0))
    return std::nullopt;
  return std::string(label);
}

std::string NativePath(const std::string& path) { return path; }

std::optional<std::string> GetLongPathNameA(const std::string& path) {
  char buffer[MAX_PATH * 4];
  ::DWORD length = ::GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
}

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

File::~File() { Close(); }

File File::Open(const std::string& path, Mode mode) {
  File file;
  ::DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
  ::DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (mode == Mode::CreateAlways) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if (mode == Mode::Append) {
    access = FILE_APPEND_DATA;
    disposition = OPEN_ALWAYS;
  } else if (mode == Mode::CreateNew) {
    access = GENERIC_WRITE;
    disposition = CREATE_NEW;
  }
  ::HANDLE handle = ::CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) file.handle_ = handle;
  return file;
}

File File::CreateTemporary() {
  File file;
  char folder[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  if (!::GetTempPathA(sizeof folder, folder) || !::GetTempFileNameA(folder, "qf", 0, name)) return file;
  ::HANDLE handle = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle != INVALID_HANDLE_VALUE) file.handle_ = handle;
  return file;
}

bool File::IsOpen() const { return handle_ != nullptr; }

std::int64_t File::Read(void* data, std::size_t size) {
  ::DWORD got = 0;
  ::DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<::DWORD>(size);
  if (!::ReadFile(static_cast<::HANDLE>(handle_), data, want, &got, nullptr)) return -1;
  return got;
}

bool File::Write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ::DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<::DWORD>(size);
    ::DWORD written = 0;
    if (!::WriteFile(static_cast<::HANDLE>(handle_), bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

bool File::Seek(std::uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(static_cast<::HANDLE>(handle_), distance, nullptr, FILE_BEGIN) != 0;
}

std::uint64_t File::Size() const {
  LARGE_INTEGER size;
  return ::GetFileSizeEx(static_cast<::HANDLE>(handle_), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

std::optional<FileInfo> File::Info() const {
  ::BY_HANDLE_FILE_INFORMATION data;
  if (!::GetFileInformationByHandle(static_cast<::HANDLE>(handle_), &data)) return std::nullopt;
  return InfoOf(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, data.ftLastWriteTime,
                data.ftCreationTime);
}

bool File::Flush() { return ::FlushFileBuffers(static_cast<::HANDLE>(handle_)) != 0; }

void File::Close() {
  if (handle_) ::CloseHandle(static_cast<::HANDLE>(handle_));
  handle_ = nullptr;
}

}  // namespace platform
