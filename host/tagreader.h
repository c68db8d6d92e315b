#pragma once
// A reader of tags and audio properties built on the platform layer alone, for hosts without TagLib.
// It answers what ReadMetadata answers for the same file (see metadata.h) for MP3, WAV, FLAC and Ogg
// Vorbis, reading only the tags and the first frames of the stream (and for Ogg the file's tail), never
// the whole file.

#include <string>

#include "metadata.h"

namespace host {

// Reads the file at a Windows path. Every size and offset in the file is distrusted: reads never go past
// what the file holds, and no size field makes it hold more than 16 MiB. Never throws but std::bad_alloc.
//
// Where it answers otherwise than ReadMetadata: the format is told by the content, not the name, and a
// file with neither an audio stream nor a tag is not readable (ReadMetadata calls any *.mp3 readable);
// frames behind an ID3v2.3 extended header are read; compressed ID3v2 frames are not; the
// first MPEG frame is sought within 1 MiB after the tags and the last one within 64 KiB of the end (a
// stream whose end is not found there runs to the end of the file); an Ogg file's last page must lie in
// its last 64 KiB; an ID3v2.2/2.3 tag that is unsynchronised as a whole and larger than 16 MiB is ignored.
Metadata ReadMetadataBuiltIn(const std::string& windowsPath);

}  // namespace host
