// Reads one HTTP/1.1 request at a time from the bytes a connection delivers, within fixed bounds:
// a phone's search or request is a few hundred bytes, so anything much larger is refused before
// it is held in memory. A refusal carries the status to answer with and a sentence saying why.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velloran {

struct HttpRequest {
  std::string method;  // "GET", "POST"
  std::string target;  // "/search?q=love" as sent
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;
  bool keep_alive = true;

  // The value of header `name` (lower case), or empty.
  std::string Header(std::string_view name) const;
};

struct HttpLimits {
  size_t max_head = 8 * 1024;  // request line and headers
  size_t max_body = 4 * 1024;
};

class HttpReader {
 public:
  enum class State { kNeedMore, kComplete, kRefused };

  explicit HttpReader(HttpLimits limits = {}) : limits_(limits) {}

  // Takes more bytes; after kComplete the request is in request() and the bytes past it wait for
  // Next(). After kRefused the connection is answered with refusal_status() and closed.
  State Feed(std::string_view bytes);
  // Drops the request just read and goes on with any bytes already received after it.
  State Next();

  const HttpRequest& request() const { return request_; }
  int refusal_status() const { return refusal_status_; }
  const std::string& refusal_reason() const { return refusal_reason_; }
  // Whether any byte of a request not yet complete has arrived.
  bool Started() const { return !buffer_.empty(); }

 private:
  State Parse();
  State ParseHead(std::string_view head);
  State Refuse(int status, std::string reason);

  HttpLimits limits_;
  std::string buffer_;
  HttpRequest request_;
  size_t body_length_ = 0;
  bool head_done_ = false;
  State state_ = State::kNeedMore;
  int refusal_status_ = 0;
  std::string refusal_reason_;
};

}  // namespace velloran
