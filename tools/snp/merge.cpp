#include "tools/snp/merge.h"

Snapshot mergeSnapshots(const std::vector<MergeInput>& inputs, std::vector<std::string>* warnings) {
  Snapshot out;
  std::string error;
  if (!mergeSnapshots(inputs, &out, warnings, &error)) throw SnpError(error);
  return out;
}
