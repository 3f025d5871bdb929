// File routines on the platform's file services, and the random generator.
#include <gtest/gtest.h>

#include "framework/streams.h"
#include "framework/sysutils.h"
#include "tests/common/scratch_dir.h"

namespace fw {
namespace {

TEST(SysUtilsFiles, ExistsDeleteRenameAndDates) {
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
  const TDateTime when = EncodeDate(2019, 6, 15) + EncodeTime(10, 20, 30, 0);
  ASSERT_TRUE(FileSetDate(a, when));
  TDateTime age = 0;
  ASSERT_TRUE(FileAge(a, age));
  EXPECT_EQ(DateTimeToStr(age), DateTimeToStr(when));
  EXPECT_TRUE(DeleteFile(a));
  EXPECT_TRUE(DeleteFile(b));
  EXPECT_FALSE(DeleteFile(b));
  EXPECT_FALSE(FileAge(a, age));
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
  for (int x : a) { EXPECT_EQ(Random(10000), x); }
  for (int i = 0; i < 1000; ++i) {
    const int r = Random(7);
    const double f = Random();
    ASSERT_TRUE(r >= 0 && r < 7 && f >= 0.0 && f < 1.0) << r << " " << f;
  }
}

}  // namespace
}  // namespace fw
