// The next-singer display without widgets: the singer at the head of the queue and their song
// drawn in big letters, centred on the lines a quarter and three quarters down the window; moved
// by dragging its surface, closed with Esc, its font chosen from a right-button popup.
#pragma once

#include <cstdint>

#include "mainwindow/main_window_logic.h"
#include "platform/dialog_host.h"
#include "singers/singer_list.h"

namespace velloran {

class NextSingerView {
 public:
  virtual ~NextSingerView() = default;
  virtual WindowRect Placement() = 0;
  virtual void SetPlacement(const WindowRect& rect) = 0;
  virtual float InnerWidth() = 0;
  virtual float InnerHeight() = 0;
  virtual void ShowPopupMenu() = 0;
  // Closes the window; closing runs Form_Unload.
  virtual void Close() = 0;
};

constexpr float kNextSingerDesignWidth = 5625, kNextSingerDesignHeight = 3975;
// The size drawn at before the host has chosen a font: as big as lets a name and a title of up to
// about 26 letters ("Total Eclipse of the Heart") fit the window at its first size in a wide face;
// the host makes it bigger with a bigger window and "&Font".
constexpr int32_t kNextSingerDefaultPoints = 20;

class Frm_NextSinger {
 public:
  // `placement` and `font` are the settings' next-singer values.
  Frm_NextSinger(const SingerList& singers, MainSurface& surface, NextSingerView& view, DialogHost& dialogs,
                 WindowRect& placement, FontSpec& font)
      : singers_(singers), surface_(surface), view_(view), dialogs_(dialogs), placement_(placement), font_(font) {}

  int16_t Singer = 0;  // the queue slot shown; 0 shows nothing
  // Full screen on a second screen: the chosen font scaled so the longer line fills nine tenths
  // of the width (and each line at most four tenths of the height).
  bool FullScreen = false;

  void ReDraw();
  void Form_Load();
  void Form_Resize() { ReDraw(); }
  void Form_Unload() { placement_ = view_.Placement(); }
  void Form_KeyPress(int16_t KeyAscii);
  void Form_MouseDown(MouseButton button);
  // X, Y: the pointer in the window, twips.
  void Form_MouseMove(MouseButton buttons, float X, float Y);
  void Mnu_Font_Click();

 private:
  // `font` is the drawing font already set; full screen scales a copy of it.
  void DrawSinger(const SingerEntry& e, FontSpec font);
  void DrawCentred(const std::string& text, float centre_x, float centre_y);

  const SingerList& singers_;
  MainSurface& surface_;
  NextSingerView& view_;
  DialogHost& dialogs_;
  WindowRect& placement_;
  FontSpec& font_;
  float drag_x_ = 0, drag_y_ = 0;
};

}  // namespace velloran
