// Tags and audio properties read with TagLib, on the emulated drives.

#include "metadata.h"

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include "platform/files.h"
#include "platform/posix/emulation.h"

namespace host {

namespace {

std::string Narrow(const TagLib::String& text) {
  std::string result;
  for (wchar_t c : text.toWString()) result += c < 256 ? static_cast<char>(c) : '?';
  return result;
}

}  // namespace

Metadata ReadMetadata(const std::string& windowsPath) {
  Metadata metadata;
  std::optional<platform::FileInfo> info = platform::GetFileInfo(windowsPath);
  std::optional<std::string> hostPath = platform::emulation::HostPath(windowsPath);
  if (!info || info->IsDirectory() || !hostPath) return metadata;
  metadata.fileSize = info->size;
  metadata.modified = info->lastWriteTime;
  TagLib::FileRef file(hostPath->c_str(), true, TagLib::AudioProperties::Average);
  if (file.isNull()) return metadata;
  metadata.readable = true;
  if (TagLib::Tag* tag = file.tag()) {
    metadata.title = Narrow(tag->title());
    metadata.artist = Narrow(tag->artist());
    metadata.album = Narrow(tag->album());
    metadata.genre = Narrow(tag->genre());
    metadata.comment = Narrow(tag->comment());
    metadata.year = static_cast<int>(tag->year());
    metadata.track = static_cast<int>(tag->track());
    TagLib::PropertyMap properties = file.file()->properties();
    if (properties.contains("ALBUMARTIST") && !properties["ALBUMARTIST"].isEmpty())
      metadata.albumArtist = Narrow(properties["ALBUMARTIST"].front());
  }
  if (TagLib::AudioProperties* audio = file.audioProperties()) {
    metadata.lengthMs = audio->lengthInMilliseconds();
    metadata.bitrate = audio->bitrate();
    metadata.sampleRate = audio->sampleRate();
    metadata.channels = audio->channels();
  }
  return metadata;
}

}  // namespace host
