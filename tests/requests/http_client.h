// A test's phone: sends raw bytes to the request server from a chosen loopback address and
// waits, with the event loop running (the server lives on the same thread), for the answer.
#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <string>

namespace velloran_test {

struct Reply {
  int status = 0;  // 0: no answer came
  std::string head, body;
};

inline bool Complete(const std::string& got, Reply& r) {
  const size_t end = got.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  r.head = got.substr(0, end);
  const size_t at = r.head.find("Content-Length: ");
  const size_t length = at == std::string::npos ? 0 : std::stoul(r.head.substr(at + 16));
  if (got.size() < end + 4 + length) return false;
  r.status = std::stoi(r.head.substr(9, 3));
  r.body = got.substr(end + 4, length);
  return true;
}

// Sends `bytes` (in `pieces` parts `gap_ms` apart) and returns the first answer.
inline Reply Exchange(uint16_t port, const std::string& bytes, const char* from = "127.0.0.1", int pieces = 1,
                      int gap_ms = 0, int timeout_ms = 5000) {
  QTcpSocket s;
  s.bind(QHostAddress(QString(from)));
  s.connectToHost(QHostAddress::LocalHost, port);
  if (!QTest::qWaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }, 3000)) return {};
  std::string got;
  Reply r;
  const size_t step = (bytes.size() + pieces - 1) / pieces;
  for (size_t at = 0; at < bytes.size() && r.status == 0; at += step) {
    s.write(bytes.data() + at, static_cast<qint64>(std::min(step, bytes.size() - at)));
    s.flush();
    if (gap_ms > 0) QTest::qWait(gap_ms);
    got += s.readAll().toStdString();
    Complete(got, r);
  }
  QTest::qWaitFor([&] {
    got += s.readAll().toStdString();
    return Complete(got, r) || s.state() == QAbstractSocket::UnconnectedState;
  }, timeout_ms);
  return r;
}

inline Reply Get(uint16_t port, const std::string& target, const char* from = "127.0.0.1") {
  return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n", from);
}

inline std::string Post(const std::string& body, const std::string& type = "application/json") {
  return "POST /request HTTP/1.1\r\nHost: x\r\nContent-Type: " + type + "\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace velloran_test
