#include "requests/qt/request_server.h"

#include <qrencode.h>
#include <sys/socket.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpSocket>

namespace velloran {

namespace {

double Now() {
  static QElapsedTimer clock = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

std::string AddressText(const QHostAddress& address) {
  bool v4 = false;
  const quint32 ip = address.toIPv4Address(&v4);  // an IPv4 phone seen through an IPv6 socket
  return (v4 ? QHostAddress(ip) : address).toString().toStdString();
}

// A client that stops reading its answers is not given more than this to hold.
constexpr qint64 kMaxUnsent = 1 << 20;
// After the last answer of a refused connection, how long what the client still sends is read and
// dropped, so closing does not reset the connection before the client has read the refusal.
constexpr int kLingerMs = 2000;

}  // namespace

struct RequestServer::Connection {
  QTcpSocket* socket = nullptr;
  std::string address;
  HttpReader reader;
  QTimer timer;
  bool in_request = false;  // the timer runs for a request, not for idling
  bool closing = false;
  bool dropped = false;  // gone from the server; freed once the event loop is back
};

RequestServer::RequestServer(RequestService& service, ServerLimits limits) : service_(service), limits_(limits) {
  connect(&server_, &QTcpServer::newConnection, this, [this] { Accept(); });
}

RequestServer::~RequestServer() { Stop(); }

jet::Status RequestServer::Start(uint16_t port) {
  if (server_.isListening()) return jet::Status::Ok();
  if (!server_.listen(QHostAddress::Any, port)) {
    return jet::Error(jet::ErrorCode::kIo, "Song requests cannot be taken on port " + std::to_string(port) + ": " +
                                               server_.errorString().toStdString() +
                                               ". Close the program using that port, or choose another one.");
  }
  return jet::Status::Ok();
}

void RequestServer::Stop() {
  server_.close();
  for (auto& [socket, c] : connections_) {
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
  connections_.clear();
  per_address_.clear();
}

std::string RequestServer::Address() const {
  QString host = "127.0.0.1";
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
    if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && !a.isLinkLocal()) {
      host = a.toString();
      break;
    }
  }
  return "http://" + host.toStdString() + ":" + std::to_string(port()) + "/";
}

void RequestServer::Accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    auto c = std::make_unique<Connection>();
    c->socket = socket;
    c->address = AddressText(socket->peerAddress());
    Connection& conn = *c;
    connections_[socket] = std::move(c);
    connect(socket, &QTcpSocket::readyRead, this, [this, &conn] { Read(conn); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { Drop(socket); });
    connect(socket, &QTcpSocket::bytesWritten, this, [&conn] {
      if (conn.closing && conn.socket->bytesToWrite() == 0) ::shutdown(static_cast<int>(conn.socket->socketDescriptor()), SHUT_WR);
    });
    conn.timer.setSingleShot(true);
    connect(&conn.timer, &QTimer::timeout, this, [this, &conn] {
      if (conn.closing || !conn.reader.Started()) {
        conn.socket->abort();  // emits disconnected, which drops the connection
      } else {
        Refuse(conn, 408, "The request took too long to arrive; send it again.");
      }
    });
    if (static_cast<int>(connections_.size()) > limits_.max_connections) {
      Refuse(conn, 503, "The host's program is busy with other phones; try again in a moment.");
    } else if (++per_address_[conn.address] > limits_.max_per_address) {
      Refuse(conn, 429, "Too many connections from this phone; close some pages and try again.");
    } else {
      conn.timer.start(limits_.idle_ms);
    }
  }
}

void RequestServer::Read(Connection& c) {
  while (!c.dropped && c.socket->bytesAvailable() > 0) {
    const QByteArray bytes = c.socket->read(16 * 1024);
    if (c.closing) continue;  // read and dropped
    HttpReader::State state = c.reader.Feed(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    if (!c.in_request && c.reader.Started()) {
      // The clock for a whole request starts at its first byte and is not wound back by more.
      c.in_request = true;
      c.timer.start(limits_.request_ms);
    }
    while (state == HttpReader::State::kComplete) {
      const HttpRequest& request = c.reader.request();
      HttpAnswer answer;
      try {
        answer = service_.Answer(request, c.address, Now());
      } catch (const std::exception& e) {
        answer = ErrorAnswer(500, std::string("The host's program could not answer: ") + e.what());
      }
      Send(c, answer, request.keep_alive);
      if (c.closing || c.dropped) break;
      state = c.reader.Next();
      c.in_request = c.reader.Started();
      c.timer.start(c.in_request ? limits_.request_ms : limits_.idle_ms);
    }
    if (state == HttpReader::State::kRefused && !c.closing && !c.dropped)
      Refuse(c, c.reader.refusal_status(), c.reader.refusal_reason());
  }
}

void RequestServer::Send(Connection& c, const HttpAnswer& answer, bool keep_alive) {
  const std::string bytes = FormatHttpAnswer(answer, keep_alive);
  c.socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (c.socket->bytesToWrite() > kMaxUnsent) {
    c.socket->abort();
    return;
  }
  if (!keep_alive) {
    c.closing = true;
    c.timer.start(kLingerMs);
    c.socket->flush();
  }
}

void RequestServer::Refuse(Connection& c, int status, const std::string& why) { Send(c, ErrorAnswer(status, why), false); }

void RequestServer::Drop(QTcpSocket* socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  auto count = per_address_.find(it->second->address);
  if (count != per_address_.end() && --count->second <= 0) per_address_.erase(count);
  // A socket can close in the middle of answering it (an abort emits its signal at once): what
  // is answering it still holds the connection, so it is freed only when the event loop is back.
  Connection* gone = it->second.release();
  connections_.erase(it);
  gone->dropped = true;
  gone->timer.stop();
  socket->disconnect(this);
  socket->deleteLater();
  QTimer::singleShot(0, [gone] { delete gone; });
}

QImage QrCodeImage(const std::string& text) {
  QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
  if (code == nullptr) return QImage();
  const int border = 4, size = code->width + 2 * border;
  QImage image(size, size, QImage::Format_Mono);
  image.fill(1);
  image.setColor(0, qRgb(0, 0, 0));
  image.setColor(1, qRgb(255, 255, 255));
  image.fill(1);
  for (int y = 0; y < code->width; ++y)
    for (int x = 0; x < code->width; ++x)
      if (code->data[y * code->width + x] & 1) image.setPixel(x + border, y + border, 0);
  QRcode_free(code);
  return image;
}

}  // namespace velloran
