// Rewrites one method's Code attribute with stack-neutral code inserted at
// chosen instruction offsets, and every offset that points into the code
// moved to match: jumps and switches (a jump that no longer fits in 16 bits
// becomes goto_w/jsr_w, a conditional one is inverted around a goto_w),
// switch padding, the exception table, LineNumberTable, LocalVariableTable,
// LocalVariableTypeTable and StackMapTable (frame offsets, and each
// uninitialized(offset) following its `new`). Frames are moved, never
// recomputed: what is inserted leaves locals and stack as they were.
//
// Where inserted code lands: code inserted at an offset runs on every path
// into that offset (fall-through, jumps, handlers, and the start of an
// exception range or a line); the prefix runs once per invocation, before
// the point that a jump back to offset 0 reaches. Other attributes of the
// Code attribute are copied byte for byte.
//
// Thread-safety: plain functions over the caller's values.
#ifndef CCOVER_CLASSFILE_CODE_REWRITER_H_
#define CCOVER_CLASSFILE_CODE_REWRITER_H_

#include <stdint.h>

#include <utility>
#include <vector>

#include "classfile/bytecode.h"
#include "classfile/class_file.h"
#include "classfile/frames.h"

namespace classfile {

struct CodeAttribute {
  uint16_t maxStack;
  uint16_t maxLocals;
  uint32_t codeStart;  // of the bytecode in the class bytes
  uint32_t codeLength;
  uint32_t exceptionsStart;  // of exception_table_length
  uint16_t exceptionCount;
  std::vector<Attribute> attributes;
};

// False when the attribute's contents don't add up.
bool parseCodeAttribute(const ClassFile& cf, const Attribute& code, CodeAttribute* out);

struct CodeInsertions {
  std::vector<uint8_t> prefix;
  // Code to insert before the instruction at each offset (instruction
  // boundaries, ascending, each at most once): at[k] is the offset and the
  // end in `code` of its bytes, which begin where at[k - 1]'s end. One buffer
  // for all, so that a method's probes cost no allocation each; bytes past
  // the last end are not read.
  std::vector<std::pair<uint32_t, uint32_t>> at;
  std::vector<uint8_t> code;

  uint32_t codeStart(size_t k) const { return k == 0 ? 0 : at[k - 1].second; }
  // The bytes appended to `code` since the previous offset's go before
  // offset (after what it already has, when it is that previous offset).
  void close(uint32_t offset) { close(offset, static_cast<uint32_t>(code.size())); }
  // The same, for code written into `code` up to `end` (not yet its size).
  void close(uint32_t offset, uint32_t end) {
    if (at.empty() || at.back().first != offset) {
      at.push_back({offset, end});
    } else {
      at.back().second = end;
    }
  }
  void add(uint32_t offset, const std::vector<uint8_t>& bytes) {
    code.insert(code.end(), bytes.begin(), bytes.end());
    close(offset);
  }
  uint16_t extraStack;  // operand stack the inserted code needs on top
  // For a frame after an inverted conditional: the method (its implicit first
  // frame) and where Class constants for new frames come from. Without them
  // such a conditional gives kNeedsFrame.
  const Member* method = nullptr;
  ClassIndexer classes = {nullptr, nullptr, nullptr};
};

enum class RewriteStatus {
  kOk,
  kMalformed,   // the code or one of its tables doesn't hold together
  kTooLarge,    // the code would outgrow 65535 bytes (or max_stack 65535)
  kNeedsFrame,  // an inverted conditional needs a frame that can't be worked out
};

// Writes the new contents of the Code attribute (after its length) into out.
RewriteStatus rewriteCode(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc,
                          const CodeInsertions& insertions, std::vector<uint8_t>* out);

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_CODE_REWRITER_H_
