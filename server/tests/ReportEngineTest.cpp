// The engine's reports over small real trees whose answers are known.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "server/tests/EngineTestTree.h"

namespace vn::server {
namespace {

using testing::Record;
using testing::RunOn;
using testing::TestTree;

TEST(ReportEngineTest, Placeholder) {
  TestTree tree;
  tree.File("a.txt", 1000);
  auto out = RunOn(tree, Record(14));
  EXPECT_EQ(out.result.error, 0u) << out.result.message;
}

}  // namespace
}  // namespace vn::server
