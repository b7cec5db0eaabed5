#include "app/qt/about_window.h"

#include <QEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace velloran {

AboutWindow::AboutWindow(QWidget* owner, DialogHost& dialogs) : QDialog(owner), dialogs_(dialogs) {
  setWindowTitle(QString::fromStdString(texts_.Caption));
  auto* layout = new QVBoxLayout(this);
  auto label = [&](const std::string& text, const char* name) {
    auto* l = new QLabel(QString::fromStdString(text), this);
    l->setObjectName(name);
    l->setWordWrap(true);
    layout->addWidget(l);
    return l;
  };
  QFont big = font();
  big.setPointSize(big.pointSize() * 2);
  big.setBold(true);
  label(texts_.Product, "Lbl_Product")->setFont(big);
  label(texts_.Version, "Lbl_Version");
  label(texts_.Legal, "Lbl_Legal");
  label(texts_.Trademarks, "Lbl_Trademarks");
  label(texts_.Company, "Lbl_Company");
  label(texts_.Comments, "Lbl_Comments");
  www_ = label(texts_.WWW, "Lbl_WWW");
  connect(www_, &QLabel::linkActivated, this, [this] { Lbl_WWW_Click(); });
  auto* ok = new QPushButton("&OK", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignRight);
}

void AboutWindow::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // The link is shown as a link only when there is an address to open.
  const QString www = QString::fromStdString(texts_.WWW);
  www_->setText(www.isEmpty() ? QString() : "<a href=\"" + www.toHtmlEscaped() + "\">" + www.toHtmlEscaped() + "</a>");
}

void AboutWindow::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isVisible() && !isActiveWindow()) reject();
}

void AboutWindow::Lbl_WWW_Click() {
  if (!texts_.WWW.empty()) dialogs_.ShellOpen(texts_.WWW);
}

}  // namespace velloran
