#include "catalogue/disk_info.h"

#include <glob.h>
#include <sys/stat.h>

namespace velloran {

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  // A folder named with a trailing separator is not an entry a directory search finds.
  if (path.back() == '/' || path.back() == '\\') return false;
  if (path.find_first_of("*?") != std::string::npos) {
    glob_t matches{};
    int result = glob(path.c_str(), GLOB_NOSORT | GLOB_NOESCAPE, nullptr, &matches);
    bool found = result == 0 && matches.gl_pathc > 0;
    globfree(&matches);
    return found;
  }
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string FileBaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace velloran
