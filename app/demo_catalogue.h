// A catalogue to try the program with: plausible made-up songs in an Access 2000 file, built
// with the program's own engine.
#pragma once

#include <string>

#include "jet/base/status.h"

namespace velloran {

// Song `i` (0-based) of the demo catalogue: the same every time.
struct DemoSong {
  int number;
  std::string disc, title, artist;
};
DemoSong MakeDemoSong(int i);

// Builds a catalogue of `count` songs in table "Songs" at `path` (which must not exist yet).
// The file is built under a temporary name and renamed, so a half-built one is never left.
jet::Status BuildDemoCatalogue(const std::string& path, int count);

}  // namespace velloran
