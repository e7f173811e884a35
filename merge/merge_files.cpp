#include "merge/merge_files.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "merge/merge.h"
#include "merge/snapshot_encoder.h"
#include "platform/platform.h"
#include "support/serializer.h"

namespace {

// No snapshot is longer: the writer counts bytes in 32 bits.
constexpr size_t kMaxBytes = 0x7FFFFFFF;

bool readSnapshot(const std::string& path, Snapshot* out, std::string* reason) {
  FILE* file = platform::openFile(path.c_str(), "rb");
  if (file == nullptr) {
    *reason = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, file)) > 0 && bytes.size() <= kMaxBytes) {
    bytes.insert(bytes.end(), buf, buf + n);
  }
  bool failed = ferror(file) != 0;
  int error = errno;
  fclose(file);
  if (failed) {
    *reason = "cannot read " + path + ": " + strerror(error);
    return false;
  }
  if (bytes.size() > kMaxBytes) {
    *reason = path + " is larger than any snapshot";
    return false;
  }
  std::string why;
  if (!decodeSnapshot(bytes.data(), bytes.size(), out, &why)) {
    *reason = path + ": " + why;
    return false;
  }
  return true;
}

}  // namespace

bool mergeSnapshotFiles(const std::string& older, const std::string& newer, const std::string& out,
                        std::vector<std::string>* warnings, std::string* reason) {
  std::vector<MergeInput> inputs(2);
  inputs[0].name = older;
  inputs[1].name = newer;
  if (!readSnapshot(older, &inputs[0].snapshot, reason) ||
      !readSnapshot(newer, &inputs[1].snapshot, reason)) {
    return false;
  }
  Snapshot merged;
  if (!mergeSnapshots(inputs, &merged, warnings, reason)) return false;
  SnapshotItems items;
  std::string why;
  if (!buildSnapshotItems(merged, &items, &why)) {
    *reason = "cannot write " + out + ": " + why;
    return false;
  }
  FILE* file = platform::createFile(out.c_str());
  if (file == nullptr) {
    *reason = "cannot create " + out + ": " + strerror(errno);
    freeSnapshotItems(&items);
    return false;
  }
  SEStream stream = {};
  stream.file = file;
  writeSnapshotItems(&stream, items);
  freeSnapshotItems(&items);
  int error = stream.failed ? stream.error : 0;
  if (fflush(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (stream.failed || error != 0) {
    platform::removeFile(out.c_str());
    *reason = "cannot write " + out + ": " + strerror(error != 0 ? error : EIO);
    return false;
  }
  return true;
}
