#include "commands/commands.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "browse/folders.h"
#include "commands/maintenance.h"
#include "commands/powerstate.h"
#include "core/inifile.h"
#include "core/pathrules.h"
#include "core/quenforth.h"
#include "core/records.h"
#include "core/session.h"
#include "platform/files.h"
#include "player/id3v2library.h"
#include "player/player.h"
#include "settings/skins.h"
#include "ui/configform.h"
#include "ui/configwindow.h"

namespace qf {
namespace {

constexpr char kNotAllowed[] = "Operation not allowed.</br>";

// A value that is not the number a command needs: stops the batch.
struct ConversionError : std::runtime_error {
  ConversionError() : std::runtime_error("not a number") {}
};

// What must be true of the user before a command runs. Checked in one place, before any handler.
enum class Needs {
  Nothing,
  ChangeState,
  AddFiles,           // and within the tracks-per-hour quota
  AddFilesNoQuota,    // addrand: not counted against the quota
  AddFilesAndChange,  // file: both, and within the quota
  Download,
  RemoveAll,
  RemoveHisOrAll,
  Admin,
  AdminForbidden,  // logfile: a refusal answers 403 instead of a message
  AdminSilent,     // saveplaylist: a refusal says nothing
  ChangeSkin,      // the user's ChangeSkin, or AllowSkins without a user
};

// One skin.ini change of `_setini`, written with the batch's others at its end.
struct IniChange {
  std::string file;
  std::string section;
  std::string key;
  std::string value;
};

struct Batch {
  TQuenforth& core;
  TPlayer& player;
  UserClass* user;
  SessionData& session;
  FolderContext folders;
  std::map<int, std::string> removals;  // playlist index -> the file its song id named, deleted at the end
  std::vector<IniChange> iniChanges;
};

struct Command {
  Batch& batch;
  std::string name;
  std::string value;
  bool trackReserved = false;  // one of the user's tracks of this hour is taken for this command

  TQuenforth& Core() { return batch.core; }
  TPlayer& Player() { return batch.player; }
  UserClass* User() { return batch.user; }
  SessionData& Session() { return batch.session; }
  void Refuse() { batch.session.ErrorMessage += kNotAllowed; }

  int Integer() const {
    std::optional<int> number = ParseIntOrHex(TrimLeft(value));
    if (!number) throw ConversionError();
    return *number;
  }
  double Number() const {
    std::string_view text = Trim(value);
    double number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    // "nan" and "inf" are numbers to from_chars, but no position.
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(number)) throw ConversionError();
    return number;
  }
};

using Handler = void (*)(Command&);

// What a command does: Views only looks (or sends a file); Changes changes the player, the playlist,
// files, folders or settings, and is refused for requests from pages of other sites.
enum class Effect { Views, Changes };

struct Row {
  Handler handler;
  Needs needs;
  Effect effect = Effect::Changes;
};

// ---- Shared pieces.

// The full path a file command names: relative to the current folder unless full paths are in use or
// it is an address. Empty when the argument is refused, or when it is relative to a current folder the
// command may not use. A control character would end the line the path is written on in the playlist
// and in saved playlists, and a line that starts with "#" is read back as a comment or a title. A device
// name would have the player read from a device (AUX, COM1, CON) that may never answer.
std::string FilePath(Command& command, bool addressesAsIs) {
  const std::string& value = command.value;
  if (value == ".." || HasRefusedSequence(value) || HasControlCharacter(value) || StartsText(value, "#") ||
      (!StartsText(value, "http://") && NamesDevice(value)))
    return std::string();
  if (!command.Core().CurrentSettings.Get()->useFullPath && !(addressesAsIs && StartsText(value, "http://"))) {
    std::optional<std::string> folder = CurrentFolderFor(command.batch.folders, FolderUse::Browse);
    if (!folder) return std::string();
    if (folder->empty() || folder->back() != '\\') *folder += '\\';
    return *folder + value;
  }
  std::string bare = command.batch.folders.Current();
  while (!bare.empty() && bare.back() == '\\') bare.pop_back();
  if (SameText(value, bare)) return std::string();
  return value;
}

// A line of its own: when two users add the same file, the first one's line is the one found.
void AddOwner(Command& command, const std::string& path) {
  if (!command.User()) return;
  std::string line = command.Core().CrcKey(path) + "=" + command.User()->Login;
  Modify(command.Core().TrackOwners, [&](TextList& owners) { owners.push_back(std::move(line)); });
}

// Held by the commands that change the player's playlist, from the check of what an entry holds to the
// change, so that no other request's change comes between. Never taken on the player's own thread, which
// the holder waits for.
std::mutex& PlaylistEdits() {
  static std::mutex edits;
  return edits;
}

// The listed playlist entry with song id `id`, when the player's entry there still holds the same file:
// another client may have changed the playlist since it was listed.
struct ListedEntry {
  int index;
  std::string file;
};

std::optional<ListedEntry> SongEntry(Command& command, const std::string& id) {
  Snapshot<PlaylistEntryList> entries = command.Core().PlaylistEntries.Get();
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const std::string& file = (*entries)[i].FileName;
    if (!SameText(command.Core().SongId(file, static_cast<int>(i)), id)) continue;
    int index = static_cast<int>(i);
    if (command.Player().GetPlaylistFile(index) != file) return std::nullopt;
    return ListedEntry{index, file};
  }
  return std::nullopt;
}

