#pragma once
// Runs the real `quenforth` on a prefix made for one test, on a free loopback port, and always stops it.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qftest {

// A folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::string& contents);
std::string ReadFile(const std::filesystem::path& path);

class QuenforthProcess {
 public:
  using Prepare = std::function<void(const std::filesystem::path& dataFolder)>;
  enum class Expect { Serving, Started };

  // Installs a prefix whose quenforth.ini serves on a free port of 127.0.0.1, lets `prepare` change the
  // data folder, and starts `quenforth run` with `arguments` added. Waits until the server is up (or,
  // with Expect::Started, until the player is), and throws when it does not come up.
  explicit QuenforthProcess(Prepare prepare = {}, std::vector<std::string> arguments = {},
                            Expect expect = Expect::Serving);
  // Stops the process (SIGTERM, then SIGKILL after a deadline).
  ~QuenforthProcess();

  std::uint16_t Port() const { return port_; }
  int Pid() const { return pid_; }  // -1 once it has ended
  const std::filesystem::path& Prefix() const { return prefix_.Path(); }
  std::filesystem::path DataFolder() const;
  // Sends SIGTERM and waits; true when the process ended by itself with status 0 within `timeout`.
  bool Stop(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Waits for the process to end on its own; its exit status, or -1 when it did not end in time.
  int WaitExit(std::chrono::milliseconds timeout);
  std::string Output() const;
  // Waits until the output holds `text`.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);

 private:
  TempFolder prefix_;
  int pid_ = -1;
  int exitStatus_ = -1;
  std::uint16_t port_ = 0;
  std::thread reader_;
  mutable std::mutex lock_;
  std::string output_;
};

}  // namespace qftest
