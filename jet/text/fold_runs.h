// The folding of each version (text_fold.h), kept as runs of units that fold by one step, so that
// a process makes its table of 65,536 units in a tenth of a millisecond instead of working out
// every unit's weights, which took one. The runs are made from the sort order's weights by tools/gen_fold_runs.cpp
// into fold_runs.cpp; a test checks that they are the folding FoldingFromWeights works out.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/base/format.h"

namespace jet {

// Units first, first + stride, ... (count of them) fold to themselves plus `step`.
struct FoldRun {
  uint16_t first;
  uint16_t count;
  uint8_t stride;
  int32_t step;
};

// Every unit that does not fold to itself lies in exactly one run.
std::span<const FoldRun> FoldRunsOf(JetVersion version);

// The folding of every unit worked out from the sort order's weights: each unit to the lowest
// unit weighed the same.
std::vector<char16_t> FoldingFromWeights(JetVersion version);

}  // namespace jet
