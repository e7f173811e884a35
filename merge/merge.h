// The merge of snapshots of one program, shared by `snp merge` and the
// runtime's destfile append: it adds up their counters.
//
// Classes are matched by name (and, for classes of one name that several
// class loaders define, by their rank in object-ID order), not by object ID:
// cci numbers objects in load order, which need not repeat between runs. Two
// classes are the same when kind, name, source file, access flags, line count
// and every method (name, descriptor, access flags, line numbers, in order)
// agree; then their invocation and hit counters, and their marked copies, are
// added (saturating at 2^32 - 1 rather than wrapping to "never run"). A class
// that differs is reported and kept from the newest input alone; a class that
// is not loaded in one input adds nothing there.
//
// Inputs are ordered by their Signature time stamps (ties, and stamps that
// can't be read, by their order on the command line); the newest gives the
// Signature and the object IDs of the result. Objects from other inputs whose
// IDs are taken are renumbered above the largest ID in use. Methods that no
// class lists are left out (and reported). The figures of every class are
// recomputed from the added counters by the agent's rules.
#ifndef CCOVER_MERGE_MERGE_H_
#define CCOVER_MERGE_MERGE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "merge/snapshot.h"

struct MergeInput {
  std::string name;  // for messages: the file's path
  Snapshot snapshot;
};

// Inputs in command-line order. Messages about differing classes and left-out
// methods are appended to warnings, one line each. False, with a one-line
// reason in *error, when there are no inputs, when they are of different
// snapshot versions, or when the objects can't be numbered in 31 bits.
bool mergeSnapshots(const std::vector<MergeInput>& inputs, Snapshot* out,
                    std::vector<std::string>* warnings, std::string* error);

// a + b, or 2^32 - 1 when that does not fit.
uint32_t addCounters(uint32_t a, uint32_t b);

#endif  // CCOVER_MERGE_MERGE_H_
