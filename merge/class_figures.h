// A class's counts read back from the model and fed to the agent's own figure
// rule (model/figures.h), so that reports, the merge and the agent agree.
//
// Thread-safety: pure functions.
#ifndef CCOVER_MERGE_CLASS_FIGURES_H_
#define CCOVER_MERGE_CLASS_FIGURES_H_

#include <stdint.h>

#include "merge/snapshot.h"
#include "model/figures.h"

// The agent's counts of a class, and the methods entered (invocations != 0).
struct ReportCounts : ClassCounts {
  uint32_t entered = 0;
};

ReportCounts countClass(const Snapshot& s, const SnpClass& c);
// Writes the figures that the agent's computeClassFigures writes for these
// counts: over the slots when there are any, else over the methods (the two
// missed counts keep their values then), else nothing.
void applyFigures(const ReportCounts& counts, SnpClass* c);

#endif  // CCOVER_MERGE_CLASS_FIGURES_H_
