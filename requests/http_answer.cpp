#include "requests/http_answer.h"

#include "requests/text_input.h"

namespace velloran {

namespace {

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
  }
}

}  // namespace

HttpAnswer ErrorAnswer(int status, const std::string& message) {
  return HttpAnswer{status, "application/json", "{\"error\":" + JsonString(message) + "}", {}};
}

std::string FormatHttpAnswer(const HttpAnswer& answer, bool keep_alive) {
  std::string out = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) + "\r\n";
  out += "Content-Type: " + answer.type + "\r\n";
  out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
  // Nothing here is for caches, other sites' frames or guessing at types; the page runs only its
  // own script.
  out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n";
  out += "Referrer-Policy: no-referrer\r\n";
  out += "Content-Security-Policy: default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'\r\n";
  for (const auto& [name, value] : answer.headers) out += name + ": " + value + "\r\n";
  if (!keep_alive) out += "Connection: close\r\n";
  return out + "\r\n" + answer.body;
}

}  // namespace velloran
