// The popup menu on the desktop, built from the menu model each time it opens.
#pragma once

#include <QPoint>
#include <functional>
#include <string>

#include "app/menu_model.h"

class QMenu;
class QWidget;

namespace velloran {

// Fills `menu` with the children of `root` (submenus, separators, check marks, enabled states);
// choosing an item calls `chosen` with its control name.
void FillMenu(QMenu& menu, const MenuItem& root, const std::function<void(const std::string&)>& chosen);

// Shows the menu at `at` (screen coordinates) until an item is chosen or the menu is closed.
void ShowPopupMenu(QWidget* owner, const MenuItem& root, const QPoint& at,
                   const std::function<void(const std::string&)>& chosen);

}  // namespace velloran
