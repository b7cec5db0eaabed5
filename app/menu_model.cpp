#include "app/menu_model.h"

namespace velloran {

namespace {

MenuItem Item(const char* name, const char* caption) { return MenuItem{name, caption, false, false, true, {}}; }
MenuItem Check(const char* name, const char* caption, bool checked) {
  return MenuItem{name, caption, true, checked, true, {}};
}
MenuItem Sub(const char* name, const char* caption, std::vector<MenuItem> children) {
  return MenuItem{name, caption, false, false, true, std::move(children)};
}

}  // namespace

MenuItem BuildMainMenu() {
  MenuItem select = Item("Mnu_Database_Select", "&Select Table/Fields");
  select.enabled = false;  // until a database passes its check
  return Sub("Mnu_Options", "Options Menu",
             {Sub("mnu_Database", "&Database",
                  {Item("Mnu_Create_Database", "&New database"), Item("Mnu_Database_Open", "&Open database"),
                   Item("Mnu_Database_Close", "&Close database"), Item("Mnu_Database_Sep1", "-"),
                   Item("Mnu_Database_Modify", "&Modify database (Requires MS Access)"), Item("Mnu_Database_Sep2", "-"),
                   select, Item("Mnu_Database_Sep3", "-"), Item("Mnu_Database_AddRecords", "&Add Records")}),
              Sub("Mnu_Favourites", "Fa&vourties",
                  {Item("Mnu_Favourites_Import", "&Import"), Item("Mnu_Favourites_Export", "&Export"),
                   Item("Mnu_Favourites_Clear", "&Clear")}),
              Sub("Mnu_Print", "&Print Book",
                  {Item("Mnu_Print_Print", "&Print Book"), Item("Mnu_Print_Sep1", "-"),
                   Item("Mnu_Print_Clear", "&Clear print flags"), Check("Mnu_Print_ShowFlags", "&Show print flags", false)}),
              Check("Mnu_Singers", "&Singers", false),
              Sub("Mnu_Requests", "Song &Requests",
                  {Check("Mnu_Requests_On", "&Take Requests", false),
                   Check("Mnu_Requests_AtOnce", "Straight into the &Queue", false), Item("Mnu_Requests_Sep1", "-"),
                   Item("Mnu_Requests_Port", "&Port..."), Item("Mnu_Requests_Code", "Venue &Code...")}),
              Item("Mnu_Sep1", "-"),
              Sub("Mnu_SubOptions", "&Options",
                  {Sub("Mnu_Options_List", "&List",
                       {Item("Mnu_Options_ListFont", "&List Font"), Item("Mnu_Options_Results", "Number of &Results"),
                        Item("Mnu_List_Sep1", "-"), Check("Mnu_AllowColumnResize", "Allow &Column Resizing", true),
                        Item("Mnu_Options_Display_ResetCols", "Reset Column &Widths")}),
                   Sub("Mnu_Options_Title", "&Title",
                       {Item("Mnu_Options_TitleText", "&Title Text"), Item("Mnu_Options_TitleFont", "&Title Font"),
                        Check("Mnu_Options_ScreenSaver", "&Screen Saver", true)}),
                   Check("Mnu_AllowWindowResize", "&Allow Window Resizing", true), Check("Mnu_OnTop", "&Always on top", false)}),
              Item("Mnu_About", "About"),
              Item("Mnu_Sep2", "-"),
              Item("Mnu_Exit", "E&xit")});
}

MenuItem* FindMenuItem(MenuItem& root, const std::string& name) {
  if (root.name == name) return &root;
  for (MenuItem& child : root.children)
    if (MenuItem* found = FindMenuItem(child, name)) return found;
  return nullptr;
}

void SyncMenu(MenuItem& root, const MenuSwitches& s) {
  const struct {
    const char* name;
    bool value;
  } checks[] = {{"Mnu_Print_ShowFlags", s.ShowPrintFlags},  {"Mnu_Singers", s.Singers},
                {"Mnu_AllowColumnResize", s.AllowColumnResize}, {"Mnu_Options_ScreenSaver", s.ScreenSaver},
                {"Mnu_AllowWindowResize", s.AllowWindowResize}, {"Mnu_OnTop", s.OnTop}};
  for (const auto& c : checks) FindMenuItem(root, c.name)->checked = c.value;
  FindMenuItem(root, "Mnu_Database_Select")->enabled = s.SelectTableEnabled;
}

}  // namespace velloran
