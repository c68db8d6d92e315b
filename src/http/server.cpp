// The server glue on Boost.Beast and Boost.Asio.
//
// Every socket operation is asynchronous, so no thread ever waits on a client. A small pool of threads runs
// the io_context; each connection's handlers run on its own strand. A connection reads a request's header
// and body; once both are there, the pool thread that completed the read runs the request handler, which
// records the answer (a page, or an opened file and its range). The connection then writes the answer a
// piece at a time, reading a file 64 KiB per completion, and reads its next request. Every wait on the
// client has a deadline that a sweep enforces: the header, the idle time between requests, and the time
// without progress of a body or an answer.
//
// The pool has two threads per core and one more: a handler spends most of its time waiting for the player's
// thread, which answers the messages of several waiting handlers at once, or for the disk. A monitor adds a
// thread, up to a limit, when every thread is inside a handler and none has finished one for a while (they
// block), or when every thread has been inside a handler at each of its last looks (they wait more than
// they run), so accepting, reading and writing never stop for long and the player's thread is kept fed. A
// pool whose threads are often idle does not grow: more threads than that would only trade work for task
// switches. Every two seconds the monitor retires the threads that the busiest moment of those two seconds
// did not need, down to the base size.

#include "http/server.h"

// Our headers come before Boost's: on Windows Boost includes <windows.h>, whose macros would rewrite the
// platform layer's Win32 names.
#include "core/smallfiles.h"
#include "http/answerhead.h"
#include "http/byterange.h"
#include "http/request.h"
#include "http/urlcode.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/window.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <list>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>  // Boost 1.74's asio needs std::exchange declared before it
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#ifndef _WIN32
#include <sys/socket.h>
#endif

namespace qf {
namespace {
class HeaderEnd;
}  // namespace
}  // namespace qf

// HeaderEnd decides where async_read_until stops.
template <>
struct boost::asio::is_match_condition<qf::HeaderEnd> : std::true_type {};

namespace qf {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;
// A connection's socket names its strand's type: a socket of the type-erased executor allocates for the
// executor of every operation it starts, several times a request.
using Strand = asio::strand<asio::io_context::executor_type>;
using StrandSocket = asio::basic_stream_socket<tcp, Strand>;

namespace {

constexpr std::size_t kChunk = 64 * 1024;               // a file is sent, and a body read, in pieces of this size
constexpr std::size_t kSmallFile = 16 * 1024;           // files up to this size are read whole before they are sent
constexpr std::size_t kSmallFilesKept = 4 << 20;        // of them, kept in memory at most
constexpr std::uint64_t kFileSentAtOnce = 16 * kChunk;  // then the connection waits its turn

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

// Where a request's header ends, for async_read_until: at the blank line, or as soon as the header can
// only be refused, so a client is answered 400 at once instead of waiting for a blank line that its
// framing never sends: a bare LF, or a request line without a version (HTTP/0.9). Each byte is looked
// at once; the state carries over between the reads of one header.
class HeaderEnd {
 public:
  template <class Iterator>
  std::pair<Iterator, bool> operator()(Iterator begin, Iterator end) {
    for (Iterator i = begin; i != end; ++i) {
      const char c = *i;
      if (c == '\n') {
        if (previous_ != '\r') return {std::next(i), true};
        if (firstLine_) {
          firstLine_ = false;
          if (blanks_ < 2) return {std::next(i), true};
        } else if (lineEmpty_) {
          return {std::next(i), true};
        }
        lineEmpty_ = true;
      } else if (c != '\r') {
        lineEmpty_ = false;
        if (firstLine_ && c == ' ') ++blanks_;
      }
      previous_ = c;
    }
    return {end, false};
  }

