#include "tools/snp/zip_reader.h"

#include "tools/snp/inflate.h"

namespace {

uint16_t u2(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u4(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;

}  // namespace

bool openZip(const uint8_t* data, size_t size, ZipArchive* out, std::string* error) {
  out->data = data;
  out->size = size;
  out->entries.clear();
  if (size < kEndSize) {
    *error = "not a zip file (too short)";
    return false;
  }
  // The end record sits at the end, before a comment of up to 64 KiB.
  size_t end = SIZE_MAX;
  size_t lowest = size > kEndSize + 0xffff ? size - kEndSize - 0xffff : 0;
  for (size_t at = size - kEndSize + 1; at-- > lowest;) {
    if (u4(data + at) == kEndSignature && at + kEndSize + u2(data + at + 20) == size) {
      end = at;
      break;
    }
  }
  if (end == SIZE_MAX) {
    *error = "not a zip file (no end of central directory)";
    return false;
  }
  uint16_t count = u2(data + end + 10);
  uint32_t dirSize = u4(data + end + 12);
  uint32_t dirOffset = u4(data + end + 16);
  if (count == 0xffff || dirOffset == 0xffffffff) {
    *error = "a zip64 archive, which snp does not read";
    return false;
  }
  if (dirOffset > end || dirSize > end - dirOffset) {
    *error = "a corrupt zip file (central directory outside the file)";
    return false;
  }
  size_t at = dirOffset;
  size_t dirEnd = dirOffset + static_cast<size_t>(dirSize);
  out->entries.reserve(count);
  for (uint32_t k = 0; k < count; k++) {
    if (dirEnd - at < kCentralSize || u4(data + at) != kCentralSignature) {
      *error = "a corrupt zip file (entry " + std::to_string(k) + " of the central directory)";
      return false;
    }
    const uint8_t* p = data + at;
    size_t nameLength = u2(p + 28), extraLength = u2(p + 30), commentLength = u2(p + 32);
    if (dirEnd - at - kCentralSize < nameLength + extraLength + commentLength) {
      *error = "a corrupt zip file (entry " + std::to_string(k) + " runs past the directory)";
      return false;
    }
    ZipEntry e;
    if (u2(p + 8) & 1) {
      *error = "an encrypted zip entry, which snp does not read";
      return false;
    }
    e.method = u2(p + 10);
    e.compressedSize = u4(p + 20);
    e.size = u4(p + 24);
    e.localHeader = u4(p + 42);
    e.name.assign(reinterpret_cast<const char*>(p + kCentralSize), nameLength);
    out->entries.push_back(std::move(e));
    at += kCentralSize + nameLength + extraLength + commentLength;
  }
  return true;
}

bool readZipEntry(const ZipArchive& zip, const ZipEntry& e, size_t maxBytes,
                  std::vector<uint8_t>* out, std::string* error) {
  if (e.size > maxBytes) {
    *error = "declares " + std::to_string(e.size) + " bytes, more than a class file can hold";
    return false;
  }
  if (zip.size < kLocalSize || e.localHeader > zip.size - kLocalSize ||
      u4(zip.data + e.localHeader) != kLocalSignature) {
    *error = "its local header is missing";
    return false;
  }
  const uint8_t* p = zip.data + e.localHeader;
  size_t start = e.localHeader + kLocalSize + u2(p + 26) + u2(p + 28);
  if (start > zip.size || e.compressedSize > zip.size - start) {
    *error = "its data runs past the end of the file";
    return false;
  }
  const uint8_t* bytes = zip.data + start;
  if (e.method == 0) {
    if (e.compressedSize != e.size) {
      *error = "a stored entry whose sizes differ";
      return false;
    }
    out->assign(bytes, bytes + e.size);
    return true;
  }
  if (e.method != 8) {
    *error = "compression method " + std::to_string(e.method) + ", which snp does not read";
    return false;
  }
  std::string why;
  if (!inflateRaw(bytes, e.compressedSize, e.size, out, &why)) {
    *error = "can't be inflated: " + why;
    return false;
  }
  return true;
}
