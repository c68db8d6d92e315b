#pragma once
// THttpServer (the configuration window's HTTPServer1): an HTTP/1.0-1.1 server that hands every parsed
// request to one handler.
//
// Connections are read asynchronously by one listener thread; a request whose header has arrived is
// given to a worker thread (small stack, reused), which reads the body, runs the handler and writes
// the answer. Idle and slow connections therefore cost no thread. Limits a broken or hostile client
// cannot get around: header size and field count, request body size, a deadline for the header, an idle
// deadline between kept-alive requests, a stall deadline for bodies and answers, and a cap on open
// connections. Framings that could desynchronise a proxy in front of the server are refused with 400.
//
// Boost stays inside server.cpp; this header is free of it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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
  std::size_t maxConnections = 1024;
  std::size_t maxWorkers = 64;
  std::size_t workerStackBytes = 1 << 20;
};

class THttpServer {
 public:
  // Runs on a worker thread for every request. Whatever it does not write, the server answers from
  // the response's ResponseNo and ContentText (its own short page naming the status when that is empty).
  using RequestHandler = std::function<void(TRequest&, TResponse&)>;

  explicit THttpServer(RequestHandler handler, ServerLimits limits = {});
  ~THttpServer();  // stops
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds to `address` ("" for every local IPv4 address, or "127.0.0.1") and `port` (0 picks a free one)
  // and listens. On failure answers the error's text and stays stopped. Start and Stop belong to one
  // thread (the player's).
  std::optional<std::string> Start(const std::string& address, std::uint16_t port);
  // Stops listening, ends every connection and waits until every request has finished, handling
  // meanwhile the messages other threads send to this thread's windows (a request may be blocked sending
  // to the player while the player's thread stops the server). Joins every thread it started.
  void Stop();
  bool Active() const;
  std::uint16_t Port() const;  // the bound port while active

  struct Running;  // the implementation's

 private:
  RequestHandler handler_;
  ServerLimits limits_;
  std::unique_ptr<Running> running_;
};

}  // namespace qf
