#include "mainwindow/qt/qt_surface.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>
#include <algorithm>

namespace velloran {

namespace {

QColor ColorOf(uint32_t rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

}  // namespace

QtSurface::QtSurface(QWidget& widget) : widget_(widget) { Fit(); }

void QtSurface::Fit() {
  dpi_ = widget_.logicalDpiY() > 0 ? widget_.logicalDpiY() : 96;
  const qreal ratio = widget_.devicePixelRatioF();
  const QSize size = widget_.size() * ratio;
  if (image_.size() == size && image_.devicePixelRatio() == ratio) return;
  image_ = QImage(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  image_.setDevicePixelRatio(ratio);
  // Fonts sized in points come out at the screen's logical DPI on the image too.
  const int dots_per_meter = static_cast<int>(dpi_ * ratio / 0.0254 + 0.5);
  image_.setDotsPerMeterX(dots_per_meter);
  image_.setDotsPerMeterY(dots_per_meter);
  image_.fill(ColorOf(kWindowBackground));
}

void QtSurface::Clear() {
  Fit();
  image_.fill(ColorOf(kWindowBackground));
}

void QtSurface::FillRect(float x1, float y1, float x2, float y2, uint32_t rgb) {
  QPainter p(&image_);
  p.fillRect(QRectF(QPointF(ToPixels(x1), ToPixels(y1)), QPointF(ToPixels(x2), ToPixels(y2))), ColorOf(rgb));
}

void QtSurface::DrawText(float x, float y, const std::string& text) {
  QPainter p(&image_);
  p.setFont(font_);
  p.setPen(ColorOf(color_));
  const QFontMetricsF metrics(font_, &image_);
  p.drawText(QPointF(ToPixels(x), ToPixels(y) + metrics.ascent()), QString::fromStdString(text));
}

void QtSurface::DrawLine(float x1, float y1, float x2, float y2) {
  QPainter p(&image_);
  p.setPen(QPen(ColorOf(color_), 0));
  p.drawLine(QPointF(ToPixels(x1), ToPixels(y1)), QPointF(ToPixels(x2), ToPixels(y2)));
}

void QtSurface::SetFont(const FontSpec& font) {
  QFont f = font.Name.empty() ? widget_.font() : QFont(QString::fromStdString(font.Name));
  // A settings file may hold any size; the window draws between 1 and 400 points.
  f.setPointSizeF(std::clamp(font.Size, 1, 400));
  f.setBold(font.Bold);
  f.setItalic(font.Italic);
  f.setUnderline(font.Underline);
  font_ = f;
}

float QtSurface::TextWidth(const std::string& text) {
  return ToTwips(QFontMetricsF(font_, &image_).horizontalAdvance(QString::fromStdString(text)));
}

float QtSurface::TextHeight(const std::string&) { return ToTwips(QFontMetricsF(font_, &image_).height()); }

void QtSurface::Present() { widget_.repaint(); }

}  // namespace velloran
