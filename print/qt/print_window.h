// The song book window on Qt: a toolbar of controls over the page preview. It only forwards
// events to Frm_Print and shows what it draws; QtBookPrinter reaches the printer through Qt's
// print support and writes PDF files.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QWidget>
#include <memory>

#include "print/frm_print.h"
#include "print/qt/painter_book_surface.h"

namespace velloran {

class QtBookPrinter : public BookPrinter {
 public:
  explicit QtBookPrinter(QPrinter& printer) : printer_(printer) {}
  std::vector<std::string> Printers() override;
  std::string CurrentPrinter() override;
  double PageWidth() override;
  double PageHeight() override;
  std::string Print(const std::function<void(BookSurface&)>& draw) override;
  std::string WritePdf(const std::string& path, const std::function<void(BookSurface&)>& draw) override;

 private:
  // The current printer's page, or the book's default page where no printer is installed.
  QPageLayout Layout();
  QPrinter& printer_;
};

class PrintWindow : public QWidget, public PrintWindowView {
 public:
  PrintWindow(QPrinter& printer, DialogHost& dialogs, std::function<DatabaseEntry()> current_entry,
              QWidget* parent = nullptr);
  ~PrintWindow() override;

  Frm_Print& logic() { return *logic_; }
  const QImage& previewImage() const { return image_; }

  double InnerWidth() override { return Twips(width()); }
  double InnerHeight() override { return Twips(height()); }
  double ToolbarHeight() override { return Twips(toolbar_->height()); }
  double CloseButtonWidth() override;
  void PlaceCloseButton(double left) override;
  void PlacePreview(double left, double top, double width, double height) override;
  BookSurface& ClearPreview(double width, double height) override;
  void SetZoomBox(bool checked) override;
  void ShowPage(const std::string& text, bool has_previous, bool has_next) override;
  void SetPrinters(const std::vector<std::string>& names, const std::string& current) override;
  void Close() override { close(); }

  QCheckBox* zoom;
  QRadioButton *song_list, *artist_list;
  QPushButton *font, *print, *pdf, *setup, *previous, *next, *close_button;
  QComboBox* printers;
  QLabel* page_label;
  QWidget* preview;
  // Shown while the page is larger than the room under the toolbar (as at full size).
  QScrollBar *vertical_scroll, *horizontal_scroll;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  double Dpi() const { return logicalDpiX(); }
  double Twips(double px) const { return px * 1440 / Dpi(); }
  int Px(double twips) const { return static_cast<int>(twips * Dpi() / 1440 + 0.5); }
  void EndPreviewDrawing();
  void KeepToolbarWhole();
  // Shows the scroll bars the page needs and puts it where they have scrolled it.
  void ScrollPreview();

  QRect page_place_;  // where the page stands unscrolled, in pixels

  QtBookPrinter book_printer_;
  QWidget* toolbar_;
  QImage image_;
  std::unique_ptr<QPainter> painter_;
  std::unique_ptr<PainterBookSurface> surface_;
  std::unique_ptr<Frm_Print> logic_;
};

}  // namespace velloran
