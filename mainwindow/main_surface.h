// What the main window's logic draws on and what it asks of its window. Both work in twips
// (1440 per logical inch); the window converts to pixels. The surface is persistent: what is
// drawn stays until the next Clear, and a paint only shows it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/font_spec.h"

namespace velloran {

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;
// The window's background: black and white text both read well on it.
constexpr uint32_t kWindowBackground = 0x9DB0C4;

class MainSurface {
 public:
  virtual ~MainSurface() = default;
  // Fills the whole surface with the window's background.
  virtual void Clear() = 0;
  virtual void FillRect(float x1, float y1, float x2, float y2, uint32_t rgb) = 0;
  // Draws `text` with its top left corner at (x, y), in the font and text colour in force.
  virtual void DrawText(float x, float y, const std::string& text) = 0;
  // A line in the text colour.
  virtual void DrawLine(float x1, float y1, float x2, float y2) = 0;
  virtual void SetFont(const FontSpec& font) = 0;
  virtual void SetTextColor(uint32_t rgb) = 0;
  virtual float TextWidth(const std::string& text) = 0;
  virtual float TextHeight(const std::string& text) = 0;
  // Shows what was drawn now, even while a long operation keeps the window from its events.
  virtual void Present() {}
};

// Where a window is and how big: twips, the screen's top left corner as origin.
struct WindowRect {
  float Width = 0, Height = 0, Top = 0, Left = 0;
  bool operator==(const WindowRect&) const = default;
};

// A saved placement laid over the designed one: a saved value of 0 or less means the window was
// never placed that way, so the designed value stands.
inline WindowRect SavedOver(WindowRect designed, const WindowRect& saved) {
  if (saved.Width > 0) designed.Width = saved.Width;
  if (saved.Height > 0) designed.Height = saved.Height;
  if (saved.Top > 0) designed.Top = saved.Top;
  if (saved.Left > 0) designed.Left = saved.Left;
  return designed;
}

enum class Pointer { kDefault, kSizeWE };

// What a drag carries: the heading of column `index` or the marker of edge `index` (1..4).
struct DragSource {
  enum Kind { kHeading, kEdge } kind = kHeading;
  int index = 0;
  bool operator==(const DragSource&) const = default;
};

// The main window around the surface: its size and place, the search box, the picture, the
// pointer, the popup menu and drags.
class MainWindowView {
 public:
  virtual ~MainWindowView() = default;
  virtual float InnerWidth() = 0;
  virtual float InnerHeight() = 0;
  virtual WindowRect Placement() = 0;
  // Moves and sizes the window. The window does not call Form_Resize for a change the logic
  // made itself.
  virtual void SetPlacement(const WindowRect& rect) = 0;
  virtual bool IsMinimised() = 0;
  virtual void SetTopMost(bool on_top) = 0;

  virtual void SetSearchBoxVisible(bool visible) = 0;
  virtual void SetSearchText(const std::string& text) = 0;
  virtual void FocusSearchBox() = 0;
  virtual void SelectSearchText(int start, int length) = 0;
  virtual void SetSearchBoxWidth(float width) = 0;
  virtual float ImageHeight() = 0;
  virtual void PlaceImage(float top) = 0;

  virtual void SetPointer(Pointer pointer) = 0;
  virtual void ShowPopupMenu() = 0;
  // Starts a drag whose outline (left, top, width, height) follows the pointer until the
  // release; a release over the surface calls Form_DragDrop.
  virtual void BeginDrag(const DragSource& source, float left, float top, float width, float height) = 0;
  // Closes the window (its unload saves the settings) and ends the program at once.
  virtual void EndProgram() = 0;
};

// The check marks and enabled states of the menu that the window's logic reads and sets.
struct MenuSwitches {
  bool ShowPrintFlags = false;     // "&Show print flags"
  bool Singers = false;            // "&Singers"
  bool AllowColumnResize = true;   // "Allow &Column Resizing"
  bool ScreenSaver = true;         // "&Screen Saver"
  bool AllowWindowResize = true;   // "&Allow Window Resizing"
  bool OnTop = false;              // "&Always on top"
  bool SelectTableEnabled = false; // "&Select Table/Fields"
};

}  // namespace velloran
