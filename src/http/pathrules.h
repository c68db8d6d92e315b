#pragma once
// Rules for the Windows paths a request is answered from.

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

}  // namespace qf
