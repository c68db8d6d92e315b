#pragma once
// A reader of tags and audio properties built on the platform layer alone, for hosts without TagLib.
// It answers what ReadMetadata answers for the same file (see metadata.h) for MP3, WAV, FLAC and Ogg
// Vorbis, reading only the tags and the first frames of the stream (and for Ogg the file's tail), never
// the whole file.

#include <string>

#include "metadata.h"

namespace host {

// Reads the file at a Windows path. Every size and offset in the file is distrusted: a tag larger than
// 16 MiB is ignored, and reads never go past what the file holds. A file in which no audio stream is
// found answers readable = false (with its size and time filled in when it exists). Never throws but
// std::bad_alloc.
Metadata ReadMetadataBuiltIn(const std::string& windowsPath);

}  // namespace host
