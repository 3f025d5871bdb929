#include "storage/memory_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace storage {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7);
  return v;
}

TEST(MemoryFile, BlockIsSizeRoundedUpTo65535) {
  TMemoryFile f("T.DAT");
  const std::int32_t h = f.OpenHandle();
  EXPECT_EQ(f.Allocated(), 0);
  const auto data = Pattern(65535, 1);
  ASSERT_EQ(f.WriteAt(h, data.data(), 65535), 65535);
  EXPECT_EQ(f.Allocated(), 65535);
  const std::uint8_t one = 9;
  ASSERT_EQ(f.WriteAt(h, &one, 1), 1);
  EXPECT_EQ(f.Size(), 65536);
  EXPECT_EQ(f.Allocated(), 131070);
  // Growth kept the contents.
  EXPECT_EQ(std::memcmp(f.Data(), data.data(), 65535), 0);
  EXPECT_EQ(std::to_integer<int>(f.Data()[65535]), 9);
  ASSERT_TRUE(f.SetSize(0));
  EXPECT_EQ(f.Allocated(), 0);
  ASSERT_TRUE(f.SetSize(131070));
  EXPECT_EQ(f.Allocated(), 131070);
}

TEST(MemoryFile, ReadWriteSeekRules) {
  TMemoryFile f("T.DAT");
  const std::int32_t a = f.OpenHandle();
  const std::int32_t b = f.OpenHandle();
  EXPECT_EQ(a, 1);
  EXPECT_NE(b, a);
  const auto data = Pattern(100, 3);
  EXPECT_EQ(f.WriteAt(a, data.data(), 100), 100);
  // Each handle has its own position.
  std::uint8_t buf[200];
  EXPECT_EQ(f.ReadAt(b, buf, 200), 100);
  EXPECT_EQ(std::memcmp(buf, data.data(), 100), 0);
  EXPECT_EQ(f.ReadAt(a, buf, 10), 0);  // a is at the end
  EXPECT_EQ(f.SeekHandle(a, 0, 2), 100);
  EXPECT_EQ(f.SeekHandle(a, -10, 1), 90);
  EXPECT_EQ(f.ReadAt(a, buf, 50), 10);
  EXPECT_EQ(f.SeekHandle(a, 500, 0), 500);
  EXPECT_EQ(f.ReadAt(a, buf, 10), 0);  // beyond the size
  // Unknown handles do nothing.
  EXPECT_EQ(f.ReadAt(77, buf, 10), 0);
  EXPECT_EQ(f.WriteAt(77, buf, 10), 0);
  EXPECT_EQ(f.SeekHandle(77, 0, 0), -1);
  f.CloseHandle(77);
  EXPECT_EQ(f.OpenCount(), 2);
  f.CloseHandle(b);
  EXPECT_EQ(f.OpenCount(), 1);
  EXPECT_EQ(f.ReadAt(b, buf, 10), 0);
}

// Bytes beyond an earlier truncation must not come back when the file
// grows over them again: a gap reads as zeros, as on disk.
TEST(MemoryFile, GapsReadAsZeros) {
  TMemoryFile f("T.DAT");
  const std::int32_t h = f.OpenHandle();
  const auto data = Pattern(1000, 5);
  ASSERT_EQ(f.WriteAt(h, data.data(), 1000), 1000);
  ASSERT_EQ(f.SeekHandle(h, 10, 0), 10);
  EXPECT_EQ(f.WriteAt(h, nullptr, 0), 0);  // truncation at 10
  EXPECT_EQ(f.Size(), 10);
  ASSERT_EQ(f.SeekHandle(h, 800, 0), 800);
  const std::uint8_t x = 0xEE;
  ASSERT_EQ(f.WriteAt(h, &x, 1), 1);
  EXPECT_EQ(f.Size(), 801);
  for (int i = 10; i < 800; ++i) ASSERT_EQ(std::to_integer<int>(f.Data()[i]), 0) << i;
  // Write(0) past the end extends with zeros too.
  ASSERT_EQ(f.SeekHandle(h, 900, 0), 900);
  f.WriteAt(h, nullptr, 0);
  EXPECT_EQ(f.Size(), 900);
  for (int i = 801; i < 900; ++i) ASSERT_EQ(std::to_integer<int>(f.Data()[i]), 0) << i;
}

