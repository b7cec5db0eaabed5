// The command menu as data: every item's control name, caption (with its "&" access key),
// separators, check marks and enabled states. The window's logic keeps the switches; the Qt
// popup mirrors this tree.
#pragma once

#include <string>
#include <vector>

#include "mainwindow/main_surface.h"

namespace velloran {

struct MenuItem {
  std::string name;     // the control name, "Mnu_Exit"
  std::string caption;  // "E&xit"; "-" for a separator
  bool checkable = false;
  bool checked = false;
  bool enabled = true;
  std::vector<MenuItem> children;  // a submenu when not empty

  bool separator() const { return caption == "-"; }
};

// The popup menu "Options Menu" with its whole tree, in the designed initial state.
MenuItem BuildMainMenu();
// The item of that name anywhere in the tree, or null.
MenuItem* FindMenuItem(MenuItem& root, const std::string& name);
// Check marks and enabled states from the window's switches.
void SyncMenu(MenuItem& root, const MenuSwitches& switches);

}  // namespace velloran
