#include "print/book_layout.h"

#include <algorithm>

namespace velloran {

namespace {

// The smallest font the book draws with: a print font of 2 points or less would give the disc ID
// no size at all.
constexpr double kSmallestSize = 1;

class BookWriter {
 public:
  BookWriter(BookSurface& surface, const BookOptions& options)
      : s_(surface), o_(options), z_(options.zoom), width_(surface.Width()), height_(surface.Height()) {}

  int Write(const std::vector<BookRow>& rows) {
    Title();
    Headings();
    y_ = 1000 * z_;
    bool page_has_rows = false;
    for (const BookRow& row : rows) {
      SetSize(o_.font.Size);
      // The row's height is the taller of its two fonts; the page foot stays free for the footer.
      if (page_has_rows && y_ + RowHeight() > height_ - 600 * z_) {
        ClosePage();
        s_.NewPage();
        y_ = 0;
      }
      Row(row);
      page_has_rows = true;
    }
    ClosePage();
    return page_;
  }

 private:
  // `points` of the book, at the zoom's size.
  void SetSize(double points, bool bold = false) { SetPoints(points * z_, bold); }
  void SetPoints(double size, bool bold = false) {
    s_.SetFont(BookFont{o_.font.Name, std::max(size, kSmallestSize), bold, o_.font.Underline, o_.font.Italic});
  }
  // Measured at the book's own sizes and scaled: fonts do not measure in proportion to their
  // size, and the preview at half size breaks its pages where the printed book does.
  double RowHeight() {
    SetPoints(o_.font.Size);
    const double main = s_.LineHeight();
    SetPoints(o_.font.Size - 2);
    const double disc = s_.LineHeight();
    SetSize(o_.font.Size);
    return std::max(main, disc) * z_;
  }
  void Title() {
    SetSize(o_.font.Size + 2, true);
    // A title wider than the page starts at its left edge rather than before it.
    s_.DrawText(std::max(0.0, width_ / 2 - s_.TextWidth(o_.title) / 2), 500 * z_, o_.title);
  }
  void Headings() {
    SetSize(o_.font.Size);
    const bool by_song = o_.order == BookOrder::kSong;
    s_.DrawText(850 * z_, 800 * z_, by_song ? "Song" : "Artist");
    s_.DrawText(6050 * z_, 800 * z_, by_song ? "Artist" : "Song");
    s_.DrawText(10050 * z_, 800 * z_, "SongNumber");
  }
  void Row(const BookRow& row) {
    const double top = y_;
    const double height = RowHeight();
    const double baseline = s_.Ascent();
    // The smaller disc ID sits on the row's baseline, so that a reader of the page (or of a
    // PDF's text) sees one line.
    SetSize(o_.font.Size - 2);
    s_.DrawText(550 * z_, top + baseline - s_.Ascent(), row.disc);
    SetSize(o_.font.Size);
    const bool by_song = o_.order == BookOrder::kSong;
    s_.DrawText(850 * z_, top, by_song ? row.song : row.artist);
    s_.DrawText(6050 * z_, top, by_song ? row.artist : row.song);
    s_.DrawText(10050 * z_, top, row.number);
    const double bottom = top + height;
    const double right = width_ - 500 * z_;
    s_.DrawLine(800 * z_, top, right, top);
    for (double x : {800 * z_, 6000 * z_, 10000 * z_, right}) s_.DrawLine(x, top, x, bottom);
    y_ = bottom;
  }
  // The rule under the page's last row and the page's footer.
  void ClosePage() {
    s_.DrawLine(800 * z_, y_, width_ - 500 * z_, y_);
    ++page_;
    SetSize(o_.font.Size);
    const std::string footer = "- " + std::to_string(page_) + " -";
    s_.DrawText(width_ / 2 - s_.TextWidth(footer) / 2, height_ - 400 * z_, footer);
  }

  BookSurface& s_;
  const BookOptions& o_;
  const double z_, width_, height_;
  double y_ = 0;
  int page_ = 0;
};

// Passes on the drawing of one page only.
class OnePage : public BookSurface {
 public:
  OnePage(BookSurface& target, int page) : t_(target), wanted_(page) {}
  double Width() override { return t_.Width(); }
  double Height() override { return t_.Height(); }
  void SetFont(const BookFont& font) override { t_.SetFont(font); }
  double TextWidth(const std::string& text) override { return t_.TextWidth(text); }
  double LineHeight() override { return t_.LineHeight(); }
  double Ascent() override { return t_.Ascent(); }
  void DrawText(double x, double y, const std::string& text) override {
    if (page_ == wanted_) t_.DrawText(x, y, text);
  }
  void DrawLine(double x1, double y1, double x2, double y2) override {
    if (page_ == wanted_) t_.DrawLine(x1, y1, x2, y2);
  }
  void NewPage() override { ++page_; }

 private:
  BookSurface& t_;
  const int wanted_;
  int page_ = 1;
};

}  // namespace

int DrawBook(BookSurface& surface, const std::vector<BookRow>& rows, const BookOptions& options) {
  return BookWriter(surface, options).Write(rows);
}

int DrawBookPage(BookSurface& surface, const std::vector<BookRow>& rows, const BookOptions& options, int page) {
  OnePage one(surface, page);
  return BookWriter(one, options).Write(rows);
}

}  // namespace velloran
