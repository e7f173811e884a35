#include "support/modified_utf8.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

using Units = std::vector<uint16_t>;

std::string encodeUnits(const Units& units) {
  std::vector<char> out(3 * units.size() + 1);
  size_t n = mutf8::encodeUnits(units.data(), units.size(), out.data());
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

Units decodePath(const char* text) {
  Units out(strlen(text) + 1, 0xBEEF);
  size_t n = mutf8::decodeUnits(text, out.data());
  EXPECT_EQ(out[n], 0) << "terminated";
  out.resize(n);
  return out;
}

Units decodeUtf8(const char* text) {
  Units out(strlen(text));
  out.resize(mutf8::utf8ToUnits(text, out.data()));
  return out;
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

bool wellFormed(const std::string& text) {
  return mutf8::isWellFormedUtf8(text.data(), text.size());
}

// The same rules as the decoder, over a length rather than up to a NUL.
TEST(ModifiedUtf8Test, WellFormedUtf8IsCheckedToTheLength) {
  EXPECT_TRUE(wellFormed(""));
  EXPECT_TRUE(wellFormed("/opt/caf\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80"));
  EXPECT_TRUE(wellFormed("\xF4\x8F\xBF\xBF"));
  EXPECT_TRUE(wellFormed(std::string("a\0b", 3)));  // NUL is a character here
  EXPECT_FALSE(wellFormed("caf\xE9"));              // Latin-1
  EXPECT_FALSE(wellFormed("\xC1\xBF"));             // overlong
  EXPECT_FALSE(wellFormed("\xE0\x9F\xBF"));
  EXPECT_FALSE(wellFormed("\xF0\x8F\xBF\xBF"));
  EXPECT_FALSE(wellFormed("\xED\xBF\xBF"));  // a surrogate
  EXPECT_FALSE(wellFormed("\xF4\x90\x80\x80"));
  EXPECT_FALSE(wellFormed("\xF5\x80\x80\x80"));
  EXPECT_FALSE(wellFormed("a\x80"));  // a stray continuation byte
  // A sequence the length cuts short, though its bytes go on in memory.
  const char* euro = "\xE2\x82\xAC";
  EXPECT_TRUE(mutf8::isWellFormedUtf8(euro, 3));
  EXPECT_FALSE(mutf8::isWellFormedUtf8(euro, 2));
}

std::string utf8Of(const std::string& text) {
  std::string out;
  mutf8::toUtf8(text.data(), text.size(), &out);
  return out;
}

TEST(ModifiedUtf8Test, ConvertsToPlainUtf8) {
  EXPECT_EQ(utf8Of(std::string("a\xc0\x80z", 4)), std::string("a\0z", 3)) << "C0 80 is NUL";
  EXPECT_EQ(utf8Of("\xed\xa0\xbd\xed\xb8\x80"), "\xf0\x9f\x98\x80") << "a surrogate pair";
  EXPECT_EQ(utf8Of("\xf0\x9f\x98\x80"), "\xf0\x9f\x98\x80") << "plain UTF-8 passes";
  EXPECT_EQ(utf8Of("\xed\xa0\xbdx"), "\xef\xbf\xbdx") << "a lone high surrogate";
  EXPECT_EQ(utf8Of("\xed\xb8\x80"), "\xef\xbf\xbd") << "a lone low surrogate";
  EXPECT_EQ(utf8Of("\xc1\x81"), "\xef\xbf\xbd") << "an overlong form";
  EXPECT_EQ(utf8Of("\xff"), "\xef\xbf\xbd");
  EXPECT_EQ(utf8Of("\xe2\x82"), "\xef\xbf\xbd\xef\xbf\xbd") << "truncated at the end";
}

std::string pathOf(const std::string& text) {
  std::vector<char> out(text.size() + 1, 'X');
  size_t n = mutf8::pathToUtf8(text.c_str(), out.data());
  EXPECT_EQ(out[n], '\0') << "terminated";
  return std::string(out.data(), n);
}

TEST(ModifiedUtf8Test, PathsJoinSurrogatePairsAndKeepEveryOtherByte) {
  EXPECT_EQ(pathOf("/tmp/emoji-\xed\xa0\xbd\xed\xb8\x80/a.snp"),
            "/tmp/emoji-\xf0\x9f\x98\x80/a.snp");
  // U+10000 and U+10FFFF, the first and last characters a pair can hold.
  EXPECT_EQ(pathOf("\xed\xa0\x80\xed\xb0\x80\xed\xaf\xbf\xed\xbf\xbf"),
            "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf");
  EXPECT_EQ(pathOf("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac") << "BMP text as it is";
  EXPECT_EQ(pathOf("\xf0\x9f\x98\x80"), "\xf0\x9f\x98\x80") << "plain UTF-8 as it is";
  EXPECT_EQ(pathOf("latin1 \xe9\xff"), "latin1 \xe9\xff") << "other bytes as they are";
  EXPECT_EQ(pathOf("\xed\xa0\xbdx"), "\xed\xa0\xbdx") << "a lone high surrogate";
  EXPECT_EQ(pathOf("\xed\xb8\x80\xed\xa0\xbd"), "\xed\xb8\x80\xed\xa0\xbd") << "low before high";
  EXPECT_EQ(pathOf("\xed\xa0\xbd\xed\xb8"), "\xed\xa0\xbd\xed\xb8") << "truncated at the end";
  EXPECT_EQ(pathOf(""), "");
}

}  // namespace
