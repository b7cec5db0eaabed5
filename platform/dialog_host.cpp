#include "platform/dialog_host.h"

namespace velloran {

void SplitFileList(const std::string& raw, FileList& files, char separator) {
  files.assign(1, std::string());
  std::string text = raw;
  while (!text.empty() && text.back() == separator) text.pop_back();
  if (text.empty()) return;
  size_t cut = text.find(separator);
  if (cut == std::string::npos) {
    files.push_back(text);
    return;
  }
  std::string folder = text.substr(0, cut);
  while (cut != std::string::npos) {
    size_t next = text.find(separator, cut + 1);
    std::string name = text.substr(cut + 1, next == std::string::npos ? std::string::npos : next - cut - 1);
    if (!name.empty()) files.push_back(folder + "/" + name);
    cut = next;
  }
}

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
