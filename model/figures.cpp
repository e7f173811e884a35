#include "model/figures.h"

uint16_t fixedPointFraction(uint32_t n, uint32_t d) {
  // Divide first, then scale: the quotient is rounded to double before the
  // multiplication, which is what makes 57 of 100 give 5699.
  double quotient = static_cast<double>(n) / static_cast<double>(d);
  return static_cast<uint16_t>(static_cast<int32_t>(quotient * 10000.0));
}

FigureBasis classFigures(const ClassCounts& k, ClassFigures* f) {
  if (k.slots > 0) {
    f->coverage = fixedPointFraction(k.executed, k.slots);
    f->coverageAtMark = fixedPointFraction(k.atMark, k.slots);
    f->coverageSinceMark = fixedPointFraction(k.changed, k.slots);
    f->missedLines = static_cast<int32_t>(k.slots - k.executed);
    f->missedLinesSinceMark = static_cast<int32_t>(k.slots - k.changed);
    return kFiguresSlots;
  }
  if (k.methods > 0) {
    f->coverage = fixedPointFraction(k.invoked, k.methods);
    f->coverageAtMark = fixedPointFraction(k.invokedAtMark, k.methods);
    f->coverageSinceMark = fixedPointFraction(k.invokedSinceMark, k.methods);
    return kFiguresMethods;
  }
  return kFiguresNone;
}
