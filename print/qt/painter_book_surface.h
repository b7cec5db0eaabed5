// The song book on anything Qt paints on: a PDF file, a printer, the preview's picture. Twips
// become the device's own units by its resolution; texts stay text (a PDF's can be searched and
// copied).
#pragma once

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <functional>
#include <string>

#include "print/book_layout.h"

namespace velloran {

class PainterBookSurface : public BookSurface {
 public:
  // `painter` is active on `device`; `width` and `height` are the printable area in twips.
  // `new_page` turns the page (null where the device has one page only).
  PainterBookSurface(QPainter& painter, double dpi, double width, double height, std::function<void()> new_page)
      : p_(painter), dpi_(dpi), width_(width), height_(height), new_page_(std::move(new_page)) {}

  double Width() override { return width_; }
  double Height() override { return height_; }
  void SetFont(const BookFont& font) override;
  double TextWidth(const std::string& text) override;
  double LineHeight() override;
  double Ascent() override;
  void DrawText(double x, double y, const std::string& text) override;
  void DrawLine(double x1, double y1, double x2, double y2) override;
  void NewPage() override {
    if (new_page_) new_page_();
  }

 private:
  double Px(double twips) const { return twips * dpi_ / 1440; }

  QPainter& p_;
  QFontMetricsF measured_{QFont()};  // of the current font at 1440 pixels an inch: in twips
  const double dpi_, width_, height_;
  std::function<void()> new_page_;
};

// Writes a PDF file at `path` whose pages have `layout` (quarter-inch margins on A4 by default),
// `draw` drawing on it (each NewPage starts the next page). Written beside `path` and renamed, so
// a failure leaves no half-written file. "" or what went wrong and what to do.
QPageLayout DefaultBookLayout();
std::string WritePdf(const std::string& path, const QPageLayout& layout, const std::string& title,
                     const std::function<void(BookSurface&)>& draw);
// The printable area of `layout` in twips.
QSizeF PrintableTwips(const QPageLayout& layout);

}  // namespace velloran
