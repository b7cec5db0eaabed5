// The settings file: every value the program keeps from one run to the next, as text in and text
// out. Reading never touches a window: the placement lines are handed back in the order they
// came, for the window to apply as it reads them.
//
// The file has INI-like sections, but only "key=value" lines count; keys match in any letter
// case and a later line wins. Files are written as UTF-8 with CR LF line ends, whole, to a
// temporary name renamed over the old file; they are read with either line end, and a file that
// is not valid UTF-8 is read as Windows-1252 (a file from the Windows world).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/database_list.h"
#include "jet/base/status.h"
#include "mainwindow/display_settings.h"
#include "mainwindow/main_surface.h"
#include "platform/font_spec.h"

namespace velloran {

using Placement = WindowRect;

// One line of the "[Window]" group whose order matters: the placement is applied as it is read,
// and the window-resizing switch decides whether a size change sticks.
struct WindowLine {
  enum Kind { kTop, kLeft, kWidth, kHeight, kAllowWindowResizing } kind;
  float value;
  bool operator==(const WindowLine&) const = default;
};

struct Settings {
  DatabaseList Databases;
  std::vector<DisplaySettings> Display{DisplaySettings{}};  // record 0 always exists
  // The check marks kept as settings.
  bool ScreenSaver = true;
  bool AllowWindowResizing = true;
  bool AllowColumnResizing = true;
  bool AlwaysOnTop = false;  // written, not read back: every run starts not on top
  Placement Window;          // the main window, as the writer reads it from the window
  std::vector<WindowLine> WindowLines;  // as read, in file order
  std::string TitleText;
  Placement SingerWindow;
  Placement NextSingerWindow;
  FontSpec NextSingerFont;  // name, size, bold, italic
  // Song requests from phones: whether the server runs, its port, the four-digit venue code the
  // page asks for (empty: none), and whether requests join the queue without the host.
  bool RequestsEnabled = false;
  int32_t RequestsPort = 8090;
  std::string RequestsCode;
  bool RequestsJoinAtOnce = false;
};

// What LoadDefaults starts from: the window's design font (list and title font) and edges.
Settings DefaultSettings(const FontSpec& window_font);

// Reads a whole settings file over `settings` (which holds the defaults), then clamps CurrentDB.
// Display keys before the first "List Font Name=" line, "Column Width=" indexes outside 0..4 and
// numbers that are not finite are ignored; a negative CurrentDB counts as too large.
void ParseSettings(std::string_view text, Settings& settings);
// The whole file, as SaveSettings writes it.
std::string FormatSettings(const Settings& settings);

// Cuts the first token off `text`: trims blanks from both ends, then for each separator
// character in turn takes the part before its first occurrence (or all of the text when it is
// missing) and keeps the rest in `text`. Returns the last part taken.
std::string NextToken(std::string& text, const std::string& separators = " ");

// The settings file's path: `folder` without trailing blanks and separators, "/", the
// executable's base name, ".ini". A "\" ending the folder counts as a separator.
std::string IniPath(const std::string& folder, const std::string& executable_base_name);

// The folder of the settings file and the favourites backup: `forced` when given, else the
// executable's folder where it can be written, else the user's configuration folder (an
// installed program's folder is not the user's to write).
std::string SettingsFolder(const std::string& executable_folder, const std::string& config_folder,
                           const std::string& forced);

// "2.00.0014": major, minor as at least two digits, revision as at least four; without a
// revision the text ends after the minor number.
std::string FormatVersion(int major, int minor, int revision = -1);
constexpr int kVersionMajor = 2, kVersionMinor = 0, kVersionRevision = 14;
std::string AppVersionText();

// A number as the file writes single-precision values: the shortest plain decimal form that
// reads back as the same single (whole numbers without a point).
std::string SingleText(float value);

// `bytes` as UTF-8: kept when it already is, else read as Windows-1252.
std::string DecodeSettingsText(std::string_view bytes);

// Reads the file; a missing file is an empty text (the defaults stand).
jet::Result<std::string> ReadSettingsFile(const std::string& path);
// Writes `text` to a temporary file beside `path`, flushes it to the disk and renames it over
// `path`, so the old file stays whole until the new one is complete.
jet::Status WriteFileAtomically(const std::string& path, const std::string& text);

}  // namespace velloran
