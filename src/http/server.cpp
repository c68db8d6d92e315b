// The server glue on Boost.Beast and Boost.Asio.
//
// A small pool of threads runs the io_context: they accept and read request headers asynchronously under a
// deadline. The thread that completes a header answers that request itself (leader/followers): it reads
// the body and writes the answer with non-blocking socket calls and poll() under deadlines, then starts
// the asynchronous read of the connection's next request. Each connection's handlers run on its own
// strand.
//
// The pool has one thread per core and one more. Requests that block (on the player, say) are noticed by
// a monitor: when every thread is busy and none has finished a request for a while, it adds a thread,
// up to a limit, so accepting and reading never stop for long. Busy but moving requests add nothing:
// more threads than cores would only trade work for task switches.

#include "http/server.h"

// Our headers come before Boost's: on Windows Boost includes <windows.h>, whose macros would rewrite the
// platform layer's Win32 names.
#include "core/dimime.h"
#include "http/byterange.h"
#include "http/request.h"
#include "http/urlcode.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/window.h"

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>  // Boost 1.74's asio needs std::exchange declared before it
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#ifndef _WIN32
#include <poll.h>
#include <sys/socket.h>
#endif

namespace qf {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kChunk = 64 * 1024;

const char* Reason(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return status < 400 ? "OK" : "Error";
  }
}

std::string HttpDate(std::time_t time) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &time);
#else
  gmtime_r(&time, &parts);
#endif
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

// The page the server sends when the handler set no text of its own.
std::string DefaultPage(int status) {
  std::string title = std::to_string(status) + " " + Reason(status);
  return "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>";
}

struct Head {
  int status = 200;
  std::string contentType = "text/html";
  std::uint64_t contentLength = 0;
  std::string extra;  // further header lines, each ending in CR LF
  bool keepAlive = false;
  bool http10 = false;
};

std::string FormatHead(const Head& head) {
  std::string text;
  text.reserve(256 + head.extra.size());
  text += "HTTP/1.1 ";
  text += std::to_string(head.status);
  text += ' ';
  text += Reason(head.status);
  text += "\r\nServer: ";
  text += kServerSoftware;
  text += "\r\nDate: ";
  text += HttpDate(std::time(nullptr));
  if (!head.contentType.empty()) {
    text += "\r\nContent-Type: ";
    text += head.contentType;
  }
  text += "\r\nContent-Length: ";
  text += std::to_string(head.contentLength);
  text += "\r\n";
  text += head.extra;
  if (!head.keepAlive)
    text += "Connection: close\r\n";
  else if (head.http10)
    text += "Connection: keep-alive\r\n";
  text += "\r\n";
  return text;
}

// An answer the listener sends on its own before closing: a refused or broken request.
std::string RefusalText(int status) {
  Head head;
  head.status = status;
  std::string page = DefaultPage(status);
  head.contentLength = page.size();
  if (status == 405) head.extra = "Allow: GET, POST, HEAD\r\n";
  return FormatHead(head) + page;
}

bool ContainsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// Checks the raw header block (request line and fields, up to and including the blank line) for what
// the parser would let through: obsolete line folding, bare CR or LF, an HTTP/0.9 request line, too long
// a request line, too many fields. Answers 0 when the block may be parsed, else the status to refuse with.
int CheckHeaderBlock(std::string_view block, const ServerLimits& limits) {
  std::size_t lineEnd = block.find("\r\n");
  std::string_view requestLine = block.substr(0, lineEnd);
  if (requestLine.size() > limits.maxRequestLine) return 414;
  std::size_t firstBlank = requestLine.find(' ');
  std::size_t lastBlank = requestLine.rfind(' ');
  if (firstBlank == std::string_view::npos || firstBlank == lastBlank) return 400;  // no version: HTTP/0.9
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\n' && (i == 0 || block[i - 1] != '\r')) return 400;
    if (block[i] == '\r' && (i + 1 >= block.size() || block[i + 1] != '\n')) return 400;
  }
  std::size_t fields = 0;
  std::size_t start = lineEnd + 2;
  while (start < block.size()) {
    std::size_t end = block.find("\r\n", start);
    if (end == start) break;  // the blank line
    if (block[start] == ' ' || block[start] == '\t') return 400;
    if (++fields > limits.maxHeaderFields) return 431;
    start = end + 2;
  }
  return 0;
}

