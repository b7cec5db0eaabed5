// The request server in the real program, over HTTP on a local port: phones search as the main
// window does, send requests the host accepts or declines in the singers window, and every kind
// of bad input is refused with a clear answer while other phones go on being served.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "tests/qt_test_support.h"
#include "tests/requests/http_client.h"

namespace velloran_test {
namespace {

QJsonObject Json(const Reply& r) { return QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object(); }

TEST_F(RequestServerTest, PhonesSearchAsTheProgramAndTheHostTakesTheirRequests) {
  EXPECT_EQ(Get(port, "/search?q=love").status, 403) << "the venue code is asked for";
  for (const std::string text : {"love", "1100", "zzqx", ""}) {
    const QJsonObject answer = Json(Get(port, Search(text)));
    const ResultSet& expected = Found(text);
    const QJsonArray songs = answer["songs"].toArray();
    ASSERT_EQ(songs.size(), std::min(expected.count(), 50)) << text;
    EXPECT_EQ(answer["more"].toBool(), expected.count() > 50) << text;
    for (int i = 0; i < songs.size(); ++i) {
      const QJsonObject s = songs[i].toObject();
      const ResultRow& row = expected[i + 1];
      const auto text = [&](const char* key) { return s[key].toString().toStdString(); };
      EXPECT_EQ(std::tuple(s["row"].toInt(), text("number"), text("title"), text("artist")), std::tie(row.ID, row.SongNumber, row.Song, row.Artist));
    }
  }
  // Answers kept for phones are not served once the file has changed.
  Connection::Open(catalogue)->Execute("UPDATE [Songs] SET [Song]='Zzqx Blues' WHERE [ID]=1");
  EXPECT_EQ(Json(Get(port, Search("zzqx")))["songs"].toArray().size(), 1) << "a kept answer outlived a change";
  const ResultRow first = Found("love")[1], second = Found("love")[2];

  // Markup and a double quote in a name arrive as plain text; the quote, which the singers file
  // cannot hold inside a name, becomes an apostrophe.
  const std::string name = "<b>Ann</b> \"Ace\"";
  Reply sent = Exchange(port, Post(RequestBody(first.ID, name)));
  ASSERT_EQ(sent.status, 200) << sent.body;
  EXPECT_EQ(sent.body.find('<'), std::string::npos) << "the answer escapes markup";
  ASSERT_EQ(Exchange(port, Post(RequestBody(second.ID, "Bo"))).status, 200);
  EXPECT_TRUE(p->singers.empty()) << "requests wait for the host";

  p->ToggleSingersWindow();
  SingersWindow& sw = *p->singers_window;
  ASSERT_TRUE(sw.requestList().isVisible());
  ASSERT_EQ(sw.requestList().count(), 2);
  EXPECT_EQ(sw.requestList().item(0)->text().toStdString(), "<b>Ann</b> 'Ace' - " + first.SongNumber + " - " + first.Song);
  p->next_singer.Show();  // with the request address and its code drawn
  Screenshot(sw, "singers_requests");
  Screenshot(*p->next_singer.window(), "next_singer_requests");
  sw.requestList().setCurrentRow(0);
  QTest::mouseClick(&sw.acceptButton(), Qt::LeftButton);  // the next request is then selected
  QTest::mouseClick(&sw.declineButton(), Qt::LeftButton);
  EXPECT_EQ(sw.requestList().count(), 0);

  // Accepting did what Enter in the main window does with the same name.
  p->logic.form.Results.Grow(1) = first;
  p->logic.form.SearchVisible = false;
  p->logic.CurrentRow = 1;
  dialogs.prompt_answers = {"<b>Ann</b> 'Ace'"};
  int16_t enter = 13;
  p->logic.Form_KeyPress(enter);
  ASSERT_EQ(p->singers.count(), 2);
  EXPECT_EQ(p->singers[1], p->singers[2]);

  // A row that is no more gets a clear answer, and the on/off state, port and code are kept.
  const Reply gone = Exchange(port, Post(RequestBody(999999, "Cy")));
  EXPECT_EQ(gone.status, 410);
  EXPECT_NE(gone.body.find("no longer in the song book"), std::string::npos);
  p->program.Form_Unload();
  EXPECT_NE(ReadWholeFile(settings + "/velloran.ini")
                .find("[Requests]\r\nRequestsEnabled=1\r\nRequestsPort=" + std::to_string(port) + "\r\nRequestsCode=4711\r\n"),
            std::string::npos);
}

TEST_F(RequestServerTest, BadInputIsRefusedClearlyAndOthersAreStillServed) {
  const std::string row = std::to_string(Found("love")[1].ID);
  const std::string big(100000, 'x');
  const struct { const char* what; std::string bytes; int status; const char* says; } cases[] = {
      {"oversized body", Post(big), 413, "longer than"},
      {"oversized header", "GET / HTTP/1.1\r\nX-Pad: " + big + "\r\n\r\n", 431, "headers are longer"},
      {"not HTTP", "HELLO THERE\r\n\r\n", 400, "request line"},
      {"chunked body", "POST /request HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 411, "Content-Length"},
      {"malformed JSON", Post("{\"row\": " + row + ", \"name\": "), 400, "not the JSON object"},
      {"JSON of another shape", Post("[" + row + "]"), 400, "not the JSON object"},
      {"form instead of JSON", Post("row=" + row + "&name=Ann", "application/x-www-form-urlencoded"), 415, "application/json"},
      {"malformed query", "GET /search?q=%zz&code=4711 HTTP/1.1\r\n\r\n", 400, "malformed"},
      {"unknown path", "GET /admin HTTP/1.1\r\n\r\n", 404, "only offers"},
      {"path traversal", "GET /../../etc/passwd HTTP/1.1\r\n\r\n", 404, "only offers"},
      {"encoded traversal", "GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n\r\n", 404, "only offers"},
      {"another method", "DELETE / HTTP/1.1\r\n\r\n", 405, "Only GET"},
      {"invalid UTF-8 name", Post("{\"row\":" + row + ",\"name\":\"A\xff\xfe\",\"code\":\"4711\"}"), 400, "valid UTF-8"},
      {"invalid UTF-8 search", "GET /search?q=%C3%28&code=4711 HTTP/1.1\r\n\r\n", 400, "valid UTF-8"},
      {"direction override in a name", Post("{\"row\":" + row + ",\"name\":\"Ann\\u202e\",\"code\":\"4711\"}"), 400, "direction"},
      {"overlong name", Post("{\"row\":" + row + ",\"name\":\"" + std::string(31, 'n') + "\",\"code\":\"4711\"}"), 400, "longer than 30"},
      {"no song", Post("{\"row\":\"x\",\"name\":\"Ann\",\"code\":\"4711\"}"), 400, "names no song"},
      {"wrong venue code", "GET /search?q=a&code=0000 HTTP/1.1\r\n\r\n", 403, "venue"},
  };
  int other = 0;
  for (const auto& c : cases) {
    const Reply r = Exchange(port, c.bytes);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.body;
    EXPECT_NE(r.body.find(c.says), std::string::npos) << c.what << ": " << r.body;
    const std::string phone = "127.0.1." + std::to_string(++other);
    EXPECT_EQ(Get(port, Search("love"), phone.c_str()).status, 200) << "after " << c.what;
  }
  EXPECT_EQ(p->requests.count(), 0);

  // A flood of searches from one phone is held back, with a time to wait, while another phone
  // searches; a fourth request within the minute is refused.
  int refused = 0;
  for (int i = 0; i < 30; ++i) {
    const Reply r = Get(port, Search("a"), "127.0.0.3");
    if (r.status == 429) {
      ++refused;
      EXPECT_NE(r.head.find("Retry-After: "), std::string::npos);
    }
  }
  EXPECT_GE(refused, 10);
  EXPECT_EQ(Get(port, Search("love"), "127.0.0.4").status, 200);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Exchange(port, Post(RequestBody(std::stoi(row), "Di")), "127.0.0.5").status, 200);
  EXPECT_EQ(Exchange(port, Post(RequestBody(std::stoi(row), "Di")), "127.0.0.5").status, 429);

  // A phone that sends a byte a second is cut off when its time is up; others meanwhile are served.
  ServerLimits limits;
  limits.request_ms = 2500;
  p->request_server.SetLimits(limits);
  QTcpSocket slow;
  slow.bind(QHostAddress("127.0.0.6"));
  slow.connectToHost(QHostAddress::LocalHost, port);
  ASSERT_TRUE(QTest::qWaitFor([&] { return slow.state() == QAbstractSocket::ConnectedState; }, 3000));
  std::string got;
  Reply cut;
  for (char c : std::string("GET /search?q=love HTTP/1.1\r\n")) {
    slow.write(&c, 1);
    EXPECT_EQ(Get(port, Search("love"), "127.0.0.7").status, 200);
    QTest::qWait(1000);
    got += slow.readAll().toStdString();
    if (Complete(got, cut)) break;
  }
  EXPECT_EQ(cut.status, 408);
}

}  // namespace
}  // namespace velloran_test
