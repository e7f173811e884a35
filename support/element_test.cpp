#include "support/element.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/testing/cci_testing.h"

namespace {

// Collects the texts handed to SEDiagnostic while alive.
class DiagnosticCapture {
 public:
  DiagnosticCapture() {
    messages().clear();
    SESetDiagnosticSink(record);
  }
  ~DiagnosticCapture() { SESetDiagnosticSink(nullptr); }
  static std::vector<std::string>& messages() {
    static std::vector<std::string> seen;
    return seen;
  }

 private:
  static void record(const char* message) { messages().push_back(message); }
};

// The keys of a named element in its member table's iteration order.
std::vector<std::string> memberKeys(SElem* named) {
  std::vector<std::string> keys;
  QMHashIterator* it = QMHashIterate(named->members);
  while ((it = QMHashNext(it)) != nullptr) keys.push_back(reinterpret_cast<const char*>(it->key));
  return keys;
}

class ElementTest : public ::testing::Test {
 protected:
  void SetUp() override { liveAtStart_ = cciTestLiveBlocks(); }
  void TearDown() override {
    cciTestFailAllocation(0);
    EXPECT_EQ(cciTestLiveBlocks(), liveAtStart_) << "blocks leaked or freed twice";
  }

 private:
  int64_t liveAtStart_ = 0;
};

TEST_F(ElementTest, IntegersHoldTheirValues) {
  SElem* e = SENewInt32(-7);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->kind, SE_INT32);
  EXPECT_EQ(e->int32Value, -7);
  SEFree(e);
  SElem* wide = SENewInt64(INT64_MIN);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->kind, SE_INT64);
  EXPECT_EQ(wide->int64Value, INT64_MIN);
  SEFree(wide);
}

TEST_F(ElementTest, StringFromTextCountsItsNul) {
  SElem* abc = SENewString("abc");
  ASSERT_NE(abc, nullptr);
  EXPECT_EQ(abc->kind, SE_STRING);
  EXPECT_EQ(abc->string.length, 4);
  EXPECT_EQ(memcmp(abc->string.data, "abc\0\0", 5), 0);  // the text's NUL, then the added one
  SEFree(abc);

  SElem* empty = SENewString("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->string.length, 1);
  EXPECT_EQ(empty->string.data[0], '\0');
  EXPECT_EQ(empty->string.data[1], '\0');
  SEFree(empty);
}

TEST_F(ElementTest, StringFromBytesCopiesThemAndAddsANul) {
  char bytes[3] = {'x', '\0', 'y'};
  SElem* e = SENewStringN(bytes, 3);
  ASSERT_NE(e, nullptr);
  bytes[0] = 'z';  // a copy, not a reference
  EXPECT_EQ(e->string.length, 3);
  EXPECT_EQ(memcmp(e->string.data, "x\0y\0", 4), 0);
  SEFree(e);

  SElem* none = SENewStringN("ignored", 0);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->string.length, 0);
  EXPECT_EQ(none->string.data[0], '\0');
  SEFree(none);

  EXPECT_EQ(SENewStringN("x", -1), nullptr);
  EXPECT_EQ(SENewStringN(nullptr, 2), nullptr);
  EXPECT_EQ(SENewString(nullptr), nullptr);
}

TEST_F(ElementTest, NamedElementGetsItsNameAndBucketCount) {
  SElem* anonymous = SENewNamed(8, nullptr);
  ASSERT_NE(anonymous, nullptr);
  EXPECT_EQ(anonymous->kind, SE_NAMED);
  EXPECT_STREQ(SENamedName(anonymous), "NO_NAME");
  EXPECT_EQ(anonymous->members->bucketCount, 8);
  EXPECT_EQ(anonymous->members->extraWords, 0);
  SEFree(anonymous);

  const struct {
    int32_t capacity;
    int32_t buckets;
  } cases[] = {{5, 8}, {8, 8}, {10, 16}, {200, 256}};
  for (const auto& c : cases) {
    char name[] = "Root";
    SElem* e = SENewNamed(c.capacity, name);
    ASSERT_NE(e, nullptr);
    name[0] = 'X';  // the element keeps a copy
    EXPECT_STREQ(SENamedName(e), "Root");
    EXPECT_EQ(e->members->bucketCount, c.buckets) << "capacity " << c.capacity;
    SEFree(e);
  }
  SElem* list = SENewList(3);
  EXPECT_EQ(SENamedName(list), nullptr);
  SEFree(list);
}

TEST_F(ElementTest, ListKeepsChildrenInOrder) {
  SElem* list = SENewList(2);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->children->capacity, 2);
  for (int32_t v = 0; v < 5; v++) EXPECT_TRUE(SEListAdd(list, SENewInt32(v * 10)));
  ASSERT_EQ(list->children->count, 5);
  for (int32_t i = 0; i < 5; i++) {
    EXPECT_EQ(static_cast<SElem*>(list->children->items[i])->int32Value, i * 10);
  }
  SEFree(list);
}

