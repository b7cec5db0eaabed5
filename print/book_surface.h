// What the song book is drawn on: the preview picture, a printer, a PDF file, or a recording in
// tests. Positions are twips from the top left corner of the page's printable area; font sizes
// are points and may be fractional (the half-size preview halves them).
#pragma once

#include <string>

namespace velloran {

struct BookFont {
  std::string name;
  double size = 8;
  bool bold = false;
  bool underline = false;
  bool italic = false;
};

class BookSurface {
 public:
  virtual ~BookSurface() = default;
  // The printable area of one page.
  virtual double Width() = 0;
  virtual double Height() = 0;
  virtual void SetFont(const BookFont& font) = 0;
  virtual double TextWidth(const std::string& text) = 0;
  // How far one line of the current font moves down.
  virtual double LineHeight() = 0;
  // How far below a text's top its baseline lies, in the current font.
  virtual double Ascent() = 0;
  // `text` with its top left corner at (x, y), in black.
  virtual void DrawText(double x, double y, const std::string& text) = 0;
  virtual void DrawLine(double x1, double y1, double x2, double y2) = 0;
  // Ends the page; what follows is drawn on a fresh one.
  virtual void NewPage() = 0;
};

}  // namespace velloran