 private:
  bool firstLine_ = true;
  bool lineEmpty_ = false;
  int blanks_ = 0;
  char previous_ = 0;
};

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

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr auto kMonitorTick = std::chrono::milliseconds(25);
constexpr int kShrinkTicks = 80;  // two seconds of the monitor's looks
constexpr int kBusyTicks = 4;     // looks in a row with every thread inside a handler

}  // namespace

struct Connection;

namespace {
// A connection's answer being recorded and then written: the header text, then the page (or a small file),
// or the file a piece at a time. Outside Connection: clang cannot construct a nested class with default
// member initializers inside the definition of the class that encloses it.
struct Outgoing {
  std::string head;
  std::string body;
  std::shared_ptr<const std::string> keptFile;  // a kept small file's text, whose range is sent instead
  std::size_t keptFirst = 0;
  std::size_t keptCount = 0;
  std::size_t headSent = 0;
  std::size_t bodySent = 0;
  platform::File file;
  std::uint64_t fileOffset = 0;      // where the next piece starts
  std::uint64_t fileLeft = 0;        // bytes of the file still to be sent
  std::shared_ptr<const void> hold;  // the page budget's share of the body, given back with it

  std::string_view Body() const {
    if (!keptFile) return body;
    std::string_view kept(*keptFile);
    return kept.substr(std::min(keptFirst, kept.size()), keptCount);
  }
};
}  // namespace

// Everything that lives while the server is active: the io_context, the listener, the connections and
// the threads. Created by Start; destroyed by Stop, or later when a handler was still stuck then.
struct THttpServer::Running {
  Running(THttpServer::RequestHandler& handler, const ServerLimits& limits) : handler(handler), limits(limits) {}

  struct Worker {
    platform::Thread thread;
    std::atomic<bool> retire{false};    // set by a retirement the thread ran: it leaves the pool
    std::atomic<bool> finished{false};  // its body has returned: joining it does not wait
  };

  THttpServer::RequestHandler& handler;
  const ServerLimits& limits;
  std::atomic<bool> stopping{false};
  std::uint16_t port = 0;
  std::size_t baseThreads = 0;

  // Guards the connection registry, the per-address counts and the worker list.
  std::mutex lock;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections;  // Guarded by lock
  std::unordered_map<std::string, std::size_t> perAddress;                 // Guarded by lock
  std::list<Worker> workers;                                               // Guarded by lock
  std::atomic<std::size_t> threadCount{0};                                 // workers that have not been retired
  std::atomic<std::size_t> retirements{0};                                 // posted and not yet run
  std::atomic<std::size_t> activeRequests{0};
  std::atomic<std::uint64_t> finishedRequests{0};
  std::atomic<bool> listenerClosed{false};
  SmallFiles smallFiles{kSmallFile, kSmallFilesKept};

  // The monitor sleeps on this between looks at the pool.
  std::mutex monitorLock;
  std::condition_variable monitorWake;
  platform::Thread monitor;

  // Declared after the registry: destroying the io_context destroys pending handlers and with them
  // connections, which unregister themselves.
  asio::io_context context;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  Strand acceptStrand{context.get_executor()};
  tcp::acceptor acceptor{acceptStrand};
  asio::steady_timer acceptRetry{acceptStrand};
  asio::steady_timer sweepTimer{acceptStrand};

  void Accept();
  // Registers a new connection within the caps, closing the connection that has waited longest for a
  // request (of the same address when that address is at its cap) to make room. False: refused.
  bool Admit(const std::shared_ptr<Connection>& connection);
  // Every quarter second: closes connections whose wait on the client has outlived its deadline.
  void Sweep();
  bool AddThread();
  void RunWorker(Worker& worker);
  void Monitor();
  // Runs on whichever idle pool thread takes it: that thread leaves, unless the pool is at its base size.
  void RetireCallingThread();
  // Joins the workers that have left the pool.
  void ReapThreads();
  // Ends the io_context's work and joins every worker.
  void JoinThreads();
  // Runs the handlers that are ready, on the calling thread.
  void Poll();
  // Counts a request whose handler is about to run. False once the server is stopping: Stop waits for
  // the count to reach zero, so a request must be counted before it looks at `stopping`, never after.
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
  void Unregister(Connection* connection);
  std::vector<std::shared_ptr<Connection>> LiveConnections() {
    std::vector<std::shared_ptr<Connection>> live;
    std::lock_guard guard(lock);
    for (auto& [key, weak] : connections)
      if (auto connection = weak.lock()) live.push_back(std::move(connection));
    return live;
  }

