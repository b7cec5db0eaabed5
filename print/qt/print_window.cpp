#include "print/qt/print_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPrinterInfo>
#include <QShortcut>
#include <QWheelEvent>

namespace velloran {

std::vector<std::string> QtBookPrinter::Printers() {
  std::vector<std::string> names;
  for (const QString& name : QPrinterInfo::availablePrinterNames()) names.push_back(name.toStdString());
  return names;
}

std::string QtBookPrinter::CurrentPrinter() { return printer_.printerName().toStdString(); }

QPageLayout QtBookPrinter::Layout() {
  return QPrinterInfo::availablePrinterNames().isEmpty() ? DefaultBookLayout() : printer_.pageLayout();
}

double QtBookPrinter::PageWidth() { return PrintableTwips(Layout()).width(); }
double QtBookPrinter::PageHeight() { return PrintableTwips(Layout()).height(); }

std::string QtBookPrinter::Print(const std::function<void(BookSurface&)>& draw) {
  QPainter painter;
  if (!painter.begin(&printer_))
    return "The printer " + CurrentPrinter() + " could not be started. Check that it is ready, or save the book as a PDF.";
  const QSizeF area = PrintableTwips(printer_.pageLayout());
  PainterBookSurface surface(painter, printer_.resolution(), area.width(), area.height(), [this] { printer_.newPage(); });
  draw(surface);
  painter.end();
  return std::string();
}

std::string QtBookPrinter::WritePdf(const std::string& path, const std::function<void(BookSurface&)>& draw) {
  return velloran::WritePdf(path, Layout(), "Song Book Listing", draw);
}

PrintWindow::PrintWindow(QPrinter& printer, DialogHost& dialogs, std::function<DatabaseEntry()> current_entry,
                         QWidget* parent)
    : QWidget(parent, Qt::Window), book_printer_(printer) {
  setWindowTitle("Karaoke Database Book Print");
  setAttribute(Qt::WA_DeleteOnClose, false);
  toolbar_ = new QWidget(this);
  auto* bar = new QHBoxLayout(toolbar_);
  font = new QPushButton("Font");
  print = new QPushButton("Print");
  pdf = new QPushButton("PDF");
  zoom = new QCheckBox("Zoom");
  song_list = new QRadioButton("Song List");
  artist_list = new QRadioButton("Artist List");
  song_list->setChecked(true);
  setup = new QPushButton("Setup");
  printers = new QComboBox;
  previous = new QPushButton("<");
  next = new QPushButton(">");
  page_label = new QLabel;
  for (QWidget* w : std::initializer_list<QWidget*>{font, print, pdf, zoom, song_list, artist_list, setup, printers,
                                                     previous, page_label, next})
    bar->addWidget(w);
  // The style gives every button the width of a dialog's "Cancel"; in a narrow window these may
  // shrink to their short captions.
  for (QPushButton* button : {font, print, pdf, setup, previous, next})
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 2 * button->fontMetrics().height());
  bar->addStretch();
  close_button = new QPushButton("&Close", this);
  // Outside the layout the button would take its natural size only when first shown, after the
  // first resize has placed it by its default size: too wide and too tall for the toolbar.
  close_button->resize(close_button->sizeHint());
  // The close button keeps to the right edge, beside the toolbar's own controls.
  bar->setContentsMargins(6, 6, close_button->sizeHint().width() + 20, 6);

  // The toolbar hides the part of the page scrolled up behind it.
  toolbar_->setAutoFillBackground(true);
  preview = new QWidget(this);
  preview->installEventFilter(this);
  preview->lower();
  vertical_scroll = new QScrollBar(Qt::Vertical, this);
  horizontal_scroll = new QScrollBar(Qt::Horizontal, this);
  for (QScrollBar* scroll : {vertical_scroll, horizontal_scroll}) {
    scroll->hide();
    scroll->setSingleStep(20);
    connect(scroll, &QScrollBar::valueChanged, this, [this] {
      preview->move(page_place_.topLeft() - QPoint(horizontal_scroll->value(), vertical_scroll->value()));
    });
  }
  // Page Up and Page Down scroll the page whichever control has the focus.
  connect(new QShortcut(Qt::Key_PageUp, this), &QShortcut::activated, this,
          [this] { vertical_scroll->triggerAction(QAbstractSlider::SliderPageStepSub); });
  connect(new QShortcut(Qt::Key_PageDown, this), &QShortcut::activated, this,
          [this] { vertical_scroll->triggerAction(QAbstractSlider::SliderPageStepAdd); });
  resize(1000, 760);

  logic_ = std::make_unique<Frm_Print>(*this, book_printer_, dialogs, std::move(current_entry),
                                       FontSpec{"Arial", 8, false, false, false});
  connect(font, &QPushButton::clicked, this, [this] { logic_->Cmd_Font_Click(); });
  connect(print, &QPushButton::clicked, this, [this] { logic_->Cmd_Print_Click(); });
  connect(pdf, &QPushButton::clicked, this, [this] { logic_->Cmd_Pdf_Click(); });
  connect(setup, &QPushButton::clicked, this, [this] { logic_->Cmd_Setup_Click(); });
  connect(zoom, &QCheckBox::clicked, this, [this](bool on) { logic_->Chk_Zoom_Click(on); });
  connect(song_list, &QRadioButton::clicked, this, [this] { logic_->Opt_Order_Click(0); });
  connect(artist_list, &QRadioButton::clicked, this, [this] { logic_->Opt_Order_Click(1); });
  // Another page is read from its top, wherever the last one was scrolled to.
  const auto turn_page = [this](void (Frm_Print::*turn)()) {
    (*logic_.*turn)();
    vertical_scroll->setValue(vertical_scroll->minimum());
  };
  connect(previous, &QPushButton::clicked, this, [turn_page] { turn_page(&Frm_Print::Cmd_PreviousPage_Click); });
  connect(next, &QPushButton::clicked, this, [turn_page] { turn_page(&Frm_Print::Cmd_NextPage_Click); });
  connect(close_button, &QPushButton::clicked, this, [this] { logic_->Cmd_Close_Click(); });
}

