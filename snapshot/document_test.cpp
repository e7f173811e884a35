#include "snapshot/document.h"

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "agent/handlers.h"
#include "platform/platform.h"
#include "runtime/testing/cci_testing.h"
#include "support/reader.h"
#include "tests/support/runtime_fixture.h"
#include "tests/support/temp_file.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Keys = std::vector<std::string>;

const CciTestMethodSpec kNoMethods[1] = {};

Keys keysOf(const SEView* named) {
  Keys keys;
  if (named == nullptr || named->kind != SE_NAMED) return keys;
  for (int32_t i = 0; i < named->count; i++) keys.push_back(named->members[i].key);
  return keys;
}

std::vector<int64_t> numbersOf(const SEView* list) {
  std::vector<int64_t> numbers;
  if (list == nullptr || list->kind != SE_LIST) return numbers;
  for (int32_t i = 0; i < list->count; i++) {
    EXPECT_EQ(list->items[i].kind, SE_INT32);
    numbers.push_back(list->items[i].number);
  }
  return numbers;
}

int64_t numberOf(const SEView* named, const char* key) {
  const SEView* v = SEViewFind(named, key);
  EXPECT_NE(v, nullptr) << key;
  if (v == nullptr) return INT64_MIN;
  EXPECT_EQ(v->kind, SE_INT32) << key;
  return v->number;
}

std::string textOf(const SEView* named, const char* key) {
  const SEView* v = SEViewFind(named, key);
  EXPECT_NE(v, nullptr) << key;
  if (v == nullptr) return "<absent>";
  EXPECT_EQ(v->kind, SE_STRING) << key;
  // Strings made from text hold their NUL: exactly one, at the end.
  EXPECT_GE(v->count, 1) << key;
  if (v->count >= 1) EXPECT_EQ(v->bytes[v->count - 1], '\0') << key;
  return std::string(v->bytes, v->count > 0 ? static_cast<size_t>(v->count - 1) : 0);
}

// A fresh object table, a temporary target file and a reader for the result.
class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cciTestReset();
    table_ = cciGetCObjectsByID();
    reader_ = SEReaderNew();
    liveAtStart_ = cciTestLiveBlocks();
  }
  void TearDown() override {
    cciTestFailAllocation(0);
    SEReaderFree(reader_);
    EXPECT_EQ(cciTestLiveBlocks(), liveAtStart_) << "the document leaked or freed twice";
  }

  // Writes the document and decodes it; checks the byte count and the file's
  // five-item shape.
  void write(const char* sourcePath, const char* comment) {
    int32_t byteCount = -1;
    ASSERT_TRUE(writeSnapshotDocument(file_.c_str(), sourcePath, comment, table_, &byteCount));
    bytes_ = file_.bytes();
    ASSERT_EQ(static_cast<size_t>(byteCount), bytes_.size()) << "byte count is the file size";
    ASSERT_TRUE(SEReadSnapshot(reader_, bytes_.data(), bytes_.size(), &snapshot_))
        << SEReaderError(reader_);
    ASSERT_EQ(snapshot_.count, 4);
    for (int32_t i = 0; i < 4; i++) ASSERT_EQ(snapshot_.items[i].kind, SE_NAMED) << i;
  }

  const SEView* snapRoot() const { return &snapshot_.items[0]; }
  const SEView* signature() const { return &snapshot_.items[1]; }
  const SEView* classRoot() const { return &snapshot_.items[2]; }
  const SEView* methodRoot() const { return &snapshot_.items[3]; }
  const SEView* classElement(uint32_t id) const {
    return SEViewFind(classRoot(), std::to_string(id).c_str());
  }
  const SEView* methodElement(uint32_t id) const {
    return SEViewFind(methodRoot(), std::to_string(id).c_str());
  }

  QMHashTable* table_ = nullptr;
  SEReader* reader_ = nullptr;
  TempFile file_;
  Bytes bytes_;
  SESnapshotView snapshot_{};
  int64_t liveAtStart_ = 0;
};

