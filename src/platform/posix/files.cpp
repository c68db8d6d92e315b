// Windows paths on a Linux disk: the drive map, path resolution without regard to case, enumeration
// and file access for the emulated drives.

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>

#include "platform/files.h"
#include "platform/posix/emulation.h"

namespace platform {
namespace {

struct Drive {
  std::string hostFolder;
  std::string label;
};

struct DriveMap {
  std::mutex lock;
  std::map<char, Drive> drives;  // by upper-case letter
};

DriveMap& TheDriveMap() {
  static DriveMap* map = new DriveMap;  // used by threads that may outlive static destruction
  return *map;
}

std::optional<std::string> DriveFolder(char letter) {
  DriveMap& map = TheDriveMap();
  std::lock_guard guard(map.lock);
  auto found = map.drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  if (found == map.drives.end()) return std::nullopt;
  return found->second.hostFolder;
}

bool Exists(const std::string& hostPath) {
  struct stat status;
  return ::stat(hostPath.c_str(), &status) == 0;
}

// The name of the first entry of `folder` equal to `name` without regard to case.
std::optional<std::string> FindWithoutCase(const std::string& folder, const std::string& name) {
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return std::nullopt;
  std::optional<std::string> match;
  while (dirent* entry = ::readdir(directory)) {
    if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
      match = entry->d_name;
      break;
    }
  }
  ::closedir(directory);
  return match;
}

struct Resolved {
  std::string hostPath;
  bool isDriveRoot;
  bool probed;  // `probe` succeeded on hostPath
};

// `probe` (a stat or an open) is tried on the path exactly as written first, the common case; only when
// it fails are the components looked up one by one without regard to case.
std::optional<Resolved> Resolve(const std::string& path,
                                const std::function<bool(const std::string&)>& probe = Exists) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  if (path.size() < 2 || !std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':') return std::nullopt;
  if (path.size() > 2 && path[2] != '\\' && path[2] != '/') return std::nullopt;
  std::optional<std::string> root = DriveFolder(path[0]);
  if (!root) return std::nullopt;

  // The path as written, on the host: one string, with "." and ".." taken out.
  std::string exact = std::move(*root);
  const std::size_t rootSize = exact.size();
  exact.reserve(rootSize + path.size());
  for (std::size_t start = 2; start <= path.size();) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    std::string_view component(path.data() + start, end - start);
    if (component == "..") {
      if (exact.size() > rootSize) exact.resize(exact.rfind('/'));  // never above the drive's root
    } else if (!component.empty() && component != ".") {
      exact += '/';
      exact += component;
    }
    start = end + 1;
  }
  if (exact.size() == rootSize) return Resolved{exact, true, false};
  if (probe(exact)) return Resolved{std::move(exact), false, true};

  std::string current = exact.substr(0, rootSize);
  bool missing = false;
  for (std::size_t start = rootSize + 1; start <= exact.size();) {
    std::size_t end = std::min(exact.find('/', start), exact.size());
    std::string component = exact.substr(start, end - start);
    start = end + 1;
    if (!missing) {
      if (Exists(current + "/" + component)) {
        current += "/" + component;
        continue;
      }
      if (std::optional<std::string> stored = FindWithoutCase(current, component)) {
        current += "/" + *stored;
        continue;
      }
      missing = true;
    }
    current += "/" + component;
  }
  return Resolved{current, false, false};
}

FileInfo InfoOf(const struct stat& status, std::string_view name) {
  FileInfo info;
  if (S_ISDIR(status.st_mode)) {
    info.attributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    info.attributes = FILE_ATTRIBUTE_ARCHIVE;
    info.size = static_cast<std::uint64_t>(status.st_size);
  }
  if (name.size() > 1 && name[0] == '.' && name != "..") info.attributes |= FILE_ATTRIBUTE_HIDDEN;
  if ((status.st_mode & S_IWUSR) == 0) info.attributes |= FILE_ATTRIBUTE_READONLY;
  info.lastWriteTime = status.st_mtime;
  // The change time moves with every write, rename onto the name or change of owner or mode, even when
  // the modification time is set back; the inode tells a file replaced under the same name.
  auto nanoseconds = [](const struct timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u + static_cast<std::uint64_t>(time.tv_nsec);
  };
  info.version = nanoseconds(status.st_mtim) ^ (nanoseconds(status.st_ctim) * 0x9E3779B97F4A7C15u) ^
                 (static_cast<std::uint64_t>(status.st_ino) << 21) ^ static_cast<std::uint64_t>(status.st_dev);
  return info;
}

