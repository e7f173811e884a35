// Coverage counts and figures of the model's classes, by the agent's own rules
// (see model/update_cycle.h): a class's line slots are those of all its
// methods; with none, its figures are taken over its methods instead.
//
// Figures are fixed point: F(n, d) = trunc(double(n) / double(d) * 10000.0),
// the division rounded to double first, so 57 of 100 gives 5699 as the agent
// computes it. Counters are unsigned 32-bit; comparisons are unsigned.
//
// Thread-safety: pure functions.
#ifndef CCOVER_TOOLS_SNP_FIGURES_H_
#define CCOVER_TOOLS_SNP_FIGURES_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "tools/snp/snapshot_model.h"

uint16_t fixedPoint(uint32_t n, uint32_t d);
// A fixed-point figure as a percentage with two decimals: 5699 -> "56.99".
std::string percentText(int32_t figure);

struct ClassCounts {
  // Line slots: all, with hits != 0, with markedHits != 0, with hits != markedHits.
  uint32_t slots = 0;
  uint32_t executed = 0;
  uint32_t atMark = 0;
  uint32_t changed = 0;
  // Methods: all, entered (invocations != 0).
  uint32_t methods = 0;
  uint32_t entered = 0;
  // Over the methods without line slots, as the agent counts them:
  // invocations != 0, markedInvocations != 0, invocations > markedInvocations.
  uint32_t invoked = 0;
  uint32_t invokedAtMark = 0;
  uint32_t invokedSinceMark = 0;
};

ClassCounts countClass(const Snapshot& s, const SnpClass& c);
// Writes the figures that the agent's computeClassFigures writes for these
// counts: over the slots when there are any, else over the methods (the two
// missed counts keep their values then), else nothing.
void applyFigures(const ClassCounts& counts, SnpClass* c);

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
