#include "storage/file_handler.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file.h"
#include "storage/engine_error.h"
#include "storage/session.h"

namespace storage {
namespace {

// The engine code an operation raised; 0 when it raised nothing.
int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETolmidEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

class FileHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    char tmpl[] = "/tmp/storage_handler_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  // A name in the temp directory; memory files take the same text.
  std::string Name(const std::string& leaf) const { return dir_ + "\\" + leaf; }
  std::string Path(const std::string& leaf) const { return dir_ + "/" + leaf; }

  // Creates the file with the bytes and closes it.
  void MakeFile(bool in_memory, const std::string& name, const std::string& bytes) {
    TFileHandler h;
    h.SetInMemory(in_memory);
    h.SetFileName(name);
    h.SetExclusive(true);
    h.CreateFile();
    if (!bytes.empty()) h.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    h.Close();
  }
  std::string dir_;
};

class BothKindsTest : public FileHandlerTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Storage, BothKindsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Memory" : "Disk"; });

TEST_P(BothKindsTest, ShortReadRaisesUnlessExclusive) {
  const std::string name = Name("T.DAT");
  MakeFile(GetParam(), name, "0123456789");
  char buf[16] = {};
  {
    TFileHandler h;
    h.SetInMemory(GetParam());
    h.SetFileName(name);
    h.Open();
    h.Seek(5, 0);
    EXPECT_EQ(CodeOf([&] { h.Read(buf, 10); }), 9217);
    EXPECT_EQ(h.ReadAt(2, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "234");
  }
  TFileHandler h;
  h.SetInMemory(GetParam());
  h.SetFileName(name);
  h.SetExclusive(true);
  h.Open();
  h.Seek(5, 0);
  EXPECT_EQ(h.Read(buf, 10), 5);
  EXPECT_EQ(std::string(buf, 5), "56789");
  EXPECT_EQ(h.Read(buf, 10), 0);
}

TEST_P(BothKindsTest, WriteOfZeroBytesSetsTheSize) {
  const std::string name = Name("T.DAT");
  MakeFile(GetParam(), name, std::string(100, 'x'));
  TFileHandler h;
  h.SetInMemory(GetParam());
  h.SetFileName(name);
  h.Open();
  h.Seek(37, 0);
  h.Write(nullptr, 0);
  EXPECT_EQ(h.GetFileSize(), 37);
  h.Seek(50, 0);
  h.Write(nullptr, 0);  // extends with zeros
  EXPECT_EQ(h.GetFileSize(), 50);
  char buf[13];
  EXPECT_EQ(h.ReadAt(37, buf, 13), 13);
  EXPECT_EQ(std::string(buf, 13), std::string(13, '\0'));
}

TEST_P(BothKindsTest, ExclusiveLockingIsANoOp) {
  const std::string name = Name("T.DAT");
  MakeFile(GetParam(), name, "abc");
  TFileHandler h;
  h.SetInMemory(GetParam());
  h.SetFileName(name);
  h.SetExclusive(true);
  h.Open();
  // A real lock would refuse the second overlapping lock of the same handle
  // and the unlock of a range never locked.
  EXPECT_TRUE(h.LockRange(0x7FFFFFFF, 1, true));
  EXPECT_TRUE(h.LockRange(0x7FFFFFFF, 1, true));
  EXPECT_TRUE(h.LockRange(5, 10, false));
}

TEST_P(BothKindsTest, SharedLocksConflictBetweenHandlers) {
  const std::string name = Name("T.DAT");
  MakeFile(GetParam(), name, "abc");
  TFileHandler a, b;
  for (TFileHandler* h : {&a, &b}) {
    h->SetInMemory(GetParam());
    h->SetFileName(name);
    h->Open();
  }
  EXPECT_TRUE(a.LockRange(2047483646, 100000000, true));   // table lock
  EXPECT_FALSE(b.LockRange(0x7FFFFFFE - 5, 1, true));       // record 5
  EXPECT_TRUE(b.LockRange(0x7FFFFFFF, 1, true));            // semaphore is outside
  EXPECT_FALSE(b.LockRange(2047483646, 100000000, false));  // not b's lock
  EXPECT_FALSE(a.LockRange(0x7FFFFFFE - 1, 1, true));       // a's own range too
  // Closing a releases its locks.
  a.Close();
  EXPECT_TRUE(b.LockRange(0x7FFFFFFE - 5, 1, true));
  EXPECT_TRUE(b.LockRange(0x7FFFFFFE - 5, 1, false));
}

TEST_P(BothKindsTest, SettersRefuseChangesWhileOpen) {
  const std::string name = Name("T.DAT");
  MakeFile(GetParam(), name, "abc");
  TFileHandler h;
  h.SetInMemory(GetParam());
  h.SetFileName(name);
  h.Open();
  EXPECT_EQ(CodeOf([&] { h.SetFileName(name); }), 0);
  EXPECT_EQ(CodeOf([&] { h.SetFileName(Name("U.DAT")); }), 10031);
  EXPECT_EQ(h.FileName(), name);
  EXPECT_EQ(CodeOf([&] { h.SetExclusive(false); }), 0);
  EXPECT_EQ(CodeOf([&] { h.SetExclusive(true); }), 10031);
  EXPECT_EQ(CodeOf([&] { h.SetReadOnly(true); }), 10031);
  EXPECT_EQ(CodeOf([&] { h.SetInMemory(!GetParam()); }), 10031);
  EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), 10031);
  EXPECT_EQ(CodeOf([&] { h.DeleteFile(); }), 10031);
  EXPECT_EQ(CodeOf([&] { h.RenameFile(Name("U.DAT")); }), 10031);
  EXPECT_EQ(CodeOf([&] { h.CopyFile(Name("U.DAT")); }), 10031);
  h.Close();
  h.SetFileName(Name("U.DAT"));
  EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), 10253);  // needs exclusive
  EXPECT_FALSE(h.IsOpen());
}

