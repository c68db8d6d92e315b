// The mixed load no client may use to take the server: clients that do not read a 20 MB answer (a skin
// file, a song through download and through src), slow request bodies, slow request headers, headers
// that stall, heavy folder listings and media-library pages, and one address opening a thousand idle
// connections, all at once. A normal client is answered throughout, stalled connections are closed at
// their deadlines, and the server gives back its threads and memory afterwards.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kSkinFileBytes = 20 << 20;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Every instruction costs several times as much: the probes get more time, and the allocator keeps freed
// memory in quarantine, so the resident size says nothing about the server; LeakSanitizer checks its exit.
constexpr auto kProbeTimeoutHere = std::chrono::seconds(5);
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr auto kProbeTimeoutHere = std::chrono::seconds(1);
constexpr bool kResidentSizeMeaningful = true;
#endif

// Under Wine a socket operation costs a round trip to the Wine server, which a machine busy with other
// work slows down many times over: the probes get far more time there. A starved client still fails.
std::chrono::seconds ProbeTimeout() {
  return qftest::TestHost() == qftest::Host::Wine ? std::chrono::seconds(15) : kProbeTimeoutHere;
}

// A client socket of the load: connected from a chosen loopback address, sending and never reading.
class LoadClient {
 public:
  LoadClient(std::uint16_t port, const std::string& from, int receiveBuffer = 0) {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return;
    // A small window keeps what the kernel buffers for a client that does not read small.
    if (receiveBuffer > 0) ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(socket_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
      ::close(socket_);
      socket_ = -1;
    }
  }
  ~LoadClient() {
    if (socket_ >= 0) ::close(socket_);
  }
  LoadClient(const LoadClient&) = delete;
  LoadClient& operator=(const LoadClient&) = delete;

  bool Connected() const { return socket_ >= 0; }
  void Send(const std::string& bytes) {
    if (socket_ >= 0) [[maybe_unused]]
      auto sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  // What has arrived so far, without waiting.
  std::string Peek() {
    char buffer[256];
    ssize_t got = socket_ >= 0 ? ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT | MSG_PEEK) : -1;
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
  }

 private:
  int socket_ = -1;
};

struct ProcessStatus {
  long threads = -1;
  long residentKiB = -1;
};

ProcessStatus StatusOf(int pid) {
  std::string status = qftest::ReadFile("/proc/" + std::to_string(pid) + "/status");
  auto field = [&status](const char* name) {
    std::size_t at = status.find(name);
    return at == std::string::npos ? -1L : std::atol(status.c_str() + at + std::char_traits<char>::length(name));
  };
  return {field("\nThreads:"), field("\nVmRSS:")};
}

