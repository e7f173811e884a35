#include "tools/snp/figures.h"

#include <stdio.h>

std::string percentText(int32_t figure) {
  char buf[32];
  snprintf(buf, sizeof buf, "%d.%02d", figure / 100, (figure < 0 ? -figure : figure) % 100);
  return buf;
}

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

void addLines(const SnpMethod& m, LineMap* lines) {
  for (size_t slot = 0; slot < m.lines.size(); slot++) {
    LineCount& line = (*lines)[m.lines[slot]];
    line.line = m.lines[slot];
    line.slots++;
    if (m.hits[slot] != 0) line.slotsHit++;
    if (m.hits[slot] > line.hits) line.hits = m.hits[slot];
  }
}

int32_t firstLine(const SnpMethod& m) {
  int32_t first = 0;
  for (size_t slot = 0; slot < m.lines.size(); slot++) {
    if (slot == 0 || m.lines[slot] < first) first = m.lines[slot];
  }
  return first;
}
