#include "tools/snp/snapshot_writer.h"

#include <memory>

#include "merge/snapshot_encoder.h"
#include "support/serializer.h"
#include "tools/snp/output_file.h"

void writeSnapshotFile(const Snapshot& s, const std::string& path) {
  // Everything is built before the file is touched, so a model the records
  // can't hold leaves no file behind.
  SnapshotItems items;
  std::string error;
  if (!buildSnapshotItems(s, &items, &error)) throw SnpError(error);
  std::unique_ptr<SnapshotItems, void (*)(SnapshotItems*)> held(&items, freeSnapshotItems);

  OutputFile out(path);
  // The stream lives here, not in the serializer's heap, so that its end does
  // not close the file: OutputFile closes it (or standard output stays open).
  SEStream stream = {};
  stream.file = out.file();
  writeSnapshotItems(&stream, items);
  if (stream.failed) out.failed(stream.error);
  out.commit();
}
