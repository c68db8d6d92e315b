#include "metadata.h"

namespace host {

std::string DisplayTitle(const std::string& windowsPath, const Metadata& metadata) {
  if (!metadata.title.empty())
    return metadata.artist.empty() ? metadata.title : metadata.artist + " - " + metadata.title;
  std::size_t slash = windowsPath.find_last_of("\\/");
  std::string name = slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace host