TEST_F(DocumentTest, EmptyTableGivesFiveItems) {
  write(nullptr, nullptr);
  const Bytes prefix = {0x05, 0x00, 0x02,                                // SnapRoot
                        0x00, 0x07, 'V',  'e', 'r', 's', 'i', 'o', 'n',  //
                        0x03, 0x00, 0x0A, 'C', 'C', '1', '-', 'J', 'D', 'K', '1', '2', 0x00, 0x00,
                        0x0B, 'S',  'n',  'a', 'p', 'V', 'e', 'r', 's', 'i', 'o', 'n', 0x00, 0x01};
  ASSERT_EQ(prefix.size(), 40u);
  ASSERT_GE(bytes_.size(), 45u);
  EXPECT_EQ(Bytes(bytes_.begin(), bytes_.begin() + 40), prefix);
  // ClassRoot and MethodRoot are empty named elements just before the marker.
  EXPECT_EQ(Bytes(bytes_.end() - 11, bytes_.end()),
            (Bytes{0x05, 0x00, 0x00, 0x05, 0x00, 0x00, 0x02, 0xCA, 0xBE, 0xDE, 0xAA}));
  EXPECT_EQ(keysOf(snapRoot()), (Keys{"Version", "SnapVersion"}));
  EXPECT_EQ(classRoot()->count, 0);
  EXPECT_EQ(methodRoot()->count, 0);
}

TEST_F(DocumentTest, SignatureMembersInFileOrder) {
  const struct {
    const char* sourcePath;
    const char* comment;
    Keys keys;
  } rows[] = {
      {"/src", "note", {"sourcepath", "username", "comment", "hostname", "timestamp"}},
      {"/src", nullptr, {"sourcepath", "username", "hostname", "timestamp"}},
      {"/src", "", {"sourcepath", "username", "hostname", "timestamp"}},
      {nullptr, "note", {"username", "comment", "hostname", "timestamp"}},
      {nullptr, nullptr, {"username", "hostname", "timestamp"}},
      {"", "", {"sourcepath", "username", "hostname", "timestamp"}},
  };
  for (const auto& row : rows) {
    write(row.sourcePath, row.comment);
    EXPECT_EQ(keysOf(signature()), row.keys) << (row.sourcePath ? row.sourcePath : "(null)") << " "
                                             << (row.comment ? row.comment : "(null)");
  }
}

TEST_F(DocumentTest, SignatureValues) {
  write("", "caf\xC3\xA9 \xC0\x80");  // modified UTF-8 from the Java side, stored as given
  EXPECT_EQ(textOf(signature(), "sourcepath"), "");
  EXPECT_EQ(Bytes(bytes_.begin() + 40, bytes_.begin() + 40 + 3), (Bytes{0x05, 0x00, 0x05}));
  EXPECT_EQ(textOf(signature(), "comment"), "caf\xC3\xA9 \xC0\x80");

  char buf[kSignatureBufferSize];
  getHostName(buf);
  char* host = platform::toModifiedUtf8(buf);
  EXPECT_EQ(textOf(signature(), "hostname"), host);
  sFree(host);
  EXPECT_FALSE(textOf(signature(), "hostname").empty());
  getUserName(buf);
  char* user = platform::toModifiedUtf8(buf);
  EXPECT_EQ(textOf(signature(), "username"), user);
  sFree(user);

  std::string stamp = textOf(signature(), "timestamp");
  ASSERT_EQ(stamp.size(), 25u) << stamp;
  EXPECT_EQ(stamp[24], '\n');
  for (size_t i : {3u, 7u, 10u, 19u}) EXPECT_EQ(stamp[i], ' ') << i;
  for (size_t i : {13u, 16u}) EXPECT_EQ(stamp[i], ':') << i;
  for (size_t i : {8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u, 20u, 21u, 22u, 23u}) {
    EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
  }
}

TEST_F(DocumentTest, HostNameFallsBackToLocalhost) {
  char buf[kSignatureBufferSize];
  getHostName(buf);
  char expected[kSignatureBufferSize];
  if (!platform::hostName(expected, sizeof expected)) strcpy(expected, "localhost");
  EXPECT_STREQ(buf, expected);
  getUserName(buf);
  if (!platform::userName(expected, sizeof expected)) expected[0] = '\0';
  EXPECT_STREQ(buf, expected);
}

TEST_F(DocumentTest, TimestampHasAZeroPaddedDay) {
  struct tm t = {};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 8;
  t.tm_wday = 2;
  t.tm_hour = 3;
  t.tm_min = 55;
  t.tm_sec = 31;
  char buf[64];
  formatTimestamp(&t, buf, sizeof buf);
  EXPECT_STREQ(buf, "Tue Dec 08 03:55:31 2026\n");
  t.tm_mday = 31;
  t.tm_mon = 0;
  t.tm_wday = 0;
  t.tm_hour = 23;
  t.tm_min = 0;
  t.tm_sec = 0;
  formatTimestamp(&t, buf, sizeof buf);
  EXPECT_STREQ(buf, "Sun Jan 31 23:00:00 2026\n");
  t.tm_wday = 7;
  t.tm_mon = -1;
  formatTimestamp(&t, buf, sizeof buf);
  EXPECT_STREQ(buf, "??? ??? 31 23:00:00 2026\n");
  char small[8];
  formatTimestamp(&t, small, sizeof small);
  EXPECT_STREQ(small, "??? ???");
}

