// The bundled samples under coverage, started both ways and counted both ways
// (counting=inline and counting=exact), on the target's JDK: every line and
// entry that a sample counted itself must show the same count in the exit
// snapshot, and code that never ran must show none. Samples whose threads run
// the same lines at once are exact in exact mode; in inline mode two threads
// may lose an increment to each other, so there every line that ran is hit
// and no count exceeds the sample's own.
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <tuple>

#include "gtest/gtest.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

struct SampleCase {
  const char* mainClass;  // simple name in package sample
  int minimumMarks;       // the sample counts at least this many lines
  bool concurrent;        // threads run the same counted lines at once
};

const SampleCase kSamples[] = {
    {"Branches", 6, false}, {"Loops", 8, false},       {"Exceptions", 10, false},
    {"Threads", 3, true},   {"Synchronized", 4, true}, {"Constructors", 8, false},
    {"Lambdas", 5, false},  {"Switch", 12, false},     {"StaticInit", 4, false},
};

enum class Counting { kInline, kExact };

const char* countingOption(Counting counting) {
  return counting == Counting::kInline ? "counting=inline" : "counting=exact";
}

// An exact count must equal the sample's own; a count that may be low must
// still be at least 1 where the line ran, and never above the true count.
void expectCount(int64_t counted, int64_t truth, bool mayBeLow, const std::string& what) {
  if (!mayBeLow || truth == 0) {
    EXPECT_EQ(counted, truth) << what;
    return;
  }
  EXPECT_GE(counted, 1) << what << " ran " << truth << " times";
  EXPECT_LE(counted, truth) << what;
}

using SampleParam = std::tuple<StartMode, Counting, SampleCase>;