TEST_P(BothKindsTest, OpenFailuresMapToEngineCodes) {
  const std::string name = Name("T.DAT");
  TFileHandler h;
  h.SetInMemory(GetParam());
  h.SetFileName(name);
  try {
    h.Open();
    FAIL() << "opened a missing file";
  } catch (const ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 11010);
    EXPECT_EQ(e.Message(), "Tolmid Engine Error # 11010 Invalid path or file name for data file " + name);
  }
  EXPECT_FALSE(h.IsOpen());
  MakeFile(GetParam(), name, "abc");
  TFileHandler holder;
  holder.SetInMemory(GetParam());
  holder.SetFileName(name);
  holder.SetExclusive(true);
  holder.Open();
  EXPECT_EQ(CodeOf([&] { h.Open(); }), 11013);  // sharing violation
  EXPECT_FALSE(h.IsOpen());
  holder.Close();
  holder.SetExclusive(false);
  holder.Open();
  h.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { h.Open(); }), 11013);  // exclusive while shared
  EXPECT_EQ(CodeOf([&] { h.CreateFile(); }), 11013);  // re-create while open elsewhere
  h.SetExclusive(false);
  EXPECT_EQ(CodeOf([&] { h.Open(); }), 0);
  EXPECT_EQ(CodeOf([&] { h.Open(); }), 0);  // open again: nothing
}

TEST_P(BothKindsTest, RenameCopyDelete) {
  const bool mem = GetParam();
  MakeFile(mem, Name("A.DAT"), "payload");
  MakeFile(mem, Name("C.DAT"), "other");
  TFileHandler h;
  h.SetInMemory(mem);
  h.SetFileName(Name("A.DAT"));
  EXPECT_EQ(CodeOf([&] { h.RenameFile(Name("C.DAT")); }), 11047);  // target exists
  EXPECT_EQ(h.FileName(), Name("A.DAT"));
  h.RenameFile(Name("B.DAT"));
  EXPECT_EQ(h.FileName(), Name("B.DAT"));
  EXPECT_TRUE(h.FileExists());
  h.CopyFile(Name("D.DAT"));
  TFileHandler d;
  d.SetInMemory(mem);
  d.SetFileName(Name("A.DAT"));
  EXPECT_FALSE(d.FileExists());
  d.SetFileName(Name("D.DAT"));
  d.Open();
  char buf[7];
  EXPECT_EQ(d.ReadAt(0, buf, 7), 7);
  EXPECT_EQ(std::string(buf, 7), "payload");
  EXPECT_EQ(d.GetFileSize(), 7);
  d.Close();
  h.DeleteFile();
  EXPECT_FALSE(h.FileExists());
  EXPECT_EQ(CodeOf([&] { h.DeleteFile(); }), 9220);
  EXPECT_EQ(CodeOf([&] { h.CopyFile(Name("E.DAT")); }), 11010);  // source is gone
}

