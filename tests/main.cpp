// The test binary's main: runs a child scenario when asked to
// (--ccover-child=NAME), otherwise the tests, failing the run when the JVM
// printed a JNI warning outside a JVM test fixture.
#include <stdio.h>

#include "gtest/gtest.h"
#include "tests/harness/child.h"
#include "tests/harness/jvm.h"

int main(int argc, char** argv) {
  runChildScenarioIfRequested(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(newJvmOutputListener());
  int result = RUN_ALL_TESTS();
  if (result == 0 && jvmWarningsOutsideFixtures() > 0) {
    fprintf(stderr, "%d test(s) made the JVM print a JNI warning\n", jvmWarningsOutsideFixtures());
    result = 1;
  }
  fflush(stdout);
  fflush(stderr);
  // A JVM may still have threads running: end without static destructors
  // then. Without one, a normal exit lets leak checkers run.
  if (!jvmAttempted()) return result;
  _Exit(result);
}
