#include "mainwindow/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "platform/qt/qt_keys.h"

namespace velloran {

namespace {

MouseButton ButtonOf(Qt::MouseButtons buttons) {
  if (buttons & Qt::LeftButton) return MouseButton::kLeft;
  if (buttons & Qt::RightButton) return MouseButton::kRight;
  return MouseButton::kNone;
}

int16_t ShiftOf(Qt::KeyboardModifiers mods) {
  int16_t shift = 0;
  if (mods & Qt::ShiftModifier) shift |= kShiftMask;
  if (mods & Qt::ControlModifier) shift |= kCtrlMask;
  if (mods & Qt::AltModifier) shift |= kAltMask;
  return shift;
}

constexpr float kControlLeft = 120;  // twips: where the search box and the picture sit

// The search box sees a key after the window's logic had it (through the window's event
// filter), so a key the box leaves alone must end here: passed on to the window it would be
// handled a second time, in whatever mode the first handling left the window (CTRL-3 that
// shows favourites list 3 would then take the first song out of it). Alt keys are the
// window's commands, never text, and a key that hid the box has done its work.
class SearchBox : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    const bool alt_only = (e->modifiers() & (Qt::AltModifier | Qt::ControlModifier)) == Qt::AltModifier;
    if (isVisible() && !alt_only) QLineEdit::keyPressEvent(e);
    e->accept();
  }
};

}  // namespace

QPixmap MicrophonePicture(qreal ratio) {
  const int size = 32;
  QPixmap picture(QSize(size, size) * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(QColor(200, 60, 60));
  p.drawRoundedRect(QRectF(11, 3, 10, 16), 5, 5);  // the head
  p.setBrush(Qt::NoBrush);
  QPainterPath cradle;
  cradle.moveTo(7, 13);
  cradle.cubicTo(7, 25, 25, 25, 25, 13);
  p.drawPath(cradle);
  p.drawLine(QPointF(16, 23), QPointF(16, 28));
  p.drawLine(QPointF(10, 29), QPointF(22, 29));
  return picture;
}

MainWindow::MainWindow() {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  surface_ = std::make_unique<QtSurface>(*this);
  search_ = new SearchBox(this);
  search_->setObjectName("Txt_Search");
  search_->installEventFilter(this);
  image_ = new QLabel(this);
  image_->setObjectName("Image1");
  image_->setPixmap(MicrophonePicture(devicePixelRatioF()));
  image_->resize(32, 32);
  image_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (logic_) logic_->Timer2_Timer();
    update();
  });
  connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (logic_) logic_->Txt_Search_Change(text.toStdString());
  });
  // The design's inner size, 7215 x 3570 twips.
  resize(Pixels(7215), Pixels(3570));
  search_->move(Pixels(kControlLeft), Pixels(kControlLeft));
}

MainWindow::~MainWindow() = default;

void MainWindow::Attach(MainWindowLogic* logic) {
  logic_ = logic;
  timer_.start();
}

float MainWindow::InnerWidth() { return Twips(width()); }
float MainWindow::InnerHeight() { return Twips(height()); }

WindowRect MainWindow::Placement() {
  return WindowRect{Twips(width()), Twips(height()), Twips(pos().y()), Twips(pos().x())};
}

void MainWindow::SetPlacement(const WindowRect& rect) {
  // A placement from a settings file of another screen must not put the window out of reach.
  const int w = std::clamp(Pixels(rect.Width), 120, 20000);
  const int h = std::clamp(Pixels(rect.Height), 80, 20000);
  const int x = std::clamp(Pixels(rect.Left), -20000, 20000);
  const int y = std::clamp(Pixels(rect.Top), -20000, 20000);
  if (pos() != QPoint(x, y)) move(x, y);
  if (size() != QSize(w, h)) resize(w, h);
}

void MainWindow::SetTopMost(bool on_top) {
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on_top) return;
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on_top);
  if (shown) show();
}

void MainWindow::SetSearchBoxVisible(bool visible) {
  search_->setVisible(visible);
  if (!visible) setFocus();
}

void MainWindow::SetSearchText(const std::string& text) {
  const QSignalBlocker quiet(search_);
  search_->setText(QString::fromStdString(text));
}

void MainWindow::FocusSearchBox() { search_->setFocus(); }

void MainWindow::SelectSearchText(int start, int length) {
  search_->setSelection(start, std::min(length, static_cast<int>(search_->text().size()) - start));
}

void MainWindow::SetSearchBoxWidth(float width) { search_->resize(std::max(Pixels(width), 40), search_->height()); }

