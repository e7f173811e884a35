// instrumentClass keeps its per-method work from class to class and writes into the
// caller's vector: nothing of one class may show in the next.
#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "classfile/instrument.h"
#include "classfile/scratch.h"
#include "classfile/test_class.h"
#include "gtest/gtest.h"

namespace classfile {
namespace {

struct Instrumented {
  ClassOutcome outcome = ClassOutcome::kMalformed;
  Bytes output;
  std::vector<std::vector<uint16_t>> lines;
  std::vector<MethodOutcome> methods;
  std::string sourceFile;  // "-" for none
};

// Into output, outline and parsed class, which keep whatever the previous
// class left in them.
Instrumented instrumentInto(const Bytes& input, uint32_t classId, Bytes* output,
                            ClassOutline* kept = nullptr, ClassFile* keptClass = nullptr) {
  Instrumented run;
  ClassFile ownClass;
  ClassFile& cf = keptClass != nullptr ? *keptClass : ownClass;
  if (!parseClassFile(input.data(), input.size(), &cf)) return run;
  ClassOutline own;
  ClassOutline& outline = kept != nullptr ? *kept : own;
  run.outcome = instrumentClass(cf, classId, output, &outline);
  run.output = *output;
  run.sourceFile = outline.hasSourceFile ? std::string(outline.sourceFile) : "-";
  for (const MethodOutline& m : outline.methods) {
    run.lines.push_back(m.lines);
    run.methods.push_back(m.outcome);
  }
  return run;
}

// A thread that has instrumented nothing before: the reference.
Instrumented fresh(const Bytes& input, uint32_t classId) {
  Instrumented run;
  std::thread([&] {
    Bytes output;
    run = instrumentInto(input, classId, &output);
  }).join();
  return run;
}

Bytes classWith(int methods, int linesEach, bool withAbstract) {
  TestClass tc;
  tc.name = "C" + std::to_string(methods);
  for (int i = 0; i < methods; i++) {
    TestMethod m;
    m.name = "m" + std::to_string(i);
    for (int k = 0; k < linesEach; k++) {
      m.code.push_back(0x04);  // iconst_1
      m.code.push_back(0x3b);  // istore_0
      m.lines.push_back({static_cast<uint16_t>(2 * k), static_cast<uint16_t>(10 * i + k + 1)});
    }
    m.code.push_back(0xb1);  // return
    tc.methods.push_back(m);
    if (withAbstract && i == 0) {
      uint16_t file = tc.utf8(tc.name + ".java");
      tc.attributes.push_back(
          {"SourceFile", {static_cast<uint8_t>(file >> 8), static_cast<uint8_t>(file)}});
      TestMethod none;
      none.name = "a";
      none.access = 0x0401;
      none.hasCode = false;
      tc.methods.push_back(none);
    }
  }
  return tc.build();
}

// Its second method is too large for even an entry probe: left as it was,
// where the scratch of an earlier class held a rewritten method.
Bytes classWithAMethodLeftAlone() {
  TestClass tc;
  tc.name = "Huge";
  TestMethod small;
  small.code = {0x04, 0x3b, 0xb1};
  small.lines = {{0, 1}};
  tc.methods.push_back(small);
  TestMethod huge;
  huge.name = "huge";
  huge.code.assign(65534, 0x00);  // nop ...
  huge.code.back() = 0xb1;        // return
  huge.lines = {{0, 2}};
  tc.methods.push_back(huge);
  return tc.build();
}

TEST(ScratchReuse, InterleavedClassesOfDifferentSizesComeOutAsOnAFreshThread) {
  // Large first, so that later small classes run on scratch with stale
  // methods beyond their own; then growing again past it.
  const Bytes classes[] = {classWith(12, 9, false), classWith(1, 1, false),
                           classWith(3, 40, true),  classWith(2, 2, true),
                           classWith(20, 3, false), classWithAMethodLeftAlone()};
  Instrumented expected[6];
  for (int i = 0; i < 6; i++) {
    expected[i] = fresh(classes[i], 100 + 50 * i);
    ASSERT_EQ(expected[i].outcome, ClassOutcome::kInstrumented) << i;
  }
  ASSERT_EQ(expected[5].methods[1], MethodOutcome::kNotInstrumented);
  ASSERT_EQ(expected[2].sourceFile, "C3.java");
  ASSERT_EQ(expected[4].sourceFile, "-");
  // One vector, one outline and one parsed class for every class, as the
  // class hook keeps them.
  Bytes output;
  ClassOutline outline;
  ClassFile parsed;
  for (int round = 0; round < 2; round++) {
    for (int i : {0, 1, 2, 5, 3, 4, 1, 5, 3, 0}) {
      Instrumented again = instrumentInto(classes[i], 100 + 50 * i, &output, &outline, &parsed);
      ASSERT_EQ(again.outcome, ClassOutcome::kInstrumented) << i;
      EXPECT_EQ(again.output, expected[i].output) << "class " << i << " round " << round;
      EXPECT_EQ(again.lines, expected[i].lines) << "class " << i;
      EXPECT_EQ(again.methods, expected[i].methods) << "class " << i;
      EXPECT_EQ(again.sourceFile, expected[i].sourceFile) << "class " << i;
    }
  }
}

// The rewriter's marks of widened jumps are kept from method to method: a
// method after one whose first jump was widened must not find its own first
// jump marked. The small method comes out as it does after a method whose
// jump needs no widening (same names, so the same constant pool), and its
// goto stays a goto.
TEST(ScratchReuse, AWidenedJumpLeavesNoMarkForTheNextMethod) {
  TestMethod far;
  far.name = "far";
  far.code = {0xa7, 0x7f, 0xfd};  // goto 32765
  far.code.resize(32765, 0x00);   // nop ...
  far.code.push_back(0xb1);       // return
  far.lines = {{0, 1}, {3, 2}};
  TestMethod shortJump = far;
  shortJump.code = {0xa7, 0x00, 0x03, 0xb1};  // goto 3; return
  TestMethod near;
  near.name = "near";
  near.code = {0xa7, 0x00, 0x03, 0xb1};
  near.lines = {{0, 3}};
  TestClass widened;
  widened.major = 49;
  widened.methods = {far, near};
  TestClass reference = widened;
  reference.methods = {shortJump, near};
  Bytes output;
  ClassOutline outline;
  ClassFile parsed;
  Instrumented after = instrumentInto(widened.build(), 100, &output, &outline, &parsed);
  ASSERT_EQ(after.outcome, ClassOutcome::kInstrumented);
  Bytes farCode = viewMethod(after.output, 0).code;
  ASSERT_GT(farCode.size(), 12u);
  EXPECT_NE(std::find(farCode.begin(), farCode.begin() + 12, 0xc8), farCode.begin() + 12)
      << "the far method's goto was not widened";
  Instrumented expected = fresh(reference.build(), 100);
  ASSERT_EQ(expected.outcome, ClassOutcome::kInstrumented);
  Bytes nearCode = viewMethod(after.output, 1).code;
  EXPECT_EQ(nearCode, viewMethod(expected.output, 1).code);
  EXPECT_EQ(std::count(nearCode.begin(), nearCode.end(), 0xc8), 0);
}

// Threads instrument different classes at once, each with its own scratch.
TEST(ScratchReuse, ConcurrentThreadsAgreeWithTheReference) {
  const Bytes classes[] = {classWith(7, 5, true), classWith(2, 30, false)};
  Instrumented expected[] = {fresh(classes[0], 1), fresh(classes[1], 9)};
  bool same[4] = {};
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&, t] {
      Bytes output;
      bool ok = true;
      for (int i = 0; i < 200; i++) {
        int which = (i + t) % 2;
        ok &= instrumentInto(classes[which], which == 0 ? 1 : 9, &output).output ==
              expected[which].output;
      }
      same[t] = ok;
    });
  }
  for (std::thread& t : threads) t.join();
  for (bool ok : same) EXPECT_TRUE(ok);
}

