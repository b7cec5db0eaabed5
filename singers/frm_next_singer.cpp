#include "singers/frm_next_singer.h"

#include <algorithm>

namespace velloran {

void Frm_NextSinger::ReDraw() {
  surface_.Clear();
  FontSpec font = font_;
  // A size never chosen (0) or one that makes no sense keeps the display readable.
  if (font.Size <= 0) font.Size = kNextSingerDefaultPoints;
  surface_.SetFont(font);
  if (Singer >= 1 && Singer <= singers_.count()) DrawSinger(singers_[Singer], font);
  // Shown now: a redraw asked for by a command (a new font) has no resize or paint behind it.
  surface_.Present();
}

void Frm_NextSinger::DrawSinger(const SingerEntry& e, FontSpec font) {
  const float w = view_.InnerWidth(), h = view_.InnerHeight();
  if (FullScreen) {
    const float widest = std::max(surface_.TextWidth(e.Name), surface_.TextWidth(e.Song.Song));
    const float high = surface_.TextHeight(e.Name);
    if (widest > 0 && high > 0) {
      const float scale = std::min(0.9f * w / widest, 0.4f * h / high);
      font.Size = std::clamp(static_cast<int32_t>(font.Size * scale), 1, 2000);
      surface_.SetFont(font);
    }
  }
  const float a = w / 2, b = h / 2;
  DrawCentred(e.Name, a, b / 2);
  DrawCentred(e.Song.Song, a, b + b / 2);
}

void Frm_NextSinger::DrawCentred(const std::string& text, float centre_x, float centre_y) {
  surface_.DrawText(centre_x - surface_.TextWidth(text) / 2, centre_y - surface_.TextHeight(text) / 2, text);
}

void Frm_NextSinger::Form_Load() {
  view_.SetPlacement(SavedOver(view_.Placement(), placement_));
}

void Frm_NextSinger::Form_KeyPress(int16_t KeyAscii) {
  if (KeyAscii == 27) view_.Close();
}

void Frm_NextSinger::Form_MouseDown(MouseButton button) {
  if (button == MouseButton::kRight) view_.ShowPopupMenu();
}

void Frm_NextSinger::Form_MouseMove(MouseButton buttons, float X, float Y) {
  if (buttons != MouseButton::kLeft) {
    drag_x_ = X;
    drag_y_ = Y;
    return;
  }
  WindowRect at = view_.Placement();
  at.Left += X - drag_x_;
  at.Top += Y - drag_y_;
  view_.SetPlacement(at);
}

void Frm_NextSinger::Mnu_Font_Click() {
  dialogs_.ShowFont(font_, false, false, false);
  ReDraw();
}

}  // namespace velloran
