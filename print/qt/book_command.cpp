#include "print/qt/book_command.h"

#include "catalogue/engine.h"
#include "print/book_rows.h"
#include "print/qt/painter_book_surface.h"

namespace velloran {

namespace {

constexpr const char* kUsage =
    "usage: velloran book FILE TABLE OUT.pdf [--by song|artist] [--font NAME:SIZE]\n"
    "  writes the song book of the songs whose print flag is set in TABLE of FILE\n";

// Reads the options after the three paths; false with a message on a wrong one.
bool ParseOptions(const std::vector<std::string>& args, BookOptions& o, std::ostream& err) {
  for (size_t i = 3; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (i + 1 >= args.size() || (a != "--by" && a != "--font")) {
      err << "velloran book: unknown or incomplete option \"" << a << "\"\n" << kUsage;
      return false;
    }
    const std::string& v = args[++i];
    if (a == "--by") {
      if (v != "song" && v != "artist") {
        err << "velloran book: --by takes song or artist, not \"" << v << "\"\n";
        return false;
      }
      o.order = v == "song" ? BookOrder::kSong : BookOrder::kArtist;
      continue;
    }
    const size_t colon = v.rfind(':');
    const int size = colon == std::string::npos ? 0 : std::atoi(v.c_str() + colon + 1);
    if (colon == 0 || size < 1 || size > 200) {
      err << "velloran book: --font takes NAME:SIZE with a size of 1 to 200 points, as Arial:8, not \"" << v << "\"\n";
      return false;
    }
    o.font.Name = v.substr(0, colon);
    o.font.Size = size;
  }
  return true;
}

}  // namespace

int RunBookCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  BookOptions options;
  if (args.size() < 3) {
    err << kUsage;
    return 2;
  }
  if (!ParseOptions(args, options, err)) return 2;
  DatabaseEntry entry{args[0], args[1], "Artist", "Song", "SongNumber", "DiskID"};
  std::vector<BookRow> rows;
  try {
    rows = ReadBookRows(entry, options.order);
  } catch (const EngineError& e) {
    err << "velloran book: " << e.what() << "\n";
    return 1;
  }
  int pages = 0;
  const std::string error =
      WritePdf(args[2], DefaultBookLayout(), options.title, [&](BookSurface& s) { pages = DrawBook(s, rows, options); });
  if (!error.empty()) {
    err << "velloran book: " << error << "\n";
    return 1;
  }
  out << "Wrote " << rows.size() << " songs on " << pages << " pages to " << args[2] << "\n";
  return 0;
}

}  // namespace velloran
