// The coverage that a snapshot file holds, by class name: for the end-to-end
// tests, which compare it with what the sample programs counted themselves.
//
// Thread-safety: a CoverageSnapshot is a plain value.
#ifndef CCOVER_TESTS_E2E_COVERAGE_SNAPSHOT_H_
#define CCOVER_TESTS_E2E_COVERAGE_SNAPSHOT_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

struct MethodCoverage {
  int32_t id = 0;
  std::string name;
  std::string signature;
  int32_t accessFlags = 0;
  int64_t invocations = 0;
  std::vector<int32_t> lines;  // source line of each slot
  std::vector<int64_t> hits;   // hits of each slot
};

struct ClassCoverage {
  int32_t id = 0;
  std::string name;
  std::string sourceName;
  bool isInterface = false;
  std::vector<MethodCoverage> methods;

  // The method of that name and signature ("" matches any signature), or null.
  const MethodCoverage* method(const std::string& name, const std::string& signature = "") const;
  // The hits of every slot of that line, in every method, added up (a
  // statement that the compiler copies, as a finally block, has a slot in each
  // copy); -1 when no method has the line.
  int64_t lineHits(int32_t line) const;
};

struct CoverageSnapshot {
  std::map<std::string, ClassCoverage> classes;

  // False, with a message, when the file can't be read as a snapshot.
  bool read(const std::string& path, std::string* error);
  const ClassCoverage* find(const std::string& className) const;
};

#endif  // CCOVER_TESTS_E2E_COVERAGE_SNAPSHOT_H_