 private:
  // Guarded by lock: drops a connection from the registry and its address's count.
  void Forget(Connection* connection);
  // Guarded by lock: marks the connection that has waited longest for a request (from `address`, or from
  // anywhere when null) as evicted and forgets it. False when no connection is waiting.
  bool EvictWaiting(const std::string* address, std::shared_ptr<Connection>& evicted);
};

namespace {
// The pool worker running on this thread, if any.
thread_local THttpServer::Running::Worker* tWorker = nullptr;
}  // namespace

struct Connection : std::enable_shared_from_this<Connection>, ResponseChannel {
  using Parser = http::request_parser<http::buffer_body>;
  // Waiting: for a request of which nothing has arrived; only then may the caps close the connection to
  // make room, as a client must expect of any idle kept-alive connection. Busy: anything else. Evicted:
  // closed by the caps; the strand only finishes closing it.
  enum class Phase { Waiting, Busy, Evicted };

  Connection(THttpServer::Running& server, StrandSocket socket, std::string remoteIp)
      : server(server), socket(std::move(socket)), remoteIp(std::move(remoteIp)) {
    handle = this->socket.native_handle();
    waitingSince = Clock::now().time_since_epoch().count();
  }
  ~Connection() override { server.Unregister(this); }

  THttpServer::Running& server;
  StrandSocket socket;  // bound to the connection's own strand
  // When the connection's current wait ends (steady-clock ticks; 0: none): the sweep closes it then.
  std::atomic<Clock::rep> deadline{0};
  const std::string remoteIp;
#ifdef _WIN32
  SOCKET handle;
#else
  int handle;
#endif
  std::atomic<Phase> phase{Phase::Waiting};
  std::atomic<Clock::rep> waitingSince{0};  // steady-clock ticks when the phase became Waiting
  std::string readBuffer;                   // bytes read but not yet parsed (a pipelined request, a body)
  std::optional<Parser> parser;
  bool firstRequest = true;
  std::atomic<bool> busy{false};  // the handler runs for a request of this connection

  std::mutex closeLock;  // guards `closed` against Abort from the stopping thread
  bool closed = false;

  // The request being received.
  bool keepAlive = false;
  bool headRequest = false;
  std::optional<TRequest> request;
  std::optional<RequestBody> body;

  std::optional<Outgoing> outgoing;
  TResponse* handlerResponse = nullptr;  // the response the handler fills, while it runs
  std::optional<Head> contentHead;       // WriteContent's answer: its page is taken when the handler returns

  // Waiting for a request.

  void ReadRequest() {
    if (closed || server.stopping) return Close();
    SetDeadline(firstRequest ? server.limits.headerTimeout : server.limits.idleTimeout);
    if (!readBuffer.empty()) return ReadHeader();  // the client sent it with the last one
    if (!firstRequest) {
      waitingSince = Clock::now().time_since_epoch().count();
      phase = Phase::Waiting;
    }
    // The wait is the request's first read. (A bare wait for readable data would re-arm the socket in the
    // kernel's poll set each time, one more system call per request on a kept-alive connection.)
    std::size_t room = std::min(std::max<std::size_t>(readBuffer.capacity(), 1024), server.limits.maxHeaderBytes);
    readBuffer.resize(room);
    socket.async_read_some(
        asio::buffer(readBuffer.data(), room), [self = shared_from_this()](error_code error, std::size_t got) {
          self->readBuffer.resize(got);
          Phase expected = Phase::Waiting;
          if (!self->phase.compare_exchange_strong(expected, Phase::Busy) || error || self->server.stopping)
            return self->Close();
          self->TakeHeader();
        });
  }

  // A header that came whole with the first read is taken at once: waiting for it again through the
  // io_context would hand the connection to another thread. Only from a read's completion, so that a
  // burst of pipelined requests never nests one answer in another on the stack.
  void TakeHeader() {
    auto [end, found] = HeaderEnd()(readBuffer.cbegin(), readBuffer.cend());
    std::size_t length = static_cast<std::size_t>(end - readBuffer.cbegin());
    if (found && length <= server.limits.maxHeaderBytes) return OnHeader(error_code(), length);
    ReadHeader();
  }

