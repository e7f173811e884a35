// The hook's work on a real class without the JVM: the records it registers
// describe the bytes it writes, the inline probes point at those records, and
// a class the output can't take leaves no records behind.
#include "runtime/jvmti/class_hook.h"

#include <stdlib.h>

#include <vector>

#include "cci/records.h"
#include "classfile/bytes.h"
#include "classfile/class_file.h"
#include "classfile/test_class.h"
#include "gtest/gtest.h"
#include "runtime/jvmti/monitor.h"
#include "runtime/jvmti/runtime_state.h"
#include "support/hash_table.h"
#include "support/vector.h"

namespace cci_jvmti {
namespace {

using classfile::Bytes;

// Two methods with lines and one without code, as javac writes them.
Bytes sampleClass() {
  classfile::TestClass tc;
  tc.name = "app/Sample";
  classfile::TestMethod run;
  run.name = "run";
  // 0 iconst_1; 1 istore_0; 2 iconst_0; 3 istore_0; 4 return
  run.code = {0x04, 0x3b, 0x03, 0x3b, 0xb1};
  run.lines = {{0, 10}, {2, 11}, {4, 12}};
  classfile::TestMethod done;
  done.name = "done";
  done.code = {0xb1};
  done.lines = {{0, 20}};
  classfile::TestMethod todo;
  todo.name = "todo";
  todo.access = 0x0401;
  todo.hasCode = false;
  tc.methods = {run, done, todo};
  return tc.build();
}

// The runtime's tables, as Agent_OnLoad makes them, fresh for each test and
// taken away after it: other tests of this binary (the cci interface's) expect
// a runtime that was never loaded as an agent. The records stay, as they do in
// the runtime.
class CciClassHook : public testing::Test {
 protected:
  void SetUp() override {
    RuntimeState& s = state();
    saved_ = {s.idToCObjects, s.idToCObjectsLock, s.unregisteredClasses, s.unregisteredClassesLock,
              s.options.inlineCounting};
    s.idToCObjects = QMHashNew(256, nullptr, nullptr, "IDToCObjects", 0);
    s.idToCObjectsLock = newMonitor("IDToCObjectsLock");
    s.unregisteredClasses = QMNewVector(100);
    s.unregisteredClassesLock = newMonitor("unregisteredClassesLock");
  }
  void TearDown() override {
    RuntimeState& s = state();
    s.idToCObjects = saved_.idToCObjects;
    s.idToCObjectsLock = saved_.idToCObjectsLock;
    s.unregisteredClasses = saved_.unregisteredClasses;
    s.unregisteredClassesLock = saved_.unregisteredClassesLock;
    s.options.inlineCounting = saved_.inlineCounting;
  }
  static RuntimeState& tables() { return state(); }