// A lease gets back what the last one returned, capacity and all; leases
// held at once are distinct; storage returned by a thread that has ended is
// leased again by another.
TEST(ScratchReuse, LeasesShareStorageOnlyOneAtATime) {
  struct Work {
    std::vector<int> values;
  };
  int* first = nullptr;
  {
    Scratch<Work> a;
    a->values.assign(1000, 1);
    first = a->values.data();
  }
  {
    Scratch<Work> again;
    EXPECT_EQ(again->values.data(), first);
    Scratch<Work> other;
    EXPECT_NE(&*other, &*again);
  }
  std::thread([] {
    Scratch<Work> onThread;
    onThread->values.assign(5000, 2);
  }).join();
  Scratch<Work> x;
  Scratch<Work> y;
  EXPECT_TRUE(x->values.size() == 5000 || y->values.size() == 5000);
}

// More leases out at once than the pool's lock-free slots: each is still
// distinct, and all of them come back to be leased again, none made anew.
TEST(ScratchReuse, LeasesPastTheSlotsAreKeptToo) {
  struct Many {
    int marker = 0;
  };
  std::set<Many*> held;
  {
    std::vector<std::unique_ptr<Scratch<Many>>> leases;
    for (int i = 0; i < 40; i++) {
      leases.push_back(std::make_unique<Scratch<Many>>());
      held.insert(&**leases.back());
    }
    EXPECT_EQ(held.size(), 40u);
  }
  std::vector<std::unique_ptr<Scratch<Many>>> again;
  for (int i = 0; i < 40; i++) {
    again.push_back(std::make_unique<Scratch<Many>>());
    EXPECT_EQ(held.count(&**again.back()), 1u) << "lease " << i << " was made anew";
  }
}

// Threads leasing and returning at once never hold the same storage: each
// marks what it holds and finds its own mark still there when it returns it.
// Plain (volatile) marks, so that ThreadSanitizer names any sharing too.
TEST(ScratchReuse, ConcurrentLeasesAreNeverShared) {
  struct Marked {
    volatile int owner = 0;
  };
  std::atomic<int> clashes{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= 6; t++) {
    threads.emplace_back([&clashes, t] {
      for (int i = 0; i < 20000; i++) {
        Scratch<Marked> a;
        Scratch<Marked> b;  // two at a time, so slots fill and the list is used too
        a->owner = t;
        b->owner = -t;
        for (int k = 0; k < 8; k++) {
          if (a->owner != t || b->owner != -t) clashes.fetch_add(1);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(clashes.load(), 0);
}

}  // namespace
}  // namespace classfile
