#include "runtime/jvmti/options.h"

#include "gtest/gtest.h"

namespace cci_jvmti {
namespace {

TEST(CciOptions, EmptyTextGivesDefaults) {
  Options o;
  std::string error;
  ASSERT_TRUE(parseOptions("", &o, &error));
  EXPECT_FALSE(o.snapshotAtExit);
  EXPECT_TRUE(o.autoStart);
  EXPECT_TRUE(o.includes.empty());
}
}  // namespace
}  // namespace cci_jvmti
