#include "support/reader.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

namespace {

// Arena chunks: small allocations share 64 KiB chunks, larger ones get a chunk
// of their own. Everything is released together.
struct Chunk {
  Chunk* next;
  size_t capacity;
  size_t used;
};

constexpr size_t kAlign = 16;
constexpr size_t kChunkHeader = (sizeof(Chunk) + kAlign - 1) & ~(kAlign - 1);
constexpr size_t kChunkSize = size_t{64} * 1024;

// Minimum encoded size of one item of each container, used to refuse a count
// that the bytes left can't hold before anything is allocated for it.
constexpr size_t kMinValueBytes = 2;   // an integer: tag and one byte
constexpr size_t kMinMemberBytes = 4;  // key length, empty key, an integer

}  // namespace

struct SEReader {
  Chunk* chunks;
  char error[256];
};

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos;

  size_t left() const { return size - pos; }
};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool fail(SEReader* r, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(r->error, sizeof r->error, format, args);
  va_end(args);
  return false;
}

unsigned long long ull(size_t v) { return static_cast<unsigned long long>(v); }

void* arenaAlloc(SEReader* r, size_t n) {
  if (n > SIZE_MAX - kChunkHeader - kAlign) return nullptr;
  n = (n + kAlign - 1) & ~(kAlign - 1);
  if (n == 0) n = kAlign;
  Chunk* head = r->chunks;
  if (head != nullptr && head->capacity - head->used >= n) {
    void* block = reinterpret_cast<unsigned char*>(head) + kChunkHeader + head->used;
    head->used += n;
    return block;
  }
  size_t capacity = n > kChunkSize ? n : kChunkSize;
  Chunk* chunk = static_cast<Chunk*>(malloc(kChunkHeader + capacity));
  if (chunk == nullptr) return nullptr;
  chunk->capacity = capacity;
  chunk->used = n;
  if (n > kChunkSize / 4 && head != nullptr) {
    // A large block: keep the current chunk at the head for small ones.
    chunk->next = head->next;
    head->next = chunk;
  } else {
    chunk->next = head;
    r->chunks = chunk;
  }
  return reinterpret_cast<unsigned char*>(chunk) + kChunkHeader;
}

// Grows an array of items within the arena to hold at least used + 1 items,
// never beyond limit (the count the input claimed, already checked against the
// bytes left). The old block is left to the arena: at most as much again.
template <typename T>
bool grow(SEReader* r, T** array, int32_t* capacity, int32_t used, int32_t limit) {
  if (used < *capacity) return true;
  int64_t wanted = *capacity < 8 ? 8 : 2 * static_cast<int64_t>(*capacity);
  if (wanted > limit) wanted = limit;
  T* fresh = static_cast<T*>(arenaAlloc(r, sizeof(T) * static_cast<size_t>(wanted)));
  if (fresh == nullptr) return fail(r, "out of memory");
  if (used > 0) memcpy(fresh, *array, sizeof(T) * static_cast<size_t>(used));
  *array = fresh;
  *capacity = static_cast<int32_t>(wanted);
  return true;
}

bool need(SEReader* r, const Input* in, size_t n, const char* what, size_t at) {
  if (in->left() >= n) return true;
  return fail(r, "truncated %s at offset %llu: needs %llu bytes, %llu left", what, ull(at), ull(n),
              ull(in->left()));
}

uint32_t littleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The integer form: tag 0, 1 or 2 and its payload.
bool readInteger(SEReader* r, Input* in, const char* what, int32_t* value, uint8_t* tagOut) {
  size_t at = in->pos;
  if (!need(r, in, 1, what, at)) return false;
  uint8_t tag = in->data[at];
  size_t payload = tag == 0 ? 1 : tag == 1 ? 2 : tag == 2 ? 4 : 0;
  if (payload == 0) {
    return fail(r, "expected an integer (tag 0, 1 or 2) as %s at offset %llu, found tag %u", what,
                ull(at), tag);
  }
  if (!need(r, in, 1 + payload, what, at)) return false;
  const uint8_t* p = in->data + at + 1;
  if (tag == 0) {
    *value = p[0];
  } else if (tag == 1) {
    *value = static_cast<int32_t>(p[0] | (p[1] << 8));
  } else {
    *value = static_cast<int32_t>(littleEndian32(p));
  }
  if (tagOut != nullptr) *tagOut = tag;
  in->pos += 1 + payload;
  return true;
}

// A length or count: an integer that is not negative and whose items, each at
// least itemBytes long, fit in the bytes left.
bool readCount(SEReader* r, Input* in, const char* what, size_t itemBytes, int32_t* count) {
  size_t at = in->pos;
  if (!readInteger(r, in, what, count, nullptr)) return false;
  if (*count < 0) return fail(r, "negative %s %d at offset %llu", what, *count, ull(at));
  if (static_cast<uint64_t>(*count) * itemBytes > in->left()) {
    return fail(r, "%s %d at offset %llu exceeds the %llu bytes left", what, *count, ull(at),
                ull(in->left()));
  }
  return true;
}

