// A file in the system's temporary directory for the life of a test: created
// empty by platform::createTempFile, removed again on destruction. Also reads a
// whole file back as bytes.
#ifndef CCOVER_TESTS_SUPPORT_TEMP_FILE_H_
#define CCOVER_TESTS_SUPPORT_TEMP_FILE_H_

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// The bytes of a file (opened as platform::openFile names it); empty when it
// can't be opened, and exists false then.
inline std::vector<uint8_t> readFileBytes(const std::string& path, bool* exists = nullptr) {
  std::vector<uint8_t> bytes;
  FILE* file = platform::openFile(path.c_str(), "rb");
  if (exists != nullptr) *exists = file != nullptr;
  if (file == nullptr) return bytes;
  uint8_t buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  fclose(file);
  return bytes;
}

inline bool fileExists(const std::string& path) {
  FILE* file = platform::openFile(path.c_str(), "rb");
  if (file == nullptr) return false;
  fclose(file);
  return true;
}

class TempFile {
 public:
  TempFile() {
    char buf[4096];
    created_ = platform::createTempFile(buf, sizeof buf);
    EXPECT_TRUE(created_) << "no temporary file";
    if (created_) path_ = buf;
  }
  ~TempFile() {
    if (created_) platform::removeFile(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  std::vector<uint8_t> bytes() const { return readFileBytes(path_); }

 private:
  bool created_ = false;
  std::string path_;
};

#endif  // CCOVER_TESTS_SUPPORT_TEMP_FILE_H_
