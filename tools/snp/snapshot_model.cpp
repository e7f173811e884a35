#include "tools/snp/snapshot_model.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "snapshot/format.h"
#include "support/reader.h"

namespace {

const char* fileKind(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::directory:
      return "a folder";
    case std::filesystem::file_type::character:
      return "a character device";
    case std::filesystem::file_type::block:
      return "a block device";
    case std::filesystem::file_type::socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

}  // namespace

std::vector<uint8_t> readFileBytes(const std::string& path, size_t maxBytes) {
  namespace fs = std::filesystem;
  // What the name is, before anything is read: a device such as /dev/zero
  // never ends, and a folder is no snapshot.
  std::error_code error;
  fs::file_status status = fs::status(path, error);
  bool regular = fs::is_regular_file(status);
  if (fs::exists(status) && !regular && !fs::is_fifo(status)) {
    throw SnpError(std::string(fileKind(status.type())) +
                   ", not a snapshot file (only regular files and pipes are read)");
  }
  // A regular file is read up to the size it declares, and a larger size than
  // any snapshot is refused before any memory is taken for it.
  uintmax_t declared = regular ? fs::file_size(path, error) : 0;
  if (regular && !error && declared > maxBytes) {
    throw SnpError("larger than " + std::to_string(maxBytes) + " bytes: not a snapshot");
  }
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) throw SnpError(std::string("cannot open: ") + strerror(errno));
  std::vector<uint8_t> bytes;
  size_t limit = regular && !error ? static_cast<size_t>(declared) : maxBytes;
  if (regular) bytes.reserve(limit);
  uint8_t buffer[64 * 1024];
  size_t n;
  while (bytes.size() < limit &&
         (n = fread(buffer, 1, std::min(sizeof buffer, limit - bytes.size()), file)) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  bool failed = ferror(file) != 0;
  int readError = errno;
  // A pipe that goes on past the largest snapshot is not read for ever.
  bool more = !regular && !failed && bytes.size() == limit && fgetc(file) != EOF;
  fclose(file);
  if (failed) throw SnpError(std::string("cannot read: ") + strerror(readError));
  if (more) throw SnpError("larger than " + std::to_string(maxBytes) + " bytes: not a snapshot");
  return bytes;
}

Snapshot snapshotFromView(const SESnapshotView& view) {
  Snapshot s;
  std::string error;
  if (!modelFromView(view, &s, &error)) throw SnpError(error);
  return s;
}

Snapshot snapshotFromBytes(const uint8_t* data, size_t size) {
  Snapshot s;
  std::string error;
  if (!decodeSnapshot(data, size, &s, &error)) throw SnpError(error);
  return s;
}

Snapshot loadSnapshot(const std::string& path) {
  std::vector<uint8_t> bytes = readFileBytes(path);
  return snapshotFromBytes(bytes.data(), bytes.size());
}
