// The request page in a real browser: headless chromium, driven by puppeteer-core, searches,
// gives the venue code it is asked for, sends a request, and the request is in the singers
// window's list.

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include "tests/requests/http_client.h"
#include "tests/test_paths.h"

namespace velloran_test {
namespace {

// Runs `program` with the event loop going (the server answers on this thread); its output, or
// why it failed.
bool RunToEnd(const QString& program, const QStringList& args, std::string& out, const QString& node_path = "") {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  if (!node_path.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NODE_PATH", node_path);
    p.setProcessEnvironment(env);
  }
  p.start(program, args);
  const bool ended = QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 180000);
  out = p.readAll().toStdString();
  if (!ended) p.kill();
  return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

TEST_F(RequestServerTest, AChromiumPhoneSendsARequestTheHostSees) {
  const QString chromium = QStandardPaths::findExecutable("chromium");
  if (chromium.isEmpty()) GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it): the browser test is left out";
  ASSERT_FALSE(QStandardPaths::findExecutable("npm").isEmpty()) << "npm is needed to install puppeteer-core";
  const std::string modules = QCoreApplication::applicationDirPath().toStdString() + "/../node";
  std::string out;
  ASSERT_TRUE(RunToEnd("sh", {QString(VELLORAN_SOURCE_DIR) + "/tools/install-npm-package.sh", QString::fromStdString(modules),
                         "puppeteer-core", "22.15.0"}, out))
      << "installing puppeteer-core failed: " << out;
  p->ToggleSingersWindow();
  const char* shots = std::getenv("VELLORAN_SCREENSHOTS");
  QStringList args = {QString(VELLORAN_SOURCE_DIR) + "/tests/requests/browser_phone.js", chromium,
                      QString("http://127.0.0.1:%1/").arg(port), "love", "Zoë <i>"};
  if (shots != nullptr) args << shots;
  ASSERT_TRUE(RunToEnd("node", args, out, QString::fromStdString(modules + "/node_modules"))) << out;
  EXPECT_NE(out.find("Thank you, Zoë <i>"), std::string::npos) << out;

  const ResultRow& first = Found("love")[1];
  QListWidget& list = p->singers_window->requestList();
  ASSERT_EQ(list.count(), 1);
  EXPECT_EQ(list.item(0)->text().toStdString(), "Zoë <i> - " + first.SongNumber + " - " + first.Song);
}

}  // namespace
}  // namespace velloran_test
