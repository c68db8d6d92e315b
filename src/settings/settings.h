#pragma once
// The settings store: quenforth.ini, mime.ini (and, with user management, user.ini and iplist.ini) in
// the plug-in's data folder.

#include <cstdint>
#include <string>

namespace qf {

class TQuenforth;

// What the configuration window shows and the server is started with.
struct ServerSettings {
  int ServerPort = 80;  // 1..65535, or 0 for any free port
  // Why ServerPort could not be taken from quenforth.ini (a value that is no number, or out of range);
  // empty when it could. A start of the server fails with this text.
  std::string PortError;
  bool BindLocal = false;
};

// Reads the settings into the core object and `server`, on the player's thread before the server starts.
void LoadSettings(TQuenforth& core, ServerSettings& server);

// Reads mime.ini: the key names of section "mime", in file order, become the template extensions; their
// values (default "text/html") the content types. Without the file no document is a template.
void LoadMimeTypes(TQuenforth& core);

}  // namespace qf
