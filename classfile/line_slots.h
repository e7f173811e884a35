// The line slots of a method, by the runtime's rules: one slot per
// LineNumberTable entry that starts an instruction, in code order (entries of
// one offset in table order, every table of the Code attribute read in turn).
// Entries that can't run (inside an instruction, at the end of the code) have
// no slot, and a leading line 0 at an offset yields to the line after it.
// Which methods have slots at all is ownsLines' rule: a synthetic method only
// when it is a lambda's body, and no method of a synthetic class.
//
// Thread-safety: plain functions.
#ifndef CCOVER_CLASSFILE_LINE_SLOTS_H_
#define CCOVER_CLASSFILE_LINE_SLOTS_H_

#include <stdint.h>

#include <span>
#include <string_view>
#include <vector>

#include "classfile/bytecode.h"
#include "classfile/class_file.h"
#include "classfile/code_rewriter.h"

namespace classfile {

struct LineSlot {
  uint32_t offset;  // of the instruction that starts the line
  uint16_t line;
};

// False when a LineNumberTable is malformed or points past the code.
bool describeLineSlots(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc,
                       std::vector<LineSlot>* out);

// Access flags as the runtime reports them: a Synthetic attribute counts as
// the synthetic flag, as it did before the flag existed.
uint16_t effectiveAccess(uint16_t accessFlags, std::span<const Attribute> attributes);

// Whether a method's lines are its own source lines (and so get slots).
bool ownsLines(uint16_t classAccess, uint16_t methodAccess, std::string_view name);

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_LINE_SLOTS_H_
