#include "http/accesslog.h"

#include <mutex>

#include "core/quenforth.h"
#include "http/request.h"
#include "pageproducer/datetime.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/system.h"

namespace qf {
namespace {

// One lock for every append of the process: a line is written whole before the next one starts. It is
// constant-initialised, so it exists before any thread logs, and quit has joined every request thread
// before the module is unloaded and the lock destroyed.
std::mutex appendLock;

}  // namespace

std::string LogField(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string field;
  field.reserve(text.size());
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) {
      field += '%';
      field += kHex[byte >> 4];
      field += kHex[byte & 15];
    } else {
      field += c;
    }
  }
  return field;
}

std::string RequestLogLine(const LogSwitches& switches, const LogFields& fields) {
  std::string line;
  auto add = [&line](bool on, std::string_view value, bool tab) {
    if (!on) return;
    line += LogField(value);
    if (tab) line += '\t';
  };
  add(switches.date, fields.stamp, true);
  add(switches.event, fields.method, true);
  add(switches.ip, fields.ip, true);
  add(switches.user, fields.user, true);
  add(switches.document, fields.document, true);
  add(switches.command, fields.query, false);
  line += "\r\n";
  return line;
}

std::string StartupLogLine(std::string_view stamp) { return LogField(stamp) + "\tQuenforth loaded\r\n"; }

std::string LogTimeStamp() {
  platform::SYSTEMTIME now;
  platform::GetLocalTime(&now);
  return FormatDateTime("ddddd tt", now, platform::UserLocaleFormats());
}

bool AppendLogLine(const std::string& path, std::string_view text) {
  std::lock_guard guard(appendLock);
  platform::File file = platform::File::Open(path, platform::File::Mode::Append);
  return file.IsOpen() && file.Write(text);
}

void LogLoginsRefused(const TQuenforth& core, std::string_view address) {
  Snapshot<Settings> settings = core.CurrentSettings.Get();
  if (!settings->logEnable) return;
  AppendLogLine(settings->logfile, LogField(LogTimeStamp()) + "\t" + LogField(address) +
                                       "\tlogins refused for 60 s after 10 failed attempts\r\n");
}

void LogRequest(const Settings& settings, const TRequest& request) {
  if (!settings.logEnable) return;
  LogSwitches switches{settings.logDate, settings.logEvent,    settings.logIp,
                       settings.logUser, settings.logDocument, settings.logCommand};
  std::string stamp = switches.date ? LogTimeStamp() : std::string();
  LogFields fields{
      stamp, request.Command, request.RemoteIP, request.AuthUsername, request.Document, request.UnparsedParams};
  AppendLogLine(settings.logfile, RequestLogLine(switches, fields));
}

void StartAccessLog(const TQuenforth& core) {
  Snapshot<Settings> settings = core.CurrentSettings.Get();
  const std::string& path = settings->logfile;
  if (settings->logOverwrite) platform::DeleteFileA(path);
  if (settings->logEnable) AppendLogLine(path, StartupLogLine(LogTimeStamp()));
}

}  // namespace qf
