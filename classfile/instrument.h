// Instruments one class for the runtime: a call to a probe of
// quorvatix/cci/Probes at each line slot and at method entry, and an outline
// of the class's methods for the runtime's records.
//
// Per method (ID classId + 1 + its index):
//   - with slots: line(id, slot) before the instruction of each slot;
//     entryLine(id, 0) instead for a slot at offset 0 when no jump leads
//     there; otherwise entry(id) once, before every jump target;
//   - without slots of its own (synthetic, or in a synthetic class):
//     entry(id) only.
// A method whose probes don't fit (64 KiB of code, the class's 65535 slots,
// a jump that would need a frame the class lacks) gets entry(id) only and no
// slots; one where even that doesn't fit, or whose constants don't fit in the
// pool, is left as it was and marked not instrumented. A malformed class is
// never changed; the caller hands back the original bytes.
//
// Thread-safety: plain functions, safe on any number of threads at once; the
// outline's texts point into the class bytes given. instrumentClass keeps its
// per-method work from one class to the next in storage leased from a pool
// (scratch.h: memory of the size of the largest classes instrumented at
// once); the callbacks it takes run on the caller's thread, during the call.
#ifndef CCOVER_CLASSFILE_INSTRUMENT_H_
#define CCOVER_CLASSFILE_INSTRUMENT_H_

#include <stddef.h>
#include <stdint.h>

#include <string_view>
#include <vector>

#include "classfile/class_file.h"

namespace classfile {

enum class MethodOutcome : uint8_t {
  kCounted,          // probes as designed (possibly none: no code)
  kEntryOnly,        // its lines didn't fit; its entry is counted
  kNotInstrumented,  // left as it was although it has code
};

enum class MethodReason : uint8_t {
  kNone,
  kTooLarge,      // the code would outgrow 64 KiB
  kTooManySlots,  // the class would hold more than 65535 line slots
  kNeedsFrame,    // a widened conditional jump would need a new stack map frame
  kPoolOverflow,  // the constant pool has no room for the probe's constants
};

struct MethodOutline {
  std::string_view name;
  std::string_view descriptor;
  uint16_t accessFlags;
  std::vector<uint16_t> lines;  // source line of each slot
  MethodOutcome outcome;
  MethodReason reason;
};

struct ClassOutline {
  std::string_view name;
  bool hasSourceFile;
  std::string_view sourceFile;
  uint16_t accessFlags;
  std::vector<MethodOutline> methods;
};

enum class ClassOutcome {
  kInstrumented,  // bytes hold the new class
  kUnchanged,     // nothing could be inserted (pool full); the outline says why
  kSkipped,       // a module or package descriptor: not the runtime's business
  kMalformed,     // not a class file this module can rewrite
};

// Whether a parsed class is one to instrument (kInstrumented) or to skip.
ClassOutcome classifyClass(const ClassFile& cf);

// Where inline probes count: the runtime's block of a class's records, laid
// out by the caller once the slots of every method are known. The method
// records lie one after another and end where the counters begin: one 32-bit
// word per line slot, method after method in the class's order.
struct InlineRecords {
  // Called once, before any probe is written, with the slots each method
  // gets (0 for one without slots of its own). Returns the address of the
  // first counter, which the probes take as one Long constant; never 0.
  uint64_t (*place)(void* context, const std::vector<uint16_t>& slots);
  void* context;
};

// Instruments a class that classifyClass accepted. The caller reserves
// IDs classId .. classId + methods.size().
//
// Without inlineRecords, the probes are the exact ones above. With it,
// every probe calls the inline variant instead, which takes the counters'
// address C (one Long constant per class), the distance k of the method's
// record back from C in records (methods.size() - index), and the class-wide
// number of the slot's counter: countLine(C, k, counter),
// countEntryLine(C, k, counter) and countEntry(C, k). All three are
// constants, so compiled code addresses the record and the counter directly;
// small classes push them with one-byte instructions.
// *outline is overwritten; its capacity is reused, so a caller that
// instruments many classes may keep one for all of them.
//
// The new class goes where output.allocate says, called once with the class's
// exact size when there is one to write (kInstrumented). When it returns null
// the outcome is kUnchanged; the caller knows why and should not take the
// outline for that of the class loaded.
struct ClassOutput {
  uint8_t* (*allocate)(void* context, size_t size);
  void* context;
};
ClassOutcome instrumentClass(const ClassFile& cf, uint32_t classId, const ClassOutput& output,
                             ClassOutline* outline, const InlineRecords* inlineRecords = nullptr);

// The same into *bytes, whose capacity is reused as the outline's is.
ClassOutcome instrumentClass(const ClassFile& cf, uint32_t classId, std::vector<uint8_t>* bytes,
                             ClassOutline* outline, const InlineRecords* inlineRecords = nullptr);

// Text for a reason, for messages: "is too large to instrument", ...
const char* describeReason(MethodReason reason);

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_INSTRUMENT_H_
