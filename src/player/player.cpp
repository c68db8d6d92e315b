#include "player/player.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "platform/window.h"
#include "player/host_interface.h"

namespace qf {

using namespace host;
using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::SendMessageA;
using platform::WPARAM;

namespace {

std::string TextAt(LRESULT answer) {
  const char* text = reinterpret_cast<const char*>(answer);
  return text ? std::string(text) : std::string();
}

}  // namespace

TPlayer::TPlayer() {
  mainWindow_ = platform::FindWindowA("Winamp v1.x", nullptr);
  playlistWindow_ = reinterpret_cast<HWND>(Ipc(IPC_GETWND, IPC_GETWND_PE));
  equalizerWindow_ = reinterpret_cast<HWND>(Ipc(IPC_GETWND, IPC_GETWND_EQ));
  miniBrowserWindow_ = reinterpret_cast<HWND>(Ipc(IPC_GETWND, IPC_GETWND_MB));
  videoWindow_ = reinterpret_cast<HWND>(Ipc(IPC_GETWND, IPC_GETWND_VIDEO));
  listPositionAtStart_ = GetListPos();
}

LRESULT TPlayer::Ipc(LPARAM code, WPARAM argument) { return SendMessageA(mainWindow_, WM_WA_IPC, argument, code); }

void TPlayer::Command(WPARAM id) { SendMessageA(mainWindow_, platform::WM_COMMAND, id, 0); }

bool TPlayer::Answers() const { return mainWindow_ && platform::IsWindow(mainWindow_); }

std::string TPlayer::GetVersionString() {
  auto version = static_cast<unsigned>(Ipc(IPC_GETVERSION, 0));
  // No player answers version 0: its window is gone.
  if (version == 0) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, "%x.%x", (version & 0xFF00) >> 12, version & 0xFF);
  return text;
}

std::string TPlayer::GetPluginDirectory() { return TextAt(Ipc(IPC_GETPLUGINDIRECTORY, 0)); }

std::string TPlayer::GetPlayerFolder() const {
  std::lock_guard guard(lock_);
  return playerFolder_;
}

void TPlayer::SetPlayerFolder(const std::string& folder) {
  std::lock_guard guard(lock_);
  playerFolder_ = folder;
}

std::string TPlayer::GetExtensionList() {
  {
    std::lock_guard guard(lock_);
    if (!extensionList_.empty()) return extensionList_;
  }
  // The answer is a NUL-separated list ending in a double NUL, in a buffer the caller frees.
  char* buffer = reinterpret_cast<char*>(Ipc(IPC_GET_EXTLIST, 0));
  if (buffer == nullptr) return std::string();
  std::string list;
  for (std::size_t i = 0; i < 5000; ++i) {
    if (buffer[i] != '\0') {
      list += buffer[i];
      continue;
    }
    if (!list.empty() && list.back() == ':') {
      list.pop_back();
      break;
    }
    list += ':';
  }
  platform::GlobalFree(buffer);
  std::lock_guard guard(lock_);
  extensionList_ = list;
  return list;
}

int TPlayer::IsPlaying() { return static_cast<int>(Ipc(IPC_ISPLAYING, 0)); }
void TPlayer::Play() { Command(WINAMP_BUTTON2); }
void TPlayer::Pause() { Command(WINAMP_BUTTON3); }
void TPlayer::Stop() { Command(WINAMP_BUTTON4); }
void TPlayer::Next() { Command(WINAMP_BUTTON5); }
void TPlayer::Previous() { Command(WINAMP_BUTTON1); }
void TPlayer::Forward5s() { Command(WINAMP_FFWD5S); }
void TPlayer::Rewind5s() { Command(WINAMP_REW5S); }

void TPlayer::PlayIndex(int index) {
  Ipc(IPC_SETPLAYLISTPOS, static_cast<WPARAM>(index));
  Play();
}

int TPlayer::GetVolume() {
  auto raw = static_cast<int>(Ipc(IPC_SETVOLUME, static_cast<WPARAM>(-666)));
  int percent = raw * 100 / 255;
  volumePercent_ = percent;
  return percent;
}

