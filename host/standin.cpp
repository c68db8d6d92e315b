#include "standin.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <future>
#include <random>

#include "core/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/window.h"
#include "player/host_interface.h"

namespace host {

using namespace platform;
using namespace qf::host;

namespace {

constexpr UINT kCallMessage = WM_APP + 100;  // wParam: a std::function<void(PlayerState&)>*
constexpr UINT_PTR kClockTimer = 1;          // watches for the end of a track
constexpr UINT_PTR kStatusTimer = 2;         // the once-a-second status line

// The extensions the player plays, NUL-separated and ending in a double NUL as IPC_GET_EXTLIST answers.
constexpr char kExtensions[] = "MP3\0MP2\0MP1\0OGG\0OGA\0FLAC\0WAV\0M4A\0AAC\0WMA\0AIFF\0MID\0MIDI\0\0";

template <LRESULT (StandInPlayer::*Handler)(HWND, UINT, WPARAM, LPARAM)>
LRESULT QF_CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  auto* player = reinterpret_cast<StandInPlayer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return player ? (player->*Handler)(window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}

std::string MinutesSeconds(int milliseconds) {
  int seconds = std::max(milliseconds, 0) / 1000;
  return qf::Format("%02d:%02d", seconds / 60, seconds % 60);
}

std::vector<std::string> ExtensionList() {
  std::vector<std::string> list;
  for (const char* entry = kExtensions; *entry; entry += std::strlen(entry) + 1) list.emplace_back(entry);
  return list;
}

}  // namespace

StandInPlayer::StandInPlayer(PlayerOptions options) : options_(std::move(options)) {}

StandInPlayer::~StandInPlayer() {
  if (running_) Close();
  Join();
}

void StandInPlayer::Start(std::function<void(HWND)> onStarted, std::function<void()> onClosing) {
  onClosing_ = std::move(onClosing);
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ = std::thread([this, onStarted = std::move(onStarted), &started]() mutable {
    Run([&](HWND main) {
      started.set_value();
      if (onStarted) onStarted(main);
    });
  });
  ready.wait();
}

void StandInPlayer::Run(std::function<void(HWND)> onStarted) {
  state_.library.Scan(options_.libraryFolders, ExtensionList(),
                      [this](const std::string& path) -> const Metadata& { return MetadataOf(path); });
  if (options_.keepPlaylist) ReadPlaylist();

  RegisterClassA(WNDCLASSA{Procedure<&StandInPlayer::HandleMain>, nullptr, "Winamp v1.x"});
  RegisterClassA(WNDCLASSA{Procedure<&StandInPlayer::HandlePlaylistEditor>, nullptr, "Winamp PE"});
  RegisterClassA(WNDCLASSA{Procedure<&StandInPlayer::HandleEqualizer>, nullptr, "Winamp EQ"});
  RegisterClassA(WNDCLASSA{Procedure<&StandInPlayer::HandleMediaLibrary>, nullptr, "Winamp Library"});
  libraryGetWndMessage_ = RegisterWindowMessageA("LibraryGetWnd");
  playlistWindow_ = CreateWindowExA("Winamp PE", "Winamp Playlist Editor", nullptr, nullptr, this);
  equalizerWindow_ = CreateWindowExA("Winamp EQ", "Winamp Equalizer", nullptr, nullptr, this);
  libraryWindow_ = CreateWindowExA("Winamp Library", "Winamp Library", nullptr, nullptr, this);
  HWND main = CreateWindowExA("Winamp v1.x", "Winamp", nullptr, nullptr, this);
  mainWindow_ = main;
  SetTimer(main, kClockTimer, 20);
  if (options_.verbose) SetTimer(main, kStatusTimer, 1000);
  running_ = true;
  onStarted(main);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  running_ = false;
}

void StandInPlayer::Close() {
  if (HWND main = mainWindow_.load()) PostMessageA(main, WM_CLOSE, 0, 0);
  Join();
}

void StandInPlayer::Join() {
  if (thread_.joinable()) thread_.join();
}

void StandInPlayer::Call(const std::function<void(PlayerState&)>& work) {
  HWND main = mainWindow_.load();
  if (!main) return;
  SendMessageA(main, kCallMessage, reinterpret_cast<WPARAM>(&work), 0);
}

std::string StandInPlayer::PlaylistFile() {
  std::string folder = ExecutableFolder();
  std::string name = folder.substr(folder.find_last_of("\\/") + 1);
  return GetEnvironmentVariableA("APPDATA").value_or("C:") + "\\" + name + "\\winamp.m3u";
}

// ---- Playback on a clock.

int StandInPlayer::PositionMs() {
  if (state_.state == PlayState::Stopped) return 0;
  if (state_.state == PlayState::Paused) return positionAtMark_;
  auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - markTime_).count() * options_.speed;
  int position = positionAtMark_ + static_cast<int>(elapsed);
  const PlaylistEntry& entry = state_.playlist[static_cast<std::size_t>(state_.current)];
  return entry.lengthMs >= 0 ? std::min(position, entry.lengthMs) : position;
}

