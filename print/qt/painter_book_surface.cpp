#include "print/qt/painter_book_surface.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPdfWriter>

namespace velloran {

namespace {

QFont FontOf(const BookFont& font, double pixels) {
  QFont f(QString::fromStdString(font.name));
  f.setPixelSize(std::max(1, static_cast<int>(pixels + 0.5)));
  f.setBold(font.bold);
  f.setUnderline(font.underline);
  f.setItalic(font.italic);
  return f;
}

}  // namespace

void PainterBookSurface::SetFont(const BookFont& font) {
  // Drawn in the device's pixels, so that the font matches the twips of the layout whatever the
  // device's resolution. Measured at a pixel a twip: a font of a few screen pixels measures
  // coarsely, and the preview would break pages elsewhere than the printer, and its half size
  // elsewhere than its full size (25 pages against 23 and 24 printed, for 2,000 songs).
  p_.setFont(FontOf(font, Px(font.size * 20)));
  measured_ = QFontMetricsF(FontOf(font, font.size * 20));
}

double PainterBookSurface::TextWidth(const std::string& text) { return measured_.horizontalAdvance(QString::fromStdString(text)); }

double PainterBookSurface::Ascent() { return measured_.ascent(); }

double PainterBookSurface::LineHeight() { return measured_.lineSpacing(); }

void PainterBookSurface::DrawText(double x, double y, const std::string& text) {
  if (text.empty()) return;
  const QFontMetricsF m(p_.font(), p_.device());
  p_.drawText(QPointF(Px(x), Px(y) + m.ascent()), QString::fromStdString(text));
}

void PainterBookSurface::DrawLine(double x1, double y1, double x2, double y2) {
  p_.drawLine(QPointF(Px(x1), Px(y1)), QPointF(Px(x2), Px(y2)));
}

QPageLayout DefaultBookLayout() {
  return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 18, 18, 18), QPageLayout::Point);
}

QSizeF PrintableTwips(const QPageLayout& layout) { return layout.paintRect(QPageLayout::Inch).size() * 1440; }

std::string WritePdf(const std::string& path, const QPageLayout& layout, const std::string& title,
                     const std::function<void(BookSurface&)>& draw) {
  const QString temp = QString::fromStdString(path + ".part");
  const std::string cannot = "The PDF file " + path + " could not be written. Choose a folder you can write to and try again.";
  {
    QPdfWriter pdf(temp);
    pdf.setResolution(1200);
    pdf.setPageLayout(layout);
    pdf.setTitle(QString::fromStdString(title));
    pdf.setCreator("Velloran");
    QPainter painter;
    if (!painter.begin(&pdf)) return cannot;
    const QSizeF area = PrintableTwips(layout);
    PainterBookSurface surface(painter, pdf.resolution(), area.width(), area.height(), [&] { pdf.newPage(); });
    draw(surface);
    if (!painter.end()) {
      QFile::remove(temp);
      return cannot;
    }
  }
  QFile::remove(QString::fromStdString(path));
  if (!QFile::rename(temp, QString::fromStdString(path))) {
    QFile::remove(temp);
    return cannot;
  }
  return std::string();
}

}  // namespace velloran
