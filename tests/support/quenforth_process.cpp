#include "quenforth_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string_view>

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

struct SpawnOptions {
  int output = -1;                       // standard output and error, when not -1
  int input = -1;                        // standard input, when not -1
  std::vector<std::string> environment;  // NAME=VALUE added to (or replacing in) this process's
};

int Spawn(const std::vector<std::string>& arguments, const SpawnOptions& options = {}) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> environment = options.environment;
  for (char** entry = environ; *entry; ++entry) {
    std::string_view text(*entry);
    std::string_view name = text.substr(0, text.find('='));
    if (std::none_of(options.environment.begin(), options.environment.end(), [&](const std::string& added) {
          return added.compare(0, name.size() + 1, std::string(name) + "=") == 0;
        }))
      environment.emplace_back(text);
  }
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.output >= 0) {
    posix_spawn_file_actions_adddup2(&actions, options.output, 1);
    posix_spawn_file_actions_adddup2(&actions, options.output, 2);
  }
  if (options.input >= 0) posix_spawn_file_actions_adddup2(&actions, options.input, 0);
  pid_t pid = -1;
  int failure = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) throw std::runtime_error("cannot start " + arguments[0]);
  return pid;
}

int RunToEnd(const std::vector<std::string>& arguments, const SpawnOptions& options = {}) {
  int status = 0;
  waitpid(Spawn(arguments, options), &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Setting(const char* name, const std::string& byDefault = "") {
  const char* value = std::getenv(name);
  if (value && *value) return value;
  if (byDefault.empty()) throw std::runtime_error(std::string("the Wine host needs ") + name + " set");
  return byDefault;
}

std::string WineLoader() { return Setting("QF_WINE", "/usr/lib/wine/wine64"); }
std::string WineServer() { return (fs::path(WineLoader()).parent_path() / "wineserver").string(); }

// What a Wine process of this prefix needs besides the loader's own environment.
std::vector<std::string> WineEnvironment(const fs::path& prefix) {
  return {"WINEPREFIX=" + prefix.string(), "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml="};
}

// Makes `prefix` (which holds drive_c) a Wine prefix: the template's registry and system folder (linked,
// not copied: it is large and only read), C: as drive_c, and no other drive (no Z: onto the whole host).
void MakeWinePrefix(const fs::path& prefix) {
  fs::path wineTemplate = Setting("QF_WINE_TEMPLATE");
  if (!fs::exists(wineTemplate / "system.reg"))
    throw std::runtime_error("no Wine prefix at QF_WINE_TEMPLATE=" + wineTemplate.string());
  for (const char* file : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"})
    if (fs::exists(wineTemplate / file)) fs::copy_file(wineTemplate / file, prefix / file);
  // Wine draws the windows' frames itself: under Xvfb no window manager would, and a picture of a window
  // shows its title.
  std::ofstream(prefix / "user.reg", std::ios::app)
      << "\n[Software\\\\Wine\\\\X11 Driver] 1700000000\n\"Decorated\"=\"N\"\n";
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices/c:");
  WriteFile(prefix / "drive_c/.windows-label", "Quenforth");  // the label the Linux runner gives C:
  // The Wine user's profile, with its Temp folder where scratch files go: small, and written to. Its
  // links (Desktop, Documents, ...) lead to the host's home folder and stay behind.
  fs::copy(wineTemplate / "drive_c/users", prefix / "drive_c/users",
           fs::copy_options::recursive | fs::copy_options::skip_symlinks);
  std::error_code linked;
  fs::copy(wineTemplate / "drive_c/windows", prefix / "drive_c/windows",
           fs::copy_options::recursive | fs::copy_options::create_hard_links, linked);
  if (linked) {  // another file system: share the folder itself
    fs::remove_all(prefix / "drive_c/windows");
    fs::create_directory_symlink(wineTemplate / "drive_c/windows", prefix / "drive_c/windows");
  }
}

// Lays the unpacked package over the player's folder, as a user unpacks the zip into it, and puts the
// test host beside the player's program.
void InstallPackage(const fs::path& playerFolder) {
  fs::copy(Setting("QF_WINDOWS_PACKAGE"), playerFolder,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  fs::path fakeamp = Setting("QF_FAKEAMP");
  fs::copy_file(fakeamp, playerFolder / "fakeamp.exe", fs::copy_options::overwrite_existing);
  const char* driver = std::getenv("QF_UIDRIVER");
  fs::path uidriver = driver && *driver ? fs::path(driver) : fakeamp.parent_path() / "uidriver.exe";
  if (fs::exists(uidriver))
    fs::copy_file(uidriver, playerFolder / "uidriver.exe", fs::copy_options::overwrite_existing);
}

}  // namespace

Host TestHost() {
  const char* host = std::getenv("QF_TEST_HOST");
  if (!host || !*host || std::string(host) == "linux") return Host::Linux;
  if (std::string(host) == "wine") return Host::Wine;
  throw std::runtime_error(std::string("QF_TEST_HOST is linux or wine, not ") + host);
}

RunResult RunQuenforth(const std::vector<std::string>& arguments) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> command{QF_QUENFORTH};
  command.insert(command.end(), arguments.begin(), arguments.end());
  int pid = Spawn(command, {.output = pipe[1], .input = -1, .environment = {}});
  ::close(pipe[1]);
  RunResult result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
    result.output.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

QuenforthProcess::QuenforthProcess(Prepare prepare, std::vector<std::string> arguments, Expect expect) {
  // The Linux runner lays out the drive for both hosts: the player's folder, the profile, the demo music.
  if (RunToEnd({QF_QUENFORTH, "install", "--prefix", prefix_.Path().string()}) != 0)
    throw std::runtime_error("quenforth install failed");
  if (host_ == Host::Wine) {
    MakeWinePrefix(prefix_.Path());
    InstallPackage(prefix_.Path() / "drive_c/Program Files/Winamp");
  }
  WriteFile(DataFolder() / "quenforth.ini", "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\n");
  if (prepare) prepare(DataFolder());

  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (host_ == Host::Linux) {
    std::vector<std::string> command{QF_QUENFORTH, "run", "--prefix", prefix_.Path().string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    pid_ = Spawn(command, {.output = pipe[1], .input = -1, .environment = {}});
    ::close(pipe[1]);
  } else {
    // fakeamp.exe takes the runner's options but --drive, which is a link of the Wine prefix here.
    std::vector<std::string> command{WineLoader(),
                                     (prefix_.Path() / "drive_c/Program Files/Winamp/fakeamp.exe").string(), "run",
                                     "--prefix", "C:\\"};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      if (arguments[i] == "--drive" && i + 1 < arguments.size() && arguments[i + 1].size() > 2) {
        std::string letter(1, static_cast<char>(std::tolower(static_cast<unsigned char>(arguments[i + 1][0]))));
        std::string folder = arguments[i + 1].substr(2);
        // Wine reads a drive's volume label from the file .windows-label in its root folder.
        if (std::size_t colon = folder.rfind(':'); colon != std::string::npos) {
          WriteFile(fs::path(folder.substr(0, colon)) / ".windows-label", folder.substr(colon + 1));
          folder.erase(colon);
        }
        fs::create_directory_symlink(fs::absolute(folder), prefix_.Path() / "dosdevices" / (letter + ":"));
        ++i;
      } else {
        command.push_back(arguments[i]);
      }
    }
    int control[2];
    if (::pipe2(control, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = Spawn(command, {.output = pipe[1], .input = control[0], .environment = WineEnvironment(prefix_.Path())});
    ::close(pipe[1]);
    ::close(control[0]);
    control_ = control[1];
  }
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
  if (control_ >= 0) ::close(control_);
  if (host_ == Host::Wine) KillWineServer();
}

// Ends the prefix's Wine server and the programs it started (its desktop and services), and waits for
// it, so that nothing writes into the prefix while it is removed.
void QuenforthProcess::KillWineServer() {
  SpawnOptions options{.output = -1, .input = -1, .environment = WineEnvironment(prefix_.Path())};
  RunToEnd({WineServer(), "-k"}, options);
  RunToEnd({WineServer(), "-w"}, options);
}

fs::path QuenforthProcess::DataFolder() const {
  return prefix_.Path() / "drive_c/Program Files/Winamp/Plugins/quenforth";
}

std::optional<std::string> QuenforthProcess::ShortPath(const std::string& windowsPath) const {
  if (host_ != Host::Wine) return std::nullopt;
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  int pid = Spawn(
      {WineLoader(), (prefix_.Path() / "drive_c/Program Files/Winamp/fakeamp.exe").string(), "short-name", windowsPath},
      {.output = pipe[1], .input = -1, .environment = WineEnvironment(prefix_.Path())});
  ::close(pipe[1]);
  std::string output;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || output.empty()) return std::nullopt;
  return output;
}

bool QuenforthProcess::Control(const std::string& line) {
  if (host_ != Host::Wine || control_ < 0 || pid_ <= 0) return false;
  std::string text = line + "\n";
  return ::write(control_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

int QuenforthProcess::StartWineProgram(const std::string& program, const std::vector<std::string>& arguments, int input,
                                       int output) const {
  if (host_ != Host::Wine) throw std::runtime_error("only the Wine host runs Windows programs");
  std::vector<std::string> command{WineLoader(), (prefix_.Path() / "drive_c/Program Files/Winamp" / program).string()};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return Spawn(command, {.output = output, .input = input, .environment = WineEnvironment(prefix_.Path())});
}

fs::path QuenforthProcess::HostPath(const std::string& windowsPath) const {
  std::string relative = windowsPath.size() > 3 ? windowsPath.substr(3) : "";
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return prefix_.Path() / "drive_c" / relative;
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
  if (pid_ > 0 && host_ == Host::Linux) ::kill(pid_, SIGTERM);
  if (pid_ > 0 && host_ == Host::Wine && control_ >= 0) {
    static const char kClose[] = "close\n";
    [[maybe_unused]] ssize_t written = ::write(control_, kClose, sizeof kClose - 1);
  }
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
