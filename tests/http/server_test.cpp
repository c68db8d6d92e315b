// The HTTP server in-process, over loopback: request records, framing refusals, limits, files, stopping.

#include "http/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "http/request.h"
#include "http_client.h"
#include "platform/posix/emulation.h"
#include "platform/system.h"
#include "platform/window.h"
#include "quenforth_process.h"

namespace qf {
namespace {

using namespace std::chrono_literals;
using qftest::Connection;
using qftest::Exchange;
using qftest::Get;

// Larger than what loopback's socket buffers take in: an answer this long waits for its client to read.
constexpr std::size_t kBigAnswer = 24 << 20;

// The last request a handler saw, with its body.
struct Seen {
  std::mutex lock;
  TRequest request;
  std::string body;
  int count = 0;
};

class ServerTest : public ::testing::Test {
 protected:
  void StartServer(ServerLimits limits = {}) {
    server_ = std::make_unique<THttpServer>(
        [this](TRequest& request, TResponse& response) { Handle(request, response); }, limits);
    ASSERT_FALSE(server_->Start("127.0.0.1", 0));
    port_ = server_->Port();
  }

  virtual void Handle(TRequest& request, TResponse& response) {
    {
      std::lock_guard guard(seen_.lock);
      seen_.request = request;
      seen_.body = request.PostStream ? request.PostStream->Text() : "";
      ++seen_.count;
    }
    if (request.Document == "/realm") {
      response.ResponseNo = 401;
      response.AuthRealm = "Quenforth";
      response.ContentText = "denied";
    } else if (request.Document == "/silent") {
      // Writes nothing: the server answers with its own page.
    } else if (request.Document.rfind("/file/", 0) == 0) {
      response.ContentType = "audio/mpeg";
      response.ServeFile("C:\\" + request.Document.substr(6));
    } else if (request.Document == "/bigpage") {
      response.ContentText.assign(kBigAnswer, 'p');
      response.WriteContent();
    } else if (request.Document == "/size") {
      response.ContentText = std::to_string(request.PostStream ? request.PostStream->Size() : 0);
      response.WriteContent();
    } else {
      response.ContentText = "hello " + request.Document;
      response.ContentType = "text/plain";
      response.WriteContent();
    }
  }

  TRequest LastRequest() {
    std::lock_guard guard(seen_.lock);
    return seen_.request;
  }
  int Count() {
    std::lock_guard guard(seen_.lock);
    return seen_.count;
  }

