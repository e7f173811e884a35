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
void SEWriteNamedHeader(SEStream* stream, int32_t memberCount);
void SEWriteKey(SEStream* stream, const char* key);
// A list written piece by piece: the header, then count members (SEWrite or
// SEWriteInt32 ...), the same bytes as SEWrite of an SE_LIST element.
void SEWriteListHeader(SEStream* stream, int32_t count);
// The bytes of an SE_STRING element holding length bytes of data.
void SEWriteString(SEStream* stream, const char* data, int32_t length);
// The integer form of value, exactly as an SE_INT32 element holding it.
void SEWriteInt32(SEStream* stream, int32_t value);
// The 64-bit form: values 0 .. 0xFFFFFFFE in the integer form of their low 32
// bits, anything else tag 9 and eight bytes.
void SEWriteInt64(SEStream* stream, int64_t value);
// Writes the buffered bytes, closes the file and frees the stream (with its
// buffer). False when any write was short, the byte count overflowed, or
// fclose failed: the file is then not whole, and error (when given) receives
// the errno of the first failure; 0 on success.
bool SEClose(SEStream* stream, int* error = nullptr);

#endif  // CCOVER_SUPPORT_SERIALIZER_H_
