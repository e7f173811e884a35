// Report figures: percentages and per-line counts over the model; a class's
// counts and figures are merge/class_figures.h's.
//
// Thread-safety: pure functions.
#ifndef CCOVER_TOOLS_SNP_FIGURES_H_
#define CCOVER_TOOLS_SNP_FIGURES_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "merge/class_figures.h"
#include "tools/snp/snapshot_model.h"

// A fixed-point figure as a percentage with two decimals: 5699 -> "56.99".
std::string percentText(int32_t figure);

// One source line of a report: the line slots that carry its number.
struct LineCount {
  int32_t line = 0;
  uint32_t slots = 0;     // line slots on this line
  uint32_t slotsHit = 0;  // of them with hits != 0
  uint32_t hits = 0;      // the largest hit count of them
};
using LineMap = std::map<int32_t, LineCount>;

// Adds the method's line slots to lines.
void addLines(const SnpMethod& m, LineMap* lines);
// The smallest line number of the method's slots; 0 when it has none.
int32_t firstLine(const SnpMethod& m);

#endif  // CCOVER_TOOLS_SNP_FIGURES_H_
