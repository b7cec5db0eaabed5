// The request server on the program's event loop: a TCP listener whose connections are read
// with HttpReader and answered by RequestService, all on the user-interface thread, so the queue
// and the database are only ever touched there. Each connection is bounded in time and each
// address in connections, so a slow or greedy phone cannot hold the server.
//
// The reading is our own rather than Qt's HTTP server module: in Qt 6.4 that module gathers a
// request's headers and body whole, of any size, before the program sees them, and gives no hold
// on how long a client may take, which are exactly the bounds a shared network needs.
#pragma once

#include <QImage>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "jet/base/status.h"
#include "requests/request_service.h"

class QTcpSocket;

namespace velloran {

struct ServerLimits {
  int request_ms = 10000;  // from a request's first byte to its last
  int idle_ms = 30000;     // a kept-alive connection with nothing to do
  int max_connections = 64;
  int max_per_address = 8;
};

class RequestServer : public QObject {
 public:
  RequestServer(RequestService& service, ServerLimits limits = {});
  ~RequestServer() override;

  // Listens on every address of the machine at `port` (0: any free port); an error that says
  // what to do when the port is taken.
  jet::Status Start(uint16_t port);
  void Stop();
  bool running() const { return server_.isListening(); }
  // For the connections accepted from now on.
  void SetLimits(const ServerLimits& limits) { limits_ = limits; }
  uint16_t port() const { return server_.serverPort(); }
  // "http://192.168.1.20:8090/": the machine's first network address a phone can reach.
  std::string Address() const;

 private:
  struct Connection;
  void Accept();
  void Read(Connection& c);
  void Send(Connection& c, const HttpAnswer& answer, bool keep_alive);
  // Answers once more, then lets the connection go.
  void Refuse(Connection& c, int status, const std::string& why);
  void Drop(QTcpSocket* socket);

  RequestService& service_;
  ServerLimits limits_;
  QTcpServer server_;
  std::map<QTcpSocket*, std::unique_ptr<Connection>> connections_;
  std::map<std::string, int> per_address_;
};

// The QR code of `text`, one pixel a module with a four-module white border; a null image when
// the text does not fit a code.
QImage QrCodeImage(const std::string& text);

}  // namespace velloran