// count bytes of the input, copied into the arena with an added NUL.
const char* copyBytes(SEReader* r, Input* in, int32_t count) {
  char* copy = static_cast<char*>(arenaAlloc(r, static_cast<size_t>(count) + 1));
  if (copy == nullptr) {
    fail(r, "out of memory");
    return nullptr;
  }
  if (count > 0) memcpy(copy, in->data + in->pos, static_cast<size_t>(count));
  copy[count] = '\0';
  in->pos += static_cast<size_t>(count);
  return copy;
}

// A value in the 64-bit form: the integer form (tag 2 read unsigned, since the
// writer gives negative values tag 9) or tag 9 and eight bytes.
bool readInt64(SEReader* r, Input* in, int64_t* value) {
  size_t at = in->pos;
  if (!need(r, in, 1, "a 64-bit value", at)) return false;
  if (in->data[at] == 9) {
    if (!need(r, in, 9, "a 64-bit value", at)) return false;
    uint64_t low = littleEndian32(in->data + at + 1);
    uint64_t high = littleEndian32(in->data + at + 5);
    *value = static_cast<int64_t>(low | (high << 32));
    in->pos += 9;
    return true;
  }
  int32_t v = 0;
  uint8_t tag = 0;
  if (!readInteger(r, in, "a 64-bit value", &v, &tag)) return false;
  *value = tag == 2 ? static_cast<int64_t>(static_cast<uint32_t>(v)) : v;
  return true;
}

bool readValue(SEReader* r, Input* in, int depth, SEView* out);

bool readList(SEReader* r, Input* in, int depth, SEView* out) {
  int32_t count = 0;
  if (!readCount(r, in, "list count", kMinValueBytes, &count)) return false;
  SEView* items = nullptr;
  int32_t capacity = 0;
  for (int32_t i = 0; i < count; i++) {
    if (!grow(r, &items, &capacity, i, count)) return false;
    if (!readValue(r, in, depth + 1, &items[i])) return false;
  }
  out->count = count;
  out->items = items;
  return true;
}

bool readNamed(SEReader* r, Input* in, int depth, SEView* out) {
  int32_t count = 0;
  if (!readCount(r, in, "member count", kMinMemberBytes, &count)) return false;
  SEViewMember* members = nullptr;
  int32_t capacity = 0;
  for (int32_t i = 0; i < count; i++) {
    if (!grow(r, &members, &capacity, i, count)) return false;
    int32_t keyLength = 0;
    if (!readCount(r, in, "key length", 1, &keyLength)) return false;
    const char* key = copyBytes(r, in, keyLength);
    if (key == nullptr) return false;
    SEView* value = static_cast<SEView*>(arenaAlloc(r, sizeof(SEView)));
    if (value == nullptr) return fail(r, "out of memory");
    if (!readValue(r, in, depth + 1, value)) return false;
    members[i].key = key;
    members[i].keyLength = keyLength;
    members[i].value = value;
  }
  out->count = count;
  out->members = members;
  return true;
}

bool readArray(SEReader* r, Input* in, bool wide, SEView* out) {
  int32_t count = 0;
  if (!readCount(r, in, "value count", kMinValueBytes, &count)) return false;
  // At most 8 bytes kept for every 2 bytes left; arrays hold no containers, so
  // only one such claim is ever outstanding.
  int64_t* numbers =
      static_cast<int64_t*>(arenaAlloc(r, sizeof(int64_t) * static_cast<size_t>(count)));
  if (numbers == nullptr) return fail(r, "out of memory");
  for (int32_t i = 0; i < count; i++) {
    if (wide) {
      if (!readInt64(r, in, &numbers[i])) return false;
    } else {
      int32_t v = 0;
      if (!readInteger(r, in, "an array value", &v, nullptr)) return false;
      numbers[i] = v;
    }
  }
  out->count = count;
  out->numbers = numbers;
  return true;
}

bool readValue(SEReader* r, Input* in, int depth, SEView* out) {
  memset(out, 0, sizeof(SEView));
  size_t at = in->pos;
  if (depth > kSEReaderMaxDepth) {
    return fail(r, "nesting deeper than %d at offset %llu", kSEReaderMaxDepth, ull(at));
  }
  if (!need(r, in, 1, "value", at)) return false;
  uint8_t tag = in->data[at];
  out->tag = tag;
  out->offset = at;
  switch (tag) {
    case 0:
    case 1:
    case 2: {
      int32_t v = 0;
      if (!readInteger(r, in, "an integer", &v, nullptr)) return false;
      out->kind = SE_INT32;
      out->number = v;
      return true;
    }
    case 9:
      out->kind = SE_INT64;
      return readInt64(r, in, &out->number);
    case 3:
    case 6: {
      in->pos++;
      int32_t length = 0;
      if (!readCount(r, in, tag == 3 ? "string length" : "byte count", 1, &length)) return false;
      out->kind = tag == 3 ? SE_STRING : SE_BYTES;
      out->count = length;
      out->bytes = copyBytes(r, in, length);
      return out->bytes != nullptr;
    }
    case 4:
      in->pos++;
      out->kind = SE_LIST;
      return readList(r, in, depth, out);
    case 5:
      in->pos++;
      out->kind = SE_NAMED;
      return readNamed(r, in, depth, out);
    case 7:
    case 8:
      in->pos++;
      out->kind = tag == 7 ? SE_INT32_ARRAY : SE_INT64_ARRAY;
      return readArray(r, in, tag == 8, out);
    default:
      return fail(r, "unknown tag %u at offset %llu", tag, ull(at));
  }
}

}  // namespace

