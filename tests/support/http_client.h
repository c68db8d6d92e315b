#pragma once
// A small blocking HTTP client over loopback for tests: it can send anything, malformed requests
// included, and reads answers with a deadline.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace qftest {

struct HttpResponse {
  int status = 0;
  std::string statusLine;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string Header(const std::string& lowerName) const {
    auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
  }
};

// One TCP connection to 127.0.0.1, from `from` (another loopback address such as "127.0.0.2": the whole of
// 127.0.0.0/8 is loopback on Linux) or from 127.0.0.1 when empty.
class Connection {
 public:
  explicit Connection(std::uint16_t port, const std::string& from = "");
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Connected() const { return socket_ >= 0; }
  bool Send(const std::string& bytes);
  // Reads one response; the body by Content-Length, or up to the end of the connection. Empty when
  // nothing complete arrived before the deadline or the connection closed first.
  std::optional<HttpResponse> Read(std::chrono::milliseconds timeout = std::chrono::seconds(10),
                                   bool headRequest = false);
  // True when the server closed the connection (reads end) before the deadline.
  bool WaitClosed(std::chrono::milliseconds timeout);
  void Close();
  // Ends the connection with a reset (RST), as a client that crashes or loses its network does.
  void Reset();
  // Says that nothing more will be sent, and goes on reading.
  void ShutdownWrite();
  // Reads raw bytes until at least `atLeast` are waiting or the deadline passes; how many are waiting.
  std::size_t ReadSome(std::size_t atLeast, std::chrono::milliseconds timeout);

 private:
  bool Fill(std::chrono::steady_clock::time_point deadline);
  int socket_ = -1;
  std::string pending_;
  bool ended_ = false;
};

// One request on a new connection: "GET target HTTP/1.1" with Host and Connection: close.
std::optional<HttpResponse> Get(std::uint16_t port, const std::string& target, const std::string& extraHeaders = "");
// Sends `raw` on a new connection and reads one response.
std::optional<HttpResponse> Exchange(std::uint16_t port, const std::string& raw, bool headRequest = false);

// Every byte but letters and digits as %XX, for a query value.
std::string Encoded(const std::string& text);

}  // namespace qftest
