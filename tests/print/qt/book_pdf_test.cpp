// The song book window on a real catalogue of 2,000 flagged songs: the preview shows a drawn page,
// centred, with "Close" in its place from the first show; a click on it zooms it to full size
// below the toolbar, where it scrolls to its foot; the pages turn and stay within a book that
// shrinks; the printed book and the PDF, in artist order, read back with pdftotext: every song
// in that order and each page's footer.
// VELLORAN_SCREENSHOTS=folder keeps a picture of the window there.
#include <QApplication>
#include <QTest>
#include <QWheelEvent>
#include <filesystem>
#include <sstream>

#include "app/demo_catalogue.h"
#include "catalogue/engine.h"
#include "print/book_rows.h"
#include "print/qt/print_window.h"
#include "platform/scripted_dialog_host.h"
#include "tests/jet/other_readers.h"
#include "tests/qt_test_support.h"

namespace velloran_test {
namespace {

using namespace velloran;

std::vector<std::string> PdfPages(const std::string& pdf) {
  int code = 0;
  const std::string text = RunPinned("pdftotext -layout " + ShellQuote(pdf) + " - 2>&1", &code);
  EXPECT_EQ(code, 0) << text;
  std::vector<std::string> pages;
  std::stringstream in(text);
  for (std::string page; std::getline(in, page, '\f');) pages.push_back(page);
  if (!pages.empty() && pages.back().find_first_not_of(" \r\n") == std::string::npos) pages.pop_back();
  return pages;
}

TEST(PrintWindow, ThePreviewZoomsAndPagesAndThePrintAndPdfReadBackPageByPage) {
  ScratchDir scratch;
  const DatabaseEntry entry{scratch.path() + "/songs.mdb", "Songs", "Artist", "Song", "SongNumber", "DiskID"};
  ASSERT_TRUE(BuildDemoCatalogue(entry.Database, 2100).ok());
  Connection::Open(entry.Database)->Execute("UPDATE [Songs] SET [PrintYN]=True WHERE [ID]<=2000");
  QPrinter printer(QPrinter::HighResolution);
  const std::string printed = scratch.path() + "/printed.pdf";
  printer.setOutputFileName(QString::fromStdString(printed));
  ScriptedDialogHost dialogs;
  PrintWindow window(printer, dialogs, [&] { return entry; });
  window.logic().Form_Load();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QImage& page = window.previewImage();
  int dark = 0;
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x) dark += qGray(page.pixel(x, y)) < 128;
  EXPECT_GT(dark, 500) << "the preview is blank";
  EXPECT_EQ(window.page_label->text().toStdString().rfind("Page 1 of ", 0), 0u);
  EXPECT_NEAR(window.preview->x() * 2 + window.preview->width(), window.width(), 2);  // centred
  EXPECT_NEAR(window.preview->y() * 2 + window.preview->height(), window.height(), 2);
  Screenshot(window, "print_window");
  // From the first show "Close" keeps to the right edge, on the line of the toolbar's buttons and
  // clear of the last of them.
  const QRect close_place = window.close_button->geometry();
  const QRect next_place(window.next->mapTo(&window, QPoint(0, 0)), window.next->size());
  EXPECT_FALSE(close_place.intersects(next_place));
  EXPECT_NEAR(close_place.center().y(), next_place.center().y(), 1);
  EXPECT_NEAR(close_place.right() + 1, window.width() - 150 * window.logicalDpiX() / 1440, 1);
  // Made as narrow as it goes, the window keeps every control whole and clear of "Close".
  const QSize size = window.size();
  window.resize(600, size.height());
  for (QWidget* control : window.next->parentWidget()->findChildren<QWidget*>()) {
    const int least = control->minimumWidth() > 0 ? control->minimumWidth() : control->minimumSizeHint().width();
    EXPECT_GE(control->width(), least) << control->metaObject()->className();
  }
  EXPECT_LT(window.next->mapTo(&window, QPoint(window.next->width(), 0)).x(), window.close_button->x());
  Screenshot(window, "print_window_narrow");
  window.resize(size);
  const int half_width = window.preview->width();
  const std::string half_pages = window.page_label->text().toStdString();
  QTest::mouseClick(window.preview, Qt::LeftButton);
  EXPECT_TRUE(window.zoom->isChecked());
  EXPECT_EQ(window.page_label->text().toStdString(), half_pages);  // the same book at either size
  EXPECT_NEAR(window.preview->width(), 2 * half_width, 2);
  EXPECT_NEAR(window.preview->y(), window.next->parentWidget()->height(), 1);  // taller than the window
  // ... so it scrolls: the wheel moves it up, Page Down brings its foot to the window's bottom
  // edge, Page Up takes it back, and the next page shows from its top.
  EXPECT_TRUE(window.vertical_scroll->isVisible());
  const int unscrolled = window.preview->y();
  QWheelEvent wheel(QPointF(50, 50), window.preview->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(window.preview, &wheel);
  EXPECT_LT(window.preview->y(), unscrolled);
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  for (int i = 0; i < 10; ++i) QTest::keyClick(window.zoom, Qt::Key_PageDown);
  EXPECT_EQ(window.preview->y() + window.preview->height(), window.height());
  Screenshot(window, "print_window_zoom_foot");
  for (int i = 0; i < 10; ++i) QTest::keyClick(window.zoom, Qt::Key_PageUp);
  EXPECT_EQ(window.preview->y(), unscrolled);
  QTest::keyClick(window.zoom, Qt::Key_PageDown);
  QTest::mouseClick(window.next, Qt::LeftButton);
  EXPECT_EQ(window.preview->y(), unscrolled);
  EXPECT_EQ(window.page_label->text().toStdString().rfind("Page 2 of ", 0), 0u);
  EXPECT_TRUE(window.previous->isEnabled());
  QTest::mouseClick(window.print, Qt::LeftButton);  // no printer, or its dialog cancelled: nothing printed
  EXPECT_FALSE(std::filesystem::exists(printed));
  dialogs.messages.clear();
  // Fewer flagged songs bring the preview back into the shorter book, and the pages stop at its end.
  Connection::Open(entry.Database)->Execute("UPDATE [Songs] SET [PrintYN]=False WHERE [ID]>10");
  QTest::mouseClick(window.zoom, Qt::LeftButton);
  window.logic().Cmd_NextPage_Click();
  EXPECT_EQ(window.page_label->text().toStdString(), "Page 1 of 1");
  EXPECT_FALSE(window.next->isEnabled());
  Connection::Open(entry.Database)->Execute("UPDATE [Songs] SET [PrintYN]=True WHERE [ID]<=2000");

  if (!Have("pdftotext")) GTEST_SKIP() << "pdftotext is not on PATH (Debian poppler-utils): the PDF is not read back";
  window.logic().Opt_Order_Click(1);
  const std::string pdf = scratch.path() + "/book.pdf";
  dialogs.save_answers = {pdf};
  window.logic().Cmd_Pdf_Click();
  ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0];
  const std::vector<BookRow> rows = ReadBookRows(entry, BookOrder::kArtist);
  ASSERT_EQ(rows.size(), 2000u);
  const std::vector<std::string> pages = PdfPages(pdf);
  ASSERT_GT(pages.size(), 10u);
  EXPECT_EQ(window.page_label->text().toStdString(), "Page 1 of " + std::to_string(pages.size()));  // as the preview counts
  const size_t headings = pages[0].find("Song Book Listing");
  ASSERT_NE(headings, std::string::npos);
  EXPECT_LT(pages[0].find("Artist", headings + 17), pages[0].find("Song", headings + 17));  // the artist's column first
  size_t next = 0;
  for (size_t p = 0; p < pages.size(); ++p) {
    const std::string& text = pages[p];
    const size_t first = next;
    // Each row's artist and then its number, as a word of its own, in the page's order (the small
    // disc ID may run into the first column and a reader may split that line).
    for (size_t at = 0; next < rows.size(); ++next) {
      const BookRow& r = rows[next];
      const size_t column = text.find(r.artist, at);
      size_t number = column;
      do number = text.find(r.number, number + 1);
      while (number != std::string::npos && (text[number - 1] != ' ' || isdigit(text[number + r.number.size()])));
      if (column == std::string::npos || number == std::string::npos) break;
      at = number + r.number.size();
    }
    EXPECT_GT(next, first) << "no rows on page " << p + 1;
    // The footer "- n -", on its own line; the reader drops its narrow spaces.
    std::string squeezed = text;
    std::erase(squeezed, ' ');
    EXPECT_NE(squeezed.find("\n-" + std::to_string(p + 1) + "-\n"), std::string::npos) << "page " << p + 1;
  }
  EXPECT_EQ(next, rows.size()) << "row " << next << " missing or out of order";
  // The printer, once the host confirms, is given the whole book.
  window.logic().ReDraw(false);
  EXPECT_EQ(PdfPages(printed).size(), pages.size());

}

}  // namespace
}  // namespace velloran_test
