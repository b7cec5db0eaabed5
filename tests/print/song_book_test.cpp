// The song book's layout on a recording surface, from tiny to huge fonts, in both orders and with
// a title wider than the page: what a host sees on paper, not where each piece lands. And "Print"
// and "Setup" in the song book window's logic, with a recorded window and printer: nothing is
// printed when the host cancels the print dialog, and without a printer both say so. (The
// preview, the pages, the printed book and the PDF are checked on the real window.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "platform/scripted_dialog_host.h"
#include "print/book_layout.h"
#include "print/frm_print.h"

namespace velloran_test {
namespace {

using namespace velloran;

// A song book surface that records what is drawn, page by page: letter paper less quarter-inch
// margins; texts 12 twips wide a character per point of size, lines 23 twips high per point.
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
  double pixel = 0;  // > 0: line heights rounded up to whole pixels of this many twips, as a screen font's
  double LineHeight() override { return pixel > 0 ? std::ceil(23 * font.size / pixel) * pixel : 23 * font.size; }
  double Ascent() override { return 18 * font.size; }
  void DrawText(double x, double y, const std::string& t) override { texts.push_back({page, x, y, font.size, t}); }
  void DrawLine(double x1, double y1, double x2, double y2) override { lines.push_back({double(page), x1, y1, x2, y2}); }
  void NewPage() override { ++page; }

