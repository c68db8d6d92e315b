#pragma once
// Rules for the Windows paths and names that come from requests and templates: normalising, containment
// by whole components, and the forms Windows would read as something other than they appear to name.

#include <string>
#include <string_view>

namespace qf {

// "." segments dropped, each ".." removes the segment before it (never the drive, nor the server and
// share of a path that begins with "\\"), empty segments dropped; "\" is the delimiter ("/" counts as
// one too).
std::string NormalizePath(std::string_view path);

// True when `path` lies inside `folder`: the folder followed by a path separator is a prefix of it
// (without regard to case, as Windows compares paths).
bool IsInsideFolder(std::string_view path, std::string_view folder);

// Paths Windows would resolve to something other than the file they appear to name: a component after
// the drive with ":" (alternate data streams), ending in "." or a blank, or naming a device (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with any extension); paths starting with \\?\ or \\.\; and,
// on Windows, an existing path whose long form differs other than in letter case (an 8.3 alias).
bool IsRefusedPath(std::string_view path);

// True when opening `path` would open a device instead of a file: a component that is a device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with any extension), or the device namespaces
// \\.\ and \\?\. Reading such a "file" may never end.
bool NamesDevice(std::string_view path);

// A path Windows resolves the same from any current folder: a drive, a colon and a separator, or a
// network path ("\\server\share").
bool IsFullPath(std::string_view path);

// True when `path` might lead into `folder` or be the folder itself: normalised, it equals the folder (or
// the folder's long form) or lies inside it by whole components, without regard to case. A path whose
// target cannot be told from its text (not a full path, or IsRefusedPath) counts as leading there too,
// and so does one that passes through the folder's last two components, which another drive letter or
// a network share may give the folder.
bool MayReachFolder(std::string_view path, std::string_view folder);

// True when `path` is a full path that, normalised, lies inside `folder` by whole components and names
// nothing Windows would read as something else (IsRefusedPath).
bool StaysInsideFolder(std::string_view path, std::string_view folder);

// True when the text holds a byte below 32 or DEL: such a byte would end a line in a playlist, an INI
// file or a log.
bool HasControlCharacter(std::string_view text);

// A name a client gives for a file that is to be created: a plain name without control characters or
// any of < > : " / \ | ? *, not "." or "..", not ending in a dot or a blank, and not a device name (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with any extension).
bool IsSafeFileName(std::string_view name);

}  // namespace qf