// The file-name part of a document: what follows its last "/".
std::string DocumentName(const std::string& document) {
  std::size_t slash = document.rfind('/');
  return slash == std::string::npos ? document : document.substr(slash + 1);
}

// ---- Playback.

void Nothing(Command&) {}

void Play(Command& c) {
  if (c.Player().GetListLength() != 0) c.Player().Play();
}

void PlayIfNotPlaying(Command& c) {
  if (c.Player().GetListLength() != 0 && c.Player().IsPlaying() != 1) c.Player().Play();
}

void PlayAddedIfNotPlaying(Command& c) {
  if (c.Player().GetListLength() != 0 && c.Player().IsPlaying() != 1) c.Player().PlayIndex(c.Core().FirstAddedIndex);
}

void Pause(Command& c) {
  if (c.Player().GetListLength() != 0) c.Player().Pause();
}

void Stop(Command& c) { c.Player().Stop(); }
void Forward(Command& c) { c.Player().Forward5s(); }
void Reverse(Command& c) { c.Player().Rewind5s(); }
void Next(Command& c) { c.Player().Next(); }
void Prev(Command& c) { c.Player().Previous(); }

void AddRandom(Command& c) {
  std::lock_guard edits(PlaylistEdits());
  c.Core().FirstAddedIndex = c.Player().GetListLength();
  AppendRandomTracks(c.Core());
  if (c.User() && c.Player().GetListLength() > c.Core().FirstAddedIndex)
    AddOwner(c, c.Player().GetPlaylistFile(c.Core().FirstAddedIndex));
}

void Repeat(Command& c) { c.Player().SetRepeatMode((c.Player().GetRepeatMode() + 1) % 2); }
void RepeatAll(Command& c) { c.Player().SetRepeatMode((c.Player().GetRepeatMode() + 1) % 3); }
void Shuffle(Command& c) { c.Player().SetShuffle(!c.Player().GetShuffle()); }
void RemovePlayedToggle(Command& c) {
  Modify(c.Core().CurrentSettings, [](Settings& settings) { settings.RemovePlayed = !settings.RemovePlayed; });
}
void KeepAliveToggle(Command& c) {
  Modify(c.Core().CurrentSettings,
         [](Settings& settings) { settings.KeepPlaylistAlive = !settings.KeepPlaylistAlive; });
}

void Clear(Command& c) {
  std::lock_guard edits(PlaylistEdits());
  c.Player().Stop();
  c.Player().ClearPlaylist();
}

// ---- Folders and files.

void HomeCommand(Command& c) { Home(c.batch.folders); }
void DriveCommand(Command& c) { Drive(c.batch.folders, c.value); }
void DirCommand(Command& c) { Dir(c.batch.folders, c.value); }

