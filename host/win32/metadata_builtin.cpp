// What the stand-in player knows of a file on Windows, where TagLib is not at hand: the built-in reader.

#include "../metadata.h"
#include "../tagreader.h"

namespace host {

Metadata ReadMetadata(const std::string& windowsPath) { return ReadMetadataBuiltIn(windowsPath); }

}  // namespace host
