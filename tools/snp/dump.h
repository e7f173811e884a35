// `snp dump`: the whole element tree of a snapshot file as JSON, members in
// the order they have in the file, written as it is walked.
//
// Default form: an object whose members name the items by position
// ("SnapRoot", "Signature", "ClassRoot", "MethodRoot", further ones "Item5"...,
// and "EndMarker"); integers as numbers, strings as their text without the
// trailing NUL the agent writes, lists as arrays, named elements as objects.
// Raw form: an array of every item, the end marker included, each value an
// object with its offset and tag and its payload ("value", "length" and
// "text", "items", "members" as {"key", "value"} pairs, "hex", "values").
//
// Strings and keys are converted from modified UTF-8 (text.h). A key held
// twice in the file is written twice in the default form.
#ifndef CCOVER_TOOLS_SNP_DUMP_H_
#define CCOVER_TOOLS_SNP_DUMP_H_

#include <ostream>

struct SESnapshotView;

void writeDump(const SESnapshotView& view, bool raw, std::ostream& out);

#endif  // CCOVER_TOOLS_SNP_DUMP_H_
