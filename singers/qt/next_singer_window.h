// The next-singer display on the desktop, and the one program-wide instance the singers window
// drives: made when first shown, brought forward when shown again, gone when closed.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>

#include "mainwindow/qt/qt_surface.h"
#include "singers/frm_next_singer.h"
#include "singers/frm_singers.h"

namespace velloran {

class NextSingerWindow : public QWidget, public NextSingerView {
 public:
  NextSingerWindow(const SingerList& singers, DialogHost& dialogs, WindowRect& placement, FontSpec& font);

  Frm_NextSinger& logic() { return logic_; }
  QtSurface& surface() { return surface_; }
  std::function<void()> on_closed;
  void SetFullScreen(bool on);
  // Where phones send song requests, drawn with its QR code in the bottom right corner; an empty
  // address draws nothing.
  void SetRequestsAddress(const QString& address, const QImage& code);

  // NextSingerView. A placement off every screen (a screen since unplugged) lands on the main one.
  WindowRect Placement() override;
  void SetPlacement(const WindowRect& rect) override;
  float InnerWidth() override { return surface_.ToTwips(width()); }
  float InnerHeight() override { return surface_.ToTwips(height()); }
  void ShowPopupMenu() override;
  void Close() override { close(); }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  int Pixels(float twips) const { return static_cast<int>(surface_.ToPixels(twips) + 0.5); }

  QtSurface surface_;
  Frm_NextSinger logic_;
  QString requests_address_;
  QImage requests_code_;
};

class NextSingerHost : public NextSingerDisplay {
 public:
  NextSingerHost(const SingerList& singers, DialogHost& dialogs, WindowRect& placement, FontSpec& font)
      : singers_(singers), dialogs_(dialogs), placement_(placement), font_(font) {}
  ~NextSingerHost() override;

  NextSingerWindow* window() { return window_.get(); }

  void Show() override;
  void SetSinger(int16_t slot) override {
    if (window_) window_->logic().Singer = slot;
  }
  void ReDraw() override;
  void Close() override;
  // Shown on the display now and whenever it opens again.
  void SetRequestsAddress(const QString& address, const QImage& code);
  // Gone at once, without the window's closing step: the program is ending.
  void Drop() { window_.reset(); }

 private:
  const SingerList& singers_;
  DialogHost& dialogs_;
  WindowRect& placement_;
  FontSpec& font_;
  QString requests_address_;
  QImage requests_code_;
  std::unique_ptr<NextSingerWindow> window_;
};

}  // namespace velloran
