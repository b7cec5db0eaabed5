// The dialog host on Qt's real dialogs, answered by a simulated user as each dialog opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
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
  WhenOpen([](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
  EXPECT_EQ(host.ShowFont(font, false, true, true), 0);
  EXPECT_EQ(font, (FontSpec{"Sans", 12, true, false, false}));  // cancelled: unchanged
}

}  // namespace
}  // namespace velloran
