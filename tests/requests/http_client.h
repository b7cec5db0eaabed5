// The program with its request server on a free port and a song book, and a test's phone: it
// sends raw bytes to the server from a chosen loopback address and waits, with the event loop
// running (the server lives on the same thread), for the answer.
#pragma once

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/demo_catalogue.h"
#include "app/qt/program_window.h"
#include "platform/scripted_dialog_host.h"
#include "requests/text_input.h"
#include "tests/jet/test_support.h"

namespace velloran_test {

// A port nothing listens on at the moment.
inline uint16_t FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::Any, 0);
  return probe.serverPort();
}

struct Reply { int status = 0; std::string head, body; };  // status 0: no answer came

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

// Sends `bytes` and returns the first answer.
inline Reply Exchange(uint16_t port, const std::string& bytes, const char* from = "127.0.0.1") {
  QTcpSocket s;
  s.bind(QHostAddress(QString(from)));
  s.connectToHost(QHostAddress::LocalHost, port);
  if (!QTest::qWaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }, 3000)) return {};
  s.write(bytes.data(), static_cast<qint64>(bytes.size()));
  std::string got;
  Reply r;
  static_cast<void>(QTest::qWaitFor([&] {
    got += s.readAll().toStdString();
    return Complete(got, r) || s.state() == QAbstractSocket::UnconnectedState;
  }, 5000));
  return r;
}

inline Reply Get(uint16_t port, const std::string& target, const char* from = "127.0.0.1") {
  return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n", from);
}

inline std::string Post(const std::string& body, const std::string& type = "application/json") {
  return "POST /request HTTP/1.1\r\nHost: x\r\nContent-Type: " + type + "\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

using namespace velloran;

class RequestServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(settings);
    ASSERT_TRUE(BuildDemoCatalogue(catalogue, 400).ok());
    std::ofstream(settings + "/velloran.ini") << "[Requests]\r\nRequestsEnabled=1\r\nRequestsPort=" << port
                                             << "\r\nRequestsCode=" << code << "\r\n";
    p = std::make_unique<ProgramWindow>(settings, &dialogs);
    p->Start("velloran", "velloran", catalogue);
    ASSERT_TRUE(p->request_server.running()) << (dialogs.messages.empty() ? "" : dialogs.messages.back());
  }
  std::string Search(const std::string& text) {
    return "/search?q=" + QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString() + "&code=" + code;
  }
  const ResultSet& Found(const std::string& text) {
    p->logic.form.SearchText = text;
    p->logic.form.BuildWhereClause();
    return p->logic.form.Results;
  }
  std::string RequestBody(int32_t row, const std::string& name) {
    return "{\"row\":" + std::to_string(row) + ",\"name\":" + JsonString(name) + ",\"code\":\"" + code + "\"}";
  }

  ScratchDir folder;
  std::string settings = folder.File("settings"), catalogue = folder.File("songs.mdb");
  uint16_t port = FreePort();
  std::string code = "4711";
  ScriptedDialogHost dialogs;
  std::unique_ptr<ProgramWindow> p;
};

}  // namespace velloran_test
