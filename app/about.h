// What the About window shows: the product's name and version and its version-information texts.
#pragma once

#include <string>

namespace velloran {

struct AboutTexts {
  std::string Caption;     // "About " + the product
  std::string Product;
  std::string Version;     // "Version 2.00.0014"
  std::string Legal;
  std::string Trademarks;
  std::string Company;
  std::string Comments;
  std::string WWW;         // the maker's web site; empty shows an inactive link
};

AboutTexts MakeAboutTexts();

}  // namespace velloran