// Copies run in chunks of 8192 bytes: every size around a chunk comes out
// whole, and a longer file under the target name is replaced, not
// overwritten in part.
TEST_P(BothKindsTest, CopiesOfEverySizeAroundTheChunk) {
  const bool mem = GetParam();
  std::mt19937 rng(8);
  for (int size : {0, 1, 8191, 8192, 8193, 16384, 20000}) {
    std::string data(static_cast<std::size_t>(size), '\0');
    for (char& c : data) c = static_cast<char>(rng());
    const std::string src = Name("S" + std::to_string(size) + ".DAT");
    const std::string dst = Name("T" + std::to_string(size) + ".DAT");
    MakeFile(mem, src, data);
    MakeFile(mem, dst, std::string(30000, 'z'));
    TFileHandler h;
    h.SetInMemory(mem);
    h.SetFileName(src);
    h.CopyFile(dst);
    TFileHandler d;
    d.SetInMemory(mem);
    d.SetFileName(dst);
    d.SetExclusive(true);
    d.Open();
    ASSERT_EQ(d.GetFileSize(), size);
    std::string got(static_cast<std::size_t>(size), '\0');
    if (size > 0) {
      ASSERT_EQ(d.ReadAt(0, got.data(), size), size);
    }
    EXPECT_EQ(got, data) << size;
  }
}

TEST_P(BothKindsTest, ClosedHandlerFails) {
  TFileHandler h;
  h.SetInMemory(GetParam());
  h.SetFileName(Name("T.DAT"));
  char buf[4];
  EXPECT_EQ(CodeOf([&] { h.Read(buf, 4); }), 9217);
  EXPECT_EQ(CodeOf([&] { h.Write(buf, 4); }), 9218);
  EXPECT_EQ(CodeOf([&] { h.Seek(0, 0); }), 11014);
  EXPECT_FALSE(h.LockRange(0, 1, true));
  EXPECT_NO_THROW(h.Close());
}

TEST_F(FileHandlerTest, ReadOnlyAttributeForcesReadOnly) {
  const std::string name = Name("T.DAT");
  MakeFile(false, name, "0123456789");
  ASSERT_TRUE(platform::SetReadOnly(name, true));
  {
    TFileHandler h;
    h.SetFileName(name);
    h.Open();
    EXPECT_TRUE(h.ReadOnly());
    EXPECT_TRUE(h.ForcedReadOnly());
    char buf[4];
    EXPECT_EQ(h.ReadAt(0, buf, 4), 4);
    EXPECT_EQ(CodeOf([&] { h.WriteAt(0, "zz", 2); }), 9218);
    // A second, exclusive open is refused while h holds the file: the
    // attribute must not have turned that handle read-only.
    TFileHandler x;
    x.SetFileName(name);
    x.SetExclusive(true);
    EXPECT_NE(CodeOf([&] { x.Open(); }), 0);
    EXPECT_FALSE(x.ReadOnly());
    EXPECT_FALSE(x.ForcedReadOnly());
    h.Close();
  }
  ASSERT_TRUE(platform::SetReadOnly(name, false));
  std::ifstream in(Path("T.DAT"), std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "0123456789");
}

// A memory handler opened for reading refuses writes the way the disk does.
TEST_F(FileHandlerTest, ReadOnlyMemoryHandlerRefusesWrites) {
  MakeFile(true, Name("T.DAT"), "abc");
  TFileHandler h;
  h.SetInMemory(true);
  h.SetReadOnly(true);
  h.SetFileName(Name("T.DAT"));
  h.Open();
  EXPECT_EQ(CodeOf([&] { h.Write("x", 1); }), 9218);
  EXPECT_EQ(CodeOf([&] { h.Write(nullptr, 0); }), 9218);
  EXPECT_EQ(h.GetFileSize(), 3);
}

TEST(FileHandlerMapping, OsErrorTable) {
  struct Case {
    std::uint32_t os;
    std::uint16_t engine;
  } cases[] = {{2, 11010},  {3, 11010},  {4, 11012},  {5, 11013},   {32, 11013},
               {65, 11013}, {6, 11014},  {8, 11016},  {15, 11023},  {17, 11025},
               {0, 11047},  {33, 11047}, {80, 11047}, {112, 11047}, {183, 11047}};
  for (const Case& c : cases) EXPECT_EQ(TFileHandler::MapOSCode(c.os), c.engine) << c.os;
  TFileHandler disk;
  platform::SetLastError(32);
  EXPECT_EQ(disk.MapOSError(11010), 11013);  // the last OS error, whatever is passed
  TFileHandler memory;
  memory.SetInMemory(true);
  EXPECT_EQ(memory.MapOSError(11010), 11010);
}

