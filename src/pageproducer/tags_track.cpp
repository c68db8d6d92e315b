// Current-track and player-state tags: what plays, its timing and technical data, the player's states,
// the album picture and ID3v2 frames. Every tag asks the player when it is handled; nothing is cached.

#include <cstdlib>

#include "core/quenforth.h"
#include "core/text.h"
#include "pageproducer/tags.h"
#include "platform/files.h"
#include "player/id3v2library.h"
#include "player/mlquery.h"
#include "player/player.h"

namespace qf {
namespace {

std::string CurrentFile(Tag& tag) { return tag.Player().GetPlaylistFile(tag.Player().GetListPos()); }

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// ---- Texts of the current track.

void Artist(Tag& tag) { tag.Write(tag.Player().GetExtendedFileInfo(CurrentFile(tag), "Artist"), kTextOptions); }
void Title(Tag& tag) { tag.Write(tag.Player().GetExtendedFileInfo(CurrentFile(tag), "Title"), kTextOptions); }

void MetaData(Tag& tag) {
  if (!tag.Given("field")) return tag.Write(tag.Error("field not specified"), kTextOptions);
  tag.Write(tag.Player().GetExtendedFileInfo(CurrentFile(tag), tag.Param("field")), kTextOptions);
}

void SongTitle(Tag& tag) { tag.Write(tag.Player().GetPlaylistTitle(tag.Player().GetListPos()), kTextOptions); }
void EncSongTitle(Tag& tag) { tag.output = UrlEncode(tag.Player().GetPlaylistTitle(tag.Player().GetListPos())); }
void CurrentTrackFilename(Tag& tag) { tag.Write(CurrentFile(tag), kTextOptions); }
void CurrentTrackDirectory(Tag& tag) { tag.Write(FolderOf(CurrentFile(tag)), kTextOptions); }

void CurrentFileInfo(Tag& tag) {
  if (!tag.Given("item")) return tag.Write(tag.Error("Item not specified"), kTextOptions);
  MediaLibraryQuery query(tag.Player(), MediaLibraryQuery::Kind::Query, "FILENAME=\"" + CurrentFile(tag) + "\"", 10);
  std::string value;
  if (query.Size() > 0 && SameText(tag.Param("item"), "rating"))
    value = std::to_string(ParseInt(MediaLibraryQuery::Extended(query[0], "RATING").value_or("")).value_or(0));
  tag.Write(value, kTextOptions);
}

// ---- Timing and technical data.

void SongLengthMin(Tag& tag) { tag.output = Format("%02i", tag.Player().GetLength(-1) / 60); }
void SongLengthSec(Tag& tag) { tag.output = Format("%02i", tag.Player().GetLength(-1) % 60); }
void SongTotalSec(Tag& tag) { tag.output = Format("%02i", tag.Player().GetLength(-1)); }

void SongPositionPercent(Tag& tag) {
  int length = tag.Player().GetLength(-1);
  tag.output = length < 1 ? "0" : Format("%i", tag.Player().GetPosition() * 100 / length);
}

void SongPositionMin(Tag& tag) { tag.output = Format("%02i", tag.Player().GetPosition() / 60); }
void SongPositionSec(Tag& tag) { tag.output = Format("%02i", tag.Player().GetPosition() % 60); }
// A position beyond the reported length still counts down as a positive number.
void SongRemainMin(Tag& tag) { tag.output = Format("%02i", std::abs(tag.Player().GetRemaining()) / 60); }
void SongRemainSec(Tag& tag) { tag.output = Format("%02i", std::abs(tag.Player().GetRemaining()) % 60); }
void SongTotalSecRemain(Tag& tag) { tag.output = Format("%02i", std::abs(tag.Player().GetRemaining())); }

// "%lu" and "%.lu" of the player's 32-bit answers: "%.lu" prints nothing for 0.
std::string Unsigned(int value, bool blankZero) {
  return Format(blankZero ? "%.u" : "%u", static_cast<unsigned>(value));
}

void Bitrate(Tag& tag) { tag.output = Unsigned(tag.Player().GetBitrate(), false); }
void Samplerate(Tag& tag) { tag.Write(Unsigned(tag.Player().GetSampleRate(), true), kUrlEncoded); }
void CurrentIndex(Tag& tag) { tag.output = Unsigned(tag.Player().GetListPos() + 1, true); }
void Volume(Tag& tag) { tag.output = Format("%i", tag.Player().GetVolume()); }
void Balance(Tag& tag) { tag.output = Format("%i", tag.Player().GetBalance()); }

void GetEQ(Tag& tag) {
  if (!tag.Given("band")) return tag.Fail("EQ band not specified");
  std::optional<int> band = ParseInt(tag.Param("band"));
  if (!band) return;  // not a number: nothing
  tag.output = std::to_string(tag.Player().GetEqBand(*band));
}

// ---- State tags: the parameter named like the state gives the text, its name is the default.

void State(Tag& tag, const char* state) {
  std::string text = tag.Given(state) ? tag.Param(state) : std::string(state);
  tag.Write(text, kUrlEncoded | kEscape);
}

// The parameters are named on_play, on_pause and on_stop; the state names are their defaults.
void Status(Tag& tag) {
  int playing = tag.Player().IsPlaying();
  const char* parameter = playing == 1 ? "on_play" : playing == 3 ? "on_pause" : playing == 0 ? "on_stop" : nullptr;
  const char* fallback = playing == 1 ? "play" : playing == 3 ? "pause" : "stop";
  if (!parameter) return;
  tag.Write(tag.Given(parameter) ? tag.Param(parameter) : std::string(fallback), kUrlEncoded | kEscape);
}

void Channels(Tag& tag) {
  int channels = tag.Player().GetChannels();
  bool stereo = channels >= 2;
  const char* parameter = stereo ? "on_stereo" : "on_mono";
  std::string text;
  if (tag.Given(parameter))
    text = tag.Param(parameter);
  else if (tag.Given("number"))
    text = Format("%i", channels);
  else
    text = stereo ? "stereo" : "mono";
  tag.Write(text, kUrlEncoded | kEscape);
}

void OnOff(Tag& tag, bool on) { State(tag, on ? "on" : "off"); }

void ShuffleState(Tag& tag) { OnOff(tag, tag.Player().GetShuffle()); }
void EQState(Tag& tag) { OnOff(tag, tag.Player().GetEqBand(11) != 0); }
void LockState(Tag& tag) { OnOff(tag, !tag.Player().IsUnlocked()); }
void RemovePlayedState(Tag& tag) { OnOff(tag, tag.Core().CurrentSettings.Get()->RemovePlayed); }
void KeepPlaylistAliveState(Tag& tag) { OnOff(tag, tag.Core().CurrentSettings.Get()->KeepPlaylistAlive); }

void RepeatState(Tag& tag) {
  switch (tag.Player().GetRepeatMode()) {
    case 1:
      return State(tag, "track");
    case 2:
      return State(tag, "all");
    default:
      return State(tag, "off");
  }
}

// ---- Album picture and ID3v2 frames, through ID3v2Library.dll.

// The page's library from the data folder, or none after leaving the tag's error.
const TID3v2Library* LoadTagLibrary(Tag& tag) {
  std::string folder = tag.Player().GetPluginDirectory() + "\\Quenforth";
  const TID3v2Library& library = tag.producer.TagLibrary(folder);
  if (library.Loaded()) return &library;
  tag.Fail("ID3v2Library.dll not found in '<i>" + folder + "'</i>.");
  return nullptr;
}

void AlbumArt(Tag& tag) {
  const TID3v2Library* library = LoadTagLibrary(tag);
  if (!library) return;
  std::optional<std::string> name;
  try {
    name = library->CachePicture(CurrentFile(tag), tag.Core().CacheFolder.Get());
  } catch (const std::exception&) {
    return tag.Fail("There was an error in ID3v2Library.dll.");
  }
  if (name) {
    tag.output = UrlEncode(*name) + "?cache";
  } else if (tag.Given("default")) {
    tag.output = tag.Param("default");
  } else {
    tag.Fail("No album art found and default value not specified.");
  }
}

void ID3Info(Tag& tag) {
  const TID3v2Library* library = LoadTagLibrary(tag);
  if (!library) return;
  if (!tag.Given("frame")) return tag.Fail("ID3 frame not specified.");
  tag.Write(library->ReadText(CurrentFile(tag), tag.Param("frame")), kTextOptions);
}

}  // namespace

void AddTrackTags(TagTable& table) {
  table["artist"] = Artist;
  table["title"] = Title;
  table["metadata"] = MetaData;
  table["songtitle"] = SongTitle;
  table["enc_songtitle"] = EncSongTitle;
  table["currenttrackfilename"] = CurrentTrackFilename;
  table["currenttrackdirectory"] = CurrentTrackDirectory;
  table["currentfileinfo"] = CurrentFileInfo;
  table["songlengthmin"] = SongLengthMin;
  table["songlengthsec"] = SongLengthSec;
  table["songtotalsec"] = SongTotalSec;
  table["songpositionpercent"] = SongPositionPercent;
  table["songpositionmin"] = SongPositionMin;
  table["songpositionsec"] = SongPositionSec;
  table["songremainmin"] = SongRemainMin;
  table["songremainsec"] = SongRemainSec;
  table["songtotalsecremain"] = SongTotalSecRemain;
  table["bitrate"] = Bitrate;
  table["samplerate"] = Samplerate;
  table["currentindex"] = CurrentIndex;
  table["volume"] = Volume;
  table["balance"] = Balance;
  table["geteq"] = GetEQ;
  table["status"] = Status;
  table["channels"] = Channels;
  table["shufflestate"] = table["shufflestatus"] = ShuffleState;
  table["repeatstate"] = table["repeatstatus"] = RepeatState;
  table["eqstate"] = table["eqstatus"] = EQState;
  table["lockstate"] = table["lockstatus"] = LockState;
  table["removeplayedstate"] = table["removeplayedstatus"] = RemovePlayedState;
  table["keepplaylistalivestate"] = table["keepplaylistalivestatus"] = KeepPlaylistAliveState;
  table["albumart"] = AlbumArt;
  table["id3info"] = ID3Info;
}

}  // namespace qf