// A file the player took: it counts against the user's quota (taken in Permitted) and gets its owner line.
void CountTrack(Command& c, const std::string& path) {
  if (!c.User()) return;
  c.trackReserved = false;
  AddOwner(c, path);
}

void File(Command& c) {
  std::string path = FilePath(c, true);
  if (path.empty()) return;
  std::lock_guard edits(PlaylistEdits());
  int length = c.Player().GetListLength();
  if (c.Player().InsertFile(TPlayer::InsertAt::End, path)) CountTrack(c, path);
  if (c.Player().GetListLength() != 0) c.Player().PlayIndex(length);
}

void Add(Command& c) {
  std::string path = FilePath(c, true);
  if (path.empty()) return;
  std::lock_guard edits(PlaylistEdits());
  c.Core().FirstAddedIndex = c.Player().GetListLength();
  if (c.Player().InsertFile(TPlayer::InsertAt::End, path)) CountTrack(c, path);
}

void Insert(Command& c) {
  std::string path = FilePath(c, true);
  if (path.empty()) return;
  std::lock_guard edits(PlaylistEdits());
  c.Core().FirstAddedIndex = c.Player().GetListLength();
  if (c.Player().InsertFile(TPlayer::InsertAt::AfterCurrent, path)) CountTrack(c, path);
}

void Download(Command& c) {
  std::string path = FilePath(c, false);
  if (path.empty()) return;
  if (!c.Core().CurrentSettings.Get()->allowSrcOutside && !InsideAllowedFolders(path, c.batch.folders)) return;
  // The default root folder holds the data folder: its settings, accounts and log are never handed out.
  if (MayReachFolder(path, c.Core().DataFolder())) {
    c.Session().ServeFile = "forbidden";
    return;
  }
  if (platform::FileExists(path)) c.Session().ServeFile = path;
}

void Src(Command& c) {
  if (c.value == ".." || HasRefusedSequence(c.value)) return;  // ignored: the page is answered
  std::string name = DocumentName(c.Session().Document);
  // Only a plain file name of the document: "..", "\", "/" or ":" would reach any file of the disk.
  if (!IsPlainName(name) ||
      !(c.Core().CurrentSettings.Get()->allowSrcOutside || IsInside(c.value, c.batch.folders.Root()))) {
    c.Session().ServeFile = "forbidden";
    return;
  }
  std::string folder = c.value;
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  std::string path = folder + name;
  c.Session().ServeFile = MayReachFolder(path, c.Core().DataFolder()) ? "forbidden" : path;
}

void AlbumArt(Command& c) {
  std::shared_ptr<const TID3v2Library> library = TakeTagLibrary(c.Core().TagLibrary, c.Core().DataFolder());
  if (!library) {
    c.Session().ErrorMessage = "ID3v2Library.dll not found.</br>";
    return;
  }
  std::string file = c.Session().UseFile;
  if (file.empty() || !platform::FileExists(file)) file = c.Player().GetPlaylistFile(c.Player().GetListPos());
  std::string cacheFolder = c.Core().CacheFolder.Get();
  std::optional<std::string> name;
  try {
    name = library->CachePicture(file, cacheFolder);
  } catch (const ID3v2LibraryError&) {
    return;  // the library's failures are ignored: no picture and no message
  }
  if (name)
    c.Session().ServeFile = cacheFolder + "\\" + *name;
  else
    c.Session().ErrorMessage = "No album art found.</br>";
}

void Cache(Command& c) {
  // Pages write the name form-style ("+" for a blank, AlbumArt's output), so it is decoded that way, once,
  // from the path as sent. A name with folder parts would reach files outside the cache.
  std::string name = UrlDecode(DocumentName(c.Session().UnparsedDocument), PlusMeans::Blank);
  c.Session().ServeFile = IsPlainName(name) ? c.Core().CacheFolder.Get() + "\\" + name : "forbidden";
}

void LogFile(Command& c) { c.Session().ServeFile = c.Core().CurrentSettings.Get()->logfile; }

