// Which inline line probes must check their method's touched flag, and which
// may count without looking (Probes.countHit).
//
// The flag tells the probe to hand the event to the agent's handler, which
// queues the class; the agent clears it at each update. A probe may skip the
// check when every path to it comes, by forward straight-line code without a
// call, from a probe that checked: it then runs within a few instructions of
// that check, the same distance that already lies between any probe's check
// and its increment, so the handler still sees a method again within that
// distance of the agent clearing its flag. Paths that can run for long break
// the chain: a call (the agent may update meanwhile), a backward jump (a loop
// never re-entered must still see the flag), an exception handler, a
// subroutine return. The entry probes always check.
//
// Thread-safety: plain functions.
#ifndef CCOVER_CLASSFILE_TOUCHED_CHECKS_H_
#define CCOVER_CLASSFILE_TOUCHED_CHECKS_H_

#include <vector>

#include "classfile/bytecode.h"
#include "classfile/class_file.h"
#include "classfile/code_rewriter.h"
#include "classfile/line_slots.h"

namespace classfile {

// One entry per slot: whether its probe checks the flag. The first slot of an
// offset that no checked probe reaches as above checks; later slots of the
// same offset follow it directly and don't. Into *out, whose capacity is kept.
void slotsThatCheck(const ClassFile& cf, const CodeAttribute& code, const Bytecode& bc,
                    const std::vector<LineSlot>& slots, std::vector<bool>* out);

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_TOUCHED_CHECKS_H_
