#include "platform/platform.h"

#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/modified_utf8.h"
#include "runtime/testing/cci_testing.h"
#include "tests/support/temp_file.h"

#if defined(_WIN32)
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
#endif

namespace {

using Units = std::vector<uint16_t>;

std::string encodeUnits(const Units& units) {
  std::vector<char> out(3 * units.size() + 1);
  size_t n = platform::mutf8::encodeUnits(units.data(), units.size(), out.data());
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

Units decodePath(const char* text) {
  Units out(strlen(text) + 1, 0xBEEF);
  size_t n = platform::mutf8::decodeUnits(text, out.data());
  EXPECT_EQ(out[n], 0) << "terminated";
  out.resize(n);
  return out;
}

Units decodeUtf8(const char* text) {
  Units out(strlen(text));
  out.resize(platform::mutf8::utf8ToUnits(text, out.data()));
  return out;
}

std::string converted(const char* text) {
  char* result = platform::toModifiedUtf8(text);
  if (result == nullptr) return "<null>";
  std::string copy = result;
  sFree(result);
  return copy;
}

TEST(ModifiedUtf8Test, EncodesEachUnitByItsRange) {
  EXPECT_EQ(encodeUnits({0x0000}), std::string("\xC0\x80", 2));
  EXPECT_EQ(encodeUnits({0x0001}), "\x01");
  EXPECT_EQ(encodeUnits({0x0041, 0x007F}), "A\x7F");
  EXPECT_EQ(encodeUnits({0x0080}), "\xC2\x80");
  EXPECT_EQ(encodeUnits({0x00E9}), "\xC3\xA9");
  EXPECT_EQ(encodeUnits({0x07FF}), "\xDF\xBF");
  EXPECT_EQ(encodeUnits({0x0800}), "\xE0\xA0\x80");
  EXPECT_EQ(encodeUnits({0x20AC}), "\xE2\x82\xAC");
  EXPECT_EQ(encodeUnits({0xFFFF}), "\xEF\xBF\xBF");
  // A surrogate pair: two 3-byte sequences, never one 4-byte sequence.
  EXPECT_EQ(encodeUnits({0xD83D, 0xDE00}), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(encodeUnits({}), "");
}

TEST(ModifiedUtf8Test, PathsDecodeUnitByUnit) {
  EXPECT_EQ(decodePath("a/b"), (Units{'a', '/', 'b'}));
  EXPECT_EQ(decodePath("caf\xC3\xA9"), (Units{'c', 'a', 'f', 0x00E9}));
  EXPECT_EQ(decodePath("\xE2\x82\xAC"), (Units{0x20AC}));
  EXPECT_EQ(decodePath("\xED\xA0\xBD\xED\xB8\x80"), (Units{0xD83D, 0xDE00}));
  EXPECT_EQ(decodePath("\xC0\x80x"), (Units{0x0000, 'x'}));
  // 1110xxxx 10xxxxxx and then no continuation: one unit of 4 + 6 bits.
  EXPECT_EQ(decodePath("\xE2\x82X"), (Units{0x0082, 'X'}));
  EXPECT_EQ(decodePath("\xE2\x82"), (Units{0x0082}));
  // Any other byte is a unit of its own value.
  EXPECT_EQ(decodePath("\xF0\x9F\x98\x80"), (Units{0x00F0, 0x009F, 0x0098, 0x0080}));
  EXPECT_EQ(decodePath("\xC3X"), (Units{0x00C3, 'X'}));
  EXPECT_EQ(decodePath("\xC3"), (Units{0x00C3}));
  EXPECT_EQ(decodePath("\x80\xBF"), (Units{0x0080, 0x00BF}));
  EXPECT_EQ(decodePath("\xE2"), (Units{0x00E2}));
  EXPECT_EQ(decodePath("\xFF"), (Units{0x00FF}));
  EXPECT_EQ(decodePath(""), Units{});
}

TEST(ModifiedUtf8Test, LocaleTextDecodesAsStrictUtf8) {
  EXPECT_EQ(decodeUtf8("A\xC3\xA9\xE2\x82\xAC"), (Units{'A', 0x00E9, 0x20AC}));
  EXPECT_EQ(decodeUtf8("\xF0\x9F\x98\x80"), (Units{0xD83D, 0xDE00}));
  EXPECT_EQ(decodeUtf8("\xF4\x8F\xBF\xBF"), (Units{0xDBFF, 0xDFFF}));
  // Anything not well-formed is taken byte by byte as Latin-1.
  EXPECT_EQ(decodeUtf8("\xE9t\xE9"), (Units{0x00E9, 't', 0x00E9}));
  EXPECT_EQ(decodeUtf8("\xC0\x80"), (Units{0x00C0, 0x0080}));              // overlong NUL
  EXPECT_EQ(decodeUtf8("\xE0\x80\xAF"), (Units{0x00E0, 0x0080, 0x00AF}));  // overlong '/'
  EXPECT_EQ(decodeUtf8("\xED\xA0\xBD"), (Units{0x00ED, 0x00A0, 0x00BD}));  // a surrogate
  EXPECT_EQ(decodeUtf8("\xF4\x90\x80\x80"), (Units{0x00F4, 0x0090, 0x0080, 0x0080}));
  EXPECT_EQ(decodeUtf8("\xE2\x82"), (Units{0x00E2, 0x0082}));  // cut short by the end
  EXPECT_EQ(decodeUtf8("\xF0\x9F\x98"), (Units{0x00F0, 0x009F, 0x0098}));
}

TEST(PlatformTest, ToModifiedUtf8) {
  int64_t live = cciTestLiveBlocks();
  EXPECT_EQ(platform::toModifiedUtf8(nullptr), nullptr);
  EXPECT_EQ(converted(""), "");
  EXPECT_EQ(converted("plain ASCII ~"), "plain ASCII ~");
  if (platform::pathSeparator() == '/') {
    // POSIX: the locale's text is UTF-8.
    EXPECT_EQ(converted("a\xC3\xA9\xF0\x9F\x98\x80"), "a\xC3\xA9\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(converted("\xFF\xFE"), "\xC3\xBF\xC3\xBE");
    EXPECT_EQ(converted("\xF0\x9F\x98\x80\xF0\x9F\x98\x80"),
              "\xED\xA0\xBD\xED\xB8\x80\xED\xA0\xBD\xED\xB8\x80");
  }
#if defined(_WIN32)
  if (GetACP() == 1252) {
    EXPECT_EQ(converted("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
  }
#endif
  EXPECT_EQ(cciTestLiveBlocks(), live);
}

TEST(PlatformTest, TemporaryFilesAreNewAndDistinct) {
  char first[4096];
  char second[4096];
  ASSERT_TRUE(platform::createTempFile(first, sizeof first));
  ASSERT_TRUE(platform::createTempFile(second, sizeof second));
  EXPECT_STRNE(first, second);
  bool exists = false;
  EXPECT_TRUE(readFileBytes(first, &exists).empty());
  EXPECT_TRUE(exists);
  EXPECT_TRUE(platform::removeFile(first));
  EXPECT_FALSE(fileExists(first));
  EXPECT_FALSE(platform::removeFile(first));
  EXPECT_TRUE(platform::removeFile(second));
  char tiny[4];
  EXPECT_FALSE(platform::createTempFile(tiny, sizeof tiny));
  EXPECT_FALSE(platform::removeFile(nullptr));
}

TEST(PlatformTest, OpenWriteAndRegularFiles) {
  TempFile file;
  FILE* f = platform::openFile(file.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(platform::isRegularFile(f));
  EXPECT_EQ(platform::writeUnlocked(f, "abc", 3), 3u);
  EXPECT_EQ(platform::writeUnlocked(f, "", 0), 0u);
  EXPECT_EQ(fclose(f), 0);
  EXPECT_EQ(file.bytes(), (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_FALSE(platform::isRegularFile(nullptr));
  EXPECT_EQ(platform::openFile(nullptr, "rb"), nullptr);

  const char* device = platform::pathSeparator() == '/' ? "/dev/null" : "NUL";
  FILE* d = platform::openFile(device, "wb");
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(platform::isRegularFile(d));
  fclose(d);
}

// A name with an accented letter, a euro sign and a character beyond 16 bits
// (as two 3-byte surrogates, the way Java hands such text over).
TEST(PlatformTest, NonAsciiPathIsFoundUnderItsUtf16Name) {
  TempFile base;
  std::string path = base.path() + "_caf\xC3\xA9_\xE2\x82\xAC_\xED\xA0\xBD\xED\xB8\x80.snp";
  FILE* f = platform::openFile(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("payload", f);
  fclose(f);
#if defined(_WIN32)
  std::vector<wchar_t> wide(base.path().size() + 1);
  platform::mutf8::decodeUnits(base.path().c_str(), wide.data());
  std::wstring widePath = std::wstring(wide.data()) + L"_caf\u00E9_\u20AC_\U0001F600.snp";
  ASSERT_EQ(widePath.substr(widePath.size() - 6), std::wstring(L"\xD83D\xDE00.snp"));
  FILE* found = _wfopen(widePath.c_str(), L"rb");
  ASSERT_NE(found, nullptr) << "not under its UTF-16 name";
  char text[16] = {};
  fread(text, 1, sizeof text - 1, found);
  fclose(found);
  EXPECT_STREQ(text, "payload");
  DWORD attributes = GetFileAttributesW(widePath.c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
#else
  // POSIX names are bytes: the file carries exactly the bytes given.
  FILE* found = fopen(path.c_str(), "rb");
  ASSERT_NE(found, nullptr);
  fclose(found);
#endif
  EXPECT_TRUE(platform::removeFile(path.c_str()));
  EXPECT_FALSE(fileExists(path));
}

TEST(PlatformTest, HostAndUserNames) {
  char host[2048];
  char user[2048];
  bool haveHost = platform::hostName(host, sizeof host);
#if defined(_WIN32)
  // The agent never initialises the sockets library: Windows then refuses the
  // call (WSANOTINITIALISED) and the snapshot says "localhost"; wine answers
  // anyway. Either way the result is that of the bare call.
  char direct[2048];
  bool haveDirect = gethostname(direct, sizeof direct) == 0;
  EXPECT_EQ(haveHost, haveDirect);
  if (haveHost && haveDirect) EXPECT_STREQ(host, direct);
#else
  ASSERT_TRUE(haveHost);
  EXPECT_GT(strlen(host), 0u);
#endif
  ASSERT_TRUE(platform::userName(user, sizeof user));
  EXPECT_GT(strlen(user), 0u);
  char tiny[1];
  EXPECT_FALSE(platform::userName(tiny, 0));
  EXPECT_FALSE(platform::hostName(tiny, 0));
}

TEST(PlatformTest, LocalTimeSleepAndSeparator) {
  struct tm t = {};
  ASSERT_TRUE(platform::localTime(86400 * 365, &t));
  // 1 January 1971 00:00 UTC: that day east of UTC, the day before west of it.
  if (t.tm_yday == 0) {
    EXPECT_EQ(t.tm_year, 71);
  } else {
    EXPECT_EQ(t.tm_year, 70);
    EXPECT_EQ(t.tm_yday, 364);
  }
  EXPECT_FALSE(platform::localTime(0, nullptr));
  auto start = std::chrono::steady_clock::now();
  platform::sleepMillis(20);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 15);
  char separator = platform::pathSeparator();
  EXPECT_TRUE(separator == '/' || separator == '\\');
}

}  // namespace
