#pragma once
// THttpServer (the configuration window's HTTPServer1): an HTTP/1.0-1.1 server that hands every parsed
// request to one handler.
//
// No thread ever waits on a client: headers and bodies are received and answers sent asynchronously by a
// small pool of threads. The handler runs on a pool thread once the whole request (header and body) has
// arrived; it only records the answer, which the connection then sends in chunks. A slow or stalled client
// therefore costs a connection, never a thread. Limits a broken or hostile client cannot get around: header
// size and field count, request body size, a deadline for the header, an idle deadline between kept-alive
// requests, a stall deadline for bodies and answers, a cap on open connections per client address and in
// all (at either cap, the connection that has waited longest for a request is closed to make room before a
// new one is refused). Framings that could desynchronise a proxy in front of the server are refused with 400.
//
// Boost stays inside server.cpp; this header is free of it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qf {

struct TRequest;
struct TResponse;

inline constexpr char kServerSoftware[] = "Quenforth/3.0";

struct ServerLimits {
  std::size_t maxRequestLine = 8 * 1024;            // longer: 414
  std::size_t maxHeaderBytes = 16 * 1024;           // longer: 431
  std::size_t maxHeaderFields = 100;                // more: 431
  std::uint64_t maxBodyBytes = 512ull << 20;        // larger: 413, nothing of it read
  std::chrono::milliseconds headerTimeout{10'000};  // a new connection's first request header
  std::chrono::milliseconds idleTimeout{15'000};    // the next request on a kept-alive connection
  std::chrono::milliseconds ioTimeout{30'000};      // a body or an answer that stops moving
  // What the system may buffer for one client's answer: a client that does not read pins no more of the
  // kernel's memory than this (0: the system's default, which grows to megabytes).
  std::size_t sendBufferBytes = 256 * 1024;
  std::size_t maxConnections = 1024;
  std::size_t maxConnectionsPerAddress = 64;
  std::size_t baseWorkers = 0;  // the pool's size without load; 0: two per core and one more
  std::size_t maxWorkers = 64;  // the pool grows up to this while handlers block
  std::size_t workerStackBytes = 1 << 20;
  std::chrono::milliseconds stopGrace{5'000};  // how long Stop waits for handlers still running
};

class THttpServer {
 public:
  // Runs on a pool thread for every request, once the request (header and body) has arrived whole. Its
  // WriteContent or ServeFile sets the answer, which the server sends after it returns; when it sets none,
  // the server answers from the response's ResponseNo and ContentText (its own short page naming the
  // status when that is empty).
  using RequestHandler = std::function<void(TRequest&, TResponse&)>;

  explicit THttpServer(RequestHandler handler, ServerLimits limits = {});
  ~THttpServer();  // stops, then waits for every handler still running (handling sent messages)
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds to `address` ("" for every local IPv4 address, or "127.0.0.1") and `port` (0 picks a free one)
  // and listens. On failure answers the error's text and stays stopped. Start and Stop belong to one
  // thread (the player's).
  std::optional<std::string> Start(const std::string& address, std::uint16_t port);
  // Stops listening, closes every connection and waits up to stopGrace for the handlers still running,
  // handling meanwhile the messages other threads send to this thread's windows (a handler may be blocked
  // sending to the player while the player's thread stops the server). Joins every thread it started except
  // those of handlers still stuck after the grace: their threads end on their own once the handler returns,
  // and are joined by the next Start or at the latest by the destructor, which waits for them.
  void Stop();
  bool Active() const;
  std::uint16_t Port() const;  // the bound port while active

  struct Running;  // the implementation's

 private:
  RequestHandler handler_;
  ServerLimits limits_;
  std::unique_ptr<Running> running_;
  // Earlier runs whose handlers were still stuck when Stop gave up on them: kept until their threads end.
  std::vector<std::unique_ptr<Running>> retiring_;
};

}  // namespace qf