  void ReadHeader() {
    asio::async_read_until(
        socket, asio::dynamic_buffer(readBuffer, server.limits.maxHeaderBytes), HeaderEnd(),
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

  bool TryEvict() {
    Phase expected = Phase::Waiting;
    return phase.compare_exchange_strong(expected, Phase::Evicted);
  }

  void OnHeader(error_code error, std::size_t length) {
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
    StartRequest();
  }

  void Refuse(int status) {
    keepAlive = false;
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
    deadline = 0;
    error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
  }

  // From the stopping thread, while the handler runs: the client learns at once that no answer comes.
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

  // Receiving the request.

  void StartRequest() {
    auto& header = parser->get();
    keepAlive = header.keep_alive();
    headRequest = header.method() == http::verb::head;
    std::optional<RequestTarget> target = SplitTarget(header.target());
    if (!target) return Refuse(400);
    request.emplace();
    request->Document = UrlDecode(target->path, PlusMeans::Plus);
    request->UnparsedDocument = target->path;
    request->UnparsedParams = target->query;
    request->Params = SplitParams(target->query);
    request->Command = std::string(header.method_string());
    request->CommandType = KindOf(header.method());
    request->RemoteIP = remoteIp;
    request->ContentType = std::string(header[http::field::content_type]);
    request->Host = std::string(header[http::field::host]);
    request->Origin = std::string(header[http::field::origin]);
    request->Referer = std::string(header[http::field::referer]);
    request->SecFetchSite = std::string(header["Sec-Fetch-Site"]);
    ReadCredentials(header[http::field::authorization], *request);
    body.emplace();
    if (parser->is_done()) return RunHandler();
    if (beast::iequals(header[http::field::expect], "100-continue")) {
      SetDeadline(server.limits.ioTimeout);
      asio::async_write(socket, asio::buffer(kContinue), [self = shared_from_this()](error_code error, std::size_t) {
        if (error) return self->Close();
        self->ReadBody();
      });
      return;
    }
    ReadBody();
  }

  enum : int { kNeedMore = 0, kComplete = 1 };

  void ReadBody() {
    if (closed || server.stopping) return Close();
    int state;
    try {
      state = FeedBody();
    } catch (...) {
      // The scratch file could not be written (a full disk, no temporary folder): the client is told,
      // rather than left with a connection that closes without an answer.
      return Refuse(503);
    }
    if (state == kComplete) return RunHandler();
    if (state != kNeedMore) return Refuse(state);
    SetDeadline(server.limits.ioTimeout);
    // The wait is the read itself, as for a request's first bytes: no re-arming of the socket per piece.
    std::size_t old = readBuffer.size();
    readBuffer.resize(old + kChunk);
    socket.async_read_some(asio::buffer(readBuffer.data() + old, kChunk),
                           [self = shared_from_this(), old](error_code error, std::size_t got) {
                             self->readBuffer.resize(old + got);
                             if (error || got == 0) return self->Close();
                             self->ReadBody();
                           });
  }

  // Moves the bytes read so far into the body. Answers kNeedMore, kComplete, or the status to refuse with.
  int FeedBody() {
    char piece[16 * 1024];
    while (!parser->is_done()) {
      if (readBuffer.empty()) return kNeedMore;
      auto& target = parser->get().body();
      target.data = piece;
      target.size = sizeof piece;
      error_code error;
      std::size_t used = parser->put(asio::buffer(readBuffer), error);
      readBuffer.erase(0, used);
      std::size_t got = sizeof piece - parser->get().body().size;
      if (got > 0) body->Append(piece, got);
      if (error == http::error::body_limit) return 413;
      if (error && error != http::error::need_buffer && error != http::error::need_more) return 400;
      if (used == 0 && got == 0) {
        // The start of a chunk's size line: more bytes complete it, unless it has no sensible end.
        return readBuffer.size() > server.limits.maxRequestLine ? 400 : kNeedMore;
      }
    }
    return kComplete;
  }

  // Answering, on the pool thread that completed the request.

  void RunHandler() {
    deadline = 0;
    TRequest& current = *request;
    if (current.CommandType == CommandKind::Post) {
      current.PostStream = &*body;
      std::string_view type = parser->get()[http::field::content_type];
      if (beast::iequals(type.substr(0, type.find(';')), "application/x-www-form-urlencoded") &&
          body->Size() <= RequestBody::kMemoryLimit) {
        TextList form = SplitParams(body->Text());
        current.Params.insert(current.Params.end(), form.begin(), form.end());
      }
    }
    if (ContainsNul(current.Document) || std::any_of(current.Params.begin(), current.Params.end(), ContainsNul))
      return Refuse(400);

    // Marked busy first, so that a Stop between the two finds the request and cuts the client off.
    busy = true;
    if (!server.BeginRequest()) {
      busy = false;
      return Close();
    }
    struct Counted {
      Connection& connection;
      ~Counted() {
        connection.handlerResponse = nullptr;
        connection.busy = false;
        connection.server.EndRequest();
      }
    } counted{*this};
    TResponse response;
    response.Channel = this;
    handlerResponse = &response;
    try {
      server.handler(current, response);
    } catch (...) {
      // The handler's own failures end its work; what it set in the response is still sent.
    }
    if (!outgoing && !contentHead) SendContent(response);
    if (contentHead) {
      Head head = *contentHead;
      contentHead.reset();
      Record(head, response.ContentText.empty() ? DefaultPage(head.status) : std::move(response.ContentText));
      outgoing->hold = std::move(response.Hold);
    }
    request.reset();
    body.reset();
    if (server.stopping) return Close();
    // From here the answer must keep moving: each piece the client takes renews the deadline.
    SetDeadline(server.limits.ioTimeout);
    WriteNext();
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

  // Makes `head` and `page` the answer.
  void Record(Head head, std::string page) {
    head.contentLength = page.size();
    outgoing.emplace();
    outgoing->head = FormatHead(head);
    if (!headRequest) outgoing->body = std::move(page);
  }

  // One answer per request: a second WriteContent or ServeFile is refused.
  bool SendContent(const TResponse& response) override {
    if (outgoing || contentHead) return false;
    Head head = MakeHead(response.ResponseNo, response.ContentType.empty() ? "text/html" : response.ContentType, 0);
    if (response.ResponseNo == 401 && !response.AuthRealm.empty())
      head.extra = "WWW-Authenticate: Basic realm=\"" + response.AuthRealm + "\"\r\n";
    if (&response == handlerResponse) {
      contentHead = std::move(head);  // the page is moved out of the response, not copied, at the end
    } else {
      Record(std::move(head),
             response.ContentText.empty() ? DefaultPage(response.ResponseNo) : std::string(response.ContentText));
    }
    return true;
  }

  // Opens and checks the file now, so that an unreadable one can still be answered otherwise. A small file
  // is read whole now, a larger one as the client takes it.
  FileResult SendFile(const TResponse& response, const std::string& path) override {
    if (outgoing || contentHead) return FileResult::ConnectionLost;
    platform::File file;
    std::optional<platform::FileInfo> info;
    std::optional<SmallFiles::Kept> kept = server.smallFiles.Find(path);
    if (kept) {
      info = kept->info;
    } else {
      file = platform::File::Open(path, platform::File::Mode::Read);
      if (file.IsOpen()) info = file.Info();
    }
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
      outgoing.emplace();
      outgoing->head = FormatHead(head);
      return FileResult::Sent;
    }
    std::uint64_t first = 0, count = size;
    Head head = MakeHead(response.ResponseNo, std::move(contentType), size);
    constexpr std::string_view kRanges = "Accept-Ranges: bytes\r\nLast-Modified: ";
    head.extra.reserve(kRanges.size() + lastModified.size() + 2);
    head.extra.append(kRanges).append(lastModified).append("\r\n");
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
      outgoing.emplace();
      outgoing->head = FormatHead(head);
      return FileResult::Sent;
    }

    Outgoing answer;
    answer.head = FormatHead(head);
    if (!headRequest && count > 0) {
      if (kept) {
        answer.keptFile = std::move(kept->content);
        answer.keptFirst = static_cast<std::size_t>(first);
        answer.keptCount = static_cast<std::size_t>(count);
      } else if (first > 0 && !file.Seek(first)) {  // a file opens at its start
        return FileResult::Unreadable;
      } else if (count <= kSmallFile) {
        // Read now, and sent with the header in one piece.
        answer.body.resize(static_cast<std::size_t>(count));
        if (!ReadFully(file, answer.body.data(), answer.body.size())) return FileResult::Unreadable;
        if (count == size) server.smallFiles.Keep(path, *info, answer.body);
      } else {
        answer.file = std::move(file);
        answer.fileOffset = first;
        answer.fileLeft = count;
      }
    }
    outgoing = std::move(answer);
    return FileResult::Sent;
  }

  // False when the file ends early: it shrank under us, and the promised length cannot be kept.
  static bool ReadFully(platform::File& file, char* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
      std::int64_t read = file.Read(data + got, size - got);
      if (read <= 0) return false;
      got += static_cast<std::size_t>(read);
    }
    return true;
  }