// Bytes that may still be written before the emulated disk is full; negative: no limit.
std::atomic<std::int64_t> writeBudget{-1};

// How many of `size` bytes the disk takes now, taken from the budget.
std::size_t TakeFromBudget(std::size_t size) {
  std::int64_t left = writeBudget.load();
  for (;;) {
    if (left < 0) return size;
    std::int64_t taken = std::min<std::int64_t>(left, static_cast<std::int64_t>(size));
    if (writeBudget.compare_exchange_weak(left, left - taken)) return static_cast<std::size_t>(taken);
  }
}

std::string_view BaseName(std::string_view hostPath) {
  std::size_t slash = hostPath.rfind('/');
  return slash == std::string_view::npos ? hostPath : hostPath.substr(slash + 1);
}

}  // namespace

namespace emulation {

void MapDrive(char letter, const std::string& hostFolder, const std::string& label) {
  std::string folder = hostFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  DriveMap& map = TheDriveMap();
  std::lock_guard guard(map.lock);
  map.drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = Drive{folder, label};
}

void UnmapAllDrives() {
  DriveMap& map = TheDriveMap();
  std::lock_guard guard(map.lock);
  map.drives.clear();
}

std::vector<char> MappedDrives() {
  DriveMap& map = TheDriveMap();
  std::lock_guard guard(map.lock);
  std::vector<char> letters;
  for (auto& [letter, drive] : map.drives) letters.push_back(letter);
  return letters;
}

std::optional<std::string> DriveLabel(char letter) {
  DriveMap& map = TheDriveMap();
  std::lock_guard guard(map.lock);
  auto found = map.drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  if (found == map.drives.end()) return std::nullopt;
  return found->second.label;
}

void SetWriteBudget(std::optional<std::uint64_t> bytes) {
  writeBudget = bytes ? static_cast<std::int64_t>(std::min<std::uint64_t>(*bytes, INT64_MAX)) : -1;
}

std::optional<std::string> HostPath(const std::string& windowsPath) {
  std::optional<Resolved> resolved = Resolve(windowsPath);
  if (!resolved) return std::nullopt;
  return resolved->hostPath;
}

}  // namespace emulation