template <class Fields>
int CheckFraming(const http::request_header<Fields>& header) {
  int version = header.version();
  if (version != 10 && version != 11) return 400;
  if (header.method() == http::verb::trace || header.method() == http::verb::connect) return 405;
  std::size_t lengths = header.count(http::field::content_length);
  std::size_t encodings = header.count(http::field::transfer_encoding);
  if (lengths > 1 || encodings > 1) return 400;
  if (encodings == 1) {
    if (lengths > 0 || version == 10) return 400;
    std::string_view coding = header[http::field::transfer_encoding];
    // Only blanks and tabs around it: any other byte makes the coding one a front-end may read differently.
    while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t')) coding.remove_suffix(1);
    while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t')) coding.remove_prefix(1);
    if (!beast::iequals(coding, "chunked")) return 400;
  }
  return 0;
}

CommandKind KindOf(http::verb verb) {
  switch (verb) {
    case http::verb::get:
      return CommandKind::Get;
    case http::verb::post:
      return CommandKind::Post;
    case http::verb::head:
      return CommandKind::Head;
    case http::verb::put:
      return CommandKind::Put;
    case http::verb::delete_:
      return CommandKind::Delete;
    case http::verb::options:
      return CommandKind::Options;
    default:
      return CommandKind::Other;
  }
}

// Waits until the socket can be read or written, or the deadline passes.
bool WaitReady(tcp::socket& socket, bool forWrite, Clock::time_point deadline) {
  for (;;) {
    auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (remaining <= 0) return false;
    int milliseconds = static_cast<int>(std::min<long long>(remaining, 1000));
#ifdef _WIN32
    WSAPOLLFD descriptor{socket.native_handle(), static_cast<SHORT>(forWrite ? POLLWRNORM : POLLRDNORM), 0};
    int ready = ::WSAPoll(&descriptor, 1, milliseconds);
#else
    pollfd descriptor{socket.native_handle(), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int ready = ::poll(&descriptor, 1, milliseconds);
    if (ready < 0 && errno == EINTR) continue;
#endif
    if (ready < 0) return false;
    if (ready > 0) return true;
  }
}

}  // namespace

struct Connection;

// Everything that lives while the server is active: the io_context, the listener, the connections and
// the threads. Created by Start, destroyed by Stop.
struct THttpServer::Running {
  Running(THttpServer::RequestHandler& handler, const ServerLimits& limits) : handler(handler), limits(limits) {}

  THttpServer::RequestHandler& handler;
  const ServerLimits& limits;
  std::atomic<bool> stopping{false};
  std::uint16_t port = 0;

  // Guards the connection registry and the thread list.
  std::mutex lock;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections;
  std::vector<platform::Thread> threads;
  std::atomic<std::size_t> threadCount{0};
  std::atomic<std::size_t> activeRequests{0};
  std::atomic<std::uint64_t> finishedRequests{0};

  // The monitor sleeps on this between looks at the pool.
  std::mutex monitorLock;
  std::condition_variable monitorWake;
  platform::Thread monitor;

  // Declared after the registry: destroying the io_context destroys pending handlers and with them
  // connections, which unregister themselves.
  asio::io_context context;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  asio::strand<asio::io_context::executor_type> acceptStrand{context.get_executor()};
  tcp::acceptor acceptor{acceptStrand};
  asio::steady_timer acceptRetry{acceptStrand};
  asio::steady_timer sweepTimer{acceptStrand};

