// The mixed load no client may use to take the server: clients that do not read a 20 MB answer, slow
// request bodies, slow request headers, and one address opening a thousand idle connections, all at once.
// A normal client is answered throughout, and the server gives back its threads and memory afterwards.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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
      [](const fs::path& data) { qftest::WriteFile(data / "base" / "big.bin", std::string(kSkinFileBytes, 'q')); });
  const std::uint16_t port = quenforth.Port();
  const int pid = quenforth.Pid();
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(ProbeAnswered(port, 10s));
  const ProcessStatus baseline = StatusOf(pid);
  ASSERT_GT(baseline.threads, 0);

  // Under Wine every socket operation is a round trip to the Wine server, about a millisecond on this
  // kind of machine (a thousand connections take a second to accept), so the load there is a quarter as
  // large, still far beyond each address's cap.
  const int scale = qftest::TestHost() == qftest::Host::Wine ? 4 : 1;
  const int idleCount = 1100 / scale, readers = 300 / scale, slowBodies = 100 / scale, slowHeaders = 600 / scale;
  std::vector<std::unique_ptr<LoadClient>> readersThatDoNot, bodies, headers, idle;
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
  for (auto* group : {&readersThatDoNot, &bodies, &headers})
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
  EXPECT_EQ(answered, probes) << "every normal GET / is answered within " << ProbeTimeout().count() << " s";
  // The load was real: the clients that do not read have their answers started.
  int started = static_cast<int>(std::count_if(readersThatDoNot.begin(), readersThatDoNot.end(), [](auto& client) {
    return client->Peek().rfind("HTTP/1.1 200", 0) == 0;
  }));
  EXPECT_GE(started, readers - readers / 30);
  const ProcessStatus loaded = StatusOf(pid);

  readersThatDoNot.clear();
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

}  // namespace
