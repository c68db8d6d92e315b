#include "platform/locale.h"

namespace platform {

std::string FromWindowsPicture(const std::string& picture, bool isTime) {
  std::string result;
  std::size_t i = 0;
  while (i < picture.size()) {
    char c = picture[i];
    if (c == '\'') {  // quoted text stays quoted
      std::size_t close = picture.find('\'', i + 1);
      std::size_t end = close == std::string::npos ? picture.size() : close + 1;
      result += picture.substr(i, end - i);
      i = end;
      continue;
    }
    std::size_t run = 1;
    while (i + run < picture.size() && picture[i + run] == c) ++run;
    std::string repeated(run, c);
    switch (c) {
      case 'M':
        result += std::string(run, 'm');
        break;  // month
      case 'm':
        result += isTime ? std::string(run, 'n') : repeated;
        break;  // minutes in times
      case 'H':
        result += std::string(run > 1 ? 2 : 1, 'h');
        break;  // 24-hour clock
      case 'h':
        result += std::string(run > 1 ? 2 : 1, 'h');
        break;  // 12-hour with a marker
      case 't':
        result += run > 1 ? "ampm" : "a/p";
        break;
      case 'y':
        result += run > 2 ? "yyyy" : "yy";
        break;
      case 'g':
        break;  // era: not shown
      default:
        result += repeated;
        break;
    }
    i += run;
  }
  return result;
}

}  // namespace platform
