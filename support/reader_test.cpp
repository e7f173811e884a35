#include "support/reader.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/testing/cci_testing.h"
#include "support/serializer.h"
#include "tests/support/temp_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(const SElem* e) {
  TempFile file;
  SEStream* stream = SEOpenFile(file.c_str());
  EXPECT_NE(stream, nullptr);
  if (stream == nullptr) return {};
  SEWrite(stream, e);
  EXPECT_TRUE(SEClose(stream));
  return file.bytes();
}

// Holds a reader for one test and decodes single values with it.
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { reader_ = SEReaderNew(); }
  void TearDown() override { SEReaderFree(reader_); }

  const SEView* decode(const Bytes& bytes) {
    size_t offset = 0;
    const SEView* view = nullptr;
    if (!SEReadValue(reader_, bytes.data(), bytes.size(), &offset, &view)) return nullptr;
    EXPECT_EQ(offset, bytes.size()) << "the whole input is one value";
    return view;
  }
  // The error text of decoding bytes, which must fail.
  std::string errorOf(const Bytes& bytes) {
    size_t offset = 0;
    const SEView* view = nullptr;
    bool ok = SEReadValue(reader_, bytes.data(), bytes.size(), &offset, &view);
    EXPECT_FALSE(ok);
    EXPECT_EQ(offset, 0u) << "a failed read does not advance";
    return SEReaderError(reader_);
  }

  SEReader* reader_ = nullptr;
};

// The view matches the element it was written from: kinds, values, children,
// and the members in the order of the element's table.
void expectSame(const SEView* v, const SElem* e, const std::string& where) {
  ASSERT_NE(v, nullptr) << where;
  ASSERT_EQ(v->kind, e->kind) << where;
  switch (e->kind) {
    case SE_INT32:
      EXPECT_EQ(v->number, e->int32Value) << where;
      break;
    case SE_INT64:
      EXPECT_EQ(v->number, e->int64Value) << where;
      break;
    case SE_STRING:
      ASSERT_EQ(v->count, e->string.length) << where;
      EXPECT_EQ(memcmp(v->bytes, e->string.data, static_cast<size_t>(v->count)), 0) << where;
      EXPECT_EQ(v->bytes[v->count], '\0') << where;
      break;
    case SE_LIST:
      ASSERT_EQ(v->count, e->children->count) << where;
      for (int32_t i = 0; i < v->count; i++) {
        expectSame(&v->items[i], static_cast<const SElem*>(e->children->items[i]),
                   where + "[" + std::to_string(i) + "]");
      }
      break;
    case SE_NAMED: {
      ASSERT_EQ(v->count, e->members->count) << where;
      int32_t i = 0;
      QMHashIterator* it = QMHashIterate(e->members);
      while ((it = QMHashNext(it)) != nullptr) {
        const char* key = reinterpret_cast<const char*>(it->key);
        EXPECT_STREQ(v->members[i].key, key) << where;
        EXPECT_EQ(v->members[i].keyLength, static_cast<int32_t>(strlen(key))) << where;
        expectSame(v->members[i].value, reinterpret_cast<const SElem*>(it->value),
                   where + "." + key);
        i++;
      }
      break;
    }
    case SE_BYTES:
      ASSERT_EQ(v->count, e->block.count) << where;
      EXPECT_EQ(memcmp(v->bytes, e->block.data, static_cast<size_t>(v->count)), 0) << where;
      break;
    case SE_INT32_ARRAY:
      ASSERT_EQ(v->count, e->block.count) << where;
      for (int32_t i = 0; i < v->count; i++) {
        EXPECT_EQ(v->numbers[i], static_cast<const int32_t*>(e->block.data)[i]) << where;
      }
      break;
    case SE_INT64_ARRAY:
      ASSERT_EQ(v->count, e->block.count) << where;
      for (int32_t i = 0; i < v->count; i++) {
        EXPECT_EQ(v->numbers[i], static_cast<const int64_t*>(e->block.data)[i]) << where;
      }
      break;
  }
}