void StandInPlayer::PlayCurrent() {
  if (state_.playlist.empty()) return;
  state_.current = std::clamp(state_.current, 0, static_cast<int>(state_.playlist.size()) - 1);
  state_.state = PlayState::Playing;
  positionAtMark_ = 0;
  markTime_ = Clock::now();
}

void StandInPlayer::StopPlayback() {
  state_.state = PlayState::Stopped;
  positionAtMark_ = 0;
}

void StandInPlayer::Seek(int milliseconds) {
  if (state_.state == PlayState::Stopped) return;
  const PlaylistEntry& entry = state_.playlist[static_cast<std::size_t>(state_.current)];
  positionAtMark_ = std::max(0, entry.lengthMs >= 0 ? std::min(milliseconds, entry.lengthMs) : milliseconds);
  markTime_ = Clock::now();
}

void StandInPlayer::Advance(int step) {
  int count = static_cast<int>(state_.playlist.size());
  if (count == 0) return;
  if (state_.shuffle && count > 1) {
    static std::mt19937 random(std::random_device{}());
    int next = state_.current;
    while (next == state_.current) next = static_cast<int>(random() % static_cast<unsigned>(count));
    state_.current = next;
  } else {
    state_.current = ((state_.current + step) % count + count) % count;
  }
  if (state_.state != PlayState::Stopped) PlayCurrent();
}

// At the end of a track: count the play, then go on as repeat, shuffle and manual advance say.
void StandInPlayer::CheckTrackEnd() {
  if (state_.state != PlayState::Playing || state_.playlist.empty()) return;
  const PlaylistEntry& entry = state_.playlist[static_cast<std::size_t>(state_.current)];
  if (entry.lengthMs < 0 || PositionMs() < entry.lengthMs) return;
  state_.library.CountPlay(entry.path, static_cast<std::int64_t>(std::time(nullptr)));
  int count = static_cast<int>(state_.playlist.size());
  if (state_.manualAdvance) {
    StopPlayback();
  } else if (state_.shuffle && count > 1) {
    Advance(1);
  } else if (state_.current + 1 < count) {
    ++state_.current;
    PlayCurrent();
  } else if (state_.repeat) {
    state_.current = 0;
    PlayCurrent();
  } else {
    StopPlayback();
  }
}

void StandInPlayer::ReportStatus() {
  std::string line = "[player] ";
  if (state_.playlist.empty()) {
    line += "playlist empty";
  } else {
    const PlaylistEntry& entry = state_.playlist[static_cast<std::size_t>(state_.current)];
    const char* what = state_.state == PlayState::Playing  ? "playing"
                       : state_.state == PlayState::Paused ? "paused"
                                                           : "stopped";
    line +=
        qf::Format("%s %d/%zu %s/%s %s", what, state_.current + 1, state_.playlist.size(),
                   MinutesSeconds(PositionMs()).c_str(), MinutesSeconds(entry.lengthMs).c_str(), entry.title.c_str());
  }
  platform::ReportStatus(line);
}

// ---- The playlist.

