// File routines on the platform's file services.
#include <gtest/gtest.h>

#include "framework/streams.h"
#include "framework/sysutils.h"
#include "tests/common/scratch_dir.h"

namespace fw {
namespace {

TEST(SysUtilsFiles, ExistsDeleteAndRename) {
  testsupport::ScratchDir dir;
  const std::string a = dir / "a.txt", b = dir / "b.txt";
  EXPECT_FALSE(FileExists(a));
  { TFileStream f(a, fmCreate); }
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_TRUE(RenameFile(a, b));
  EXPECT_FALSE(FileExists(a));
  { TFileStream f(a, fmCreate); }
  EXPECT_FALSE(RenameFile(a, b));  // the target exists
  EXPECT_TRUE(DeleteFile(a));
  EXPECT_TRUE(DeleteFile(b));
  EXPECT_FALSE(DeleteFile(b));
}

}  // namespace
}  // namespace fw