void SavePlaylist(Command& c) {
  // The name is the playlist's file name in the current folder, nothing else: no device, no name Windows
  // would trim to another one.
  if (!IsSafeFileName(c.value)) return;
  std::optional<std::string> folder = CurrentFolderFor(c.batch.folders, FolderUse::Write);
  if (!folder) return;
  std::string target = *folder + "\\" + c.value + ".m3u";
  if (MayReachFolder(target, c.Core().DataFolder())) return;
  c.Player().WritePlaylist();
  platform::CopyFileA(c.Core().PlaylistFolder.Get() + "\\winamp.m3u", target, false);
}

// ---- The player's windows and the computer.

void Execute(Command& c) { c.Player().StartVisualization(); }
void Restart(Command& c) { c.Player().RestartPlayer(); }
void Minimize(Command& c) { c.Player().Minimize(); }
void Fullscreen(Command& c) { c.Player().ToggleFullscreen(); }
void Close(Command& c) { c.Core().ShuttingDown = true; }

// A global switch that is off refuses a logged-in administrator aloud and everyone else silently.
bool SwitchedOn(Command& c, const Flag& on) {
  if (on) return true;
  if (c.User()) c.Refuse();
  return false;
}

void Standby(Command& c) {
  if (!SwitchedOn(c, c.Core().CurrentSettings.Get()->allowShutdown)) return;
  CPowerState power;
  power.Standby();
}

void Reboot(Command& c) {
  if (SwitchedOn(c, c.Core().CurrentSettings.Get()->allowShutdown)) TLogoff().Reboot();
}

void Shutdown(Command& c) {
  if (SwitchedOn(c, c.Core().CurrentSettings.Get()->allowShutdown)) TLogoff().PowerOff();
}

void Lock(Command& c) {
  if (SwitchedOn(c, c.Core().CurrentSettings.Get()->allowLocking)) c.Player().SetUnlocked(!c.Player().IsUnlocked());
}

// ---- Volume, balance, equaliser, position.

void Volume(Command& c) { c.Player().SetVolume(std::clamp(c.Integer(), 0, 100)); }
// Sums in 64 bits: the step is any 32-bit number.
int Percent(std::int64_t value) { return static_cast<int>(std::clamp<std::int64_t>(value, 0, 100)); }
void IncVol(Command& c) { c.Player().SetVolume(Percent(std::int64_t{c.Player().GetVolume()} + c.Integer())); }
void DecVol(Command& c) { c.Player().SetVolume(Percent(std::int64_t{c.Player().GetVolume()} - c.Integer())); }
void Balance(Command& c) { c.Player().SetBalance(std::clamp(c.Integer(), -100, 100)); }
void Equalizer(Command& c) { c.Player().SetEqBand(11, 1 - c.Player().GetEqBand(11)); }

void SetEq(Command& c) {
  int band = ParseInt(c.name.substr(0, c.name.find('_'))).value_or(0);
  int percent = ParseInt(c.value).value_or(0);
  if (band < 0 || band > 12) return;
  // In floating point: 100 - percent wraps for the lowest 32-bit numbers; the quotient always fits.
  c.Player().SetEqBand(band, band < 11 ? static_cast<int>((100.0 - percent) / 3.22) : percent);
}

void TrackPos(Command& c) {
  double percent = std::clamp(c.Number(), 0.0, 100.0);
  double milliseconds = percent * c.Player().GetLength(-1) * 10;  // up to a thousand times the length
  c.Player().SetPositionMs(static_cast<int>(std::min(milliseconds, double{std::numeric_limits<int>::max()})));
}

// ---- Skin settings.

// A section name that cannot break the header line it is written on.
bool IsSectionName(std::string_view name) {
  return !HasControlCharacter(name) && name.find_first_of("[]") == std::string_view::npos;
}

// A key that reads back as itself: not a comment, not a section header, no "=" inside.
bool IsKeyName(std::string_view key) {
  std::string_view trimmed = Trim(key);
  return !trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '[' && !HasControlCharacter(key) &&
         key.find('=') == std::string_view::npos;
}