TEST_F(DocumentTest, NotLoadedClassEndsAfterLod) {
  cciTestAddClass(7, "app/Lazy", "Lazy.java", 1, 0, kNoMethods, 0);
  write(nullptr, nullptr);
  const SEView* c = classElement(7);
  EXPECT_EQ(keysOf(c), (Keys{"lod", "id", "t", "n"}));
  EXPECT_EQ(numberOf(c, "t"), 99);
  EXPECT_EQ(numberOf(c, "id"), 7);
  EXPECT_EQ(textOf(c, "n"), "app/Lazy");
  EXPECT_EQ(numberOf(c, "lod"), 0);
}

TEST_F(DocumentTest, LoadedClassWithoutLines) {
  CciTestMethodSpec methods[2] = {{21, "run", "()V", 0x20, 0, nullptr},
                                  {22, nullptr, nullptr, 1, 0, nullptr}};
  CClass* c = cciTestAddClass(20, "app/NoLines", nullptr, 0x21, 1, methods, 2);
  ASSERT_EQ(c->hasLines, 0);
  c->coverage = 10000;
  c->coverageAtMark = 5000;
  c->coverageSinceMark = 1234;
  c->missedLines = 3;  // not reported without lines
  write(nullptr, nullptr);
  const SEView* e = classElement(20);
  EXPECT_EQ(keysOf(e), (Keys{"c", "sn", "mid", "cm", "id", "cd", "t", "af", "n"}));
  EXPECT_EQ(numberOf(e, "t"), 99);
  EXPECT_EQ(textOf(e, "sn"), "0") << "no source file: the text 0";
  EXPECT_EQ(numberOf(e, "af"), 0x21);
  EXPECT_EQ(numbersOf(SEViewFind(e, "mid")), (std::vector<int64_t>{21, 22}));
  EXPECT_EQ(numberOf(e, "c"), 10000);
  EXPECT_EQ(numberOf(e, "cm"), 5000);
  EXPECT_EQ(numberOf(e, "cd"), 1234);
}

TEST_F(DocumentTest, LoadedClassWithLines) {
  CciTestMethodSpec methods[1] = {{31, nullptr, nullptr, 0, 4, nullptr}};
  CClass* c = cciTestAddClass(30, "app/Lines", "Lines.java", 0xFFFF, 1, methods, 1);
  ASSERT_NE(c->hasLines, 0);
  c->coverage = 65535;  // 16-bit fields are widened without sign
  c->missedLines = -1;
  c->missedLinesSinceMark = 2;
  write(nullptr, nullptr);
  const SEView* e = classElement(30);
  EXPECT_EQ(keysOf(e),
            (Keys{"mld", "c", "sn", "mid", "cm", "nl", "id", "cd", "t", "ml", "af", "n"}));
  EXPECT_EQ(textOf(e, "sn"), "Lines.java");
  EXPECT_EQ(numberOf(e, "af"), 65535);
  EXPECT_EQ(numberOf(e, "c"), 65535);
  EXPECT_EQ(numberOf(e, "nl"), 4);
  EXPECT_EQ(numberOf(e, "ml"), -1);
  EXPECT_EQ(numberOf(e, "mld"), 2);
}

TEST_F(DocumentTest, LoadedClassWithoutMethodsHasAnEmptyMethodList) {
  CClass* c = cciTestAddClass(40, "app/Empty", "Empty.java", 0, 1, kNoMethods, 0);
  ASSERT_EQ(c->methodCount, 0);
  write(nullptr, nullptr);
  const SEView* mid = SEViewFind(classElement(40), "mid");
  ASSERT_NE(mid, nullptr);
  EXPECT_EQ(mid->kind, SE_LIST);
  EXPECT_EQ(mid->count, 0);
}

