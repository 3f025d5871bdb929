// The file handler on disk and in memory: one random sequence of
// operations on two handlers of each kind must give the same results and
// bytes (the disk is the reference for the memory files); the rest are the
// rules around it: opens and their codes, renames and copies, the
// read-only attribute, locks between processes, and
// the memory file list.
#include "storage/file_handler.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file.h"
#include "storage/engine_error.h"
#include "storage/memory_file.h"
#include "storage/session.h"
#include "tests/common/error_text.h"
#include "tests/common/forked_peer.h"
#include "tests/common/scratch_dir.h"
#include "tests/storage/data_file_test_support.h"

namespace storage {
namespace {

using datatest::CodeOf;

class FileHandlerTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }
  // A name in the scratch folder; memory files take the same text.
  std::string Name(const std::string& leaf) const { return scratch_.path() + "\\" + leaf; }
  TFileHandler& Handler(TFileHandler& h, const std::string& leaf, bool exclusive = false) {
    h.SetInMemory(GetParam());
    h.SetFileName(Name(leaf));
    h.SetExclusive(exclusive);
    return h;
  }
  void MakeFile(const std::string& leaf, const std::string& bytes) {
    TFileHandler h;
    Handler(h, leaf, true).CreateFile();
    if (!bytes.empty()) h.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  }
  std::string Contents(const std::string& leaf) {
    TFileHandler h;
    Handler(h, leaf).Open();
    std::string bytes(static_cast<std::size_t>(h.GetFileSize()), '\0');
    if (!bytes.empty()) h.ReadAt(0, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return bytes;
  }
  testsupport::ScratchDir scratch_;
};

INSTANTIATE_TEST_SUITE_P(Storage, FileHandlerTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Memory" : "Disk"; });

// ------------------------------------------------------------------ model

enum class OpKind { kOpen, kClose, kRead, kWrite, kSeek, kTruncate, kSize, kLock, kUnlock, kCreate };

struct Op {
  OpKind kind;
  int who;  // handler 0 or 1
  bool exclusive;
  std::int64_t a, b;
  std::uint32_t seed;
};

// Shares of 100 per kind, in order.
constexpr int kShare[] = {8, 5, 20, 20, 15, 4, 4, 11, 11, 2};

Op RandomOp(std::mt19937& rng) {
  auto pick = [&](std::uint32_t n) { return static_cast<std::int64_t>(rng() % n); };
  Op op{};
  op.who = static_cast<int>(pick(2));
  op.seed = rng();
  int r = static_cast<int>(pick(100)), k = 0;
  while (r >= kShare[k]) r -= kShare[k++];
  op.kind = static_cast<OpKind>(k);
  op.exclusive = pick(5) == 0;
  switch (op.kind) {
    case OpKind::kRead: op.a = pick(400); break;
    case OpKind::kWrite: op.a = 1 + pick(400); break;
    case OpKind::kSeek:
      op.b = pick(3);
      op.a = op.b == 0 ? pick(6000) : (op.b == 1 ? pick(1200) - 600 : 0);
      break;
    case OpKind::kLock:
    case OpKind::kUnlock: op.a = pick(12) * 10, op.b = 1 + pick(3) * 7; break;
    default: break;
  }
  return op;
}

std::string Apply(TFileHandler& h, const Op& op) {
  std::ostringstream out;
  try {
    switch (op.kind) {
      case OpKind::kOpen:
        if (!h.IsOpen()) h.SetExclusive(op.exclusive);
        h.Open();
        break;
      case OpKind::kClose: h.Close(); break;
      case OpKind::kRead: {
        std::vector<char> buf(static_cast<std::size_t>(op.a) + 1, '\x5A');
        const std::int32_t got = h.Read(buf.data(), static_cast<std::int32_t>(op.a));
        out << got << " " << std::string(buf.data(), static_cast<std::size_t>(got));
        break;
      }
      case OpKind::kWrite: {
        std::mt19937 bytes(op.seed);
        std::vector<char> buf(static_cast<std::size_t>(op.a));
        for (char& c : buf) c = static_cast<char>(bytes());
        h.Write(buf.data(), static_cast<std::int32_t>(op.a));
        break;
      }
      case OpKind::kSeek: out << h.Seek(op.a, static_cast<int>(op.b)); break;
      case OpKind::kTruncate: h.Write(nullptr, 0); break;
      case OpKind::kSize: out << h.GetFileSize(); break;
      case OpKind::kLock: out << h.LockRange(op.a, op.b, true); break;
      case OpKind::kUnlock: out << h.LockRange(op.a, op.b, false); break;
      case OpKind::kCreate:
        if (!h.IsOpen()) h.SetExclusive(true);
        h.CreateFile();
        break;
    }
  } catch (const ETolmidEngineError& e) {
    out << "error " << e.ErrorCode();
  }
  return out.str();
}

TEST(FileHandlerModel, MemoryAndDiskAgreeOnRandomSequences) {
  InitializeEngine();
  testsupport::ScratchDir dir;
  for (std::uint32_t seed : {11u, 22u, 33u, 44u}) {
    const std::string names[2] = {dir.path() + "\\M" + std::to_string(seed) + ".DAT",
                                  "MEM\\M" + std::to_string(seed) + ".DAT"};
    std::array<std::array<TFileHandler, 2>, 2> h;  // [disk, memory][who]
    for (int kind = 0; kind < 2; ++kind) {
      for (TFileHandler& x : h[kind]) {
        x.SetInMemory(kind == 1);
        x.SetFileName(names[kind]);
      }
      h[kind][0].SetExclusive(true);
      h[kind][0].CreateFile();
      h[kind][0].Close();
    }
    std::mt19937 rng(seed);
    int errors = 0;
    for (int step = 0; step < 3000; ++step) {
      const Op op = RandomOp(rng);
      const std::string on_disk = Apply(h[0][op.who], op);
      ASSERT_EQ(on_disk, Apply(h[1][op.who], op))
          << "seed " << seed << " step " << step << " op " << static_cast<int>(op.kind) << " handler " << op.who;
      errors += on_disk.rfind("error", 0) == 0;
    }
    EXPECT_GT(errors, 50);  // failures exercised as well as successes
    std::string bytes[2];
    for (int kind = 0; kind < 2; ++kind) {
      for (TFileHandler& x : h[kind]) x.Close();
      h[kind][0].SetExclusive(false);
      h[kind][0].Open();
      bytes[kind].resize(static_cast<std::size_t>(h[kind][0].GetFileSize()));
      if (!bytes[kind].empty()) h[kind][0].ReadAt(0, bytes[kind].data(), static_cast<std::int32_t>(bytes[kind].size()));
      h[kind][0].Close();
    }
    EXPECT_GT(bytes[0].size(), 0u);
    EXPECT_EQ(bytes[0], bytes[1]) << "seed " << seed;
  }
  ShutdownEngine();
}

// ------------------------------------------------------------------ rules

TEST_P(FileHandlerTest, OpensAndTheirCodes) {
  TFileHandler h, holder;
  Handler(h, "T.DAT");
  EXPECT_EQ(testsupport::ErrorText<ETolmidEngineError>([&] { h.Open(); }),
            "Tolmid Engine Error # 11010 Invalid path or file name for data file " + Name("T.DAT"));
  char buf[4];
  EXPECT_EQ(CodeOf([&] { h.Read(buf, 4); }), 9217);  // closed
  EXPECT_EQ(CodeOf([&] { h.Write(buf, 4); }), 9218);
  EXPECT_EQ(CodeOf([&] { h.Seek(0, 0); }), 11014);
  EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), 10253);  // needs exclusive
  MakeFile("T.DAT", "abc");
  Handler(holder, "T.DAT", true).Open();
  EXPECT_EQ(CodeOf([&] { h.Open(); }), 11013);  // sharing violation
  holder.Close();
  holder.SetExclusive(false);
  holder.Open();
  h.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { h.Open(); }), 11013);  // exclusive while shared
  EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), 11013);
  h.SetExclusive(false);
  h.Open();
  EXPECT_EQ(CodeOf([&] { h.Open(); }), 0);  // open again: nothing
  h.Seek(1, 0);
  EXPECT_EQ(CodeOf([&] { h.Read(buf, 4); }), 9217);  // short, and shared: an error
  EXPECT_EQ(h.ReadAt(1, buf, 2), 2);
  const std::vector<std::function<void()>> while_open = {
      [&] { h.SetExclusive(true); }, [&] { h.SetFileName(Name("U.DAT")); }, [&] { h.SetReadOnly(true); },
      [&] { h.SetInMemory(!GetParam()); }, [&] { h.DeleteFile(); }, [&] { h.RenameFile(Name("U.DAT")); },
  };
  for (const auto& call : while_open) EXPECT_EQ(CodeOf(call), 10031);
  // A memory handler opened for reading refuses writes as the disk does.
  TFileHandler ro;
  Handler(ro, "T.DAT").SetReadOnly(true);
  ro.Open();
  EXPECT_EQ(CodeOf([&] { ro.Write("x", 1); }), 9218);
  EXPECT_EQ(CodeOf([&] { ro.Write(nullptr, 0); }), 9218);
  EXPECT_EQ(ro.GetFileSize(), 3);
}

