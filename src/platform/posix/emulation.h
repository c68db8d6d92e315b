#pragma once
// Settings of the Linux stand-ins for Windows, made by the runner (host/) and by tests before the
// plug-in starts. Not available on Windows builds.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform::emulation {

// Drive letters (A..Z, either case) are host folders. Mapping a letter again replaces it.
void MapDrive(char letter, const std::string& hostFolder, const std::string& label = "");
void UnmapAllDrives();
std::vector<char> MappedDrives();
std::optional<std::string> DriveLabel(char letter);

// The host path a Windows path names: exact component first, then the first entry that equals it
// without regard to case, else the component as given (for files about to be created). Empty when
// the drive is not mapped or the text is no absolute drive path.
std::optional<std::string> HostPath(const std::string& windowsPath);

void SetEnvironmentVariable(const std::string& name, const std::string& value);
void SetVersion(DWORD major, DWORD minor, DWORD build);
// The Windows path of the host program; ExecutableFolder() is its folder.
void SetModuleFileName(const std::string& windowsPath);

// A disk that fills up: after `bytes` more bytes, every write fails (the write that crosses the limit
// writes what fits first, as a full disk does). Nothing: no limit, the default.
void SetWriteBudget(std::optional<std::uint64_t> bytes);

// The names of the window classes registered now (upper case), for tests of what a module leaves behind.
std::vector<std::string> RegisteredWindowClasses();

// What message boxes, status lines, power calls, dialogs and shell calls leave behind.
struct Record {
  enum class Kind { MessageBox, Status, Power, Dialog, Shell };
  Kind kind;
  std::string caption;  // message box or dialog caption, the power call's name, or "open" for the shell
  std::string text;     // message box text, status line, the power call's arguments, the dialog's prompt
                        // (input) or start folder (folder and file dialogs), or the file the shell opens
  UINT type = 0;        // message box flags
};

// Every record is kept for Records() and, when a sink is set, also handed to it (on the calling thread).
void SetSink(std::function<void(const Record&)> sink);
std::vector<Record> Records();
void ClearRecords();
// The answer every message box gives (IDOK by default).
void SetMessageBoxAnswer(int answer);
// The answers the next dialogs give, in order: a text is OK with that text (the chosen folder or file),
// nothing is Cancel. A dialog that finds the queue empty is cancelled.
void QueueDialogAnswer(std::optional<std::string> answer);
void ClearDialogAnswers();
// Whether ShellExecuteA finds a program for what it opens (by default it does).
void SetShellOpens(bool opens);
// Whether the process holds the shutdown privilege (by default it does); without it an adjustment
// leaves ERROR_NOT_ALL_ASSIGNED, as on Windows.
void SetHoldsShutdownPrivilege(bool holds);

}  // namespace platform::emulation
