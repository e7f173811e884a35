#include "tools/snp/figures.h"

#include <gtest/gtest.h>

#include "model/update_cycle.h"
#include "runtime/testing/cci_testing.h"
#include "snapshot/document.h"
#include "tools/snp/test_support.h"

namespace {

TEST(Figures, PercentTextShowsTwoDecimals) {
  EXPECT_EQ(percentText(5699), "56.99");
  EXPECT_EQ(percentText(10000), "100.00");
  EXPECT_EQ(percentText(5), "0.05");
}

// Random tables: the figures the agent's computeClassFigures wrote into the
// snapshot are what applyFigures computes again from the counters read back.
TEST(Figures, RecomputedFiguresEqualTheAgents) {
  TempDir dir;
  uint32_t seed = 7;
  auto next = [&seed](uint32_t bound) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % bound;
  };
  for (int round = 0; round < 20; round++) {
    cciTestReset();
    std::vector<CClass*> classes;
    for (uint32_t c = 0; c < 12; c++) {
      uint32_t id = 100 * (c + 1);
      int methods = static_cast<int>(next(4));
      std::vector<CciTestMethodSpec> methodShapes;
      for (int i = 0; i < methods; i++) {
        uint16_t slots = static_cast<uint16_t>(c % 3 == 0 ? 0 : next(6));
        methodShapes.push_back(
            {id + 1 + static_cast<uint32_t>(i), nullptr, nullptr, 0, slots, nullptr});
      }
      CClass* k = cciTestAddClass(id, "p/C", "C.java", 0, 1, methodShapes.data(), methods);
      for (int i = 0; i < methods; i++) {
        CMethod& m = k->methods[i];
        m.invocations = next(3) == 0 ? 0 : next(5) + (next(4) == 0 ? 0xFFFFFFF0u : 0);
        m.markedInvocations = next(3) == 0 ? 0 : next(5);
        for (uint16_t s = 0; s < m.lineCount; s++) {
          m.hits[s] = next(3) == 0 ? 0 : next(4);
          m.markedHits[s] = next(2) == 0 ? m.hits[s] : next(3);
        }
      }
      computeClassFigures(k);
      classes.push_back(k);
    }
    std::string path = dir.file("random.snp");
    ASSERT_TRUE(
        writeSnapshotDocument(path.c_str(), nullptr, nullptr, cciGetCObjectsByID(), nullptr));
    Snapshot s = loadSnapshot(path);
    for (const SnpClass& read : s.classes) {
      SnpClass again = read;
      again.coverage = again.coverageAtMark = again.coverageSinceMark = -1;
      again.missedLines = read.missedLines;
      applyFigures(countClass(s, read), &again);
      if (read.methods.empty()) continue;  // no figure is written
      EXPECT_EQ(again.coverage, read.coverage) << "class " << read.id << " round " << round;
      EXPECT_EQ(again.coverageAtMark, read.coverageAtMark) << "class " << read.id;
      EXPECT_EQ(again.coverageSinceMark, read.coverageSinceMark) << "class " << read.id;
      if (read.hasLines) {
        EXPECT_EQ(again.missedLines, read.missedLines) << "class " << read.id;
        EXPECT_EQ(again.missedLinesSinceMark, read.missedLinesSinceMark) << "class " << read.id;
      }
    }
  }
}

TEST(Figures, LinesKeepTheLargestHitCountOfTheirSlots) {
  SnpMethod m;
  m.lines = {5, 6, 6, 7};
  m.hits = {1, 4, 0, 0};
  m.markedHits = {0, 0, 0, 0};
  LineMap lines;
  addLines(m, &lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[6].slots, 2u);
  EXPECT_EQ(lines[6].slotsHit, 1u);
  EXPECT_EQ(lines[6].hits, 4u);
  EXPECT_EQ(lines[7].hits, 0u);
  EXPECT_EQ(firstLine(m), 5);
}

}  // namespace
