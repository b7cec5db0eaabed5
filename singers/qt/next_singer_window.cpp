#include "singers/qt/next_singer_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace velloran {

namespace {

MouseButton ButtonsOf(Qt::MouseButtons buttons) {
  if (buttons == Qt::LeftButton) return MouseButton::kLeft;
  if (buttons == Qt::RightButton) return MouseButton::kRight;
  return MouseButton::kNone;
}

}  // namespace

NextSingerWindow::NextSingerWindow(const SingerList& singers, DialogHost& dialogs, WindowRect& placement,
                                   FontSpec& font)
    : surface_(*this), logic_(singers, surface_, *this, dialogs, placement, font) {
  setWindowTitle("Next Singer");
  setMouseTracking(true);  // the drag origin follows the pointer while no button is held
  setFocusPolicy(Qt::StrongFocus);
  resize(Pixels(kNextSingerDesignWidth), Pixels(kNextSingerDesignHeight));
}

WindowRect NextSingerWindow::Placement() {
  return WindowRect{surface_.ToTwips(width()), surface_.ToTwips(height()), surface_.ToTwips(pos().y()),
                    surface_.ToTwips(pos().x())};
}

void NextSingerWindow::SetPlacement(const WindowRect& rect) {
  QRect at(Pixels(rect.Left), Pixels(rect.Top), std::clamp(Pixels(rect.Width), 80, 20000),
           std::clamp(Pixels(rect.Height), 60, 20000));
  if (QGuiApplication::screenAt(at.center()) == nullptr) {
    // The screen it was on is gone: the main screen, at its top left, keeping the size.
    const QRect main = QGuiApplication::primaryScreen()->availableGeometry();
    at.moveTopLeft(main.topLeft());
  }
  if (pos() != at.topLeft()) move(at.topLeft());
  if (size() != at.size()) resize(at.size());
}

void NextSingerWindow::ShowPopupMenu() {
  QMenu menu(this);
  menu.addAction("&Font", [this] { logic_.Mnu_Font_Click(); });
  // Full screen on the screen the window is on, with the text scaled to fill it.
  QAction* full = menu.addAction("F&ull Screen", [this] { SetFullScreen(!logic_.FullScreen); });
  full->setCheckable(true);
  full->setChecked(logic_.FullScreen);
  menu.exec(QCursor::pos());
}

void NextSingerWindow::SetFullScreen(bool on) {
  logic_.FullScreen = on;
  if (on) {
    showFullScreen();
  } else {
    showNormal();
  }
  logic_.ReDraw();  // shows what it drew
}

void NextSingerWindow::SetRequestsAddress(const QString& address, const QImage& code) {
  requests_address_ = address;
  requests_code_ = code;
  update();
}

void NextSingerWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(QPointF(0, 0), surface_.image());
  if (requests_address_.isEmpty()) return;
  // The code at a whole number of pixels a module (so phones read it), a third of the window's
  // smaller side, on its own white quiet zone; the address under it for those who type it.
  QFont font = p.font();
  font.setPixelSize(std::max(10, height() / 40));
  p.setFont(font);
  const int text_height = p.fontMetrics().height(), margin = 8;
  const int text_width = p.fontMetrics().horizontalAdvance(requests_address_);
  int side = 0;
  if (!requests_code_.isNull()) {
    const int scale = std::max(1, std::min(width(), height()) / 3 / requests_code_.width());
    side = requests_code_.width() * scale;
    p.drawImage(QRect(width() - side - margin, height() - side - text_height - margin, side, side), requests_code_);
  }
  const QRect text(width() - std::max(side, text_width) - margin, height() - text_height - margin / 2,
                   std::max(side, text_width), text_height);
  p.fillRect(text, Qt::white);
  p.setPen(Qt::black);
  p.drawText(text, Qt::AlignCenter, requests_address_);
}

void NextSingerWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  surface_.Fit();
  logic_.Form_Resize();
}

void NextSingerWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) logic_.Form_KeyPress(27);
}

void NextSingerWindow::mousePressEvent(QMouseEvent* e) {
  logic_.Form_MouseDown(ButtonsOf(e->button()));
  if (e->button() == Qt::LeftButton) logic_.Form_MouseMove(MouseButton::kNone, surface_.ToTwips(e->position().x()),
                                                           surface_.ToTwips(e->position().y()));
}

void NextSingerWindow::mouseMoveEvent(QMouseEvent* e) {
  logic_.Form_MouseMove(ButtonsOf(e->buttons()), surface_.ToTwips(e->position().x()),
                        surface_.ToTwips(e->position().y()));
}

void NextSingerWindow::closeEvent(QCloseEvent* e) {
  logic_.Form_Unload();
  QWidget::closeEvent(e);
  // The owner lets the window go once its own event is over.
  if (on_closed) QTimer::singleShot(0, on_closed);
}

NextSingerHost::~NextSingerHost() = default;

void NextSingerHost::Show() {
  if (window_ != nullptr && window_->isVisible()) {
    window_->raise();
    return;
  }
  window_ = std::make_unique<NextSingerWindow>(singers_, dialogs_, placement_, font_);
  window_->on_closed = [this] {
    if (window_ != nullptr && !window_->isVisible()) window_.reset();
  };
  window_->logic().Form_Load();
  window_->SetRequestsAddress(requests_address_, requests_code_);
  window_->show();
  window_->surface().Fit();
  window_->logic().ReDraw();
}

void NextSingerHost::ReDraw() {
  if (window_ != nullptr) window_->logic().ReDraw();
}

void NextSingerHost::SetRequestsAddress(const QString& address, const QImage& code) {
  requests_address_ = address;
  requests_code_ = code;
  if (window_ != nullptr) window_->SetRequestsAddress(address, code);
}

void NextSingerHost::Close() {
  if (window_ != nullptr && window_->isVisible()) window_->close();
}

}  // namespace velloran
