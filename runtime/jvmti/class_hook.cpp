#include "runtime/jvmti/class_hook.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "classfile/class_file.h"
#include "classfile/instrument.h"
#include "classfile/scratch.h"
#include "runtime/jvmti/class_records.h"
#include "runtime/jvmti/runtime_state.h"
#include "runtime/jvmti/vm.h"

namespace cci_jvmti {
namespace {

std::atomic<bool> instrumenting{false};
// Object IDs: a class takes one, then one per method. 0 is never used.
std::atomic<uint32_t> nextId{1};

// The parsed class, its outline and the slots of its records' block, kept
// for the next (classfile/scratch.h).
struct HookBuffers {
  classfile::ClassFile classFile;
  classfile::ClassOutline outline;
  RecordBlock block;
};

// The new class's bytes, written straight into memory the JVM takes over
// (ClassFileLoadHook's new_class_data), and given back with Deallocate if the
// class is left as it was after all.
struct NewClassData {
  JvmtiMemory<unsigned char> memory;
  jvmtiEnv* jvmti;

  static uint8_t* allocate(void* context, size_t size) {
    NewClassData& self = *static_cast<NewClassData*>(context);
    if (size > 0x7FFFFFFF ||
        self.jvmti->Allocate(static_cast<jlong>(size), self.memory.out()) != JVMTI_ERROR_NONE) {
      return nullptr;  // JVMTI had no memory for it
    }
    return self.memory.get();
  }
};

// The block of a class's records, freed unless it becomes the records'.
// Inline probes name it by address, so it takes its place before the code
// that points at it is written; for exact probes it is laid out once the
// outline is known.
struct PlacedBlock {
  RecordBlock& block;
  explicit PlacedBlock(RecordBlock& kept) : block(kept) { block.methods = nullptr; }
  PlacedBlock(const PlacedBlock&) = delete;
  PlacedBlock& operator=(const PlacedBlock&) = delete;
  ~PlacedBlock() { freeRecordBlock(&block); }

  static uint64_t place(void* context, const std::vector<uint16_t>& slots) {
    RecordBlock& block = static_cast<PlacedBlock*>(context)->block;
    allocateRecordBlock(slots, &block);
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(block.counters));
  }
};

// counterStart: before the records are registered, so nothing reads them yet.
void startCounters(const ClassRecords& records, uint32_t start) {
  for (uint16_t i = 0; i < records.methodCount; i++) {
    CMethod& m = records.methods[i];
    m.invocations = start;
    for (uint16_t slot = 0; slot < m.lineCount; slot++) m.hits[slot] = start;
  }
}

void report(const classfile::ClassOutline& outline, bool poolFull) {
  int nameLength = static_cast<int>(outline.name.size());
  if (poolFull) {
    fprintf(stderr,
            "cci: cannot instrument %.*s (its constant pool has no room for the probes); it is "
            "left as it was\n",
            nameLength, outline.name.data());
    return;
  }
  for (const classfile::MethodOutline& m : outline.methods) {
    if (m.reason == classfile::MethodReason::kNone) continue;
    fprintf(stderr, "cci: method %.*s.%.*s%.*s %s; it is left uncounted\n", nameLength,
            outline.name.data(), static_cast<int>(m.name.size()), m.name.data(),
            static_cast<int>(m.descriptor.size()), m.descriptor.data(),
            classfile::describeReason(m.reason));
  }
}

// The new class's bytes go where the caller's output says; whether it gave
// none when asked is kept here, for a class it can't take is left as it was,
// without records, as if the hook had never run.
struct TrackedOutput {
  classfile::ClassOutput to;
  size_t size = 0;
  bool failed = false;

  static uint8_t* allocate(void* context, size_t size) {
    TrackedOutput& self = *static_cast<TrackedOutput*>(context);
    uint8_t* memory = self.to.allocate(self.to.context, size);
    self.failed = memory == nullptr;
    self.size = size;
    return memory;
  }
};

}  // namespace

