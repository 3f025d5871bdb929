// Streams: exact-read errors, CopyFrom, open errors, and memory and file
// streams driven by the same random operations giving the same results.
#include "framework/streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "framework/exceptions.h"

namespace fw {
namespace {

std::string TempName(const std::string& tag) {
  return testing::TempDir() + "fw_streams_" + tag + "_" + std::to_string(::getpid());
}

// Removes the file also when an assertion ends the test early.
struct RemoveOnExit {
  std::string name;
  ~RemoveOnExit() { ::unlink(name.c_str()); }
};

TEST(Streams, ReadBufferShortRaisesReadError) {
  TMemoryStream m;
  m.WriteBuffer("abc", 3);
  m.SetPosition(1);
  char buf[4];
  try {
    m.ReadBuffer(buf, 3);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
}

TEST(Streams, WriteToReadOnlyFileRaisesWriteError) {
  std::string name = TempName("ro");
  { TFileStream f(name, fmCreate); f.WriteBuffer("xy", 2); }
  TFileStream f(name, fmOpenRead);
  try {
    f.WriteBuffer("z", 1);
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message(), "Stream write error");
  }
  char b[2];
  f.ReadBuffer(b, 2);
  EXPECT_EQ(std::string(b, 2), "xy");
  ::unlink(name.c_str());
}

TEST(Streams, OpenAndCreateErrorsNameTheFile) {
  std::string missing = TempName("missing");
  try {
    TFileStream f(missing, fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file " + missing);
  }
  std::string bad = TempName("nodir") + "/sub/file";
  try {
    TFileStream f(bad, fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file " + bad);
  }
  // A directory is not a file.
  EXPECT_THROW(TFileStream(testing::TempDir(), fmOpenRead), EFOpenError);
}

// Names as the catalogue stores them: "data\\1000.jpg" with either
// separator and any letter case reaches the file.
TEST(Streams, FileNamesTakeEitherSeparatorAndAnyCase) {
  const std::string dir = TempName("Photos");
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  { TFileStream f(dir + "\\Pic.JPG", fmCreate); f.WriteBuffer("ab", 2); }
  ASSERT_EQ(::access((dir + "/Pic.JPG").c_str(), F_OK), 0);
  TFileStream f(dir + "\\pic.jpg", fmOpenRead);
  char b[2];
  f.ReadBuffer(b, 2);
  EXPECT_EQ(std::string(b, 2), "ab");
  ::unlink((dir + "/Pic.JPG").c_str());
  ::rmdir(dir.c_str());
}

TEST(Streams, CopyFromZeroCopiesWholeSourceFromStart) {
  TMemoryStream src, dst;
  src.WriteBuffer("hello world", 11);
  src.SetPosition(5);  // ignored when count is 0
  EXPECT_EQ(dst.CopyFrom(src, 0), 11);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.Memory()), 11), "hello world");
  src.SetPosition(6);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(src, 5), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(part.Memory()), 5), "world");
  src.SetPosition(8);
  EXPECT_THROW(part.CopyFrom(src, 5), EReadError);
}

TEST(Streams, LargeCopyCrossesBufferSize) {
  TMemoryStream src, dst;
  std::vector<char> data(200000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
  src.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  dst.CopyFrom(src, 0);
  ASSERT_EQ(dst.Size(), static_cast<std::int64_t>(data.size()));
  EXPECT_EQ(std::memcmp(dst.Memory(), data.data(), data.size()), 0);
}

TEST(Streams, MemoryStreamFileRoundTrip) {
  std::string name = TempName("rt");
  TMemoryStream m;
  m.WriteBuffer("line\r\n\0x", 8);
  m.SaveToFile(name);
  TMemoryStream n;
  n.LoadFromFile(name);
  EXPECT_EQ(n.Bytes(), m.Bytes());
  EXPECT_EQ(n.Position(), 0);
  ::unlink(name.c_str());
}

// The same random operations on a memory stream and on a file stream give
// the same results, positions, sizes and contents.
TEST(Streams, MemoryAndFileStreamAgreeUnderRandomOperations) {
  std::string name = TempName("model");
  RemoveOnExit remove{name};
  std::mt19937 rng(12345);
  for (int round = 0; round < 20; ++round) {
    TMemoryStream mem;
    TFileStream file(name, fmCreate);
    for (int op = 0; op < 300; ++op) {
      int kind = static_cast<int>(rng() % 6);
      if (kind == 0 || kind == 1) {
        std::vector<char> buf(rng() % 300);
        for (char& c : buf) c = static_cast<char>(rng());
        ASSERT_EQ(mem.Write(buf.data(), static_cast<std::int64_t>(buf.size())),
                  file.Write(buf.data(), static_cast<std::int64_t>(buf.size())));
      } else if (kind == 2) {
        std::int64_t n = rng() % 400;
        std::vector<char> a(n), b(n);
        std::int64_t ra = mem.Read(a.data(), n), rb = file.Read(b.data(), n);
        ASSERT_EQ(ra, rb);
        ASSERT_TRUE(std::equal(a.begin(), a.begin() + ra, b.begin()));
      } else if (kind == 3) {
        auto origin = static_cast<TSeekOrigin>(rng() % 3);
        std::int64_t off = static_cast<std::int64_t>(rng() % 2000) - 1000;
        ASSERT_EQ(mem.Seek(off, origin), file.Seek(off, origin)) << "op " << op;
      } else if (kind == 4) {
        std::int64_t size = rng() % 3000;
        mem.SetSize(size);
        file.SetSize(size);
      }
      ASSERT_EQ(mem.Position(), file.Position());
      ASSERT_EQ(mem.Size(), file.Size());
    }
    std::vector<char> all(static_cast<std::size_t>(file.Size()));
    file.SetPosition(0);
    file.ReadBuffer(all.data(), file.Size());
    if (!all.empty()) {
      ASSERT_EQ(std::memcmp(all.data(), mem.Memory(), all.size()), 0);
    }
  }
  ::unlink(name.c_str());
}

}  // namespace
}  // namespace fw
