// Frm_About: the product's name, version and version-information texts, the web-site link and
// "&OK". It closes on "&OK" and as soon as another window becomes active.
#pragma once

#include <QDialog>
#include <QLabel>

#include "app/about.h"
#include "platform/dialog_host.h"

namespace velloran {

class AboutWindow : public QDialog {
 public:
  AboutWindow(QWidget* owner, DialogHost& dialogs);
  QLabel& wwwLabel() { return *www_; }

 protected:
  void changeEvent(QEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void Lbl_WWW_Click();

  DialogHost& dialogs_;
  AboutTexts texts_ = MakeAboutTexts();
  QLabel* www_;
};

}  // namespace velloran
