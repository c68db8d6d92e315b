#pragma once
// Option values both runners (quenforth and fakeamp.exe) take, with the same spelling and limits.

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/system.h"

namespace host {

// --speed: a positive factor for the playback clock.
inline std::optional<double> ParseSpeed(const std::string& text) {
  char* end = nullptr;
  double speed = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(speed > 0)) return std::nullopt;
  return speed;
}

// --port: 0 (any free port) to 65535.
inline std::optional<int> ParsePort(const std::string& text) {
  char* end = nullptr;
  long port = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || port < 0 || port > 65535) return std::nullopt;
  return static_cast<int>(port);
}

// --clock: a local time "yyyy-mm-dd hh:nn:ss" at which the plug-in's clock starts.
inline bool ValidClock(const std::string& text) { return platform::ParseClockStart(text).has_value(); }

}  // namespace host
