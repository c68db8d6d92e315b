#pragma once
// The access log: one line per request that passes the IP whitelist, and one at start-up, appended to
// a plain text file (8-bit text, CR LF line ends, fields separated by one TAB).

#include <string>
#include <string_view>

namespace qf {

class TQuenforth;
struct Settings;
struct TRequest;

// Which fields a request line carries, in this order.
struct LogSwitches {
  bool date = true;
  bool event = true;
  bool ip = true;
  bool user = true;
  bool document = true;
  bool command = true;
};

struct LogFields {
  std::string_view stamp;     // local date and time
  std::string_view method;    // as received
  std::string_view ip;        // dotted
  std::string_view user;      // the Basic user name as sent
  std::string_view document;  // the request's path
  std::string_view query;     // the raw query text
};

// A field as written: every byte below 32 (CR, LF, TAB among them) and DEL as "%XX", so that nothing a
// client sends can end a line or a field early.
std::string LogField(std::string_view text);

// The request line: each switched-on field followed by a TAB (the query by nothing), then CR LF.
std::string RequestLogLine(const LogSwitches& switches, const LogFields& fields);

// "<stamp> TAB Quenforth loaded CR LF".
std::string StartupLogLine(std::string_view stamp);

// The current local date and time in the user's short date and long time formats.
std::string LogTimeStamp();

// Appends `text` to the file at `path`, creating it when missing; false when it cannot be written.
// Appends of this process are serialised: lines of simultaneous requests never mix or get lost.
bool AppendLogLine(const std::string& path, std::string_view text);

// The request step: appends the request's line when logging is on in the request's settings, with the
// fields they switch on. A line that cannot be written is dropped.
void LogRequest(const Settings& settings, const TRequest& request);

// When logging is on: "<stamp> TAB <address> TAB logins refused for 60 s after 10 failed attempts CR LF".
void LogLoginsRefused(const TQuenforth& core, std::string_view address);

// At start-up, after the settings are read: deletes the log when `overwrite` is set, then appends the
// start-up line when logging is on.
void StartAccessLog(const TQuenforth& core);

}  // namespace qf