 private:
  struct Saved {
    QMHashTable* idToCObjects;
    void* idToCObjectsLock;
    QMVector* unregisteredClasses;
    void* unregisteredClassesLock;
    bool inlineCounting;
  };
  Saved saved_ = {};
};

struct Output {
  std::vector<uint8_t> bytes;
  bool refuse = false;
  static uint8_t* allocate(void* context, size_t size) {
    Output& self = *static_cast<Output*>(context);
    if (self.refuse) return nullptr;
    self.bytes.resize(size);
    return self.bytes.data();
  }
};

const CClass* lastClass(RuntimeState& s) {
  int32_t n = QMSize(s.unregisteredClasses);
  if (n == 0) return nullptr;
  const CObject* o = static_cast<const CObject*>(QMElementAt(s.unregisteredClasses, n - 1));
  return o->type == kCObjectClass ? static_cast<const CClass*>(o->record) : nullptr;
}

// Every Long constant of a class file's pool.
std::vector<uint64_t> longConstants(const std::vector<uint8_t>& bytes) {
  classfile::ClassFile cf;
  std::vector<uint64_t> longs;
  if (!classfile::parseClassFile(bytes.data(), bytes.size(), &cf)) return longs;
  for (uint32_t i = 1; i < cf.constants.size(); i++) {
    if (classfile::constantTag(cf, i) != classfile::kLong) continue;
    const uint8_t* p = cf.data + cf.constants[i] + 1;
    longs.push_back((static_cast<uint64_t>(classfile::readU4(p)) << 32) | classfile::readU4(p + 4));
  }
  return longs;
}

TEST_F(CciClassHook, RecordsDescribeTheBytesWritten) {
  RuntimeState& s = tables();
  s.options.inlineCounting = false;
  Bytes original = sampleClass();
  Output out;
  size_t size = 0;
  ASSERT_EQ(instrumentLoadedClass("app/Sample", original.data(), original.size(),
                                  {&Output::allocate, &out}, &size),
            HookResult::kRewritten);
  EXPECT_EQ(size, out.bytes.size());
  const CClass* c = lastClass(s);
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->name, "app/Sample");
  ASSERT_EQ(c->methodCount, 3);
  EXPECT_EQ(c->lineCount, 4);
  const CMethod& run = c->methods[0];
  EXPECT_STREQ(run.name, "run");
  EXPECT_STREQ(run.signature, "()V");
  ASSERT_EQ(run.lineCount, 3);
  EXPECT_EQ(run.lineNumbers[2], 12);
  EXPECT_EQ(c->methods[1].lineNumbers[0], 20);
  EXPECT_EQ(c->methods[2].lineCount, 0);
  EXPECT_EQ(c->methods[2].accessFlags, 0x0401);
  for (uint16_t i = 0; i < 3; i++) {
    EXPECT_EQ(c->methods[i].id, c->id + 1 + i);
    const CObject* o = reinterpret_cast<const CObject*>(QMHashGet(s.idToCObjects, c->id + 1 + i));
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->record, &c->methods[i]);
  }
  // The bytes are classfile's for the IDs the records took.
  classfile::ClassFile cf;
  ASSERT_TRUE(classfile::parseClassFile(original.data(), original.size(), &cf));
  std::vector<uint8_t> expected;
  classfile::ClassOutline outline;
  ASSERT_EQ(classfile::instrumentClass(cf, c->id, &expected, &outline),
            classfile::ClassOutcome::kInstrumented);
  EXPECT_EQ(out.bytes, expected);
  s.options.inlineCounting = true;
}

TEST_F(CciClassHook, InlineProbesPointAtTheRecordsRegistered) {
  RuntimeState& s = tables();
  s.options.inlineCounting = true;
  Bytes original = sampleClass();
  for (int round = 0; round < 2; round++) {  // the second with the first's kept storage
    Output out;
    size_t size = 0;
    ASSERT_EQ(instrumentLoadedClass("app/Sample", original.data(), original.size(),
                                    {&Output::allocate, &out}, &size),
              HookResult::kRewritten);
    const CClass* c = lastClass(s);
    ASSERT_NE(c, nullptr);
    std::vector<uint64_t> longs = longConstants(out.bytes);
    ASSERT_EQ(longs.size(), 1u);
    EXPECT_EQ(longs[0], reinterpret_cast<uintptr_t>(c->methods + c->methodCount));
    EXPECT_EQ(c->methods[0].hits, reinterpret_cast<const uint32_t*>(c->methods + 3));
    EXPECT_EQ(c->methods[1].hits, c->methods[0].hits + 3);
  }
}

TEST_F(CciClassHook, AClassTheOutputCantTakeLeavesNoRecords) {
  RuntimeState& s = tables();
  Bytes original = sampleClass();
  int32_t classes = QMSize(s.unregisteredClasses);
  int32_t objects = QMHashCount(s.idToCObjects);
  for (bool inlineProbes : {true, false}) {
    s.options.inlineCounting = inlineProbes;
    Output out;
    out.refuse = true;
    size_t size = 0;
    EXPECT_EQ(instrumentLoadedClass("app/Sample", original.data(), original.size(),
                                    {&Output::allocate, &out}, &size),
              HookResult::kLeft);
  }
  s.options.inlineCounting = true;
  EXPECT_EQ(QMSize(s.unregisteredClasses), classes);
  EXPECT_EQ(QMHashCount(s.idToCObjects), objects);
  // Nor do bytes that aren't a class.
  uint8_t junk[] = {0xCA, 0xFE, 0xBA, 0xBE, 0x00};
  Output out;
  size_t size = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(instrumentLoadedClass("app/Junk", junk, sizeof junk, {&Output::allocate, &out}, &size),
            HookResult::kLeft);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "cci: cannot instrument app/Junk (not a class file it can read); it is left as it "
            "was\n");
  EXPECT_EQ(QMSize(s.unregisteredClasses), classes);
}

}  // namespace
}  // namespace cci_jvmti
