// The coverage-figure rule, in one place for the agent and the tools.
//
// A class's figures are taken over its line slots (the slots of all its
// methods) when it has any, and otherwise over its methods, counting entries of
// the methods that have no slots. Figures are fixed point:
// F(n, d) = trunc(double(n) / double(d) * 10000.0), the division rounded to
// double first, so 57 of 100 gives 5699. Counters are unsigned 32-bit and
// compared unsigned.
//
// Thread-safety: pure functions.
#ifndef CCOVER_MODEL_FIGURES_H_
#define CCOVER_MODEL_FIGURES_H_

#include <stdint.h>

uint16_t fixedPointFraction(uint32_t n, uint32_t d);

// What the figures of one class are computed from.
struct ClassCounts {
  uint32_t methods = 0;
  // Line slots: all, with hits != 0, with markedHits != 0, hits != markedHits.
  uint32_t slots = 0;
  uint32_t executed = 0;
  uint32_t atMark = 0;
  uint32_t changed = 0;
  // Over the methods without line slots: invocations != 0,
  // markedInvocations != 0, invocations > markedInvocations.
  uint32_t invoked = 0;
  uint32_t invokedAtMark = 0;
  uint32_t invokedSinceMark = 0;
};

// Adds one slot's counters, or one slot-less method's, to counts.
inline void countSlot(uint32_t hits, uint32_t markedHits, ClassCounts* counts) {
  if (hits != 0) counts->executed++;
  if (markedHits != 0) counts->atMark++;
  if (hits != markedHits) counts->changed++;
}
inline void countSlotlessMethod(uint32_t invocations, uint32_t markedInvocations,
                                ClassCounts* counts) {
  if (invocations != 0) counts->invoked++;
  if (markedInvocations != 0) counts->invokedAtMark++;
  if (invocations > markedInvocations) counts->invokedSinceMark++;
}

struct ClassFigures {
  uint16_t coverage;
  uint16_t coverageAtMark;
  uint16_t coverageSinceMark;
  int32_t missedLines;
  int32_t missedLinesSinceMark;
};

enum FigureBasis {
  kFiguresNone,     // no methods: the figures keep their values
  kFiguresMethods,  // over methods: the two missed counts keep their values
  kFiguresSlots,    // over line slots: all five figures
};

// Computes the class's figures from counts; which of them apply is the result.
FigureBasis classFigures(const ClassCounts& counts, ClassFigures* figures);

#endif  // CCOVER_MODEL_FIGURES_H_
