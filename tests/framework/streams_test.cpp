// Streams: exact-read errors, CopyFrom, open errors, and memory and file
// streams driven by the same random operations giving the same results.
#include "framework/streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "framework/exceptions.h"
#include "tests/common/error_text.h"
#include "tests/common/scratch_dir.h"

namespace fw {
namespace {

using testsupport::ErrorText;

std::string Text(TMemoryStream& m) { return std::string(reinterpret_cast<const char*>(m.Memory()), m.Size()); }

TEST(Streams, ShortReadsAndWritesToReadOnlyFilesRaise) {
  testsupport::ScratchDir dir;
  TMemoryStream m;
  m.WriteBuffer("abc", 3);
  m.SetPosition(1);
  char buf[4];
  EXPECT_EQ(ErrorText<EReadError>([&] { m.ReadBuffer(buf, 3); }), "Stream read error");
  { TFileStream f(dir / "ro", fmCreate); f.WriteBuffer("xy", 2); }
  TFileStream f(dir / "ro", fmOpenRead);
  EXPECT_EQ(ErrorText<EWriteError>([&] { f.WriteBuffer("z", 1); }), "Stream write error");
  f.ReadBuffer(buf, 2);
  EXPECT_EQ(std::string(buf, 2), "xy");
}

TEST(Streams, OpenAndCreateErrorsNameTheFile) {
  testsupport::ScratchDir dir;
  const std::string missing = dir / "missing", bad = dir / "nodir/sub/file";
  EXPECT_EQ(ErrorText<EFOpenError>([&] { TFileStream f(missing, fmOpenRead); }), "Cannot open file " + missing);
  EXPECT_EQ(ErrorText<EFCreateError>([&] { TFileStream f(bad, fmCreate); }), "Cannot create file " + bad);
  EXPECT_THROW(TFileStream(dir.path(), fmOpenRead), EFOpenError);  // a directory is not a file
}

// Names as the catalogue stores them: "data\\1000.jpg" with either
// separator and any letter case reaches the file.
TEST(Streams, FileNamesTakeEitherSeparatorAndAnyCase) {
  testsupport::ScratchDir dir;
  std::filesystem::create_directory(dir / "Photos");
  { TFileStream f(dir / "Photos\\Pic.JPG", fmCreate); f.WriteBuffer("ab", 2); }
  ASSERT_TRUE(std::filesystem::exists(dir / "Photos/Pic.JPG"));
  TFileStream f(dir / "photos\\pic.jpg", fmOpenRead);
  char b[2];
  f.ReadBuffer(b, 2);
  EXPECT_EQ(std::string(b, 2), "ab");
}

TEST(Streams, CopyFromZeroCopiesWholeSourceFromStart) {
  TMemoryStream src, dst, part, big, copy;
  src.WriteBuffer("hello world", 11);
  src.SetPosition(5);  // ignored when count is 0
  EXPECT_EQ(dst.CopyFrom(src, 0), 11);
  EXPECT_EQ(Text(dst), "hello world");
  src.SetPosition(6);
  EXPECT_EQ(part.CopyFrom(src, 5), 5);
  EXPECT_EQ(Text(part), "world");
  src.SetPosition(8);
  EXPECT_THROW(part.CopyFrom(src, 5), EReadError);
  std::string data(200000, '\0');  // across the copy buffer's size
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
  big.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  copy.CopyFrom(big, 0);
  EXPECT_EQ(Text(copy), data);
}

TEST(Streams, MemoryStreamFileRoundTrip) {
  testsupport::ScratchDir dir;
  TMemoryStream m, n;
  m.WriteBuffer("line\r\n\0x", 8);
  m.SaveToFile(dir / "rt");
  n.LoadFromFile(dir / "rt");
  EXPECT_EQ(n.Bytes(), m.Bytes());
  EXPECT_EQ(n.Position(), 0);
}

// The same random operations on a memory stream and on a file stream give
// the same results, positions, sizes and contents.
TEST(Streams, MemoryAndFileStreamAgreeUnderRandomOperations) {
  testsupport::ScratchDir dir;
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    TMemoryStream mem;
    TFileStream file(dir / "model", fmCreate);
    for (int op = 0; op < 300; ++op) {
      const int kind = static_cast<int>(rng() % 6);
      if (kind <= 1) {
        std::vector<char> buf(rng() % 300);
        for (char& c : buf) c = static_cast<char>(rng());
        const auto n = static_cast<std::int64_t>(buf.size());
        ASSERT_EQ(mem.Write(buf.data(), n), file.Write(buf.data(), n));
      } else if (kind == 2) {
        const std::int64_t n = rng() % 400;
        std::vector<char> a(n), b(n);
        const std::int64_t ra = mem.Read(a.data(), n), rb = file.Read(b.data(), n);
        ASSERT_EQ(ra, rb);
        ASSERT_TRUE(std::equal(a.begin(), a.begin() + ra, b.begin()));
      } else if (kind == 3) {
        const auto origin = static_cast<TSeekOrigin>(rng() % 3);
        const std::int64_t off = static_cast<std::int64_t>(rng() % 2000) - 1000;
        ASSERT_EQ(mem.Seek(off, origin), file.Seek(off, origin)) << "op " << op;
      } else if (kind == 4) {
        const std::int64_t size = rng() % 3000;
        mem.SetSize(size);
        file.SetSize(size);
      }
      ASSERT_EQ(mem.Position(), file.Position());
      ASSERT_EQ(mem.Size(), file.Size());
    }
    std::string all(static_cast<std::size_t>(file.Size()), '\0');
    file.SetPosition(0);
    file.ReadBuffer(all.data(), file.Size());
    ASSERT_EQ(all, Text(mem));
  }
}

}  // namespace
}  // namespace fw
