#pragma once
// Runs the player with the plug-in on a prefix made for one test, on a free loopback port, and always
// stops it. The host comes from the environment:
//   QF_TEST_HOST=linux (or unset)  the Linux `quenforth`, the plug-in as gen_quen08.so
//   QF_TEST_HOST=wine              fakeamp.exe with the Windows DLL under Wine, the prefix being a Wine
//                                  prefix whose C: is the same drive_c; the player's folder comes from
//                                  the unpacked package:
//     QF_WINDOWS_PACKAGE  the unpacked package (Plugins\gen_quen08.dll, Plugins\quenforth\...)
//     QF_FAKEAMP          fakeamp.exe, built for the same machine as the package's DLL
//     QF_WINE_TEMPLATE    a Wine prefix made once by wineboot, whose system files each test's prefix shares
//     QF_WINE             the Wine loader (default /usr/lib/wine/wine64; /usr/bin/wine for a 32-bit host)
//     QF_UIDRIVER         uidriver.exe, which works windows from outside (default: beside QF_FAKEAMP);
//                         put beside fakeamp.exe in the player's folder when it exists
// Wine needs a display: run the suite under one X server (xvfb-run -a).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qftest {

enum class Host { Linux, Wine };
// The host the tests run against, from QF_TEST_HOST.
Host TestHost();

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

// Runs the Linux `quenforth` with `arguments` to its end: its exit status and what it printed (standard
// output and error together).
struct RunResult {
  int status = -1;
  std::string output;
};
RunResult RunQuenforth(const std::vector<std::string>& arguments);

class QuenforthProcess {
 public:
  using Prepare = std::function<void(const std::filesystem::path& dataFolder)>;
  enum class Expect { Serving, Started };

  // Installs a prefix whose quenforth.ini serves on a free port of 127.0.0.1, lets `prepare` change the
  // data folder, and starts `quenforth run` with `arguments` added. Waits until the server is up (or,
  // with Expect::Started, until the player is), and throws when it does not come up.
  explicit QuenforthProcess(Prepare prepare = {}, std::vector<std::string> arguments = {},
                            Expect expect = Expect::Serving);
  // Stops the process (as Stop does, then SIGKILL after a deadline).
  ~QuenforthProcess();

  std::uint16_t Port() const { return port_; }
  int Pid() const { return pid_; }  // -1 once it has ended
  const std::filesystem::path& Prefix() const { return prefix_.Path(); }
  std::filesystem::path DataFolder() const;
  // Asks the player to close (SIGTERM to quenforth, "close" on fakeamp's control pipe) and waits; true
  // when the process ended by itself with status 0 within `timeout`.
  bool Stop(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Waits for the process to end on its own; its exit status, or -1 when it did not end in time.
  int WaitExit(std::chrono::milliseconds timeout);
  std::string Output() const;
  // The 8.3 form of an existing Windows path of the prefix, as the host's file system gives it; none on
  // the Linux host, whose emulated drive has no short names.
  std::optional<std::string> ShortPath(const std::string& windowsPath) const;
  // Waits until the output holds `text`.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // Writes a line to fakeamp's control pipe ("config" calls the plug-in's config callback); false on the
  // Linux host, whose player has no such pipe.
  bool Control(const std::string& line);
  // Starts a Windows program of the player's folder (uidriver.exe, say) in this player's Wine prefix,
  // with its standard input and output on these descriptors: its process id.
  int StartWineProgram(const std::string& program, const std::vector<std::string>& arguments, int input,
                       int output) const;
  // The Linux path of a Windows path on C: of the prefix.
  std::filesystem::path HostPath(const std::string& windowsPath) const;

 private:
  void StartWine(std::vector<std::string> command);
  void KillWineServer();

  TempFolder prefix_;
  Host host_ = TestHost();
  int pid_ = -1;
  int control_ = -1;  // fakeamp's standard input
  int exitStatus_ = -1;
  std::uint16_t port_ = 0;
  std::thread reader_;
  mutable std::mutex lock_;
  std::string output_;
};

}  // namespace qftest
