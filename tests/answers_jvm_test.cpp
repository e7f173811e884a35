// The Java answers, filled into real netscape/util objects in an embedded JVM
// running with -Xcheck:jni.
#include <gtest/gtest.h>

#include "agent/start.h"
#include "answers/answers.h"
#include "model/object_table.h"
#include "model/update_cycle.h"
#include "runtime/testing/cci_testing.h"
#include "support/vector.h"
#include "tests/harness/child.h"
#include "tests/harness/jvm.h"
#include "tests/support/java_values.h"

namespace {

class JvmAnswers : public JvmTest {
 protected:
  void SetUp() override {
    JvmTest::SetUp();
    cciTestReset();
    ASSERT_EQ(startAgent(env(), JNI_FALSE, JNI_FALSE), 0);
  }

  void clearQueue() {
    while (QMSize(objectTables.unregisteredClasses) > 0) {
      QMRemoveLastElement(objectTables.unregisteredClasses);
    }
  }

  // A loaded class whose methods have these line counts; IDs classId + 1, ...
  CClass* addClass(uint32_t classId, std::vector<uint16_t> lineCounts,
                   const char* source = "A.java", uint16_t flags = 1) {
    std::vector<CciTestMethodSpec> methodShapes;
    for (size_t i = 0; i < lineCounts.size(); i++) {
      methodShapes.push_back(
          {static_cast<uint32_t>(classId + 1 + i), nullptr, nullptr, 0, lineCounts[i], nullptr});
    }
    return cciTestAddClass(classId, "app/A", source, flags, 1, methodShapes.data(),
                           static_cast<int32_t>(methodShapes.size()));
  }

  std::string inner(jobject table, uint32_t id) {
    jobject value = tableGet(env(), table, std::to_string(id).c_str());
    std::string text = render(env(), value);
    env()->DeleteLocalRef(value);
    return text;
  }

