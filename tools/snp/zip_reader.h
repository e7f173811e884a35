// The entries of a zip file (a jar), read from its central directory: names,
// and the bytes of one entry, stored or deflated. No zip64, no encryption, no
// spanning: a jar of class files needs none of them, and an archive that uses
// them is refused with a reason rather than misread.
//
// Failure: every function returns false with a one-line reason; sizes and
// offsets are checked against the archive before anything is allocated.
// Thread-safety: a ZipArchive is immutable once opened.
#ifndef CCOVER_TOOLS_SNP_ZIP_READER_H_
#define CCOVER_TOOLS_SNP_ZIP_READER_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct ZipEntry {
  std::string name;
  uint16_t method = 0;  // 0 stored, 8 deflated
  uint32_t compressedSize = 0;
  uint32_t size = 0;
  uint32_t localHeader = 0;  // offset of its local file header
};

struct ZipArchive {
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::vector<ZipEntry> entries;
};

// Reads the central directory. REQUIRES: data outlives the archive.
bool openZip(const uint8_t* data, size_t size, ZipArchive* out, std::string* error);
// The bytes of one entry, at most maxBytes of them.
bool readZipEntry(const ZipArchive& zip, const ZipEntry& entry, size_t maxBytes,
                  std::vector<uint8_t>* out, std::string* error);

#endif  // CCOVER_TOOLS_SNP_ZIP_READER_H_