// Copies run in chunks of 8192 bytes: every size around a chunk comes out
// whole, and a longer file under the target name is replaced.
TEST_P(FileHandlerTest, RenameCopyDelete) {
  MakeFile("A.DAT", "payload");
  MakeFile("C.DAT", "other");
  TFileHandler h;
  Handler(h, "A.DAT");
  EXPECT_EQ(CodeOf([&] { h.RenameFile(Name("C.DAT")); }), 11047);  // target exists
  h.RenameFile(Name("B.DAT"));
  EXPECT_EQ(h.FileName(), Name("B.DAT"));
  EXPECT_EQ(Contents("B.DAT"), "payload");
  h.DeleteFile();
  EXPECT_FALSE(h.FileExists());
  EXPECT_EQ(CodeOf([&] { h.DeleteFile(); }), 9220);
  EXPECT_EQ(CodeOf([&] { h.CopyFile(Name("E.DAT")); }), 11010);  // source gone
  std::mt19937 rng(8);
  for (int size : {0, 1, 8191, 8192, 8193, 20000}) {
    std::string data(static_cast<std::size_t>(size), '\0');
    for (char& c : data) c = static_cast<char>(rng());
    MakeFile("S.DAT", data);
    MakeFile("T.DAT", std::string(30000, 'z'));
    Handler(h, "S.DAT").CopyFile(Name("T.DAT"));
    EXPECT_EQ(Contents("T.DAT"), data) << size;
  }
}

