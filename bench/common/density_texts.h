// Search texts by density: words and pieces of words of a catalogue's songs, chosen for the share
// of songs whose title or artist holds them.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bench {

inline std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

inline bool Ascii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\''; });
}

inline int64_t CountIn(const std::vector<std::string>& texts, const std::string& needle, size_t step = 1) {
  int64_t n = 0;
  for (size_t i = 0; i + 1 < texts.size(); i += 2 * step) {
    n += texts[i].find(needle) != std::string::npos || texts[i + 1].find(needle) != std::string::npos;
  }
  return n;
}

// For each density asked for, the candidate text whose share of songs comes closest (by a sample,
// then counted exactly): words and pieces of words of the songs themselves, and two words side by
// side (whole, or the second's first letters), rarer than either where the words are few.
inline std::vector<std::pair<std::string, double>> TextsAtDensities(const std::vector<std::string>& texts,
                                                             const std::vector<double>& densities) {
  std::set<std::string> candidates;
  for (size_t i = 0; i < std::min<size_t>(texts.size(), 4000); ++i) {
    std::string word, before;
    for (char c : texts[i] + " ") {
      if (c != ' ') {
        word += c;
        continue;
      }
      if (!word.empty() && Ascii(word)) {
        candidates.insert(word);
        for (size_t n = 1; n <= 3 && n < word.size(); ++n) candidates.insert(word.substr(0, n));
        if (!before.empty()) {
          candidates.insert(before + " " + word);
          candidates.insert(before + " " + word.substr(0, 1));
        }
      }
      before = !word.empty() && Ascii(word) ? word : "";
      word.clear();
    }
  }
  const size_t step = std::max<size_t>(1, texts.size() / 2 / 20000);
  const double sampled = static_cast<double>(texts.size() / 2 / step);
  std::map<std::string, double> share;
  for (const std::string& c : candidates) share[c] = static_cast<double>(CountIn(texts, c, step)) / sampled;
  std::vector<std::pair<std::string, double>> out;
  for (double want : densities) {
    std::string best;
    double best_distance = 1e9;
    for (const auto& [text, d] : share) {
      const double distance = std::fabs(std::log((d + 1e-7) / want));
      if (distance < best_distance) best = text, best_distance = distance;
    }
    out.emplace_back(best, static_cast<double>(CountIn(texts, best)) / static_cast<double>(texts.size() / 2));
  }
  // In the order of their exact shares, which the sample only comes near.
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  return out;
}


}  // namespace bench