  // Writing the answer.

  // Writes what the socket takes now, and waits for it to take more only when it is full.
  void WriteNext() {
    std::uint64_t fileSent = 0;  // in this call: a fast client of a large file leaves room for others
    for (;;) {
      if (closed || server.stopping) return Close();
      Outgoing& answer = *outgoing;
      error_code error;
      std::size_t written = 0;
      if (answer.fileLeft > 0) {
        if (fileSent >= kFileSentAtOnce) break;
        written = WriteFilePiece(answer, error);
        fileSent += written;
        if (!error && written == 0) return Close();  // the file shrank under us
      } else {
        std::array<asio::const_buffer, 2> buffers{asio::buffer(answer.head) + answer.headSent,
                                                  asio::buffer(answer.Body()) + answer.bodySent};
        if (buffers[0].size() + buffers[1].size() == 0) return FinishAnswer();
        written = socket.write_some(buffers, error);
        std::size_t ofHead = std::min(written, answer.head.size() - answer.headSent);
        answer.headSent += ofHead;
        answer.bodySent += written - ofHead;
      }
      if (error == asio::error::would_block || error == asio::error::try_again) break;
      if (error) return Close();
      SetDeadline(server.limits.ioTimeout);
    }
    socket.async_wait(tcp::socket::wait_write, [self = shared_from_this()](error_code error) {
      if (error) return self->Close();
      self->WriteNext();
    });
  }