PrintWindow::~PrintWindow() { EndPreviewDrawing(); }

double PrintWindow::CloseButtonWidth() { return Twips(close_button->width()); }

void PrintWindow::PlaceCloseButton(double left) {
  close_button->move(Px(left), (toolbar_->height() - close_button->height()) / 2);
}

void PrintWindow::PlacePreview(double left, double top, double width, double height) {
  page_place_ = QRect(Px(left), Px(top), Px(width), Px(height));
  ScrollPreview();
}

void PrintWindow::ScrollPreview() {
  const QRect& page = page_place_;
  const int top = toolbar_->height(), bar_width = vertical_scroll->sizeHint().width(),
            bar_height = horizontal_scroll->sizeHint().height();
  // Either bar takes room from the other direction, so the second pass settles whether both show.
  int right = width(), bottom = height();
  for (int pass = 0; pass < 2; ++pass) {
    right = width() - (page.bottom() >= bottom || page.top() < top ? bar_width : 0);
    bottom = height() - (page.right() >= right || page.left() < 0 ? bar_height : 0);
  }
  // The logic's place is scroll position 0; a page centred partly behind the toolbar scrolls up.
  vertical_scroll->setRange(std::min(0, page.top() - top), std::max(0, page.bottom() + 1 - bottom));
  vertical_scroll->setPageStep(std::max(1, bottom - top - 20));
  vertical_scroll->setGeometry(right, top, bar_width, bottom - top);
  vertical_scroll->setVisible(right < width());
  horizontal_scroll->setRange(std::min(0, page.left()), std::max(0, page.right() + 1 - right));
  horizontal_scroll->setPageStep(std::max(1, right - 20));
  horizontal_scroll->setGeometry(0, bottom, right, bar_height);
  horizontal_scroll->setVisible(bottom < height());
  preview->setGeometry(page.translated(-horizontal_scroll->value(), -vertical_scroll->value()));
}

BookSurface& PrintWindow::ClearPreview(double width, double height) {
  EndPreviewDrawing();
  image_ = QImage(std::max(1, Px(width)), std::max(1, Px(height)), QImage::Format_RGB32);
  image_.setDotsPerMeterX(static_cast<int>(Dpi() / 0.0254));
  image_.setDotsPerMeterY(static_cast<int>(Dpi() / 0.0254));
  image_.fill(Qt::white);
  painter_ = std::make_unique<QPainter>(&image_);
  painter_->setRenderHint(QPainter::Antialiasing);
  painter_->setRenderHint(QPainter::TextAntialiasing);
  surface_ = std::make_unique<PainterBookSurface>(*painter_, Dpi(), width, height, nullptr);
  return *surface_;
}

void PrintWindow::EndPreviewDrawing() {
  surface_.reset();
  if (painter_) painter_->end();
  painter_.reset();
}

void PrintWindow::SetZoomBox(bool checked) { zoom->setChecked(checked); }

void PrintWindow::ShowPage(const std::string& text, bool has_previous, bool has_next) {
  EndPreviewDrawing();
  page_label->setText(QString::fromStdString(text));
  previous->setEnabled(has_previous);
  next->setEnabled(has_next);
  preview->update();
  KeepToolbarWhole();
}

void PrintWindow::SetPrinters(const std::vector<std::string>& names, const std::string& current) {
  printers->clear();
  for (const std::string& name : names) printers->addItem(QString::fromStdString(name));
  printers->setCurrentText(QString::fromStdString(current));
  KeepToolbarWhole();
}

// Placed by hand, the toolbar is in no layout that would keep the window wide enough for it, and
// a narrower window squashed its controls into each other; what it needs grows with the page
// label's and the printers' texts.
void PrintWindow::KeepToolbarWhole() { setMinimumWidth(toolbar_->minimumSizeHint().width()); }

void PrintWindow::resizeEvent(QResizeEvent*) {
  toolbar_->setGeometry(0, 0, width(), toolbar_->sizeHint().height());
  logic_->Form_Resize();
}

// The wheel anywhere in the window, the page included, scrolls the page.
void PrintWindow::wheelEvent(QWheelEvent* event) {
  QScrollBar* bar = event->angleDelta().y() != 0 && vertical_scroll->isVisible() ? vertical_scroll : horizontal_scroll;
  if (bar->isVisible()) QCoreApplication::sendEvent(bar, event);
}

bool PrintWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == preview && event->type() == QEvent::Paint) {
    QPainter p(preview);
    p.drawImage(0, 0, image_);
    return true;
  }
  if (watched == preview && event->type() == QEvent::Wheel) {
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
  }
  if (watched == preview && event->type() == QEvent::MouseButtonPress) {
    logic_->Pic_Preview_Click();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace velloran
