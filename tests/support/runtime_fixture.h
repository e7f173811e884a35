// A fresh testing runtime bound to the agent, for unit tests that need no JVM:
// the object table, the unregistered list and the updated-class set start empty.
#ifndef CCOVER_TESTS_SUPPORT_RUNTIME_FIXTURE_H_
#define CCOVER_TESTS_SUPPORT_RUNTIME_FIXTURE_H_

#include <gtest/gtest.h>
#include <jni.h>

#include <vector>

#include "cci/records.h"
#include "model/object_table.h"
#include "runtime/testing/cci_testing.h"
#include "support/vector.h"

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The previous test's set is the agent's own; tables and locks are cci's.
    if (objectTables.updatedClasses != nullptr) QMFreeVector(objectTables.updatedClasses);
    cciTestReset();
    bindObjectTables();
  }

  // A stand-in JNIEnv: the testing runtime keys thread storage by thread.
  JNIEnv* env() { return reinterpret_cast<JNIEnv*>(&envStandIn_); }

  // A loaded class whose methods have the given numbers of line slots (0: a
  // method without line information). Method IDs are classId + 1, + 2, ...
  CClass* addClass(uint32_t classId, const std::vector<uint16_t>& lineCounts,
                   uint16_t methodFlags = 0) {
    std::vector<CciTestMethodSpec> methodShapes(lineCounts.size());
    for (size_t i = 0; i < lineCounts.size(); i++) {
      methodShapes[i] = CciTestMethodSpec{static_cast<uint32_t>(classId + 1 + i),
                                          nullptr,
                                          nullptr,
                                          methodFlags,
                                          lineCounts[i],
                                          nullptr};
    }
    return cciTestAddClass(classId, "app/Sample", "Sample.java", 1, 1, methodShapes.data(),
                           static_cast<int32_t>(methodShapes.size()));
  }

 private:
  int envStandIn_ = 0;
};

#endif  // CCOVER_TESTS_SUPPORT_RUNTIME_FIXTURE_H_
