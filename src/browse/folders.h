#pragma once
// The music folder model: whose folders a request works in, which paths it may reach, and the commands
// that move its current folder.

#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"

namespace qf {

class TQuenforth;
struct UserClass;

// The folder values a request works with: the logged-in user's record when user management is on,
// else the core object's, shared by every anonymous client. Reads and writes are atomic; a request
// works on its own copy of a folder text.
class FolderContext {
 public:
  FolderContext(TQuenforth& core, UserClass* user) : core_(core), user_(user) {}

  std::string Root() const;
  std::string Current() const;
  void SetCurrent(std::string folder);
  bool MayBrowseAboveRoot() const;
  bool ShowsDrives() const;
  // The global additional folders, in order (the user's context shares them).
  TextList AdditionalFolders() const;
  bool IsUser() const { return user_ != nullptr; }
  TQuenforth& Core() const { return core_; }

 private:
  TQuenforth& core_;
  UserClass* user_;
};

// True when `path` contains `folder` anywhere, without regard to case: a text test, not a prefix test
// (a root C:\Music admits C:\Music2 too).
bool IsInside(std::string_view path, std::string_view folder);
// True when `path` is inside the context's root folder or one of the additional folders.
bool InsideAllowedFolders(std::string_view path, const FolderContext& context);
// An argument with "/..", "../", "\.." or "..\" is refused by every folder and file command.
bool HasRefusedSequence(std::string_view argument);

// The folder commands.
void Home(FolderContext& context);
void Drive(FolderContext& context, std::string_view entry);
void Dir(FolderContext& context, std::string_view argument);
// What a command does with the current folder it takes.
enum class FolderUse {
  Browse,  // lists it, or names a file in it for the playlist
  Write,   // creates a file in it
};
// The context's current folder at the moment a command uses it, or nothing when the command must not:
// an earlier command of the same batch may have moved it anywhere, and the check after the batch comes
// too late. For Browse the folder must be inside the allowed folders unless the context may browse above
// its root; for Write it must be inside them in any case.
std::optional<std::string> CurrentFolderFor(const FolderContext& context, FolderUse use);

// After a request's commands: a context that may not browse above its root and whose current folder
// lies outside the allowed folders goes back to its root.
void EnforceAllowedFolders(FolderContext& context);

// The drives a client may pick: every drive from A: (DriveRange::FromA) or C: to Z: whose total size can
// be read, as "D:" or, when the volume has a label, "D: (Label)". Drives without a medium are left out
// without any prompt.
enum class DriveRange { FromA, FromC };
TextList ListDrives(DriveRange range);

}  // namespace qf
