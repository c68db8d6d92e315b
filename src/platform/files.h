#pragma once
// Files and folders, addressed by Windows path texts ("C:\Program Files\Winamp") on every build.
//
// On Linux the paths live on a drive map (platform/posix/emulation.h): each drive letter is a host
// folder, each "\" component is matched exactly first and then without regard to case, ".." never
// climbs above a drive's root, and drives that are not mapped do not exist.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace platform {

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
// A link (symbolic link, junction, mount point): the entry stands for something elsewhere. On Linux a
// symbolic link carries it, with the other attributes, size and time of what it points to.
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

struct FileInfo {
  DWORD attributes = 0;
  std::uint64_t size = 0;
  std::int64_t lastWriteTime = 0;  // seconds since 1970-01-01 UTC
  // Changes whenever the file is written or replaced, at the file system's finest clock: equal versions
  // of one path mean the same content, unless the file was written twice within one tick of that clock.
  std::uint64_t version = 0;

  bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

struct FindData {
  std::string name;  // as stored on disk
  FileInfo info;
};

// The entries of a folder that match a mask: `pattern` is the folder, "\", and a mask with Windows
// wildcard rules ("*.mp3", "*.*", "*." for names without an extension). Hidden entries are included;
// "." and ".." are included for every folder but a drive's root, as FindFirstFileA returns them.
// Empty when the folder does not exist.
std::vector<FindData> FindFiles(const std::string& pattern);

// Windows wildcard matching of one name, without regard to case.
bool MatchesWildcard(std::string_view mask, std::string_view name);

std::optional<FileInfo> GetFileInfo(const std::string& path);
bool FileExists(const std::string& path);       // an existing file, not a folder
bool DirectoryExists(const std::string& path);  // an existing folder or drive root

bool CreateDirectoryA(const std::string& path);  // one level
bool RemoveDirectoryA(const std::string& path);  // an empty folder
bool DeleteFileA(const std::string& path);
bool CopyFileA(const std::string& existing, const std::string& target, bool failIfExists);
// Moves `existing` over `target` in one step, replacing it; the target is never seen half-written. With
// `durable`, the move is on the disk when this returns.
bool ReplaceFileWith(const std::string& existing, const std::string& target, bool durable = true);
// Moves `existing` to `target` in one step unless something exists there (Win32 MoveFileExA without
// MOVEFILE_REPLACE_EXISTING): false, and nothing changed, when `target` exists or the move fails.
bool MoveFileNoReplace(const std::string& existing, const std::string& target);

// The long form of an existing path (Win32 GetLongPathNameA); the path itself on Linux, where no
// 8.3 aliases exist. Empty when the path does not exist.
std::optional<std::string> GetLongPathNameA(const std::string& path);

// The path the operating system's own calls take for a path of ours: the path itself on Windows, the host
// path on Linux. For libraries that open files themselves.
std::string NativePath(const std::string& path);

// Volumes.
// While one lives, the calling thread's critical-error mode makes a drive without a medium fail at once
// instead of asking the user to insert one (SEM_FAILCRITICALERRORS); the previous mode comes back when
// it goes. Only the calling thread is affected: the player's own error mode stays as it was.
class FailCriticalErrors {
 public:
  FailCriticalErrors();
  ~FailCriticalErrors();
  FailCriticalErrors(const FailCriticalErrors&) = delete;
  FailCriticalErrors& operator=(const FailCriticalErrors&) = delete;

 private:
  [[maybe_unused]] DWORD previous_ = 0;  // the Windows build's; the stand-in has no error mode to keep
};
// Win32 GetDiskFreeSpaceExA of a drive's root ("D:\"): false when the sizes cannot be read (no such
// drive, no medium). Any output may be null.
bool GetDiskFreeSpaceExA(const std::string& root, std::uint64_t* freeToCaller, std::uint64_t* total,
                         std::uint64_t* totalFree);
// The volume label of a drive's root ("D:\"), Win32 GetVolumeInformationA; nothing when it cannot be read.
std::optional<std::string> GetVolumeLabel(const std::string& root);

// An open file; closes itself. Move-only.
class File {
 public:
  enum class Mode {
    Read,          // existing file, read only
    CreateAlways,  // created or truncated, write only
    Append,        // opened or created, writes go to the end
    CreateNew,     // created, write only; not opened when anything exists at the path
  };

  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Not open (IsOpen() false) when the file cannot be opened.
  static File Open(const std::string& path, Mode mode);
  // A new empty file outside the drive map for scratch data, deleted when closed.
  static File CreateTemporary();

  bool IsOpen() const;
  // Bytes read, 0 at the end of the file, -1 on error.
  std::int64_t Read(void* data, std::size_t size);
  // Writes all bytes; false on error (a full disk among them).
  bool Write(const void* data, std::size_t size);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  bool Seek(std::uint64_t offset);
  std::uint64_t Size() const;
  // Size, attributes and time of the open file.
  std::optional<FileInfo> Info() const;
  // Forces written data to the disk.
  bool Flush();
  void Close();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int descriptor_ = -1;
  std::optional<FileInfo> readInfo_;  // of a file opened for reading, taken when it was opened
#endif
};

// Whole-file helpers built on File.
// The largest file ReadWholeFile reads: the plug-in shares a 32-bit address space with the player.
inline constexpr std::uint64_t kMaxWholeFile = 64ull * 1024 * 1024;
// The file's bytes; nothing when it cannot be read or is larger than kMaxWholeFile.
std::optional<std::string> ReadWholeFile(const std::string& path);
// The bytes of an open file from where it stands to its end, `expected` of them unless it changed while
// being read; nothing on a read error or when there are more than kMaxWholeFile.
std::optional<std::string> ReadToEnd(File& file, std::uint64_t expected);
// Writes `contents` to a new file beside `path`, forces it to disk and then replaces `path` with it,
// so that a crash or a full disk never leaves `path` half-written or missing. False on failure, with
// `path` unchanged. Without `durable` the file is still never seen half-written, but a crash may lose
// the change: for files written again and again that the program can write anew (a playlist file
// written for each reader).
bool WriteFileReplacing(const std::string& path, std::string_view contents, bool durable = true);

}  // namespace platform
