// libFuzzer target: raw request bytes through the server glue and the whole request pipeline, against a
// stand-in player on a prefix as the runner installs it (support/standin_prefix.h), with the real skins.
//
// Input: byte 0 picks this input's switches (bit 0 the whitelist, bit 1 user management, bit 2 commands
// from other sites; seeds write them as the digits '0' to '7'); byte 1 is the last octet of the client's
// loopback address 127.0.0.<byte> (0 counts as 1); the rest is sent as it stands on one connection, which
// is then half-closed. The server listens on 127.0.0.1 with one pool thread, so the requests of an input
// are handled one after the other, and every input starts from the same state (StandInPrefix::Reset).
//
// Oracles: the server ends the exchange by itself (no hang behind a half-closed client), whatever it sends
// begins with a status line, no answer shows a settings file or another file no request may read (the
// canary), no request writes anywhere but the folders requests may write to, and nothing a client sends
// breaks a line of the access log: every line ends in CR LF and has the fields of a request line (six,
// five TABs) or of a refusal of logins (three).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/quenforth.h"
#include "fuzzing.h"
#include "http/pipeline.h"
#include "http/request.h"
#include "http/server.h"
#include "standin_prefix.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long an exchange may take before it counts as a hang: far beyond what any input needs, well
// below libFuzzer's own time-out.
constexpr auto kExchangeLimit = std::chrono::seconds(20);

qf::THttpServer* gServer = nullptr;

std::uint16_t ServerPort() {
  if (!gServer) {
    qffuzz::StandInPrefix& prefix = qffuzz::StandInPrefix::Get();
    qf::ServerLimits limits;
    limits.baseWorkers = 1;
    limits.maxWorkers = 1;
    gServer = new qf::THttpServer(
        [&prefix](qf::TRequest& request, qf::TResponse& response) {
          qf::HTTPServer1CommandGet(prefix.Core(), request, response);
        },
        limits);
    if (gServer->Start("127.0.0.1", 0)) qffuzz::Fail("the server does not start", __FILE__, __LINE__);
    qffuzz::AtExit([] {
      gServer->Stop();
      delete gServer;
      gServer = nullptr;
    });
  }
  return gServer->Port();
}

struct Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) close(fd);
  }
};

// Sends `bytes` from 127.0.0.<octet>, half-closes, and answers everything the server sent until it closed.
std::string Exchange(std::uint16_t port, unsigned octet, std::string_view bytes) {
  Socket client;
  client.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  QF_FUZZ_CHECK(client.fd >= 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0x7F000000u | (octet == 0 ? 1u : octet));
  QF_FUZZ_CHECK(bind(client.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  QF_FUZZ_CHECK(connect(client.fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0);

  // The server may refuse and close before it has read everything: what it sent first still counts.
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t written = send(client.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (written <= 0) break;
    sent += static_cast<std::size_t>(written);
  }
  shutdown(client.fd, SHUT_WR);

  std::string answer;
  const Clock::time_point deadline = Clock::now() + kExchangeLimit;
  char piece[64 * 1024];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) qffuzz::Fail("the server did not end the exchange", __FILE__, __LINE__);
    pollfd wait{client.fd, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left)) <= 0) continue;
    ssize_t got = recv(client.fd, piece, sizeof piece, 0);
    if (got <= 0) break;  // closed, or reset after a refusal
    answer.append(piece, static_cast<std::size_t>(got));
  }
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::uint16_t port = ServerPort();
  qffuzz::StandInPrefix& prefix = qffuzz::StandInPrefix::Get();
  prefix.Reset(qffuzz::StandInPrefix::SwitchesOf(data[0]));
  const std::string_view request = qffuzz::Text(data + 2, size - 2);

  std::string answer = Exchange(port, data[1], request);
  if (std::getenv("QF_FUZZ_SHOW")) std::fprintf(stderr, "%s\n", answer.c_str());  // to see what seeds reach
  QF_FUZZ_CHECK(answer.empty() || answer.compare(0, 7, "HTTP/1.") == 0);
  QF_FUZZ_CHECK(!qffuzz::ShowsCanary(answer, request));
  prefix.CheckNothingWrittenOutside();

  const std::string log = prefix.AccessLog();
  for (std::size_t start = 0; start < log.size();) {
    std::size_t end = log.find("\r\n", start);
    QF_FUZZ_CHECK(end != std::string::npos);
    std::string_view line = std::string_view(log).substr(start, end - start);
    QF_FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    auto tabs = std::count(line.begin(), line.end(), '\t');
    QF_FUZZ_CHECK(tabs == 5 || (tabs == 2 && line.find("\tlogins refused for 60 s") != std::string_view::npos));
    start = end + 2;
  }
  return 0;
}