TEST(MemoryFile, PositionsAndSizesNeverOverflow) {
  TMemoryFile f("T.DAT");
  const std::int32_t h = f.OpenHandle();
  const std::uint8_t x = 1;
  // A negative position is refused and the position kept.
  EXPECT_EQ(f.SeekHandle(h, -1, 0), -1);
  EXPECT_EQ(f.SeekHandle(h, -5, 1), -1);
  EXPECT_EQ(f.SeekHandle(h, -1, 2), -1);
  EXPECT_EQ(f.Position(h), 0);
  // The last byte a 32-bit size can hold cannot be written past.
  EXPECT_EQ(f.SeekHandle(h, 0x7FFFFFFF, 0), 0x7FFFFFFF);
  EXPECT_EQ(f.WriteAt(h, &x, 1), 0);
  EXPECT_EQ(f.Size(), 0);
  EXPECT_EQ(f.SeekHandle(h, 0x80000000LL, 0), -1);
  EXPECT_EQ(f.SeekHandle(h, 1, 1), -1);
  EXPECT_EQ(f.SeekHandle(h, INT64_MAX, 1), -1);
  EXPECT_FALSE(f.SetSize(0x80000000LL));
  EXPECT_FALSE(f.SetSize(-1));
  EXPECT_EQ(f.Size(), 0);
  EXPECT_EQ(f.WriteAt(h, &x, -1), 0);
}

