// Sharing modes, names, attributes and plain I/O of platform::File.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/file.h"
#include "tests/platform/test_util.h"

namespace platform {
namespace {

using platform_test::Child;
using platform_test::ScratchDir;
using platform_test::WriteFileBytes;

std::string Err(std::uint32_t code) { return "err " + std::to_string(code); }

std::string ReadAll(const std::string& path) {
  File f;
  if (!f.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting)) return "<open failed>";
  std::string s(static_cast<std::size_t>(f.Size()), '\0');
  std::uint32_t done = 0;
  f.Read(s.data(), static_cast<std::uint32_t>(s.size()), &done);
  s.resize(done);
  return s;
}

TEST(FileSharing, ExclusiveOpenRefusesOpensInOtherProcessAndViceVersa) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFileBytes(path, "abc");
  Child child;
  {
    File mine;
    ASSERT_TRUE(mine.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
    EXPECT_EQ(child.Do("open 0 " + path + " r rw existing"), Err(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(child.Do("open 0 " + path + " rw none existing"), Err(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(child.Do("open 0 " + path + " rw rw always"), Err(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(child.Do("delete " + path), Err(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(child.Do("move " + path + " " + dir / "u.dat"), Err(ERROR_SHARING_VIOLATION));
    // A second handle in the same process is refused just the same.
    File second;
    EXPECT_FALSE(second.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  ASSERT_EQ(child.Do("open 0 " + path + " r rw existing"), "ok");
  File mine;
  EXPECT_FALSE(mine.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(mine.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(ReadAll(path), "abc");  // CreateAlways did not truncate
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(MoveFile(path, dir / "u.dat"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // Shared opens live together.
  EXPECT_TRUE(mine.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
  mine.Close();
  ASSERT_EQ(child.Do("close 0"), "ok");
  EXPECT_TRUE(mine.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  mine.Close();
  EXPECT_TRUE(MoveFile(path, dir / "u.dat"));
  EXPECT_TRUE(DeleteFile(dir / "u.dat"));
  EXPECT_FALSE(FileExists(dir / "u.dat"));
}

TEST(FileSharing, ReadOnlyDescriptorsKeepTheSharingRules) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFileBytes(path, "abc");
  Child child;
  ASSERT_EQ(child.Do("ro"), "ok");
  ASSERT_EQ(child.Do("open 0 " + path + " r none existing"), "ok");
  File mine;
  EXPECT_FALSE(mine.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(mine.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  EXPECT_EQ(child.Do("open 1 " + path + " r none existing"), Err(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(child.Do("open 1 " + path + " r rw existing"), Err(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFile(path));
  ASSERT_EQ(child.Do("close 0"), "ok");
  ASSERT_TRUE(mine.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(child.Do("open 1 " + path + " r none existing"), Err(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(child.Do("open 1 " + path + " r rw existing"), "ok");
}

TEST(FileSharing, CreateAlwaysTruncatesAFileNobodyHasOpen) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFileBytes(path, "old contents");
  File f;
  ASSERT_TRUE(f.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::CreateAlways));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(f.Size(), 0);
  // It went back to a shared open: others may open it now.
  File g;
  EXPECT_TRUE(g.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  File h;
  EXPECT_FALSE(h.Open(path, Access::ReadWrite, Share::None, Disposition::CreateNew));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_FALSE(h.Open(dir / "none.dat", Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(h.Open(dir / "nodir/none.dat", Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(h.Open(dir.path(), Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(FileMove, RenameNeverOverwrites) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.dat", "A");
  WriteFileBytes(dir / "b.dat", "B");
  EXPECT_FALSE(MoveFile(dir / "a.dat", dir / "b.dat"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(MoveFile(dir / "a.dat", dir / "B.DAT"));  // same file, other case
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadAll(dir / "b.dat"), "B");
  EXPECT_FALSE(MoveFile(dir / "missing.dat", dir / "c.dat"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(MoveFile(dir / "a.dat", dir / "nodir/c.dat"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  // Renaming to another case of its own name is allowed.
  EXPECT_TRUE(MoveFile(dir / "a.dat", dir / "A.DAT"));
  EXPECT_TRUE(std::filesystem::exists(dir / "A.DAT"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.dat"));
  EXPECT_TRUE(MoveFile(dir / "A.DAT", dir / "c.dat"));
  EXPECT_EQ(ReadAll(dir / "c.dat"), "A");
}

TEST(FileMove, CopyFileHonoursFailIfExistsAndAttributes) {
  ScratchDir dir;
  std::string big(200000, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFileBytes(dir / "s.dat", big);
  WriteFileBytes(dir / "d.dat", "old");
  EXPECT_FALSE(CopyFile(dir / "S.DAT", dir / "D.DAT", true));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadAll(dir / "d.dat"), "old");
  EXPECT_TRUE(CopyFile(dir / "S.DAT", dir / "D.DAT", false));
  EXPECT_EQ(ReadAll(dir / "d.dat"), big);
  EXPECT_TRUE(CopyFile(dir / "s.dat", dir / "new.dat", true));
  EXPECT_EQ(ReadAll(dir / "new.dat"), big);
  ASSERT_TRUE(SetReadOnly(dir / "s.dat", true));
  EXPECT_TRUE(CopyFile(dir / "s.dat", dir / "ro.dat", true));
  bool ro = false;
  ASSERT_TRUE(GetReadOnly(dir / "ro.dat", &ro));
  EXPECT_TRUE(ro);
  EXPECT_FALSE(CopyFile(dir / "s.dat", dir / "ro.dat", false));  // a read-only target
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(FileNames, CaseInsensitiveThroughDirectoriesAndBackslashes) {
  ScratchDir dir;
  ASSERT_TRUE(CreateDirectory(dir / "Data"));
  EXPECT_FALSE(CreateDirectory(dir / "DATA"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectory(dir / "data\\Sub"));
  WriteFileBytes(dir / "Data/Sub/defaults.dat", "defaults");
  struct {
    std::string name;
    bool found;
  } cases[] = {
      {"Data/Sub/defaults.dat", true},  {"data/sub/DEFAULTS.DAT", true},
      {"DATA\\SUB\\Defaults.Dat", true}, {"data\\sub/defaults.dat", true},
      {"data//sub/defaults.dat", true},  {"data/sub/defaults.da", false},
      {"data/sub/defaults.datx", false}, {"dat/sub/defaults.dat", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileExists(dir.path() + "/" + c.name), c.found);
    if (c.found) {
      EXPECT_EQ(ResolvePath(dir.path() + "/" + c.name), dir / "Data/Sub/defaults.dat");
      EXPECT_EQ(ReadAll(dir.path() + "/" + c.name), "defaults");
    }
  }
  EXPECT_TRUE(DirectoryExists(dir / "DATA\\sub"));
  EXPECT_FALSE(FileExists(dir / "DATA\\sub"));
  // A new file keeps the name as given, inside the existing directories.
  File f;
  ASSERT_TRUE(f.Open(dir / "DATA/SUB/NewFile.DAT", Access::ReadWrite, Share::None, Disposition::CreateNew));
  EXPECT_EQ(f.Path(), dir / "Data/Sub/NewFile.DAT");
  f.Close();
  EXPECT_TRUE(std::filesystem::exists(dir / "Data/Sub/NewFile.DAT"));
  // When two entries differ only in case, the exact one wins, else the first.
  WriteFileBytes(dir / "Data/Sub/DEFAULTS.DAT", "upper");
  EXPECT_EQ(ReadAll(dir / "Data/Sub/DEFAULTS.DAT"), "upper");
  EXPECT_EQ(ReadAll(dir / "Data/Sub/defaults.dat"), "defaults");
  EXPECT_EQ(ResolvePath(dir / "Data/Sub/Defaults.dat"), dir / "Data/Sub/DEFAULTS.DAT");
  // Deleting through another case.
  EXPECT_TRUE(DeleteFile(dir / "data\\sub\\newfile.dat"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Data/Sub/NewFile.DAT"));
  EXPECT_FALSE(DeleteFile(dir / "data\\sub\\newfile.dat"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // Current directory, relative names.
  const std::string old = GetCurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectory(dir / "DATA"));
  EXPECT_TRUE(FileExists("sub\\Defaults.DAT"));
  EXPECT_FALSE(SetCurrentDirectory("nothere"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(SetCurrentDirectory(old));
}

TEST(FileAttributes, ReadOnlyHoldsEvenForRoot) {
  ScratchDir dir;
  const std::string path = dir / "r.dat";
  WriteFileBytes(path, "data");
  bool ro = true;
  ASSERT_TRUE(GetReadOnly(path, &ro));
  EXPECT_FALSE(ro);
  ASSERT_TRUE(SetReadOnly(path, true));
  ASSERT_TRUE(GetReadOnly(path, &ro));
  EXPECT_TRUE(ro);
  File f;
  EXPECT_FALSE(f.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(f.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(f.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  std::uint32_t done = 0;
  EXPECT_FALSE(f.Write("x", 1, &done));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(f.SetEndOfFile());
  // Locks still work on a read handle of a read-only file.
  EXPECT_TRUE(f.LockFile(0x7FFFFFFF, 1));
  File g;
  ASSERT_TRUE(g.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_FALSE(g.LockFile(0x7FFFFFFF, 1));
  f.Close();
  g.Close();
  EXPECT_EQ(ReadAll(path), "data");
  ASSERT_TRUE(SetReadOnly(path, false));
  EXPECT_TRUE(f.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_FALSE(GetReadOnly(dir / "none", &ro));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(FileIo, ReadWriteSeekTruncate) {
  ScratchDir dir;
  File f;
  ASSERT_TRUE(f.Open(dir / "io.dat", Access::ReadWrite, Share::None, Disposition::CreateNew));
  std::uint32_t done = 0;
  ASSERT_TRUE(f.Write("hello world", 11, &done));
  EXPECT_EQ(done, 11u);
  EXPECT_EQ(f.Seek(0, 1), 11);
  EXPECT_EQ(f.Seek(100, 0), 100);
  ASSERT_TRUE(f.Write("!", 1, &done));  // a hole of zeros up to 100
  EXPECT_EQ(f.Size(), 101);
  EXPECT_EQ(f.Seek(5, 0), 5);
  ASSERT_TRUE(f.SetEndOfFile());
  EXPECT_EQ(f.Size(), 5);
  EXPECT_EQ(f.Seek(0, 2), 5);
  EXPECT_EQ(f.Seek(-2, 2), 3);
  char buf[16] = {};
  ASSERT_TRUE(f.Read(buf, 16, &done));  // a short read is not an error
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(std::string(buf, 2), "lo");
  ASSERT_TRUE(f.Read(buf, 16, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(f.Seek(-10, 1), -1);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(f.Seek(0, 3), -1);
  EXPECT_TRUE(f.Flush());
  f.Close();
  EXPECT_FALSE(f.Read(buf, 1, &done));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(f.LockFile(0, 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(FileErrors, ErrnoMapping) {
  const struct {
    int err;
    std::uint32_t code;
  } cases[] = {{ENOENT, 2},  {ENOTDIR, 3}, {EMFILE, 4},   {ENFILE, 4}, {EACCES, 5},
               {EPERM, 5},   {EBADF, 6},   {ENOMEM, 8},   {EXDEV, 17}, {ENOSPC, 112},
               {EEXIST, 80}, {EAGAIN, 33}, {EINVAL, 87},  {0, 0}};
  for (const auto& c : cases) EXPECT_EQ(WindowsErrorFromErrno(c.err), c.code) << c.err;
}

TEST(FileErrors, LastErrorIsPerThread) {
  SetLastError(1234);
  std::uint32_t seen = 99;
  std::thread t([&] { seen = GetLastError(); SetLastError(5); });
  t.join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
}  // namespace platform