TEST_F(DocumentTest, Interface) {
  CciTestMethodSpec methods[2] = {{51, "a", "()I", 0x401, 0, nullptr},
                                  {52, "b", "()V", 0x401, 0, nullptr}};
  cciTestAddInterface(50, "app/Api", nullptr, 0x601, methods, 2);
  write(nullptr, nullptr);
  const SEView* e = classElement(50);
  EXPECT_EQ(keysOf(e), (Keys{"sn", "mid", "id", "t", "af", "n"}));
  EXPECT_EQ(numberOf(e, "t"), 105);
  EXPECT_EQ(numberOf(e, "id"), 50);
  EXPECT_EQ(textOf(e, "n"), "app/Api");
  EXPECT_EQ(textOf(e, "sn"), "0");
  EXPECT_EQ(numberOf(e, "af"), 0x601);
  EXPECT_EQ(numbersOf(SEViewFind(e, "mid")), (std::vector<int64_t>{51, 52}));
  // Its methods are in MethodRoot like any other.
  EXPECT_EQ(numberOf(methodElement(51), "cid"), 50);
}

TEST_F(DocumentTest, MethodWithoutLines) {
  CciTestMethodSpec methods[1] = {{61, "<init>", "()V", 0x20, 0, nullptr}};
  CClass* c = cciTestAddClass(60, "app/M", "M.java", 0, 1, methods, 1);
  c->methods[0].invocations = 5;
  c->methods[0].markedInvocations = 2;
  write(nullptr, nullptr);
  const SEView* e = methodElement(61);
  EXPECT_EQ(keysOf(e), (Keys{"s", "id", "cid", "im", "t", "i", "af", "n"}));
  EXPECT_EQ(numberOf(e, "t"), 109);
  EXPECT_EQ(numberOf(e, "id"), 61);
  EXPECT_EQ(numberOf(e, "cid"), 60);
  EXPECT_EQ(textOf(e, "n"), "<init>");
  EXPECT_EQ(textOf(e, "s"), "()V");
  EXPECT_EQ(numberOf(e, "af"), 0x20);
  EXPECT_EQ(numberOf(e, "i"), 5);
  EXPECT_EQ(numberOf(e, "im"), 2);
}

TEST_F(DocumentTest, MethodWithLinesListsEverySlot) {
  const uint16_t lines[3] = {10, 65535, 12};
  CciTestMethodSpec methods[1] = {{71, "work", "(I)I", 1, 3, lines}};
  CClass* c = cciTestAddClass(70, "app/W", "W.java", 0, 1, methods, 1);
  CMethod& m = c->methods[0];
  m.hits[0] = 1;
  m.hits[1] = 0x80000000u;  // unsigned counters are stored as they are
  m.hits[2] = 0xFFFFFFFFu;
  m.markedHits[0] = 1;
  m.markedHits[2] = 7;
  m.invocations = 0xFFFFFFFEu;
  write(nullptr, nullptr);
  const SEView* e = methodElement(71);
  EXPECT_EQ(keysOf(e), (Keys{"lc", "s", "lm", "id", "cid", "im", "t", "ln", "i", "af", "n"}));
  EXPECT_EQ(numbersOf(SEViewFind(e, "ln")), (std::vector<int64_t>{10, 65535, 12}));
  EXPECT_EQ(numbersOf(SEViewFind(e, "lc")), (std::vector<int64_t>{1, INT32_MIN, -1}));
  EXPECT_EQ(numbersOf(SEViewFind(e, "lm")), (std::vector<int64_t>{1, 0, 7}));
  EXPECT_EQ(numberOf(e, "i"), -2);
}

TEST_F(DocumentTest, MethodWithoutLineArraysStillListsItsSlots) {
  CciTestMethodSpec methods[1] = {{81, nullptr, nullptr, 0, 2, nullptr}};
  CClass* c = cciTestAddClass(80, "app/X", "X.java", 0, 1, methods, 1);
  uint16_t* lineNumbers = c->methods[0].lineNumbers;
  uint32_t* markedHits = c->methods[0].markedHits;
  c->methods[0].lineNumbers = nullptr;  // the record allows a missing array
  c->methods[0].markedHits = nullptr;
  c->methods[0].hits[1] = 9;
  write(nullptr, nullptr);
  c->methods[0].lineNumbers = lineNumbers;  // the runtime's, handed back
  c->methods[0].markedHits = markedHits;
  const SEView* e = methodElement(81);
  EXPECT_EQ(numbersOf(SEViewFind(e, "ln")), (std::vector<int64_t>{0, 0}));
  EXPECT_EQ(numbersOf(SEViewFind(e, "lc")), (std::vector<int64_t>{0, 9}));
  EXPECT_EQ(numbersOf(SEViewFind(e, "lm")), (std::vector<int64_t>{0, 0}));
}