std::vector<FindData> FindFiles(const std::string& pattern) {
  std::vector<FindData> found;
  std::size_t split = pattern.find_last_of("\\/");
  if (split == std::string::npos) return found;
  std::string mask = pattern.substr(split + 1);
  std::optional<Resolved> folder = Resolve(pattern.substr(0, split));
  if (!folder) return found;
  DIR* directory = ::opendir(folder->hostPath.c_str());
  if (directory == nullptr) return found;
  while (dirent* entry = ::readdir(directory)) {
    std::string name = entry->d_name;
    bool dots = name == "." || name == "..";
    if (dots && folder->isDriveRoot) continue;
    if (!MatchesWildcard(mask, name)) continue;
    // Relative to the open folder: no walk of the whole path for every entry.
    struct stat status;
    if (::fstatat(::dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    bool link = S_ISLNK(status.st_mode);
    if (link && ::fstatat(::dirfd(directory), entry->d_name, &status, 0) != 0) continue;  // a dangling link
    FindData data{name, InfoOf(status, name)};
    if (link) data.info.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    found.push_back(std::move(data));
  }
  ::closedir(directory);
  return found;
}

std::optional<FileInfo> GetFileInfo(const std::string& path) {
  struct stat status;
  std::optional<Resolved> resolved =
      Resolve(path, [&](const std::string& hostPath) { return ::stat(hostPath.c_str(), &status) == 0; });
  if (!resolved) return std::nullopt;
  if (!resolved->probed && ::stat(resolved->hostPath.c_str(), &status) != 0) return std::nullopt;
  return InfoOf(status, BaseName(resolved->hostPath));
}

bool FileExists(const std::string& path) {
  std::optional<FileInfo> info = GetFileInfo(path);
  return info && !info->IsDirectory();
}

bool DirectoryExists(const std::string& path) {
  std::optional<FileInfo> info = GetFileInfo(path);
  return info && info->IsDirectory();
}

bool CreateDirectoryA(const std::string& path) {
  std::optional<Resolved> resolved = Resolve(path);
  return resolved && !resolved->isDriveRoot && ::mkdir(resolved->hostPath.c_str(), 0755) == 0;
}

bool RemoveDirectoryA(const std::string& path) {
  std::optional<Resolved> resolved = Resolve(path);
  return resolved && !resolved->isDriveRoot && ::rmdir(resolved->hostPath.c_str()) == 0;
}

bool DeleteFileA(const std::string& path) {
  std::optional<Resolved> resolved = Resolve(path);
  if (!resolved || resolved->isDriveRoot) return false;
  struct stat status;
  if (::stat(resolved->hostPath.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return false;
  return ::unlink(resolved->hostPath.c_str()) == 0;
}

bool CopyFileA(const std::string& existing, const std::string& target, bool failIfExists) {
  if (failIfExists && GetFileInfo(target)) return false;
  File source = File::Open(existing, File::Mode::Read);
  if (!source.IsOpen()) return false;
  File copy = File::Open(target, File::Mode::CreateAlways);
  if (!copy.IsOpen()) return false;
  char buffer[65536];
  for (;;) {
    std::int64_t got = source.Read(buffer, sizeof buffer);
    if (got < 0) return false;
    if (got == 0) return true;
    if (!copy.Write(buffer, static_cast<std::size_t>(got))) return false;
  }
}

bool ReplaceFileWith(const std::string& existing, const std::string& target, bool durable) {
  std::optional<Resolved> from = Resolve(existing);
  std::optional<Resolved> to = Resolve(target);
  if (!from || !to || ::rename(from->hostPath.c_str(), to->hostPath.c_str()) != 0) return false;
  if (!durable) return true;
  // Make the rename itself durable: sync the folder that holds the new name.
  std::string folder = to->hostPath.substr(0, to->hostPath.rfind('/'));
  int descriptor = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor >= 0) {
    ::fsync(descriptor);
    ::close(descriptor);
  }
  return true;
}

bool MoveFileNoReplace(const std::string& existing, const std::string& target) {
  std::optional<Resolved> from = Resolve(existing);
  // A target that exists in another letter case resolves to that file, so the refusal below holds for it.
  std::optional<Resolved> to = Resolve(target);
  if (!from || !to || from->isDriveRoot || to->isDriveRoot) return false;
  if (::renameat2(AT_FDCWD, from->hostPath.c_str(), AT_FDCWD, to->hostPath.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link is refused as well when the name is taken.
  if (::link(from->hostPath.c_str(), to->hostPath.c_str()) != 0) return false;
  ::unlink(from->hostPath.c_str());
  return true;
}

FailCriticalErrors::FailCriticalErrors() = default;  // no drive of the map ever asks for a medium
FailCriticalErrors::~FailCriticalErrors() = default;

namespace {

// The mapped drive a root path ("D:\\", "D:") names; nothing for anything else.
std::optional<char> RootDrive(const std::string& root) {
  if (root.size() < 2 || root.size() > 3 || !std::isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':')
    return std::nullopt;
  if (root.size() == 3 && root[2] != '\\' && root[2] != '/') return std::nullopt;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
}

}  // namespace

bool GetDiskFreeSpaceExA(const std::string& root, std::uint64_t* freeToCaller, std::uint64_t* total,
                         std::uint64_t* totalFree) {
  std::optional<char> letter = RootDrive(root);
  if (!letter) return false;
  std::optional<std::string> folder = DriveFolder(*letter);
  struct statvfs status;
  if (!folder || ::statvfs(folder->c_str(), &status) != 0) return false;
  std::uint64_t unit = status.f_frsize ? status.f_frsize : status.f_bsize;
  if (freeToCaller) *freeToCaller = unit * status.f_bavail;
  if (total) *total = unit * status.f_blocks;
  if (totalFree) *totalFree = unit * status.f_bfree;
  return true;
}

std::optional<std::string> GetVolumeLabel(const std::string& root) {
  std::optional<char> letter = RootDrive(root);
  if (!letter || !DirectoryExists(std::string(1, *letter) + ":\\")) return std::nullopt;
  return emulation::DriveLabel(*letter);
}

std::string NativePath(const std::string& path) {
  std::optional<Resolved> resolved = Resolve(path);
  return resolved ? resolved->hostPath : std::string();
}

std::optional<std::string> GetLongPathNameA(const std::string& path) {
  return path;  // no 8.3 aliases exist on the emulated drives
}

File::File(File&& other) noexcept : descriptor_(other.descriptor_), readInfo_(other.readInfo_) {
  other.descriptor_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = other.descriptor_;
    readInfo_ = other.readInfo_;
    other.descriptor_ = -1;
  }
  return *this;
}

File::~File() { Close(); }

File File::Open(const std::string& path, Mode mode) {
  File file;
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read:
      flags |= O_RDONLY;
      break;
    case Mode::CreateAlways:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case Mode::Append:
      flags |= O_WRONLY | O_CREAT | O_APPEND;
      break;
    case Mode::CreateNew:
      flags |= O_WRONLY | O_CREAT | O_EXCL;
      break;
  }
  int descriptor = -1;
  // Reading may open the path as written straight away; a write must not create "x.ini" beside an
  // existing "X.INI", so it resolves the name first.
  std::optional<Resolved> resolved = mode == Mode::Read ? Resolve(path,
                                                                  [&](const std::string& hostPath) {
                                                                    descriptor = ::open(hostPath.c_str(), flags);
                                                                    return descriptor >= 0;
                                                                  })
                                                        : Resolve(path);
  if (!resolved || resolved->isDriveRoot) return file;
  if (descriptor < 0) descriptor = ::open(resolved->hostPath.c_str(), flags, 0644);
  if (descriptor < 0) return file;
  struct stat status;
  if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    ::close(descriptor);
    return file;
  }
  file.descriptor_ = descriptor;
  if (mode == Mode::Read) file.readInfo_ = InfoOf(status, "");
  return file;
}

File File::CreateTemporary() {
  File file;
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder && *folder ? folder : "/tmp") + "/quenforth-XXXXXX";
  int descriptor = ::mkstemp(name.data());
  if (descriptor < 0) return file;
  ::unlink(name.c_str());
  ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
  file.descriptor_ = descriptor;
  return file;
}

bool File::IsOpen() const { return descriptor_ >= 0; }

std::int64_t File::Read(void* data, std::size_t size) {
  for (;;) {
    ssize_t got = ::read(descriptor_, data, size);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

bool File::Write(const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t room = TakeFromBudget(size);
  bool full = room < size;
  size = room;
  while (size > 0) {
    ssize_t written = ::write(descriptor_, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return !full;
}

bool File::Seek(std::uint64_t offset) {
  return ::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::uint64_t File::Size() const {
  struct stat status;
  return ::fstat(descriptor_, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

std::optional<FileInfo> File::Info() const {
  if (readInfo_) return readInfo_;
  struct stat status;
  if (::fstat(descriptor_, &status) != 0) return std::nullopt;
  return InfoOf(status, "");
}

bool File::Flush() { return ::fsync(descriptor_) == 0; }

void File::Close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  readInfo_.reset();
}

}  // namespace platform
