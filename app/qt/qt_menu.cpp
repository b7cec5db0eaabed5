#include "app/qt/qt_menu.h"

#include <QAction>
#include <QMenu>

namespace velloran {

void FillMenu(QMenu& menu, const MenuItem& root, const std::function<void(const std::string&)>& chosen) {
  for (const MenuItem& item : root.children) {
    if (item.separator()) {
      menu.addSeparator();
    } else if (!item.children.empty()) {
      QMenu* sub = menu.addMenu(QString::fromStdString(item.caption));
      sub->setObjectName(QString::fromStdString(item.name));
      sub->setEnabled(item.enabled);
      FillMenu(*sub, item, chosen);
    } else {
      QAction* action = menu.addAction(QString::fromStdString(item.caption));
      action->setObjectName(QString::fromStdString(item.name));
      action->setCheckable(item.checkable);
      action->setChecked(item.checked);
      action->setEnabled(item.enabled);
      const std::string name = item.name;
      QObject::connect(action, &QAction::triggered, &menu, [chosen, name] { chosen(name); });
    }
  }
}

void ShowPopupMenu(QWidget* owner, const MenuItem& root, const QPoint& at,
                   const std::function<void(const std::string&)>& chosen) {
  QMenu menu(owner);
  menu.setObjectName(QString::fromStdString(root.name));
  menu.setTitle(QString::fromStdString(root.caption));
  // The choice runs after the menu has closed, so a command may open dialogs of its own.
  std::string picked;
  FillMenu(menu, root, [&picked](const std::string& name) { picked = name; });
  menu.exec(at);
  if (!picked.empty()) chosen(picked);
}

}  // namespace velloran