TEST_F(ElementTest, AddingToTheWrongKindChangesNothing) {
  SElem* named = SENewNamed(8, "n");
  SElem* list = SENewList(1);
  SElem* child = SENewInt32(1);
  EXPECT_FALSE(SEListAdd(named, child));
  EXPECT_EQ(QMHashCount(named->members), 0);
  EXPECT_FALSE(SENamedPut(list, "k", child));
  EXPECT_EQ(list->children->count, 0);
  EXPECT_FALSE(SEListAdd(list, nullptr));
  EXPECT_FALSE(SENamedPut(named, "k", nullptr));
  EXPECT_FALSE(SENamedPut(named, nullptr, child));
  EXPECT_FALSE(SEListAdd(nullptr, child));
  EXPECT_EQ(list->children->count, 0);
  EXPECT_EQ(QMHashCount(named->members), 0);
  SEFree(child);  // still the caller's
  SEFree(named);
  SEFree(list);
}

TEST_F(ElementTest, KeyPutTwiceKeepsBothMembersAndFindsTheNewer) {
  SElem* named = SENewNamed(8, nullptr);
  char key[] = "id";
  EXPECT_TRUE(SENamedPut(named, key, SENewInt32(1)));
  key[0] = 'x';  // the key is copied
  EXPECT_TRUE(SENamedPut(named, "id", SENewInt32(2)));
  EXPECT_EQ(QMHashCount(named->members), 2);
  EXPECT_EQ(memberKeys(named), (std::vector<std::string>{"id", "id"}));
  ASSERT_NE(SENamedGet(named, "id"), nullptr);
  EXPECT_EQ(SENamedGet(named, "id")->int32Value, 2);
  EXPECT_EQ(SENamedGet(named, "xd"), nullptr);
  SEFree(named);
}

TEST_F(ElementTest, MembersIterateByBucketNotByInsertion) {
  // "b" lies in bucket 4 and "a" in bucket 7 of an 8-bucket table.
  for (bool aFirst : {true, false}) {
    SElem* named = SENewNamed(8, nullptr);
    if (aFirst) SENamedPut(named, "a", SENewInt32(1));
    SENamedPut(named, "b", SENewString("abc"));
    if (!aFirst) SENamedPut(named, "a", SENewInt32(1));
    EXPECT_EQ(memberKeys(named), (std::vector<std::string>{"b", "a"}));
    SEFree(named);
  }
}

TEST_F(ElementTest, GetInt32ConvertsIntegersAndText) {
  DiagnosticCapture capture;
  SElem* number = SENewInt32(-12345);
  SElem* text = SENewString("42");
  SElem* signedText = SENewString("  -17xyz");
  SElem* noDigits = SENewString("abc");
  SElem* huge = SENewString("99999999999");
  SElem* hugeNegative = SENewString("-99999999999");
  EXPECT_EQ(SEGetInt32(number), -12345);
  EXPECT_EQ(SEGetInt32(text), 42);
  EXPECT_EQ(SEGetInt32(signedText), -17);
  EXPECT_EQ(SEGetInt32(noDigits), 0);
  EXPECT_EQ(SEGetInt32(huge), INT32_MAX);
  EXPECT_EQ(SEGetInt32(hugeNegative), INT32_MIN);
  EXPECT_TRUE(DiagnosticCapture::messages().empty());
  for (SElem* e : {number, text, signedText, noDigits, huge, hugeNegative}) SEFree(e);
}

TEST_F(ElementTest, GettersGiveMinusOneAndADiagnosticOnMismatch) {
  DiagnosticCapture capture;
  SElem* list = SENewList(0);
  SElem* wide = SENewInt64(5);
  SElem* text = SENewString("7");
  EXPECT_EQ(SEGetInt32(list), -1);
  EXPECT_EQ(SEGetInt32(nullptr), -1);
  EXPECT_EQ(SEGetInt32(wide), -1);
  EXPECT_EQ(SEGetInt64(nullptr), -1);
  EXPECT_EQ(SEGetInt64(text), -1);
  EXPECT_EQ(DiagnosticCapture::messages(),
            (std::vector<std::string>{"Type mismatch", "SEGetInt32: null element", "Type mismatch",
                                      "SEGetInt64: null element", "Type mismatch"}));
  for (SElem* e : {list, wide, text}) SEFree(e);
}

TEST_F(ElementTest, GetInt64WidensWithSign) {
  SElem* minusFive = SENewInt32(-5);
  SElem* big = SENewInt64(INT64_C(0x123456789));
  EXPECT_EQ(SEGetInt64(minusFive), INT64_C(-5));
  EXPECT_EQ(SEGetInt64(big), INT64_C(0x123456789));
  SEFree(minusFive);
  SEFree(big);
}