// What inifile can read back of one value.
constexpr std::size_t kMaxIniValue = 2047;
// skin.ini is read whole by every inifile tag of every page.
constexpr std::size_t kMaxSkinIni = 256 * 1024;

void IniSection(Command& c) {
  if (!IsSectionName(c.value)) return;
  if (c.User())
    c.User()->INISection.Set(c.value);
  else
    Modify(c.Core().CurrentSettings, [&](Settings& settings) { settings.INISection = c.value; });
}

void SetIni(Command& c) {
  std::string key = c.name.substr(0, c.name.find('_'));
  Snapshot<Settings> settings = c.Core().CurrentSettings.Get();
  std::string skin = c.User() ? c.User()->Skin.Get() : settings->Skin;
  std::string section = c.User() ? c.User()->INISection.Get() : settings->INISection;
  if (!IsSafeFileName(skin) || !IsKeyName(key) || !IsSectionName(section) || c.value.size() > kMaxIniValue) return;
  c.batch.iniChanges.push_back({c.Core().DataFolder() + "\\" + skin + "\\skin.ini", section, key, c.value});
}

// One read-change-write per skin.ini for all of a batch's keys, under one lock: two pages saving settings
// at once must not drop each other's keys. A file that would grow past its bound is left as it was.
void WriteIniChanges(const std::vector<IniChange>& changes) {
  static std::mutex iniLock;
  std::set<std::string> files;
  for (const IniChange& change : changes) files.insert(change.file);
  for (const std::string& file : files) {
    std::lock_guard guard(iniLock);
    IniFile ini(file);
    std::size_t before = ini.Text().size();
    for (const IniChange& change : changes)
      if (change.file == file) ini.WriteString(change.section, change.key, change.value);  // line breaks: blanks
    std::size_t after = ini.Text().size();
    if (after > kMaxSkinIni && after > before) continue;
    ini.UpdateFile();
  }
}

// ---- The playlist by song id.

void PlaySong(Command& c) {
  std::lock_guard edits(PlaylistEdits());
  if (std::optional<ListedEntry> entry = SongEntry(c, c.value)) c.Player().PlayIndex(entry->index);
}

void MoveUp(Command& c) {
  std::lock_guard edits(PlaylistEdits());
  if (std::optional<ListedEntry> entry = SongEntry(c, c.value))
    c.Player().SwapIndex(std::max(entry->index - 1, 0), entry->index);
}

void MoveDown(Command& c) {
  std::lock_guard edits(PlaylistEdits());
  if (std::optional<ListedEntry> entry = SongEntry(c, c.value)) c.Player().SwapIndex(entry->index + 1, entry->index);
}

void RemoveSong(Command& c) {
  std::optional<ListedEntry> entry = SongEntry(c, c.value);
  if (!entry) return;
  UserClass* user = c.User();
  bool owner = false;
  if (user && !user->remove_all) {
    std::optional<std::string> login = ValueOfName(*c.Core().TrackOwners.Get(), c.Core().CrcKey(entry->file));
    owner = login && SameText(*login, user->Login);
  }
  if (!user || user->remove_all || (user->remove_his && owner)) c.batch.removals.emplace(entry->index, entry->file);
}

// ---- The session and the context.

// A character-set name ("utf-8", "iso-8859-1", "x-mac-roman", "ibm:437"): pages print it inside markup.
bool IsCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 40) return false;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
          c == '.' || c == ':'))
      return false;
  return true;
}

void Charset(Command& c) {
  if (!IsCharsetName(c.value)) return;
  if (c.User())
    c.User()->Charset.Set(c.value);
  else
    Modify(c.Core().CurrentSettings, [&](Settings& settings) { settings.Charset = c.value; });
}

