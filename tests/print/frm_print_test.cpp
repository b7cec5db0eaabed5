// "Print" in the song book window's logic, with a recorded window and printer: nothing is printed
// when the host cancels the print dialog, and without a printer the window says so. (The preview,
// the pages, the printed book and the PDF are checked on the real window.)
#include <gtest/gtest.h>

#include "platform/scripted_dialog_host.h"
#include "print/frm_print.h"
#include "tests/print/recording_book.h"

namespace velloran_test {
namespace {

using namespace velloran;

struct RecordedWindow : PrintWindowView, BookPrinter {
  RecordingBook preview;
  std::vector<std::string> printers{"Office"};
  bool printed = false;

  double InnerWidth() override { return 9000; }
  double InnerHeight() override { return 9000; }
  double ToolbarHeight() override { return 500; }
  double CloseButtonWidth() override { return 1000; }
  void PlaceCloseButton(double) override {}
  void PlacePreview(double, double, double, double) override {}
  BookSurface& ClearPreview(double, double) override { return preview = RecordingBook{}; }
  void SetZoomBox(bool) override {}
  void ShowPage(const std::string&, bool, bool) override {}
  void SetPrinters(const std::vector<std::string>&, const std::string&) override {}
  void Close() override {}

  std::vector<std::string> Printers() override { return printers; }
  std::string CurrentPrinter() override { return printers.empty() ? "" : printers[0]; }
  double PageWidth() override { return 11520; }
  double PageHeight() override { return 15120; }
  std::string Print(const std::function<void(BookSurface&)>&) override { return printed = true, ""; }
  std::string WritePdf(const std::string&, const std::function<void(BookSurface&)>&) override { return ""; }
};

TEST(FrmPrint, ACancelledPrintDialogPrintsNothingAndNoPrinterIsSaid) {
  RecordedWindow w;
  ScriptedDialogHost dialogs;
  Frm_Print form(w, w, dialogs, [] { return DatabaseEntry{}; }, FontSpec{"Arial", 8, false, false, false});
  form.Form_Load();
  form.Cmd_Print_Click();  // the scripted print dialog is cancelled
  EXPECT_FALSE(w.printed);
  EXPECT_TRUE(dialogs.messages.empty());
  w.printers.clear();
  form.Cmd_Print_Click();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(dialogs.messages[0].find("no printer"), std::string::npos);
}

}  // namespace
}  // namespace velloran_test
