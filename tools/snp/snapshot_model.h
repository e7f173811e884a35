// The snapshot model (merge/snapshot.h) as the tool uses it: files read whole
// and every failure thrown as SnpError with a one-line text (the CLI adds the
// path). `snp dump` alone works on the raw view, so that it can show files the
// model refuses.
//
// Thread-safety: a Snapshot is a plain value; load one per thread.
#ifndef CCOVER_TOOLS_SNP_SNAPSHOT_MODEL_H_
#define CCOVER_TOOLS_SNP_SNAPSHOT_MODEL_H_

#include <stdint.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "merge/snapshot.h"

struct SESnapshotView;

// Every failure the tool reports: one line, no trailing newline.
class SnpError : public std::runtime_error {
 public:
  explicit SnpError(const std::string& what) : std::runtime_error(what) {}
};

// Reads the whole file and decodes it. Throws SnpError ("cannot open: <reason>",
// "truncated ...", "not a snapshot: ...").
Snapshot loadSnapshot(const std::string& path);
// The writer counts a file's bytes in 32 bits: no snapshot is longer.
constexpr size_t kMaxSnapshotBytes = 0x7FFFFFFF;
// The file's bytes. Only a regular file or a pipe is read: anything else (a
// device, a folder) is refused before it is opened. A regular file is read up
// to its size, a pipe to its end. Throws SnpError when the file can't be opened
// or read, or holds more than maxBytes.
std::vector<uint8_t> readFileBytes(const std::string& path, size_t maxBytes = kMaxSnapshotBytes);
// The model of a decoded view; throws SnpError when its shape is not the agent's.
Snapshot snapshotFromView(const SESnapshotView& view);
// Decodes bytes into the model (the fuzz target's entry point as well).
Snapshot snapshotFromBytes(const uint8_t* data, size_t size);

#endif  // CCOVER_TOOLS_SNP_SNAPSHOT_MODEL_H_