TEST_F(DocumentTest, RootsAreKeyedByIdInHashOrder) {
  CciTestMethodSpec withLines[2] = {{101, nullptr, nullptr, 0, 2, nullptr},
                                    {102, nullptr, nullptr, 0, 0, nullptr}};
  cciTestAddClass(100, "app/A", "A.java", 0, 1, withLines, 2);
  CciTestMethodSpec api[1] = {{201, nullptr, nullptr, 0, 0, nullptr}};
  cciTestAddInterface(200, "app/I", "I.java", 0, api, 1);
  cciTestAddClass(3, "app/Lazy", "Lazy.java", 0, 0, kNoMethods, 0);
  CciTestMethodSpec plain[1] = {{2, nullptr, nullptr, 0, 0, nullptr}};
  cciTestAddClass(1, "app/B", nullptr, 0, 1, plain, 1);
  static int32_t strange = 0;
  cciTestAddObject(9, 7, &strange);  // no valid type: in neither root
  write(nullptr, nullptr);
  // Buckets of 256: "200" 59, "1" 72, "3" 133, "100" 157; "101" 22, "102" 143,
  // "201" 180, "2" 230.
  EXPECT_EQ(keysOf(classRoot()), (Keys{"200", "1", "3", "100"}));
  EXPECT_EQ(keysOf(methodRoot()), (Keys{"101", "102", "201", "2"}));
}

TEST_F(DocumentTest, NegativeIdIsWrittenSigned) {
  cciTestAddClass(0x80000001u, "app/Neg", "Neg.java", 0, 0, kNoMethods, 0);
  write(nullptr, nullptr);
  EXPECT_EQ(keysOf(classRoot()), (Keys{"-2147483647"}));
  EXPECT_EQ(numberOf(SEViewFind(classRoot(), "-2147483647"), "id"), INT32_MIN + 1);
}

TEST_F(DocumentTest, LargeRootGrowsAndKeepsEveryObject) {
  // 600 classes: ClassRoot doubles from 256 to 512 buckets on the 513th member.
  for (uint32_t id = 1; id <= 600; id++) cciTestAddClass(id, "c", "c.java", 0, 0, kNoMethods, 0);
  write(nullptr, nullptr);
  Keys keys = keysOf(classRoot());
  ASSERT_EQ(keys.size(), 600u);
  // The order of a table of 200 that received the same keys in the object
  // table's order.
  QMHashTable* expected = QMHashNew(200, QMStringHashWord, QMStringEqualWord, nullptr, 0);
  std::vector<std::string> owned;
  owned.reserve(600);
  QMHashIterator* it = QMHashIterate(table_);
  while ((it = QMHashNext(it)) != nullptr) {
    owned.push_back(std::to_string(static_cast<int32_t>(it->key)));
    QMHashPut(expected, reinterpret_cast<QMHashWord>(owned.back().c_str()), 0);
  }
  EXPECT_EQ(expected->bucketCount, 512);
  Keys order;
  it = QMHashIterate(expected);
  while ((it = QMHashNext(it)) != nullptr) order.push_back(reinterpret_cast<const char*>(it->key));
  QMHashFree(expected);
  EXPECT_EQ(keys, order);
}

// The roots are written one member at a time, in an order computed from their
// keys' hashes; their bytes must be those of the whole tree written at once.
// Each doubling of a root's table reverses its chains, so the roots here grow
// an odd (ClassRoot, 256 to 2,048 buckets) and an even (MethodRoot, to 4,096)
// number of times.
TEST_F(DocumentTest, StreamedRootsHaveTheBytesOfTheWholeTree) {
  for (uint32_t id = 1; id <= 9000; id += 3) {
    CciTestMethodSpec methods[2] = {
        {id + 1, nullptr, nullptr, 0, static_cast<uint16_t>(id % 4), nullptr},
        {id + 2, nullptr, nullptr, 0x20, 0, nullptr}};
    if (id % 4 == 0) {
      cciTestAddInterface(id, "app/I", nullptr, 0, methods, 2);
    } else {
      cciTestAddClass(id, "app/C", "C.java", 1, static_cast<uint16_t>(id % 5 != 0), methods, 2);
    }
  }
  cciTestAddObject(50000, kCObjectClass, nullptr);  // no record: in neither root
  auto written = [this](bool streamed, bool classes) {
    TempFile out;
    SEStream* stream = SEOpenFile(out.c_str());
    EXPECT_NE(stream, nullptr);
    if (stream == nullptr) return Bytes{};
    if (streamed) {
      EXPECT_TRUE(classes ? writeClassRoot(stream, table_) : writeMethodRoot(stream, table_));
    } else {
      SElem* tree = classes ? makeClassRoot(table_) : makeMethodRoot(table_);
      EXPECT_NE(tree, nullptr);
      SEWrite(stream, tree);
      SEFree(tree);
    }
    EXPECT_TRUE(SEClose(stream));
    return out.bytes();
  };
  for (bool classes : {true, false}) {
    Bytes whole = written(false, classes);
    ASSERT_GT(whole.size(), 1000u);
    EXPECT_EQ(written(true, classes), whole) << (classes ? "ClassRoot" : "MethodRoot");
  }
  SElem* tree = makeMethodRoot(table_);
  EXPECT_EQ(tree->members->bucketCount, 4096) << "the method root grew four times";
  SEFree(tree);
  tree = makeClassRoot(table_);
  EXPECT_EQ(tree->members->bucketCount, 2048) << "the class root grew three times";
  SEFree(tree);
}

