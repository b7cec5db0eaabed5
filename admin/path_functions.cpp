#include "admin/path_functions.h"

#include <sys/stat.h>

namespace velloran {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string TrimTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

std::string ExtensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string StripTrailingBackslashes(const std::string& path) {
  std::string text = TrimTrailingBlanks(path);
  while (!text.empty() && IsSeparator(text.back())) text.pop_back();
  return text;
}

std::string PathRoot(const std::string& path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // A share name: the server and the share, up to the separator after them.
    size_t server_end = path.find_first_of("/\\", 2);
    if (server_end == std::string::npos) return path;
    size_t share_end = path.find_first_of("/\\", server_end + 1);
    return share_end == std::string::npos ? path : path.substr(0, share_end);
  }
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (!path.empty() && IsSeparator(path[0])) return path.substr(0, 1);
  size_t first = path.find_first_of("/\\");
  return first == std::string::npos ? path : path.substr(0, first);
}

std::string ShortPathName(const std::string& path) {
  std::string text = TrimTrailingBlanks(path);
  struct stat info {};
  if (text.empty() || stat(text.c_str(), &info) != 0) return std::string();
  return text;
}

bool RootExists(const std::string& path) { return !ShortPathName(PathRoot(path)).empty(); }

std::string FolderOf(const std::string& path) {
  std::string text = path;
  if (text.size() == 2 && text[1] == ':') text += '/';
  size_t star = text.find('*');
  if (star != std::string::npos) text.resize(star);
  size_t last = text.find_last_of("/\\");
  if (last == std::string::npos) return std::string();
  while (!text.empty() && IsSeparator(text.back())) text.pop_back();
  struct stat info {};
  if (RootExists(text) && FileExists(text) && stat(text.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return text;
  return text.substr(0, std::min(last, text.size()));
}

std::string BackupNameOf(const std::string& path) {
  // A database named without a folder lies in the working folder, and so does its backup.
  std::string folder = FolderOf(path);
  std::string name = FileBaseName(path) + ".bak";
  return folder.empty() && !(path.size() > 0 && IsSeparator(path[0])) ? name : folder + "/" + name;
}

}  // namespace velloran