void Rating(Command& c) { c.Player().SetMediaLibraryItemField(c.Session().UseFile, "RATING", c.value); }
void Query(Command& c) { c.Session().MediaLibraryQuery = c.value; }
void SearchMl(Command& c) { c.Session().MediaLibrarySearch = c.value; }
void MlPage(Command& c) { c.Session().MediaLibraryPage = c.value; }
void SearchPlaylist(Command& c) { c.Session().PlaylistFilter = c.value; }
// The file albumart reads its picture from: never a device, whose reading may never end.
void UseFile(Command& c) { c.Session().UseFile = NamesDevice(c.value) ? std::string() : c.value; }
void SearchFiles(Command& c) { c.Session().SearchString = c.value; }
void SearchDirectories(Command& c) { c.Session().SearchForDirectories = SameText(c.value, "true"); }
void SearchForFiles(Command& c) { c.Session().SearchForFiles = SameText(c.value, "true"); }
void SearchSubdirs(Command& c) { c.Session().SearchInSubdirs = SameText(c.value, "true"); }

// The skin list was refreshed before the privilege test (Permitted). Only a skin of that list is taken, as
// the list spells it: any other name would leave every page of its users answering 403 or 404.
void Skin(Command& c) {
  Snapshot<SortedTextList> skins = c.Core().SkinNames.Get();
  std::ptrdiff_t index = skins->IndexOf(c.value);
  if (index < 0 || !IsSafeFileName((*skins)[static_cast<std::size_t>(index)])) return;
  std::string skin = (*skins)[static_cast<std::size_t>(index)];
  if (c.User()) {
    c.User()->Skin.Set(skin);
    return;
  }
  Modify(c.Core().CurrentSettings, [&](Settings& settings) { settings.Skin = skin; });
}

// Commands matched by their whole name, without regard to case.
const std::unordered_map<std::string, Row>& ExactCommands() {
  static const std::unordered_map<std::string, Row> table{
      {"refresh", {Nothing, Needs::Nothing, Effect::Views}},
      {"play", {Play, Needs::ChangeState}},
      {"playifnotplaying", {PlayIfNotPlaying, Needs::ChangeState}},
      {"playaddedifnotplaying", {PlayAddedIfNotPlaying, Needs::ChangeState}},
      {"pause", {Pause, Needs::ChangeState}},
      {"stop", {Stop, Needs::ChangeState}},
      {"forward", {Forward, Needs::ChangeState}},
      {"reverse", {Reverse, Needs::ChangeState}},
      {"next", {Next, Needs::ChangeState}},
      {"prev", {Prev, Needs::ChangeState}},
      {"addrand", {AddRandom, Needs::AddFilesNoQuota}},
      {"repeat", {Repeat, Needs::ChangeState}},
      {"repeatall", {RepeatAll, Needs::ChangeState}},
      {"shuffle", {Shuffle, Needs::ChangeState}},
      {"removeplayed", {RemovePlayedToggle, Needs::Admin}},
      {"keepplaylistalive", {KeepAliveToggle, Needs::Admin}},
      {"clear", {Clear, Needs::RemoveAll}},
      {"home", {HomeCommand, Needs::Nothing}},
      {"drive", {DriveCommand, Needs::Nothing}},
      {"dir", {DirCommand, Needs::Nothing}},
      {"file", {File, Needs::AddFilesAndChange}},
      {"add", {Add, Needs::AddFiles}},
      {"insert", {Insert, Needs::AddFiles}},
      {"download", {Download, Needs::Download, Effect::Views}},
      {"src", {Src, Needs::Nothing, Effect::Views}},
      {"albumart", {AlbumArt, Needs::Nothing, Effect::Views}},
      {"cache", {Cache, Needs::Nothing, Effect::Views}},
      {"logfile", {LogFile, Needs::AdminForbidden, Effect::Views}},
      {"saveplaylist", {SavePlaylist, Needs::AdminSilent}},
      {"execute", {Execute, Needs::Admin}},
      {"restart", {Restart, Needs::Admin}},
      {"minimize", {Minimize, Needs::Admin}},
      {"fullscreen", {Fullscreen, Needs::Admin}},
      {"close", {Close, Needs::Admin}},
      {"standby", {Standby, Needs::Admin}},
      {"reboot", {Reboot, Needs::Admin}},
      {"shutdown", {Shutdown, Needs::Admin}},
      {"lock", {Lock, Needs::Admin}},
      {"volume", {Volume, Needs::ChangeState}},
      {"equalizer", {Equalizer, Needs::ChangeState}},
      {"inisection", {IniSection, Needs::Admin}},
      {"trackpos", {TrackPos, Needs::ChangeState}},
      {"balance", {Balance, Needs::ChangeState}},
      {"incvol", {IncVol, Needs::ChangeState}},
      {"decvol", {DecVol, Needs::ChangeState}},
      {"playsong", {PlaySong, Needs::ChangeState}},
      {"playtrack", {PlaySong, Needs::ChangeState}},
      {"moveup", {MoveUp, Needs::ChangeState}},
      {"movedn", {MoveDown, Needs::ChangeState}},
      {"removesong", {RemoveSong, Needs::RemoveHisOrAll}},
      {"removetrack", {RemoveSong, Needs::RemoveHisOrAll}},
      {"charset", {Charset, Needs::Nothing}},
      {"rating", {Rating, Needs::ChangeState}},
      {"query", {Query, Needs::Nothing, Effect::Views}},
      {"search_ml", {SearchMl, Needs::Nothing, Effect::Views}},
      {"ml_page", {MlPage, Needs::Nothing, Effect::Views}},
      {"search_playlist_string", {SearchPlaylist, Needs::Nothing, Effect::Views}},
      {"usefile", {UseFile, Needs::Nothing, Effect::Views}},
      {"search_files_string", {SearchFiles, Needs::Nothing, Effect::Views}},
      {"search_for_directories", {SearchDirectories, Needs::Nothing, Effect::Views}},
      {"search_for_files", {SearchForFiles, Needs::Nothing, Effect::Views}},
      {"search_in_subdirs", {SearchSubdirs, Needs::Nothing, Effect::Views}},
      {"skin", {Skin, Needs::ChangeSkin}},
  };
  return table;
}

