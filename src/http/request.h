#pragma once
// The request and response records the HTTP server hands to the request pipeline.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "http/multipart.h"
#include "platform/files.h"

namespace qf {

enum class CommandKind { Get, Post, Head, Put, Delete, Options, Other };

// The body of a request: kept in memory while small, in a scratch file beyond that, so a large upload
// never has to fit into the player's address space at once.
class RequestBody : public ByteSource {
 public:
  static constexpr std::size_t kMemoryLimit = 1 << 20;

  // Throws std::runtime_error when the scratch file cannot be written.
  void Append(const char* data, std::size_t size);
  std::uint64_t Size() const override { return size_; }
  // Up to `size` bytes from `offset`; fewer at the end.
  std::size_t ReadAt(std::uint64_t offset, char* data, std::size_t size) override;
  // The whole body as one text; for bodies that are known to be small (forms).
  std::string Text();

 private:
  std::string memory_;
  platform::File spill_;
  std::uint64_t size_ = 0;
};

struct TRequest {
  std::string Document;          // the path, URL-decoded, starting with "/"
  TextList Params;               // name=value lines (or bare names), decoded, in request order
  std::string UnparsedDocument;  // the path as sent, still encoded
  std::string UnparsedParams;    // the raw query text
  std::string Command;           // the method as sent
  CommandKind CommandType = CommandKind::Other;
  std::string RemoteIP;      // dotted IPv4
  std::string AuthUsername;  // from a Basic "Authorization" header; empty when absent
  std::string AuthPassword;
  std::string ContentType;  // the Content-Type header as sent; empty when absent
  // What the browser says of where the request comes from, as sent; empty when absent.
  std::string Host;
  std::string Origin;
  std::string Referer;
  std::string SecFetchSite;
  RequestBody* PostStream = nullptr;  // the body of a POST, owned by the server
};

// The user name and password of a Basic "Authorization" header value ("Basic " and Base64 of
// "name:password") into AuthUsername and AuthPassword; both stay as they are for any other value.
void ReadCredentials(std::string_view authorization, TRequest& request);

struct TResponse;

// Implemented by the server for the connection a response belongs to. It records the answer; the
// connection sends it once the handler has returned.
class ResponseChannel {
 public:
  enum class FileResult { Sent, Unreadable, ConnectionLost };  // Unreadable: nothing was set
  virtual ~ResponseChannel() = default;
  virtual bool SendContent(const TResponse& response) = 0;
  virtual FileResult SendFile(const TResponse& response, const std::string& path) = 0;
};

struct TResponse {
  int ResponseNo = 200;
  std::string ContentText;
  std::string ContentType;
  std::string AuthRealm;  // on 401: sent as WWW-Authenticate: Basic realm="..."
  // Held with the answer until it has been sent or dropped: the page budget's share of ContentText.
  std::shared_ptr<const void> Hold;

  // Makes this response the answer: status and headers as they are now, and ContentText as the handler
  // leaves it. It is sent once the handler returns. False when an answer was already set.
  bool WriteContent();
  // Makes the file at `path` (a Windows path) the answer's body, with ContentType; byte ranges when
  // asked. The file is opened and its start read now, the rest as the client takes it. False when the
  // file cannot be read (then no answer is set) or an answer was already set.
  bool ServeFile(const std::string& path);
  // True once WriteContent or ServeFile has set the answer.
  bool Written() const { return written_; }

  ResponseChannel* Channel = nullptr;

 private:
  bool written_ = false;
};

}  // namespace qf