TEST_F(ReaderTest, DecodesEachTag) {
  const SEView* v = decode({0x00, 0xFE});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->kind, SE_INT32);
  EXPECT_EQ(v->tag, 0);
  EXPECT_EQ(v->number, 254);

  v = decode({0x01, 0x2C, 0x01});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->number, 300);

  v = decode({0x02, 0xCA, 0xBE, 0xDE, 0xAA});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->tag, 2);
  EXPECT_EQ(v->number, static_cast<int32_t>(0xAADEBECAu));

  v = decode({0x09, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->kind, SE_INT64);
  EXPECT_EQ(v->number, -2);

  v = decode({0x03, 0x00, 0x04, 'a', 'b', 'c', 0x00});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->kind, SE_STRING);
  EXPECT_EQ(v->count, 4);
  EXPECT_STREQ(SEViewText(v), "abc");

  v = decode({0x06, 0x00, 0x02, 0xFF, 0x00});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->kind, SE_BYTES);
  EXPECT_EQ(v->count, 2);
  EXPECT_EQ(static_cast<uint8_t>(v->bytes[0]), 0xFF);
  EXPECT_STREQ(SEViewText(v), "") << "only strings have text";

  v = decode({0x07, 0x00, 0x02, 0x00, 0x05, 0x02, 0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->kind, SE_INT32_ARRAY);
  ASSERT_EQ(v->count, 2);
  EXPECT_EQ(v->numbers[0], 5);
  EXPECT_EQ(v->numbers[1], -1);
}