TEST_F(FileHandlerTest, TraceLogLines) {
  const std::string saved = platform::GetCurrentDirectory();
  ASSERT_TRUE(platform::SetCurrentDirectory(dir_));
  const std::string n = Name("T.DAT");
  const std::string m = Name("U.DAT");
  {
    TFileHandler h;
    h.SetTrace(true);
    h.SetFileName(n);
    h.SetExclusive(true);
    h.CreateFile();
    h.Write("hello", 5);
    h.Seek(2, 0);
    char buf[3];
    h.Read(buf, 3);
    h.Flush();
    (void)h.GetFileSize();
    h.Close();
    h.SetExclusive(false);
    h.Open();
    h.LockRange(100, 10, true);
    h.LockRange(100, 10, true);  // fails, still traced
    h.LockRange(100, 10, false);
    h.Close();
    (void)h.FileExists();
    h.RenameFile(m);
    h.CopyFile(Name("V.DAT"));
    h.DeleteFile();
  }
  {
    TFileHandler h;  // a second handler appends to the same log
    h.SetTrace(true);
    h.SetFileName(Name("V.DAT"));
    (void)h.FileExists();
  }
  ASSERT_TRUE(platform::SetCurrentDirectory(saved));
  std::ifstream in(Path("tolmidio.log"), std::ios::binary);
  std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string expected =
      "Creation of file " + n + "\r\n" +
      "Write to file " + n + " of 5\r\n" +
      "Seek in file " + n + " from 0 to position 2\r\n" +
      "Read from file " + n + " of 3\r\n" +
      "Flush to disk for file " + n + "\r\n" +
      "Get size of file " + n + "\r\n" +
      "Close of file " + n + "\r\n" +
      "Open of file " + n + "\r\n" +
      "Lock in file " + n + " from position 100 for 10\r\n" +
      "Lock in file " + n + " from position 100 for 10\r\n" +
      "Unlock in file " + n + " from position 100 for 10\r\n" +
      "Close of file " + n + "\r\n" +
      "File exists test for file " + n + "\r\n" +
      "Rename of file " + n + " to " + m + "\r\n" +
      "Copy of file " + m + " to " + Name("V.DAT") + "\r\n" +
      "Deletion of file " + m + "\r\n" +
      "File exists test for file " + Name("V.DAT") + "\r\n";
  EXPECT_EQ(log, expected);
}