void TPlayer::SetVolume(int percent) {
  volumePercent_ = percent;
  // 100 sends 255 and 0 sends 1: the player treats 0 as "keep".
  Ipc(IPC_SETVOLUME, static_cast<WPARAM>(static_cast<int>(percent * 2.55) + 1));
}

int TPlayer::GetBalance() {
  auto raw = static_cast<int>(Ipc(IPC_SETPANNING, static_cast<WPARAM>(-666)));
  int sign = raw > 0 ? 1 : (raw < 0 ? -1 : 0);
  int percent = (raw + sign) * 100 / 127;
  balancePercent_ = percent;
  return percent;
}

void TPlayer::SetBalance(int percent) {
  balancePercent_ = percent;
  Ipc(IPC_SETPANNING, static_cast<WPARAM>(static_cast<int>(percent * 1.27)));
}

int TPlayer::GetEqBand(int band) {
  // Raw 0 is the top of a band's scale, which is also what a window that is gone answers.
  if (!Answers()) return 0;
  auto raw = static_cast<int>(Ipc(IPC_GETEQDATA, static_cast<WPARAM>(band)));
  if (band > 10) return raw;
  if (raw > 62) raw = 62;
  return static_cast<int>(100 - raw * 3.226);
}

void TPlayer::SetEqBand(int band, int raw) {
  Ipc(IPC_GETEQDATA, static_cast<WPARAM>(band));  // selects the band that IPC_SETEQDATA sets
  Ipc(IPC_SETEQDATA, static_cast<WPARAM>(raw));
  SendMessageA(equalizerWindow_, platform::WM_COMMAND, WINAMP_EQ_UPDATE, 0);
  SendMessageA(equalizerWindow_, platform::WM_COMMAND, WINAMP_EQ_REFRESH, 0);
}

bool TPlayer::GetShuffle() { return Ipc(IPC_GET_SHUFFLE, 0) != 0; }
void TPlayer::SetShuffle(bool on) { Ipc(IPC_SET_SHUFFLE, on ? 1 : 0); }

int TPlayer::GetRepeatMode() {
  if (Ipc(IPC_GET_MANUALPLADVANCE, 0) == 1) return 1;
  return Ipc(IPC_GET_REPEAT, 0) == 1 ? 2 : 0;
}

void TPlayer::SetRepeatMode(int mode) {
  if (mode < 0 || mode > 2) return;
  Ipc(IPC_SET_REPEAT, mode == 0 ? 0 : 1);
  Ipc(IPC_SET_MANUALPLADVANCE, mode == 1 ? 1 : 0);
}

int TPlayer::GetPosition() {
  auto milliseconds = static_cast<int>(Ipc(IPC_GETOUTPUTTIME, 0));
  return milliseconds > 0 ? milliseconds / 1000 : 0;
}

void TPlayer::SetPositionMs(int milliseconds) { Ipc(IPC_JUMPTOTIME, static_cast<WPARAM>(milliseconds)); }

int TPlayer::GetLength(int index) {
  if (index != -1) return 0;
  auto seconds = static_cast<int>(Ipc(IPC_GETOUTPUTTIME, 1));
  return seconds > 0 ? seconds : 0;
}

int TPlayer::GetRemaining() { return GetLength(-1) - GetPosition(); }
int TPlayer::GetSampleRate() { return static_cast<int>(Ipc(IPC_GETINFO, 0)); }
int TPlayer::GetBitrate() { return static_cast<int>(Ipc(IPC_GETINFO, 1)); }
int TPlayer::GetChannels() { return static_cast<int>(Ipc(IPC_GETINFO, 2)); }
int TPlayer::GetListPos() { return static_cast<int>(Ipc(IPC_GETLISTPOS, 0)); }
int TPlayer::GetListLength() { return static_cast<int>(Ipc(IPC_GETLISTLENGTH, 0)); }

std::string TPlayer::GetPlaylistFile(int index) { return TextAt(Ipc(IPC_GETPLAYLISTFILE, static_cast<WPARAM>(index))); }

std::string TPlayer::GetPlaylistTitle(int index) {
  return TextAt(Ipc(IPC_GETPLAYLISTTITLE, static_cast<WPARAM>(index)));
}

