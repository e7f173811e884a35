#include "tools/snp/merge.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/reader.h"
#include "tools/snp/figures.h"
#include "tools/snp/snapshot_writer.h"
#include "tools/snp/test_support.h"

namespace {

// All of a file after its Signature: ClassRoot, MethodRoot, the end marker.
std::vector<uint8_t> afterSignature(const std::string& path) {
  std::vector<uint8_t> bytes = readFileBytes(path);
  std::unique_ptr<SEReader, void (*)(SEReader*)> reader(SEReaderNew(), SEReaderFree);
  SESnapshotView view;
  EXPECT_TRUE(SEReadSnapshot(reader.get(), bytes.data(), bytes.size(), &view));
  if (view.count < 3) return {};
  return std::vector<uint8_t>(bytes.begin() + static_cast<long>(view.items[2].offset), bytes.end());
}

void expectFiguresConsistent(const Snapshot& s) {
  for (const SnpClass& c : s.classes) {
    if (c.kind != SnpKind::kClass || !c.loaded) continue;
    SnpClass again = c;
    applyFigures(countClass(s, c), &again);
    EXPECT_EQ(again.coverage, c.coverage) << c.name;
    EXPECT_EQ(again.coverageAtMark, c.coverageAtMark) << c.name;
    EXPECT_EQ(again.coverageSinceMark, c.coverageSinceMark) << c.name;
    EXPECT_EQ(again.missedLines, c.missedLines) << c.name;
    EXPECT_EQ(again.missedLinesSinceMark, c.missedLinesSinceMark) << c.name;
  }
}

TEST(Merge, WithItselfDoublesEveryCounter) {
  TempDir dir;
  Snapshot s = fixture(dir, "small");
  std::vector<std::string> warnings;
  Snapshot merged = mergeSnapshots({{"a", s}, {"b", s}}, &warnings);
  EXPECT_EQ(
      warnings,
      std::vector<std::string>{
          "b is the same run as a (same Signature and counters): its counts are added twice"});
  writeSnapshotFile(merged, dir.file("merged.snp"));
  Snapshot back = loadSnapshot(dir.file("merged.snp"));
  ASSERT_EQ(back.methods.size(), s.methods.size());
  for (const SnpMethod& m : s.methods) {
    const SnpMethod& d = back.methods[back.methodById.at(m.id)];
    EXPECT_EQ(d.invocations, addCounters(m.invocations, m.invocations)) << m.name;
    EXPECT_EQ(d.markedInvocations, 2 * m.markedInvocations) << m.name;
    for (size_t k = 0; k < m.hits.size(); k++) {
      EXPECT_EQ(d.hits[k], addCounters(m.hits[k], m.hits[k])) << m.name << " slot " << k;
      EXPECT_EQ(d.markedHits[k], 2 * m.markedHits[k]);
    }
  }
  // The counter of 0x80000005 saturates instead of wrapping to 10.
  const SnpClass* helper = findClass(back, "app/tools/Main$Helper");
  EXPECT_EQ(back.method(*helper, 1).invocations, 0xFFFFFFFFu);
  EXPECT_EQ(back.method(*findClass(back, "app/util/Strings"), 0).hits,
            (std::vector<uint32_t>{6, 6, 0}));
  expectFiguresConsistent(back);
  // Doubling changes no fraction here: the same slots ran.
  for (const SnpClass& c : s.classes) {
    EXPECT_EQ(findClass(back, c.name)->coverage, c.coverage) << c.name;
  }
}

TEST(Merge, TwoHalvesMakeTheWhole) {
  TempDir dir;
  Snapshot a = fixture(dir, "half-a");
  Snapshot b = fixture(dir, "half-b");
  ASSERT_TRUE(writeFixture("whole", dir.file("whole.snp")));
  std::vector<std::string> warnings;
  Snapshot merged = mergeSnapshots({{"a", a}, {"b", b}}, &warnings);
  EXPECT_TRUE(warnings.empty());
  writeSnapshotFile(merged, dir.file("merged.snp"));
  // Same objects, counters, figures and member order: the same bytes.
  EXPECT_EQ(afterSignature(dir.file("merged.snp")), afterSignature(dir.file("whole.snp")));
  // And the halves really differ from the whole.
  EXPECT_NE(afterSignature(dir.file("half-a.snp")), afterSignature(dir.file("whole.snp")));
  EXPECT_NE(afterSignature(dir.file("half-b.snp")), afterSignature(dir.file("whole.snp")));
}

TEST(Merge, OneInputIsWrittenBackByteForByte) {
  TempDir dir;
  Snapshot s = fixture(dir, "small");
  std::vector<std::string> warnings;
  writeSnapshotFile(mergeSnapshots({{"a", s}}, &warnings), dir.file("again.snp"));
  EXPECT_EQ(readFileBytes(dir.file("again.snp")), readFileBytes(dir.file("small.snp")));
}

TEST(Merge, DifferingClassIsReportedAndKeptFromTheNewest) {
  TempDir dir;
  Snapshot older = fixture(dir, "small");
  Snapshot newer = older;
  newer.signature = {{"timestamp", "Wed Dec 09 10:00:00 2026\n"}};
  older.signature = {{"timestamp", "Tue Dec 08 10:00:00 2026\n"}};
  // The newer build of Strings has one more line in join().
  SnpClass* strings = const_cast<SnpClass*>(findClass(newer, "app/util/Strings"));
  SnpMethod& join = newer.methods[strings->methods[0]];
  join.lines.push_back(7);
  join.hits.push_back(9);
  join.markedHits.push_back(0);
  std::vector<std::string> warnings;
  // The newer one first on the command line: age decides, not position.
  Snapshot merged = mergeSnapshots({{"new.snp", newer}, {"old.snp", older}}, &warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0],
            "class app/util/Strings differs between old.snp and new.snp; kept from new.snp");
  const SnpClass* kept = findClass(merged, "app/util/Strings");
  EXPECT_EQ(merged.method(*kept, 0).hits, (std::vector<uint32_t>{3, 3, 0, 9})) << "not added";
  EXPECT_EQ(merged.method(*findClass(merged, "app/tools/Main"), 1).hits,
            (std::vector<uint32_t>{2, 8, 0, 6, 2}));
  expectFiguresConsistent(merged);
}