// Byte ranges held through one handler against ranges asked through
// another: ranges that share one byte at either end conflict, ranges that
// only adjoin do not; memory files must rule as the disk does.
TEST_P(FileHandlerTest, LockRangesThatShareOneByteConflict) {
  MakeFile("L.DAT", "abc");
  TFileHandler holder, other;
  Handler(holder, "L.DAT").Open();
  Handler(other, "L.DAT").Open();
  ASSERT_TRUE(holder.LockRange(100, 10, true));  // [100, 109]
  const struct {
    std::int64_t start, length;
    bool granted;
  } rows[] = {
      {105, 1, false},  // inside
      {90, 11, false},  // [90, 100]: its last byte is the held first
      {109, 10, false}, // [109, 118]: its first byte is the held last
      {95, 30, false},  // around
      {90, 10, true},   // [90, 99]: adjoins before
      {110, 10, true},  // [110, 119]: adjoins after
  };
  for (const auto& row : rows) {
    EXPECT_EQ(other.LockRange(row.start, row.length, true), row.granted) << row.start << "+" << row.length;
    if (row.granted) {
      EXPECT_TRUE(other.LockRange(row.start, row.length, false));
    }
  }
  EXPECT_TRUE(holder.LockRange(100, 10, false));
  EXPECT_TRUE(other.LockRange(109, 10, true));
}

TEST(FileHandlerRules, ReadOnlyAttributeForcesReadOnly) {
  InitializeEngine();
  testsupport::ScratchDir dir;
  const std::string name = dir.path() + "\\T.DAT";
  testsupport::WriteFile(dir / "T.DAT", "0123456789");
  ASSERT_TRUE(platform::SetReadOnly(name, true));
  TFileHandler h, x;
  h.SetFileName(name);
  h.Open();
  EXPECT_TRUE(h.ForcedReadOnly());
  EXPECT_EQ(CodeOf([&] { h.WriteAt(0, "zz", 2); }), 9218);
  // A refused exclusive open must not have turned that handle read-only.
  x.SetFileName(name);
  x.SetExclusive(true);
  EXPECT_NE(CodeOf([&] { x.Open(); }), 0);
  EXPECT_FALSE(x.ReadOnly());
  h.Close();
  ASSERT_TRUE(platform::SetReadOnly(name, false));
  EXPECT_EQ(testsupport::ReadFile(dir / "T.DAT"), "0123456789");
  ShutdownEngine();
}

// A record byte held in another process; the table range covers it.
TEST(FileHandlerRules, LocksExcludeAnotherProcess) {
  InitializeEngine();
  testsupport::ScratchDir dir;
  const std::string name = dir.path() + "\\T.DAT";
  testsupport::WriteFile(dir / "T.DAT", "abc");
  auto peer = std::make_unique<testsupport::ForkedPeer>([&](const std::string&) {
    static TFileHandler held;
    held.SetFileName(name);
    held.Open();
    return held.LockRange(0x7FFFFFFE - 7, 1, true) ? "ok" : "busy";
  });
  ASSERT_EQ(peer->Do("lock"), "ok");
  TFileHandler h;
  h.SetFileName(name);
  h.Open();
  EXPECT_FALSE(h.LockRange(0x7FFFFFFE - 7, 1, true));
  EXPECT_FALSE(h.LockRange(2047483646, 100000000, true));
  EXPECT_TRUE(h.LockRange(0x7FFFFFFE - 8, 1, true));
  peer.reset();
  EXPECT_TRUE(h.LockRange(0x7FFFFFFE - 7, 1, true));
  ShutdownEngine();
}

