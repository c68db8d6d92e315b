#include "pageproducer/datetime.h"

#include <cctype>

#include "core/text.h"

namespace qf {
namespace {

class Formatter {
 public:
  Formatter(const platform::SYSTEMTIME& time, const platform::LocaleFormats& locale) : time_(time), locale_(locale) {}

  void Format(std::string_view format, std::string& out, int depth = 0) {
    bool twelveHour = HasMarker(format);
    char last = 0;  // the previous specifier's letter, for "m" after "h"
    std::size_t i = 0;
    while (i < format.size()) {
      char c = format[i];
      char upper = UpperChar(c);
      if (c == '\'' || c == '"') {
        std::size_t close = format.find(c, i + 1);
        std::size_t end = close == std::string_view::npos ? format.size() : close;
        out.append(format.substr(i + 1, end - i - 1));
        i = end == format.size() ? end : end + 1;
        continue;
      }
      if (upper == 'A') {
        i += Marker(format.substr(i), out);
        continue;
      }
      if (c == '/') {
        out += locale_.dateSeparator;
        ++i;
        continue;
      }
      if (c == ':') {
        out += locale_.timeSeparator;
        ++i;
        continue;
      }
      if (std::string_view("DMYHNSZT").find(upper) == std::string_view::npos) {
        out += c;
        ++i;
        continue;
      }
      std::size_t count = 1;
      while (i + count < format.size() && UpperChar(format[i + count]) == upper) ++count;
      i += count;
      switch (upper) {
        case 'D':
          if (count == 1)
            out += std::to_string(time_.wDay);
          else if (count == 2)
            out += Two(time_.wDay);
          else if (count == 3)
            out += locale_.shortDayNames[Index(time_.wDayOfWeek, 7)];
          else if (count == 4)
            out += locale_.longDayNames[Index(time_.wDayOfWeek, 7)];
          else if (depth < 2)
            Format(count == 5 ? locale_.shortDate : locale_.longDate, out, depth + 1);
          break;
        case 'M':
          if (last == 'H' && count <= 2) {
            out += count == 1 ? std::to_string(time_.wMinute) : Two(time_.wMinute);
          } else if (count == 1) {
            out += std::to_string(time_.wMonth);
          } else if (count == 2) {
            out += Two(time_.wMonth);
          } else {
            const auto& names = count == 3 ? locale_.shortMonthNames : locale_.longMonthNames;
            out += names[Index(time_.wMonth - 1, 12)];
          }
          break;
        case 'Y':
          out += count <= 2 ? Two(time_.wYear % 100) : qf::Format("%04d", time_.wYear);
          break;
        case 'H': {
          int hour = time_.wHour;
          if (twelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
          out += count == 1 ? std::to_string(hour) : Two(hour);
          break;
        }
        case 'N':
          out += count == 1 ? std::to_string(time_.wMinute) : Two(time_.wMinute);
          break;
        case 'S':
          out += count == 1 ? std::to_string(time_.wSecond) : Two(time_.wSecond);
          break;
        case 'Z':
          out += count < 3 ? std::to_string(time_.wMilliseconds) : qf::Format("%03d", time_.wMilliseconds);
          break;
        case 'T':
          if (depth < 2) Format(count == 1 ? locale_.shortTime : locale_.longTime, out, depth + 1);
          break;
      }
      last = upper;
    }
  }

 private:
  static std::string Two(int value) { return qf::Format("%02d", value); }
  static std::size_t Index(int value, int size) { return static_cast<std::size_t>(((value % size) + size) % size); }

  // Whether the format holds a 12-hour marker outside quotes.
  static bool HasMarker(std::string_view format) {
    for (std::size_t i = 0; i < format.size(); ++i) {
      if (format[i] == '\'' || format[i] == '"') {
        std::size_t close = format.find(format[i], i + 1);
        if (close == std::string_view::npos) return false;
        i = close;
        continue;
      }
      if (StartsText(format.substr(i), "am/pm") || StartsText(format.substr(i), "a/p") ||
          StartsText(format.substr(i), "ampm"))
        return true;
    }
    return false;
  }

  // Writes the marker at the start of `rest`, or the letter itself; answers the bytes used.
  std::size_t Marker(std::string_view rest, std::string& out) const {
    bool afternoon = time_.wHour >= 12;
    if (StartsText(rest, "am/pm")) {
      std::string_view written = afternoon ? rest.substr(3, 2) : rest.substr(0, 2);
      out.append(written);
      return 5;
    }
    if (StartsText(rest, "a/p")) {
      out += afternoon ? rest[2] : rest[0];
      return 3;
    }
    if (StartsText(rest, "ampm")) {
      out += afternoon ? locale_.pm : locale_.am;
      return 4;
    }
    out += rest[0];
    return 1;
  }

  const platform::SYSTEMTIME& time_;
  const platform::LocaleFormats& locale_;
};

}  // namespace

std::string FormatDateTime(std::string_view format, const platform::SYSTEMTIME& time,
                           const platform::LocaleFormats& locale) {
  std::string out;
  Formatter(time, locale).Format(format, out);
  return out;
}

}  // namespace qf