// A normal client's GET / on a connection of its own, given `timeout` to connect and be answered.
bool ProbeAnswered(std::uint16_t port, std::chrono::milliseconds timeout) {
  qftest::Connection connection(port);
  if (!connection.Connected() || !connection.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"))
    return false;
  auto response = connection.Read(timeout);
  return response && response->status == 200 && response->body.find("<html") != std::string::npos;
}

TEST(MixedLoad, ANormalClientIsAnsweredThroughoutAndTheServerRecovers) {
  // About 2,100 sockets here: the test process may open what the system allows. The server inherits it.
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);

  qftest::QuenforthProcess quenforth(
      [](const fs::path& data) {
        qftest::WriteFile(data / "base" / "big.bin", std::string(kSkinFileBytes, 'q'));
        const fs::path driveC = data.parent_path().parent_path().parent_path().parent_path();
        qftest::WriteFile(driveC / "Users/Quenforth/Music/Big/big.mp3", std::string(kSkinFileBytes, 's'));
        for (int i = 0; i < 3000; ++i)
          qftest::WriteFile(driveC / "Users/Quenforth/Music/Many" / ("song " + std::to_string(i) + ".mp3"), "x");
        std::string records;
        for (int i = 0; i < 5000; ++i)
          records += "filename=C:\\Lib\\t" + std::to_string(i) + ".mp3\ttitle=Song " + std::to_string(i) +
                     "\tartist=Artist " + std::to_string(i % 50) + "\r\n";
        qftest::WriteFile(driveC / "records.txt", records);
        qftest::WriteFile(data / "base" / "list.html",
                          "<#browser_directories template=d.html><#browser_files template=f.html>");
        qftest::WriteFile(data / "base" / "d.html", "<#browser_directoryname htmlencoded=1>\n");
        qftest::WriteFile(data / "base" / "f.html", "<#browser_filename htmlencoded=1> <#browser_filesize>\n");
        qftest::WriteFile(data / "base" / "ml.html", "<#medialibrary template=m.html length=500>|<#ml_results>");
        qftest::WriteFile(data / "base" / "m.html", "<#medialibrary_title htmlencoded=1>\n");
        qftest::WriteFile(data / "quenforth.ini",
                          qftest::ReadFile(data / "quenforth.ini") + "RootDirectory=C:\\Users\\Quenforth\\Music\r\n");
      },
      std::vector<std::string>{"--library", "C:\\records.txt"});
  const std::uint16_t port = quenforth.Port();
  const int pid = quenforth.Pid();
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(ProbeAnswered(port, 10s));
  const ProcessStatus baseline = StatusOf(pid);
  ASSERT_GT(baseline.threads, 0);

  // Under Wine every socket operation is a round trip to the Wine server, about a millisecond on this
  // kind of machine (a thousand connections take a second to accept), so the load there is a quarter as
  // large, still far beyond each address's cap. The connections that are not idle stay below the cap of
  // 1024 in all, with room for the heavy pages' and the probes' own: past the cap a new connection gets in
  // only where an idle one makes room, and the 64 idle ones would soon be used up.
  const int scale = qftest::TestHost() == qftest::Host::Wine ? 4 : 1;
  const int idleCount = 1100 / scale, readers = 160 / scale, slowBodies = 100 / scale, slowHeaders = 600 / scale;
  const int songReaders = 40 / scale, stalled = 40 / scale;
  std::vector<std::unique_ptr<LoadClient>> readersThatDoNot, songs, bodies, headers, idle;
  // Headers that stop half-way and never go on: closed at the header's deadline of 10 s.
  std::vector<std::unique_ptr<qftest::Connection>> stalledHeaders;
  const auto stalledSince = Clock::now();
  for (int i = 0; i < stalled; ++i) {
    stalledHeaders.push_back(std::make_unique<qftest::Connection>(port, "127.0.8." + std::to_string(1 + i % 10)));
    ASSERT_TRUE(stalledHeaders.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n"));
  }
  // A song that nobody reads, through download and through src.
  const std::string song = qftest::Encoded("C:\\Users\\Quenforth\\Music\\Big\\big.mp3");
  const std::string folder = qftest::Encoded("C:\\Users\\Quenforth\\Music\\Big");
  for (int i = 0; i < songReaders; ++i) {
    songs.push_back(std::make_unique<LoadClient>(port, "127.0.5." + std::to_string(1 + i % 10), 4096));
    songs.back()->Send(i % 2 ? "GET /?download=" + song + " HTTP/1.1\r\nHost: x\r\n\r\n"
                             : "GET /big.mp3?src=" + folder + " HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  // Heavy pages, asked for again and again from two more addresses while the probes run.
  std::atomic<bool> loadOver{false};
  std::atomic<int> heavyPages{0};
  std::vector<std::thread> heavy;
  for (const char* target : {"/list.html?dir=Many", "/ml.html"})
    heavy.emplace_back([&, target] {
      while (!loadOver) {
        qftest::Connection connection(port, std::string(target)[1] == 'l' ? "127.0.7.1" : "127.0.7.2");
        if (connection.Send(std::string("GET ") + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")) {
          auto page = connection.Read(60s);
          if (page && page->status == 200 && page->body.size() > 10000) ++heavyPages;
        }
      }
    });
  // Interleaved, so that every kind is arriving while the others do; each address stays within its cap.
  for (int i = 0; i < idleCount; ++i) {
    idle.push_back(std::make_unique<LoadClient>(port, "127.0.4.1"));
    if (i < readers) {
      readersThatDoNot.push_back(std::make_unique<LoadClient>(port, "127.0.1." + std::to_string(1 + i % 10), 4096));
      readersThatDoNot.back()->Send("GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    if (i < slowBodies) {
      bodies.push_back(std::make_unique<LoadClient>(port, "127.0.2." + std::to_string(1 + i % 4)));
      bodies.back()->Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Type: text/plain\r\nContent-Length: 1000000\r\n\r\n");
    }
    if (i < slowHeaders) {
      headers.push_back(std::make_unique<LoadClient>(port, "127.0.3." + std::to_string(1 + i % 10)));
      headers.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n");
    }
  }
  for (auto* group : {&readersThatDoNot, &songs, &bodies, &headers})
    for (auto& client : *group) ASSERT_TRUE(client->Connected());

  // Eight seconds of probes, within the server's deadline for a request header; the slow senders send a
  // byte each second.
  int probes = 0, answered = 0;
  Clock::duration worst{};
  auto loadEnds = Clock::now() + 8s;
  auto nextTrickle = Clock::now();
  while (Clock::now() < loadEnds) {
    if (Clock::now() >= nextTrickle) {
      for (auto& client : bodies) client->Send("b");
      for (auto& client : headers) client->Send("X");
      nextTrickle += 1s;
    }
    ++probes;
    auto probeStart = Clock::now();
    if (ProbeAnswered(port, ProbeTimeout())) ++answered;
    worst = std::max(worst, Clock::now() - probeStart);
    std::this_thread::sleep_for(50ms);
  }
  loadOver = true;
  for (auto& thread : heavy) thread.join();
  EXPECT_EQ(answered, probes) << "every normal GET / is answered within " << ProbeTimeout().count() << " s";
  EXPECT_GT(heavyPages, 0) << "the heavy pages were produced";
  // The load was real: the clients that do not read have their answers started.
  int started = static_cast<int>(std::count_if(readersThatDoNot.begin(), readersThatDoNot.end(), [](auto& client) {
    return client->Peek().rfind("HTTP/1.1 200", 0) == 0;
  }));
  EXPECT_GE(started, readers - readers / 30);
  int songsStarted = static_cast<int>(std::count_if(
      songs.begin(), songs.end(), [](auto& client) { return client->Peek().rfind("HTTP/1.1 200", 0) == 0; }));
  EXPECT_EQ(songsStarted, songReaders);
  const ProcessStatus loaded = StatusOf(pid);
  // The header deadline is 10 s: every stalled header is closed by then, give or take a sweep of the
  // deadlines and a busy machine.
  for (auto& connection : stalledHeaders) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(stalledSince + 10s + ProbeTimeout() * 2 - Clock::now());
    EXPECT_TRUE(connection->WaitClosed(std::max(left, std::chrono::milliseconds(1))));
  }
  stalledHeaders.clear();

  readersThatDoNot.clear();
  songs.clear();
  bodies.clear();
  headers.clear();
  idle.clear();
  // Threads back to the baseline, resident memory within half of it (at least 8 MiB), in 35 seconds.
  const long memoryLimit =
      kResidentSizeMeaningful ? baseline.residentKiB + std::max(baseline.residentKiB / 2, 8L << 10) : LONG_MAX;
  // Asio on Windows starts a thread of its own for deadlines the first time it needs one, and keeps it.
  const long asioTimerThread = qftest::TestHost() == qftest::Host::Wine ? 1 : 0;
  ProcessStatus after;
  auto giveUp = Clock::now() + 35s;
  do {
    std::this_thread::sleep_for(200ms);
    after = StatusOf(pid);
  } while ((after.threads > baseline.threads + asioTimerThread || after.residentKiB > memoryLimit) &&
           Clock::now() < giveUp);
  EXPECT_LE(after.threads, baseline.threads + asioTimerThread);
  EXPECT_LE(after.residentKiB, memoryLimit);
  EXPECT_TRUE(ProbeAnswered(port, 10s));
  EXPECT_TRUE(quenforth.Stop()) << "the server stops cleanly, and leaks nothing where that is checked";
  std::printf(
      "probes %d, answered %d, the slowest in %lld ms; threads %ld at rest, %ld under load, %ld after; "
      "resident %ld KiB at rest, %ld under load, %ld after\n",
      probes, answered, static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(worst).count()),
      baseline.threads, loaded.threads, after.threads, baseline.residentKiB, loaded.residentKiB, after.residentKiB);
}

TEST(MixedLoad, LargePagesNobodyReadsShareOneBudget) {
  // 40 clients each ask for a page of 16 MiB and read none of it: held in full, the answers would take
  // 640 MiB of a player that may have 2 GiB of address space in all.
  qftest::QuenforthProcess quenforth([](const fs::path& data) {
    qftest::WriteFile(data / "base" / "chunk.html", std::string(1 << 20, 'p'));
    std::string page;
    for (int i = 0; i < 16; ++i) page += "<#include file=chunk.html>";
    qftest::WriteFile(data / "base" / "large.html", page);
  });
  const std::uint16_t port = quenforth.Port();
  ASSERT_TRUE(ProbeAnswered(port, 10s));
  const ProcessStatus baseline = StatusOf(quenforth.Pid());
  const int clients = qftest::TestHost() == qftest::Host::Wine ? 20 : 40;
  std::vector<std::unique_ptr<LoadClient>> readers;
  for (int i = 0; i < clients; ++i) {
    readers.push_back(std::make_unique<LoadClient>(port, "127.0.9." + std::to_string(1 + i % 20), 4096));
    readers.back()->Send("GET /large.html HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  // Every page is produced (its answer started), within the budget or cut short by it.
  auto giveUp = Clock::now() + 120s;
  int started = 0;
  while (Clock::now() < giveUp) {
    started = static_cast<int>(std::count_if(
        readers.begin(), readers.end(), [](auto& client) { return client->Peek().rfind("HTTP/1.1 200", 0) == 0; }));
    if (started == clients) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(started, clients);
  EXPECT_TRUE(ProbeAnswered(port, ProbeTimeout()));
  const ProcessStatus loaded = StatusOf(quenforth.Pid());
  // The budget is 64 MiB of page text; with what producing them took besides, far below 640 MiB.
  if (kResidentSizeMeaningful) {
    EXPECT_LT(loaded.residentKiB - baseline.residentKiB, 256L << 10);
  }
  readers.clear();
  EXPECT_TRUE(ProbeAnswered(port, 10s));
  std::printf("resident %ld KiB at rest, %ld with %d pages of 16 MiB held\n", baseline.residentKiB, loaded.residentKiB,
              clients);
}

}  // namespace