  std::unique_ptr<THttpServer> server_;
  std::uint16_t port_ = 0;
  Seen seen_;
};

TEST_F(ServerTest, FillsTheRequestRecord) {
  StartServer();
  auto response = Get(port_, "/a%20b.html?x=1&flag&z=a+b%26c", "Authorization: Basic dXNlcjpwYTpzcw==\r\n");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body, "hello /a b.html");
  EXPECT_EQ(response->Header("server"), "Quenforth/3.0");
  EXPECT_EQ(response->Header("content-type"), "text/plain");
  TRequest request = LastRequest();
  EXPECT_EQ(request.Document, "/a b.html");
  EXPECT_EQ(request.Params, (TextList{"x=1", "flag", "z=a b&c"}));
  EXPECT_EQ(request.UnparsedParams, "x=1&flag&z=a+b%26c");
  EXPECT_EQ(request.Command, "GET");
  EXPECT_EQ(request.CommandType, CommandKind::Get);
  EXPECT_EQ(request.RemoteIP, "127.0.0.1");
  EXPECT_EQ(request.AuthUsername, "user");
  EXPECT_EQ(request.AuthPassword, "pa:ss");
}

TEST_F(ServerTest, FormParametersFollowTheQuery) {
  StartServer();
  std::string body = "b=2&c=x%26y&d";
  auto response = Exchange(port_,
                           "POST /?a=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                           "Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body);
  ASSERT_TRUE(response);
  TRequest request = LastRequest();
  EXPECT_EQ(request.CommandType, CommandKind::Post);
  EXPECT_EQ(request.Params, (TextList{"a=1", "b=2", "c=x&y", "d"}));
  std::lock_guard guard(seen_.lock);
  EXPECT_EQ(seen_.body, body);
}

TEST_F(ServerTest, ChunkedAndLargeBodiesArriveWhole) {
  StartServer();
  auto chunked = Exchange(port_,
                          "POST /size HTTP/1.1\r\nHost: x\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
  ASSERT_TRUE(chunked);
  EXPECT_EQ(chunked->body, "11");
  // Three megabytes go beyond what the server keeps in memory.
  std::string big(3 << 20, 'x');
  big[12345] = 'y';
  auto large = Exchange(port_, "POST /x HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: " +
                                   std::to_string(big.size()) + "\r\n\r\n" + big);
  ASSERT_TRUE(large);
  std::lock_guard guard(seen_.lock);
  EXPECT_EQ(seen_.body, big);
}

TEST_F(ServerTest, ABodyTheDiskCannotHoldIsAnsweredNotDropped) {
  StartServer();
  platform::emulation::SetWriteBudget(1 << 20);
  std::string big(3 << 20, 'x');
  auto refused = Exchange(port_, "POST /x HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: " +
                                     std::to_string(big.size()) + "\r\n\r\n" + big);
  platform::emulation::SetWriteBudget(std::nullopt);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
}

TEST_F(ServerTest, ExpectContinueIsAnswered) {
  StartServer();
  Connection connection(port_);
  connection.Send("POST /size HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\nExpect: 100-continue\r\n\r\n");
  auto interim = connection.Read(5s);
  ASSERT_TRUE(interim);
  EXPECT_EQ(interim->status, 100);
  connection.Send("abcd");
  auto final = connection.Read(5s);
  ASSERT_TRUE(final);
  EXPECT_EQ(final->body, "4");
}

TEST_F(ServerTest, DefaultAnswersAndRealm) {
  StartServer();
  auto silent = Get(port_, "/silent");
  ASSERT_TRUE(silent);
  EXPECT_EQ(silent->status, 200);
  EXPECT_NE(silent->body.find("200 OK"), std::string::npos);
  auto head = Exchange(port_, "HEAD /silent HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", true);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_EQ(head->Header("content-length"), std::to_string(silent->body.size()));
  auto realm = Get(port_, "/realm");
  ASSERT_TRUE(realm);
  EXPECT_EQ(realm->status, 401);
  EXPECT_EQ(realm->Header("www-authenticate"), "Basic realm=\"Quenforth\"");
}

TEST_F(ServerTest, KeepsConnectionsAliveAndAnswersPipelinedRequests) {
  StartServer();
  Connection connection(port_);
  connection.Send("GET /one HTTP/1.1\r\nHost: x\r\n\r\nGET /two HTTP/1.1\r\nHost: x\r\n\r\n");
  auto one = connection.Read(5s);
  auto two = connection.Read(5s);
  ASSERT_TRUE(one && two);
  EXPECT_EQ(one->body, "hello /one");
  EXPECT_EQ(two->body, "hello /two");
  connection.Send("GET /three HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
  auto three = connection.Read(5s);
  ASSERT_TRUE(three);
  EXPECT_EQ(three->Header("connection"), "keep-alive");
  connection.Send("GET /four HTTP/1.0\r\n\r\n");
  auto four = connection.Read(5s);
  ASSERT_TRUE(four);
  EXPECT_EQ(four->Header("connection"), "close");
  EXPECT_TRUE(connection.WaitClosed(5s));
}

TEST_F(ServerTest, RefusesFramingsThatCouldDesynchroniseTheServer) {
  StartServer();
  struct Case {
    std::string request;
    int status;
  };
  const std::string longLine = "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n";
  std::string manyFields = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 101; ++i) manyFields += "X-" + std::to_string(i) + ": y\r\n";
  manyFields += "\r\n";
  const std::string hugeHeader = "GET / HTTP/1.1\r\nX-Big: " + std::string(17000, 'b') + "\r\n\r\n";
  const Case cases[] = {
      {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\nhello", 400},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 5x\r\n\r\nhello", 400},
      {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: x\r\nX-Folded: a\r\n b\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nHost: x\r\n\tX-Tab: a\r\n\r\n", 400},
      {"GET / HTTP/1.1\nHost: x\r\n\r\n", 400},
      {"GET /\r\n\r\n", 400},
      // Framings that never send the blank line of an HTTP/1.x header are answered at once, not left to
      // the header's deadline.
      {"GET / HTTP/1.1\nHost: x\n\n", 400},
      {"GET /\r\n", 400},
      {"GET /\n", 400},
      {"\r\nGET / HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"GET / HTTP/2.0\r\nHost: x\r\n\r\n", 400},
      {"GET / HTTP/1.2\r\nHost: x\r\n\r\n", 400},
      {"GET / FOO/1.1\r\nHost: x\r\n\r\n", 400},
      {"TRACE / HTTP/1.1\r\nHost: x\r\n\r\n", 405},
      {"CONNECT example.com:80 HTTP/1.1\r\nHost: x\r\n\r\n", 405},
      {"GET /a%00b HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"GET /?dir=%00 HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {longLine, 414},
      {manyFields, 431},
      {hugeHeader, 431},
  };
  for (const Case& c : cases) {
    Connection connection(port_);
    ASSERT_TRUE(connection.Send(c.request));
    auto response = connection.Read(5s);
    ASSERT_TRUE(response) << c.request.substr(0, 80);
    EXPECT_EQ(response->status, c.status) << c.request.substr(0, 80);
    EXPECT_EQ(response->Header("connection"), "close") << c.request.substr(0, 80);
    EXPECT_TRUE(connection.WaitClosed(5s)) << c.request.substr(0, 80);
  }
  EXPECT_EQ(Count(), 0) << "no refused request may reach the handler";
}

TEST_F(ServerTest, HugeBodiesAreRefusedBeforeAnyIsRead) {
  StartServer();
  Connection connection(port_);
  connection.Send("POST /size HTTP/1.1\r\nHost: x\r\nContent-Length: 2147483648\r\n\r\n");
  auto response = connection.Read(5s);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 413);
  EXPECT_EQ(Count(), 0);
  // A chunked body that grows past the limit is cut off as well.
  ServerLimits small;
  small.maxBodyBytes = 1000;
  server_->Stop();
  StartServer(small);
  auto chunked = Exchange(port_, "POST /size HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n800\r\n" +
                                     std::string(0x800, 'z') + "\r\n0\r\n\r\n");
  ASSERT_TRUE(chunked);
  EXPECT_EQ(chunked->status, 413);
}

TEST_F(ServerTest, SlowHeadersAreCutOffWhileOthersAreServed) {
  ServerLimits limits;
  limits.headerTimeout = 1s;
  StartServer(limits);
  Connection slow(port_);
  auto started = std::chrono::steady_clock::now();
  std::string header = "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ";
  bool closed = false;
  for (char c : header + std::string(100, 'z')) {
    if (!slow.Send(std::string(1, c))) break;
    auto other = Get(port_, "/other");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    if (slow.WaitClosed(50ms)) {
      closed = true;
      break;
    }
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST_F(ServerTest, ManyTricklingClientsDoNotLockOutANormalOne) {
  StartServer();
  std::vector<std::unique_ptr<Connection>> tricklers;
  for (int i = 0; i < 600; ++i) {
    // Ten addresses, sixty each: within the per-address cap.
    tricklers.push_back(std::make_unique<Connection>(port_, "127.0.0." + std::to_string(2 + i % 10)));
    ASSERT_TRUE(tricklers.back()->Connected());
    tricklers.back()->Send("GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ");
  }
  auto response = Get(port_, "/normal");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "hello /normal");
}

// A connection the server is known to be receiving a request on: it has answered the header's
// 100-continue and waits for the five bytes of the body.
std::unique_ptr<Connection> ConnectionInARequest(std::uint16_t port, const std::string& from = "") {
  auto connection = std::make_unique<Connection>(port, from);
  connection->Send("POST /size HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nExpect: 100-continue\r\n\r\n");
  auto interim = connection->Read(5s);
  if (!interim || interim->status != 100) return nullptr;
  return connection;
}

// Sends the rest of ConnectionInARequest's body: the answer counts its five bytes.
bool FinishesItsRequest(Connection& connection) {
  if (!connection.Send("hello")) return false;
  auto response = connection.Read(5s);
  return response && response->body == "5";
}

TEST_F(ServerTest, AnAddressAtItsCapLosesItsLongestWaitingConnectionOrIsRefused) {
  ServerLimits limits;
  limits.maxConnectionsPerAddress = 3;
  StartServer(limits);
  const std::string address = "127.0.0.7";
  Connection oldest(port_, address);  // connected, nothing sent: waiting for its first request
  Connection waiting(port_, address);
  auto inRequest = ConnectionInARequest(port_, address);
  ASSERT_TRUE(inRequest);

  auto fourth = ConnectionInARequest(port_, address);
  ASSERT_TRUE(fourth) << "the address's longest waiting connection makes room";
  EXPECT_TRUE(oldest.WaitClosed(5s));
  EXPECT_FALSE(waiting.WaitClosed(100ms));

  // Now every connection of the address is inside a request: a new one is refused.
  auto third = ConnectionInARequest(port_, address);
  ASSERT_TRUE(third);
  EXPECT_TRUE(waiting.WaitClosed(5s));
  Connection refused(port_, address);
  EXPECT_TRUE(refused.WaitClosed(5s));
  EXPECT_TRUE(FinishesItsRequest(*inRequest));
  EXPECT_TRUE(FinishesItsRequest(*fourth));
  EXPECT_TRUE(FinishesItsRequest(*third));
  // Other addresses have caps of their own.
  Connection other(port_, "127.0.0.8");
  other.Send("GET /other HTTP/1.1\r\nHost: x\r\n\r\n");
  auto answer = other.Read(5s);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "hello /other");
}

TEST_F(ServerTest, AtTheGlobalCapAWaitingConnectionMakesRoomBeforeANewOneIsRefused) {
  ServerLimits limits;
  limits.maxConnections = 3;
  StartServer(limits);
  Connection waiting(port_, "127.0.0.2");
  auto first = ConnectionInARequest(port_, "127.0.0.3");
  auto second = ConnectionInARequest(port_, "127.0.0.4");
  ASSERT_TRUE(first && second);

  auto third = ConnectionInARequest(port_, "127.0.0.5");
  ASSERT_TRUE(third) << "the waiting connection makes room";
  EXPECT_TRUE(waiting.WaitClosed(5s));

  Connection refused(port_, "127.0.0.6");
  EXPECT_TRUE(refused.WaitClosed(5s));
  EXPECT_TRUE(FinishesItsRequest(*first));
  EXPECT_TRUE(FinishesItsRequest(*second));
  EXPECT_TRUE(FinishesItsRequest(*third));
}

TEST_F(ServerTest, SlowBodySendersHoldNoThread) {
  ServerLimits limits;
  limits.baseWorkers = 2;
  limits.maxWorkers = 2;
  StartServer(limits);
  std::vector<std::unique_ptr<Connection>> senders;
  for (int i = 0; i < 6; ++i) {
    senders.push_back(ConnectionInARequest(port_));
    ASSERT_TRUE(senders.back()) << "sender " << i;
    ASSERT_TRUE(senders.back()->Send("he"));
  }
  auto response = Get(port_, "/normal");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "hello /normal");
  for (auto& sender : senders) {
    ASSERT_TRUE(sender->Send("llo"));
    auto answer = sender->Read(5s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "5");
  }
}

int ThreadsOfThisProcess() {
  std::string status = qftest::ReadFile("/proc/self/status");
  std::size_t at = status.find("\nThreads:");
  return at == std::string::npos ? -1 : std::atoi(status.c_str() + at + 9);
}

// Polls until `done` holds, for at most `limit`.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// A handler that blocks every request on "/block" until released.
struct Gate {
  std::mutex lock;
  std::condition_variable changed;
  bool open = false;
  int inside = 0;
  int passed = 0;

  void Pass() {
    std::unique_lock held(lock);
    ++inside;
    changed.notify_all();
    changed.wait(held, [this] { return open; });
    ++passed;
  }
  void Open() {
    std::lock_guard guard(lock);
    open = true;
    changed.notify_all();
  }
  bool WaitInside(int count, std::chrono::milliseconds limit) {
    std::unique_lock held(lock);
    return changed.wait_for(held, limit, [&] { return inside >= count; });
  }
  int Passed() {
    std::lock_guard guard(lock);
    return passed;
  }
};

TEST(ServerPool, ReturnsToItsBaseSizeAfterABurstOfBlockedHandlers) {
  Gate gate;
  ServerLimits limits;
  limits.baseWorkers = 2;
  limits.maxWorkers = 16;
  THttpServer server(
      [&gate](TRequest&, TResponse& response) {
        gate.Pass();
        response.ContentText = "done";
      },
      limits);
  ASSERT_FALSE(server.Start("127.0.0.1", 0));
  int baseline = ThreadsOfThisProcess();
  constexpr int kBlocked = 8;
  std::vector<std::unique_ptr<Connection>> clients;
  for (int i = 0; i < kBlocked; ++i) {
    clients.push_back(std::make_unique<Connection>(server.Port()));
    clients.back()->Send("GET /block HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  }
  ASSERT_TRUE(gate.WaitInside(kBlocked, 30s)) << "the pool grows while every thread is blocked";
  EXPECT_GE(ThreadsOfThisProcess(), baseline + kBlocked - 2);
  gate.Open();
  for (auto& client : clients) {
    auto answer = client->Read(10s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "done");
  }
  EXPECT_TRUE(Eventually([&] { return ThreadsOfThisProcess() <= baseline; }, 20s))
      << ThreadsOfThisProcess() << " threads, " << baseline << " before the burst";
  // The smaller pool still serves.
  auto again = Get(server.Port(), "/again");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->body, "done");
}

TEST(ServerPool, GrowsWhileEveryThreadKeepsWaitingInHandlersThatFinish) {
  // Each handler waits a little, as one waiting for the player's thread does, and finishes: the pool is
  // never stuck, but its threads wait more than they run, and more of them serve more.
  ServerLimits limits;
  limits.baseWorkers = 2;
  limits.maxWorkers = 8;
  THttpServer server(
      [](TRequest&, TResponse& response) {
        std::this_thread::sleep_for(2ms);
        response.ContentText = "done";
      },
      limits);
  ASSERT_FALSE(server.Start("127.0.0.1", 0));
  const int baseline = ThreadsOfThisProcess();
  std::atomic<bool> stop{false};
  std::atomic<int> answers{0}, failures{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 8; ++i) {
    clients.emplace_back([&] {
      Connection client(server.Port());
      while (!stop) {
        if (!client.Send("GET /wait HTTP/1.1\r\nHost: x\r\n\r\n") || !client.Read(10s)) {
          ++failures;
          return;
        }
        ++answers;
      }
    });
  }
  // The clients' own threads count too: the pool's growth is what the process has beyond them.
  EXPECT_TRUE(Eventually([&] { return ThreadsOfThisProcess() >= baseline + 8 + 2; }, 20s))
      << ThreadsOfThisProcess() - 8 << " threads under the load, " << baseline << " before it";
  stop = true;
  for (auto& client : clients) client.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GT(answers, 0);
}

TEST(ServerStop, ReturnsWhileAHandlerIsStuckAndTheDestructorWaitsForIt) {
  Gate gate;
  std::atomic<bool> handlerEnded{false};
  ServerLimits limits;
  limits.stopGrace = 300ms;
  auto server = std::make_unique<THttpServer>(
      [&](TRequest& request, TResponse& response) {
        if (request.Document == "/stuck") {
          gate.Pass();
          handlerEnded = true;
        }
        response.ContentText = "ok";
      },
      limits);
  ASSERT_FALSE(server->Start("127.0.0.1", 0));
  std::uint16_t port = server->Port();
  Connection stuck(port);
  stuck.Send("GET /stuck HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_TRUE(gate.WaitInside(1, 10s));

  // Should Stop wait for the handler, this releases it, and the test fails instead of hanging.
  std::thread watchdog([&gate] {
    std::unique_lock held(gate.lock);
    if (!gate.changed.wait_for(held, 20s, [&gate] { return gate.open; })) {
      gate.open = true;
      gate.changed.notify_all();
    }
  });
  server->Stop();
  bool returnedWhileStuck = !handlerEnded;
  EXPECT_TRUE(returnedWhileStuck);
  EXPECT_FALSE(server->Active());
  EXPECT_TRUE(stuck.WaitClosed(5s)) << "the stuck request's client is cut off";

  // The port is free again, and a new run serves while the old handler is still stuck.
  ASSERT_FALSE(server->Start("127.0.0.1", port));
  auto response = Get(port, "/fresh");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "ok");

  gate.Open();
  watchdog.join();
  server.reset();
  EXPECT_TRUE(handlerEnded) << "the destructor waits for the stuck handler";
  EXPECT_EQ(gate.Passed(), 1);
}

class FileServerTest : public ServerTest {
 protected:
  void SetUp() override {
    platform::emulation::MapDrive('C', folder_.Path().string());
    content_.resize(100000);
    for (std::size_t i = 0; i < content_.size(); ++i) content_[i] = static_cast<char>(i * 7 + i / 256);
    qftest::WriteFile(folder_.Path() / "song.mp3", content_);
    qftest::WriteFile(folder_.Path() / "empty.mp3", "");
    StartServer();
  }
  qftest::TempFolder folder_;
  std::string content_;
};

TEST_F(FileServerTest, ServesFilesWholeAndInRanges) {
  auto whole = Get(port_, "/file/song.mp3");
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->body, content_);
  EXPECT_EQ(whole->Header("content-type"), "audio/mpeg");
  EXPECT_EQ(whole->Header("accept-ranges"), "bytes");

  struct Case {
    const char* range;
    std::size_t first, last;
  };
  for (const Case& c : {Case{"bytes=0-9", 0, 9}, Case{"bytes=65530-65545", 65530, 65545},
                        Case{"bytes=99990-", 99990, 99999}, Case{"bytes=-7", 99993, 99999}}) {
    auto part = Get(port_, "/file/song.mp3", std::string("Range: ") + c.range + "\r\n");
    ASSERT_TRUE(part);
    EXPECT_EQ(part->status, 206) << c.range;
    EXPECT_EQ(part->body, content_.substr(c.first, c.last - c.first + 1)) << c.range;
    EXPECT_EQ(part->Header("content-range"),
              "bytes " + std::to_string(c.first) + "-" + std::to_string(c.last) + "/100000");
  }
  auto beyond = Get(port_, "/file/song.mp3", "Range: bytes=100000-\r\n");
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->status, 416);
  EXPECT_EQ(beyond->Header("content-range"), "bytes */100000");
  auto several = Get(port_, "/file/song.mp3", "Range: bytes=0-1,5-6\r\n");
  ASSERT_TRUE(several);
  EXPECT_EQ(several->status, 200);
  EXPECT_EQ(several->body.size(), content_.size());
  auto empty = Get(port_, "/file/empty.mp3");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 200);
  EXPECT_EQ(empty->body, "");
}

TEST_F(FileServerTest, ClientsThatDoNotReadLargeAnswersHoldNoThread) {
  qftest::WriteFile(folder_.Path() / "big.mp3", std::string(kBigAnswer, 'b'));
  ServerLimits limits;
  limits.baseWorkers = 2;
  limits.maxWorkers = 2;
  server_->Stop();
  StartServer(limits);
  std::vector<std::unique_ptr<Connection>> stalled;
  for (const char* target : {"/file/big.mp3", "/bigpage", "/file/big.mp3", "/bigpage"}) {
    stalled.push_back(std::make_unique<Connection>(port_));
    stalled.back()->Send(std::string("GET ") + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  auto response = Get(port_, "/normal");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->body, "hello /normal");
  // The stalled answers are whole once their clients read them.
  for (auto& client : stalled) {
    auto answer = client->Read(30s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body.size(), kBigAnswer);
  }
}

TEST_F(FileServerTest, ClientsThatStopMovingAreClosedAfterTheStallDeadline) {
  qftest::WriteFile(folder_.Path() / "big.mp3", std::string(kBigAnswer, 'b'));
  ServerLimits limits;
  limits.ioTimeout = 500ms;
  server_->Stop();
  StartServer(limits);
  Connection reader(port_);
  reader.Send("GET /file/big.mp3 HTTP/1.1\r\nHost: x\r\n\r\n");
  auto sender = ConnectionInARequest(port_);
  ASSERT_TRUE(sender);
  ASSERT_TRUE(sender->Send("he"));
  EXPECT_TRUE(sender->WaitClosed(10s)) << "a body that stops moving";
  // The answer stopped moving longer still: what the buffers hold arrives, then the end of the connection.
  std::this_thread::sleep_for(2s);
  EXPECT_FALSE(reader.Read(10s));
  EXPECT_TRUE(reader.WaitClosed(1s));
}

TEST_F(FileServerTest, UnchangedFilesAnswerNotModified) {
  auto first = Get(port_, "/file/song.mp3");
  ASSERT_TRUE(first);
  std::string stamp = first->Header("last-modified");
  ASSERT_FALSE(stamp.empty());
  auto again = Get(port_, "/file/song.mp3", "If-Modified-Since: " + stamp + "\r\n");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  EXPECT_EQ(again->body, "");
}

// Small files are answered from memory once read; every change of the file on disk must still be seen
// by the next request, however it was made.
TEST_F(FileServerTest, AKeptSmallFileIsReadAgainOnceItChanges) {
  namespace fs = std::filesystem;
  const fs::path css = folder_.Path() / "style.css";
  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
  auto body = [&] {
    auto response = Get(port_, "/file/style.css");
    return response ? response->body : std::string("(no answer)");
  };
  qftest::WriteFile(css, "one!");
  fs::last_write_time(css, longAgo);
  EXPECT_EQ(body(), "one!");
  EXPECT_EQ(body(), "one!");
  auto part = Get(port_, "/file/style.css", "Range: bytes=1-2\r\n");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->body, "ne");

  // Rewritten in place with the same length, its modification time set back to what it was.
  qftest::WriteFile(css, "two!");
  fs::last_write_time(css, longAgo);
  EXPECT_EQ(body(), "two!");
  // Replaced by another file moved over it.
  qftest::WriteFile(folder_.Path() / "new.tmp", "six!");
  fs::last_write_time(folder_.Path() / "new.tmp", longAgo);
  fs::rename(folder_.Path() / "new.tmp", css);
  EXPECT_EQ(body(), "six!");
  // Grown, shrunk, gone.
  qftest::WriteFile(css, "seven!!");
  EXPECT_EQ(body(), "seven!!");
  qftest::WriteFile(css, "8");
  EXPECT_EQ(body(), "8");
  fs::remove(css);
  EXPECT_NE(body(), "8");  // the server's own page: the handler answers nothing else

  // A file written just now is not kept: a second write within the same tick of the disk's clock would
  // not show in its version.
  for (const char* text : {"fresh-1", "fresh-2", "fresh-3"}) {
    qftest::WriteFile(css, text);
    EXPECT_EQ(body(), text);
  }
}

TEST(ServerStart, APortInUseIsReportedAndLeavesTheServerStopped) {
  THttpServer first([](TRequest&, TResponse&) {});
  ASSERT_FALSE(first.Start("127.0.0.1", 0));
  THttpServer second([](TRequest&, TResponse&) {});
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::optional<std::string> error = second.Start("127.0.0.1", first.Port());
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, "Could not bind socket. Address and port are already in use.");
    EXPECT_FALSE(second.Active());
  }
  first.Stop();
  EXPECT_FALSE(first.Active());
  EXPECT_FALSE(second.Start("127.0.0.1", 0));
  EXPECT_TRUE(second.Active());
}

