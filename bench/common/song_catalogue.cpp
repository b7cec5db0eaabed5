#include "bench/common/song_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace bench {

namespace {

// The most common words of song titles, roughly in order; the rest of the vocabulary is made up.
const char* const kCommonWords[] = {
    "You", "I", "The", "Love", "Me", "My", "A", "Of", "In", "It", "Your", "Heart", "Night", "Baby", "On", "Don't",
    "Time", "All", "Be", "Girl", "Go", "Is", "One", "To", "Do", "Good", "We", "Day", "Home", "Way", "Man", "Now",
    "What", "Little", "Life", "Dream", "Know", "Blue", "Back", "Can't", "Rain", "Fire", "Dance", "Moon",
    "Song", "Tonight", "Forever", "Kiss", "World", "Sweet", "Angel", "River", "Stars", "Wild", "Heaven", "Tears",
    "Lovers", "Crazy", "Summer", "Road", "Gold", "Soul", "Rock", "Roll", "Lonely", "Fever", "Midnight", "Shadow",
    "Money", "Party", "Street", "City", "Train", "I'm", "Ocean", "Wind", "Thunder", "Lovely", "Smile", "Memories",
    "Yesterday", "Tomorrow", "Always", "Never", "Old", "New", "Days", "Café", "Señor", "Mañana", "Über", "Zoë",
    "Straße", "Ça va", "O'Clock", "Rock-a-bye", "Me & You", "Walking", "Falling", "Sister", "Mother", "Country",
    "Texas", "Memphis", "Hotel", "Radio", "Window", "Bridge", "Water", "Whiskey", "Sugar", "Honey", "Glove",
    "Beloved", "Together", "Other", "There", "Brother", "Father", "Weather", "Feather", "Leather", "Théâtre"};
const char* const kCommonNames[] = {"John", "Mary", "Smith", "Brown", "Johnny", "Elvis", "Lee", "Love",
                                    "Dolly", "Garth", "Nelson", "Cash", "Williams", "Jones", "O'Brien", "Gómez"};
const char* const kOnsets[] = {"b", "br", "c", "ch", "d", "dr", "f", "g", "gr", "h", "j", "k", "l", "m",
                               "n", "p", "pr", "r", "s", "sh", "st", "t", "tr", "v", "w", "z"};
const char* const kVowels[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai", "é", "ö", "ü", "ä"};
const char* const kCodas[] = {"", "", "", "n", "r", "l", "s", "th", "ng", "rd", "ck", "ñ"};

std::vector<double> Cumulative(size_t count) {
  std::vector<double> c(count);
  double sum = 0;
  for (size_t k = 0; k < count; ++k) c[k] = sum += 1.0 / static_cast<double>(k + 1);
  for (double& x : c) x /= sum;
  return c;
}

// A made-up word of one to three syllables, its first letter capital (accented vowels mostly
// inside words, where a capital letter would not be).
std::string MadeUpWord(std::mt19937_64& random) {
  std::string w;
  const int syllables = 1 + static_cast<int>(random() % 3);
  for (int s = 0; s < syllables; ++s) {
    w += kOnsets[random() % std::size(kOnsets)];
    // Accents in about one word in eight.
    w += kVowels[random() % 8 == 0 ? 8 + random() % 4 : random() % 8];
    w += kCodas[random() % std::size(kCodas)];
  }
  w[0] = static_cast<char>(w[0] - 'a' + 'A');
  return w;
}

}  // namespace

std::string MixName(WordMix mix) { return mix == WordMix::kEven ? "songs-v1" : "songs-zipf-v1"; }

SongMaker::SongMaker(WordMix mix) : mix_(mix) {
  if (mix_ != WordMix::kZipf) return;
  std::mt19937_64 words_random(7);
  words_.assign(std::begin(kCommonWords), std::end(kCommonWords));
  while (words_.size() < 6000) words_.push_back(MadeUpWord(words_random));
  names_.assign(std::begin(kCommonNames), std::end(kCommonNames));
  while (names_.size() < 3000) names_.push_back(MadeUpWord(words_random));
  word_weights_ = Cumulative(words_.size());
  name_weights_ = Cumulative(names_.size());
}

// The next song's id and number, and a disc id of `format` with a disc below `discs` and a track
// of 1 to 20, drawn as both mixes always drew them, so that kept catalogues stay the ones made now.
Song SongMaker::Numbered(const char* format, unsigned discs) {
  Song s;
  s.id = ++count_;
  s.number = count_;
  char disk[32];
  std::snprintf(disk, sizeof disk, format, static_cast<unsigned>(random_() % discs),
                static_cast<unsigned>(1 + random_() % 20));
  s.disk = disk;
  return s;
}

// A quarter of the songs flagged for printing, a tenth on a favourites list.
Song SongMaker::Flagged(Song s) {
  s.print = random_() % 4 == 0;
  s.has_hotlist = random_() % 10 == 0;
  return s;
}

Song SongMaker::Next() { return mix_ == WordMix::kEven ? NextEven() : NextZipf(); }

std::string SongMaker::ZipfWord(const std::vector<double>& cumulative, const std::vector<std::string>& words) {
  const double u = std::uniform_real_distribution<double>(0, 1)(random_);
  const size_t k = static_cast<size_t>(std::lower_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin());
  return words[std::min(k, words.size() - 1)];
}

Song SongMaker::NextZipf() {
  Song s = Numbered("SF%05u-%02u", 40000);
  // One to six words, three most often.
  static const int kLengths[] = {1, 1, 2, 2, 2, 3, 3, 3, 3, 4, 4, 5, 6};
  for (int w = kLengths[random_() % std::size(kLengths)]; w > 0; --w) {
    if (!s.title.empty()) s.title += ' ';
    s.title += ZipfWord(word_weights_, words_);
  }
  const uint64_t form = random_() % 20;
  if (form < 3) {
    s.artist = "The " + ZipfWord(name_weights_, names_) + "s";
  } else if (form < 4) {
    s.artist = ZipfWord(name_weights_, names_);
  } else {
    s.artist = ZipfWord(name_weights_, names_) + " " + ZipfWord(name_weights_, names_);
  }
  return Flagged(std::move(s));
}

Song SongMaker::NextEven() {
  static const char* kWords[] = {
      "Love", "Night", "Heart", "Dream", "Summer", "Road", "Baby", "Fire", "Rain", "Dance", "Moon", "Crazy",
      "Home", "Blue", "Gold", "Tonight", "Forever", "Kiss", "World", "Girl", "Boy", "Time", "Life", "Sweet",
      "Angel", "River", "Highway", "Stars", "Sky", "Wild", "Heaven", "Tears", "Lonely", "Dancing", "Fever",
      "Midnight", "Shadow", "Rock", "Roll", "Soul", "Rhythm", "Magic", "Paradise", "Sunshine", "Hearts",
      "Money", "Party", "Street", "City", "Train", "Island", "Ocean", "Wind", "Thunder", "Lightning", "Cry",
      "Smile", "Memories", "Yesterday", "Tomorrow", "Always", "Never", "Little", "Big", "Old", "New", "Days",
      "Lovers", "Lovely", "Glove", "Beloved", "Café", "Señor", "Mañana", "Über", "Zoë", "Straße", "Ça va",
      "O'Clock", "Rock-a-bye", "Don't", "Can't", "I'm", "You", "Me", "My", "Your", "The", "A", "In", "On",
      "Of", "Me & You", "Walking", "Running", "Falling", "Burning", "Shining", "Waiting", "Holding", "Sister",
      "Brother", "Mother", "Father", "Country", "Texas", "California", "Memphis", "Georgia", "Hotel", "Radio",
      "Telephone", "Window", "Door", "Wall", "Bridge", "Water", "Wine", "Whiskey", "Sugar", "Honey", "Candy"};
  static const char* kFirst[] = {"Elvis",  "Madonna", "Frank",  "Whitney", "Aretha", "Dolly", "Kenny", "Reba",
                                 "Billy",  "Luis",    "Johnny", "Patsy",   "Willie", "Tina",  "Marvin", "Stevie",
                                 "Celine", "Shania",  "Garth",  "Bonnie",  "Cher",   "Rod",   "Tom",   "Courtney"};
  static const char* kLast[] = {"Smith",  "Jones",   "Presley", "Brooks", "Rogers", "O'Brien", "Springsteen",
                                "Nelson", "Cash",    "Turner",  "Wonder", "Dion",   "Twain",   "Tyler",
                                "Jackson", "Houston", "Parton", "Miguel", "Petty",  "Stewart", "Love", "Gómez"};
  static const char* kBands[] = {"The Beatles", "The Lovin' Spoonful", "Earth, Wind & Fire", "Love Affair",
                                 "Los Lobos",   "The Eagles",          "Abba",              "Queen",
                                 "The Rolling Stones", "Fleetwood Mac", "Bee Gees",          "The Supremes"};
  auto pick = [&](auto& list) { return std::string(list[random_() % std::size(list)]); };
  Song s = Numbered("SC%04u-%02u", 10000);
  for (int w = 1 + static_cast<int>(random_() % 5); w > 0; --w) {
    if (!s.title.empty()) s.title += ' ';
    s.title += pick(kWords);
  }
  s.artist = random_() % 6 == 0 ? pick(kBands) : pick(kFirst) + " " + pick(kLast);
  return Flagged(std::move(s));
}

}  // namespace bench