  std::string innerPutLog(jobject table, uint32_t id) {
    jobject value = tableGet(env(), table, std::to_string(id).c_str());
    std::string text = putLog(env(), value);
    env()->DeleteLocalRef(value);
    return text;
  }
};

TEST_F(JvmAnswers, ClassInfoDescribesEachKindOfEntry) {
  CciTestMethodSpec methods[] = {{11, "a", "()V", 0, 2, nullptr}, {12, "b", "()V", 0, 3, nullptr}};
  cciTestAddClass(10, "app/Loaded", "Loaded.java", 0x21, 1, methods, 2);
  cciTestAddClass(20, "app/Unloaded", "U.java", 1, 0, nullptr, 0);
  CciTestMethodSpec run{31, "run", "()V", 0x401, 0, nullptr};
  cciTestAddInterface(30, "app/Task", "Task.java", 0x601, &run, 1);
  cciTestAddClass(40, "app/Empty", nullptr, 1, 1, nullptr, 0);
  EXPECT_TRUE(hasNewClasses());

  jobject table = newJavaTable(env());
  fillClassInfoAnswer(env(), table);
  EXPECT_EQ(inner(table, 10), "{n=app/Loaded, s=Loaded.java, f=33, m=[11, 12], l=5}");
  EXPECT_EQ(innerPutLog(table, 10), "[n, s, f, m, l]");
  EXPECT_EQ(inner(table, 20), "{n=app/Unloaded, u=1}");
  EXPECT_EQ(inner(table, 30), "{n=app/Task, s=Task.java, f=1537, m=[31]}");
  EXPECT_EQ(inner(table, 40), "{n=app/Empty, f=1, m=[], l=0}");
  EXPECT_EQ(putLog(env(), table), "[40, 30, 20, 10]") << "the entry queued last comes first";
  EXPECT_FALSE(hasNewClasses());
}

TEST_F(JvmAnswers, ClassInfoTakesFortyEntriesPerCall) {
  for (uint32_t i = 0; i < 41; i++) cciTestAddClass(100 + i, "app/C", nullptr, 0, 0, nullptr, 0);
  jobject first = newJavaTable(env());
  fillClassInfoAnswer(env(), first);
  EXPECT_EQ(tableCount(env(), first), 40);
  EXPECT_EQ(render(env(), tableGet(env(), first, "100")), "<null>") << "queued first, taken last";
  EXPECT_TRUE(hasNewClasses());
  jobject second = newJavaTable(env());
  fillClassInfoAnswer(env(), second);
  EXPECT_EQ(putLog(env(), second), "[100]");
  EXPECT_FALSE(hasNewClasses());
  jobject third = newJavaTable(env());
  fillClassInfoAnswer(env(), third);
  EXPECT_EQ(tableCount(env(), third), 0);
}

TEST_F(JvmAnswers, ClassInfoWithoutATableTakesNothing) {
  addClass(10, {1});
  fillClassInfoAnswer(env(), nullptr);
  EXPECT_TRUE(hasNewClasses());
  EXPECT_EQ(QMSize(objectTables.unregisteredClasses), 1);
}

TEST_F(JvmAnswers, DetachReportsEveryClassAgain) {
  addClass(10, {1});
  cciTestAddClass(20, "app/U", nullptr, 0, 0, nullptr, 0);
  cciTestAddInterface(30, "app/I", nullptr, 0x601, nullptr, 0);
  jobject table = newJavaTable(env());
  fillClassInfoAnswer(env(), table);
  EXPECT_FALSE(hasNewClasses());
  detachClasses();
  jobject again = newJavaTable(env());
  fillClassInfoAnswer(env(), again);
  EXPECT_EQ(tableCount(env(), again), 2);
  EXPECT_EQ(render(env(), tableGet(env(), again, "30")), "<null>");
}

TEST_F(JvmAnswers, ClassCoverageGivesFixedPointFigures) {
  clearQueue();
  CClass* cls = addClass(10, {60, 40});
  for (int k = 0; k < 57; k++) cls->methods[0].hits[k] = 1;
  CClass* noLines = addClass(20, {0, 0});
  noLines->methods[1].invocations = 1;
  noLines->hasLines = 0;
  cciTestAddInterface(30, "app/I", nullptr, 0x601, nullptr, 0);
  jobject table = newJavaTable(env());
  jintArray ids = javaInts(env(), {10, 30, 20});
  fillClassCoverageAnswer(env(), table, ids);
  EXPECT_EQ(inner(table, 10), "{c=5699, cd=5699, cm=0, ml=43, mld=43}");
  EXPECT_EQ(innerPutLog(table, 10), "[c, cd, cm, ml, mld]");
  EXPECT_EQ(inner(table, 20), "{c=5000, cd=5000, cm=0}");
  EXPECT_EQ(putLog(env(), table), "[10, 20]") << "interfaces yield no entry";
}

TEST_F(JvmAnswers, ClassCoverageLeavesTheQueueAlone) {
  addClass(10, {2});
  noteTouchedClass(10);
  jobject table = newJavaTable(env());
  fillClassCoverageAnswer(env(), table, javaInts(env(), {10}));
  EXPECT_EQ(QMSize(objectTables.updatedClasses), 1);
  fillClassCoverageAnswer(env(), table, javaInts(env(), {}));
  fillClassCoverageAnswer(env(), table, nullptr);
  EXPECT_EQ(tableCount(env(), table), 1);
}

TEST_F(JvmAnswers, AllClassCoverageDrainsTheTouchedClasses) {
  CClass* a = addClass(10, {4});
  addClass(20, {4});
  a->methods[0].hits[0] = 1;
  noteTouchedClass(10);
  fillAllClassCoverageAnswer(env(), nullptr);
  EXPECT_EQ(QMSize(objectTables.updatedClasses), 1) << "no table: nothing drained";
  jobject table = newJavaTable(env());
  fillAllClassCoverageAnswer(env(), table);
  EXPECT_EQ(render(env(), table), "{10={c=2500, cd=2500, cm=0, ml=3, mld=3}}");
  jobject empty = newJavaTable(env());
  fillAllClassCoverageAnswer(env(), empty);
  EXPECT_EQ(tableCount(env(), empty), 0);

  markClasses();
  jobject marked = newJavaTable(env());
  fillAllClassCoverageAnswer(env(), marked);
  EXPECT_EQ(inner(marked, 10), "{c=2500, cd=0, cm=2500, ml=3, mld=4}");
  EXPECT_EQ(inner(marked, 20), "{c=0, cd=0, cm=0, ml=4, mld=4}");
}

TEST_F(JvmAnswers, MethodInfoListsEveryMethodWithPercentages) {
  CciTestMethodSpec methods[] = {{11, "run", "(I)V", 0, 3, nullptr},
                                 {12, "none", "()V", 0, 0, nullptr},
                                 {13, "wide", "()I", 0, 32, nullptr}};
  CClass* cls = cciTestAddClass(10, "app/M", "M.java", 1, 1, methods, 3);
  cls->methods[0].hits[1] = 7;
  cls->methods[0].markedHits[1] = 7;
  cls->methods[0].hits[2] = 2;
  cls->methods[0].invocations = 9;
  cls->methods[0].markedInvocations = 4;
  cls->methods[2].hits[31] = 1;
  for (int i = 0; i < 3; i++) cls->methods[i].touched = 1;
  jobject table = newJavaTable(env());
  fillMethodAnswer(env(), table, javaInts(env(), {10}), true);
  EXPECT_EQ(inner(table, 11),
            "{n=run, s=(I)V, cid=10, l=[1, 2, 3], i=9, im=4, c=66.67, cd=33.33, ml=1, mld=2, "
            "cpl=[0, 7, 2], cplm=[0, 7, 0]}");
  EXPECT_EQ(innerPutLog(table, 11), "[n, s, cid, l, i, im, c, cd, ml, mld, cpl, cplm]");
  EXPECT_EQ(inner(table, 12), "{n=none, s=()V, cid=10, i=0, im=0}");
  EXPECT_NE(inner(table, 13).find("c=3.13, cd=3.13"), std::string::npos) << inner(table, 13);
  EXPECT_EQ(putLog(env(), table), "[11, 12, 13]");
  for (int i = 0; i < 3; i++) EXPECT_EQ(cls->methods[i].touched, 0);

  jobject coverage = newJavaTable(env());
  fillMethodAnswer(env(), coverage, javaInts(env(), {10}), false);
  EXPECT_EQ(inner(coverage, 11),
            "{i=9, im=4, c=66.67, cd=33.33, ml=1, mld=2, cpl=[0, 7, 2], cplm=[0, 7, 0]}");
  EXPECT_EQ(inner(coverage, 12), "{i=0, im=0}");
}

TEST_F(JvmAnswers, MethodAnswerLooksTheLastClassUpOnce) {
  // IDs of their own: the last class record outlives the tables of other tests.
  addClass(710, {1});
  addClass(720, {1});
  jobject table = newJavaTable(env());
  int64_t before = cciTestMonitorEntries(objectTables.idToCObjectsLock);
  fillMethodAnswer(env(), table, javaInts(env(), {710, 710}), false);
  fillMethodAnswer(env(), table, javaInts(env(), {710}), true);
  EXPECT_EQ(cciTestMonitorEntries(objectTables.idToCObjectsLock), before + 1);
  EXPECT_EQ(putLog(env(), table), "[711, 711, 711]") << "the same class twice is put twice";
  fillMethodAnswer(env(), table, javaInts(env(), {720}), true);
  EXPECT_EQ(cciTestMonitorEntries(objectTables.idToCObjectsLock), before + 2);
  EXPECT_EQ(lastClassRecord()->id, 720u);
  fillMethodAnswer(env(), nullptr, nullptr, true);
  fillMethodAnswer(env(), nullptr, javaInts(env(), {}), false);
}

TEST_F(JvmAnswers, MethodAnswerWithoutATableStillClearsTouched) {
  CClass* cls = addClass(10, {1});
  cls->methods[0].touched = 1;
  fillMethodAnswer(env(), nullptr, javaInts(env(), {10}), false);
  EXPECT_EQ(cls->methods[0].touched, 0);
}

TEST_F(JvmAnswers, LargeClassHoldsFewLocalReferences) {
  // 5000 methods of 50 slots: every key, value, vector and inner table is
  // released as soon as it is stored, so -Xcheck:jni has nothing to say.
  std::vector<CciTestMethodSpec> methodShapes(5000);
  for (uint32_t i = 0; i < methodShapes.size(); i++)
    methodShapes[i] = {1001 + i, "m", "()V", 0, 50, nullptr};
  cciTestAddClass(1000, "app/Huge", "Huge.java", 1, 1, methodShapes.data(), 5000);
  jobject table = newJavaTable(env());
  fillMethodAnswer(env(), table, javaInts(env(), {1000}), true);
  EXPECT_EQ(tableCount(env(), table), 5000);
  jobject info = newJavaTable(env());
  fillClassInfoAnswer(env(), info);
  EXPECT_EQ(tableCount(env(), info), 1);
}

}  // namespace