TEST(MemoryFile, LockRangesConflictByOverlap) {
  TMemoryFile f("T.DAT");
  const std::int32_t a = f.OpenHandle();
  const std::int32_t b = f.OpenHandle();
  ASSERT_TRUE(f.LockMemoryRange(a, 100, 10));  // [100, 109]
  struct Case {
    std::int32_t handle;
    std::int64_t start, length;
    bool ok;
  } cases[] = {
      {b, 105, 1, false}, {b, 90, 11, false}, {a, 105, 1, false},  // the same handle too
      {a, 109, 5, false}, {b, 99, 1, true},   {b, 110, 10, true},
      // Engine lock offsets near the top of the 32-bit range.
      {a, 0x7FFFFFFF, 1, true}, {b, 0x7FFF0000, 65535, true}, {a, 0x7FFFFFFE, 1, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(f.LockMemoryRange(c.handle, c.start, c.length), c.ok) << c.start << "," << c.length;
  }
}

// Ranges belong to the handle that took them.
TEST(MemoryFile, LocksBelongToTheirHandle) {
  TMemoryFile f("T.DAT");
  const std::int32_t a = f.OpenHandle();
  const std::int32_t b = f.OpenHandle();
  ASSERT_TRUE(f.LockMemoryRange(a, 100, 10));
  ASSERT_TRUE(f.LockMemoryRange(a, 200, 1));
  EXPECT_FALSE(f.UnlockMemoryRange(b, 100, 10));  // not b's to release
  EXPECT_FALSE(f.LockMemoryRange(b, 100, 10));
  EXPECT_FALSE(f.UnlockMemoryRange(a, 100, 9));   // start and length must match
  EXPECT_TRUE(f.UnlockMemoryRange(a, 100, 10));
  EXPECT_FALSE(f.UnlockMemoryRange(a, 100, 10));
  ASSERT_TRUE(f.LockMemoryRange(b, 100, 10));
  // Closing a releases its ranges only.
  f.CloseHandle(a);
  EXPECT_EQ(f.LockCount(), 1u);
  const std::int32_t c = f.OpenHandle();
  EXPECT_TRUE(f.LockMemoryRange(c, 200, 1));
  EXPECT_FALSE(f.LockMemoryRange(c, 105, 1));
  // A new handle never answers to a closed one's number.
  EXPECT_NE(c, a);
}

TEST(MemoryFileList, CreateOpenExclusiveRules) {
  TMemoryFileList list;
  TMemoryFile* f = nullptr;
  EXPECT_EQ(list.CreateMemoryFile("C:\\DIR\\.DAT", &f), -11010);
  EXPECT_EQ(list.CreateMemoryFile("   ", &f), -11010);
  EXPECT_EQ(list.OpenMemoryFile("C:\\T.DAT", &f, false), -11010);
  const std::int32_t h = list.CreateMemoryFile("C:\\Data\\T.DAT", &f);
  ASSERT_GT(h, 0);
  EXPECT_EQ(f->Name(), "C:\\Data\\T.DAT");
  EXPECT_TRUE(f->Exclusive());
  // Names: blanks trimmed, letter case ignored.
  EXPECT_TRUE(list.MemoryFileExists("  c:\\data\\t.dat "));
  EXPECT_FALSE(list.MemoryFileExists("T.DAT"));
  TMemoryFile* g = nullptr;
  EXPECT_EQ(list.OpenMemoryFile("c:\\data\\t.dat", &g, false), -11013);  // held exclusively
  EXPECT_EQ(list.CreateMemoryFile("C:\\Data\\T.DAT", &g), -11013);
  const std::uint8_t x[3] = {1, 2, 3};
  ASSERT_EQ(f->WriteAt(h, x, 3), 3);
  f->CloseHandle(h);
  // Shared opens coexist; an exclusive one then fails.
  const std::int32_t s1 = list.OpenMemoryFile("C:\\Data\\T.DAT", &g, false);
  const std::int32_t s2 = list.OpenMemoryFile("C:\\Data\\T.DAT", &g, false);
  EXPECT_GT(s1, 0);
  EXPECT_GT(s2, 0);
  EXPECT_NE(s1, s2);
  EXPECT_EQ(list.OpenMemoryFile("C:\\Data\\T.DAT", &g, true), -11013);
  EXPECT_EQ(g->Size(), 3);
  g->CloseHandle(s1);
  g->CloseHandle(s2);
  // Creating a closed file again empties it.
  const std::int32_t h2 = list.CreateMemoryFile("C:\\DATA\\T.DAT", &g);
  ASSERT_GT(h2, 0);
  EXPECT_EQ(g, f);
  EXPECT_EQ(g->Size(), 0);
  g->CloseHandle(h2);
  EXPECT_EQ(list.Count(), 1u);
}

TEST(MemoryFileList, RenameDeleteRefuseOpenFiles) {
  TMemoryFileList list;
  TMemoryFile* f = nullptr;
  const std::int32_t h = list.CreateMemoryFile("A.DAT", &f);
  EXPECT_FALSE(list.RenameMemoryFile("A.DAT", "B.DAT"));
  EXPECT_FALSE(list.DeleteMemoryFile("A.DAT"));
  EXPECT_TRUE(list.MemoryFileExists("A.DAT"));
  EXPECT_FALSE(list.MemoryFileExists("B.DAT"));
  f->CloseHandle(h);
  EXPECT_TRUE(list.RenameMemoryFile("a.dat", "B.DAT"));
  EXPECT_EQ(f->Name(), "B.DAT");
  EXPECT_FALSE(list.RenameMemoryFile("A.DAT", "C.DAT"));
  // Renaming onto another file's name would make two files of one name.
  TMemoryFile* c = nullptr;
  const std::int32_t hc = list.CreateMemoryFile("C.DAT", &c);
  c->CloseHandle(hc);
  EXPECT_FALSE(list.RenameMemoryFile("B.DAT", "c.dat"));
  EXPECT_TRUE(list.RenameMemoryFile("B.DAT", "b.dat"));  // a new case of its own name
  EXPECT_TRUE(list.DeleteMemoryFile(" B.DAT"));
  EXPECT_FALSE(list.DeleteMemoryFile("B.DAT"));
  EXPECT_EQ(list.Count(), 1u);
}

TEST(MemoryFileList, CopyInChunks) {
  for (std::size_t size : {0u, 1u, 8191u, 8192u, 16384u, 20000u}) {
    TMemoryFileList list;
    TMemoryFile* src = nullptr;
    const std::int32_t h = list.CreateMemoryFile("S.DAT", &src);
    const auto data = Pattern(size, 11);
    if (size > 0) {
      ASSERT_EQ(src->WriteAt(h, data.data(), static_cast<std::int32_t>(size)),
                static_cast<std::int32_t>(size));
    }
    // The source must be closed: it is opened exclusively for the copy.
    EXPECT_EQ(list.CopyMemoryFile("S.DAT", "D.DAT"), -11013);
    src->CloseHandle(h);
    ASSERT_EQ(list.CopyMemoryFile("S.DAT", "D.DAT"), 0);
    TMemoryFile* dst = list.Find("D.DAT");
    ASSERT_NE(dst, nullptr);
    ASSERT_EQ(dst->Size(), static_cast<std::int32_t>(size));
    if (size > 0) {
      EXPECT_EQ(std::memcmp(dst->Data(), data.data(), size), 0);
    }
    EXPECT_EQ(src->OpenCount(), 0);
    EXPECT_EQ(dst->OpenCount(), 0);
    EXPECT_EQ(list.CopyMemoryFile("X.DAT", "D.DAT"), -11010);
    EXPECT_EQ(list.CopyMemoryFile("S.DAT", "S.DAT"), -11013);
    EXPECT_EQ(src->OpenCount(), 0);
  }
}

}  // namespace
}  // namespace storage
