// The selector and the add-records window as real widgets on Qt's offscreen platform: clicks
// reach the logic and the widgets show what it decided. VELLORAN_SCREENSHOTS=folder saves a
// picture of each window there.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "admin/qt/add_records_window.h"
#include "admin/qt/select_table_window.h"
#include "tests/admin/admin_support.h"
#include "tests/qt_test_support.h"

namespace velloran_test {
namespace {

TEST(AdminWindows, SelectorCreatesTheMissingFieldsAndStoresTheMapping) {
  Selector s({{"Karaoke", {{"Title", FieldType::kText, 0, true}}}});
  s.Load();
  SelectTableWindow window(*s.form, nullptr);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle() + " / " + window.List1->currentItem()->text(), "Table/Field Selection / Karaoke");
  EXPECT_FALSE(window.Cmd_OK->isEnabled());
  window.Cmb_Fields[2]->setEditText("Title");  // the song's field exists under another name
  QTest::mouseClick(window.Cmd_CreateFields, Qt::LeftButton);
  EXPECT_TRUE(window.Cmd_OK->isEnabled());
  EXPECT_EQ(window.Cmb_Fields[0]->currentText() + " / " + window.Cmb_Fields[2]->currentText(), "SongNumber / Title");
  Screenshot(window, "select_table");
  QTest::mouseClick(window.Cmd_OK, Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(s.list.current(), (DatabaseEntry{s.path, "Karaoke", "Artist", "Title", "SongNumber", "DiskID"}));
}

TEST(AdminWindows, AddRecordsAddsSongsByHandAndProposesTheNextNumber) {
  OneDatabase d("Songs");
  MakeSongTable(d.path, "Songs");
  AddRecordsHost windows;
  windows.Show(nullptr, d.list, d.host, d.dialogs);
  AddRecordsWindow* window = windows.window();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  EXPECT_EQ(window->Txt_SongNumber->text(), "1");  // an empty table starts at 1
  // The four boxes typed into in order (number, disc ID, song, artist), then "Add".
  const auto add = [&](std::array<const char*, 4> texts) {
    QLineEdit* const boxes[] = {window->Txt_SongNumber, window->Txt_DiskID, window->Txt_Song, window->Txt_Artist};
    for (int i = 0; i < 4; ++i) boxes[i]->clear(), QTest::keyClicks(boxes[i], texts[i]);
    QTest::mouseClick(window->Cmd_Add, Qt::LeftButton);
  };
  add({"2000", "SC02", "Other", "Band"});
  add({"500", "SC03", "Low", "Band"});
  EXPECT_EQ(window->Txt_SongNumber->text(), "2001");  // one above the highest, not the last
  EXPECT_EQ(window->Txt_Song->text(), "");
  EXPECT_EQ(window->focusWidget(), window->Txt_DiskID);  // where the next song's typing begins
  Screenshot(*window, "add_records");
  // Refused: an empty box (blanks count as filled), a number that is not a whole number; the
  // host is taken to the box to mend.
  add({"2001", "", "x", "y"});
  EXPECT_EQ(window->focusWidget(), window->Txt_DiskID);
  add({"2001", "x", "x", ""});
  EXPECT_EQ(window->focusWidget(), window->Txt_Artist);
  add({"12a", " ", "x", "y"});
  add({"99999999999", " ", "x", "y"});
  EXPECT_EQ(window->focusWidget(), window->Txt_SongNumber);
  ASSERT_EQ(d.dialogs.messages.size(), 4u);
  EXPECT_EQ(d.dialogs.messages[0], "All fields must be filled!");
  EXPECT_NE(d.dialogs.messages[2].find("\"12a\" is not a whole number"), std::string::npos);
  EXPECT_EQ(window->Txt_Song->text(), "x");  // the boxes keep their texts
  // A folder split by a pattern: its first names shown as they split, each row in sight.
  const std::string tracks = d.dir.File("tracks");
  std::filesystem::create_directory(tracks);
  for (const char* name : {"ABBA - Waterloo.mp3", "Queen - Bohemian Rhapsody.mp3", "Sinead O'Connor - Nothing Compares 2 U.mp3"})
    std::ofstream(tracks + "/" + name) << "x";
  window->Txt_Folder->setText(QString::fromStdString(tracks));
  window->Chk_NamePattern->setChecked(true);
  window->Cmb_NamePattern->setCurrentText("Artist - Title");
  QApplication::processEvents();
  ASSERT_EQ(window->Preview->rowCount(), 3);
  EXPECT_TRUE(window->PreviewCaption->isVisible());
  EXPECT_LE(window->Preview->rowViewportPosition(2) + window->Preview->rowHeight(2), window->Preview->viewport()->height());
  Screenshot(*window, "add_records_preview");
  windows.Show(nullptr, d.list, d.host, d.dialogs);  // brought forward, not loaded again
  EXPECT_EQ(windows.window(), window);
  window->close();
  QApplication::processEvents();
  EXPECT_EQ(windows.window(), nullptr);
  EXPECT_EQ(SongRows(d.path, "Songs"), (std::vector<std::string>{"500||Low|SC03|Band|True", "2000||Other|SC02|Band|True"}));
  EXPECT_TRUE(PassesJetCheck(d.path));
}

}  // namespace
}  // namespace velloran_test