// A record without its text (a method without a name) has no element: the
// streamed root stops there and reports it, as building the tree does, and
// the document is a failure that leaves no file.
TEST_F(DocumentTest, ARecordWithoutItsNameMakesTheDocumentFail) {
  CciTestMethodSpec methods[2] = {{2, nullptr, nullptr, 0, 3, nullptr},
                                  {3, nullptr, nullptr, 0, 0, nullptr}};
  CClass* c = cciTestAddClass(1, "app/A", "A.java", 0, 1, methods, 2);
  ASSERT_NE(c, nullptr);
  char* name = c->methods[1].name;
  c->methods[1].name = nullptr;
  CObject object = {kCObjectMethod, &c->methods[1]};
  EXPECT_EQ(makeObjectElement(&object), nullptr);
  TempFile out;
  SEStream* stream = SEOpenFile(out.c_str());
  ASSERT_NE(stream, nullptr);
  EXPECT_FALSE(writeMethodRoot(stream, table_));
  EXPECT_TRUE(writeClassRoot(stream, table_)) << "the class itself still has its element";
  SEClose(stream);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writeSnapshotDocument(file_.c_str(), nullptr, nullptr, table_, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "S_CC_C : Cannot write file " + file_.path() + ": out of memory\n");
  EXPECT_FALSE(fileExists(file_.path()));
  c->methods[1].name = name;
}

TEST_F(DocumentTest, DocumentFreesEverythingItBuilds) {
  CciTestMethodSpec methods[3] = {{2, nullptr, nullptr, 0, 5, nullptr},
                                  {3, nullptr, nullptr, 0, 0, nullptr},
                                  {4, nullptr, nullptr, 0, 1, nullptr}};
  cciTestAddClass(1, "app/A", "A.java", 0, 1, methods, 3);
  int64_t before = cciTestLiveBlocks();
  int64_t allocations = cciTestAllocations();
  write("src", "comment");
  EXPECT_GT(cciTestAllocations(), allocations);
  EXPECT_EQ(cciTestLiveBlocks(), before);
}

TEST_F(DocumentTest, OpenFailureIsReported) {
  std::string path = file_.path() + ".missing" + platform::pathSeparator() + "x.snp";
  int32_t byteCount = -1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writeSnapshotDocument(path.c_str(), nullptr, nullptr, table_, &byteCount));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "S_CC_C : Cannot open file " + path + " for writing: No such file or directory\n");
  EXPECT_EQ(byteCount, -1) << "nothing written, nothing counted";
  EXPECT_FALSE(fileExists(path));
}

// A full disk: the writes fail, the document reports failure, and the device is
// of course left where it is. The test writes through a link of its own, so
// that even a regression that removed the target could only remove the link.
TEST_F(DocumentTest, FullDeviceIsAFailureAndIsNotRemoved) {
  std::error_code error;
  // A Linux device; wine maps the name but does not fail the writes.
  if (platform::pathSeparator() != '/' || !std::filesystem::is_character_file("/dev/full", error)) {
    GTEST_SKIP() << "no /dev/full here";
  }
  std::string link = file_.path() + ".full";
  std::filesystem::create_symlink("/dev/full", link, error);
  if (error) GTEST_SKIP() << "no symbolic link: " << error.message();
  cciTestAddClass(1, "app/A", "A.java", 0, 0, kNoMethods, 0);
  int32_t byteCount = -1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writeSnapshotDocument(link.c_str(), "src", nullptr, table_, &byteCount));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "S_CC_C : Cannot write file " + link + ": No space left on device\n");
  EXPECT_GT(byteCount, 45) << "the bytes passed on are still counted";
  EXPECT_TRUE(std::filesystem::is_symlink(link, error)) << "the link was removed";
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full", error));
  std::filesystem::remove(link, error);
}

