#include "app/demo_catalogue.h"

#include <cstdio>
#include <filesystem>

#include "catalogue/engine.h"

namespace velloran {

namespace {

constexpr const char* kWords[] = {
    "Love",    "Heart",   "Night",  "Dance",   "Summer", "Fire",   "Rain",    "Dream",  "River",  "Midnight",
    "Angel",   "Highway", "Blue",   "Golden",  "Wild",   "Lonely", "Sweet",   "Crazy",  "Forever", "Moon",
    "Sunshine", "Shadow", "Home",   "Stars",   "Ocean",  "Thunder", "Memories", "Tonight", "Paradise", "Whisper",
    "Broken",  "Saturday", "Rose",  "Kiss",    "City",   "Train",  "Diamond", "Morning", "Heaven", "Dust",
    "Silver",  "Thief",   "Magic",  "Radio",   "Echo",   "Storm",  "Candle",  "Road",   "Island", "Secret"};
constexpr const char* kJoins[] = {"of", "in the", "on the", "and", "for", "with", "under the", "like a"};
constexpr const char* kFirst[] = {"Maria",  "John",   "Tina",  "Elton",  "Aretha", "Billy",  "Dolly",  "Freddie",
                                  "Grace",  "Johnny", "Nina",  "Otis",   "Patsy",  "Ray",    "Stevie", "Whitney",
                                  "Carole", "Dusty",  "Marvin", "Cher",  "Bruce",  "Cyndi",  "Lionel", "Shania"};
constexpr const char* kLast[] = {"Brooks", "Carter",  "Dalton", "Ellis",  "Fontaine", "Garner", "Hayes",
                                 "Irving", "Jennings", "Keller", "Lowell", "Monroe",   "Nash",   "Owens",
                                 "Parker", "Quinn",   "Rivers", "Sloane", "Turner",   "Vance",  "Wilder"};
constexpr const char* kBands[] = {"The Night Owls", "Velvet Harbour", "The Tin Kings", "Copper Sky",
                                  "The Lanterns",   "Northbound",     "Sugar Creek",   "The Weekend Saints"};

template <size_t N>
const char* Pick(const char* const (&list)[N], uint32_t value) {
  return list[value % N];
}

// A small, fixed generator: the same catalogue on every machine.
uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace

DemoSong MakeDemoSong(int i) {
  const uint32_t a = Mix(static_cast<uint32_t>(i) * 4 + 1), b = Mix(static_cast<uint32_t>(i) * 4 + 2),
                 c = Mix(static_cast<uint32_t>(i) * 4 + 3);
  DemoSong song;
  song.number = 1001 + i;
  char disc[24];
  std::snprintf(disc, sizeof disc, "VK%04d", 1000 + i / 15);
  song.disc = disc;
  switch (a % 4) {
    case 0: song.title = std::string(Pick(kWords, b)) + " " + Pick(kWords, c); break;
    case 1: song.title = std::string(Pick(kWords, b)) + " " + Pick(kJoins, a >> 8) + " " + Pick(kWords, c); break;
    case 2: song.title = std::string(Pick(kWords, b)); break;
    default: song.title = std::string("My ") + Pick(kWords, b) + " " + Pick(kWords, c >> 7); break;
  }
  song.artist = (c % 5 == 0) ? Pick(kBands, b >> 5) : std::string(Pick(kFirst, c >> 3)) + " " + Pick(kLast, a >> 11);
  return song;
}

jet::Status BuildDemoCatalogue(const std::string& path, int count) {
  const std::string temp = path + ".building";
  std::error_code ignored;
  std::filesystem::remove(temp, ignored);
  try {
    Connection::Create(temp);
    std::unique_ptr<Connection> db = Connection::Open(temp);
    db->CreateTable("Songs", {NewField{"ID", FieldType::kLong, 0, false},
                              NewField{"SongNumber", FieldType::kLong, 0, false},
                              NewField{"DiskID", FieldType::kText, 255, true}, NewField{"Song", FieldType::kText, 255, true},
                              NewField{"Artist", FieldType::kText, 255, true},
                              NewField{"PrintYN", FieldType::kBoolean, 0, false},
                              NewField{"HotlistA", FieldType::kText, 10, true}});
    db->BeginTrans();
    std::unique_ptr<Recordset> rows = db->OpenRecordset("Songs");
    for (int i = 0; i < count; ++i) {
      const DemoSong song = MakeDemoSong(i);
      rows->AddNew();
      rows->SetField("ID", int32_t{i + 1});
      rows->SetField("SongNumber", int32_t{song.number});
      rows->SetField("DiskID", song.disc);
      rows->SetField("Song", song.title);
      rows->SetField("Artist", song.artist);
      rows->SetField("PrintYN", false);
      rows->Update();
    }
    rows->Close();
    db->CommitTrans();
    db->Close();
  } catch (const EngineError& e) {
    std::filesystem::remove(temp, ignored);
    return jet::Error(jet::ErrorCode::kIo, std::string("could not build the demo catalogue: ") + e.what());
  }
  std::filesystem::rename(temp, path, ignored);
  if (ignored) return jet::Error(jet::ErrorCode::kIo, "could not move the demo catalogue to " + path + ": " + ignored.message());
  return jet::Status::Ok();
}

}  // namespace velloran
