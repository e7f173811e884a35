// The merge of two snapshot files into a third, for the runtime's destfile
// append: the same merge as `snp merge` (merge/merge.h), with files read and
// written through the platform layer and no exceptions.
//
// Thread-safety: plain function; the caller keeps other writers of out away
// (the destfile's lock).
#ifndef CCOVER_MERGE_MERGE_FILES_H_
#define CCOVER_MERGE_MERGE_FILES_H_

#include <string>
#include <vector>

// Writes the merge of older and newer into out, which must not exist (it is
// created exclusively). False, with a one-line reason naming the file at
// fault, when either input can't be read or is not a snapshot, when they
// don't merge, or when out can't be written (out is then removed). The
// merge's warnings (a class that differs between the two) go to warnings.
bool mergeSnapshotFiles(const std::string& older, const std::string& newer, const std::string& out,
                        std::vector<std::string>* warnings, std::string* reason);

#endif  // CCOVER_MERGE_MERGE_FILES_H_