class JvmSamples : public ::testing::TestWithParam<SampleParam> {
 protected:
  // Runs the sample and reads its one snapshot; false (with a failure) otherwise.
  bool runSample(const SampleCase& sample, StartMode mode, Counting counting) {
    run_ = runCovered(mode, std::string("sample.") + sample.mainClass, samplesJar(),
                      countingOption(counting));
    EXPECT_EQ(run_.process.exitCode, 0) << describe(run_);
    EXPECT_TRUE(complaints(run_.process).empty()) << complaints(run_.process).front() << "\n"
                                                  << describe(run_);
    if (run_.snapshots.size() != 1) {
      ADD_FAILURE() << "expected one snapshot\n" << describe(run_);
      return false;
    }
    std::string expectedPrefix = run_.dir + "/sample_" + sample.mainClass + "_";
    EXPECT_EQ(run_.snapshots[0].compare(0, expectedPrefix.size(), expectedPrefix), 0)
        << run_.snapshots[0];
    std::string error;
    if (!snapshot_.read(run_.snapshots[0], &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return true;
  }

  CoverageRun run_;
  CoverageSnapshot snapshot_;
};

TEST_P(JvmSamples, SnapshotCountsEqualTheSamplesOwnCounts) {
  StartMode mode = std::get<0>(GetParam());
  Counting counting = std::get<1>(GetParam());
  const SampleCase& sample = std::get<2>(GetParam());
  bool mayBeLow = counting == Counting::kInline && sample.concurrent;
  ASSERT_TRUE(runSample(sample, mode, counting));
  std::vector<LineMark> lines;
  std::vector<EntryMark> entries;
  parseMarks(run_.process.out, &lines, &entries);
  ASSERT_GE(static_cast<int>(lines.size()), sample.minimumMarks) << run_.process.out;
  for (const LineMark& m : lines) {
    const ClassCoverage* c = snapshot_.find(m.className);
    ASSERT_NE(c, nullptr) << m.className << " is not in the snapshot";
    expectCount(c->lineHits(m.line), m.count, mayBeLow,
                m.className + " line " + std::to_string(m.line));
  }
  for (const EntryMark& m : entries) {
    const ClassCoverage* c = snapshot_.find(m.className);
    ASSERT_NE(c, nullptr) << m.className;
    const MethodCoverage* method = c->method(m.method, m.signature);
    ASSERT_NE(method, nullptr) << m.className << "." << m.method << m.signature;
    expectCount(method->invocations, m.count, mayBeLow, m.className + "." + m.method + m.signature);
  }
  // The counting class itself is covered like any other.
  const ClassCoverage* mark = snapshot_.find("sample/Mark");
  ASSERT_NE(mark, nullptr);
  EXPECT_GT(mark->method("print")->invocations, 0);
}

std::string caseName(const ::testing::TestParamInfo<SampleParam>& info) {
  return std::string(std::get<0>(info.param) == StartMode::kAgentPath ? "AgentPath_"
                                                                      : "Launcher_") +
         (std::get<1>(info.param) == Counting::kInline ? "Inline_" : "Exact_") +
         std::get<2>(info.param).mainClass;
}

INSTANTIATE_TEST_SUITE_P(, JvmSamples,
                         ::testing::Combine(::testing::Values(StartMode::kAgentPath,
                                                              StartMode::kLauncher),
                                            ::testing::Values(Counting::kInline, Counting::kExact),
                                            ::testing::ValuesIn(kSamples)),
                         caseName);

// What did not run, and what the records say about the classes.
class JvmSampleDetails : public ::testing::Test {
 protected:
  const ClassCoverage& covered(const char* mainClass, const char* className) {
    run_ = runCovered(StartMode::kAgentPath, std::string("sample.") + mainClass, samplesJar());
    EXPECT_EQ(run_.process.exitCode, 0) << describe(run_);
    EXPECT_EQ(run_.snapshots.size(), 1u) << describe(run_);
    std::string error;
    if (run_.snapshots.empty() || !snapshot_.read(run_.snapshots[0], &error)) {
      ADD_FAILURE() << error << describe(run_);
    }
    const ClassCoverage* c = snapshot_.find(className);
    if (c == nullptr) {
      ADD_FAILURE() << className << " missing\n" << describe(run_);
      static const ClassCoverage empty;
      return empty;
    }
    return *c;
  }

  CoverageRun run_;
  CoverageSnapshot snapshot_;
};

TEST_F(JvmSampleDetails, CodeThatNeverRanHasNoHits) {
  const ClassCoverage& c = covered("Branches", "sample/Branches");
  const MethodCoverage* never = c.method("neverCalled", "(I)I");
  ASSERT_NE(never, nullptr);
  EXPECT_EQ(never->invocations, 0);
  ASSERT_EQ(never->lines.size(), 1u);
  EXPECT_EQ(never->lines[0], sourceLine("Branches.java", "return n * 2;"));
  EXPECT_EQ(never->hits[0], 0);
  EXPECT_EQ(c.lineHits(sourceLine("Branches.java", "\"impossible\"")), 0);
  // The loop ran 24 times: its body line too.
  EXPECT_EQ(c.lineHits(sourceLine("Branches.java", "total += classify(n).length();")), 24);
  EXPECT_EQ(c.method("main")->invocations, 1);
}

TEST_F(JvmSampleDetails, RecordsCarryNamesSourceAndFlags) {
  const ClassCoverage& c = covered("Synchronized", "sample/Synchronized");
  EXPECT_EQ(c.sourceName, "Synchronized.java");
  EXPECT_FALSE(c.isInterface);
  const MethodCoverage* bump = c.method("bump", "()V");
  ASSERT_NE(bump, nullptr);
  EXPECT_EQ(bump->accessFlags & 0x20, 0x20);
  EXPECT_EQ(bump->invocations, 600);
  EXPECT_EQ(c.method("bumpShared", "()V")->accessFlags & 0x28, 0x28);  // static synchronized
  EXPECT_EQ(c.method("bumpBlock")->accessFlags & 0x20, 0);
  // Every method of the class has a record, the lambda's body included.
  bool lambda = false;
  for (const MethodCoverage& m : c.methods) lambda |= m.name.rfind("lambda$", 0) == 0;
  EXPECT_TRUE(lambda);
  EXPECT_NE(c.method("<init>", "()V"), nullptr);
}

TEST_F(JvmSampleDetails, ConstructorsCountEachEntry) {
  const ClassCoverage& base = covered("Constructors", "sample/Constructors$Base");
  EXPECT_EQ(base.method("<init>", "(I)V")->invocations, 7);
  EXPECT_EQ(base.method("<init>", "()V")->invocations, 2);
  const ClassCoverage* derived = snapshot_.find("sample/Constructors$Derived");
  ASSERT_NE(derived, nullptr);
  EXPECT_EQ(derived->method("<init>", "(I)V")->invocations, 5);
  EXPECT_EQ(derived->method("<init>", "()V")->invocations, 1);
  // The field initialiser runs in each Derived constructor that calls super.
  EXPECT_EQ(derived->lineHits(sourceLine("Constructors.java", "cells = new int[size]")), 6);
}

TEST_F(JvmSampleDetails, UnusedLambdaAndUnloadedClassStayUncounted) {
  const ClassCoverage& c = covered("Lambdas", "sample/Lambdas");
  int neverLine = sourceLine("Lambdas.java", "() -> System.out.println(\"never\")");
  EXPECT_EQ(c.lineHits(neverLine), 1);  // the line creating the lambda ran once
  bool foundBody = false;
  for (const MethodCoverage& m : c.methods) {
    if (m.name.rfind("lambda$", 0) == 0 && m.lines.size() == 1 && m.lines[0] == neverLine) {
      foundBody = true;
      EXPECT_EQ(m.invocations, 0);
      EXPECT_EQ(m.hits[0], 0);
    }
  }
  EXPECT_TRUE(foundBody);
  CoverageRun lambdasRun = run_;
  covered("StaticInit", "sample/StaticInit");
  EXPECT_EQ(snapshot_.find("sample/StaticInit$NeverUsed"), nullptr);
  const ClassCoverage* lazy = snapshot_.find("sample/StaticInit$Lazy");
  ASSERT_NE(lazy, nullptr);
  EXPECT_EQ(lazy->method("<clinit>")->invocations, 1);
}

}  // namespace
}  // namespace e2e
