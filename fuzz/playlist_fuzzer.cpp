// libFuzzer target: reading the player's playlist file winamp.m3u (src/pageproducer/tags_playlist.cpp)
// and the playlist tag's window over it.
//
// Input: the first line is the rest of a playlist tag, `<#playlist template=item.html highlight=...
// empty=... LINE>` (length and offset, say; quotes and angle brackets are dropped from it so that it stays
// inside the tag); the rest is winamp.m3u as the player wrote it. There is no player window: the list
// position is 0, and the file is read as it lies on the emulated drive.
//
// Oracles: every entry comes from a line of its own (no more entries than lines after the header), its
// length is not negative and no text of it holds a line break; the tag produces at most one item per
// entry, and all of them when no length is given.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/quenforth.h"
#include "core/session.h"
#include "fuzzing.h"
#include "pageproducer/playlist.h"
#include "pageproducer/producer.h"
#include "platform/posix/emulation.h"
#include "player/player.h"

namespace {

namespace fs = std::filesystem;

struct Drive {
  Drive() {
    const fs::path c = qffuzz::ScratchFolder() / "drive_c";
    playlistFile = c / "Playlist/winamp.m3u";
    // Each item ends in the one line break of its template: titles and paths never hold one.
    const std::string item =
        "<#playlist_index>|<#playlist_title>|<#playlist_songtitle>|<#playlist_artist>|<#playlist_filename>|"
        "<#playlist_directory>|<#playlist_enc_songtitle>|<#playlist_songid>|<#playlist_addedby>|"
        "<#playlist_songlengthmin>:<#playlist_songlengthsec>|<#playlist_title htmlencoded=1 maxlength=5>\n";
    qffuzz::WriteHostFile(c / "Plugins/quenforth/base/item.html", item);
    qffuzz::WriteHostFile(c / "Plugins/quenforth/base/current.html", "now " + item);
    qffuzz::WriteHostFile(c / "Plugins/quenforth/base/empty.html", "empty");
    platform::emulation::MapDrive('C', c.string());
    core.Player = &player;
    core.PluginFolder.Set("C:\\Plugins");
    core.PlaylistFolder.Set("C:\\Playlist");
  }

  fs::path playlistFile;
  qf::TPlayer player;  // no player window: the position is 0, WritePlaylist leaves the file alone
  qf::TQuenforth core;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Drive* drive = new Drive();  // kept to the end of the process: the drive map refers to it
  const qffuzz::Cut input = qffuzz::FirstLine(qffuzz::Text(data, size));
  std::string params(input.line);
  std::erase_if(params, [](char c) { return c == '<' || c == '>' || c == '"' || c == '\'' || c == '\0'; });
  qffuzz::WriteHostFile(drive->playlistFile, input.rest);

  qf::SessionData session;
  session.SkinName = "base";
  session.TemplatePath = "C:\\Plugins\\quenforth\\base\\index.html";
  std::string page;
  try {
    qf::TMyPageProducer producer(nullptr, drive->player, drive->core, session);
    page = producer.Produce("<#playlist template=item.html highlight=current.html empty=empty.html " + params +
                            "><#playlist_length><#playlist_numtracks>");
  } catch (const qf::TemplateError&) {
    return 0;  // the parameters did not decode: nothing was read
  }

  qf::Snapshot<qf::PlaylistEntryList> entries = drive->core.PlaylistEntries.Get();
  const std::size_t lines = static_cast<std::size_t>(std::count(input.rest.begin(), input.rest.end(), '\n')) + 1;
  QF_FUZZ_CHECK(entries->size() < std::max<std::size_t>(lines, 1));
  for (const qf::PlaylistClass& entry : *entries) {
    QF_FUZZ_CHECK(entry.Seconds >= 0);
    QF_FUZZ_CHECK(entry.FileName.find('\n') == std::string::npos);
    QF_FUZZ_CHECK(entry.DisplayTitle.find('\n') == std::string::npos);
  }
  const auto items = static_cast<std::size_t>(std::count(page.begin(), page.end(), '\n'));
  QF_FUZZ_CHECK(items <= entries->size());
  qf::TagParams given = qf::TagParams::Split(params);
  if (!given.Given("length")) QF_FUZZ_CHECK(items == entries->size());
  return 0;
}