TEST_F(ElementTest, BlocksCopyTheirData) {
  const uint8_t bytes[] = {1, 2, 0xFF};
  const int32_t ints[] = {-1, 300};
  const int64_t longs[] = {INT64_MAX, -2, 7};
  SElem* b = SENewBytes(bytes, 3);
  SElem* i = SENewInt32Array(ints, 2);
  SElem* l = SENewInt64Array(longs, 3);
  SElem* emptyBytes = SENewBytes(nullptr, 0);
  ASSERT_TRUE(b && i && l && emptyBytes);
  EXPECT_EQ(b->kind, SE_BYTES);
  EXPECT_EQ(i->kind, SE_INT32_ARRAY);
  EXPECT_EQ(l->kind, SE_INT64_ARRAY);
  EXPECT_NE(b->block.data, static_cast<const void*>(bytes));
  EXPECT_EQ(memcmp(b->block.data, bytes, 3), 0);
  EXPECT_EQ(memcmp(i->block.data, ints, sizeof ints), 0);
  EXPECT_EQ(memcmp(l->block.data, longs, sizeof longs), 0);
  EXPECT_EQ(emptyBytes->block.count, 0);
  EXPECT_EQ(SENewBytes(bytes, -1), nullptr);
  for (SElem* e : {b, i, l, emptyBytes}) {
    EXPECT_NE(e->block.owns, 0);
    SEFree(e);
  }
}

TEST_F(ElementTest, BorrowedBlockDataIsNotFreed) {
  SElem* borrowed = SENewBytes(nullptr, 0);
  static uint8_t data[4] = {1, 2, 3, 4};  // not from sMalloc: freeing it would abort
  borrowed->block.data = data;
  borrowed->block.count = 4;
  borrowed->block.owns = 0;
  SEFree(borrowed);
  EXPECT_EQ(data[3], 4);
}

TEST_F(ElementTest, FreeReleasesEveryElementKeyAndNameOnce) {
  int64_t before = cciTestLiveBlocks();
  SElem* root = SENewNamed(8, "Root");
  for (int32_t m = 0; m < 40; m++) {  // enough members to grow the table twice
    SElem* list = SENewList(3);
    for (int32_t v = 0; v < 3; v++) SEListAdd(list, SENewInt32(v));
    char key[8];
    snprintf(key, sizeof key, "k%d", m);
    ASSERT_TRUE(SENamedPut(root, key, list));
  }
  SElem* inner = SENewNamed(5, nullptr);
  SENamedPut(inner, "s", SENewString("text"));
  SENamedPut(root, "inner", inner);
  EXPECT_GT(root->members->bucketCount, 8);
  EXPECT_GT(cciTestLiveBlocks(), before);
  SEFree(root);  // the fixture checks the balance; the runtime aborts on a double free
  EXPECT_EQ(cciTestLiveBlocks(), before);
  SEFree(nullptr);
}

TEST_F(ElementTest, UnknownKindIsFreedAlone) {
  SElem* odd = SENewInt32(0);
  odd->kind = 42;
  SEFree(odd);
}

TEST_F(ElementTest, ConstructorsReturnNullAndLeakNothingWhenMemoryRunsOut) {
  const int64_t ints[] = {1, 2};
  for (int32_t nth = 1; nth <= 4; nth++) {
    SElem* made[] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    cciTestFailAllocation(nth);
    made[0] = SENewString("abc");
    cciTestFailAllocation(nth);
    made[1] = SENewNamed(8, "name");
    cciTestFailAllocation(nth);
    made[2] = SENewList(4);
    cciTestFailAllocation(nth);
    made[3] = SENewInt64Array(ints, 2);
    cciTestFailAllocation(nth);
    made[4] = SENewInt32(1);
    cciTestFailAllocation(0);
    if (nth == 1) {
      for (SElem* e : made) EXPECT_EQ(e, nullptr);
    }
    for (SElem* e : made) SEFree(e);
  }
}

TEST_F(ElementTest, FailedPutLeavesTheChildToTheCaller) {
  SElem* named = SENewNamed(8, nullptr);
  SElem* child = SENewInt32(3);
  cciTestFailAllocation(1);  // the key copy
  EXPECT_FALSE(SENamedPut(named, "k", child));
  EXPECT_EQ(QMHashCount(named->members), 0);
  cciTestFailAllocation(2);  // the table's first entry block, after the key copy
  EXPECT_FALSE(SENamedPut(named, "k", child));
  EXPECT_EQ(QMHashCount(named->members), 0);
  cciTestFailAllocation(0);
  SElem* list = SENewList(0);
  cciTestFailAllocation(1);  // the vector's first array
  EXPECT_FALSE(SEListAdd(list, child));
  cciTestFailAllocation(0);
  EXPECT_EQ(list->children->count, 0);
  SEFree(child);
  SEFree(list);
  SEFree(named);
}

}  // namespace
