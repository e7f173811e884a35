#include "tools/snp/snapshot_model.h"

#include <gtest/gtest.h>

#include "support/element.h"
#include "support/serializer.h"
#include "tools/snp/test_support.h"

namespace {

TEST(SnapshotModel, ReadsEveryKindOfObjectTheAgentWrites) {
  TempDir dir;
  Snapshot s = fixture(dir, "small");
  EXPECT_EQ(s.version, "CC1-JDK12");
  EXPECT_EQ(s.snapVersion, 1);
  EXPECT_EQ(s.signatureText("comment"), "small table");
  EXPECT_EQ(s.signatureText("sourcepath"), "src/main/java");
  EXPECT_EQ(s.classes.size(), 8u);
  EXPECT_EQ(s.methods.size(), 12u);
  EXPECT_TRUE(s.orphanMethods.empty());

  const SnpClass* main = findClass(s, "app/tools/Main");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->kind, SnpKind::kClass);
  EXPECT_TRUE(main->loaded);
  EXPECT_EQ(main->sourceName, "Main.java");
  EXPECT_EQ(main->methodIds, (std::vector<int32_t>{11, 12, 13}));
  EXPECT_TRUE(main->hasLines);
  EXPECT_EQ(main->lineCount, 8);
  EXPECT_EQ(main->coverage, 6250);  // 5 of 8 slots
  EXPECT_EQ(main->missedLines, 3);
  const SnpMethod& run = s.method(*main, 1);
  EXPECT_EQ(run.name, "main");
  EXPECT_EQ(run.lines, (std::vector<int32_t>{5, 6, 6, 7, 9}));
  EXPECT_EQ(run.hits, (std::vector<uint32_t>{1, 4, 0, 3, 1}));

  const SnpClass* helper = findClass(s, "app/tools/Main$Helper");
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(s.method(*helper, 1).invocations, 0x80000005u) << "counters read back unsigned";
  EXPECT_EQ(s.method(*helper, 1).hits[0], 0x80000005u);

  const SnpClass* lazy = findClass(s, "app/Lazy");
  ASSERT_NE(lazy, nullptr);
  EXPECT_FALSE(lazy->loaded);
  EXPECT_TRUE(lazy->methods.empty());

  const SnpClass* shape = findClass(s, "app/util/Shape");
  ASSERT_NE(shape, nullptr);
  EXPECT_EQ(shape->kind, SnpKind::kInterface);
  EXPECT_EQ(shape->methods.size(), 1u);

  const SnpClass* gen = findClass(s, "app/Gen");
  ASSERT_NE(gen, nullptr);
  EXPECT_FALSE(gen->hasSourceName) << "sn \"0\" means no source file name";

  const SnpClass* noLines = findClass(s, "app/NoLines");
  ASSERT_NE(noLines, nullptr);
  EXPECT_FALSE(noLines->hasLines);
  EXPECT_EQ(noLines->coverage, 5000);
}

TEST(SnapshotModel, MissingFileGivesTheSystemsReason) {
  TempDir dir;
  try {
    loadSnapshot(dir.file("absent.snp"));
    FAIL() << "no error";
  } catch (const SnpError& e) {
    EXPECT_STREQ(e.what(), "cannot open: No such file or directory");
  }
}

TEST(SnapshotModel, ReadingStopsAtTheSizeLimit) {
  EXPECT_EQ(readFileBytes(dataFile("small.snp"), 5000).size(), 2075u);
  try {
    readFileBytes(dataFile("small.snp"), 2074);
    FAIL() << "no error";
  } catch (const SnpError& e) {
    EXPECT_STREQ(e.what(), "larger than 2074 bytes: not a snapshot");
  }
}

// Every cut of a real snapshot is refused with an error, never a crash.
TEST(SnapshotModel, EveryTruncationIsAnError) {
  std::vector<uint8_t> bytes = readFileBytes(dataFile("small.snp"));
  ASSERT_GT(bytes.size(), 100u);
  for (size_t n = 0; n < bytes.size(); n++) {
    EXPECT_THROW(snapshotFromBytes(bytes.data(), n), SnpError) << "cut at " << n;
  }
  EXPECT_NO_THROW(snapshotFromBytes(bytes.data(), bytes.size()));
}

// Any single changed byte either still reads (a changed count or text) or is
// refused with an error.
TEST(SnapshotModel, CorruptBytesGiveAResultOrAnError) {
  std::vector<uint8_t> bytes = readFileBytes(dataFile("small.snp"));
  size_t refused = 0;
  for (size_t i = 0; i < bytes.size(); i++) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x05}, uint8_t{0xFF}}) {
      std::vector<uint8_t> copy = bytes;
      if (copy[i] == value) continue;
      copy[i] = value;
      try {
        snapshotFromBytes(copy.data(), copy.size());
      } catch (const SnpError& e) {
        EXPECT_NE(std::string(e.what()), "");
        refused++;
      }
    }
  }
  EXPECT_GT(refused, bytes.size()) << "most corruptions are noticed";
}

