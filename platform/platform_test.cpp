#include "platform/platform.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <string>
#include <vector>

#include "runtime/testing/cci_testing.h"
#include "support/modified_utf8.h"
#include "tests/support/temp_file.h"

#if defined(_WIN32)
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
#endif

namespace {

std::string converted(const char* text) {
  char* result = platform::toModifiedUtf8(text);
  if (result == nullptr) return "<null>";
  std::string copy = result;
  sFree(result);
  return copy;
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
  mutf8::decodeUnits(base.path().c_str(), wide.data());
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
  // POSIX names are UTF-8: the pair is one 4-byte character there.
  std::string utf8Path = base.path() + "_caf\xC3\xA9_\xE2\x82\xAC_\xF0\x9F\x98\x80.snp";
  FILE* found = fopen(utf8Path.c_str(), "rb");
  ASSERT_NE(found, nullptr) << "not under its UTF-8 name";
  fclose(found);
  FILE* created = platform::createFile(path.c_str());
  EXPECT_EQ(created, nullptr) << "createFile decodes the same way and finds it taken";
  if (created != nullptr) fclose(created);
#endif
  EXPECT_TRUE(platform::removeFile(path.c_str()));
  EXPECT_FALSE(fileExists(path));
}

TEST(PlatformTest, CreateFileNeverOpensAnExistingName) {
  TempFile taken;
  errno = 0;
  EXPECT_EQ(platform::createFile(taken.c_str()), nullptr);
  EXPECT_EQ(errno, EEXIST);
  std::string fresh = taken.path() + "-new";
  FILE* f = platform::createFile(fresh.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(platform::isRegularFile(f));
  EXPECT_EQ(platform::writeUnlocked(f, "x", 1), 1u);
  EXPECT_EQ(fclose(f), 0);
  EXPECT_EQ(readFileBytes(fresh), (std::vector<uint8_t>{'x'}));
  EXPECT_EQ(platform::createFile(fresh.c_str()), nullptr) << "now taken";
  EXPECT_EQ(readFileBytes(fresh), (std::vector<uint8_t>{'x'})) << "and left as it was";
  EXPECT_TRUE(platform::removeFile(fresh.c_str()));
  EXPECT_EQ(platform::createFile(nullptr), nullptr);
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
  ASSERT_TRUE(platform::localTime(static_cast<time_t>(86400) * 365, &t));
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

namespace {

TEST(PlatformProcessTest, FilesLibrariesAndSeparators) {
  char path[4096];
  ASSERT_TRUE(platform::createTempFile(path, sizeof path));
  EXPECT_TRUE(platform::fileExists(path));
  ASSERT_TRUE(platform::removeFile(path));
  EXPECT_FALSE(platform::fileExists(path));
  if (platform::pathSeparator() == '/') {
    EXPECT_EQ(platform::libraryFileName("ccover"), "libccover.so");
    EXPECT_EQ(platform::pathListSeparator(), ':');
  } else {
    EXPECT_EQ(platform::libraryFileName("ccover"), "ccover.dll");
    EXPECT_EQ(platform::pathListSeparator(), ';');
  }
  // This code is linked into the test program, so its folder holds the program.
  std::string folder = platform::thisLibraryFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(platform::fileExists(folder.c_str())) << folder;
}

TEST(PlatformProcessTest, NoColourWhenAskedOrRedirected) {
  // Under ctest standard output is a pipe or a file, never a terminal.
  EXPECT_FALSE(platform::stdoutTakesColour());
}

}  // namespace
