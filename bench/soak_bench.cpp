// Soak (not a test): 16 connections for ten minutes mixing pages, commands and file downloads against the
// stand-in player, with the access log on. Prints the errors, the resident memory at minute 2 and at the
// end (and the drift between them), the thread and open-handle counts at rest before, under load and 30 s
// after, and the access log's line count against the requests sent.
//   bench_soak [seconds]     (default 600)

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "quenforth_process.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Status {
  long threads = -1;
  long residentKiB = -1;
  long handles = -1;
};

Status StatusOf(int pid) {
  std::string status = qftest::ReadFile("/proc/" + std::to_string(pid) + "/status");
  auto field = [&status](const char* name) {
    std::size_t at = status.find(name);
    return at == std::string::npos ? -1L : std::atol(status.c_str() + at + std::char_traits<char>::length(name));
  };
  long handles = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) ++handles;
  return {field("\nThreads:"), field("\nVmRSS:"), handles};
}

const char* const kTargets[] = {
    "/",
    "/?volume=60",
    "/style.css",
    "/?download=C%3A%5CUsers%5CQuenforth%5CMusic%5CSoak%5Csong.mp3",
    "/list.html?dir=C%3A%5CUsers%5CQuenforth%5CMusic%5CSoak",
    "/?next",
    "/ml.html?search_ml=Song",
    "/?volume=40&prev",
    "/?addrand",
    "/?clear",
};

}  // namespace

int main(int argc, char** argv) {
  const auto length = std::chrono::seconds(argc > 1 ? std::atol(argv[1]) : 600);
  qftest::QuenforthProcess quenforth([](const fs::path& data) {
    const fs::path driveC = data.parent_path().parent_path().parent_path().parent_path();
    qftest::WriteFile(driveC / "Users/Quenforth/Music/Soak/song.mp3", std::string(1 << 20, 's'));
    for (int i = 0; i < 200; ++i)
      qftest::WriteFile(driveC / "Users/Quenforth/Music/Soak" / ("track " + std::to_string(i) + ".mp3"), "x");
    qftest::WriteFile(data / "base/list.html", "<#browser_files template=f.html>");
    qftest::WriteFile(data / "base/f.html", "<#browser_filename htmlencoded=1>\n");
    qftest::WriteFile(data / "base/ml.html", "<#medialibrary template=m.html length=50>");
    qftest::WriteFile(data / "base/m.html", "<#medialibrary_title htmlencoded=1>\n");
    qftest::WriteFile(data / "quenforth.ini",
                      qftest::ReadFile(data / "quenforth.ini") + "[Logfile]\r\nenable=1\r\noverwrite=1\r\n");
  });
  const int pid = quenforth.Pid();
  for (int i = 0; i < 10; ++i) qftest::Get(quenforth.Port(), "/");
  std::this_thread::sleep_for(3s);
  const Status rest = StatusOf(pid);

  std::atomic<bool> over{false};
  std::atomic<long> requests{10}, errors{0};
  std::vector<std::thread> clients;
  for (int client = 0; client < 16; ++client)
    clients.emplace_back([&, client] {
      for (std::size_t next = static_cast<std::size_t>(client); !over; ++next) {
        const char* target = kTargets[next % std::size(kTargets)];
        auto answer = qftest::Get(quenforth.Port(), target);
        ++requests;
        if (!answer || answer->status != 200) {
          ++errors;
          std::fprintf(stderr, "error: %s gave %d\n", target, answer ? answer->status : -1);
        }
      }
    });
  const auto start = Clock::now();
  Status minute2, end;
  std::this_thread::sleep_for(std::min<Clock::duration>(length, 120s));
  minute2 = StatusOf(pid);
  std::this_thread::sleep_until(start + length);
  end = StatusOf(pid);
  over = true;
  for (auto& client : clients) client.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::this_thread::sleep_for(30s);
  const Status after = StatusOf(pid);
  if (!quenforth.Stop()) std::fprintf(stderr, "the player did not close in time\n");

  std::string log = qftest::ReadFile(quenforth.DataFolder() / "logfile.txt");
  long lines = 0;
  for (char c : log) lines += c == '\n';
  std::printf("%ld requests in %.0f s (%.0f/s) from 16 connections, %ld errors\n", requests.load(), seconds,
              requests / seconds, errors.load());
  std::printf("resident %ld KiB at rest, %ld at minute 2, %ld at the end: drift %.1f%%; %ld KiB 30 s after\n",
              rest.residentKiB, minute2.residentKiB, end.residentKiB,
              100.0 * (end.residentKiB - minute2.residentKiB) / minute2.residentKiB, after.residentKiB);
  std::printf("threads %ld at rest, %ld under load, %ld 30 s after; handles %ld, %ld, %ld\n", rest.threads, end.threads,
              after.threads, rest.handles, end.handles, after.handles);
  std::printf("access log: %ld lines for %ld requests and the start-up line\n", lines, requests.load());
  return errors == 0 && lines == requests + 1 && after.threads <= rest.threads && after.handles <= rest.handles ? 0 : 1;
}
