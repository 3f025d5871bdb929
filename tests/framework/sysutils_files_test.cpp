// File routines on the platform's file services.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/streams.h"
#include "framework/sysutils.h"

namespace fw {
namespace {

TEST(SysUtilsFiles, ExistsDeleteRename) {
  std::string dir = testing::TempDir() + "fw_files_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(dir.c_str(), 0777), 0);
  std::string a = dir + "/a.txt", b = dir + "/b.txt";
  EXPECT_FALSE(FileExists(a));
  { TFileStream f(a, fmCreate); }
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_FALSE(FileExists(dir));
  EXPECT_TRUE(RenameFile(a, b));
  EXPECT_FALSE(FileExists(a));
  { TFileStream f(a, fmCreate); }
  EXPECT_FALSE(RenameFile(a, b));  // the target exists
  EXPECT_TRUE(DeleteFile(a));
  EXPECT_TRUE(DeleteFile(b));
  EXPECT_FALSE(DeleteFile(b));
  ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace fw

namespace fw {
namespace {

TEST(SysUtilsFiles, FileDates) {
  std::string name = testing::TempDir() + "fw_dates_" + std::to_string(::getpid());
  { TFileStream f(name, fmCreate); }
  TDateTime when = EncodeDate(2019, 6, 15) + EncodeTime(10, 20, 30, 0);
  ASSERT_TRUE(FileSetDate(name, when));
  TDateTime age = 0;
  ASSERT_TRUE(FileAge(name, age));
  EXPECT_EQ(DateTimeToStr(age), DateTimeToStr(when));
  ::unlink(name.c_str());
  EXPECT_FALSE(FileAge(name, age));
}

// The generator's sequence is fixed by its seed: seed * 0x08088405 + 1.
TEST(SysUtilsRandom, SequenceFollowsSeed) {
  SetRandSeed(0);
  EXPECT_EQ(Random(100), 0);  // seed 1: 1 * 100 >> 32
  EXPECT_EQ(RandSeed(), 1u);
  EXPECT_EQ(Random(1000), static_cast<int>((std::uint64_t{0x08088406u} * 1000) >> 32));
  SetRandSeed(12345);
  int a[5];
  for (int& x : a) x = Random(10000);
  SetRandSeed(12345);
  for (int x : a) EXPECT_EQ(Random(10000), x);
  for (int i = 0; i < 1000; ++i) {
    int r = Random(7);
    ASSERT_GE(r, 0);
    ASSERT_LT(r, 7);
    double f = Random();
    ASSERT_GE(f, 0.0);
    ASSERT_LT(f, 1.0);
  }
}

}  // namespace
}  // namespace fw