TEST_F(ReaderTest, TagTwoIsSignedAsAnIntegerAndUnsignedInA64BitArray) {
  const SEView* element = decode({0x02, 0xFE, 0xFF, 0xFF, 0xFF});
  ASSERT_NE(element, nullptr);
  EXPECT_EQ(element->number, -2);
  const SEView* array = decode({0x08, 0x00, 0x02, 0x02, 0xFE, 0xFF, 0xFF, 0xFF, 0x09, 0xFE, 0xFF,
                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(array->count, 2);
  EXPECT_EQ(array->numbers[0], INT64_C(4294967294));
  EXPECT_EQ(array->numbers[1], -2);
}

TEST_F(ReaderTest, NamedMembersKeepFileOrder) {
  const SEView* v = decode({0x05, 0x00, 0x03,                    // three members
                            0x00, 0x01, 'z', 0x00, 0x01,         // z = 1
                            0x00, 0x01, 'a', 0x00, 0x02,         // a = 2
                            0x00, 0x02, 'm', 'm', 0x00, 0x03});  // mm = 3
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(v->count, 3);
  EXPECT_STREQ(v->members[0].key, "z");
  EXPECT_STREQ(v->members[1].key, "a");
  EXPECT_STREQ(v->members[2].key, "mm");
  EXPECT_EQ(v->members[2].keyLength, 2);
  ASSERT_NE(SEViewFind(v, "a"), nullptr);
  EXPECT_EQ(SEViewFind(v, "a")->number, 2);
  EXPECT_EQ(SEViewFind(v, "m"), nullptr);
  EXPECT_EQ(SEViewFind(&v->members[0].value[0], "z"), nullptr) << "not a named view";
}

TEST_F(ReaderTest, DuplicateKeysAreKeptAndTheFirstIsFound) {
  const SEView* v =
      decode({0x05, 0x00, 0x02, 0x00, 0x01, 'k', 0x00, 0x07, 0x00, 0x01, 'k', 0x00, 0x08});
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(v->count, 2);
  EXPECT_EQ(SEViewFind(v, "k")->number, 7);
  EXPECT_EQ(v->members[1].value->number, 8);
}

TEST_F(ReaderTest, RoundTripOfEveryKind) {
  int64_t live = cciTestLiveBlocks();
  SElem* root = SENewNamed(10, "Root");
  SENamedPut(root, "int", SENewInt32(-70000));
  SENamedPut(root, "long", SENewInt64(INT64_C(-5000000000)));
  SENamedPut(root, "text", SENewString("h\xC3\xA9llo"));
  SENamedPut(root, "empty", SENewString(""));
  const uint8_t raw[] = {0, 1, 2, 0xFE};
  SENamedPut(root, "bytes", SENewBytes(raw, 4));
  const int32_t ints[] = {0, 254, 255, 65534, 65535, -1};
  SENamedPut(root, "ints", SENewInt32Array(ints, 6));
  const int64_t longs[] = {0, INT64_C(4294967295), INT64_MIN, INT64_MAX};
  SENamedPut(root, "longs", SENewInt64Array(longs, 4));
  SElem* list = SENewList(3);
  SElem* inner = SENewNamed(5, nullptr);
  SENamedPut(inner, "x", SENewInt32(1));
  SEListAdd(list, inner);
  SEListAdd(list, SENewList(0));
  SEListAdd(list, SENewInt32(65535));
  SENamedPut(root, "list", list);
  for (int i = 0; i < 30; i++) {  // more members than buckets: the table grows
    SENamedPut(root, ("k" + std::to_string(i)).c_str(), SENewInt32(i * 1000));
  }
  Bytes bytes = encode(root);
  const SEView* v = decode(bytes);
  ASSERT_NE(v, nullptr) << SEReaderError(reader_);
  expectSame(v, root, "root");
  SEFree(root);
  EXPECT_EQ(cciTestLiveBlocks(), live);
}

TEST_F(ReaderTest, ValuesAreReadOneAfterAnother) {
  Bytes bytes = {0x00, 0x01, 0x03, 0x00, 0x01, 0x00, 0x02, 0xCA, 0xBE, 0xDE, 0xAA};
  size_t offset = 0;
  const SEView* v = nullptr;
  ASSERT_TRUE(SEReadValue(reader_, bytes.data(), bytes.size(), &offset, &v));
  EXPECT_EQ(offset, 2u);
  ASSERT_TRUE(SEReadValue(reader_, bytes.data(), bytes.size(), &offset, &v));
  EXPECT_EQ(v->offset, 2u);
  EXPECT_EQ(offset, 6u);
  ASSERT_TRUE(SEReadValue(reader_, bytes.data(), bytes.size(), &offset, &v));
  EXPECT_EQ(offset, bytes.size());
  EXPECT_FALSE(SEReadValue(reader_, bytes.data(), bytes.size(), &offset, &v));
  EXPECT_NE(std::string(SEReaderError(reader_)).find("truncated"), std::string::npos);
  offset = bytes.size() + 1;
  EXPECT_FALSE(SEReadValue(reader_, bytes.data(), bytes.size(), &offset, &v));
}

TEST_F(ReaderTest, EveryTruncationIsAnError) {
  SElem* root = SENewNamed(8, nullptr);
  SENamedPut(root, "a", SENewInt32(70000));
  SElem* list = SENewList(2);
  SEListAdd(list, SENewString("xyz"));
  SEListAdd(list, SENewInt64(-1));
  SENamedPut(root, "b", list);
  Bytes bytes = encode(root);
  SEFree(root);
  ASSERT_NE(decode(bytes), nullptr);
  for (size_t n = 0; n < bytes.size(); n++) {
    Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    std::string error = errorOf(prefix);
    EXPECT_FALSE(error.empty()) << "prefix of " << n << " bytes";
  }
}

TEST_F(ReaderTest, CorruptInputGivesAClearError) {
  EXPECT_EQ(errorOf({}), "truncated value at offset 0: needs 1 bytes, 0 left");
  EXPECT_EQ(errorOf({0x0A}), "unknown tag 10 at offset 0");
  EXPECT_EQ(errorOf({0x04, 0x02, 0xFF, 0xFF, 0xFF, 0x7F}),
            "list count 2147483647 at offset 1 exceeds the 0 bytes left");
  EXPECT_EQ(errorOf({0x03, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}), "negative string length -1 at offset 1");
  EXPECT_EQ(errorOf({0x03, 0x00, 0x05, 'a', 'b'}),
            "string length 5 at offset 1 exceeds the 2 bytes left");
  EXPECT_EQ(errorOf({0x04, 0x03, 0x00, 0x00}),
            "expected an integer (tag 0, 1 or 2) as list count at offset 1, found tag 3");
  // Two members need at least eight bytes; four are left.
  EXPECT_EQ(errorOf({0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00}),
            "member count 2 at offset 1 exceeds the 4 bytes left");
  EXPECT_EQ(errorOf({0x05, 0x00, 0x01, 0x00, 0x09, 'k', 0x00, 0x00}),
            "key length 9 at offset 3 exceeds the 3 bytes left");
  EXPECT_EQ(errorOf({0x07, 0x00, 0x01, 0x09, 0x00}),
            "expected an integer (tag 0, 1 or 2) as an array value at offset 3, found tag 9");
  EXPECT_EQ(errorOf({0x08, 0x00, 0x01, 0x09, 0x00}),
            "truncated a 64-bit value at offset 3: needs 9 bytes, 2 left");
  EXPECT_EQ(errorOf({0x06, 0x01, 0x10, 0x27}),
            "byte count 10000 at offset 1 exceeds the 0 bytes left");
}

TEST_F(ReaderTest, NestingIsLimited) {
  auto nested = [](int depth) {
    Bytes bytes;
    for (int i = 1; i < depth; i++) bytes.insert(bytes.end(), {0x04, 0x00, 0x01});
    bytes.insert(bytes.end(), {0x00, 0x07});
    return bytes;
  };
  const SEView* deepest = decode(nested(kSEReaderMaxDepth));
  ASSERT_NE(deepest, nullptr) << SEReaderError(reader_);
  for (int i = 1; i < kSEReaderMaxDepth; i++) deepest = &deepest->items[0];
  EXPECT_EQ(deepest->number, 7);
  Bytes tooDeep = nested(kSEReaderMaxDepth + 1);
  EXPECT_EQ(errorOf(tooDeep),
            "nesting deeper than 64 at offset " + std::to_string(3 * kSEReaderMaxDepth));
  // A long chain of list headers fails at the limit, not at the end of the input.
  Bytes chain;
  for (int i = 0; i < 100000; i++) chain.insert(chain.end(), {0x04, 0x00, 0x01});
  EXPECT_NE(errorOf(chain).find("nesting deeper than 64"), std::string::npos);
}

TEST_F(ReaderTest, SnapshotNeedsItsEndMarkerLast) {
  SESnapshotView snapshot;
  Bytes markerOnly = {0x02, 0xCA, 0xBE, 0xDE, 0xAA};
  ASSERT_TRUE(SEReadSnapshot(reader_, markerOnly.data(), markerOnly.size(), &snapshot));
  EXPECT_EQ(snapshot.count, 0);
  EXPECT_EQ(snapshot.size, 5u);

  Bytes two = {0x05, 0x00, 0x00, 0x04, 0x00, 0x00, 0x02, 0xCA, 0xBE, 0xDE, 0xAA};
  ASSERT_TRUE(SEReadSnapshot(reader_, two.data(), two.size(), &snapshot));
  ASSERT_EQ(snapshot.count, 2);
  EXPECT_EQ(snapshot.items[0].kind, SE_NAMED);
  EXPECT_EQ(snapshot.items[1].kind, SE_LIST);

  Bytes none = {0x05, 0x00, 0x00};
  EXPECT_FALSE(SEReadSnapshot(reader_, none.data(), none.size(), &snapshot));
  EXPECT_EQ(std::string(SEReaderError(reader_)),
            "missing end marker 02 ca be de aa after 1 items (3 bytes)");
  EXPECT_FALSE(SEReadSnapshot(reader_, nullptr, 0, &snapshot));

  Bytes trailing = {0x02, 0xCA, 0xBE, 0xDE, 0xAA, 0x00};
  EXPECT_FALSE(SEReadSnapshot(reader_, trailing.data(), trailing.size(), &snapshot));
  EXPECT_EQ(std::string(SEReaderError(reader_)), "1 bytes after the end marker at offset 0");

  Bytes truncatedMarker = {0x02, 0xCA, 0xBE, 0xDE};
  EXPECT_FALSE(SEReadSnapshot(reader_, truncatedMarker.data(), truncatedMarker.size(), &snapshot));
}

TEST_F(ReaderTest, SnapshotFileIsReadWhole) {
  TempFile file;
  SEStream* stream = SEOpenFile(file.c_str());
  ASSERT_NE(stream, nullptr);
  // More than one read buffer of data before the marker.
  std::string text(200000, 'q');
  SElem* big = SENewString(text.c_str());
  SEWrite(stream, big);
  SEFree(big);
  SEWriteInt32(stream, kSESnapshotEndMarker);
  int32_t size = stream->bytesWritten;
  ASSERT_TRUE(SEClose(stream));
  SESnapshotView snapshot;
  ASSERT_TRUE(SEReadSnapshotFile(reader_, file.c_str(), &snapshot)) << SEReaderError(reader_);
  EXPECT_EQ(snapshot.size, static_cast<size_t>(size));
  ASSERT_EQ(snapshot.count, 1);
  EXPECT_EQ(snapshot.items[0].count, 200001);
  EXPECT_EQ(std::string(SEViewText(&snapshot.items[0])), text);

  std::string missing = file.path() + ".absent";
  EXPECT_FALSE(SEReadSnapshotFile(reader_, missing.c_str(), &snapshot));
  EXPECT_EQ(std::string(SEReaderError(reader_)), "cannot open " + missing);
}

}  // namespace
