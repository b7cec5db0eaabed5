// The small path questions the administration commands ask. Paths on this platform use "/";
// "\" is taken as a separator too, so paths typed the Windows way work. FileExists and
// FileBaseName live with the catalogue (catalogue/disk_info.h), which needs them first.
#pragma once

#include <string>

#include "catalogue/disk_info.h"

namespace velloran {

// The text after the last "." of `name`; empty when there is none.
std::string ExtensionOf(const std::string& name);
// `path` without trailing blanks, then without its trailing separators.
std::string StripTrailingBackslashes(const std::string& path);
// The part of `path` that names where it is rooted: "//server/share" for a share name, "C:" for
// a drive letter, "/" for an absolute path, else the text before the first separator.
std::string PathRoot(const std::string& path);
// This platform has no short (8.3) names: the path itself, without trailing blanks, when
// something is there; empty when nothing is.
std::string ShortPathName(const std::string& path);
// Whether the root of `path` exists.
bool RootExists(const std::string& path);
// The folder of `path`: an existing folder is its own folder; otherwise the text before the last
// separator (a wildcard pattern is cut before its first "*"). Empty when there is no separator.
std::string FolderOf(const std::string& path);
// The name a leftover backup of the database at `path` has: beside it, its base name + ".bak".
std::string BackupNameOf(const std::string& path);

}  // namespace velloran
