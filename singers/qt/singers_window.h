// The singers window on the desktop: List1, the two buttons, the 2000 ms timer and the popup
// menu, forwarding everything to Frm_Singers.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "singers/frm_singers.h"

namespace velloran {

class SingersWindow : public QWidget, public SingersView {
 public:
  SingersWindow(SingerList& singers, NextSingerDisplay& next, DialogHost& dialogs, WindowRect& placement,
                bool& singers_checked);

  Frm_Singers& logic() { return logic_; }
  QListWidget& list() { return *list_; }
  QPushButton& nextButton() { return *next_; }
  QPushButton& removeButton() { return *remove_; }
  QListWidget& requestList() { return *requests_; }
  QPushButton& acceptButton() { return *accept_; }
  QPushButton& declineButton() { return *decline_; }
  // Called once the window has closed (its placement is saved by then).
  std::function<void()> on_closed;

  // SingersView.
  WindowRect Placement() override;
  void SetPlacement(const WindowRect& rect) override;
  float InnerWidth() override { return Twips(width()); }
  float InnerHeight() override { return Twips(height()); }
  bool IsMinimised() override { return isMinimized(); }
  void SetListFont(const FontSpec& font) override;
  int LineCount() override { return list_->count(); }
  void SetLines(const std::vector<std::string>& lines) override;
  void RemoveLine(int k) override { delete list_->takeItem(k); }
  int SelectedLine() override { return list_->currentRow(); }
  void SelectLine(int k) override { list_->setCurrentRow(k); }
  void PlaceControls(const WindowRect& list, const WindowRect& next, const WindowRect& remove) override;
  void ShowFileMenu() override;
  void ShowRequests(bool shown) override;
  void SetRequestLines(const std::vector<std::string>& lines) override;
  int SelectedRequest() override { return requests_->currentRow(); }
  void PlaceRequestControls(const WindowRect& caption, const WindowRect& list, const WindowRect& accept,
                            const WindowRect& decline) override;
  void Close() override { close(); }

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  float Twips(double pixels) const;
  int Pixels(float twips) const;
  QRect PixelRect(const WindowRect& r) const;

  QListWidget* list_;
  QPushButton* next_;
  QPushButton* remove_;
  QLabel* caption_;
  QListWidget* requests_;
  QPushButton* accept_;
  QPushButton* decline_;
  QTimer timer_;
  Frm_Singers logic_;
};

}  // namespace velloran
