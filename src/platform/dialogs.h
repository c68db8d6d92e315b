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

// While one lives on a thread, the dialogs and message boxes that the thread opens without an owner of
// their own belong to `owner`: they stay above it and keep it disabled while they are up, so that the
// window that asked cannot be used (and asked again) meanwhile. Scopes nest; the innermost one counts.
class DialogOwner {
 public:
  explicit DialogOwner(HWND owner);
  ~DialogOwner();
  DialogOwner(const DialogOwner&) = delete;
  DialogOwner& operator=(const DialogOwner&) = delete;
  // The owner of the calling thread's innermost scope, or null.
  static HWND Current();

 private:
  HWND previous_;
};

// The input box's controls, in pixels of its client area: 16 pixels of margin on every side, 10 between
// the rows (prompt, edit, buttons) and between the buttons, which stand at the right. The client area is
// as wide as the prompt needs, at least 220 pixels, at most `widest` (the prompt is cut there).
struct InputBoxLayout {
  struct Box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int Right() const { return left + width; }
    int Bottom() const { return top + height; }
  };
  Box prompt, edit, ok, cancel;
  int clientWidth = 0;
  int clientHeight = 0;
};
InputBoxLayout LayOutInputBox(int promptWidth, int lineHeight, int editHeight, int buttonWidth, int buttonHeight,
                              int widest);

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