HookResult instrumentLoadedClass(const char* name, const uint8_t* data, size_t length,
                                 const classfile::ClassOutput& output, size_t* newLength) {
  RuntimeState& s = state();
  // Kept from class to class: the hook runs for thousands of classes at start-up, on
  // several threads at once, and these grow to the largest class once.
  classfile::Scratch<HookBuffers> lease;
  HookBuffers& buffers = *lease;
  classfile::ClassFile& cf = buffers.classFile;
  if (length == 0 || !classfile::parseClassFile(data, length, &cf)) {
    fprintf(stderr,
            "cci: cannot instrument %s (not a class file it can read); it is left as it "
            "was\n",
            name);
    return HookResult::kLeft;
  }
  if (classfile::classifyClass(cf) != classfile::ClassOutcome::kInstrumented) {
    return HookResult::kLeft;
  }
  uint32_t classId =
      nextId.fetch_add(1 + static_cast<uint32_t>(cf.methods.size()), std::memory_order_relaxed);
  classfile::ClassOutline& outline = buffers.outline;
  PlacedBlock placed(buffers.block);
  classfile::InlineRecords inlineRecords = {&PlacedBlock::place, &placed};
  bool inlineProbes = s.options.inlineCounting && !s.options.emptyProbes && !cf.methods.empty();
  TrackedOutput tracked{output};
  classfile::ClassOutcome outcome =
      classfile::instrumentClass(cf, classId, {&TrackedOutput::allocate, &tracked}, &outline,
                                 inlineProbes ? &inlineRecords : nullptr);
  if (tracked.failed) return HookResult::kLeft;
  if (outcome == classfile::ClassOutcome::kMalformed) {
    fprintf(stderr,
            "cci: cannot instrument %s (its code doesn't hold together); it is left as "
            "it was\n",
            name);
    return HookResult::kLeft;
  }
  if (outcome != classfile::ClassOutcome::kInstrumented &&
      outcome != classfile::ClassOutcome::kUnchanged) {
    return HookResult::kLeft;
  }
  bool poolFull = false;
  for (const classfile::MethodOutline& m : outline.methods) {
    poolFull |= m.reason == classfile::MethodReason::kPoolOverflow;
  }
  report(outline, poolFull && outcome == classfile::ClassOutcome::kUnchanged);

  if (!inlineProbes) allocateRecordBlock(outline, &placed.block);
  ClassRecords records;
  if (!buildClassRecords(outline, classId, placed.block, &records)) {
    fprintf(stderr, "cci: the records of %s don't fit their block; the class is left as it was\n",
            name);
    return HookResult::kLeft;
  }
  if (s.options.counterStart != 0) startCounters(records, s.options.counterStart);
  // Registered before the JVM sees the new bytes: no probe can run before its
  // method's record is in the table.
  placed.block.methods = nullptr;  // the records own it now
  registerClassRecords(records, s.idToCObjects, s.idToCObjectsLock, s.unregisteredClasses,
                       s.unregisteredClassesLock);
  if (s.options.verbose) {
    fprintf(stderr, "cci: instrumented %s (%u methods)\n", name,
            static_cast<unsigned>(records.methodCount));
  }
  if (outcome != classfile::ClassOutcome::kInstrumented) return HookResult::kRecorded;
  *newLength = tracked.size;
  return HookResult::kRewritten;
}

void JNICALL onClassFileLoad(jvmtiEnv* jvmti, JNIEnv*, jclass classBeingRedefined, jobject,
                             const char* name, jobject, jint classDataLength,
                             const unsigned char* classData, jint* newClassDataLength,
                             unsigned char** newClassData) {
  if (classBeingRedefined != nullptr || name == nullptr ||
      !instrumenting.load(std::memory_order_acquire)) {
    return;
  }
  if (!classIncluded(state().options, name)) return;
  if (classDataLength < 0) classDataLength = 0;  // named as unreadable, as an empty class is
  NewClassData newData{JvmtiMemory<unsigned char>(jvmti), jvmti};
  size_t size = 0;
  if (instrumentLoadedClass(name, classData, static_cast<size_t>(classDataLength),
                            {&NewClassData::allocate, &newData}, &size) == HookResult::kRewritten) {
    *newClassDataLength = static_cast<jint>(size);
    *newClassData = newData.memory.release();
  }
}

void enableInstrumenting() { instrumenting.store(true, std::memory_order_release); }

void disableInstrumenting() { instrumenting.store(false, std::memory_order_release); }

}  // namespace cci_jvmti