// Fatal paths of the method answers: both messages end without a newline.
namespace {

JNIEnv* startInChild() {
  JNIEnv* env = jvmEnv();
  if (env == nullptr) {
    fprintf(stderr, "no JVM: %s\n", jvmError().c_str());
    return nullptr;
  }
  registerCoverMainNatives(env);
  cciTestReset();
  startAgent(env, JNI_FALSE, JNI_FALSE);
  cciTestAddInterface(30, "app/I", nullptr, 0x601, nullptr, 0);
  CciTestMethodSpec methodShape{11, "m", "()V", 0, 1, nullptr};
  CClass* broken = cciTestAddClass(40, "app/Broken", nullptr, 0, 1, &methodShape, 1);
  broken->methods = nullptr;
  return env;
}

}  // namespace

CCOVER_CHILD_SCENARIO(methodAnswerUnknownClass) {
  JNIEnv* env = startInChild();
  fillMethodAnswer(env, newJavaTable(env), javaInts(env, {999}), true);
}
CCOVER_CHILD_SCENARIO(methodAnswerInterface) {
  JNIEnv* env = startInChild();
  fillMethodAnswer(env, newJavaTable(env), javaInts(env, {30}), false);
}
CCOVER_CHILD_SCENARIO(methodAnswerNoMethodArray) {
  JNIEnv* env = startInChild();
  fillMethodAnswer(env, newJavaTable(env), javaInts(env, {40}), false);
}

namespace {

TEST(JvmAnswersFatal, MethodAnswersEndOnBadClassIds) {
  struct Case {
    const char* scenario;
    const char* out;
  } cases[] = {
      {"methodAnswerUnknownClass", "CC_C: Inconsistency No object for class 999"},
      {"methodAnswerInterface", "CC_C: Inconsistency: Object 30 of type 3"},
      {"methodAnswerNoMethodArray",
       "CC_C:  Inconsistency: method 0 not found in method coverage.\n"},
  };
  for (const Case& c : cases) {
    ChildResult r = runChild(c.scenario);
    EXPECT_EQ(r.exitCode, 1) << describeChild(r);
    EXPECT_EQ(r.out, c.out) << c.scenario;
    EXPECT_EQ(r.err, "") << c.scenario;
  }
}

}  // namespace
