// The song book window's behaviour without widgets: the preview at half or full size, paged
// through the whole book, the order and font of the book, printing on the current printer and
// the whole book as a PDF file. The window draws the preview through a BookSurface and reaches
// the printer through BookPrinter; tests drive both with recordings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "catalogue/database_list.h"
#include "platform/dialog_host.h"
#include "print/book_layout.h"

namespace velloran {

// What the song book window's logic asks of its window. Sizes are twips.
class PrintWindowView {
 public:
  virtual ~PrintWindowView() = default;
  virtual double InnerWidth() = 0;
  virtual double InnerHeight() = 0;
  virtual double ToolbarHeight() = 0;
  virtual double CloseButtonWidth() = 0;
  virtual void PlaceCloseButton(double left) = 0;
  virtual void PlacePreview(double left, double top, double width, double height) = 0;
  // The preview's picture, emptied, to draw one page on: `width` x `height` twips.
  virtual BookSurface& ClearPreview(double width, double height) = 0;
  virtual void SetZoomBox(bool checked) = 0;
  // "Page 2 of 7", and whether the previous and next page buttons work.
  virtual void ShowPage(const std::string& text, bool has_previous, bool has_next) = 0;
  virtual void SetPrinters(const std::vector<std::string>& names, const std::string& current) = 0;
  virtual void Close() = 0;
};

// The printer and the PDF file the book goes to.
class BookPrinter {
 public:
  virtual ~BookPrinter() = default;
  // The installed printers' names, in the system's order, and the current one ("" for none).
  virtual std::vector<std::string> Printers() = 0;
  virtual std::string CurrentPrinter() = 0;
  // The current printer's printable area in twips (the default paper when there is none).
  virtual double PageWidth() = 0;
  virtual double PageHeight() = 0;
  // Draws the book on the current printer (`draw` gets its surface); "" or what went wrong.
  virtual std::string Print(const std::function<void(BookSurface&)>& draw) = 0;
  virtual std::string WritePdf(const std::string& path, const std::function<void(BookSurface&)>& draw) = 0;
};

class Frm_Print {
 public:
  Frm_Print(PrintWindowView& view, BookPrinter& printer, DialogHost& dialogs,
            std::function<DatabaseEntry()> current_entry, FontSpec window_font)
      : view_(view), printer_(printer), dialogs_(dialogs), entry_(std::move(current_entry)),
        window_font_(std::move(window_font)) {}

  void Form_Load();
  void Form_Resize();
  void Chk_Zoom_Click(bool checked);
  void Opt_Order_Click(int Index);
  void Pic_Preview_Click();
  void Cmd_Font_Click();
  void Cmd_Setup_Click();
  void Cmd_Print_Click();
  void Cmd_Pdf_Click();
  void Cmd_PreviousPage_Click();
  void Cmd_NextPage_Click();
  void Cmd_Close_Click() { view_.Close(); }

  // Draws the preview's page (true) or prints the whole book (false).
  void ReDraw(bool preview);

  FontSpec PrintFont;
  bool Zoom = false;
  BookOrder Order = BookOrder::kSong;
  int Page = 1;   // the page the preview shows
  int Pages = 1;  // the book's pages, as the last preview counted them

 private:
  BookOptions Options(double zoom) const;
  // The flagged songs, read afresh; false after telling the user what went wrong.
  bool ReadRows(std::vector<BookRow>& rows);

  PrintWindowView& view_;
  BookPrinter& printer_;
  DialogHost& dialogs_;
  std::function<DatabaseEntry()> entry_;
  FontSpec window_font_;
};

}  // namespace velloran
