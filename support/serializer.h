// SEStream: writes element trees to a file as a compact tagged byte stream.
//
// Every value starts with a tag byte (SETag). Lengths, counts and SE_INT32 values
// share the "integer form": tag 0 and one byte for 0..254, tag 1 and two bytes
// for 255..65534, tag 2 and four bytes for anything else. Multi-byte values are
// little-endian, built by shifts, whatever the host. docs/snapshot-format.md
// describes every byte.
//
// A stream made by SEOpenFile or SENewFileStream gathers the small pieces (a
// tag, a payload, a key) in a buffer of its own and hands the FILE a block of
// kSEBufferSize at a time: a stdio call per piece cost more than encoding the
// exit snapshot. A stream set up by hand ({} with its file set) has no buffer
// and writes each piece to the FILE as it comes (an unlocked stdio write where
// the C library has one). A short write is remembered, and SEClose reports it,
// so that a full disk never passes for a good file.
//
// Thread-safety: a stream is used by one thread at a time.
#ifndef CCOVER_SUPPORT_SERIALIZER_H_
#define CCOVER_SUPPORT_SERIALIZER_H_

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "support/element.h"

enum SETag : uint8_t {
  SE_TAG_INT8 = 0,
  SE_TAG_INT16 = 1,
  SE_TAG_INT32 = 2,
  SE_TAG_STRING = 3,
  SE_TAG_LIST = 4,
  SE_TAG_NAMED = 5,
  SE_TAG_BYTES = 6,
  SE_TAG_INT32_ARRAY = 7,
  SE_TAG_INT64_ARRAY = 8,
  SE_TAG_INT64 = 9,
};

enum { kSEBufferSize = 1 << 16 };

struct SEStream {
  FILE* file;
  // Bytes passed to the file since the stream was created, counted before each
  // write; equals the file's size once closed when no write failed.
  int32_t bytesWritten;
  // A write was short, or the count no longer fits bytesWritten.
  bool failed;
  // errno of the first failure (0 when none was given).
  int error;
  // SEOpenFile found a regular file (not a device or pipe); only such a file is
  // removed again when it could not be written whole.
  bool regularFile;
  // kSEBufferSize bytes owned by the stream, or null: every piece goes to the
  // file at once. buffered bytes of it wait for the file.
  uint8_t* buffer;
  int32_t buffered;
};

// Opens path (modified UTF-8; see platform::openFile) with mode "wb": created,
// or truncated when it exists. Null when it can't be opened; prints nothing.
SEStream* SEOpenFile(const char* path);
// A stream on an open file, bytesWritten 0, with its buffer (without one when
// memory for it runs out); it closes the file in SEClose. Null when memory
// runs out for the stream itself (the file stays open then).
SEStream* SENewFileStream(FILE* file);
// Writes the element's encoding; an unknown kind or a null element writes
// nothing.
void SEWrite(SEStream* stream, const SElem* e);
// A named element written piece by piece, with the same bytes as SEWrite of
// one: the header with the member count, then for each member its key
// (SEWriteKey) followed by the member's encoding (SEWrite). The writer keeps
// the members' order and their number in step with the header.
inline void SEWriteNamedHeader(SEStream* stream, int32_t memberCount);
void SEWriteKey(SEStream* stream, const char* key);
// The same for a key of length bytes (without its NUL) that the caller knows.
inline void SEWriteKeyBytes(SEStream* stream, const char* key, int32_t length);
// A list written piece by piece: the header, then count members (SEWrite or
// SEWriteInt32 ...), the same bytes as SEWrite of an SE_LIST element.
inline void SEWriteListHeader(SEStream* stream, int32_t count);
// The bytes of an SE_STRING element holding length bytes of data.
inline void SEWriteString(SEStream* stream, const char* data, int32_t length);
// The integer form of value, exactly as an SE_INT32 element holding it.
inline void SEWriteInt32(SEStream* stream, int32_t value);
// The 64-bit form: values 0 .. 0xFFFFFFFE in the integer form of their low 32
// bits, anything else tag 9 and eight bytes.
void SEWriteInt64(SEStream* stream, int64_t value);
// Writes the buffered bytes, closes the file and frees the stream (with its
// buffer). False when any write was short, the byte count overflowed, or
// fclose failed: the file is then not whole, and error (when given) receives
// the errno of the first failure; 0 on success.
bool SEClose(SEStream* stream, int* error = nullptr);

