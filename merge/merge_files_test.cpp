// The runtime's file merge: the same sums as `snp merge`, and failures that
// name the file at fault and leave no output behind. Built into snp_tests,
// which has the fixture writer.
#include "merge/merge_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tools/snp/merge.h"
#include "tools/snp/test_support.h"

namespace {

TEST(MergeFiles, MatchesSnpMergeOfTheSameInputs) {
  TempDir dir;
  std::string a = dir.file("a.snp");
  ASSERT_TRUE(writeFixture("small", a, 50000));
  std::string out = dir.file("out.snp");
  std::vector<std::string> warnings;
  std::string reason;
  ASSERT_TRUE(mergeSnapshotFiles(a, a, out, &warnings, &reason)) << reason;
  Snapshot merged = loadSnapshot(out);

  std::vector<MergeInput> inputs = {{a, loadSnapshot(a)}, {a, loadSnapshot(a)}};
  std::vector<std::string> toolWarnings;
  Snapshot expected = mergeSnapshots(inputs, &toolWarnings);
  ASSERT_EQ(merged.methods.size(), expected.methods.size());
  for (size_t i = 0; i < merged.methods.size(); i++) {
    EXPECT_EQ(merged.methods[i].invocations, expected.methods[i].invocations);
    EXPECT_EQ(merged.methods[i].hits, expected.methods[i].hits);
  }
  // And those are twice the input's.
  Snapshot once = loadSnapshot(a);
  for (size_t i = 0; i < once.methods.size(); i++) {
    const SnpMethod& m = merged.methods[merged.methodById.at(once.methods[i].id)];
    EXPECT_EQ(m.invocations, addCounters(once.methods[i].invocations, once.methods[i].invocations));
  }
}

TEST(MergeFiles, FailuresNameTheFileAndLeaveNoOutput) {
  TempDir dir;
  std::string good = dir.file("good.snp");
  ASSERT_TRUE(writeFixture("small", good, 50000));
  std::string junk = dir.file("junk.snp");
  std::ofstream(junk) << "not a snapshot at all";
  std::string out = dir.file("out.snp");
  std::vector<std::string> warnings;
  std::string reason;

  EXPECT_FALSE(mergeSnapshotFiles(junk, good, out, &warnings, &reason));
  EXPECT_EQ(reason.rfind(junk + ": ", 0), 0u) << reason;
  EXPECT_FALSE(std::ifstream(out).good());

  EXPECT_FALSE(mergeSnapshotFiles(good, dir.file("missing.snp"), out, &warnings, &reason));
  EXPECT_EQ(reason.rfind("cannot open " + dir.file("missing.snp") + ": ", 0), 0u) << reason;

  // An existing output is never written over: the caller names a fresh file.
  std::ofstream(out) << "taken";
  EXPECT_FALSE(mergeSnapshotFiles(good, good, out, &warnings, &reason));
  EXPECT_EQ(reason.rfind("cannot create " + out + ": ", 0), 0u) << reason;
  EXPECT_EQ(readText(out), "taken");
}

}  // namespace
