#include "support/serializer.h"

#include <errno.h>
#include <string.h>

#include "cci/cci.h"
#include "platform/platform.h"

namespace {

void noteFailure(SEStream* stream, int error) {
  if (!stream->failed) stream->error = error;
  stream->failed = true;
}

void writeToFile(SEStream* stream, const void* data, int32_t n) {
  size_t written = platform::writeUnlocked(stream->file, data, static_cast<size_t>(n));
  if (written != static_cast<size_t>(n)) noteFailure(stream, errno != 0 ? errno : EIO);
}

void flushBuffer(SEStream* stream) {
  if (stream->buffered == 0) return;
  writeToFile(stream, stream->buffer, stream->buffered);
  stream->buffered = 0;
}

void writeBlock(SEStream* stream, const void* data, int32_t n) {
  if (n <= 0) return;
  if (stream->bytesWritten > INT32_MAX - n) {
    // The byte count would no longer be the file's size.
    noteFailure(stream, EFBIG);
    stream->bytesWritten = static_cast<int32_t>(static_cast<uint32_t>(stream->bytesWritten) +
                                                static_cast<uint32_t>(n));
  } else {
    stream->bytesWritten += n;
  }
  if (stream->buffer != nullptr) {
    if (n > kSEBufferSize - stream->buffered) flushBuffer(stream);
    if (n <= kSEBufferSize) {
      memcpy(stream->buffer + stream->buffered, data, static_cast<size_t>(n));
      stream->buffered += n;
      return;
    }
  }
  writeToFile(stream, data, n);
}

void writeTag(SEStream* stream, uint8_t tag) { writeBlock(stream, &tag, 1); }

void writeLittleEndian32(SEStream* stream, uint32_t v) {
  uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  writeBlock(stream, bytes, 4);
}

// Lengths and counts: the integer form of a size that fits 32 bits.
void writeCount(SEStream* stream, int32_t count) { SEWriteInt32(stream, count); }

void writeNamed(SEStream* stream, QMHashTable* members) {
  SEWriteNamedHeader(stream, members->count);
  // The table's iteration order, walked directly (bucket by bucket, each chain
  // from its head) so that writing needs no memory.
  for (int32_t b = 0; b < members->bucketCount; b++) {
    for (QMHashEntry* entry = members->buckets[b]; entry != nullptr; entry = entry->next) {
      SEWriteKey(stream, reinterpret_cast<const char*>(entry->key));
      SEWrite(stream, reinterpret_cast<const SElem*>(entry->value));
    }
  }
}

}  // namespace

SEStream* SEOpenFile(const char* path) {
  FILE* file = platform::openFile(path, "wb");
  if (file == nullptr) return nullptr;
  SEStream* stream = SENewFileStream(file);
  if (stream == nullptr) {
    fclose(file);
    return nullptr;
  }
  stream->regularFile = platform::isRegularFile(file);
  return stream;
}

SEStream* SENewFileStream(FILE* file) {
  SEStream* stream = static_cast<SEStream*>(sMalloc(sizeof(SEStream)));
  if (stream == nullptr) return nullptr;
  stream->file = file;
  stream->bytesWritten = 0;
  stream->failed = false;
  stream->error = 0;
  stream->regularFile = false;
  stream->buffer = static_cast<uint8_t*>(sMalloc(kSEBufferSize));
  stream->buffered = 0;
  return stream;
}

namespace se_internal {

void writeInt32(SEStream* stream, int32_t value) {
  if (value >= 0 && value < 255) {
    uint8_t bytes[1] = {static_cast<uint8_t>(value)};
    writeTag(stream, SE_TAG_INT8);
    writeBlock(stream, bytes, 1);
  } else if (value >= 0 && value < 65535) {
    uint8_t bytes[2] = {static_cast<uint8_t>(value & 0xFF),
                        static_cast<uint8_t>((value >> 8) & 0xFF)};
    writeTag(stream, SE_TAG_INT16);
    writeBlock(stream, bytes, 2);
  } else {
    writeTag(stream, SE_TAG_INT32);
    writeLittleEndian32(stream, static_cast<uint32_t>(value));
  }
}

void writeTagged(SEStream* stream, uint8_t tag, int32_t count) {
  writeTag(stream, tag);
  writeInt32(stream, count);
}

void writeKey(SEStream* stream, const char* key, int32_t length) {
  writeInt32(stream, length);
  writeBlock(stream, key, length);
}

void writeString(SEStream* stream, const char* data, int32_t length) {
  writeTag(stream, SE_TAG_STRING);
  writeInt32(stream, length);
  writeBlock(stream, data, length);
}

}  // namespace se_internal

void SEWriteKey(SEStream* stream, const char* key) {
  size_t length = strlen(key);
  SEWriteKeyBytes(stream, key, length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length));
}

void SEWriteInt64(SEStream* stream, int64_t value) {
  if (value >= 0 && value < INT64_C(0xFFFFFFFF)) {
    SEWriteInt32(stream, static_cast<int32_t>(static_cast<uint32_t>(value)));
    return;
  }
  uint64_t v = static_cast<uint64_t>(value);
  writeTag(stream, SE_TAG_INT64);
  writeLittleEndian32(stream, static_cast<uint32_t>(v));
  writeLittleEndian32(stream, static_cast<uint32_t>(v >> 32));
}

void SEWrite(SEStream* stream, const SElem* e) {
  if (e == nullptr) return;
  switch (e->kind) {
    case SE_INT32:
      SEWriteInt32(stream, e->int32Value);
      break;
    case SE_INT64:
      SEWriteInt64(stream, e->int64Value);
      break;
    case SE_STRING:
      SEWriteString(stream, e->string.data, e->string.length);
      break;
    case SE_LIST:
      SEWriteListHeader(stream, e->children->count);
      for (int32_t i = 0; i < e->children->count; i++) {
        SEWrite(stream, static_cast<const SElem*>(e->children->items[i]));
      }
      break;
    case SE_NAMED:
      writeNamed(stream, e->members);
      break;
    case SE_BYTES:
      writeTag(stream, SE_TAG_BYTES);
      writeCount(stream, e->block.count);
      writeBlock(stream, e->block.data, e->block.count);
      break;
    case SE_INT32_ARRAY: {
      writeTag(stream, SE_TAG_INT32_ARRAY);
      writeCount(stream, e->block.count);
      const int32_t* values = static_cast<const int32_t*>(e->block.data);
      for (int32_t i = 0; i < e->block.count; i++) SEWriteInt32(stream, values[i]);
      break;
    }
    case SE_INT64_ARRAY: {
      writeTag(stream, SE_TAG_INT64_ARRAY);
      writeCount(stream, e->block.count);
      const int64_t* values = static_cast<const int64_t*>(e->block.data);
      for (int32_t i = 0; i < e->block.count; i++) SEWriteInt64(stream, values[i]);
      break;
    }
    default:
      break;
  }
}

bool SEClose(SEStream* stream, int* error) {
  if (stream == nullptr) return false;
  if (stream->buffer != nullptr) {
    flushBuffer(stream);
    sFree(stream->buffer);
  }
  bool whole = !stream->failed;
  int firstError = stream->error;
  if (fclose(stream->file) != 0) {
    if (whole) firstError = errno != 0 ? errno : EIO;
    whole = false;
  }
  sFree(stream);
  if (error != nullptr) *error = whole ? 0 : firstError;
  return whole;
}