  void Accept();
  // Every quarter second: closes connections whose wait for a header has outlived its deadline.
  void Sweep();
  bool AddThread();
  void Monitor();
  // Lets the pool threads run out of work and joins them.
  void JoinThreads();
  // Counts a request that a pool thread is about to answer. False once the server is stopping: Stop waits
  // for the count to reach zero, so a request must be counted before it looks at `stopping`, never after.
  bool BeginRequest() {
    ++activeRequests;
    if (stopping) {
      --activeRequests;
      return false;
    }
    return true;
  }
  void EndRequest() {
    ++finishedRequests;
    --activeRequests;
  }
  void Unregister(Connection* connection) {
    std::lock_guard guard(lock);
    connections.erase(connection);
  }
  std::vector<std::shared_ptr<Connection>> LiveConnections() {
    std::vector<std::shared_ptr<Connection>> live;
    std::lock_guard guard(lock);
    for (auto& [key, weak] : connections)
      if (auto connection = weak.lock()) live.push_back(std::move(connection));
    return live;
  }
};

struct Connection : std::enable_shared_from_this<Connection>, ResponseChannel {
  using Parser = http::request_parser<http::buffer_body>;

  Connection(THttpServer::Running& server, tcp::socket socket, std::string remoteIp)
      : server(server), socket(std::move(socket)), remoteIp(std::move(remoteIp)) {
    handle = this->socket.native_handle();
    readBuffer.reserve(4096);
  }
  ~Connection() override { server.Unregister(this); }

  THttpServer::Running& server;
  tcp::socket socket;  // bound to the connection's own strand
  // When the connection's current wait ends (steady-clock ticks; 0: none): the sweep closes it then.
  std::atomic<Clock::rep> deadline{0};
  std::string remoteIp;
#ifdef _WIN32
  SOCKET handle;
#else
  int handle;
#endif
  std::string readBuffer;  // bytes read but not yet parsed (a pipelined request, the start of a body)
  std::optional<Parser> parser;
  bool firstRequest = true;
  std::atomic<bool> busy{false};  // a pool thread is answering a request of this connection

  std::mutex closeLock;  // guards `closed` against Abort from the stopping thread
  bool closed = false;

  // The request a worker is answering.
  bool keepAlive = false;
  bool headRequest = false;
  bool broken = false;  // a write failed: nothing more can be sent

  // Listener side.

  void ReadRequest() {
    if (server.stopping) return Close();
    SetDeadline(firstRequest ? server.limits.headerTimeout : server.limits.idleTimeout);
    asio::async_read_until(
        socket, asio::dynamic_buffer(readBuffer, server.limits.maxHeaderBytes), "\r\n\r\n",
        [self = shared_from_this()](error_code error, std::size_t length) { self->OnHeader(error, length); });
  }

  void SetDeadline(std::chrono::milliseconds timeout) {
    deadline = (Clock::now() + timeout).time_since_epoch().count();
  }

  // From the sweep, on the strand: ends a wait that has outlived its deadline.
  void CloseIfExpired(Clock::rep now) {
    Clock::rep due = deadline;
    if (due != 0 && due <= now) Close();
  }

  void OnHeader(error_code error, std::size_t length) {
    deadline = 0;
    if (error == asio::error::not_found) {  // the header outgrew its limit
      std::size_t lineEnd = readBuffer.find("\r\n");
      return Refuse(lineEnd == std::string::npos || lineEnd > server.limits.maxRequestLine ? 414 : 431);
    }
    if (error || server.stopping) return Close();
    if (int status = CheckHeaderBlock(std::string_view(readBuffer).substr(0, length), server.limits))
      return Refuse(status);
    parser.emplace();
    parser->header_limit(static_cast<std::uint32_t>(server.limits.maxHeaderBytes + 4));
    parser->body_limit(server.limits.maxBodyBytes);
    error_code parseError;
    std::size_t used = parser->put(asio::buffer(readBuffer.data(), length), parseError);
    if (parseError == http::error::body_limit) return Refuse(413);
    if (parseError || used != length || !parser->is_header_done()) return Refuse(400);
    readBuffer.erase(0, length);
    if (int status = CheckFraming(parser->get().base())) return Refuse(status);
    firstRequest = false;
    // Marked busy first, so that a Stop between the two finds the request and cuts its socket calls short.
    busy = true;
    if (!server.BeginRequest()) {
      busy = false;
      return Close();
    }
    Serve();
    server.EndRequest();
  }

  void Refuse(int status) {
    auto text = std::make_shared<std::string>(RefusalText(status));
    SetDeadline(server.limits.ioTimeout);
    asio::async_write(socket, asio::buffer(*text), [self = shared_from_this(), text](error_code, std::size_t) {
      error_code ignored;
      self->socket.shutdown(tcp::socket::shutdown_send, ignored);
      self->Close();
    });
  }

