// Writes a model back as a snapshot file, encoded by merge/snapshot_encoder.h.
//
// Values the agent's records can't hold (a line number, method count, access
// flags or line count beyond 16 bits) throw SnpError before anything is
// written; so does a failed write ("cannot write: <reason>"). The file is
// written as OutputFile writes: "-" is standard output, and a failure leaves
// the target as it was.
#ifndef CCOVER_TOOLS_SNP_SNAPSHOT_WRITER_H_
#define CCOVER_TOOLS_SNP_SNAPSHOT_WRITER_H_

#include <string>

#include "tools/snp/snapshot_model.h"

void writeSnapshotFile(const Snapshot& s, const std::string& path);

#endif  // CCOVER_TOOLS_SNP_SNAPSHOT_WRITER_H_