  // The file's next piece goes out from this thread's stack, read again from the file where the client
  // left off, so that a client that does not read holds no memory here. Answers the bytes written (of
  // the header and the file); 0 without an error when the file could not be read.
  std::size_t WriteFilePiece(Outgoing& answer, error_code& error) {
    char piece[kChunk];
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(answer.fileLeft, kChunk));
    if (!answer.file.Seek(answer.fileOffset) || !ReadFully(answer.file, piece, want)) return 0;
    std::array<asio::const_buffer, 2> buffers{asio::buffer(answer.head) + answer.headSent, asio::buffer(piece, want)};
    std::size_t written = socket.write_some(buffers, error);
    std::size_t ofHead = std::min(written, answer.head.size() - answer.headSent);
    answer.headSent += ofHead;
    answer.fileOffset += written - ofHead;
    answer.fileLeft -= written - ofHead;
    if (answer.fileLeft == 0) answer.file.Close();
    return written;
  }

  void FinishAnswer() {
    deadline = 0;
    outgoing.reset();
    parser.reset();
    // A large body or pipelined burst leaves a large buffer behind; an idle connection keeps none.
    if (readBuffer.empty() && readBuffer.capacity() > 16 * 1024) std::string().swap(readBuffer);
    if (keepAlive && !server.stopping)
      ReadRequest();
    else
      Close();
  }
};

void THttpServer::Running::Unregister(Connection* connection) {
  std::lock_guard guard(lock);
  Forget(connection);
}

void THttpServer::Running::Forget(Connection* connection) {
  if (connections.erase(connection) == 0) return;
  auto count = perAddress.find(connection->remoteIp);
  if (count != perAddress.end() && --count->second == 0) perAddress.erase(count);
}

