#include "window_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "quenforth_process.h"

namespace qftest {
namespace {

using Clock = std::chrono::steady_clock;

std::string Joined(const WindowDriver::Fields& fields) {
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + field;
  return line;
}

WindowDriver::Fields Split(const std::string& line) {
  WindowDriver::Fields fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

}  // namespace

WindowDriver::WindowDriver(const QuenforthProcess& player) {
  if (!std::filesystem::exists(player.HostPath("C:\\Program Files\\Winamp\\uidriver.exe")))
    throw std::runtime_error("no uidriver.exe beside the player (QF_UIDRIVER, QF_FAKEAMP)");
  // A driver that ended closes its pipe: writing to it then is an error to report, not a signal that
  // ends the test program.
  ::signal(SIGPIPE, SIG_IGN);
  int toDriver[2], fromDriver[2];
  if (::pipe2(toDriver, O_CLOEXEC) != 0 || ::pipe2(fromDriver, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = player.StartWineProgram("uidriver.exe", {}, toDriver[0], fromDriver[1]);
  ::close(toDriver[0]);
  ::close(fromDriver[1]);
  input_ = toDriver[1];
  output_ = fromDriver[0];
}

WindowDriver::~WindowDriver() {
  static const char kQuit[] = "quit\n";
  [[maybe_unused]] ssize_t written = ::write(input_, kQuit, sizeof kQuit - 1);
  ::close(input_);
  auto deadline = Clock::now() + std::chrono::seconds(30);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::close(output_);
}

std::string WindowDriver::ReadLine(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    if (std::size_t end = buffered_.find('\n'); end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw std::runtime_error("uidriver.exe did not answer in time");
    pollfd wait{output_, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("uidriver.exe ended");
    buffered_.append(buffer, static_cast<std::size_t>(n));
  }
}

WindowDriver::Fields WindowDriver::Do(const Fields& command, std::chrono::milliseconds timeout) {
  std::string line = Joined(command) + "\n";
  if (::write(input_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    throw std::runtime_error("cannot write to uidriver.exe");
  // Wine's own messages (a fixme, say) may come first: the answer is the line that starts so.
  for (;;) {
    Fields answer = Split(ReadLine(timeout));
    if (answer[0] == "ok") return Fields(answer.begin() + 1, answer.end());
    if (answer[0] == "error")
      throw Refused(Joined(command) + ": " + (answer.size() > 1 ? answer[1] : std::string("(no reason)")));
  }
}

std::string WindowDriver::Ask(const Fields& command) {
  Fields answer = Do(command);
  return answer.empty() ? std::string() : answer[0];
}

}  // namespace qftest
