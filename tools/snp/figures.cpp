#include "tools/snp/figures.h"

#include <stdio.h>

std::string percentText(int32_t figure) {
  char buf[32];
  snprintf(buf, sizeof buf, "%d.%02d", figure / 100, (figure < 0 ? -figure : figure) % 100);
  return buf;
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
