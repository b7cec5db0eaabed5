// A benchmark run again as a process of its own (`PROGRAM MODE ARGS...`) to measure what only a
// fresh process shows: its first search, its peak memory. The process prints one figure.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bench {

[[noreturn]] inline void ProcessFailed(const std::string& message) {
  std::fprintf(stderr, "bench: %s\n", message.c_str());
  std::exit(1);
}

// This program run again as `search_bench MODE ARGS...`; returns the one figure it prints, which
// it measures itself (its peak memory: its own high-water mark, not the one of the process that
// started it, which a count kept across exec would give).
inline double FigureOf(const std::vector<std::string>& args) {
  std::error_code error;
  const auto quoted = [](const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  std::string command = quoted(std::filesystem::read_symlink("/proc/self/exe", error).string());
  for (const std::string& a : args) command += " " + quoted(a);
  FILE* pipe = popen(command.c_str(), "r");
  double figure = -1;
  if (pipe == nullptr || std::fscanf(pipe, "%lf", &figure) != 1) figure = -1;
  if (pipe != nullptr && pclose(pipe) != 0) ProcessFailed("the measuring process failed: " + args[0]);
  if (figure < 0) ProcessFailed("the measuring process printed no figure: " + args[0]);
  return figure;
}

inline double PeakMegabytesOf(const std::vector<std::string>& args) { return FigureOf(args) / 1024; }

// The median of the figures of `processes` runs of this program as `args`, each after `before`.
inline double MedianOfProcesses(int processes, const std::vector<std::string>& args, const std::function<void()>& before = nullptr) {
  std::vector<double> figures;
  for (int i = 0; i < processes; ++i) {
    if (before) before();
    figures.push_back(FigureOf(args));
  }
  std::sort(figures.begin(), figures.end());
  return figures[figures.size() / 2];
}

// Reads `paths` (files, or folders whose files are read) whole, so that the next process finds
// them in the system's cache. A machine may give the memory of files nobody has read for a
// minute back on its own (this one does, proactively), and a first search that then reads the
// disk measures the disk, not the search.
inline void ReadIntoSystemCache(const std::vector<std::filesystem::path>& paths) {
  std::vector<char> buffer(size_t{1} << 20);
  const auto read = [&](const std::filesystem::path& file) {
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
      while (std::fread(buffer.data(), 1, buffer.size(), f) == buffer.size()) {
      }
      std::fclose(f);
    }
  };
  std::error_code error;
  for (const std::filesystem::path& path : paths) {
    if (!std::filesystem::is_directory(path, error)) {
      read(path);
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
      if (entry.is_regular_file(error)) read(entry.path());
    }
  }
}

// Prints this process's peak resident memory in kB (VmHWM).
inline void PrintPeakMemory() {
  FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) std::printf("%s", line + 6);
  }
  if (status != nullptr) std::fclose(status);
}

}  // namespace bench
