// The real window on Qt's offscreen platform, driven as a host drives it: what its keys, mouse
// and menu reach, what it paints, and a restart with the window as it was left. (What the
// commands do: the logic's tests.)

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/qt/program_window.h"
#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SHARED_FIXTURES();
    settings = folder.File("settings");
    std::filesystem::create_directories(settings);
  }
  std::unique_ptr<ProgramWindow> Start(const std::string& ini_text = "") {
    if (!ini_text.empty()) std::ofstream(settings + "/velloran.ini", std::ios::binary) << ini_text;
    auto p = std::make_unique<ProgramWindow>(settings, &dialogs);
    p->Start("velloran", "velloran");
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&p->window));
    return p;
  }
  // Pixels of a point given in twips.
  static QPoint At(ProgramWindow& p, float x, float y) {
    return QPoint(static_cast<int>(p.window.surface().ToPixels(x)), static_cast<int>(p.window.surface().ToPixels(y)));
  }
  // The colour the image shows at a point given in twips.
  static QRgb Pixel(ProgramWindow& p, float x, float y) {
    const QImage& image = p.window.surface().image();
    const QPointF at = QPointF(p.window.surface().ToPixels(x), p.window.surface().ToPixels(y)) * image.devicePixelRatio();
    return image.pixel(at.toPoint()) & 0xFFFFFF;
  }
  std::string ReadSettings() const { return ReadWholeFile(settings + "/velloran.ini"); }

  ScratchDir folder;
  std::string settings;
  ScriptedDialogHost dialogs;
};

