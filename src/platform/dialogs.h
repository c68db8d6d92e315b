#pragma once
// The modal dialogs of the plug-in's windows and the shell's "open" verb. On Windows they are the real
// dialogs; on Linux they never block: each is recorded (platform/posix/emulation.h) and answered from the
// emulation's queue of answers, and cancelled when the queue is empty.
//
// Call them on the thread that owns the window asking (the player's user-interface thread).

#include <optional>
#include <string>

#include "platform/types.h"

namespace platform {

// A box with `caption`, `prompt` above a one-line edit prefilled with `value` (shown as "*" when
// `masked`), OK and Cancel: the edited text on OK, nothing on Cancel.
std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt, const std::string& value,
                                      bool masked = false);

// The folder browser titled `title`, opened at `startFolder`: the chosen folder, nothing when cancelled.
std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& startFolder);

// The open-file dialog, opened in `startFolder`: the chosen file, nothing when cancelled.
std::optional<std::string> GetOpenFileNameA(const std::string& startFolder);

// Opens `file` (a document, a folder or a URL) with the program the system associates with it; as
// ShellExecuteA, a value above 32 on success.
INT_PTR ShellExecuteA(HWND owner, const std::string& file);

}  // namespace platform