// Commands matched by a part of their name, in this order, after the whole names.
struct ContainsRow {
  const char* part;
  Row row;
};
constexpr ContainsRow kContainsCommands[] = {
    {"_seteq", {SetEq, Needs::ChangeState}},
    {"_setini", {SetIni, Needs::Admin}},
};

const Row* FindCommand(const std::string& name) {
  const auto& exact = ExactCommands();
  auto found = exact.find(LowerCase(name));
  if (found != exact.end()) return &found->second;
  for (const ContainsRow& row : kContainsCommands)
    if (ContainsText(name, row.part)) return &row.row;
  return nullptr;
}

// Takes one of the user's tracks of this hour when the quota allows it, in one step: parallel requests
// of one user cannot all pass the test before any of them counts.
bool TakeTrack(UserClass& user) {
  std::int32_t taken = user.TracksThisHour.load();
  do {
    if (user.tracks_per_hour != 0 && taken >= user.tracks_per_hour) return false;
  } while (!user.TracksThisHour.compare_exchange_weak(taken, taken + 1));
  return true;
}

// Gives back a track taken for a command that added nothing; the hourly reset may have come between.
void GiveBackTrack(UserClass& user) {
  std::int32_t taken = user.TracksThisHour.load();
  while (taken > 0 && !user.TracksThisHour.compare_exchange_weak(taken, taken - 1)) {
  }
}