  void Close() {
    std::lock_guard guard(closeLock);
    if (closed) return;
    closed = true;
    error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
  }

  // From the stopping thread: makes the pending socket calls of a request being answered fail at once.
  // The socket itself is closed on the connection's strand.
  void Abort() {
    std::lock_guard guard(closeLock);
    if (closed) return;
#ifdef _WIN32
    ::shutdown(handle, SD_BOTH);
#else
    ::shutdown(handle, SHUT_RDWR);
#endif
  }

  // Answering a request, on a pool thread that owns the connection until the answer is written.

  void Serve() {
    bool reuse = false;
    try {
      reuse = Answer();
    } catch (...) {
      reuse = false;
    }
    parser.reset();
    busy = false;
    if (reuse && !server.stopping)
      ReadRequest();
    else
      Close();
  }

  // Answers the request whose header has been parsed. True when the connection can carry another.
  bool Answer() {
    auto& header = parser->get();
    keepAlive = header.keep_alive();
    headRequest = header.method() == http::verb::head;
    broken = false;

    std::optional<RequestTarget> target = SplitTarget(header.target());
    if (!target) return SendRefusal(400);
    TRequest request;
    request.Document = UrlDecode(target->path, PlusMeans::Plus);
    request.UnparsedDocument = target->path;
    request.UnparsedParams = target->query;
    request.Params = SplitParams(target->query);
    request.Command = std::string(header.method_string());
    request.CommandType = KindOf(header.method());
    request.RemoteIP = remoteIp;
    ReadCredentials(header[http::field::authorization], request);

    RequestBody body;
    if (!parser->is_done()) {
      if (beast::iequals(header[http::field::expect], "100-continue") &&
          !WriteAll({asio::buffer(std::string_view("HTTP/1.1 100 Continue\r\n\r\n"))}))
        return false;
      if (int status = ReadBody(body)) return status > 0 ? SendRefusal(status) : false;
    }
    if (request.CommandType == CommandKind::Post) {
      request.PostStream = &body;
      std::string_view type = header[http::field::content_type];
      if (beast::iequals(type.substr(0, type.find(';')), "application/x-www-form-urlencoded") &&
          body.Size() <= RequestBody::kMemoryLimit) {
        TextList form = SplitParams(body.Text());
        request.Params.insert(request.Params.end(), form.begin(), form.end());
      }
    }
    if (ContainsNul(request.Document) || std::any_of(request.Params.begin(), request.Params.end(), ContainsNul))
      return SendRefusal(400);

    TResponse response;
    response.Channel = this;
    try {
      server.handler(request, response);
    } catch (...) {
      // The handler's own failures end its work; what it set in the response is still sent.
    }
    if (!response.Written() && !broken) SendContent(response);
    return keepAlive && !broken;
  }

  static void ReadCredentials(std::string_view authorization, TRequest& request) {
    std::size_t blank = authorization.find(' ');
    if (blank == std::string_view::npos || !beast::iequals(authorization.substr(0, blank), "Basic")) return;
    std::string decoded = MimeDecodeString(authorization.substr(blank + 1));
    std::size_t colon = decoded.find(':');
    if (colon == std::string::npos) return;
    request.AuthUsername = decoded.substr(0, colon);
    request.AuthPassword = decoded.substr(colon + 1);
  }

  // Reads the body into `body`. Answers 0 when complete, a status to refuse with, or -1 when the
  // connection failed.
  int ReadBody(RequestBody& body) {
    std::vector<char> chunk(kChunk);
    auto deadline = Clock::now() + server.limits.ioTimeout;
    while (!parser->is_done()) {
      auto& buffer = parser->get().body();
      buffer.data = chunk.data();
      buffer.size = chunk.size();
      std::size_t used = 0;
      error_code error;
      if (!readBuffer.empty()) {
        used = parser->put(asio::buffer(readBuffer), error);
        readBuffer.erase(0, used);
      }
      std::size_t got = chunk.size() - parser->get().body().size;
      if (got > 0) {
        body.Append(chunk.data(), got);
        deadline = Clock::now() + server.limits.ioTimeout;
      }
      if (error == http::error::body_limit) return 413;
      if (error && error != http::error::need_buffer && error != http::error::need_more) return 400;
      if (parser->is_done()) break;
      if (used == 0 && got == 0 && !ReadMore(deadline)) return -1;
    }
    return 0;
  }

