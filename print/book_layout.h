// The song book's layout: a title on the first page, the column headings, one ruled row per
// song (disc ID left of the table, then song and artist in the chosen order, then the song
// number), and a footer "- n -" under each page. One layout serves the preview, the printer and
// the PDF; each draws on its own BookSurface.
#pragma once

#include <string>
#include <vector>

#include "print/book_surface.h"
#include "platform/font_spec.h"

namespace velloran {

struct BookRow {
  std::string disc, song, artist, number;
};

enum class BookOrder { kSong, kArtist };

struct BookOptions {
  std::string title = "Song Book Listing";
  FontSpec font{"Arial", 8, false, false, false};
  BookOrder order = BookOrder::kSong;
  double zoom = 1;  // scales every position and size: 0.5 for the half-size preview
};

// Draws the whole book, starting a new page on `surface` for each page after the first;
// returns the number of pages.
//
// A row that would reach into the foot of the page (below the page height less 600 twips)
// starts the next page instead, at its top; the page it leaves is closed by a rule under its
// last row and its footer. A page always takes at least one row, however large the font.
int DrawBook(BookSurface& surface, const std::vector<BookRow>& rows, const BookOptions& options);

// Page `page` (1-based) of the book alone, as the preview shows it; the number of pages.
int DrawBookPage(BookSurface& surface, const std::vector<BookRow>& rows, const BookOptions& options, int page);

}  // namespace velloran