// ------------------------------------------------------------------ memory files

TEST(MemoryFile, PositionsAndSizesNeverOverflowAndGapsReadAsZeros) {
  TMemoryFile f("T.DAT");
  const std::int32_t h = f.OpenHandle();
  const std::uint8_t x = 1;
  for (int whence : {0, 1, 2}) EXPECT_EQ(f.SeekHandle(h, -1, whence), -1);
  EXPECT_EQ(f.SeekHandle(h, 0x7FFFFFFF, 0), 0x7FFFFFFF);
  EXPECT_EQ(f.WriteAt(h, &x, 1), 0);  // past the last byte a 32-bit size holds
  EXPECT_EQ(f.SeekHandle(h, 0x80000000LL, 0), -1);
  EXPECT_EQ(f.SeekHandle(h, INT64_MAX, 1), -1);
  EXPECT_FALSE(f.SetSize(0x80000000LL));
  EXPECT_FALSE(f.SetSize(-1));
  EXPECT_EQ(f.WriteAt(h, &x, -1), 0);
  EXPECT_EQ(f.Size(), 0);
  // Bytes beyond a truncation do not come back when the file grows again.
  std::vector<std::uint8_t> data(1000, 0xAB);
  ASSERT_EQ(f.SeekHandle(h, 0, 0), 0);
  ASSERT_EQ(f.WriteAt(h, data.data(), 1000), 1000);
  ASSERT_TRUE(f.SetSize(10));
  ASSERT_TRUE(f.SetSize(800));
  for (int i = 10; i < 800; ++i) ASSERT_EQ(std::to_integer<int>(f.Data()[i]), 0) << i;
}

TEST(MemoryFileList, NamesExclusiveRenameDelete) {
  TMemoryFileList list;
  TMemoryFile *f = nullptr, *g = nullptr;
  EXPECT_EQ(list.CreateMemoryFile("C:\\DIR\\.DAT", &f), -11010);
  EXPECT_EQ(list.OpenMemoryFile("C:\\T.DAT", &f, false), -11010);
  const std::int32_t h = list.CreateMemoryFile("C:\\Data\\T.DAT", &f);
  ASSERT_GT(h, 0);
  EXPECT_TRUE(list.MemoryFileExists("  c:\\data\\t.dat "));  // blanks trimmed, case ignored
  EXPECT_EQ(list.OpenMemoryFile("c:\\data\\t.dat", &g, false), -11013);  // held exclusively
  EXPECT_EQ(list.CreateMemoryFile("C:\\Data\\T.DAT", &g), -11013);
  EXPECT_FALSE(list.RenameMemoryFile("C:\\Data\\T.DAT", "B.DAT"));  // open
  EXPECT_FALSE(list.DeleteMemoryFile("C:\\Data\\T.DAT"));
  f->CloseHandle(h);
  const std::int32_t s1 = list.OpenMemoryFile("C:\\Data\\T.DAT", &g, false);
  const std::int32_t s2 = list.OpenMemoryFile("C:\\Data\\T.DAT", &g, false);
  EXPECT_NE(s1, s2);
  EXPECT_EQ(list.OpenMemoryFile("C:\\Data\\T.DAT", &g, true), -11013);
  g->CloseHandle(s1);
  g->CloseHandle(s2);
  // Renaming onto another file's name would make two files of one name.
  TMemoryFile* c = nullptr;
  const std::int32_t hc = list.CreateMemoryFile("C.DAT", &c);
  c->CloseHandle(hc);
  EXPECT_FALSE(list.RenameMemoryFile("C:\\Data\\T.DAT", "c.dat"));
  EXPECT_TRUE(list.RenameMemoryFile("c:\\data\\t.dat", "B.DAT"));
  EXPECT_TRUE(list.RenameMemoryFile("B.DAT", "b.dat"));  // a new case of its own name
  EXPECT_TRUE(list.DeleteMemoryFile(" B.DAT"));
  EXPECT_FALSE(list.DeleteMemoryFile("B.DAT"));
  EXPECT_EQ(list.Count(), 1u);
}

}  // namespace
}  // namespace storage
