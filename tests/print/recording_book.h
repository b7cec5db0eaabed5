// A song book surface that records what is drawn, page by page.
#pragma once

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "print/book_layout.h"

namespace velloran_test {

using namespace velloran;

// Letter paper less quarter-inch margins; texts 12 twips wide a character per point of size,
// lines 23 twips high per point.
class RecordingBook : public BookSurface {
 public:
  struct Text { int page; double x, y, size; std::string text; };
  std::vector<Text> texts;
  std::vector<std::array<double, 5>> lines;  // page, x1, y1, x2, y2
  int page = 1;
  BookFont font;

  double width = 11520, height = 15120;
  double Width() override { return width; }
  double Height() override { return height; }
  void SetFont(const BookFont& f) override { font = f; }
  double TextWidth(const std::string& t) override { return 12 * font.size * static_cast<double>(t.size()); }
  double LineHeight() override { return 23 * font.size; }
  double Ascent() override { return 18 * font.size; }
  void DrawText(double x, double y, const std::string& t) override { texts.push_back({page, x, y, font.size, t}); }
  void DrawLine(double x1, double y1, double x2, double y2) override { lines.push_back({double(page), x1, y1, x2, y2}); }
  void NewPage() override { ++page; }

  const Text* Find(const std::string& t) const {
    const auto found = std::find_if(texts.begin(), texts.end(), [&](const Text& x) { return x.text == t; });
    return found == texts.end() ? nullptr : &*found;
  }
};

}  // namespace velloran_test
