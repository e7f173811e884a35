// Writes a model back as a snapshot file, in the agent's encoding and with its
// member order: every object element is made by the agent's own
// makeObjectElement from records filled from the model, and every named
// element is created with the agent's capacities, so the same rules decide the
// order of the members.
//
// ClassRoot and MethodRoot get their members in the reverse of the model's
// order: a member table lists the newest first within a bucket, so a model
// read from a file of up to 512 objects per root is written back byte for byte.
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