SEReader* SEReaderNew() {
  SEReader* r = static_cast<SEReader*>(malloc(sizeof(SEReader)));
  if (r == nullptr) return nullptr;
  r->chunks = nullptr;
  r->error[0] = '\0';
  return r;
}

void SEReaderFree(SEReader* reader) {
  if (reader == nullptr) return;
  Chunk* chunk = reader->chunks;
  while (chunk != nullptr) {
    Chunk* next = chunk->next;
    free(chunk);
    chunk = next;
  }
  free(reader);
}

const char* SEReaderError(const SEReader* reader) { return reader != nullptr ? reader->error : ""; }

bool SEReadValue(SEReader* reader, const uint8_t* data, size_t size, size_t* offset,
                 const SEView** out) {
  if (reader == nullptr || offset == nullptr || out == nullptr) return false;
  reader->error[0] = '\0';
  if (data == nullptr && size > 0) return fail(reader, "no input");
  if (*offset > size)
    return fail(reader, "offset %llu beyond the %llu bytes", ull(*offset), ull(size));
  SEView* view = static_cast<SEView*>(arenaAlloc(reader, sizeof(SEView)));
  if (view == nullptr) return fail(reader, "out of memory");
  Input in = {data, size, *offset};
  if (!readValue(reader, &in, 1, view)) return false;
  *offset = in.pos;
  *out = view;
  return true;
}

bool SEReadSnapshot(SEReader* reader, const uint8_t* data, size_t size, SESnapshotView* out) {
  if (reader == nullptr || out == nullptr) return false;
  reader->error[0] = '\0';
  if (data == nullptr && size > 0) return fail(reader, "no input");
  Input in = {data, size, 0};
  SEView* items = nullptr;
  int32_t capacity = 0;
  int32_t count = 0;
  // Every item takes at least two bytes, which bounds the array.
  size_t limitBytes = size / kMinValueBytes;
  int32_t limit = limitBytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(limitBytes);
  for (;;) {
    if (in.left() == 0) {
      return fail(reader, "missing end marker 02 ca be de aa after %d items (%llu bytes)", count,
                  ull(size));
    }
    if (!grow(reader, &items, &capacity, count, limit)) return false;
    SEView* item = &items[count];
    if (!readValue(reader, &in, 1, item)) return false;
    if (item->kind == SE_INT32 && item->tag == 2 && item->number == kSESnapshotEndMarker) {
      if (in.left() != 0) {
        return fail(reader, "%llu bytes after the end marker at offset %llu", ull(in.left()),
                    ull(item->offset));
      }
      break;
    }
    count++;
  }
  out->items = items;
  out->count = count;
  out->size = size;
  return true;
}

bool SEReadSnapshotFile(SEReader* reader, const char* path, SESnapshotView* out) {
  if (reader == nullptr || out == nullptr) return false;
  FILE* file = platform::openFile(path, "rb");
  if (file == nullptr) return fail(reader, "cannot open %s", path != nullptr ? path : "(null)");
  size_t size = 0;
  size_t capacity = 0;
  uint8_t* data = nullptr;
  bool readError = false;
  for (;;) {
    if (size == capacity) {
      size_t grown = capacity == 0 ? size_t{64} * 1024 : capacity * 2;
      uint8_t* fresh = grown > capacity ? static_cast<uint8_t*>(realloc(data, grown)) : nullptr;
      if (fresh == nullptr) {
        readError = true;
        break;
      }
      data = fresh;
      capacity = grown;
    }
    size_t n = fread(data + size, 1, capacity - size, file);
    size += n;
    if (n == 0) {
      readError = ferror(file) != 0;
      break;
    }
  }
  fclose(file);
  bool ok = false;
  if (readError) {
    fail(reader, "cannot read %s", path);
  } else {
    // The view copies what it keeps, so the file's bytes go again at once.
    ok = SEReadSnapshot(reader, data, size, out);
  }
  free(data);
  return ok;
}

const SEView* SEViewFind(const SEView* e, const char* key) {
  if (e == nullptr || e->kind != SE_NAMED || key == nullptr) return nullptr;
  for (int32_t i = 0; i < e->count; i++) {
    if (strcmp(e->members[i].key, key) == 0) return e->members[i].value;
  }
  return nullptr;
}

const char* SEViewText(const SEView* e) {
  if (e == nullptr || e->kind != SE_STRING) return "";
  return e->bytes;
}
