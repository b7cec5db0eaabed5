// The main window on the desktop: a widget that shows the logic's persistent image, holds the
// search box Txt_Search and the picture Image1, and forwards keys (as virtual-key codes), mouse
// events (in twips), the timer, resizes and activation to MainWindowLogic. It draws nothing of
// its own but the outline of a drag in progress.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "mainwindow/main_window_logic.h"
#include "mainwindow/qt/qt_surface.h"

namespace velloran {

class MainWindow : public QWidget, public MainWindowView {
 public:
  MainWindow();
  ~MainWindow() override;

  QtSurface& surface() { return *surface_; }
  QLineEdit& searchBox() { return *search_; }
  // The logic is made after the window (it draws on the window's surface); events reach it
  // from here on.
  void Attach(MainWindowLogic* logic);

  // What the program does on the popup request and at unload (saving the settings).
  std::function<void(const QPoint&)> on_popup;
  std::function<void()> on_unload;

  // MainWindowView.
  float InnerWidth() override;
  float InnerHeight() override;
  WindowRect Placement() override;
  void SetPlacement(const WindowRect& rect) override;
  bool IsMinimised() override { return isMinimized(); }
  void SetTopMost(bool on_top) override;
  void SetSearchBoxVisible(bool visible) override;
  void SetSearchText(const std::string& text) override;
  void FocusSearchBox() override;
  void SelectSearchText(int start, int length) override;
  void SetSearchBoxWidth(float width) override;
  float ImageHeight() override;
  void PlaceImage(float top) override;
  void SetPointer(Pointer pointer) override;
  void ShowPopupMenu() override;
  void BeginDrag(const DragSource& source, float left, float top, float width, float height) override;
  void EndProgram() override;

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  struct Drag {
    DragSource source;
    QRectF outline;  // pixels, where it started
    QPointF grab;    // the pointer when it started
    QPointF now;     // the pointer now
  };
  // A key for the logic first; true when the search box must not see it.
  bool ForwardKey(QKeyEvent* e);
  float Twips(double pixels) const { return surface_->ToTwips(pixels); }
  int Pixels(float twips) const { return static_cast<int>(surface_->ToPixels(twips) + 0.5); }
  void Unload();

  std::unique_ptr<QtSurface> surface_;
  QLineEdit* search_;
  QLabel* image_;
  QTimer timer_;
  MainWindowLogic* logic_ = nullptr;
  std::optional<Drag> drag_;
  QPointF pressed_at_;  // where the last button went down
  bool unloaded_ = false;
  bool ended_ = false;
};

// The picture at the bottom of the window: a small microphone, drawn here.
QPixmap MicrophonePicture(qreal device_pixel_ratio);

}  // namespace velloran