bool THttpServer::Running::EvictWaiting(const std::string* address, std::shared_ptr<Connection>& evicted) {
  // Every connection in the registry is alive, or in its destructor waiting for the lock we hold: its
  // members can be read.
  std::vector<std::pair<Clock::rep, Connection*>> waiting;
  for (auto& [connection, weak] : connections) {
    if (connection->phase != Connection::Phase::Waiting) continue;
    if (address && connection->remoteIp != *address) continue;
    waiting.emplace_back(connection->waitingSince, connection);
  }
  std::sort(waiting.begin(), waiting.end());
  for (auto& [since, connection] : waiting) {
    if (!connection->TryEvict()) continue;     // its request has just begun
    evicted = connections[connection].lock();  // empty when it is already going
    Forget(connection);
    return true;
  }
  return false;
}

bool THttpServer::Running::Admit(const std::shared_ptr<Connection>& connection) {
  std::shared_ptr<Connection> evicted;  // released after the lock: its destructor takes the lock
  {
    std::lock_guard guard(lock);
    auto count = perAddress.find(connection->remoteIp);
    bool addressFull = count != perAddress.end() && count->second >= limits.maxConnectionsPerAddress;
    if (addressFull || connections.size() >= limits.maxConnections) {
      if (!EvictWaiting(addressFull ? &connection->remoteIp : nullptr, evicted)) return false;
    }
    connections.emplace(connection.get(), connection);
    ++perAddress[connection->remoteIp];
  }
  if (evicted) asio::post(evicted->socket.get_executor(), [evicted] { evicted->Close(); });
  return true;
}

