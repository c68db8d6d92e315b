#pragma once
// The player's plug-in interface: message numbers and record layouts, shared by the plug-in (TPlayer,
// the plug-in record) and the stand-in player, so both sides speak exactly the same protocol.
//
// The records keep the player's own member names and 32-bit layouts; the Windows builds check them.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>

#include "platform/types.h"

namespace qf::host {

// The general-purpose plug-in record the plug-in hands to the player.
struct winampGeneralPurposePlugin {
  int version;  // 0x10
  const char* description;
  int (*init)();  // 0 = success
  void (*config)();
  void (*quit)();
  platform::HWND hwndParent;  // filled in by the player before init
  void* hDllInstance;         // filled in by the player before init
};

inline constexpr int GPPHDR_VER = 0x10;

// IPC codes: WM_USER (WM_WA_IPC) sent to the main window, code in lParam, argument in wParam.
inline constexpr platform::UINT WM_WA_IPC = platform::WM_USER;
enum IpcCode : platform::LPARAM {
  IPC_GETVERSION = 0,
  IPC_PLAYFILE = 100,  // WM_COPYDATA dwData: append a file
  IPC_DELETE = 101,
  IPC_ISPLAYING = 104,
  IPC_GETOUTPUTTIME = 105,
  IPC_JUMPTOTIME = 106,
  IPC_WRITEPLAYLIST = 120,
  IPC_SETPLAYLISTPOS = 121,
  IPC_SETVOLUME = 122,
  IPC_SETPANNING = 123,
  IPC_GETLISTLENGTH = 124,
  IPC_GETLISTPOS = 125,
  IPC_GETINFO = 126,
  IPC_GETEQDATA = 127,
  IPC_SETEQDATA = 128,
  IPC_RESTARTWINAMP = 135,
  IPC_GETPLAYLISTFILE = 211,
  IPC_GETPLAYLISTTITLE = 212,
  IPC_GET_SHUFFLE = 250,
  IPC_GET_REPEAT = 251,
  IPC_SET_SHUFFLE = 252,
  IPC_SET_REPEAT = 253,
  IPC_ENABLEDISABLE_ALL_WINDOWS = 259,
  IPC_GETWND = 260,
  IPC_GET_EXTENDED_FILE_INFO = 290,
  IPC_GET_EXTLIST = 292,
  IPC_GETPLUGINDIRECTORY = 336,
  IPC_GET_MANUALPLADVANCE = 634,
  IPC_SET_MANUALPLADVANCE = 635,
  IPC_PLAYLIST_MODIFIED = 3002,  // sent by the player to its own main window whenever the playlist changes
  IPC_REGISTER_WINAMP_IPCMESSAGE = 65536,
};

// IPC_GETWND arguments.
inline constexpr platform::WPARAM IPC_GETWND_EQ = 0;
inline constexpr platform::WPARAM IPC_GETWND_PE = 1;
inline constexpr platform::WPARAM IPC_GETWND_MB = 2;
inline constexpr platform::WPARAM IPC_GETWND_VIDEO = 3;

// IPC_ENABLEDISABLE_ALL_WINDOWS: this wParam disables every player window, 0 enables them.
inline constexpr platform::WPARAM kDisableAllWindows = 0xDEADBEEF;

// Playlist-editor codes: WM_USER sent to the playlist window, code in wParam, argument in lParam.
enum PlaylistEditorCode : platform::WPARAM {
  IPC_PE_DELETEINDEX = 104,
  IPC_PE_SWAPINDEX = 105,       // lParam = (from << 16) | to
  IPC_PE_INSERTFILENAME = 106,  // WM_COPYDATA dwData to the playlist window, lpData a fileinfo
};

// WM_COMMAND identifiers of the main window.
enum CommandId : platform::WPARAM {
  WINAMP_FILE_QUIT = 40001,
  WINAMP_BUTTON1 = 40044,  // previous
  WINAMP_BUTTON2 = 40045,  // play
  WINAMP_BUTTON3 = 40046,  // pause
  WINAMP_BUTTON4 = 40047,  // stop
  WINAMP_BUTTON5 = 40048,  // next
  WINAMP_FFWD5S = 40060,
  WINAMP_REW5S = 40061,
  WINAMP_VISPLUGIN = 40192,
  WINAMP_EQ_REFRESH = 40275,  // sent to the equaliser window after a change
  WINAMP_EQ_UPDATE = 40287,
  WINAMP_FULLSCREEN = 40337,
};

// The record IPC_GET_EXTENDED_FILE_INFO takes in wParam.
struct extendedFileInfoStruct {
  const char* filename;
  const char* metadata;
  char* ret;
  std::size_t retlen;
};

inline constexpr std::size_t kMaxPath = 260;

// The record IPC_PE_INSERTFILENAME carries: the new entry goes to position `index`.
struct fileinfo {
  char file[kMaxPath];
  int index;
};

// Media library: WM_ML_IPC sent to the media-library window, record in wParam, code in lParam.
inline constexpr platform::UINT WM_ML_IPC = platform::WM_USER + 0x1000;
enum MediaLibraryCode : platform::LPARAM {
  ML_IPC_DB_RUNQUERY = 0x700,
  ML_IPC_DB_RUNQUERY_SEARCH = 0x701,
  ML_IPC_DB_FREEQUERYRESULTS = 0x705,
  ML_IPC_DB_UPDATEITEM = 0x706,
};

struct itemRecord {
  char* filename;
  char* title;
  char* album;
  char* artist;
  char* comment;
  char* genre;
  int year;    // -1 when unknown
  int track;   // -1 when unknown
  int length;  // seconds, -1 when unknown
  // Null-terminated array of strings, each a name, a NUL byte and the value.
  char** extended_info;
};

struct itemRecordList {
  itemRecord* Items;
  int Size;
  int Alloc;
};

struct mlQueryStruct {
  char* query;
  int max_results;
  itemRecordList results;
};

// A malloc'ed, NUL-terminated copy of `text` (which may hold NULs of its own, as "name\0value" pairs do),
// for the records one side fills and the other frees. Throws std::bad_alloc when memory runs out.
inline char* HeapCopy(std::string_view text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// Owners of malloc'ed memory of these records while it is ours.
struct HeapFree {
  void operator()(void* memory) const { std::free(memory); }
};
using HeapText = std::unique_ptr<char, HeapFree>;

// The layouts the player expects, member by member: the 32-bit product, and the 64-bit test build that
// runs the same sources under Wine. A record that no longer matches the player does not compile.
#define QF_PIN(record, member, offset) static_assert(offsetof(record, member) == (offset), #record "::" #member)
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(winampGeneralPurposePlugin) == 28);
QF_PIN(winampGeneralPurposePlugin, version, 0);
QF_PIN(winampGeneralPurposePlugin, description, 4);
QF_PIN(winampGeneralPurposePlugin, init, 8);
QF_PIN(winampGeneralPurposePlugin, config, 12);
QF_PIN(winampGeneralPurposePlugin, quit, 16);
QF_PIN(winampGeneralPurposePlugin, hwndParent, 20);
QF_PIN(winampGeneralPurposePlugin, hDllInstance, 24);

static_assert(sizeof(extendedFileInfoStruct) == 16);
QF_PIN(extendedFileInfoStruct, filename, 0);
QF_PIN(extendedFileInfoStruct, metadata, 4);
QF_PIN(extendedFileInfoStruct, ret, 8);
QF_PIN(extendedFileInfoStruct, retlen, 12);

static_assert(sizeof(fileinfo) == 264);
QF_PIN(fileinfo, file, 0);
QF_PIN(fileinfo, index, 260);

static_assert(sizeof(itemRecord) == 40);
QF_PIN(itemRecord, filename, 0);
QF_PIN(itemRecord, title, 4);
QF_PIN(itemRecord, album, 8);
QF_PIN(itemRecord, artist, 12);
QF_PIN(itemRecord, comment, 16);
QF_PIN(itemRecord, genre, 20);
QF_PIN(itemRecord, year, 24);
QF_PIN(itemRecord, track, 28);
QF_PIN(itemRecord, length, 32);
QF_PIN(itemRecord, extended_info, 36);

static_assert(sizeof(itemRecordList) == 12);
QF_PIN(itemRecordList, Items, 0);
QF_PIN(itemRecordList, Size, 4);
QF_PIN(itemRecordList, Alloc, 8);

static_assert(sizeof(mlQueryStruct) == 20);
QF_PIN(mlQueryStruct, query, 0);
QF_PIN(mlQueryStruct, max_results, 4);
QF_PIN(mlQueryStruct, results, 8);

// The record WM_COPYDATA carries (lParam); the system copies cbData bytes of lpData across.
static_assert(sizeof(platform::COPYDATASTRUCT) == 12);
QF_PIN(platform::COPYDATASTRUCT, dwData, 0);
QF_PIN(platform::COPYDATASTRUCT, cbData, 4);
QF_PIN(platform::COPYDATASTRUCT, lpData, 8);

// Calling conventions on i686: the player calls the record's callbacks with the C convention and the
// export is a C function (so its name stays undecorated); Windows calls window procedures with stdcall.
static_assert(std::is_same_v<decltype(winampGeneralPurposePlugin::init), int(__attribute__((cdecl)) *)()>);
static_assert(std::is_same_v<decltype(winampGeneralPurposePlugin::config), void(__attribute__((cdecl)) *)()>);
static_assert(std::is_same_v<decltype(winampGeneralPurposePlugin::quit), void(__attribute__((cdecl)) *)()>);
static_assert(
    std::is_same_v<platform::WNDPROC, platform::LRESULT(__attribute__((stdcall)) *)(
                                          platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM)>);
static_assert(
    !std::is_same_v<platform::WNDPROC, platform::LRESULT(__attribute__((cdecl)) *)(
                                           platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM)>);
#elif defined(_WIN64)
static_assert(sizeof(winampGeneralPurposePlugin) == 56);
QF_PIN(winampGeneralPurposePlugin, version, 0);
QF_PIN(winampGeneralPurposePlugin, description, 8);
QF_PIN(winampGeneralPurposePlugin, init, 16);
QF_PIN(winampGeneralPurposePlugin, config, 24);
QF_PIN(winampGeneralPurposePlugin, quit, 32);
QF_PIN(winampGeneralPurposePlugin, hwndParent, 40);
QF_PIN(winampGeneralPurposePlugin, hDllInstance, 48);

static_assert(sizeof(extendedFileInfoStruct) == 32);
QF_PIN(extendedFileInfoStruct, filename, 0);
QF_PIN(extendedFileInfoStruct, metadata, 8);
QF_PIN(extendedFileInfoStruct, ret, 16);
QF_PIN(extendedFileInfoStruct, retlen, 24);

static_assert(sizeof(fileinfo) == 264);
QF_PIN(fileinfo, file, 0);
QF_PIN(fileinfo, index, 260);

static_assert(sizeof(itemRecord) == 72);
QF_PIN(itemRecord, filename, 0);
QF_PIN(itemRecord, title, 8);
QF_PIN(itemRecord, album, 16);
QF_PIN(itemRecord, artist, 24);
QF_PIN(itemRecord, comment, 32);
QF_PIN(itemRecord, genre, 40);
QF_PIN(itemRecord, year, 48);
QF_PIN(itemRecord, track, 52);
QF_PIN(itemRecord, length, 56);
QF_PIN(itemRecord, extended_info, 64);

static_assert(sizeof(itemRecordList) == 16);
QF_PIN(itemRecordList, Items, 0);
QF_PIN(itemRecordList, Size, 8);
QF_PIN(itemRecordList, Alloc, 12);

static_assert(sizeof(mlQueryStruct) == 32);
QF_PIN(mlQueryStruct, query, 0);
QF_PIN(mlQueryStruct, max_results, 8);
QF_PIN(mlQueryStruct, results, 16);

static_assert(sizeof(platform::COPYDATASTRUCT) == 24);
QF_PIN(platform::COPYDATASTRUCT, dwData, 0);
QF_PIN(platform::COPYDATASTRUCT, cbData, 8);
QF_PIN(platform::COPYDATASTRUCT, lpData, 16);
#endif
#undef QF_PIN

}  // namespace qf::host
