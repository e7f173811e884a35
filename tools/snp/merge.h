// `snp merge`'s use of the shared merge (merge/merge.h): a failure thrown as
// SnpError like every other of the tool's.
#ifndef CCOVER_TOOLS_SNP_MERGE_H_
#define CCOVER_TOOLS_SNP_MERGE_H_

#include <string>
#include <vector>

#include "merge/merge.h"
#include "tools/snp/snapshot_model.h"

// merge/merge.h's mergeSnapshots; throws SnpError with its reason.
Snapshot mergeSnapshots(const std::vector<MergeInput>& inputs, std::vector<std::string>* warnings);

#endif  // CCOVER_TOOLS_SNP_MERGE_H_
