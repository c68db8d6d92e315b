#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace qftest {

using Clock = std::chrono::steady_clock;

Connection::Connection(std::uint16_t port, const std::string& from) {
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return;
  if (!from.empty()) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (::inet_pton(AF_INET, from.c_str(), &local.sin_addr) != 1 ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(socket_);
      socket_ = -1;
      return;
    }
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(socket_);
    socket_ = -1;
    return;
  }
  int on = 1;
  ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

Connection::~Connection() { Close(); }

void Connection::Close() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void Connection::Reset() {
  if (socket_ < 0) return;
  linger abort{1, 0};
  ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  Close();
}

void Connection::ShutdownWrite() {
  if (socket_ >= 0) ::shutdown(socket_, SHUT_WR);
}

std::size_t Connection::ReadSome(std::size_t atLeast, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (pending_.size() < atLeast)
    if (!Fill(deadline)) break;
  return pending_.size();
}

bool Connection::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool Connection::Fill(Clock::time_point deadline) {
  if (ended_ || socket_ < 0) return false;
  auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (remaining <= 0) return false;
  pollfd descriptor{socket_, POLLIN, 0};
  if (::poll(&descriptor, 1, static_cast<int>(remaining)) <= 0) return false;
  char buffer[65536];
  ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    ended_ = true;
    return false;
  }
  pending_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

std::optional<HttpResponse> Connection::Read(std::chrono::milliseconds timeout, bool headRequest) {
  auto deadline = Clock::now() + timeout;
  std::size_t headerEnd;
  while ((headerEnd = pending_.find("\r\n\r\n")) == std::string::npos)
    if (!Fill(deadline)) return std::nullopt;

  HttpResponse response;
  std::string head = pending_.substr(0, headerEnd);
  pending_.erase(0, headerEnd + 4);
  std::size_t lineEnd = head.find("\r\n");
  response.statusLine = head.substr(0, lineEnd);
  if (response.statusLine.size() < 12) return std::nullopt;
  response.status = std::atoi(response.statusLine.substr(9, 3).c_str());
  std::size_t start = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (start < head.size()) {
    std::size_t end = head.find("\r\n", start);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(start, end - start);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      response.headers[name] = value;
    }
    start = end + 2;
  }
  if (headRequest || response.status == 304 || response.status == 100) return response;
  std::string length = response.Header("content-length");
  if (!length.empty()) {
    std::size_t want = std::strtoull(length.c_str(), nullptr, 10);
    while (pending_.size() < want)
      if (!Fill(deadline)) return std::nullopt;
    response.body = pending_.substr(0, want);
    pending_.erase(0, want);
  } else {
    while (Fill(deadline)) {
    }
    response.body = pending_;
    pending_.clear();
  }
  return response;
}

bool Connection::WaitClosed(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!ended_) {
    if (!Fill(deadline) && !ended_) return false;
  }
  return true;
}

std::optional<HttpResponse> Get(std::uint16_t port, const std::string& target, const std::string& extraHeaders) {
  return Exchange(port,
                  "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extraHeaders + "\r\n");
}

std::optional<HttpResponse> Exchange(std::uint16_t port, const std::string& raw, bool headRequest) {
  Connection connection(port);
  if (!connection.Connected() || !connection.Send(raw)) return std::nullopt;
  return connection.Read(std::chrono::seconds(10), headRequest);
}

std::string Encoded(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : text) {
    if (std::isalnum(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

}  // namespace qftest
