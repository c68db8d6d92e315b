#include "core/pathrules.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/text.h"
#include "platform/files.h"

namespace qf {
namespace {

bool HasDrive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

bool IsDeviceName(std::string_view component) {
  std::string_view base = TrimRight(component.substr(0, component.find('.')));
  static constexpr std::array<std::string_view, 6> kNames{"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kNames)
    if (SameText(base, name)) return true;
  if (base.size() != 4 || !(StartsText(base, "COM") || StartsText(base, "LPT"))) return false;
  // Windows also takes the superscript digits of its Latin code page for port numbers.
  auto digit = static_cast<unsigned char>(base[3]);
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Calls `visit` with each name of a path's folders and file, in order, until it answers false; answers
// whether it went through them all.
template <typename Visit>
bool ForEachComponent(std::string_view path, Visit visit) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start && !visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

std::string_view WithoutDrive(std::string_view path) { return HasDrive(path) ? path.substr(2) : path; }

// The names of a path's folders and file, without its drive.
std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  ForEachComponent(WithoutDrive(path), [&](std::string_view part) {
    parts.push_back(part);
    return true;
  });
  return parts;
}

// \\?\ and \\.\ lead into the device namespace, past every rule of ordinary paths.
bool InDeviceNamespace(std::string_view path) {
  return StartsText(path, "\\\\?\\") || StartsText(path, "\\\\.\\") || StartsText(path, "//?/") ||
         StartsText(path, "//./");
}

}  // namespace

std::string NormalizePath(std::string_view path) {
  std::string_view drive;
  std::size_t rootSegments = 0;  // segments that ".." never removes
  if (HasDrive(path)) {
    drive = path.substr(0, 2);
    path.remove_prefix(2);
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    drive = "\\";  // a network share: "\\server\share" is its root, as a drive letter is a disk's
    path.remove_prefix(2);
    rootSegments = 2;
  }
  // Each name goes in with the separator before it, and ".." takes the last one out again: the names
  // hold no separators, so the last separator is the one that began the last name.
  std::string result;
  result.reserve(drive.size() + path.size() + 1);
  result += drive;
  std::size_t segments = 0;
  ForEachComponent(path, [&](std::string_view segment) {
    if (segment == "..") {
      if (segments > rootSegments) {
        result.resize(result.rfind('\\'));
        --segments;
      }
    } else if (segment != ".") {
      result += '\\';
      result += segment;
      ++segments;
    }
    return true;
  });
  if (segments == 0) result += '\\';
  return result;
}

bool IsInsideFolder(std::string_view path, std::string_view folder) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.remove_suffix(1);
  if (folder.empty() || path.size() <= folder.size() + 1) return false;
  char separator = path[folder.size()];
  return (separator == '\\' || separator == '/') && SameText(path.substr(0, folder.size()), folder);
}

bool IsRefusedPath(std::string_view path) {
  if (InDeviceNamespace(path)) return true;
  bool plain = ForEachComponent(WithoutDrive(path), [](std::string_view component) {
    return component.find(':') == std::string_view::npos && component.back() != '.' && component.back() != ' ' &&
           !IsDeviceName(component);
  });
  if (!plain) return true;
  std::optional<std::string> longForm = platform::GetLongPathNameA(std::string(path));
  return longForm && !SameText(*longForm, path);
}

bool NamesDevice(std::string_view path) {
  if (InDeviceNamespace(path)) return true;
  return !ForEachComponent(WithoutDrive(path), [](std::string_view component) { return !IsDeviceName(component); });
}

bool IsFullPath(std::string_view path) {
  if (HasDrive(path)) return path.size() >= 3 && IsSeparator(path[2]);
  return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

// Windows resolves "." and ".." in the text before it looks at the disk, so the normalised path is the
// one to test for aliases.
bool MayReachFolder(std::string_view path, std::string_view folder) {
  if (!IsFullPath(path)) return true;
  std::string normalPath = NormalizePath(path);
  if (IsRefusedPath(normalPath)) return true;
  for (const std::string& spelling :
       {std::string(folder), platform::GetLongPathNameA(std::string(folder)).value_or("")}) {
    if (spelling.empty()) continue;
    std::string normalFolder = NormalizePath(spelling);
    if (SameText(normalPath, normalFolder) || IsInsideFolder(normalPath, normalFolder)) return true;
  }
  // Another drive letter (subst, a mapped drive) or a share (\\host\c$) may name the same folder: a
  // path that passes through the folder's last two components in a row counts as leading there.
  std::string normalFolder = NormalizePath(folder);
  std::vector<std::string_view> pathParts = Components(normalPath), folderParts = Components(normalFolder);
  std::size_t tail = std::min<std::size_t>(2, folderParts.size());
  if (tail == 0) return false;
  for (std::size_t start = 0; start + tail <= pathParts.size(); ++start) {
    bool same = true;
    for (std::size_t i = 0; i < tail && same; ++i)
      same = SameText(pathParts[start + i], folderParts[folderParts.size() - tail + i]);
    if (same) return true;
  }
  return false;
}

bool StaysInsideFolder(std::string_view path, std::string_view folder) {
  if (!IsFullPath(path)) return false;
  std::string normalPath = NormalizePath(path);
  return !IsRefusedPath(normalPath) && IsInsideFolder(normalPath, NormalizePath(folder));
}

bool HasControlCharacter(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127) return true;
  return false;
}

bool IsSafeFileName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || HasControlCharacter(name)) return false;
  if (name.find_first_of("<>:\"/\\|?*") != std::string_view::npos) return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  return !IsDeviceName(name);
}

}  // namespace qf
