// Big-endian byte access for class files: a bounds-checked reader that fails
// once and stays failed (callers check at the end of a structure), and an
// appending writer whose values are built by explicit shifts. Where the size
// of what follows is known, writers take room for it at once (extend) and
// fill it through a cursor (putU2, putU4), not a byte at a time.
//
// Thread-safety: plain values; one per thread.
#ifndef CCOVER_CLASSFILE_BYTES_H_
#define CCOVER_CLASSFILE_BYTES_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

namespace classfile {

struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t offset;
  bool failed;

  ByteReader(const uint8_t* d, size_t n) : data(d), size(n), offset(0), failed(false) {}

  bool has(size_t n) {
    if (failed || size - offset < n) failed = true;
    return !failed;
  }
  bool skip(size_t n) {
    if (!has(n)) return false;
    offset += n;
    return true;
  }
  uint32_t u1() { return has(1) ? data[offset++] : 0; }
  uint32_t u2() {
    if (!has(2)) return 0;
    uint32_t v = (static_cast<uint32_t>(data[offset]) << 8) | data[offset + 1];
    offset += 2;
    return v;
  }
  uint32_t u4() {
    if (!has(4)) return 0;
    uint32_t v = (static_cast<uint32_t>(data[offset]) << 24) |
                 (static_cast<uint32_t>(data[offset + 1]) << 16) |
                 (static_cast<uint32_t>(data[offset + 2]) << 8) | data[offset + 3];
    offset += 4;
    return v;
  }
};

inline uint32_t readU2(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
inline uint32_t readU4(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline int32_t readS2(const uint8_t* p) { return static_cast<int16_t>(readU2(p)); }
inline int32_t readS4(const uint8_t* p) { return static_cast<int32_t>(readU4(p)); }

// Write at p and return the position after.
inline uint8_t* putU1(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  return p + 1;
}
inline uint8_t* putU2(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
  return p + 2;
}
inline uint8_t* putU4(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
  return p + 4;
}
inline uint8_t* putBytes(uint8_t* p, const uint8_t* from, size_t n) {
  if (n != 0) memcpy(p, from, n);
  return p + n;
}

struct ByteWriter {
  std::vector<uint8_t> bytes;

  size_t size() const { return bytes.size(); }
  void u1(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
  void u2(uint32_t v) {
    u1(v >> 8);
    u1(v);
  }
  void u4(uint32_t v) {
    u2(v >> 16);
    u2(v);
  }
  // Room for n more bytes, to be filled through the pointer before the
  // next write (a later extend may move it).
  uint8_t* extend(size_t n) {
    size_t at = bytes.size();
    bytes.resize(at + n);
    return bytes.data() + at;
  }
  void append(const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); }
  void append(const std::vector<uint8_t>& v) { bytes.insert(bytes.end(), v.begin(), v.end()); }
  void patchU2(size_t at, uint32_t v) {
    bytes[at] = static_cast<uint8_t>(v >> 8);
    bytes[at + 1] = static_cast<uint8_t>(v);
  }
  void patchU4(size_t at, uint32_t v) {
    patchU2(at, v >> 16);
    patchU2(at + 2, v);
  }
};

}  // namespace classfile

#endif  // CCOVER_CLASSFILE_BYTES_H_
