#include "platform/dialog_host.h"

namespace velloran {

std::string DesktopFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (true) {
    size_t bar = filter.find('|', at);
    parts.push_back(filter.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    const std::string& description = parts[i];
    std::string patterns = parts[i + 1];
    for (char& c : patterns)
      if (c == ';') c = ' ';
    if (!out.empty()) out += ";;";
    if (description.find('(') != std::string::npos && description.find(parts[i + 1]) != std::string::npos) {
      out += description;
    } else {
      out += description + " (" + patterns + ")";
    }
  }
  return out;
}

}  // namespace velloran
