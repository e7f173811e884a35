// A bounds-checked decoder of the tagged encoding that SEStream writes (tags 0 to
// 9), into a small read-only view rather than an SElem tree: a named element's
// members keep the order they have in the file (a hash table could not), and a
// reader needs no cci.
//
// The view lives in an arena that the SEReader owns; SEReaderFree releases every
// view decoded with it at once. The arena grows only as bytes are actually
// consumed, so a claimed count never allocates more than the bytes left can
// fill: memory stays within a small multiple of the input size.
//
// Any truncated or corrupt input, a count larger than the bytes left, a negative
// length, an unknown tag or nesting deeper than kSEReaderMaxDepth gives false
// and a text from SEReaderError naming the offset; never a crash. Memory comes
// from malloc (the reader is also meant for tools that run without cci).
//
// Thread-safety: one reader per thread; views are immutable once returned.
#ifndef CCOVER_SUPPORT_READER_H_
#define CCOVER_SUPPORT_READER_H_

#include <stddef.h>
#include <stdint.h>

#include "support/element.h"

enum { kSEReaderMaxDepth = 64 };

struct SEView;

struct SEViewMember {
  const char* key;    // a NUL-terminated copy of the key's bytes
  int32_t keyLength;  // bytes in the file (a key with a NUL inside ends early as text)
  const SEView* value;
};

struct SEView {
  int32_t kind;   // SEKind: tags 0..2 give SE_INT32, tag 9 SE_INT64, 3..8 their kinds
  uint8_t tag;    // the tag byte as read
  size_t offset;  // of the tag byte in the input
  // SE_INT32: the value (tags 0, 1: 0 .. 65534; tag 2: a signed 32-bit value;
  // a writer's 64-bit value from 2^31 to 2^32 - 2 reads back negative here, as
  // both are written with tag 2). SE_INT64: the value.
  int64_t number;
  // Bytes held (string, bytes), items (list), members (named), values (arrays).
  int32_t count;
  const char* bytes;            // string, bytes: count bytes and an added NUL
  const SEView* items;          // list: count items
  const SEViewMember* members;  // named: count members, in file order
  // SE_INT32_ARRAY: the values; SE_INT64_ARRAY: the values, tag 2 read unsigned
  // (a 64-bit value written with tag 2 is never negative).
  const int64_t* numbers;
};

// The items of a snapshot file before its end marker.
struct SESnapshotView {
  const SEView* items;
  int32_t count;
  size_t size;  // bytes of the input, end marker included
};

// The bare integer that ends a snapshot file: 02 CA BE DE AA.
constexpr int32_t kSESnapshotEndMarker = static_cast<int32_t>(0xAADEBECAu);

struct SEReader;

// Null when memory runs out.
SEReader* SEReaderNew();
void SEReaderFree(SEReader* reader);
// The last error's text ("" when none).
const char* SEReaderError(const SEReader* reader);

// Decodes one value starting at *offset, and advances *offset past it. The data
// must outlive nothing: strings and keys are copied into the arena.
bool SEReadValue(SEReader* reader, const uint8_t* data, size_t size, size_t* offset,
                 const SEView** out);
// A whole snapshot: values one after another, the last of them the end marker
// (tag 2, 0xAADEBECA), and nothing after it.
bool SEReadSnapshot(SEReader* reader, const uint8_t* data, size_t size, SESnapshotView* out);
// The same for a file (path as platform::openFile takes it); the file's bytes
// are read into the arena.
bool SEReadSnapshotFile(SEReader* reader, const char* path, SESnapshotView* out);

// The first member with that key in file order, or null (null when e is not a
// named view).
const SEView* SEViewFind(const SEView* e, const char* key);
// The text of a string view ("" for anything else), up to its first NUL.
const char* SEViewText(const SEView* e);

#endif  // CCOVER_SUPPORT_READER_H_