float MainWindow::ImageHeight() { return Twips(image_->height()); }

void MainWindow::PlaceImage(float top) { image_->move(Pixels(kControlLeft), Pixels(top)); }

void MainWindow::SetPointer(Pointer pointer) {
  if (pointer == Pointer::kSizeWE) {
    setCursor(Qt::SizeHorCursor);
  } else {
    unsetCursor();
  }
}

void MainWindow::ShowPopupMenu() {
  if (on_popup) on_popup(QCursor::pos());
}

void MainWindow::BeginDrag(const DragSource& source, float left, float top, float width, float height) {
  const QPointF at = pressed_at_;
  const QRectF outline(surface_->ToPixels(left), surface_->ToPixels(top), surface_->ToPixels(width),
                       surface_->ToPixels(height));
  drag_ = Drag{source, outline, at, at};
  update();
}

void MainWindow::EndProgram() {
  ended_ = true;
  Unload();
  close();
  QCoreApplication::quit();
}

void MainWindow::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  timer_.stop();
  if (on_unload) on_unload();
}

bool MainWindow::event(QEvent* e) {
  // TAB is a command of the window, never a focus move.
  if (e->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      ForwardKey(key);
      return true;
    }
  }
  if (e->type() == QEvent::WindowActivate && logic_ != nullptr) {
    logic_->Form_Activate();
    update();
  }
  return QWidget::event(e);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == search_ && logic_ != nullptr) {
    if (e->type() == QEvent::KeyPress) {
      if (ForwardKey(static_cast<QKeyEvent*>(e))) return true;
    } else if (e->type() == QEvent::FocusIn) {
      logic_->Txt_Search_GotFocus();
    }
  }
  return QWidget::eventFilter(watched, e);
}

bool MainWindow::ForwardKey(QKeyEvent* e) {
  if (logic_ == nullptr || ended_) return false;
  const KeyStroke k = TranslateKey(*e);
  if (k.code == 0) return false;
  logic_->Form_KeyDown(k.code, k.shift);
  update();
  if (ended_) return true;
  if (k.code == vk::kTab) return true;
  int16_t ascii = k.code == vk::kEscape ? 27 : (k.code == vk::kReturn ? 13 : 0);
  if (ascii == 0) return false;
  logic_->Form_KeyPress(ascii);
  update();
  return true;  // Esc and Enter are the window's
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
  // Only keys pressed on the window itself come here: the search box keeps the keys it gets.
  if (!ForwardKey(e)) QWidget::keyPressEvent(e);
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(QPointF(0, 0), surface_->image());
  if (!drag_) return;
  // The outline of what is dragged follows the pointer.
  p.setPen(QPen(Qt::black, 1, Qt::DashLine));
  p.setBrush(Qt::NoBrush);
  const QPointF moved = drag_->now - drag_->grab;
  if (drag_->source.kind == DragSource::kEdge) {
    const qreal x = drag_->outline.left() + moved.x();
    p.drawLine(QPointF(x, 0), QPointF(x, drag_->outline.height()));
  } else {
    p.drawRect(drag_->outline.translated(moved));
  }
}

void MainWindow::resizeEvent(QResizeEvent*) {
  surface_->Fit();
  if (logic_ != nullptr) logic_->Form_Resize();
  update();
}

void MainWindow::mousePressEvent(QMouseEvent* e) {
  if (logic_ == nullptr) return;
  pressed_at_ = e->position();
  logic_->Form_MouseDown(ButtonOf(e->button()), ShiftOf(e->modifiers()), Twips(e->position().x()),
                         Twips(e->position().y()));
  update();
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
  if (logic_ == nullptr) return;
  if (drag_) {
    drag_->now = e->position();
    update();
    return;
  }
  logic_->Form_MouseMove(ButtonOf(e->buttons()), ShiftOf(e->modifiers()), Twips(e->position().x()),
                         Twips(e->position().y()));
  update();
}

void MainWindow::mouseReleaseEvent(QMouseEvent* e) {
  if (!drag_ || logic_ == nullptr) return;
  const DragSource source = drag_->source;
  drag_.reset();
  // A release over the search box or the picture drops nothing.
  const QPoint at = e->position().toPoint();
  const bool on_control = (search_->isVisible() && search_->geometry().contains(at)) || image_->geometry().contains(at);
  if (!on_control) logic_->Form_DragDrop(source, Twips(e->position().x()), Twips(e->position().y()));
  update();
}

void MainWindow::closeEvent(QCloseEvent* e) {
  Unload();
  e->accept();
}

}  // namespace velloran
