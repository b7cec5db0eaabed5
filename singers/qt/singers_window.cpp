#include "singers/qt/singers_window.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>

namespace velloran {

SingersWindow::SingersWindow(SingerList& singers, NextSingerDisplay& next, DialogHost& dialogs,
                             WindowRect& placement, bool& singers_checked)
    : list_(new QListWidget(this)),
      next_(new QPushButton("&Next Singer", this)),
      remove_(new QPushButton("&Remove", this)),
      caption_(new QLabel("Re&quests", this)),
      requests_(new QListWidget(this)),
      accept_(new QPushButton("&Accept", this)),
      decline_(new QPushButton("&Decline", this)),
      logic_(singers, *this, next, dialogs, placement, singers_checked) {
  setWindowTitle("Singers");
  resize(Pixels(kSingersDesignWidth), Pixels(kSingersDesignHeight));
  list_->viewport()->installEventFilter(this);
  connect(next_, &QPushButton::clicked, this, [this] { logic_.Cmd_Next_Click(); });
  connect(remove_, &QPushButton::clicked, this, [this] { logic_.Cmd_Remove_Click(); });
  caption_->setBuddy(requests_);
  requests_->setAccessibleName("Requests");
  connect(accept_, &QPushButton::clicked, this, [this] { logic_.Cmd_Accept_Click(); });
  connect(decline_, &QPushButton::clicked, this, [this] { logic_.Cmd_Decline_Click(); });
  ShowRequests(false);
  timer_.setInterval(2000);
  connect(&timer_, &QTimer::timeout, this, [this] { logic_.Timer1_Timer(); });
  timer_.start();
}

float SingersWindow::Twips(double pixels) const { return static_cast<float>(pixels * 1440.0 / logicalDpiX()); }
int SingersWindow::Pixels(float twips) const { return static_cast<int>(twips * logicalDpiX() / 1440.0 + 0.5); }

WindowRect SingersWindow::Placement() {
  return WindowRect{Twips(width()), Twips(height()), Twips(pos().y()), Twips(pos().x())};
}

void SingersWindow::SetPlacement(const WindowRect& rect) {
  // A settings file from another screen must not put the window out of reach.
  move(std::clamp(Pixels(rect.Left), -20000, 20000), std::clamp(Pixels(rect.Top), -20000, 20000));
  resize(std::clamp(Pixels(rect.Width), 80, 20000), std::clamp(Pixels(rect.Height), 80, 20000));
}

void SingersWindow::SetListFont(const FontSpec& chosen) {
  QFont f = list_->font();
  if (!chosen.Name.empty()) f.setFamily(QString::fromStdString(chosen.Name));
  if (chosen.Size > 0) f.setPointSize(std::min(chosen.Size, 400));
  f.setBold(chosen.Bold);
  f.setItalic(chosen.Italic);
  list_->setFont(f);
}

void SingersWindow::SetLines(const std::vector<std::string>& lines) {
  list_->clear();
  for (const std::string& line : lines) list_->addItem(QString::fromStdString(line));
}

QRect SingersWindow::PixelRect(const WindowRect& r) const {
  return QRect(Pixels(r.Left), Pixels(r.Top), std::max(Pixels(r.Width), 1), std::max(Pixels(r.Height), 1));
}

void SingersWindow::PlaceControls(const WindowRect& list, const WindowRect& next, const WindowRect& remove) {
  list_->setGeometry(PixelRect(list));
  next_->setGeometry(PixelRect(next));
  remove_->setGeometry(PixelRect(remove));
}

void SingersWindow::ShowRequests(bool shown) {
  for (QWidget* w : std::initializer_list<QWidget*>{caption_, requests_, accept_, decline_}) w->setVisible(shown);
}

void SingersWindow::SetRequestLines(const std::vector<std::string>& lines) {
  const int kept = requests_->currentRow();
  requests_->clear();
  // Plain items: a name from a phone is shown as the text it is, never as markup.
  for (const std::string& line : lines) requests_->addItem(QString::fromStdString(line));
  if (requests_->count() > 0) requests_->setCurrentRow(std::clamp(kept, 0, requests_->count() - 1));
}

void SingersWindow::PlaceRequestControls(const WindowRect& caption, const WindowRect& list, const WindowRect& accept,
                                         const WindowRect& decline) {
  caption_->setGeometry(PixelRect(caption));
  requests_->setGeometry(PixelRect(list));
  accept_->setGeometry(PixelRect(accept));
  decline_->setGeometry(PixelRect(decline));
}

void SingersWindow::ShowFileMenu() {
  QMenu menu(this);
  menu.addAction("&Load", [this] { logic_.Mnu_File_Load_Click(); });
  menu.addAction("&Save", [this] { logic_.Mnu_File_Save_Click(); });
  menu.addSeparator();
  menu.addAction("&Hide", [this] { logic_.Mnu_File_Hide_Click(); });
  menu.exec(QCursor::pos());
}

void SingersWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  logic_.Form_Resize();
}

void SingersWindow::closeEvent(QCloseEvent* e) {
  timer_.stop();
  logic_.Form_Unload();
  QWidget::closeEvent(e);
  if (on_closed) on_closed();
}

bool SingersWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == list_->viewport() && e->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(e)->button() == Qt::RightButton) {
    logic_.List1_MouseDown(MouseButton::kRight);
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

}  // namespace velloran
