#include "support/serializer.h"

#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/testing/cci_testing.h"
#include "tests/support/temp_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs write on a stream over a fresh temporary file and returns the file's
// bytes; checks that the stream closed cleanly and counted every byte.
Bytes encodeWith(const std::function<void(SEStream*)>& write) {
  TempFile file;
  SEStream* stream = SEOpenFile(file.c_str());
  EXPECT_NE(stream, nullptr);
  if (stream == nullptr) return {};
  write(stream);
  int32_t counted = stream->bytesWritten;
  EXPECT_TRUE(SEClose(stream));
  Bytes bytes = file.bytes();
  EXPECT_EQ(static_cast<size_t>(counted), bytes.size()) << "bytesWritten is the file's size";
  return bytes;
}

// The bytes that write puts through a stream without a buffer (each piece
// straight to the file).
Bytes unbufferedBytes(const std::function<void(SEStream*)>& write) {
  TempFile plain;
  FILE* f = platform::openFile(plain.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  if (f == nullptr) return {};
  SEStream direct = {};
  direct.file = f;
  write(&direct);
  fclose(f);
  EXPECT_FALSE(direct.failed);
  return plain.bytes();
}

// Encodes the element and frees it.
Bytes encode(SElem* e) {
  Bytes bytes = encodeWith([e](SEStream* s) { SEWrite(s, e); });
  SEFree(e);
  return bytes;
}

Bytes int32Bytes(int32_t v) {
  return encodeWith([v](SEStream* s) { SEWriteInt32(s, v); });
}

Bytes int64Bytes(int64_t v) {
  return encodeWith([v](SEStream* s) { SEWriteInt64(s, v); });
}

class SerializerTest : public ::testing::Test {
 protected:
  void SetUp() override { liveAtStart_ = cciTestLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(cciTestLiveBlocks(), liveAtStart_); }

 private:
  int64_t liveAtStart_ = 0;
};

TEST_F(SerializerTest, IntegerFormHasExclusiveBounds) {
  const struct {
    int32_t value;
    Bytes bytes;
  } cases[] = {
      {-1, {0x02, 0xFF, 0xFF, 0xFF, 0xFF}},
      {0, {0x00, 0x00}},
      {254, {0x00, 0xFE}},
      {255, {0x01, 0xFF, 0x00}},
      {300, {0x01, 0x2C, 0x01}},
      {65534, {0x01, 0xFE, 0xFF}},
      {65535, {0x02, 0xFF, 0xFF, 0x00, 0x00}},
      {0x7FFFFFFF, {0x02, 0xFF, 0xFF, 0xFF, 0x7F}},
      {INT32_MIN, {0x02, 0x00, 0x00, 0x00, 0x80}},
      {0x12345678, {0x02, 0x78, 0x56, 0x34, 0x12}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(int32Bytes(c.value), c.bytes) << c.value;
    EXPECT_EQ(encode(SENewInt32(c.value)), c.bytes) << "element " << c.value;
  }
}

TEST_F(SerializerTest, SixtyFourBitFormUsesTagNineOutsideTheUnsignedRange) {
  const struct {
    int64_t value;
    Bytes bytes;
  } cases[] = {
      {0, {0x00, 0x00}},
      {254, {0x00, 0xFE}},
      {65535, {0x02, 0xFF, 0xFF, 0x00, 0x00}},
      {INT64_C(2147483647), {0x02, 0xFF, 0xFF, 0xFF, 0x7F}},
      {INT64_C(2147483648), {0x02, 0x00, 0x00, 0x00, 0x80}},
      {INT64_C(4294967294), {0x02, 0xFE, 0xFF, 0xFF, 0xFF}},
      {INT64_C(4294967295), {0x09, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}},
      {INT64_C(0x0102030405060708), {0x09, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {-1, {0x09, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {-2, {0x09, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {INT64_MIN, {0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(int64Bytes(c.value), c.bytes) << c.value;
    EXPECT_EQ(encode(SENewInt64(c.value)), c.bytes) << "element " << c.value;
  }
}

TEST_F(SerializerTest, EndMarkerIsFiveBytes) {
  TempFile file;
  SEStream* stream = SEOpenFile(file.c_str());
  ASSERT_NE(stream, nullptr);
  SEWriteInt32(stream, static_cast<int32_t>(0xAADEBECAu));
  EXPECT_EQ(stream->bytesWritten, 5);
  EXPECT_TRUE(SEClose(stream));
  EXPECT_EQ(file.bytes(), (Bytes{0x02, 0xCA, 0xBE, 0xDE, 0xAA}));
}

TEST_F(SerializerTest, StringsListsAndNamedElements) {
  EXPECT_EQ(encode(SENewList(0)), (Bytes{0x04, 0x00, 0x00}));
  EXPECT_EQ(encode(SENewNamed(8, nullptr)), (Bytes{0x05, 0x00, 0x00}));
  EXPECT_EQ(encode(SENewString("")), (Bytes{0x03, 0x00, 0x01, 0x00}));
  EXPECT_EQ(encode(SENewString("abc")), (Bytes{0x03, 0x00, 0x04, 'a', 'b', 'c', 0x00}));
  EXPECT_EQ(encode(SENewStringN("ab", 2)), (Bytes{0x03, 0x00, 0x02, 'a', 'b'}));

  SElem* list = SENewList(2);
  SEListAdd(list, SENewInt32(300));
  SEListAdd(list, SENewInt32(-1));
  EXPECT_EQ(encode(list),
            (Bytes{0x04, 0x00, 0x02, 0x01, 0x2C, 0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SerializerTest, WorkedExampleIsEighteenBytesInEitherInsertionOrder) {
  const Bytes expected = {0x05, 0x00, 0x02,                       // named, 2 members
                          0x00, 0x01, 'b',                        // key "b"
                          0x03, 0x00, 0x04, 'a', 'b', 'c', 0x00,  // "abc" and NUL
                          0x00, 0x01, 'a',                        // key "a"
                          0x00, 0x01};                            // integer 1
  ASSERT_EQ(expected.size(), 18u);
  SElem* aFirst = SENewNamed(8, nullptr);
  SENamedPut(aFirst, "a", SENewInt32(1));
  SENamedPut(aFirst, "b", SENewString("abc"));
  EXPECT_EQ(encode(aFirst), expected);
  SElem* bFirst = SENewNamed(8, nullptr);
  SENamedPut(bFirst, "b", SENewString("abc"));
  SENamedPut(bFirst, "a", SENewInt32(1));
  EXPECT_EQ(encode(bFirst), expected);
}

TEST_F(SerializerTest, NamedElementWrittenPieceByPieceHasTheSameBytes) {
  Bytes pieces = encodeWith([](SEStream* s) {
    SEWriteNamedHeader(s, 2);
    SEWriteKey(s, "b");
    SElem* abc = SENewString("abc");
    SEWrite(s, abc);
    SEFree(abc);
    SEWriteKey(s, "a");
    SEWriteInt32(s, 1);
  });
  SElem* named = SENewNamed(8, nullptr);
  SENamedPut(named, "a", SENewInt32(1));
  SENamedPut(named, "b", SENewString("abc"));
  EXPECT_EQ(pieces, encode(named));
  EXPECT_EQ(encodeWith([](SEStream* s) { SEWriteKey(s, ""); }), (Bytes{0x00, 0x00}));
}

TEST_F(SerializerTest, LongKeyLengthUsesTheTwoByteForm) {
  std::string key(300, 'k');
  SElem* named = SENewNamed(8, nullptr);
  SENamedPut(named, key.c_str(), SENewInt32(0));
  Bytes bytes = encode(named);
  ASSERT_EQ(bytes.size(), 3u + 3u + 300u + 2u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 6), (Bytes{0x05, 0x00, 0x01, 0x01, 0x2C, 0x01}));
  EXPECT_EQ(std::string(bytes.begin() + 6, bytes.begin() + 306), key);
  EXPECT_EQ(Bytes(bytes.end() - 2, bytes.end()), (Bytes{0x00, 0x00}));
}

TEST_F(SerializerTest, KeyPutTwiceIsWrittenTwice) {
  SElem* named = SENewNamed(8, nullptr);
  SENamedPut(named, "id", SENewInt32(1));
  SENamedPut(named, "id", SENewInt32(2));
  // The newer comes first in its chain.
  EXPECT_EQ(encode(named), (Bytes{0x05, 0x00, 0x02, 0x00, 0x02, 'i', 'd', 0x00, 0x02, 0x00, 0x02,
                                  'i', 'd', 0x00, 0x01}));
}

TEST_F(SerializerTest, BlockKinds) {
  const uint8_t raw[] = {0x00, 0xFF, 0x10};
  EXPECT_EQ(encode(SENewBytes(raw, 3)), (Bytes{0x06, 0x00, 0x03, 0x00, 0xFF, 0x10}));
  EXPECT_EQ(encode(SENewBytes(nullptr, 0)), (Bytes{0x06, 0x00, 0x00}));
  const int32_t ints[] = {1, 255, -1};
  EXPECT_EQ(encode(SENewInt32Array(ints, 3)),
            (Bytes{0x07, 0x00, 0x03, 0x00, 0x01, 0x01, 0xFF, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}));
  const int64_t longs[] = {5, -2, INT64_C(3000000000)};
  EXPECT_EQ(encode(SENewInt64Array(longs, 3)),
            (Bytes{0x08, 0x00, 0x03, 0x00, 0x05, 0x09, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                   0xFF, 0x02, 0x00, 0x5E, 0xD0, 0xB2}));
}

TEST_F(SerializerTest, UnknownKindAndNullWriteNothing) {
  SElem* odd = SENewInt32(7);
  odd->kind = 99;
  EXPECT_EQ(encode(odd), Bytes{});
  EXPECT_EQ(encodeWith([](SEStream* s) { SEWrite(s, nullptr); }), Bytes{});
}

TEST_F(SerializerTest, NestedTreeIsWrittenDepthFirst) {
  SElem* outer = SENewList(2);
  SElem* inner = SENewList(1);
  SEListAdd(inner, SENewString("x"));
  SEListAdd(outer, inner);
  SEListAdd(outer, SENewInt32(9));
  EXPECT_EQ(encode(outer),
            (Bytes{0x04, 0x00, 0x02, 0x04, 0x00, 0x01, 0x03, 0x00, 0x02, 'x', 0x00, 0x00, 0x09}));
}

TEST_F(SerializerTest, OpeningInAMissingDirectoryGivesNullAndNoFile) {
  TempFile base;
  std::string path = base.path() + ".missing" + platform::pathSeparator() + "file.snp";
  EXPECT_EQ(SEOpenFile(path.c_str()), nullptr);
  EXPECT_FALSE(fileExists(path));
}

TEST_F(SerializerTest, OpeningTruncatesAnExistingFile) {
  TempFile file;
  FILE* f = platform::openFile(file.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("old contents", f);
  fclose(f);
  SEStream* stream = SEOpenFile(file.c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(stream->regularFile);
  SEWriteInt32(stream, 1);
  EXPECT_TRUE(SEClose(stream));
  EXPECT_EQ(file.bytes(), (Bytes{0x00, 0x01}));
}

TEST_F(SerializerTest, ShortWriteIsReportedByClose) {
  TempFile file;
  // A stream that can't be written: every write comes back short.
  FILE* readOnly = platform::openFile(file.c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  SEStream* stream = SENewFileStream(readOnly);
  ASSERT_NE(stream, nullptr);
  SEWriteInt32(stream, 70000);
  // Still in the stream's buffer: the file has not refused anything yet.
  EXPECT_FALSE(stream->failed);
  EXPECT_EQ(stream->bytesWritten, 5) << "every byte passed on is still counted";
  int error = 0;
  EXPECT_FALSE(SEClose(stream, &error));
  EXPECT_NE(error, 0);
}

// A stream set up by hand has no buffer: the file refuses each piece at once.
TEST_F(SerializerTest, UnbufferedStreamSeesAShortWriteAtOnce) {
  TempFile file;
  FILE* readOnly = platform::openFile(file.c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  SEStream stream = {};
  stream.file = readOnly;
  SEWriteInt32(&stream, 70000);
  EXPECT_TRUE(stream.failed);
  EXPECT_NE(stream.error, 0);
  EXPECT_EQ(stream.bytesWritten, 5);
  fclose(readOnly);
}

// Pieces larger than the buffer, between small ones, keep their order: the
// bytes equal those of an unbuffered stream.
TEST_F(SerializerTest, BufferedBytesEqualUnbufferedOnes) {
  std::vector<uint8_t> big(kSEBufferSize + 17);
  for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<uint8_t>(i * 7);
  auto write = [&](SEStream* stream) {
    for (int i = 0; i < 3000; i++) SEWriteInt32(stream, i * 37);
    SElem* bytes = SENewBytes(big.data(), static_cast<int32_t>(big.size()));
    SEWrite(stream, bytes);
    SEFree(bytes);
    SEWriteString(stream, "tail", 5);
  };
  TempFile buffered;
  SEStream* stream = SEOpenFile(buffered.c_str());
  ASSERT_NE(stream, nullptr);
  ASSERT_NE(stream->buffer, nullptr);
  write(stream);
  int32_t count = stream->bytesWritten;
  ASSERT_TRUE(SEClose(stream));
  EXPECT_EQ(buffered.bytes(), unbufferedBytes(write));
  EXPECT_EQ(static_cast<size_t>(count), buffered.bytes().size());
}

// Each piece is encoded in place when the buffer has room for its longest
// form, and the general way otherwise: wherever the buffer's end falls in a
// run of pieces, the file holds the bytes an unbuffered stream writes, and
// the count is its size.
TEST_F(SerializerTest, PiecesAcrossTheBufferEndHaveTheBytesOfAnUnbufferedStream) {
  const std::string longKey(300, 'k');
  auto pieces = [&](SEStream* stream) {
    // No piece may be put past the buffer's end, even where the bytes that
    // reach the file would still come out right.
    auto inside = [stream] {
      if (stream->buffer != nullptr) ASSERT_LE(stream->buffered, kSEBufferSize);
    };
    for (int32_t v : {0, 254, 255, 65534, 65535, -1, INT32_MIN}) {
      SEWriteInt32(stream, v);
      inside();
    }
    SEWriteKey(stream, "ab");
    inside();
    SEWriteKeyBytes(stream, longKey.data(), static_cast<int32_t>(longKey.size()));
    inside();
    SEWriteString(stream, "xyz", 4);
    inside();
    SEWriteString(stream, longKey.data(), 280);
    inside();
    SEWriteNamedHeader(stream, 3);
    inside();
    SEWriteListHeader(stream, 70000);
    inside();
    SEWriteInt64(stream, INT64_C(-5));
    inside();
  };
  // Bytes before the pieces: a BYTES element of 1 + 3 + length bytes.
  auto filler = [](SEStream* stream, int32_t size) {
    std::vector<uint8_t> data(static_cast<size_t>(size - 4), 0x5A);
    SElem* block = SENewBytes(data.data(), size - 4);
    SEWrite(stream, block);
    SEFree(block);
  };
  const Bytes expected = unbufferedBytes(pieces);
  ASSERT_GT(expected.size(), 600u);
  // The buffer's end falls before every byte of the pieces in turn, and after.
  for (int32_t before = kSEBufferSize - static_cast<int32_t>(expected.size()) - 8;
       before <= kSEBufferSize; before++) {
    TempFile file;
    SEStream* stream = SEOpenFile(file.c_str());
    ASSERT_NE(stream, nullptr);
    ASSERT_NE(stream->buffer, nullptr);
    filler(stream, before);
    ASSERT_EQ(stream->buffered, before);
    pieces(stream);
    const int32_t counted = stream->bytesWritten;
    ASSERT_TRUE(SEClose(stream));
    const Bytes bytes = file.bytes();
    ASSERT_EQ(static_cast<size_t>(counted), bytes.size()) << before;
    ASSERT_EQ(bytes.size(), static_cast<size_t>(before) + expected.size()) << before;
    EXPECT_EQ(Bytes(bytes.begin() + before, bytes.end()), expected) << "buffered " << before;
  }
}

TEST_F(SerializerTest, CleanCloseReportsNoError) {
  TempFile file;
  SEStream* stream = SEOpenFile(file.c_str());
  ASSERT_NE(stream, nullptr);
  SEWriteInt32(stream, 3);
  EXPECT_FALSE(stream->failed);
  int error = -1;
  EXPECT_TRUE(SEClose(stream, &error));
  EXPECT_EQ(error, 0);
  EXPECT_FALSE(SEClose(nullptr));
}

// /dev/full accepts the open and fails every write with ENOSPC: a small file
// fails when its buffer is flushed at close, a large one during the writes.
TEST_F(SerializerTest, FullDeviceIsReportedWhetherTheBufferHidesItOrNot) {
  std::error_code fsError;
  // A Linux device; wine maps the name but does not fail the writes.
  if (platform::pathSeparator() != '/' ||
      !std::filesystem::is_character_file("/dev/full", fsError)) {
    GTEST_SKIP() << "no /dev/full here";
  }

  SEStream* small = SEOpenFile("/dev/full");
  ASSERT_NE(small, nullptr);
  EXPECT_FALSE(small->regularFile);
  SEWriteInt32(small, 1);
  EXPECT_FALSE(small->failed) << "still in the buffer";
  int error = 0;
  EXPECT_FALSE(SEClose(small, &error));
  EXPECT_NE(error, 0);

  SEStream* large = SEOpenFile("/dev/full");
  ASSERT_NE(large, nullptr);
  std::string text(1 << 20, 'x');
  SElem* e = SENewString(text.c_str());
  SEWrite(large, e);
  SEFree(e);
  EXPECT_TRUE(large->failed);
  EXPECT_EQ(large->bytesWritten, 1 + 5 + (1 << 20) + 1);  // tag, length, text and NUL
  EXPECT_FALSE(SEClose(large));
}

TEST_F(SerializerTest, ByteCountThatNoLongerFitsMarksTheStreamFailed) {
  TempFile file;
  SEStream* stream = SEOpenFile(file.c_str());
  ASSERT_NE(stream, nullptr);
  stream->bytesWritten = INT32_MAX - 1;  // as after 2 GiB of output
  SEWriteInt32(stream, 7);               // two more bytes: would be INT32_MAX + 1
  EXPECT_TRUE(stream->failed);
  EXPECT_FALSE(SEClose(stream));
}

}  // namespace
