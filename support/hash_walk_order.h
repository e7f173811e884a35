// The order in which a QMHashTable walks its keys, computed from the keys'
// hashes and the order of their puts, without building the table.
//
// A table made by QMHashNew(sizeHint, ...) and filled by QMHashPut walks
// bucket by bucket, each chain from its head. Within a bucket the order
// follows from two rules of hash_table.cpp: a put pushes onto its chain's
// head, and growing to twice the buckets re-links each old chain, head first,
// onto the heads of the two new chains that split it, which reverses it. So
// the keys of a final bucket that were put while the table had its final
// size, or an even number of doublings before, come first, newest first; those
// put an odd number of doublings before come after them, oldest first.
//
// A writer that has to reproduce a named element's member order (a snapshot's
// roots) gets it this way with two arrays instead of a table of string keys.
// The result is that of a table whose every growth succeeded: QMHashPut leaves
// a table at its size when memory for a larger bucket array runs out.
//
// Thread-safety: none needed; no state.
#ifndef CCOVER_SUPPORT_HASH_WALK_ORDER_H_
#define CCOVER_SUPPORT_HASH_WALK_ORDER_H_

#include <stdint.h>

// hashes[i] is the hash (the table's hashFn) of the key put i-th, for count
// keys (count >= 0). Fills walk[0 .. count) with the put indexes in the
// order the table would walk them. False when memory runs out (walk is then
// undefined).
bool QMHashWalkOrder(const int32_t* hashes, int32_t count, int32_t sizeHint, int32_t* walk);

#endif  // CCOVER_SUPPORT_HASH_WALK_ORDER_H_
