// The dialog host on Qt's real dialogs, answered by a simulated user as each dialog opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "platform/qt/qt_dialog_host.h"

namespace velloran {
namespace {

// Runs `answer` on the modal dialog that the next call opens.
void WhenOpen(std::function<void(QWidget*)> answer) {
  QTimer::singleShot(0, [answer] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    answer(dialog);
  });
}

TEST(QtDialogHost, AnswersComeBackAsTheLayerPromises) {
  QtDialogHost host(nullptr);
  host.SetClipboardText("1250");
  EXPECT_EQ(QApplication::clipboard()->text(), "1250");
  host.ClearClipboard();
  EXPECT_EQ(QApplication::clipboard()->text(), "");

  WhenOpen([](QWidget* w) { static_cast<QMessageBox*>(w)->button(QMessageBox::No)->click(); });
  EXPECT_EQ(host.MessageBox("Replace the file?", BoxButtons::kYesNo, BoxIcon::kQuestion, ""), BoxAnswer::kNo);
  WhenOpen([](QWidget* w) { w->close(); });  // closed without a button: its cancelling answer
  EXPECT_EQ(host.MessageBox("Retry?", BoxButtons::kRetryCancel, BoxIcon::kWarning, "T"), BoxAnswer::kCancel);

  WhenOpen([](QWidget* w) {
    auto* input = static_cast<QInputDialog*>(w);
    EXPECT_EQ(input->labelText(), "Singer Name");
    input->setTextValue("Maria");
    input->accept();
  });
  EXPECT_EQ(host.Prompt("Singer Name", "", ""), "Maria");
  WhenOpen([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  EXPECT_EQ(host.Prompt("Singer Name", "", "typed"), "");

  FontSpec font{"Sans", 12, true, false, false};
  // Effects (underline, strike-out) are offered only to a caller that keeps them.
  const auto effects_offered = [](QWidget* w) {
    const QList<QCheckBox*> boxes = w->findChildren<QCheckBox*>();
    return !boxes.empty() && std::all_of(boxes.begin(), boxes.end(), [](QCheckBox* b) { return b->isVisible(); });
  };
  WhenOpen([&](QWidget* w) {
    EXPECT_FALSE(effects_offered(w));
    static_cast<QDialog*>(w)->reject();
  });
  EXPECT_EQ(host.ShowFont(font, false, true, true), 0);
  EXPECT_EQ(font, (FontSpec{"Sans", 12, true, false, false}));  // cancelled: unchanged
  WhenOpen([&](QWidget* w) {
    EXPECT_TRUE(effects_offered(w));
    static_cast<QDialog*>(w)->reject();
  });
  host.ShowFont(font, false, true, false);
}

// Whether the desktop has a program for a file, as xdg-mime answers (a stand-in on PATH): the
// desktop's opener would fail where nobody sees it, so the layer asks first.
TEST(QtDialogHost, AsksTheDesktopWhetherAProgramOpensAFile) {
  QTemporaryDir folder;
  const std::string catalogue = folder.filePath("songs.mdb").toStdString();
  QFile(QString::fromStdString(catalogue)).open(QIODevice::WriteOnly);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", folder.path().toLocal8Bit() + ":" + path);
  const auto xdg_mime_answers = [&](const char* program) {
    QFile script(folder.filePath("xdg-mime"));
    script.open(QIODevice::WriteOnly);
    script.write(QByteArray("#!/bin/sh\ncase \"$2 $3\" in\n  \"filetype ") + catalogue.c_str() +
                 "\") echo application/vnd.ms-access ;;\n  \"default application/vnd.ms-access\") echo " + program + " ;;\n  *) exit 2 ;;\nesac\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
  };
  xdg_mime_answers("");
  EXPECT_TRUE(DesktopHasNoProgramFor(catalogue));
  EXPECT_LE(QtDialogHost(nullptr).ShellOpen(catalogue), 32);
  EXPECT_FALSE(DesktopHasNoProgramFor(folder.path().toStdString()));  // a folder: the file manager's
  xdg_mime_answers("base.desktop");
  EXPECT_FALSE(DesktopHasNoProgramFor(catalogue));
  qputenv("PATH", path);
}

}  // namespace
}  // namespace velloran
