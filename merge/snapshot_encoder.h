// A model written back in the agent's encoding and with its member order:
// every object element is made by the agent's own makeObjectElement from
// records filled from the model, and every named element is created with the
// agent's capacities, so the same rules decide the order of the members.
//
// ClassRoot and MethodRoot get their members in the reverse of the model's
// order: a member table lists the newest first within a bucket, so a model
// read from a file of up to 512 objects per root is written back byte for byte.
//
// Building comes first and touches no file: values the agent's records can't
// hold (a line number, method count, access flags or line count beyond 16
// bits) fail there, with the reason. No exceptions: the runtime uses this too.
//
// Thread-safety: plain functions; items belong to their caller.
#ifndef CCOVER_MERGE_SNAPSHOT_ENCODER_H_
#define CCOVER_MERGE_SNAPSHOT_ENCODER_H_

#include <string>

#include "merge/snapshot.h"

struct SElem;
struct SEStream;

// SnapRoot, Signature, ClassRoot and MethodRoot.
struct SnapshotItems {
  SElem* items[4] = {nullptr, nullptr, nullptr, nullptr};
};

// False, with the reason in *error and nothing left to free, when the model
// can't be encoded or memory runs out.
bool buildSnapshotItems(const Snapshot& s, SnapshotItems* out, std::string* error);
// The items, then the end marker; failures are the stream's (failed, error).
void writeSnapshotItems(SEStream* stream, const SnapshotItems& items);
void freeSnapshotItems(SnapshotItems* items);

#endif  // CCOVER_MERGE_SNAPSHOT_ENCODER_H_