// Encodes the four items and the end marker.
std::vector<uint8_t> encode(const std::vector<SElem*>& items, const TempDir& dir) {
  std::string path = dir.file("built.snp");
  SEStream* stream = SEOpenFile(path.c_str());
  EXPECT_NE(stream, nullptr);
  for (SElem* e : items) {
    SEWrite(stream, e);
    SEFree(e);
  }
  SEWriteInt32(stream, static_cast<int32_t>(0xAADEBECAu));
  EXPECT_TRUE(SEClose(stream));
  return readFileBytes(path);
}

SElem* snapRoot() {
  SElem* e = SENewNamed(8, "SnapRoot");
  SENamedPut(e, "Version", SENewString("CC1-JDK12"));
  SENamedPut(e, "SnapVersion", SENewInt32(1));
  return e;
}

SElem* method(int32_t id, int32_t lines, int32_t hits) {
  SElem* m = SENewNamed(10, "SElem");
  SENamedPut(m, "t", SENewInt32('m'));
  SENamedPut(m, "id", SENewInt32(id));
  SENamedPut(m, "cid", SENewInt32(1));
  SENamedPut(m, "n", SENewString("run"));
  SENamedPut(m, "s", SENewString("()V"));
  SENamedPut(m, "af", SENewInt32(1));
  SENamedPut(m, "i", SENewInt32(1));
  SENamedPut(m, "im", SENewInt32(0));
  SElem* ln = SENewList(lines);
  SElem* lc = SENewList(hits);
  SElem* lm = SENewList(lines);
  for (int32_t k = 0; k < lines; k++) SEListAdd(ln, SENewInt32(k + 1));
  for (int32_t k = 0; k < hits; k++) SEListAdd(lc, SENewInt32(1));
  for (int32_t k = 0; k < lines; k++) SEListAdd(lm, SENewInt32(0));
  SENamedPut(m, "ln", ln);
  SENamedPut(m, "lc", lc);
  SENamedPut(m, "lm", lm);
  return m;
}

SElem* classWithMethod(int32_t methodId, bool withType = true) {
  SElem* c = SENewNamed(10, "SElem");
  if (withType) SENamedPut(c, "t", SENewInt32('c'));
  SENamedPut(c, "id", SENewInt32(1));
  SENamedPut(c, "n", SENewString("app/A"));
  SENamedPut(c, "sn", SENewString("A.java"));
  SENamedPut(c, "af", SENewInt32(1));
  SElem* mid = SENewList(1);
  SEListAdd(mid, SENewInt32(methodId));
  SENamedPut(c, "mid", mid);
  SENamedPut(c, "c", SENewInt32(0));
  SENamedPut(c, "cm", SENewInt32(0));
  SENamedPut(c, "cd", SENewInt32(0));
  return c;
}

std::string shapeError(SElem* classElem, SElem* methodElem) {
  TempDir dir;
  SElem* classes = SENewNamed(200, "ClassRoot");
  SENamedPut(classes, "1", classElem);
  SElem* methods = SENewNamed(200, "MethodRoot");
  SENamedPut(methods, "2", methodElem);
  std::vector<uint8_t> bytes =
      encode({snapRoot(), SENewNamed(5, "Signature"), classes, methods}, dir);
  try {
    snapshotFromBytes(bytes.data(), bytes.size());
  } catch (const SnpError& e) {
    return e.what();
  }
  return "(read)";
}

TEST(SnapshotModel, WellFormedHandBuiltSnapshotReads) {
  EXPECT_EQ(shapeError(classWithMethod(2), method(2, 2, 2)), "(read)");
}

TEST(SnapshotModel, RefusesShapesTheAgentNeverWrites) {
  EXPECT_EQ(
      shapeError(classWithMethod(3), method(2, 2, 2)),
      "not a snapshot: ClassRoot member \"1\" (offset 49) lists method 3, which MethodRoot lacks");
  // SnapRoot 40 bytes, an empty Signature 3, ClassRoot's head 5 and the
  // class element 73: the method element starts at 128.
  EXPECT_EQ(shapeError(classWithMethod(2), method(2, 2, 1)),
            "not a snapshot: MethodRoot member \"2\" (offset 128): \"ln\", \"lc\" and \"lm\" "
            "differ in length");
  EXPECT_EQ(shapeError(classWithMethod(2, false), method(2, 1, 1)),
            "not a snapshot: ClassRoot member \"1\" (offset 49) has no \"t\"");
}

TEST(SnapshotModel, RefusesAFileWithoutTheFourItems) {
  TempDir dir;
  std::vector<uint8_t> bytes = encode({snapRoot(), SENewNamed(5, "Signature")}, dir);
  try {
    snapshotFromBytes(bytes.data(), bytes.size());
    FAIL() << "no error";
  } catch (const SnpError& e) {
    EXPECT_STREQ(e.what(), "not a snapshot: no ClassRoot (only 2 items)");
  }
}

}  // namespace