void THttpServer::Running::Accept() {
  acceptor.async_accept(asio::make_strand(context), [this](error_code error, StrandSocket socket) {
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
    if (limits.sendBufferBytes > 0)
      socket.set_option(asio::socket_base::send_buffer_size(static_cast<int>(limits.sendBufferBytes)), ignored);
    std::string address = peer.address().is_v4() ? peer.address().to_v4().to_string() : peer.address().to_string();
    auto connection = std::make_shared<Connection>(*this, std::move(socket), std::move(address));
    bool admitted = Admit(connection);
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
  std::uint64_t trimmedAt = seen;  // the finished count when freed memory was last given back
  std::size_t busiest = 0;
  int ticks = 0;
  int busyTicks = 0;  // looks in a row that found every thread inside a handler
  std::unique_lock held(monitorLock);
  while (!monitorWake.wait_for(held, kMonitorTick, [this] { return stopping.load(); })) {
    std::size_t active = activeRequests;
    std::uint64_t finished = finishedRequests;
    busyTicks = active >= threadCount ? busyTicks + 1 : 0;
    // Handlers that wait but finish are given threads up to twice the base: past that the player's
    // thread is as busy as it gets, and more threads would only cost memory.
    bool stuck = finished == seen;
    bool waiting = busyTicks >= kBusyTicks && threadCount < 2 * baseThreads;
    if (active >= threadCount && (stuck || waiting) && threadCount < limits.maxWorkers) {
      AddThread();
      busyTicks = 0;
    }
    seen = finished;
    busiest = std::max(busiest, active);
    if (++ticks < kShrinkTicks) continue;
    // The busiest moment of the last two seconds, and one thread to spare for accepting and writing.
    std::size_t keep = std::max(baseThreads, busiest + 1);
    std::size_t count = threadCount;
    std::size_t surplus = count > keep ? count - keep : 0;
    while (retirements < surplus) {
      ++retirements;
      asio::post(context, [this] { RetireCallingThread(); });
    }
    ReapThreads();
    // Two quiet seconds after requests have run: what they freed goes back to the system, once.
    if (busiest == 0 && finished != trimmedAt) {
      trimmedAt = finished;
      platform::ReleaseFreeMemory();
    }
    busiest = 0;
    ticks = 0;
  }
}

void THttpServer::Running::RetireCallingThread() {
  --retirements;
  if (!tWorker) return;  // the stopping thread, running what is left
  std::size_t count = threadCount;
  while (count > baseThreads) {
    if (threadCount.compare_exchange_weak(count, count - 1)) {
      tWorker->retire = true;
      return;
    }
  }
}

void THttpServer::Running::RunWorker(Worker& worker) {
  tWorker = &worker;
  while (!worker.retire) {
    try {
      if (context.run_one() == 0) break;  // stopped
    } catch (...) {
      // A failure ends only the handler it came from.
    }
  }
  tWorker = nullptr;
  worker.finished = true;
}

bool THttpServer::Running::AddThread() {
  std::lock_guard guard(lock);
  if (stopping) return false;
  Worker& worker = workers.emplace_back();
  try {
    worker.thread = platform::Thread::Start(limits.workerStackBytes, [this, &worker] { RunWorker(worker); });
  } catch (...) {
    workers.pop_back();
    return false;  // out of threads: the ones there are carry on
  }
  ++threadCount;
  return true;
}

void THttpServer::Running::ReapThreads() {
  std::list<Worker> finished;
  {
    std::lock_guard guard(lock);
    for (auto worker = workers.begin(); worker != workers.end();) {
      auto next = std::next(worker);
      if (worker->finished) finished.splice(finished.end(), workers, worker);
      worker = next;
    }
  }
  for (auto& worker : finished) worker.thread.Join();
}

void THttpServer::Running::JoinThreads() {
  work.reset();
  context.stop();
  std::list<Worker> all;
  {
    std::lock_guard guard(lock);
    all.swap(workers);
  }
  for (auto& worker : all) worker.thread.Join();
}

void THttpServer::Running::Poll() {
  for (;;) {
    try {
      context.poll();
      return;
    } catch (...) {
      // As on a pool thread: the failure ends only its handler.
    }
  }
}

THttpServer::THttpServer(RequestHandler handler, ServerLimits limits) : handler_(std::move(handler)), limits_(limits) {}

THttpServer::~THttpServer() {
  Stop();
  for (auto& old : retiring_) {
    platform::WaitHandlingSentMessages([&old] { return old->activeRequests == 0; });
    old->JoinThreads();
  }
  retiring_.clear();
}

std::optional<std::string> THttpServer::Start(const std::string& address, std::uint16_t port) {
  if (running_) return std::string("The server is already running.");
  // Earlier runs whose stuck handlers have ended since go now.
  std::erase_if(retiring_, [](std::unique_ptr<Running>& old) {
    if (old->activeRequests != 0) return false;
    old->JoinThreads();
    return true;
  });
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
  std::size_t base =
      limits_.baseWorkers ? limits_.baseWorkers : 2 * std::max(1u, std::thread::hardware_concurrency()) + 1;
  running->baseThreads = std::clamp<std::size_t>(base, 1, std::max<std::size_t>(limits_.maxWorkers, 1));
  for (std::size_t i = 0; i < running->baseThreads; ++i) {
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
  // The listener and the connections are closed on their strands, which own their pending operations;
  // clients whose handler runs are cut off from here at once.
  asio::post(server.acceptStrand, [&server] {
    error_code ignored;
    server.acceptor.close(ignored);
    server.acceptRetry.cancel();
    server.sweepTimer.cancel();
    server.listenerClosed = true;
  });
  for (auto& connection : server.LiveConnections()) {
    if (connection->busy) connection->Abort();
    asio::post(connection->socket.get_executor(), [connection] { connection->Close(); });
  }
  // This thread runs the closing too: every pool thread may be stuck in a handler. Once stopping, no
  // handler starts and no completion waits on anything.
  auto giveUp = Clock::now() + limits_.stopGrace;
  platform::WaitHandlingSentMessages([&server, giveUp] {
    server.Poll();
    return (server.activeRequests == 0 && server.listenerClosed) || Clock::now() >= giveUp;
  });
  if (server.activeRequests == 0) {
    server.JoinThreads();
    running_.reset();
    return;
  }
  // A handler is still stuck (a message box, a slow disk): its thread ends when it returns, and touches
  // only this run's objects, which are kept until then.
  server.work.reset();
  server.context.stop();
  retiring_.push_back(std::move(running_));
}

bool THttpServer::Active() const { return running_ != nullptr; }

std::uint16_t THttpServer::Port() const { return running_ ? running_->port : 0; }

}  // namespace qf
