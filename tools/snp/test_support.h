// Helpers for snp's unit tests: fixture snapshots written by the agent's
// writer into a temporary folder, the committed test data, and files as text.
#ifndef CCOVER_TOOLS_SNP_TEST_SUPPORT_H_
#define CCOVER_TOOLS_SNP_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/snp/fixture.h"
#include "tools/snp/snapshot_model.h"

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("snp-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             std::to_string(counter++) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string dataFile(const std::string& name) {
  return std::string(SNP_DATA_DIR) + "/" + name;
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Writes a fixture with the agent's writer and loads it.
inline Snapshot fixture(const TempDir& dir, const std::string& kind, int methods = 50000) {
  std::string path = dir.file(kind + ".snp");
  EXPECT_TRUE(writeFixture(kind, path, methods));
  return loadSnapshot(path);
}

inline const SnpClass* findClass(const Snapshot& s, const std::string& name) {
  for (const SnpClass& c : s.classes) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

#endif  // CCOVER_TOOLS_SNP_TEST_SUPPORT_H_