TEST(Merge, ClassesAreMatchedByNameAndCollidingIdsRenumbered) {
  TempDir dir;
  Snapshot a = fixture(dir, "small");
  // Another run that loaded only a class of its own, under Main's IDs.
  Snapshot b;
  b.version = a.version;
  b.snapVersion = a.snapVersion;
  b.signature = {{"timestamp", "Sat Jan 01 10:00:00 2000\n"}};  // older than a
  SnpClass other;
  other.id = 10;
  other.name = "app/Other";
  other.hasSourceName = true;
  other.sourceName = "Other.java";
  other.methodIds = {11};
  other.methods = {0};
  SnpMethod run;
  run.id = 11;
  run.classId = 10;
  run.name = "run";
  run.signature = "()V";
  run.invocations = 4;
  run.lines = {3};
  run.hits = {4};
  run.markedHits = {0};
  b.classes.push_back(other);
  b.methods.push_back(run);
  b.methodById[11] = 0;
  std::vector<std::string> warnings;
  Snapshot merged = mergeSnapshots({{"a", a}, {"b", b}}, &warnings);
  EXPECT_TRUE(warnings.empty());
  writeSnapshotFile(merged, dir.file("merged.snp"));
  Snapshot back = loadSnapshot(dir.file("merged.snp"));
  const SnpClass* main = findClass(back, "app/tools/Main");
  const SnpClass* moved = findClass(back, "app/Other");
  ASSERT_NE(main, nullptr);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(back.method(*main, 1).hits, (std::vector<uint32_t>{1, 4, 0, 3, 1}))
      << "nothing mixed in";
  EXPECT_NE(moved->id, 10);
  EXPECT_GT(moved->id, 81) << "above every ID in use";
  EXPECT_EQ(back.method(*moved, 0).classId, moved->id);
  EXPECT_EQ(back.method(*moved, 0).hits, (std::vector<uint32_t>{4}));
  EXPECT_EQ(moved->coverage, 10000);
}

TEST(Merge, AClassNotLoadedInOneInputAddsNothing) {
  TempDir dir;
  Snapshot s = fixture(dir, "small");
  Snapshot t = s;
  // In t, Strings was registered but never loaded: no methods listed.
  SnpClass* strings = const_cast<SnpClass*>(findClass(t, "app/util/Strings"));
  strings->loaded = false;
  for (size_t index : strings->methods) t.orphanMethods.push_back(index);
  strings->methods.clear();
  strings->methodIds.clear();
  std::vector<std::string> warnings;
  Snapshot merged = mergeSnapshots({{"s", s}, {"t", t}}, &warnings);
  EXPECT_TRUE(warnings.empty()) << warnings[0];
  const SnpClass* kept = findClass(merged, "app/util/Strings");
  ASSERT_TRUE(kept->loaded);
  EXPECT_EQ(merged.method(*kept, 0).hits, (std::vector<uint32_t>{3, 3, 0})) << "counted once";
  EXPECT_EQ(merged.method(*findClass(merged, "app/Gen"), 0).lines, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(merged.method(*findClass(merged, "app/tools/Main"), 0).hits,
            (std::vector<uint32_t>{2}));
  EXPECT_EQ(merged.methods.size(), s.methods.size());
}

TEST(Merge, RefusesDifferentSnapshotVersions) {
  TempDir dir;
  Snapshot a = fixture(dir, "small");
  Snapshot b = a;
  b.version = "CC2";
  std::vector<std::string> warnings;
  EXPECT_THROW(mergeSnapshots({{"a", a}, {"b", b}}, &warnings), SnpError);
}

TEST(Merge, CountersSaturate) {
  EXPECT_EQ(addCounters(1, 2), 3u);
  EXPECT_EQ(addCounters(0xFFFFFFF0u, 0x10u), 0xFFFFFFFFu);
  EXPECT_EQ(addCounters(0xFFFFFFF0u, 0xFu), 0xFFFFFFFFu);
  EXPECT_EQ(addCounters(0xFFFFFFF0u, 0xEu), 0xFFFFFFFEu);
}

TEST(SnapshotWriter, RefusesValuesTheRecordsCantHold) {
  TempDir dir;
  Snapshot s = fixture(dir, "small");
  s.methods[0].lines.assign(s.methods[0].lines.size(), 70000);
  EXPECT_THROW(writeSnapshotFile(s, dir.file("bad.snp")), SnpError);
  EXPECT_FALSE(std::filesystem::exists(dir.file("bad.snp")));
}

}  // namespace