  bool ReadMore(Clock::time_point deadline) {
    char bytes[kChunk];
    for (;;) {
      error_code error;
      std::size_t got = socket.read_some(asio::buffer(bytes), error);
      if (!error) {
        readBuffer.append(bytes, got);
        return true;
      }
      if (error != asio::error::would_block && error != asio::error::try_again) return false;
      if (!WaitReady(socket, false, deadline)) return false;
    }
  }

  bool WriteAll(std::vector<asio::const_buffer> buffers) {
    auto deadline = Clock::now() + server.limits.ioTimeout;
    std::size_t first = 0;
    for (;;) {
      while (first < buffers.size() && buffers[first].size() == 0) ++first;
      if (first == buffers.size()) break;
      error_code error;
      std::size_t written = socket.write_some(
          std::vector<asio::const_buffer>(buffers.begin() + static_cast<std::ptrdiff_t>(first), buffers.end()), error);
      if (error == asio::error::would_block || error == asio::error::try_again) {
        if (!WaitReady(socket, true, deadline)) return Broken();
        continue;
      }
      if (error) return Broken();
      if (written > 0) deadline = Clock::now() + server.limits.ioTimeout;
      for (; written > 0; ++first) {
        std::size_t part = std::min(written, buffers[first].size());
        buffers[first] += part;
        written -= part;
        if (buffers[first].size() > 0) break;
      }
    }
    return true;
  }

  bool Broken() {
    broken = true;
    return false;
  }

  bool SendRefusal(int status) {
    keepAlive = false;
    std::string text = RefusalText(status);
    WriteAll({asio::buffer(text)});
    return false;
  }

  Head MakeHead(int status, std::string contentType, std::uint64_t length) const {
    Head head;
    head.status = status;
    head.contentType = std::move(contentType);
    head.contentLength = length;
    head.keepAlive = keepAlive && !server.stopping;
    head.http10 = parser && parser->get().version() == 10;
    return head;
  }

  bool SendContent(const TResponse& response) override {
    std::string defaultPage = response.ContentText.empty() ? DefaultPage(response.ResponseNo) : std::string();
    const std::string& page = response.ContentText.empty() ? defaultPage : response.ContentText;
    Head head =
        MakeHead(response.ResponseNo, response.ContentType.empty() ? "text/html" : response.ContentType, page.size());
    if (response.ResponseNo == 401 && !response.AuthRealm.empty())
      head.extra = "WWW-Authenticate: Basic realm=\"" + response.AuthRealm + "\"\r\n";
    std::string text = FormatHead(head);
    if (headRequest) return WriteAll({asio::buffer(text)});
    return WriteAll({asio::buffer(text), asio::buffer(page)});
  }