// Memory running out anywhere while the document is built: never a crash, never
// a leak, and never a file left behind that could pass for a snapshot.
TEST_F(DocumentTest, MemoryRunningOutAnywhereFailsCleanly) {
  CciTestMethodSpec methods[2] = {{2, nullptr, nullptr, 0, 3, nullptr},
                                  {3, nullptr, nullptr, 0, 0, nullptr}};
  cciTestAddClass(1, "app/A", "A.java", 0, 1, methods, 2);
  CciTestMethodSpec api[1] = {{5, nullptr, nullptr, 0, 0, nullptr}};
  cciTestAddInterface(4, "app/I", nullptr, 0, api, 1);
  cciTestAddClass(6, "app/L", nullptr, 0, 0, kNoMethods, 0);
  int64_t before = cciTestAllocations();
  write("src", "comment");
  int64_t needed = cciTestAllocations() - before;
  ASSERT_GT(needed, 20);
  const size_t wholeSize = bytes_.size();
  int failures = 0;
  const std::string stale = "an older file";
  for (int64_t nth = 1; nth <= needed; nth++) {
    FILE* f = platform::openFile(file_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs(stale.c_str(), f);
    fclose(f);
    testing::internal::CaptureStderr();
    cciTestFailAllocation(nth);
    int32_t byteCount = 0;
    bool ok = writeSnapshotDocument(file_.c_str(), "src", "comment", table_, &byteCount);
    cciTestFailAllocation(0);
    std::string err = testing::internal::GetCapturedStderr();
    bool exists = false;
    Bytes left = readFileBytes(file_.path(), &exists);
    if (ok) {
      // A failure the containers recover from (a list array allocated later,
      // a table that stays at its size): the file must then be whole.
      EXPECT_EQ(err, "");
      EXPECT_EQ(left.size(), wholeSize) << "allocation " << nth;
      SEReader* r = SEReaderNew();
      SESnapshotView view;
      EXPECT_TRUE(SEReadSnapshot(r, left.data(), left.size(), &view)) << SEReaderError(r);
      SEReaderFree(r);
    } else {
      failures++;
      EXPECT_EQ(err.rfind("S_CC_C : Cannot ", 0), 0u) << err;
      // Removed; or, when opening it failed, truncated (POSIX fopen) or left
      // as it was (the Windows name conversion failed before the open).
      EXPECT_TRUE(!exists || left.empty() || left == Bytes(stale.begin(), stale.end()))
          << "allocation " << nth << " left " << left.size() << " bytes";
    }
    EXPECT_EQ(cciTestLiveBlocks(), liveAtStart_) << "allocation " << nth;
  }
  EXPECT_GT(failures, needed / 2);
  write("src", "comment");  // and the next one is whole again
}

// Every truncation of a real snapshot and random corruptions of it decode to an
// error or to a valid tree, never to a crash (the sanitizer builds check the
// memory accesses).
TEST_F(DocumentTest, CorruptedSnapshotsNeverCrashTheReader) {
  CciTestMethodSpec methods[3] = {{2, nullptr, nullptr, 0, 6, nullptr},
                                  {3, nullptr, nullptr, 0, 0, nullptr},
                                  {4, nullptr, nullptr, 0, 300, nullptr}};
  cciTestAddClass(1, "app/A", "A.java", 0, 1, methods, 3);
  CciTestMethodSpec api[1] = {{6, nullptr, nullptr, 0, 0, nullptr}};
  cciTestAddInterface(5, "app/I", nullptr, 0, api, 1);
  write("src", "comment");
  const Bytes good = bytes_;
  for (size_t n = 0; n < good.size(); n++) {
    SEReader* r = SEReaderNew();
    SESnapshotView view;
    EXPECT_FALSE(SEReadSnapshot(r, good.data(), n, &view)) << n;
    EXPECT_STRNE(SEReaderError(r), "") << n;
    SEReaderFree(r);
  }
  std::mt19937 random(12345);
  int decoded = 0;
  for (int round = 0; round < 3000; round++) {
    Bytes bad = good;
    int flips = 1 + static_cast<int>(random() % 4);
    for (int f = 0; f < flips; f++) {
      bad[random() % bad.size()] = static_cast<uint8_t>(random());
    }
    SEReader* r = SEReaderNew();
    SESnapshotView view;
    if (SEReadSnapshot(r, bad.data(), bad.size(), &view)) {
      decoded++;
    } else {
      EXPECT_STRNE(SEReaderError(r), "");
    }
    SEReaderFree(r);
  }
  EXPECT_GT(decoded, 0) << "flips inside strings still decode";
  EXPECT_LT(decoded, 3000);
}

// The agent bound to the testing runtime, so that the handlers count.
class DocumentWhileCountingTest : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    table_ = cciGetCObjectsByID();
  }

  QMHashTable* table_ = nullptr;
  TempFile file_;
};

