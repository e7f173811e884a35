// Stack map frames in full: decodes a StackMapTable into the complete state
// at each frame, and works out the state after a conditional jump by running
// the verifier's type rules from the nearest frame before it. The rewriter
// needs that state only where it inverts a conditional around a goto_w: the
// instruction after the goto_w becomes a jump target, so it needs a frame.
//
// Thread-safety: plain values.
#ifndef CCOVER_CLASSFILE_FRAMES_H_
#define CCOVER_CLASSFILE_FRAMES_H_

#include <stdint.h>

#include <string_view>
#include <vector>

#include "classfile/bytecode.h"
#include "classfile/class_file.h"

namespace classfile {

enum VerificationTag : uint8_t {
  kTop = 0,
  kIntegerType = 1,
  kFloatType = 2,
  kDoubleType = 3,
  kLongType = 4,
  kNullType = 5,
  kUninitializedThis = 6,
  kObjectType = 7,
  kUninitializedType = 8,
};

struct VType {
  uint8_t tag;
  uint16_t data;  // Object: constant index of its class; Uninitialized: offset of its `new`
  bool operator==(const VType& o) const { return tag == o.tag && data == o.data; }
};

// A frame as the StackMapTable lists it: a long or double is one entry.
struct FrameState {
  uint32_t offset;
  std::vector<VType> locals;
  std::vector<VType> stack;
};

// Where new Class constants come from: returns the index of a Class constant
// naming `name` (internal form or array descriptor), 0 when the pool is full.
struct ClassIndexer {
  uint16_t (*classIndex)(void* context, std::string_view name);
  void* context;
  // The name of a Class constant, the class's own or one classIndex added.
  std::string_view (*className)(void* context, uint16_t index);
};

// The implicit frame at offset 0 of a method; false for a bad descriptor.
bool initialFrame(const ClassFile& cf, const Member& method, const ClassIndexer& classes,
                  FrameState* out);

// Every frame of a StackMapTable's contents, in order, in full.
bool decodeStackMap(const uint8_t* contents, uint32_t length, const FrameState& initial,
                    std::vector<FrameState>* out);

// The state on the fall-through path of the conditional jump `branch`, from
// the frame `from` (at or before it, with nothing but fall-through between).
// False where the rules can't say (a subroutine, an unknown constant).
bool stateAfterConditional(const ClassFile& cf, const Bytecode& bc, const FrameState& from,
                           uint32_t branch, const ClassIndexer& classes, FrameState* out);

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_FRAMES_H_