  const Text* Find(const std::string& t) const {
    const auto found = std::find_if(texts.begin(), texts.end(), [&](const Text& x) { return x.text == t; });
    return found == texts.end() ? nullptr : &*found;
  }
};

std::vector<BookRow> Songs(int n) {
  std::vector<BookRow> rows;
  for (int i = 1; i <= n; ++i) {
    const std::string k = std::to_string(10000 + i);
    rows.push_back({"D" + k, "Song " + k, "Artist " + k, k});
  }
  return rows;
}

// Every song once, in order, with its disc ID on the same line left of the table; no row reaching
// into the foot but a page's only one; a page ended only when the next row would not have fitted;
// each row ruled at its top and four column edges, each page closed by a rule and numbered
// "- n -" in the middle of its foot.
void ExpectSoundBook(const RecordingBook& b, const std::vector<BookRow>& rows, const BookOptions& o) {
  const double z = o.zoom, foot = b.height - 600 * z;
  const std::string first_column = o.order == BookOrder::kSong ? "Song " : "Artist ";
  size_t next = 0;
  int last_page = 0;
  double row_height = 0;
  std::map<int, double> lowest;  // each page's lowest row bottom
  std::map<int, int> footers;
  for (size_t i = 0; i < b.texts.size(); ++i) {
    const RecordingBook::Text& t = b.texts[i];
    if (t.text == "- " + std::to_string(t.page) + " -") {
      ++footers[t.page];
      EXPECT_GT(t.y, foot);
      EXPECT_NEAR(t.x + 12 * t.size * t.text.size() / 2, b.width / 2, 0.01);
      continue;
    }
    EXPECT_GE(t.x, 0) << t.text;
    if (t.text == o.title || t.text.rfind(first_column, 0) != 0) continue;
    SCOPED_TRACE("row " + std::to_string(next));
    ASSERT_LT(next, rows.size());
    EXPECT_EQ(t.text.substr(first_column.size()), rows[next].number);
    const RecordingBook::Text& disc = b.texts[i - 1];
    EXPECT_EQ(disc.text, rows[next].disc);
    EXPECT_DOUBLE_EQ(disc.y + 18 * disc.size, t.y + 18 * t.size);  // one baseline
    row_height = 23 * std::max(t.size, disc.size);
    const bool page_first = !lowest.count(t.page);
    EXPECT_TRUE(page_first ? t.page == last_page + 1 : t.y == lowest[t.page]);  // one under the other
    EXPECT_TRUE(page_first || t.y + row_height <= foot);
    EXPECT_EQ(std::count_if(b.lines.begin(), b.lines.end(), [&](const auto& l) { return l[0] == t.page && l[2] == t.y; }), 5);
    lowest[t.page] = t.y + row_height;
    last_page = t.page;
    ++next;
  }
  EXPECT_EQ(next, rows.size());
  for (const auto& l : b.lines)  // within the page and above its foot, unless a row is taller than that
    EXPECT_TRUE(std::max(l[1], l[3]) <= b.width && (1000 * z + row_height > foot || std::max(l[2], l[4]) <= foot));
  for (int p = 1; p <= b.page; ++p) {
    EXPECT_EQ(footers[p], 1) << "page " << p;
    const double under = lowest.count(p) ? lowest[p] : 1000 * z;
    EXPECT_TRUE(p == b.page || under + row_height > foot) << "page " << p << " ended early";
    EXPECT_TRUE(std::any_of(b.lines.begin(), b.lines.end(), [&](const auto& l) {
      return l[0] == p && l[2] == under && l[4] == under && l[1] < l[3];
    })) << "no closing rule on page " << p;
  }
}

TEST(BookLayout, PagesBreakAboveTheFootAndThePreviewPageIsThatPageOfTheBook) {
  // `title`: the characters of a longer title than the default.
  const struct { int rows, size; double zoom; BookOrder order; int pages; size_t title = 0; } cases[] = {
      {0, 8, 1, BookOrder::kSong, 1},      {5, 8, 1, BookOrder::kSong, 1, 200}, {73, 8, 1, BookOrder::kSong, 1},
      {74, 8, 1, BookOrder::kSong, 2},     {160, 8, 1, BookOrder::kSong, 3},    {160, 8, 0.5, BookOrder::kArtist, 3},
      {40, 72, 1, BookOrder::kArtist, 5},  {30, 1, 1, BookOrder::kSong, 1},     {2000, 2, 1, BookOrder::kArtist, 7},
      {3, 900, 1, BookOrder::kSong, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows at " + std::to_string(c.size) + " pt");
    RecordingBook b;
    b.width *= c.zoom, b.height *= c.zoom;
    BookOptions o;
    o.font.Size = c.size, o.zoom = c.zoom, o.order = c.order;
    if (c.title) o.title = std::string(c.title, 'T');
    const std::vector<BookRow> rows = Songs(c.rows);
    EXPECT_EQ(DrawBook(b, rows, o), c.pages);
    EXPECT_EQ(b.page, c.pages);
    ExpectSoundBook(b, rows, o);
    // The title and the headings on the first page, each heading above its column.
    for (const std::string& text : {o.title, std::string("Song"), std::string("Artist")}) {
      ASSERT_NE(b.Find(text), nullptr) << text;
      EXPECT_EQ(b.Find(text)->page, 1);
      EXPECT_TRUE(!c.rows || text == o.title || b.Find(text)->x == b.Find(text + " " + rows[0].number)->x) << text;
    }
    RecordingBook last = b;
    last.texts.clear(), last.lines.clear(), last.page = 1;
    EXPECT_EQ(DrawBookPage(last, rows, o, c.pages), c.pages);
    std::vector<std::string> expected, got;
    for (const auto& t : b.texts)
      if (t.page == c.pages) expected.push_back(t.text);
    for (const auto& t : last.texts) got.push_back(t.text);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(last.page, 1);  // the preview's surface never turned a page
  }
}

// Fonts do not measure in proportion to their size (a screen's rounds to whole pixels): the
// half-size preview still breaks every page where the full-size book does.
TEST(BookLayout, TheHalfSizePreviewBreaksPagesWhereTheBookDoes) {
  const std::vector<BookRow> rows = Songs(2000);
  std::vector<std::pair<int, std::string>> at_full;
  for (const double zoom : {1.0, 0.5}) {
    RecordingBook b;
    b.pixel = 15, b.width *= zoom, b.height *= zoom;
    BookOptions o;
    o.font.Size = 7, o.zoom = zoom;
    DrawBook(b, rows, o);
    std::vector<std::pair<int, std::string>> songs;  // each song's page
    for (const auto& t : b.texts)
      if (t.text.rfind("Song 1", 0) == 0) songs.emplace_back(t.page, t.text);
    ASSERT_EQ(songs.size(), rows.size());
    if (zoom == 1) at_full = songs;
    else EXPECT_EQ(songs, at_full);
  }
}

struct RecordedWindow : PrintWindowView, BookPrinter {
  RecordingBook preview;
  std::vector<std::string> printers{"Office"};
  bool printed = false;

  double InnerWidth() override { return 9000; }
  double InnerHeight() override { return 9000; }
  double ToolbarHeight() override { return 500; }
  double CloseButtonWidth() override { return 1000; }
  void PlaceCloseButton(double) override {}
  void PlacePreview(double, double, double, double) override {}
  BookSurface& ClearPreview(double, double) override { return preview = RecordingBook{}; }
  void SetZoomBox(bool) override {}
  void ShowPage(const std::string&, bool, bool) override {}
  void SetPrinters(const std::vector<std::string>&, const std::string&) override {}
  void Close() override {}

  std::vector<std::string> Printers() override { return printers; }
  std::string CurrentPrinter() override { return printers.empty() ? "" : printers[0]; }
  double PageWidth() override { return 11520; }
  double PageHeight() override { return 15120; }
  std::string Print(const std::function<void(BookSurface&)>&) override { return printed = true, ""; }
  std::string WritePdf(const std::string&, const std::function<void(BookSurface&)>&) override { return ""; }
};

TEST(FrmPrint, ACancelledPrintDialogPrintsNothingAndWithoutAPrinterPrintAndSetupSaySo) {
  RecordedWindow w;
  ScriptedDialogHost dialogs;
  Frm_Print form(w, w, dialogs, [] { return DatabaseEntry{}; }, FontSpec{"Arial", 8, false, false, false});
  form.Form_Load();
  form.Cmd_Print_Click();  // the scripted print and page setup dialogs are cancelled
  form.Cmd_Setup_Click();
  EXPECT_FALSE(w.printed);
  EXPECT_TRUE(dialogs.messages.empty());
  w.printers.clear();
  form.Cmd_Print_Click();
  form.Cmd_Setup_Click();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  for (const std::string& said : dialogs.messages) {
    EXPECT_EQ(said.rfind("There is no printer installed on this computer", 0), 0u) << said;
    EXPECT_NE(said.find("\"PDF\""), std::string::npos) << said;
  }
}

}  // namespace
}  // namespace velloran_test
