#pragma once
// Works the windows of a player under Wine from outside, as a user would: uidriver.exe runs in the
// player's Wine prefix and sends the windows their messages (host/win32/uidriver.cpp says which commands
// it takes). Each command waits for its answer, within a bound.

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace qftest {

class QuenforthProcess;

class WindowDriver {
 public:
  // The fields of a command or an answer, which travel separated by tabs.
  using Fields = std::vector<std::string>;

  // Starts uidriver.exe beside the player; throws when it cannot.
  explicit WindowDriver(const QuenforthProcess& player);
  // Ends the driver ("quit"; killed after a deadline).
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  // Runs the command: the answer's fields after "ok". Throws Refused with the driver's reason when it
  // answers "error", std::runtime_error when it does not answer within `timeout`.
  Fields Do(const Fields& command, std::chrono::milliseconds timeout = std::chrono::seconds(120));
  // The first field of the answer, or the empty text.
  std::string Ask(const Fields& command);

  class Refused : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

 private:
  std::string ReadLine(std::chrono::milliseconds timeout);

  int pid_ = -1;
  int input_ = -1;   // the driver's standard input
  int output_ = -1;  // its standard output
  std::string buffered_;
};

}  // namespace qftest