const Metadata& StandInPlayer::MetadataOf(const std::string& path) {
  std::string key = qf::UpperCase(path);
  auto found = metadata_.find(key);
  if (found != metadata_.end()) return found->second;
  if (metadata_.size() >= kMetadataKept) metadata_.clear();
  return metadata_.emplace(std::move(key), ReadMetadata(path)).first->second;
}

PlaylistEntry StandInPlayer::MakeEntry(const std::string& path, const std::string& title) {
  PlaylistEntry entry;
  entry.path = path;
  if (qf::StartsText(path, "http://") || qf::StartsText(path, "https://")) {
    entry.title = title.empty() ? path : title;
    return entry;  // a stream: no length
  }
  const Metadata& metadata = MetadataOf(path);
  entry.title = title.empty() ? DisplayTitle(path, metadata) : title;
  entry.lengthMs = metadata.readable ? std::max(metadata.lengthMs, 0) : 0;  // a missing file ends at once
  entry.bitrate = metadata.bitrate;
  entry.sampleRate = metadata.sampleRate;
  entry.channels = metadata.channels;
  return entry;
}

void StandInPlayer::Insert(int index, const std::string& path) {
  int count = static_cast<int>(state_.playlist.size());
  index = std::clamp(index, 0, count);
  state_.playlist.insert(state_.playlist.begin() + index, MakeEntry(path));
  if (count > 0 && index <= state_.current) ++state_.current;
  PlaylistModified();
}

// As the player does: its main window hears of every change of the playlist, plug-ins listening there.
void StandInPlayer::PlaylistModified() {
  if (HWND window = mainWindow_) SendMessageA(window, WM_WA_IPC, 0, IPC_PLAYLIST_MODIFIED);
}

void StandInPlayer::Delete(int index) {
  int count = static_cast<int>(state_.playlist.size());
  if (index < 0 || index >= count) return;
  state_.playlist.erase(state_.playlist.begin() + index);
  PlaylistModified();
  if (index < state_.current) {
    --state_.current;
  } else if (index == state_.current) {
    StopPlayback();  // the entry that was playing is gone
    state_.current = std::min(state_.current, std::max(count - 2, 0));
  }
}

void StandInPlayer::Swap(int from, int to) {
  int count = static_cast<int>(state_.playlist.size());
  if (from < 0 || to < 0 || from >= count || to >= count) return;
  std::swap(state_.playlist[static_cast<std::size_t>(from)], state_.playlist[static_cast<std::size_t>(to)]);
  PlaylistModified();
  // The current entry is an entry, not a place: it moves with the swap.
  if (state_.current == from)
    state_.current = to;
  else if (state_.current == to)
    state_.current = from;
}

void StandInPlayer::WritePlaylist(bool durable) {
  std::string text = "#EXTM3U\r\n";
  for (const PlaylistEntry& entry : state_.playlist) {
    text += qf::Format("#EXTINF:%d,", entry.lengthMs < 0 ? -1 : entry.lengthMs / 1000);
    text += entry.title + "\r\n" + entry.path + "\r\n";
  }
  std::string file = PlaylistFile();
  std::string folder = file.substr(0, file.rfind('\\'));
  if (!DirectoryExists(folder)) CreateDirectoryA(folder);
  WriteFileReplacing(file, text, durable);  // a reader never sees half of it
}

void StandInPlayer::ReadPlaylist() {
  std::optional<std::string> text = ReadWholeFile(PlaylistFile());
  if (!text) return;
  std::string title;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string line(qf::Trim(std::string_view(*text).substr(start, end - start)));
    start = end + 1;
    if (line.empty() || qf::StartsText(line, "#EXTM3U")) continue;
    if (qf::StartsText(line, "#EXTINF:")) {
      std::size_t comma = line.find(',');
      title = comma == std::string::npos ? "" : line.substr(comma + 1);
      continue;
    }
    if (line[0] == '#') continue;
    state_.playlist.push_back(MakeEntry(line, title));
    title.clear();
  }
}

const char* StandInPlayer::Intern(const std::string& text) { return interned_.insert(text).first->c_str(); }

// ---- Messages.