// Locks through two handlers in two processes: the child holds a record
// byte, the parent cannot take it until the child has gone.
TEST_F(FileHandlerTest, LocksExcludeAnotherProcess) {
  const std::string name = Name("T.DAT");
  MakeFile(false, name, "abc");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    close(done[1]);
    int status = 0;
    try {
      TFileHandler h;
      h.SetFileName(name);
      h.Open();
      if (!h.LockRange(0x7FFFFFFE - 7, 1, true)) status = 2;
      (void)!write(ready[1], "r", 1);
      char b;
      (void)!read(done[0], &b, 1);
    } catch (...) {
      status = 3;
    }
    _exit(status);
  }
  close(ready[1]);
  close(done[0]);
  char b;
  ASSERT_EQ(read(ready[0], &b, 1), 1);
  TFileHandler h;
  h.SetFileName(name);
  h.Open();
  EXPECT_FALSE(h.LockRange(0x7FFFFFFE - 7, 1, true));
  EXPECT_FALSE(h.LockRange(2047483646, 100000000, true));  // table lock covers it
  EXPECT_TRUE(h.LockRange(0x7FFFFFFE - 8, 1, true));
  close(done[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(h.LockRange(0x7FFFFFFE - 7, 1, true));
  close(ready[0]);
}

// ------------------------------------------------------------------ model
//
// One random sequence of operations on two handlers of a memory file and
// two handlers of a disk file: every result (value or engine code) and in
// the end every byte must agree.

enum class OpKind { kOpen, kClose, kRead, kWrite, kSeek, kTruncate, kSize, kLock, kUnlock, kCreate };

struct Op {
  OpKind kind;
  int who;  // handler 0 or 1
  bool exclusive;
  std::int64_t a;
  std::int64_t b;
  std::uint32_t seed;
};

Op RandomOp(std::mt19937& rng) {
  auto pick = [&](std::uint32_t n) { return static_cast<std::int64_t>(rng() % n); };
  Op op{};
  op.who = static_cast<int>(pick(2));
  op.seed = rng();
  const std::int64_t r = pick(100);
  if (r < 8) {
    op.kind = OpKind::kOpen;
    op.exclusive = pick(5) == 0;
  } else if (r < 13) {
    op.kind = OpKind::kClose;
  } else if (r < 33) {
    op.kind = OpKind::kRead;
    op.a = pick(400);
  } else if (r < 53) {
    op.kind = OpKind::kWrite;
    op.a = 1 + pick(400);
  } else if (r < 68) {
    op.kind = OpKind::kSeek;
    op.b = pick(3);
    op.a = op.b == 0 ? pick(6000) : (op.b == 1 ? pick(1200) - 600 : 0);
  } else if (r < 72) {
    op.kind = OpKind::kTruncate;
  } else if (r < 76) {
    op.kind = OpKind::kSize;
  } else if (r < 87) {
    op.kind = OpKind::kLock;
    op.a = pick(12) * 10;
    op.b = 1 + pick(3) * 7;
  } else if (r < 98) {
    op.kind = OpKind::kUnlock;
    op.a = pick(12) * 10;
    op.b = 1 + pick(3) * 7;
  } else {
    op.kind = OpKind::kCreate;
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
        out << "open";
        break;
      case OpKind::kClose:
        h.Close();
        out << "closed";
        break;
      case OpKind::kRead: {
        std::vector<char> buf(static_cast<std::size_t>(op.a) + 1, '\x5A');
        const std::int32_t got = h.Read(buf.data(), static_cast<std::int32_t>(op.a));
        out << "read " << got << " " << std::string(buf.data(), static_cast<std::size_t>(got));
        break;
      }
      case OpKind::kWrite: {
        std::mt19937 bytes(op.seed);
        std::vector<char> buf(static_cast<std::size_t>(op.a));
        for (char& c : buf) c = static_cast<char>(bytes());
        h.Write(buf.data(), static_cast<std::int32_t>(op.a));
        out << "wrote";
        break;
      }
      case OpKind::kSeek:
        out << "at " << h.Seek(op.a, static_cast<int>(op.b));
        break;
      case OpKind::kTruncate:
        h.Write(nullptr, 0);
        out << "truncated";
        break;
      case OpKind::kSize:
        out << "size " << h.GetFileSize();
        break;
      case OpKind::kLock:
        out << "lock " << h.LockRange(op.a, op.b, true);
        break;
      case OpKind::kUnlock:
        out << "unlock " << h.LockRange(op.a, op.b, false);
        break;
      case OpKind::kCreate:
        if (!h.IsOpen()) h.SetExclusive(true);
        h.CreateFile();
        out << "created";
        break;
    }
  } catch (const ETolmidEngineError& e) {
    out << "error " << e.ErrorCode();
  }
  return out.str();
}

std::string Contents(bool in_memory, const std::string& name) {
  TFileHandler h;
  h.SetInMemory(in_memory);
  h.SetFileName(name);
  h.Open();
  const std::int64_t size = h.GetFileSize();
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (size > 0) h.ReadAt(0, bytes.data(), static_cast<std::int32_t>(size));
  return bytes;
}

TEST_F(FileHandlerTest, MemoryAndDiskAgreeOnRandomSequences) {
  for (std::uint32_t seed : {11u, 22u, 33u, 44u}) {
    const std::string disk_name = Name("M" + std::to_string(seed) + ".DAT");
    const std::string memory_name = "MEM\\M" + std::to_string(seed) + ".DAT";
    MakeFile(false, disk_name, "");
    MakeFile(true, memory_name, "");
    std::array<TFileHandler, 2> disk, memory;
    for (int i = 0; i < 2; ++i) {
      disk[i].SetFileName(disk_name);
      memory[i].SetInMemory(true);
      memory[i].SetFileName(memory_name);
    }
    std::mt19937 rng(seed);
    int errors = 0;
    for (int step = 0; step < 3000; ++step) {
      const Op op = RandomOp(rng);
      const std::string on_disk = Apply(disk[op.who], op);
      const std::string in_memory = Apply(memory[op.who], op);
      ASSERT_EQ(on_disk, in_memory) << "seed " << seed << " step " << step << " op "
                                    << static_cast<int>(op.kind) << " handler " << op.who;
      if (on_disk.rfind("error", 0) == 0) ++errors;
    }
    // The sequence must have exercised failures as well as successes.
    EXPECT_GT(errors, 50);
    for (int i = 0; i < 2; ++i) {
      disk[i].Close();
      memory[i].Close();
    }
    const std::string a = Contents(false, disk_name);
    EXPECT_GT(a.size(), 0u);
    EXPECT_EQ(a, Contents(true, memory_name)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace storage
