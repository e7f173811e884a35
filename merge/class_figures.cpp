#include "merge/class_figures.h"

ReportCounts countClass(const Snapshot& s, const SnpClass& c) {
  ReportCounts k;
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    k.methods++;
    if (m.invocations != 0) k.entered++;
    if (!m.lines.empty()) {
      k.slots += static_cast<uint32_t>(m.lines.size());
      for (size_t slot = 0; slot < m.lines.size(); slot++) {
        countSlot(m.hits[slot], m.markedHits[slot], &k);
      }
    } else {
      countSlotlessMethod(m.invocations, m.markedInvocations, &k);
    }
  }
  return k;
}

void applyFigures(const ReportCounts& k, SnpClass* c) {
  ClassFigures f;
  FigureBasis basis = classFigures(k, &f);
  if (basis == kFiguresNone) return;
  c->coverage = f.coverage;
  c->coverageAtMark = f.coverageAtMark;
  c->coverageSinceMark = f.coverageSinceMark;
  if (basis == kFiguresSlots) {
    c->missedLines = f.missedLines;
    c->missedLinesSinceMark = f.missedLinesSinceMark;
  }
}