  FileResult SendFile(const TResponse& response, const std::string& path) override {
    platform::File file = platform::File::Open(path, platform::File::Mode::Read);
    std::optional<platform::FileInfo> info = file.IsOpen() ? file.Info() : std::nullopt;
    if (!info || info->IsDirectory()) return FileResult::Unreadable;
    std::uint64_t size = info->size;
    auto& header = parser->get();
    std::string lastModified = HttpDate(static_cast<std::time_t>(info->lastWriteTime));

    ByteRange range;
    std::string_view rangeHeader = header[http::field::range];
    std::string_view ifRange = header[http::field::if_range];
    if (!rangeHeader.empty() && response.ResponseNo == 200 && (ifRange.empty() || ifRange == lastModified))
      range = ParseByteRange(rangeHeader, size);

    std::string contentType = response.ContentType.empty() ? "application/octet-stream" : response.ContentType;
    if (range.kind == ByteRange::Kind::Unsatisfiable) {
      Head head = MakeHead(416, "", 0);
      head.extra = "Content-Range: bytes */" + std::to_string(size) + "\r\n";
      return WriteAll({asio::buffer(FormatHead(head))}) ? FileResult::Sent : FileResult::ConnectionLost;
    }
    std::uint64_t first = 0, count = size;
    Head head = MakeHead(response.ResponseNo, contentType, size);
    head.extra = "Accept-Ranges: bytes\r\nLast-Modified: " + lastModified + "\r\n";
    if (range.kind == ByteRange::Kind::Partial) {
      first = range.first;
      count = range.last - range.first + 1;
      head.status = 206;
      head.contentLength = count;
      head.extra += "Content-Range: bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
                    std::to_string(size) + "\r\n";
    } else if (response.ResponseNo == 200 && header[http::field::if_modified_since] == lastModified) {
      head.status = 304;
      head.contentLength = 0;
      head.contentType.clear();
      return WriteAll({asio::buffer(FormatHead(head))}) ? FileResult::Sent : FileResult::ConnectionLost;
    }

    std::string text = FormatHead(head);
    if (headRequest) return WriteAll({asio::buffer(text)}) ? FileResult::Sent : FileResult::ConnectionLost;
    if (first > 0 && !file.Seek(first)) return FileResult::Unreadable;
    // Small files go out with their header in one write; larger ones follow it in chunks.
    std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(count, kChunk)));
    bool headerSent = false;
    while (count > 0 || !headerSent) {
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, chunk.size()));
      std::size_t got = 0;
      while (got < want) {
        std::int64_t read = file.Read(chunk.data() + got, want - got);
        if (read <= 0) break;
        got += static_cast<std::size_t>(read);
      }
      if (got < want) {  // the file shrank under us: the promised length cannot be kept
        if (!headerSent) return FileResult::Unreadable;
        Broken();
        return FileResult::ConnectionLost;
      }
      std::vector<asio::const_buffer> buffers;
      if (!headerSent) buffers.push_back(asio::buffer(text));
      buffers.push_back(asio::buffer(chunk.data(), got));
      if (!WriteAll(std::move(buffers))) return FileResult::ConnectionLost;
      headerSent = true;
      count -= got;
    }
    return FileResult::Sent;
  }
};

void THttpServer::Running::Accept() {
  acceptor.async_accept(asio::make_strand(context), [this](error_code error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || stopping) return;
    if (error) {
      // Out of descriptors or similar: try again shortly instead of spinning.
      acceptRetry.expires_after(std::chrono::milliseconds(50));
      acceptRetry.async_wait([this](error_code waitError) {
        if (!waitError && !stopping) Accept();
      });
      return;
    }
    error_code ignored;
    tcp::endpoint peer = socket.remote_endpoint(ignored);
    socket.set_option(tcp::no_delay(true), ignored);
    socket.non_blocking(true, ignored);
    std::string address = peer.address().is_v4() ? peer.address().to_v4().to_string() : peer.address().to_string();
    auto connection = std::make_shared<Connection>(*this, std::move(socket), std::move(address));
    bool admitted;
    {
      std::lock_guard guard(lock);
      admitted = connections.size() < limits.maxConnections;
      if (admitted) connections.emplace(connection.get(), connection);
    }
    asio::dispatch(connection->socket.get_executor(), [connection, admitted] {
      if (admitted)
        connection->ReadRequest();
      else
        connection->Close();
    });
    Accept();
  });
}

void THttpServer::Running::Sweep() {
  sweepTimer.expires_after(std::chrono::milliseconds(250));
  sweepTimer.async_wait([this](error_code error) {
    if (error || stopping) return;
    Clock::rep now = Clock::now().time_since_epoch().count();
    for (auto& connection : LiveConnections()) {
      Clock::rep due = connection->deadline;
      if (due != 0 && due <= now)
        asio::post(connection->socket.get_executor(), [connection, now] { connection->CloseIfExpired(now); });
    }
    Sweep();
  });
}

void THttpServer::Running::Monitor() {
  std::uint64_t seen = finishedRequests;
  std::unique_lock held(monitorLock);
  while (!monitorWake.wait_for(held, std::chrono::milliseconds(25), [this] { return stopping.load(); })) {
    std::uint64_t finished = finishedRequests;
    if (activeRequests >= threadCount && finished == seen && threadCount < limits.maxWorkers) AddThread();
    seen = finished;
  }
}

