// Helpers shared by the engine's tests: where the shared fixtures are, and scratch copies of them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velloran_test {

// The shared fixtures folder, or "" when this checkout has none beside it.
inline std::string SharedDir() {
  std::filesystem::path dir(VELLORAN_SHARED_DIR);
  return std::filesystem::is_directory(dir / "fixtures") ? dir.string() : std::string();
}

inline std::string FixturePath(const std::string& relative) { return SharedDir() + "/fixtures/" + relative; }

// Every fixture database, as paths relative to fixtures/.
inline std::vector<std::string> AllFixtures() {
  std::vector<std::string> out;
  for (const char* folder : {"access", "generated"}) {
    std::filesystem::path dir = std::filesystem::path(SharedDir()) / "fixtures" / folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      if (entry.path().extension() == ".mdb") out.push_back(std::string(folder) + "/" + entry.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A private scratch folder removed when the object goes away.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velloran-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  // Copies a fixture here (writable) and returns the copy's path.
  std::string CopyFixture(const std::string& relative) const {
    std::filesystem::path from = FixturePath(relative);
    std::filesystem::path to = std::filesystem::path(path_) / from.filename();
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return to.string();
  }

 private:
  std::string path_;
};

}  // namespace velloran_test

// Skips the current test when the shared fixtures are not beside this checkout.
#define REQUIRE_SHARED_FIXTURES()                                                          \
  do {                                                                                     \
    if (velloran_test::SharedDir().empty())                                                \
      GTEST_SKIP() << "the shared fixtures folder (../shared) is not beside this checkout"; \
  } while (0)