TEST_F(MainWindowTest, FirstStartShowsNoDatabaseAndTheVersionLine) {
  auto p = Start();
  EXPECT_EQ(p->logic.form.TitleText, "No database loaded!");
  EXPECT_EQ(std::pair(p->window.searchBox().isVisible(), p->window.searchBox().hasFocus()), std::pair(true, true));
  // A key the box does not use goes on to the window, which must not take it a second time.
  QTest::keyClick(&p->window.searchBox(), Qt::Key_Down);
  EXPECT_EQ(p->logic.CurrentRow, 1);
  EXPECT_EQ(p->window.width(), At(*p, 7215, 0).x());
  // The image has a pixel for every device pixel (the HiDPI run sets a scale factor of 2).
  const qreal ratio = p->window.devicePixelRatioF();
  EXPECT_EQ(p->window.surface().image().devicePixelRatio(), ratio);
  EXPECT_EQ(p->window.surface().image().width(), qRound(p->window.width() * ratio));
  // The title's dark text is drawn across the middle, centred; the left quarter is background.
  const QImage& image = p->window.surface().image();
  int first = -1, last = -1;
  for (int x = 0; x < image.width(); ++x) {
    if (qGray(image.pixel(x, image.height() / 2)) > 80) continue;
    if (first < 0) first = x;
    last = x;
  }
  ASSERT_GT(first, image.width() / 4);
  EXPECT_NEAR(first + last, image.width(), image.width() / 20);
  p->window.close();  // closed by the desktop, not a command: the settings are written all the same
  EXPECT_NE(ReadSettings().find("Version=2.00.0014\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, AnEveningFromSearchToRestart) {
  const std::string db = folder.CopyOfSongs("Main.mdb");
  auto p = Start("[Databases]\r\nCurrentDB=1\r\nDatabase=" + db + "\r\nTable=MyList\r\n");
  MainWindowLogic& logic = p->logic;

  QTest::keyClicks(&p->window.searchBox(), "1250");
  QTest::keyClick(&p->window.searchBox(), Qt::Key_Return);
  ASSERT_EQ(logic.form.Results.count(), 251);
  EXPECT_FALSE(p->window.searchBox().isVisible());
  const float line = p->window.surface().TextHeight("W");
  // Row 1 is highlighted: a black bar under the heading.
  EXPECT_EQ(Pixel(*p, 6000, line + 15 + line / 2), 0x000000u);
  EXPECT_EQ(Pixel(*p, 6000, line + 15 + line * 1.5f), kWindowBackground);

  QTest::keyClick(&p->window, Qt::Key_PageDown);
  EXPECT_EQ(logic.CurrentRow, logic.RowsPerPage + 1);

  // Drag edge 2 from 1560 to 2000 twips: pixels to twips and back, press to release.
  QTest::mousePress(&p->window, Qt::LeftButton, {}, At(*p, 1560, 2 * line + 100));
  QTest::mouseMove(&p->window, At(*p, 2000, 2 * line + 100));
  QTest::mouseRelease(&p->window, Qt::LeftButton, {}, At(*p, 2000, 2 * line + 100));
  EXPECT_NEAR(logic.Display[0].ColumnWidth[2], 2000, 16);

  // Esc: back to an empty search box with the focus.
  QTest::keyClick(&p->window, Qt::Key_Escape);
  EXPECT_TRUE(p->window.searchBox().isVisible());
  EXPECT_EQ(p->window.searchBox().text(), "");
  p->window.move(123, 77);
  p->window.resize(700, 420);
  QTest::keyClick(&p->window.searchBox(), Qt::Key_Q, Qt::AltModifier);  // quit: the settings are written
  EXPECT_FALSE(p->window.isVisible());
  p.reset();

  auto again = Start();
  EXPECT_EQ(QRect(again->window.pos(), again->window.size()), QRect(123, 77, 700, 420));
  EXPECT_EQ(again->logic.form.TitleText, "Main");
  EXPECT_TRUE(dialogs.messages.empty());
}

// Every song in a favourites list, as "number,lists", read on a connection of its own.
std::vector<std::string> Favourites(const std::string& db) {
  auto connection = Connection::Open(db);
  auto rows = connection->OpenRecordset("SELECT * FROM MyList WHERE HotlistA LIKE '*1*' ORDER BY SongNumber");
  std::vector<std::string> lists;
  for (; !rows->AtEnd(); rows->MoveNext()) lists.push_back(rows->Field("SongNumber").ToText() + "," + rows->Field("HotlistA").ToText());
  return lists;
}

TEST_F(MainWindowTest, AKeyThatLeavesTheSearchBoxIsHandledOnce) {
  const std::string db = folder.CopyOfSongs("Main.mdb");
  {
    auto connection = Connection::Open(db);
    connection->Execute("UPDATE MyList SET HotlistA = '0000000000'");
    connection->Execute("UPDATE MyList SET HotlistA = '1010000000' WHERE SongNumber >= 1001 AND SongNumber <= 1003");
  }
  const std::vector<std::string> before = Favourites(db);
  ASSERT_EQ(before.size(), 3u);
  auto p = Start("[Databases]\r\nCurrentDB=1\r\nDatabase=" + db + "\r\nTable=MyList\r\n");
  QLineEdit& box = p->window.searchBox();
  // Showing a list hides the box; the list must not then take the same key as a toggle of its first row.
  for (Qt::Key list_key : {Qt::Key_3, Qt::Key_F, Qt::Key_3}) {
    QTest::keyClick(&box, list_key, Qt::ControlModifier);
    EXPECT_EQ(std::pair(p->logic.form.Results.count(), box.isVisible()), std::pair(3, false)) << list_key;
    EXPECT_EQ(Favourites(db), before) << list_key;
    QTest::keyClick(&p->window, Qt::Key_Escape);
  }
  // Alt keys are commands, not text: ALT-P does nothing in the box, ALT-S re-runs the last query.
  QTest::keyClicks(&box, "lo");
  QTest::keyClick(&box, Qt::Key_P, Qt::AltModifier);
  EXPECT_EQ(box.text(), "lo");
  QTest::keyClick(&box, Qt::Key_S, Qt::AltModifier);
  EXPECT_EQ(std::tuple(p->logic.form.Results.count(), box.isVisible(), box.text()), std::tuple(3, false, QString("lo")));
  EXPECT_EQ(Favourites(db), before);
}

TEST_F(MainWindowTest, TheRightButtonMenuResetsTheColumnsAndFlipsItsSwitches) {
  auto p = Start("[Display]\r\nList Font Name=\r\nColumn Order=ADSN\r\nColumn Width=1,2000\r\n");
  auto choose = [&](const char* name) {
    QTimer::singleShot(0, [name] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      auto* action = menu->findChild<QAction*>(name);
      ASSERT_NE(action, nullptr);
      action->trigger();
      menu->close();
    });
    QTest::mouseClick(&p->window, Qt::RightButton, {}, QPoint(50, 50));
  };
  choose("Mnu_Options_Display_ResetCols");
  EXPECT_EQ(p->logic.Display[0].ColumnOrder, "NDSA");
  EXPECT_EQ(p->logic.Display[0].ColumnWidth, kDesignColumnEdges);
  choose("Mnu_AllowColumnResize");
  EXPECT_FALSE(p->logic.Switches.AllowColumnResize);
  choose("Mnu_Exit");
  EXPECT_NE(ReadSettings().find("AllowColumnResizing=0\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, BadSettingsNeverCrashAndAreNeverTruncated) {
  const std::string garbage =
      "\xFF\xFE garbage\r\n=\r\nWidth=1e40\r\nHeight=-5\r\nTop=99999999\r\nList Font Name=\r\nList Font Size=-7\r\n"
      "Column Width=3,-1e30\r\nCurrentDB=-2\r\nDatabase=/no/such/folder/songs.mdb\r\nTitle Font Size=99999\r\n";
  auto p = Start(garbage);
  EXPECT_EQ(p->logic.form.TitleText, "songs");
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Database not found! Please select another database."}));
  p->window.close();
  EXPECT_NE(ReadSettings().find("Database=/no/such/folder/songs.mdb\r\n"), std::string::npos);
}

}  // namespace
}  // namespace velloran_test