LRESULT StandInPlayer::Ipc(LPARAM code, WPARAM argument) {
  auto index = static_cast<int>(argument);
  int count = static_cast<int>(state_.playlist.size());
  bool hasEntry = count > 0;
  const PlaylistEntry* entry = hasEntry ? &state_.playlist[static_cast<std::size_t>(state_.current)] : nullptr;
  bool loaded = entry && state_.state != PlayState::Stopped;
  switch (code) {
    case IPC_GETVERSION:
      return static_cast<LRESULT>(options_.version);
    case IPC_GETPLUGINDIRECTORY:
      return reinterpret_cast<LRESULT>(Intern(options_.pluginFolder));
    case IPC_GET_EXTLIST: {
      void* buffer = GlobalAlloc(sizeof kExtensions);
      std::memcpy(buffer, kExtensions, sizeof kExtensions);
      return reinterpret_cast<LRESULT>(buffer);  // the caller frees it
    }
    case IPC_ISPLAYING:
      return state_.state == PlayState::Playing ? 1 : state_.state == PlayState::Paused ? 3 : 0;
    case IPC_GETOUTPUTTIME:
      if (argument == 0) return loaded ? PositionMs() : -1;
      if (!entry) return -1;
      if (argument == 1) return entry->lengthMs < 0 ? -1 : entry->lengthMs / 1000;
      return entry->lengthMs;
    case IPC_JUMPTOTIME:
      if (!loaded) return -1;
      if (entry->lengthMs >= 0 && index >= entry->lengthMs) {
        Seek(entry->lengthMs);
        return 1;
      }
      Seek(index);
      return 0;
    case IPC_WRITEPLAYLIST:
      WritePlaylist(/*durable=*/false);  // asked for by every reader of the list
      return state_.current;
    case IPC_SETPLAYLISTPOS:
      if (index >= 0 && index < count) state_.current = index;
      return 0;
    case IPC_SETVOLUME:
      if (index != -666) state_.volume = std::clamp(index, 0, 255);
      return state_.volume;
    case IPC_SETPANNING:
      if (index != -666) state_.panning = std::clamp(index, -127, 127);
      return state_.panning;
    case IPC_GETLISTLENGTH:
      return count;
    case IPC_GETLISTPOS:
      return state_.current;
    case IPC_GETINFO:
      if (!loaded) return 0;
      if (argument == 0) return entry->sampleRate / 1000;
      if (argument == 1) return entry->bitrate;
      if (argument == 2) return entry->channels;
      return 0;
    case IPC_GETEQDATA:
      state_.selectedBand = index;
      if (index >= 0 && index < 10) return state_.bands[static_cast<std::size_t>(index)];
      if (index == 10) return state_.preamp;
      if (index == 11) return state_.equalizerOn ? 1 : 0;
      if (index == 12) return state_.autoload ? 1 : 0;
      return 0;
    case IPC_SETEQDATA: {
      int band = state_.selectedBand;
      if (band >= 0 && band < 10) state_.bands[static_cast<std::size_t>(band)] = std::clamp(index, 0, 63);
      if (band == 10) state_.preamp = std::clamp(index, 0, 63);
      if (band == 11) state_.equalizerOn = index != 0;
      if (band == 12) state_.autoload = index != 0;
      return 0;
    }
    case IPC_RESTARTWINAMP:
      ++state_.requests.restarts;
      return 0;
    case IPC_DELETE:
      state_.playlist.clear();
      state_.current = 0;
      StopPlayback();
      PlaylistModified();
      return 0;
    case IPC_GETPLAYLISTFILE:
      if (index < 0 || index >= count) return 0;
      return reinterpret_cast<LRESULT>(Intern(state_.playlist[static_cast<std::size_t>(index)].path));
    case IPC_GETPLAYLISTTITLE:
      if (index < 0 || index >= count) return 0;
      return reinterpret_cast<LRESULT>(Intern(state_.playlist[static_cast<std::size_t>(index)].title));
    case IPC_GET_SHUFFLE:
      return state_.shuffle ? 1 : 0;
    case IPC_GET_REPEAT:
      return state_.repeat ? 1 : 0;
    case IPC_SET_SHUFFLE:
      state_.shuffle = argument != 0;
      return 0;
    case IPC_SET_REPEAT:
      state_.repeat = argument != 0;
      return 0;
    case IPC_GET_MANUALPLADVANCE:
      return state_.manualAdvance ? 1 : 0;
    case IPC_SET_MANUALPLADVANCE:
      state_.manualAdvance = argument != 0;
      return 0;
    case IPC_ENABLEDISABLE_ALL_WINDOWS: {
      bool enable = argument != kDisableAllWindows;
      state_.windowsEnabled = enable;
      for (HWND window : {mainWindow_.load(), playlistWindow_, equalizerWindow_, libraryWindow_})
        EnableWindow(window, enable ? 1 : 0);
      return 0;
    }
    case IPC_GETWND:
      if (argument == IPC_GETWND_PE) return reinterpret_cast<LRESULT>(playlistWindow_);
      if (argument == IPC_GETWND_EQ) return reinterpret_cast<LRESULT>(equalizerWindow_);
      return 0;  // no mini-browser, no video window
    case IPC_GET_EXTENDED_FILE_INFO: {
      auto* request = reinterpret_cast<extendedFileInfoStruct*>(argument);
      if (!request || !request->filename || !request->metadata || !request->ret || request->retlen == 0) return 0;
      const Metadata& metadata = MetadataOf(request->filename);
      std::string field = request->metadata, value;
      if (qf::SameText(field, "Artist"))
        value = metadata.artist;
      else if (qf::SameText(field, "Title"))
        value = metadata.title;
      else if (qf::SameText(field, "Album"))
        value = metadata.album;
      else if (qf::SameText(field, "AlbumArtist"))
        value = metadata.albumArtist;
      else if (qf::SameText(field, "Genre"))
        value = metadata.genre;
      else if (qf::SameText(field, "Comment"))
        value = metadata.comment;
      else if (qf::SameText(field, "Year") && metadata.year > 0)
        value = std::to_string(metadata.year);
      else if (qf::SameText(field, "Track") && metadata.track > 0)
        value = std::to_string(metadata.track);
      else if (qf::SameText(field, "Length") && metadata.lengthMs >= 0)
        value = std::to_string(metadata.lengthMs);
      else if (qf::SameText(field, "Bitrate") && metadata.bitrate > 0)
        value = std::to_string(metadata.bitrate);
      else if (qf::SameText(field, "Samplerate") && metadata.sampleRate > 0)
        value = std::to_string(metadata.sampleRate);
      if (value.empty()) return 0;
      std::size_t length = std::min(value.size(), request->retlen - 1);
      std::memcpy(request->ret, value.data(), length);
      request->ret[length] = '\0';
      return 1;
    }
    case IPC_REGISTER_WINAMP_IPCMESSAGE:
      return argument ? RegisterWindowMessageA(reinterpret_cast<const char*>(argument)) : 0;
    default:
      if (libraryGetWndMessage_ != 0 && code == static_cast<LPARAM>(libraryGetWndMessage_))
        return reinterpret_cast<LRESULT>(libraryWindow_);
      return 0;
  }
}

