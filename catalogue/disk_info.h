// Small questions about paths.
#pragma once

#include <string>

namespace velloran {

// Whether something is at `path`: an existing file, an existing folder named without a trailing
// separator, or a wildcard pattern (* and ?) that matches at least one entry. False for "".
bool FileExists(const std::string& path);

// The file name of `path` (the text after its last "\" or "/") without its last extension; a name
// without "." is returned whole.
std::string FileBaseName(const std::string& path);

}  // namespace velloran
