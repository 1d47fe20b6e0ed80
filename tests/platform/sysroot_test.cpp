#include "platform/sysroot.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/temp_root.h"

namespace {

TEST(Sysroot, MapsFixedPathsUnderRootButKeepsRealOnes) {
  TempRoot tmp;
  ASSERT_TRUE(tmp.ok());
  const std::string root = sysroot::root();
  EXPECT_EQ(root[0], '/');
  EXPECT_EQ(sysroot::path(sysroot::hal), root + sysroot::hal);
  EXPECT_EQ(sysroot::path(std::string(sysroot::monitoring_dir) + "board"),
            root + sysroot::monitoring_dir + "board");
  EXPECT_EQ(sysroot::path(sysroot::framer_dir), root + sysroot::framer_dir);
  // Real process lookups and libc's own files stay on the host.
  EXPECT_EQ(sysroot::path(sysroot::proc_dir), sysroot::proc_dir);
  EXPECT_EQ(sysroot::path(std::string(sysroot::proc_dir) + "/1/stat"), std::string(sysroot::proc_dir) + "/1/stat");
  EXPECT_EQ(sysroot::path(sysroot::dev_null), sysroot::dev_null);
  EXPECT_EQ(sysroot::path(sysroot::temperature), root + sysroot::temperature);
}

TEST(Sysroot, RefusesMissingRootAndIsTheIdentityWithout) {
  ASSERT_TRUE(sysroot::set_root(""));
  EXPECT_FALSE(sysroot::set_root("no/such/dir/kv-missing"));
  EXPECT_TRUE(sysroot::root().empty());
  EXPECT_EQ(sysroot::path(sysroot::hal), sysroot::hal);
}

}  // namespace