bool THttpServer::Running::AddThread() {
  std::lock_guard guard(lock);
  if (stopping) return false;
  try {
    threads.push_back(platform::Thread::Start(limits.workerStackBytes, [this] { context.run(); }));
  } catch (...) {
    return false;  // out of threads: the ones there are carry on
  }
  ++threadCount;
  return true;
}

THttpServer::THttpServer(RequestHandler handler, ServerLimits limits) : handler_(std::move(handler)), limits_(limits) {}

THttpServer::~THttpServer() { Stop(); }

std::optional<std::string> THttpServer::Start(const std::string& address, std::uint16_t port) {
  if (running_) return std::string("The server is already running.");
  auto running = std::make_unique<Running>(handler_, limits_);
  error_code error;
  asio::ip::address_v4 bindAddress = asio::ip::address_v4::any();
  if (!address.empty()) {
    bindAddress = asio::ip::make_address_v4(address, error);
    if (error) return "Could not bind socket. Invalid address " + address + ".";
  }
  tcp::endpoint endpoint(bindAddress, port);
  running->acceptor.open(endpoint.protocol(), error);
  if (error) return "Could not bind socket. " + error.message() + ".";
#ifndef _WIN32
  // On Windows this option would let the server take a port that another program listens on.
  running->acceptor.set_option(tcp::acceptor::reuse_address(true), error);
#endif
  running->acceptor.bind(endpoint, error);
  if (error == asio::error::address_in_use)
    return std::string("Could not bind socket. Address and port are already in use.");
  if (error == asio::error::access_denied) return std::string("Could not bind socket. Permission denied.");
  if (error) return "Could not bind socket. " + error.message() + ".";
  running->acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) return "Could not bind socket. " + error.message() + ".";
  running->port = running->acceptor.local_endpoint(error).port();
  running->work.emplace(running->context.get_executor());
  Running* server = running.get();
  asio::post(running->acceptStrand, [server] {
    server->Accept();
    server->Sweep();
  });
  std::size_t threads =
      std::min<std::size_t>(std::max(2u, std::thread::hardware_concurrency()) + 1, limits_.maxWorkers);
  for (std::size_t i = 0; i < threads; ++i) {
    if (!running->AddThread()) {
      server->stopping = true;
      server->JoinThreads();  // before the io_context they run goes away with `running`
      return std::string("Could not start the server: no threads.");
    }
  }
  try {
    running->monitor = platform::Thread::Start(64 * 1024, [server] { server->Monitor(); });
  } catch (...) {
    // Without the monitor the pool keeps its size.
  }
  running_ = std::move(running);
  return std::nullopt;
}

void THttpServer::Stop() {
  if (!running_) return;
  Running& server = *running_;
  {
    std::lock_guard guard(server.monitorLock);
    server.stopping = true;
  }
  server.monitorWake.notify_all();
  server.monitor.Join();
  // The listener and idle connections are closed on their strands, which own their pending operations;
  // requests being answered are cut off from here so that their socket calls fail at once.
  asio::post(server.acceptStrand, [&server] {
    error_code ignored;
    server.acceptor.close(ignored);
    server.acceptRetry.cancel();
    server.sweepTimer.cancel();
  });
  for (auto& connection : server.LiveConnections()) {
    if (connection->busy) connection->Abort();
    asio::post(connection->socket.get_executor(), [connection] { connection->Close(); });
  }
  platform::WaitHandlingSentMessages([&server] { return server.activeRequests == 0; });

  server.JoinThreads();
  running_.reset();
}

void THttpServer::Running::JoinThreads() {
  work.reset();
  context.stop();
  std::vector<platform::Thread> pool;
  {
    std::lock_guard guard(lock);
    pool.swap(threads);
  }
  for (auto& thread : pool) thread.Join();
}

bool THttpServer::Active() const { return running_ != nullptr; }

std::uint16_t THttpServer::Port() const { return running_ ? running_->port : 0; }

}  // namespace qf
