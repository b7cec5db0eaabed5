// Made-up song catalogues for the benchmarks: the same seed gives the same songs everywhere.
//
// Two mixes of words:
//   - kEven: titles of one to five words drawn evenly from a short list, artists from lists of
//     first and last names and bands. Easy on a search: a word like "Love" is in about one song
//     in six, and most words are either very common or absent;
//   - kZipf: words drawn from a vocabulary of some 6,000 words whose frequencies fall with their
//     rank (the k-th most common word is about k times rarer than the first), as words of real
//     titles and names do. Common words ("Love", "The") are in a few percent of the songs, and
//     every density from there down to words found once is present, accented words included.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace bench {

struct Song {
  int64_t id = 0, number = 0;
  std::string disk, title, artist;
  bool print = false;
  bool has_hotlist = false;
};

enum class WordMix { kEven, kZipf };

class SongMaker {
 public:
  explicit SongMaker(WordMix mix);
  Song Next();

  // The kZipf vocabulary, most common word first (empty for kEven).
  const std::vector<std::string>& vocabulary() const { return words_; }

 private:
  std::string ZipfWord(const std::vector<double>& cumulative, const std::vector<std::string>& words);
  Song NextEven();
  Song Numbered(const char* format, unsigned discs);
  Song Flagged(Song s);
  Song NextZipf();

  WordMix mix_;
  std::mt19937_64 random_{20240611};
  int64_t count_ = 0;
  std::vector<std::string> words_, names_;
  std::vector<double> word_weights_, name_weights_;  // cumulative
};

// The file-name stem that tells the mixes apart in a folder of cached catalogues.
std::string MixName(WordMix mix);

}  // namespace bench
