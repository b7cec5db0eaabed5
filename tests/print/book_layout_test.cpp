// The song book's layout on a recording surface: page breaks, footers, rules and the order of
// the rows, in both orders, with a long title and with very small and very large fonts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "print/book_layout.h"
#include "tests/print/recording_book.h"

namespace velloran_test {
namespace {

using namespace velloran;

std::vector<BookRow> Songs(int n) {
  std::vector<BookRow> rows;
  for (int i = 1; i <= n; ++i) {
    const std::string k = std::to_string(10000 + i);
    rows.push_back({"D" + k, "Song " + k, "Artist " + k, k});
  }
  return rows;
}

double RowHeight(const BookOptions& o) {
  return 23 * std::max({1.0, o.font.Size * o.zoom, (o.font.Size - 2) * o.zoom});
}

// What every book must satisfy: each row once, in order, within its page above the foot; one
// footer "- n -" per page at its foot; each page's table closed by a rule under its last row.
void ExpectSoundBook(RecordingBook& b, const std::vector<BookRow>& rows, const BookOptions& o, int pages) {
  EXPECT_EQ(b.page, pages);
  const double z = o.zoom;
  const std::string first_column = o.order == BookOrder::kSong ? "Song " : "Artist ";
  int next = 0, last_page = 1;
  double last_y = -1;
  std::map<int, double> lowest;  // each page's lowest row bottom
  for (const auto& t : b.texts) {
    if (t.text.rfind(first_column, 0) != 0 || t.x != 850 * z) continue;
    ASSERT_LT(next, static_cast<int>(rows.size()));
    EXPECT_EQ(t.text.substr(first_column.size()), rows[static_cast<size_t>(next)].number) << "row " << next;
    EXPECT_TRUE(t.page > last_page || (t.page == last_page && t.y > last_y)) << "row " << next;
    const double bottom = t.y + RowHeight(o);
    // A page's first row may be taller than the page; every other one ends above the foot.
    if (lowest.count(t.page)) EXPECT_LE(bottom, b.Height() - 600 * z) << "row " << next;
    lowest[t.page] = bottom;
    last_page = t.page, last_y = t.y;
    ++next;
  }
  EXPECT_EQ(next, static_cast<int>(rows.size()));
  for (int p = 1; p <= pages; ++p) {
    const std::string footer = "- " + std::to_string(p) + " -";
    const auto* f = b.Find(footer);
    ASSERT_NE(f, nullptr) << footer;
    EXPECT_EQ(f->page, p);
    EXPECT_DOUBLE_EQ(f->y, b.Height() - 400 * z);
    EXPECT_DOUBLE_EQ(f->x, b.Width() / 2 - 12 * f->size * footer.size() / 2);
    const double under = lowest.count(p) ? lowest[p] : 1000 * z;
    // A page ends only when the next row would not have fitted above its foot.
    if (p < pages) EXPECT_GT(under + RowHeight(o), b.Height() - 600 * z) << "page " << p << " ended early";
    EXPECT_TRUE(std::any_of(b.lines.begin(), b.lines.end(), [&](const auto& l) {
      return l[0] == p && l[2] == under && l[4] == under && l[1] == 800 * z;
    })) << "no closing rule on page " << p;
  }
}

TEST(BookLayout, PagesBreakAboveTheFootInBothOrdersAndSizes) {
  const struct {
    int rows;
    int size;
    double zoom;
    BookOrder order;
    int pages;
  } cases[] = {
      {0, 8, 1, BookOrder::kSong, 1},       {5, 8, 1, BookOrder::kSong, 1},
      {73, 8, 1, BookOrder::kSong, 1},      {74, 8, 1, BookOrder::kSong, 2},
      {160, 8, 1, BookOrder::kSong, 3},     {160, 8, 0.5, BookOrder::kArtist, 3},
      {40, 72, 1, BookOrder::kArtist, 5},   {30, 1, 1, BookOrder::kSong, 1},
      {2000, 2, 1, BookOrder::kArtist, 7},  {3, 900, 1, BookOrder::kSong, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows at " + std::to_string(c.size) + " pt");
    RecordingBook b;
    b.width *= c.zoom;
    b.height *= c.zoom;
    BookOptions o;
    o.font.Size = c.size;
    o.zoom = c.zoom;
    o.order = c.order;
    const std::vector<BookRow> rows = Songs(c.rows);
    EXPECT_EQ(DrawBook(b, rows, o), c.pages);
    ExpectSoundBook(b, rows, o, c.pages);
    // Title and headings on the first page only, the headings swapped by the order.
    const auto* heading = b.Find(c.order == BookOrder::kSong ? "Artist" : "Song");
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->page, 1);
    EXPECT_DOUBLE_EQ(heading->x, 6050 * c.zoom);
    EXPECT_EQ(b.Find("Song Book Listing")->size, (c.size + 2) * c.zoom);
  }
}

TEST(BookLayout, TheDiscIdStandsLeftOfTheTableSmallerAndALongTitleStartsAtTheEdge) {
  RecordingBook b;
  BookOptions o;
  o.title = std::string(200, 'T');
  std::vector<BookRow> rows = Songs(2);
  rows[1].artist.clear();  // an empty artist leaves its column empty
  DrawBook(b, rows, o);
  EXPECT_EQ(b.Find(o.title)->x, 0);
  const auto* disc = b.Find("D10001");
  ASSERT_NE(disc, nullptr);
  EXPECT_EQ(disc->x, 550);
  EXPECT_EQ(disc->size, 6);
  EXPECT_EQ(disc->y, 1000 + 18 * 8 - 18 * 6);  // on the row's baseline
  EXPECT_EQ(b.Find("Song 10002")->y, 1000 + 23 * 8);
  // The rules of a row: across its top, then down at the table's four column edges.
  const double top = 1000, bottom = 1000 + 23 * 8, right = 11520 - 500;
  const std::vector<std::array<double, 5>> rules{{1, 800, top, right, top},
                                                 {1, 800, top, 800, bottom},
                                                 {1, 6000, top, 6000, bottom},
                                                 {1, 10000, top, 10000, bottom},
                                                 {1, right, top, right, bottom}};
  EXPECT_EQ(std::vector(b.lines.begin(), b.lines.begin() + 5), rules);
}

TEST(BookLayout, OnePageAloneIsThatPageOfTheWholeBook) {
  RecordingBook whole;
  BookOptions o;
  const std::vector<BookRow> rows = Songs(160);
  DrawBook(whole, rows, o);
  RecordingBook second;
  EXPECT_EQ(DrawBookPage(second, rows, o, 2), 3);
  std::vector<std::string> expected, got;
  for (const auto& t : whole.texts)
    if (t.page == 2) expected.push_back(t.text);
  for (const auto& t : second.texts) got.push_back(t.text);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(second.page, 1);  // the surface never turned a page
}

}  // namespace
}  // namespace velloran_test
