#include "tools/snp/figures.h"

#include <stdio.h>

uint16_t fixedPoint(uint32_t n, uint32_t d) {
  // Divide first, then scale, as the agent does: the quotient is rounded to
  // double before the multiplication.
  double quotient = static_cast<double>(n) / static_cast<double>(d);
  return static_cast<uint16_t>(static_cast<int32_t>(quotient * 10000.0));
}

std::string percentText(int32_t figure) {
  char buf[32];
  snprintf(buf, sizeof buf, "%d.%02d", figure / 100, (figure < 0 ? -figure : figure) % 100);
  return buf;
}

ClassCounts countClass(const Snapshot& s, const SnpClass& c) {
  ClassCounts k;
  for (size_t i = 0; i < c.methods.size(); i++) {
    const SnpMethod& m = s.method(c, i);
    k.methods++;
    if (m.invocations != 0) k.entered++;
    if (!m.lines.empty()) {
      k.slots += static_cast<uint32_t>(m.lines.size());
      for (size_t slot = 0; slot < m.lines.size(); slot++) {
        if (m.hits[slot] != 0) k.executed++;
        if (m.markedHits[slot] != 0) k.atMark++;
        if (m.hits[slot] != m.markedHits[slot]) k.changed++;
      }
    } else {
      if (m.invocations != 0) k.invoked++;
      if (m.markedInvocations != 0) k.invokedAtMark++;
      if (m.invocations > m.markedInvocations) k.invokedSinceMark++;
    }
  }
  return k;
}

void applyFigures(const ClassCounts& k, SnpClass* c) {
  if (k.slots > 0) {
    c->coverage = fixedPoint(k.executed, k.slots);
    c->coverageAtMark = fixedPoint(k.atMark, k.slots);
    c->coverageSinceMark = fixedPoint(k.changed, k.slots);
    c->missedLines = static_cast<int32_t>(k.slots - k.executed);
    c->missedLinesSinceMark = static_cast<int32_t>(k.slots - k.changed);
  } else if (k.methods > 0) {
    c->coverage = fixedPoint(k.invoked, k.methods);
    c->coverageAtMark = fixedPoint(k.invokedAtMark, k.methods);
    c->coverageSinceMark = fixedPoint(k.invokedSinceMark, k.methods);
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
