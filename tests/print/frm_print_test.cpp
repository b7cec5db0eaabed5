// The song book window's logic with a recorded window and printer: the preview placed by its zoom,
// paging within the book as the flags change, printing with and without a printer. (The order and
// the PDF are checked on the real window, whose PDF is read back.)
#include <gtest/gtest.h>

#include "app/demo_catalogue.h"
#include "catalogue/engine.h"
#include "platform/scripted_dialog_host.h"
#include "print/frm_print.h"
#include "tests/jet/test_support.h"
#include "tests/print/recording_book.h"

namespace velloran_test {
namespace {

using namespace velloran;

struct RecordedWindow : PrintWindowView, BookPrinter {
  RecordingBook preview;
  std::array<double, 4> placed{};
  bool zoom_box = false;
  std::string page_text;
  std::vector<std::string> printers{"Office"};
  int printed_pages = 0;

  double InnerWidth() override { return 9000; }
  double InnerHeight() override { return 9000; }
  double ToolbarHeight() override { return 500; }
  double CloseButtonWidth() override { return 1000; }
  void PlaceCloseButton(double) override {}
  void PlacePreview(double l, double t, double w, double h) override { placed = {l, t, w, h}; }
  BookSurface& ClearPreview(double w, double h) override {
    preview = RecordingBook{};
    preview.width = w, preview.height = h;
    return preview;
  }
  void SetZoomBox(bool on) override { zoom_box = on; }
  void ShowPage(const std::string& text, bool, bool) override { page_text = text; }
  void SetPrinters(const std::vector<std::string>&, const std::string&) override {}
  void Close() override {}

  std::vector<std::string> Printers() override { return printers; }
  std::string CurrentPrinter() override { return printers.empty() ? "" : printers[0]; }
  double PageWidth() override { return 11520; }
  double PageHeight() override { return 15120; }
  std::string Print(const std::function<void(BookSurface&)>& draw) override {
    RecordingBook s;
    draw(s);
    printed_pages = s.page;
    return "";
  }
  std::string WritePdf(const std::string&, const std::function<void(BookSurface&)>&) override { return ""; }
};

TEST(FrmPrint, PreviewZoomPagingAndPrinting) {
  ScratchDir scratch;
  const DatabaseEntry entry{scratch.path() + "/songs.mdb", "Songs", "Artist", "Song", "SongNumber", "DiskID"};
  ASSERT_TRUE(BuildDemoCatalogue(entry.Database, 300).ok());
  Connection::Open(entry.Database)->Execute("UPDATE [Songs] SET [PrintYN]=True WHERE [ID]<=200");
  RecordedWindow w;
  ScriptedDialogHost dialogs;
  Frm_Print form(w, w, dialogs, [&] { return entry; }, FontSpec{"Arial", 8, true, false, false});
  form.Form_Load();
  EXPECT_FALSE(form.PrintFont.Bold);
  // Half size: the page centred in the window; 200 rows make three pages.
  EXPECT_EQ(w.placed, (std::array<double, 4>{(9000 - 5760) / 2.0, (9000 - 7560) / 2.0, 5760, 7560}));
  EXPECT_EQ(w.page_text, "Page 1 of 3");
  form.Pic_Preview_Click();  // full size: taller than the window, so below the toolbar
  EXPECT_TRUE(w.zoom_box);
  EXPECT_EQ(w.placed, (std::array<double, 4>{0, 500, 11520, 15120}));
  form.Cmd_NextPage_Click();
  form.Cmd_NextPage_Click();
  form.Cmd_NextPage_Click();  // stays on the last page
  EXPECT_EQ(w.page_text, "Page 3 of 3");
  EXPECT_EQ(w.preview.texts.back().text, "- 3 -");
  // A cancelled print dialog prints nothing; a confirmed one prints the whole book.
  form.Cmd_Print_Click();
  EXPECT_EQ(w.printed_pages, 0);
  form.ReDraw(false);
  EXPECT_EQ(w.printed_pages, 3);
  // Fewer flags bring the preview back into the shorter book.
  Connection::Open(entry.Database)->Execute("UPDATE [Songs] SET [PrintYN]=False WHERE [ID]>10");
  form.Chk_Zoom_Click(false);
  EXPECT_EQ(w.page_text, "Page 1 of 1");
  // No printer: "Print" says so.
  w.printers.clear();
  form.Cmd_Print_Click();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("no printer"), std::string::npos);
}

}  // namespace
}  // namespace velloran_test