std::string TPlayer::GetExtendedFileInfo(const std::string& file, const std::string& field) {
  char buffer[512] = {};
  extendedFileInfoStruct request{file.c_str(), field.c_str(), buffer, sizeof buffer};
  if (Ipc(IPC_GET_EXTENDED_FILE_INFO, reinterpret_cast<WPARAM>(&request)) == 0) return std::string();
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

void TPlayer::WritePlaylist() { Ipc(IPC_WRITEPLAYLIST, 0); }
void TPlayer::ClearPlaylist() { Ipc(IPC_DELETE, 0); }

bool TPlayer::InsertFile(InsertAt where, const std::string& path) {
  if (path.empty()) return false;
  if (!Answers()) return false;
  if (where == InsertAt::End) {
    platform::COPYDATASTRUCT data{IPC_PLAYFILE, static_cast<platform::DWORD>(path.size() + 1),
                                  const_cast<char*>(path.c_str())};
    SendMessageA(mainWindow_, platform::WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    return true;
  }
  if (path.size() >= kMaxPath) return false;  // a shortened path would add some other file
  if (!playlistWindow_) return false;
  fileinfo record{};
  std::memcpy(record.file, path.c_str(), path.size() + 1);
  record.index = GetListPos() + 1;
  platform::COPYDATASTRUCT data{IPC_PE_INSERTFILENAME, sizeof record, &record};
  SendMessageA(playlistWindow_, platform::WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  return true;
}

void TPlayer::DeleteIndex(int index) {
  SendMessageA(playlistWindow_, platform::WM_USER, IPC_PE_DELETEINDEX, static_cast<LPARAM>(index));
}

void TPlayer::SwapIndex(int a, int b) {
  // Three swaps through entry 0 exchange a and b and leave every other entry in place, provided b is not
  // entry 0 itself: then the three swaps would undo each other, so the pair is taken the other way round.
  if (b == 0) std::swap(a, b);
  for (int target : {a, b, a})
    SendMessageA(playlistWindow_, platform::WM_USER, IPC_PE_SWAPINDEX, static_cast<LPARAM>(target & 0xFFFF));
}

void TPlayer::Minimize() { SendMessageA(mainWindow_, platform::WM_SYSCOMMAND, platform::SC_MINIMIZE, 0); }
void TPlayer::ClosePlayer() { Command(WINAMP_FILE_QUIT); }
void TPlayer::RestartPlayer() { Ipc(IPC_RESTARTWINAMP, 0); }
void TPlayer::StartVisualization() { Command(WINAMP_VISPLUGIN); }
void TPlayer::ToggleFullscreen() { Command(WINAMP_FULLSCREEN); }

void TPlayer::SetUnlocked(bool unlocked) {
  unlocked_ = unlocked;
  Ipc(IPC_ENABLEDISABLE_ALL_WINDOWS, unlocked ? 0 : kDisableAllWindows);
}

HWND TPlayer::GetMediaLibraryWindow() {
  HWND window = mediaLibraryWindow_.load();
  if (window) return window;
  static const char kName[] = "LibraryGetWnd";
  LRESULT message = Ipc(IPC_REGISTER_WINAMP_IPCMESSAGE, reinterpret_cast<WPARAM>(kName));
  window = reinterpret_cast<HWND>(Ipc(message, 0));
  mediaLibraryWindow_ = window;
  return window;
}

void TPlayer::SetMediaLibraryItemField(const std::string& file, const std::string& name, const std::string& value) {
  HWND library = GetMediaLibraryWindow();
  // One extended-info pair "name\0value"; the record starts without any, so the pair is added.
  HeapText filename(HeapCopy(file));
  HeapText pair(HeapCopy(name + std::string(1, '\0') + value));
  std::unique_ptr<char*, HeapFree> extended(static_cast<char**>(std::calloc(2, sizeof(char*))));
  if (!extended) throw std::bad_alloc();
  extended.get()[0] = pair.get();
  itemRecord record{};
  record.filename = filename.get();
  record.extended_info = extended.get();
  SendMessageA(library, WM_ML_IPC, reinterpret_cast<WPARAM>(&record), ML_IPC_DB_UPDATEITEM);
}

}  // namespace qf