TEST(ServerStart, BindingToLoopbackRefusesOtherAddresses) {
  std::vector<std::string> addresses = platform::LocalIPv4Addresses();
  if (addresses.empty()) GTEST_SKIP() << "this machine has no address besides loopback";
  THttpServer server([](TRequest&, TResponse& response) { response.ContentText = "x"; });
  ASSERT_FALSE(server.Start("127.0.0.1", 0));
  int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.Port());
  inet_pton(AF_INET, addresses.front().c_str(), &address.sin_addr);
  EXPECT_NE(::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(socket);
}

// The player's thread owns a window and stops the server while request threads are blocked sending
// to that window: stopping must keep handling their messages until every request has finished.
platform::LRESULT QF_CALLBACK PlayerWindow(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                           platform::LPARAM lParam) {
  if (message == platform::WM_APP) return 42;
  return platform::DefWindowProcA(window, message, wParam, lParam);
}

TEST(ConcurrentServer, StopsUnderLoadWhileRequestsTalkToThePlayer) {
  platform::RegisterClassA(platform::WNDCLASSA{PlayerWindow, nullptr, "TestPlayerWindow"});
  platform::HWND player = platform::CreateWindowExA("TestPlayerWindow", "", nullptr, nullptr, nullptr);
  std::atomic<int> answered{0};
  THttpServer server([&](TRequest&, TResponse& response) {
    response.ContentText = std::to_string(platform::SendMessageA(player, platform::WM_APP, 0, 0));
    std::this_thread::sleep_for(2ms);
    response.WriteContent();
    ++answered;
  });
  ASSERT_FALSE(server.Start("127.0.0.1", 0));
  std::uint16_t port = server.Port();
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 16; ++i)
    clients.emplace_back([&] {
      while (!stop) {
        auto response = Get(port, "/");
        if (response && response->body != "42") ++wrong;
      }
    });
  // Meanwhile this thread, the window's owner, keeps its messages flowing as a player would.
  auto until = std::chrono::steady_clock::now() + 500ms;
  while (std::chrono::steady_clock::now() < until) {
    platform::MSG msg;
    while (platform::PeekMessageA(&msg, nullptr, 0, 0, platform::PM_REMOVE)) platform::DispatchMessageA(&msg);
    std::this_thread::sleep_for(1ms);
  }
  server.Stop();
  stop = true;
  for (auto& client : clients) client.join();
  EXPECT_FALSE(server.Active());
  EXPECT_GT(answered, 0);
  EXPECT_EQ(wrong, 0);
  platform::DestroyWindow(player);
}

}  // namespace
}  // namespace qf
