// What the stand-in player knows of a file on Windows, where TagLib is not at hand.

#include "../metadata.h"
#include "platform/files.h"

namespace host {

Metadata ReadMetadata(const std::string& windowsPath) {
  Metadata metadata;
  std::optional<platform::FileInfo> info = platform::GetFileInfo(windowsPath);
  if (!info || info->IsDirectory()) return metadata;
  metadata.fileSize = info->size;
  metadata.modified = info->lastWriteTime;
  metadata.readable = true;
  metadata.lengthMs = 60000;
  return metadata;
}

}  // namespace host
