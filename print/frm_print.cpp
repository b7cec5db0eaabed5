#include "print/frm_print.h"

#include "catalogue/engine.h"
#include "print/book_rows.h"

namespace velloran {

namespace {

// Without a printer neither the print dialog nor the page setup dialog has anything to work on,
// so the host is told why and pointed to the PDF instead; `what_fails` ends the first sentence.
bool HavePrinter(BookPrinter& printer, DialogHost& dialogs, const std::string& what_fails) {
  if (!printer.Printers().empty()) return true;
  dialogs.MessageBox("There is no printer installed on this computer, so " + what_fails +
                         ". Install a printer, or use \"PDF\" to save the book as a file to print elsewhere.",
                     BoxButtons::kOk, BoxIcon::kInformation, "");
  return false;
}

}  // namespace

BookOptions Frm_Print::Options(double zoom) const {
  BookOptions o;
  o.font = PrintFont;
  o.order = Order;
  o.zoom = zoom;
  return o;
}

bool Frm_Print::ReadRows(std::vector<BookRow>& rows) {
  const DatabaseEntry entry = entry_();
  if (entry.Database.empty()) return true;  // no database: an empty book
  try {
    rows = ReadBookRows(entry, Order);
    return true;
  } catch (const EngineError& e) {
    dialogs_.MessageBox(std::string("The song book could not be read: ") + e.what(), BoxButtons::kOk,
                        BoxIcon::kWarning, "");
    return false;
  }
}

void Frm_Print::Form_Load() {
  PrintFont = window_font_;
  PrintFont.Bold = PrintFont.Underline = PrintFont.Italic = false;
  view_.SetPrinters(printer_.Printers(), printer_.CurrentPrinter());
  Form_Resize();
}

void Frm_Print::Form_Resize() {
  view_.PlaceCloseButton(view_.InnerWidth() - view_.CloseButtonWidth() - 150);
  ReDraw(true);
}

void Frm_Print::Chk_Zoom_Click(bool checked) {
  Zoom = checked;
  ReDraw(true);
}

void Frm_Print::Opt_Order_Click(int Index) {
  Order = Index == 0 ? BookOrder::kSong : BookOrder::kArtist;
  ReDraw(true);
}

void Frm_Print::Pic_Preview_Click() {
  view_.SetZoomBox(!Zoom);
  Chk_Zoom_Click(!Zoom);
}

void Frm_Print::Cmd_Font_Click() {
  dialogs_.ShowFont(PrintFont, false, false, false);
  ReDraw(true);
}

void Frm_Print::Cmd_Setup_Click() {
  if (HavePrinter(printer_, dialogs_, "the page cannot be set up")) dialogs_.ShowPageSetup();
}

void Frm_Print::Cmd_Print_Click() {
  if (HavePrinter(printer_, dialogs_, "the book cannot be printed") && dialogs_.ShowPrinter(0)) ReDraw(false);
}

void Frm_Print::Cmd_Pdf_Click() {
  const std::string path = dialogs_.ShowSave("Song Book.pdf", "PDF files|*.pdf", "pdf", "", "Save the song book as PDF");
  if (path.empty()) return;
  std::vector<BookRow> rows;
  if (!ReadRows(rows)) return;
  const std::string error = printer_.WritePdf(path, [&](BookSurface& s) { DrawBook(s, rows, Options(1)); });
  if (!error.empty()) dialogs_.MessageBox(error, BoxButtons::kOk, BoxIcon::kWarning, "");
}

void Frm_Print::Cmd_PreviousPage_Click() {
  if (Page > 1) --Page;
  ReDraw(true);
}

void Frm_Print::Cmd_NextPage_Click() {
  if (Page < Pages) ++Page;
  ReDraw(true);
}

void Frm_Print::ReDraw(bool preview) {
  std::vector<BookRow> rows;
  if (!ReadRows(rows)) return;
  if (!preview) {
    const std::string error = printer_.Print([&](BookSurface& s) { DrawBook(s, rows, Options(1)); });
    if (!error.empty()) dialogs_.MessageBox(error, BoxButtons::kOk, BoxIcon::kWarning, "");
    return;
  }
  const double z = Zoom ? 1 : 0.5;
  const double width = printer_.PageWidth() * z, height = printer_.PageHeight() * z;
  const double inner_w = view_.InnerWidth(), inner_h = view_.InnerHeight();
  view_.PlacePreview(width <= inner_w ? (inner_w - width) / 2 : 0,
                     height <= inner_h ? (inner_h - height) / 2 : view_.ToolbarHeight(), width, height);
  BookSurface& surface = view_.ClearPreview(width, height);
  Pages = DrawBookPage(surface, rows, Options(z), Page);
  // Fewer flagged songs than before may leave the page shown beyond the end.
  if (Page > Pages) {
    Page = Pages;
    DrawBookPage(view_.ClearPreview(width, height), rows, Options(z), Page);
  }
  view_.ShowPage("Page " + std::to_string(Page) + " of " + std::to_string(Pages), Page > 1, Page < Pages);
}

}  // namespace velloran
