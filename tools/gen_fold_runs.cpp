// Writes jet/text/fold_runs.cpp: the folding of each version worked out from the sort order's
// weights, as runs of units that fold by one step. Run after changing the collation tables:
//   build/bin/gen-fold-runs > jet/text/fold_runs.cpp
#include <cstdio>
#include <vector>

#include "jet/text/fold_runs.h"

namespace {

// Runs covering every unit that does not fold to itself, each once: from the lowest uncovered
// one, the longer of its runs with stride 1 and with stride 2 (letters and their lower case
// often alternate).
std::vector<jet::FoldRun> RunsOf(const std::vector<char16_t>& folding) {
  std::vector<bool> covered(folding.size());
  const auto step_of = [&](size_t u) { return static_cast<int32_t>(folding[u]) - static_cast<int32_t>(u); };
  std::vector<jet::FoldRun> runs;
  for (size_t u = 0; u < folding.size(); ++u) {
    if (folding[u] == u || covered[u]) continue;
    const int32_t step = step_of(u);
    size_t best_stride = 1, best_count = 1;
    for (size_t stride : {1, 2}) {
      size_t count = 1;
      for (size_t v = u + stride; v < folding.size() && count < 0xFFFF && !covered[v] && folding[v] != v && step_of(v) == step; v += stride) ++count;
      if (count > best_count) best_stride = stride, best_count = count;
    }
    for (size_t i = 0; i < best_count; ++i) covered[u + i * best_stride] = true;
    runs.push_back({static_cast<uint16_t>(u), static_cast<uint16_t>(best_count), static_cast<uint8_t>(best_stride), step});
  }
  return runs;
}

void Print(const char* name, const std::vector<jet::FoldRun>& runs) {
  std::printf("constexpr FoldRun %s[] = {\n", name);
  for (size_t i = 0; i < runs.size(); ++i) {
    std::printf("%s{0x%04X, %u, %u, %d},%s", i % 4 == 0 ? "    " : " ", runs[i].first, runs[i].count, runs[i].stride, runs[i].step,
                i % 4 == 3 || i + 1 == runs.size() ? "\n" : "");
  }
  std::printf("};\n\n");
}

}  // namespace

int main() {
  std::printf("// Written by tools/gen_fold_runs.cpp from the sort order's weights; do not edit.\n");
  std::printf("#include \"jet/text/fold_runs.h\"\n\nnamespace jet {\n\nnamespace {\n\n");
  Print("kJet4Runs", RunsOf(jet::FoldingFromWeights(jet::JetVersion::kJet4)));
  Print("kJet3Runs", RunsOf(jet::FoldingFromWeights(jet::JetVersion::kJet3)));
  std::printf("}  // namespace\n\n");
  std::printf("std::span<const FoldRun> FoldRunsOf(JetVersion version) {\n");
  std::printf("  if (version == JetVersion::kJet4) return kJet4Runs;\n  return kJet3Runs;\n}\n\n}  // namespace jet\n");
  return 0;
}
