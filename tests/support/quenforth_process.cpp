#include "quenforth_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qftest {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "quenforth-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary);
  file << contents;
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

namespace {

int Spawn(const std::vector<std::string>& arguments, int outputDescriptor) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputDescriptor >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputDescriptor, 1);
    posix_spawn_file_actions_adddup2(&actions, outputDescriptor, 2);
  }
  pid_t pid = -1;
  int failure = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) throw std::runtime_error("cannot start " + arguments[0]);
  return pid;
}

}  // namespace

QuenforthProcess::QuenforthProcess(Prepare prepare, std::vector<std::string> arguments, Expect expect) {
  int installed = Spawn({QF_QUENFORTH, "install", "--prefix", prefix_.Path().string()}, -1);
  int status = 0;
  waitpid(installed, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("quenforth install failed");
  WriteFile(DataFolder() / "quenforth.ini", "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\n");
  if (prepare) prepare(DataFolder());

  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> command{QF_QUENFORTH, "run", "--prefix", prefix_.Path().string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  pid_ = Spawn(command, pipe[1]);
  ::close(pipe[1]);
  reader_ = std::thread([this, descriptor = pipe[0]] {
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(descriptor, buffer, sizeof buffer);
      if (n <= 0) break;
      std::lock_guard guard(lock_);
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(descriptor);
  });

  auto giveUp = [this](const std::string& why) {
    Stop(std::chrono::seconds(5));
    if (reader_.joinable()) reader_.join();
    throw std::runtime_error(why + ":\n" + Output());
  };
  if (expect == Expect::Started) {
    if (!WaitForOutput("stand-in player on", std::chrono::seconds(60))) giveUp("quenforth did not start");
    return;
  }
  if (!WaitForOutput("serving http://", std::chrono::seconds(60))) giveUp("quenforth did not come up");
  std::smatch match;
  std::string output = Output();
  if (!std::regex_search(output, match, std::regex("serving http://[^:/]+:([0-9]+)/"))) giveUp("no port");
  port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
}

QuenforthProcess::~QuenforthProcess() {
  Stop();
  if (reader_.joinable()) reader_.join();
}

fs::path QuenforthProcess::DataFolder() const {
  return prefix_.Path() / "drive_c/Program Files/Winamp/Plugins/quenforth";
}

std::string QuenforthProcess::Output() const {
  std::lock_guard guard(lock_);
  return output_;
}

bool QuenforthProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (Output().find(text) != std::string::npos) return true;
    if (pid_ > 0 && waitpid(pid_, &exitStatus_, WNOHANG) == pid_) {
      pid_ = -1;
      return Output().find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int QuenforthProcess::WaitExit(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (pid_ > 0) {
    if (waitpid(pid_, &exitStatus_, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(exitStatus_) ? WEXITSTATUS(exitStatus_) : 128 + WTERMSIG(exitStatus_);
}

bool QuenforthProcess::Stop(std::chrono::milliseconds timeout) {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
  int status = WaitExit(timeout);
  if (status == -1) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, &exitStatus_, 0);
    pid_ = -1;
    return false;
  }
  return status == 0;
}

}  // namespace qftest
