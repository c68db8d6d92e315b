#pragma once
// The settings store: quenforth.ini, mime.ini, iplist.ini and user.ini in the plug-in's data folder.
//
// The current values live in the core object as one immutable record (TQuenforth::CurrentSettings), which
// commands, the timer and the windows replace whole when they change a value. Every function here runs on
// the player's thread.

#include <string>

#include "core/settingsdata.h"

namespace qf {

class TQuenforth;

// Reads quenforth.ini, mime.ini, iplist.ini and user.ini into the core object, on the player's thread
// before the server starts: the settings record, the extension, whitelist and user lists, the skin
// selection; volume and balance go to the player. With useCache on it asks the cache thread for a rebuild
// (CacheRefreshPending).
void LoadSettings(TQuenforth& core);

// Writes quenforth.ini (in place: other keys and comments stay), then iplist.ini, then user.ini, each as a
// new file that replaces the old one. A file that cannot be written keeps its previous contents; a failed
// user.ini is reported in a message box. False when any file failed.
bool SaveSettings(TQuenforth& core);
// SaveSettings with `settings` as they are, volume and balance included: for editing the files of a
// player that is not running.
bool SaveSettingsFiles(TQuenforth& core, const Settings& settings);

// Reads mime.ini: the key names of section "mime", in file order, become the template extensions; their
// values (default "text/html") the content types. Without the file no document is a template.
void LoadMimeTypes(TQuenforth& core);

}  // namespace qf