// Snapshots written while threads count: each decodes, its counters never
// exceed the final ones, and they never go down from one snapshot to the next.
TEST_F(DocumentWhileCountingTest, SnapshotsWhileThreadsCount) {
  const int kThreads = 4;
  const int kMethods = 8;
  const uint16_t kSlots = 5;
  std::vector<CciTestMethodSpec> methodShapes(kMethods);
  for (int i = 0; i < kMethods; i++)
    methodShapes[i] = {static_cast<uint32_t>(1001 + i),         nullptr, nullptr,
                       static_cast<uint16_t>(i % 2 ? 0x20 : 0), kSlots,  nullptr};
  CClass* c = cciTestAddClass(1000, "app/Busy", "Busy.java", 0, 1, methodShapes.data(), kMethods);
  void* lock = cciGetCObjectsByIDLock();

  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      JNIEnv* threadEnv = env();
      int round = 0;
      while (!stop.load(std::memory_order_relaxed) || round < 1000) {
        jint method = 1001 + (round + t) % kMethods;
        entryLineHandler(threadEnv, method, 0);
        lineHandler(threadEnv, method, round % kSlots);
        entryHandler(threadEnv, method);
        round++;
      }
      threadEndHandler(threadEnv);
    });
  }

  std::map<uint32_t, std::vector<int64_t>> previous;  // method -> i, then lc
  std::vector<std::map<uint32_t, std::vector<int64_t>>> seen;
  for (int s = 0; s < 20; s++) {
    qmiMonitorEnter(lock);
    int32_t byteCount = 0;
    bool ok = writeSnapshotDocument(file_.c_str(), nullptr, nullptr, table_, &byteCount);
    qmiMonitorExit(lock);
    ASSERT_TRUE(ok);
    Bytes bytes = file_.bytes();
    ASSERT_EQ(static_cast<size_t>(byteCount), bytes.size());
    SEReader* r = SEReaderNew();
    SESnapshotView view;
    ASSERT_TRUE(SEReadSnapshot(r, bytes.data(), bytes.size(), &view)) << SEReaderError(r);
    ASSERT_EQ(view.count, 4);
    std::map<uint32_t, std::vector<int64_t>> counters;
    for (int i = 0; i < kMethods; i++) {
      const SEView* m = SEViewFind(&view.items[3], std::to_string(1001 + i).c_str());
      ASSERT_NE(m, nullptr);
      std::vector<int64_t> values = {static_cast<uint32_t>(numberOf(m, "i"))};
      for (int64_t hit : numbersOf(SEViewFind(m, "lc")))
        values.push_back(static_cast<uint32_t>(hit));
      ASSERT_EQ(values.size(), 1u + kSlots);
      counters[1001 + i] = values;
    }
    SEReaderFree(r);
    for (const auto& [id, values] : counters) {
      if (previous.count(id) == 0) continue;
      for (size_t k = 0; k < values.size(); k++) EXPECT_GE(values[k], previous[id][k]) << id;
    }
    previous = counters;
    seen.push_back(counters);
  }
  stop = true;
  for (std::thread& t : threads) t.join();

  for (int i = 0; i < kMethods; i++) {
    const CMethod& m = c->methods[i];
    std::vector<int64_t> final = {loadRelaxed(m.invocations)};
    for (int k = 0; k < kSlots; k++) final.push_back(loadRelaxed(m.hits[k]));
    for (const auto& snapshot : seen) {
      const std::vector<int64_t>& values = snapshot.at(m.id);
      for (size_t k = 0; k < values.size(); k++) EXPECT_LE(values[k], final[k]) << m.id;
    }
    EXPECT_GT(final[0], 0);
  }
}

}  // namespace