// The piece writers above are inline: a snapshot is mostly small pieces (a
// tag and a byte or two), and the common case, a buffer with room for the
// whole piece, encodes it in place with one check. Everything else (no
// buffer, a flush due, a byte count near its limit) takes the general path,
// which writes the same bytes and does the failure bookkeeping.
namespace se_internal {

// The longest integer form: tag and four bytes.
constexpr int32_t kMaxInt32Size = 5;

// Room for n more bytes in the buffer, and a byte count that n more bytes
// leave inside its range.
inline bool hasRoom(const SEStream* stream, int32_t n) {
  return stream->buffer != nullptr && n <= kSEBufferSize - stream->buffered &&
         stream->bytesWritten <= INT32_MAX - n;
}

inline uint8_t* cursor(SEStream* stream) { return stream->buffer + stream->buffered; }

inline void advance(SEStream* stream, int32_t n) {
  stream->buffered += n;
  stream->bytesWritten += n;
}

// The integer form of value at out; its size (2, 3 or 5).
inline int32_t encodeInt32(uint8_t* out, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  if (v < 255) {
    out[0] = SE_TAG_INT8;
    out[1] = static_cast<uint8_t>(v);
    return 2;
  }
  if (v < 65535) {
    out[0] = SE_TAG_INT16;
    out[1] = static_cast<uint8_t>(v);
    out[2] = static_cast<uint8_t>(v >> 8);
    return 3;
  }
  out[0] = SE_TAG_INT32;
  out[1] = static_cast<uint8_t>(v);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v >> 16);
  out[4] = static_cast<uint8_t>(v >> 24);
  return 5;
}

// A tag followed by the integer form of count (a header, or a string's length).
inline int32_t encodeTagged(uint8_t* out, uint8_t tag, int32_t count) {
  out[0] = tag;
  return 1 + encodeInt32(out + 1, count);
}

// The general path of each writer.
void writeInt32(SEStream* stream, int32_t value);
void writeTagged(SEStream* stream, uint8_t tag, int32_t count);
void writeKey(SEStream* stream, const char* key, int32_t length);
void writeString(SEStream* stream, const char* data, int32_t length);

}  // namespace se_internal

inline void SEWriteInt32(SEStream* stream, int32_t value) {
  if (se_internal::hasRoom(stream, se_internal::kMaxInt32Size)) {
    se_internal::advance(stream, se_internal::encodeInt32(se_internal::cursor(stream), value));
  } else {
    se_internal::writeInt32(stream, value);
  }
}

namespace se_internal {

// A header: the tag, then the integer form of count.
inline void writeHeader(SEStream* stream, uint8_t tag, int32_t count) {
  if (hasRoom(stream, 1 + kMaxInt32Size)) {
    advance(stream, encodeTagged(cursor(stream), tag, count));
  } else {
    writeTagged(stream, tag, count);
  }
}

}  // namespace se_internal

inline void SEWriteNamedHeader(SEStream* stream, int32_t memberCount) {
  se_internal::writeHeader(stream, SE_TAG_NAMED, memberCount);
}

inline void SEWriteListHeader(SEStream* stream, int32_t count) {
  se_internal::writeHeader(stream, SE_TAG_LIST, count);
}

// The key's length, then its bytes: no tag, no NUL.
inline void SEWriteKeyBytes(SEStream* stream, const char* key, int32_t length) {
  if (length >= 0 && length <= kSEBufferSize - se_internal::kMaxInt32Size &&
      se_internal::hasRoom(stream, se_internal::kMaxInt32Size + length)) {
    uint8_t* out = se_internal::cursor(stream);
    int32_t n = se_internal::encodeInt32(out, length);
    memcpy(out + n, key, static_cast<size_t>(length));
    se_internal::advance(stream, n + length);
  } else {
    se_internal::writeKey(stream, key, length);
  }
}

inline void SEWriteString(SEStream* stream, const char* data, int32_t length) {
  if (length >= 0 && length <= kSEBufferSize - 1 - se_internal::kMaxInt32Size &&
      se_internal::hasRoom(stream, 1 + se_internal::kMaxInt32Size + length)) {
    uint8_t* out = se_internal::cursor(stream);
    int32_t n = se_internal::encodeTagged(out, SE_TAG_STRING, length);
    memcpy(out + n, data, static_cast<size_t>(length));
    se_internal::advance(stream, n + length);
  } else {
    se_internal::writeString(stream, data, length);
  }
}

#endif  // CCOVER_SUPPORT_SERIALIZER_H_
