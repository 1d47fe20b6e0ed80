#include "platform/sysroot.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

struct RootGuard {
  ~RootGuard() { sysroot::set_root(""); }
};

TEST(Sysroot, IdentityWithoutRoot) {
  RootGuard g;
  sysroot::set_root("");
  EXPECT_EQ(sysroot::path(sysroot::hal), sysroot::hal);
  EXPECT_EQ(sysroot::path(sysroot::server_conf), sysroot::server_conf);
}

TEST(Sysroot, MapsFixedPathsUnderRootButKeepsRealOnes) {
  RootGuard g;
  std::string tmpl = (std::filesystem::temp_directory_path() / "kv.XXXXXX").string();
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  ASSERT_TRUE(sysroot::set_root(tmpl));
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
  std::filesystem::remove_all(tmpl);
}

TEST(Sysroot, RefusesMissingRoot) {
  RootGuard g;
  ASSERT_TRUE(sysroot::set_root(""));
  EXPECT_FALSE(sysroot::set_root("no/such/dir/kv-missing"));
  EXPECT_TRUE(sysroot::root().empty());
}

}  // namespace
