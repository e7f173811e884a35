#include "tools/snp/dump.h"

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/reader.h"
#include "tools/snp/test_support.h"

namespace {

std::string dumpOf(const std::string& path, bool raw) {
  std::vector<uint8_t> bytes = readFileBytes(path);
  std::unique_ptr<SEReader, void (*)(SEReader*)> reader(SEReaderNew(), SEReaderFree);
  SESnapshotView view;
  EXPECT_TRUE(SEReadSnapshot(reader.get(), bytes.data(), bytes.size(), &view))
      << SEReaderError(reader.get());
  std::ostringstream out;
  writeDump(view, raw, out);
  return out.str();
}

TEST(Dump, CommittedSnapshotGivesTheGoldenJson) {
  EXPECT_EQ(dumpOf(dataFile("small.snp"), false), readText(dataFile("small.json")));
}

// The committed snapshot is still what the agent's writer makes: a fresh one
// differs only in its Signature (host, user, time).
TEST(Dump, FreshSnapshotMatchesTheGoldenButForItsSignature) {
  TempDir dir;
  ASSERT_TRUE(writeFixture("small", dir.file("small.snp")));
  nlohmann::ordered_json fresh =
      nlohmann::ordered_json::parse(dumpOf(dir.file("small.snp"), false));
  nlohmann::ordered_json golden = nlohmann::ordered_json::parse(readText(dataFile("small.json")));
  EXPECT_EQ(fresh["Signature"]["comment"], "small table");
  fresh.erase("Signature");
  golden.erase("Signature");
  EXPECT_EQ(fresh, golden);
}

TEST(Dump, NamedFormKeepsFileOrderAndNamesTheItems) {
  nlohmann::ordered_json j = nlohmann::ordered_json::parse(readText(dataFile("small.json")));
  std::vector<std::string> items;
  for (auto& [key, value] : j.items()) items.push_back(key);
  EXPECT_EQ(items, (std::vector<std::string>{"SnapRoot", "Signature", "ClassRoot", "MethodRoot",
                                             "EndMarker"}));
  std::vector<std::string> keys;
  for (auto& [key, value] : j["MethodRoot"]["12"].items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"lc", "s", "lm", "id", "cid", "im", "t", "ln", "i",
                                            "af", "n"}));
  EXPECT_EQ(j["ClassRoot"]["80"]["n"], "app/tools/Caf\xc3\xa9");
  EXPECT_EQ(j["EndMarker"], -1428242742);
}

TEST(Dump, RawFormGivesOffsetsTagsAndEveryByte) {
  nlohmann::json j = nlohmann::json::parse(dumpOf(dataFile("small.snp"), true));
  ASSERT_EQ(j.size(), 5u);
  const nlohmann::json& root = j[0];
  EXPECT_EQ(root["offset"], 0);
  EXPECT_EQ(root["tag"], 5);
  EXPECT_EQ(root["members"][0]["key"], "Version");
  EXPECT_EQ(root["members"][0]["value"]["tag"], 3);
  EXPECT_EQ(root["members"][0]["value"]["length"], 10);
  EXPECT_EQ(root["members"][0]["value"]["text"], std::string("CC1-JDK12\0", 10));
  EXPECT_EQ(root["members"][1]["value"]["offset"], 38);  // 00 01 at bytes 38, 39
  EXPECT_EQ(j[1]["offset"], 40) << "SnapRoot is 40 bytes";
  size_t size = readFileBytes(dataFile("small.snp")).size();
  EXPECT_EQ(j[4]["offset"], size - 5);
  EXPECT_EQ(j[4]["value"], -1428242742);
}

}  // namespace