// Whether the command may run; a refusal leaves its answer (a message, 403, or nothing).
bool Permitted(Command& command, Needs needs) {
  // A skin change lists the skins again (and names an empty global skin "base") whether or not it is
  // allowed.
  if (needs == Needs::ChangeSkin) RefreshSkins(command.Core());
  UserClass* user = command.User();
  if (needs == Needs::ChangeSkin && !user) {
    if (command.Core().CurrentSettings.Get()->allowSkins) return true;
    command.Refuse();
    return false;
  }
  if (!user) return true;
  bool allowed = true;
  switch (needs) {
    case Needs::Nothing:
      break;
    case Needs::ChangeState:
      allowed = user->change_state;
      break;
    case Needs::AddFiles:
    case Needs::AddFilesAndChange:
      allowed = user->add_files && (needs == Needs::AddFiles || user->change_state);
      if (allowed) allowed = command.trackReserved = TakeTrack(*user);
      break;
    case Needs::AddFilesNoQuota:
      allowed = user->add_files;
      break;
    case Needs::Download:
      allowed = user->download;
      break;
    case Needs::RemoveAll:
      allowed = user->remove_all;
      break;
    case Needs::RemoveHisOrAll:
      allowed = user->remove_all || user->remove_his;
      break;
    case Needs::Admin:
    case Needs::AdminForbidden:
    case Needs::AdminSilent:
      allowed = user->admin;
      break;
    case Needs::ChangeSkin:
      allowed = user->ChangeSkin;
      break;
  }
  if (allowed) return true;
  if (needs == Needs::AdminForbidden)
    command.Session().ServeFile = "forbidden";
  else if (needs != Needs::AdminSilent)
    command.Refuse();
  return false;
}

void EndBatch(Batch& batch) {
  TQuenforth& core = batch.core;
  TPlayer& player = batch.player;
  WriteIniChanges(batch.iniChanges);
  // From the last entry to the first, each once, so the earlier indices stay valid; an entry that no longer
  // holds the file its song id named (another request changed the playlist meanwhile) stays.
  if (!batch.removals.empty()) {
    std::lock_guard edits(PlaylistEdits());
    for (auto removal = batch.removals.rbegin(); removal != batch.removals.rend(); ++removal) {
      auto& [index, file] = *removal;
      if (player.GetPlaylistFile(index) != file) continue;
      std::string key = core.CrcKey(file);
      Modify(core.TrackOwners, [&](TextList& owners) { DeleteName(owners, key); });
      if (index == player.GetListPos()) player.Stop();
      player.DeleteIndex(index);
    }
  }
  int position = player.GetPosition();
  int listPosition = player.GetListPos();
  core.TrackPositionSeconds = core.PreviousPositionSeconds = position;
  core.PlaylistPosition = core.PreviousPlaylistPosition = listPosition;
  std::uint64_t signature = core.CrcTable.Compute(player.GetPlaylistFile(listPosition) + std::to_string(position));
  core.PlaybackSignature = core.PreviousPlaybackSignature = signature;
  EnforceAllowedFolders(batch.folders);
  // The switches and the default skin that commands may have changed, shown on the window's own thread.
  if (core.ConfigWindow)
    core.ConfigWindow->Post([settings = core.CurrentSettings.Get()](TConfigWindow& window) {
      if (window.Form) window.Form->ShowSwitches(*settings);
    });
}

}  // namespace

std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  for (const auto& [name, row] : ExactCommands()) names.push_back(name);
  for (const ContainsRow& row : kContainsCommands) names.push_back(row.part);
  std::sort(names.begin(), names.end());
  return names;
}

void RunCommands(TQuenforth& core, const TextList& params, UserClass* user, SessionData& session) {
  Batch batch{core, *core.Player, user, session, FolderContext(core, user), {}, {}};
  for (const std::string& param : params) {
    std::size_t equals = param.find('=');
    Command command{batch, param.substr(0, equals), equals == std::string::npos ? "" : param.substr(equals + 1)};
    const Row* row = FindCommand(command.name);
    if (!row) {
      // The name and value go into the page: as text, never as markup.
      session.ErrorMessage +=
          "Unknown command: " + HtmlEncode(command.name) + "=" + HtmlEncode(command.value) + "</br>";
      continue;
    }
    if (session.FromAnotherSite && row->effect == Effect::Changes) {
      command.Refuse();
      continue;
    }
    if (!Permitted(command, row->needs)) continue;
    bool stop = false;
    try {
      row->handler(command);
    } catch (...) {
      stop = true;  // a value that is not a number, or any other failure: the rest of the batch is skipped
    }
    if (command.trackReserved) GiveBackTrack(*user);
    if (stop) break;
  }
  EndBatch(batch);
}

}  // namespace qf