void StandInPlayer::Command(WPARAM id) {
  switch (id) {
    case WINAMP_BUTTON1:
      Advance(-1);
      break;
    case WINAMP_BUTTON2:
      PlayCurrent();
      break;
    case WINAMP_BUTTON3:
      if (state_.state == PlayState::Playing) {
        positionAtMark_ = PositionMs();
        state_.state = PlayState::Paused;
      } else if (state_.state == PlayState::Paused) {
        state_.state = PlayState::Playing;
        markTime_ = Clock::now();
      }
      break;
    case WINAMP_BUTTON4:
      StopPlayback();
      break;
    case WINAMP_BUTTON5:
      Advance(1);
      break;
    case WINAMP_FFWD5S:
      Seek(PositionMs() + 5000);
      break;
    case WINAMP_REW5S:
      Seek(PositionMs() - 5000);
      break;
    case WINAMP_VISPLUGIN:
      ++state_.requests.visualizations;
      break;
    case WINAMP_FULLSCREEN:
      ++state_.requests.fullscreens;
      break;
    case WINAMP_FILE_QUIT:
      if (HWND main = mainWindow_.load()) PostMessageA(main, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

LRESULT StandInPlayer::HandleMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_WA_IPC:
      return Ipc(lParam, wParam);
    case WM_COMMAND:
      Command(wParam);
      return 0;
    case WM_SYSCOMMAND:
      if (wParam == SC_MINIMIZE) ++state_.requests.minimizes;
      return 0;
    case WM_COPYDATA: {
      auto* data = reinterpret_cast<COPYDATASTRUCT*>(lParam);
      if (data && data->dwData == IPC_PLAYFILE && data->lpData && data->cbData > 0) {
        std::string path(static_cast<const char*>(data->lpData),
                         strnlen(static_cast<const char*>(data->lpData), data->cbData));
        Insert(static_cast<int>(state_.playlist.size()), path);
        return 1;
      }
      return 0;
    }
    case WM_TIMER:
      if (wParam == kClockTimer) CheckTrackEnd();
      if (wParam == kStatusTimer) ReportStatus();
      return 0;
    case kCallMessage:
      (*reinterpret_cast<const std::function<void(PlayerState&)>*>(wParam))(state_);
      return 0;
    case WM_CLOSE:
      if (onClosing_) onClosing_();
      if (options_.keepPlaylist) WritePlaylist(/*durable=*/true);
      mainWindow_ = nullptr;
      for (HWND other : {playlistWindow_, equalizerWindow_, libraryWindow_}) DestroyWindow(other);
      DestroyWindow(window);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT StandInPlayer::HandlePlaylistEditor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER && wParam == IPC_PE_DELETEINDEX) {
    Delete(static_cast<int>(lParam));
    return 0;
  }
  if (message == WM_USER && wParam == IPC_PE_SWAPINDEX) {
    Swap(static_cast<int>((lParam >> 16) & 0xFFFF), static_cast<int>(lParam & 0xFFFF));
    return 0;
  }
  if (message == WM_COPYDATA) {
    auto* data = reinterpret_cast<COPYDATASTRUCT*>(lParam);
    if (data && data->dwData == IPC_PE_INSERTFILENAME && data->lpData && data->cbData >= sizeof(fileinfo)) {
      const auto* record = static_cast<const fileinfo*>(data->lpData);
      Insert(record->index, std::string(record->file, strnlen(record->file, sizeof record->file)));
      return 1;
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT StandInPlayer::HandleEqualizer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && (wParam == WINAMP_EQ_UPDATE || wParam == WINAMP_EQ_REFRESH)) {
    ++state_.requests.equalizerRefreshes;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT StandInPlayer::HandleMediaLibrary(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_ML_IPC) return DefWindowProcA(window, message, wParam, lParam);
  switch (lParam) {
    case ML_IPC_DB_RUNQUERY:
    case ML_IPC_DB_RUNQUERY_SEARCH: {
      auto* query = reinterpret_cast<mlQueryStruct*>(wParam);
      if (!query) return 0;
      std::string text = query->query ? query->query : "";
      std::vector<const LibraryItem*> found;
      if (lParam == ML_IPC_DB_RUNQUERY_SEARCH)
        found = state_.library.Search(text);
      else
        found = state_.library.Query(text).value_or(std::vector<const LibraryItem*>{});
      MediaLibrary::Fill(*query, found);
      ++state_.queriesAnswered;
      if (query->results.Items)
        state_.mostResultSetsHeld = std::max(state_.mostResultSetsHeld, ++state_.resultSetsHeld);
      return 1;
    }
    case ML_IPC_DB_FREEQUERYRESULTS:
      if (auto* query = reinterpret_cast<mlQueryStruct*>(wParam)) {
        if (query->results.Items) --state_.resultSetsHeld;
        MediaLibrary::Release(*query);
      }
      return 1;
    case ML_IPC_DB_UPDATEITEM: {
      auto* record = reinterpret_cast<const itemRecord*>(wParam);
      return record && state_.library.Update(*record) ? 1 : 0;
    }
    default:
      return 0;
  }
}

}  // namespace host
