// The main surface on a persistent image: drawing goes into a QImage kept at the screen's
// device pixel ratio, in twips converted at the logical DPI (1440 twips per inch); a paint only
// shows the image.
#pragma once

#include <QFont>
#include <QImage>

#include "mainwindow/main_surface.h"

class QWidget;

namespace velloran {

class QtSurface : public MainSurface {
 public:
  explicit QtSurface(QWidget& widget);

  // Makes the image fit the widget's size and pixel ratio; its drawing is lost on a change.
  void Fit();
  const QImage& image() const { return image_; }
  double TwipsPerPixel() const { return 1440.0 / dpi_; }
  double ToPixels(float twips) const { return twips * dpi_ / 1440.0; }
  float ToTwips(double pixels) const { return static_cast<float>(pixels * 1440.0 / dpi_); }

  void Clear() override;
  void FillRect(float x1, float y1, float x2, float y2, uint32_t rgb) override;
  void DrawText(float x, float y, const std::string& text) override;
  void DrawLine(float x1, float y1, float x2, float y2) override;
  void SetFont(const FontSpec& font) override;
  void SetTextColor(uint32_t rgb) override { color_ = rgb; }
  float TextWidth(const std::string& text) override;
  float TextHeight(const std::string& text) override;
  void Present() override;

 private:
  QWidget& widget_;
  QImage image_;
  double dpi_ = 96;
  QFont font_;
  uint32_t color_ = kBlack;
};

}  // namespace velloran
