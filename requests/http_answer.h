// What the request server sends back: a status, a content type and a body, turned into the bytes
// of an HTTP/1.1 answer with the headers every answer carries.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velloran {

struct HttpAnswer {
  int status = 200;
  std::string type = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra ones: Allow, Retry-After
};

// A JSON answer {"error": message} with `status`.
HttpAnswer ErrorAnswer(int status, const std::string& message);
// The whole answer; `keep_alive` false adds "Connection: close".
std::string FormatHttpAnswer(const HttpAnswer& answer, bool keep_alive);

}  // namespace velloran
