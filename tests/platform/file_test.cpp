// Sharing modes, names, attributes and plain I/O of platform::File.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/file.h"
#include "tests/common/scratch_dir.h"

namespace platform {
namespace {

using testsupport::ScratchDir;
using testsupport::WriteFile;

std::string ReadAll(const std::string& path) {
  File f;
  if (!f.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting)) return "<open failed>";
  std::string s(static_cast<std::size_t>(f.Size()), '\0');
  std::uint32_t done = 0;
  f.Read(s.data(), static_cast<std::uint32_t>(s.size()), &done);
  return s.substr(0, done);
}

// Expects a call to fail with code.
#define EXPECT_FAILS(call, code) \
  do {                           \
    EXPECT_FALSE(call);          \
    EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(code)); \
  } while (0)

TEST(FileSharing, CreateAlwaysTruncatesAFileNobodyHasOpen) {
  ScratchDir dir;
  const std::string path = dir / "t.dat";
  WriteFile(path, "old contents");
  File f, g, h;
  ASSERT_TRUE(f.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::CreateAlways));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(f.Size(), 0);
  EXPECT_TRUE(g.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));  // back to a shared open
  EXPECT_FAILS(h.Open(path, Access::ReadWrite, Share::None, Disposition::CreateNew), ERROR_FILE_EXISTS);
  EXPECT_FAILS(h.Open(dir / "none.dat", Access::Read, Share::ReadWrite, Disposition::OpenExisting),
               ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS(h.Open(dir / "nodir/none.dat", Access::Read, Share::ReadWrite, Disposition::OpenExisting),
               ERROR_PATH_NOT_FOUND);
  EXPECT_FAILS(h.Open(dir.path(), Access::Read, Share::ReadWrite, Disposition::OpenExisting), ERROR_ACCESS_DENIED);
}

TEST(FileMove, RenameNeverOverwrites) {
  ScratchDir dir;
  WriteFile(dir / "a.dat", "A");
  WriteFile(dir / "b.dat", "B");
  EXPECT_FAILS(MoveFile(dir / "a.dat", dir / "b.dat"), ERROR_ALREADY_EXISTS);
  EXPECT_FAILS(MoveFile(dir / "a.dat", dir / "B.DAT"), ERROR_ALREADY_EXISTS);  // same file, other case
  EXPECT_EQ(ReadAll(dir / "b.dat"), "B");
  EXPECT_FAILS(MoveFile(dir / "missing.dat", dir / "c.dat"), ERROR_FILE_NOT_FOUND);
  EXPECT_FAILS(MoveFile(dir / "a.dat", dir / "nodir/c.dat"), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(MoveFile(dir / "a.dat", dir / "A.DAT"));  // to another case of its own name
  EXPECT_TRUE(std::filesystem::exists(dir / "A.DAT"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.dat"));
  EXPECT_TRUE(MoveFile(dir / "A.DAT", dir / "c.dat"));
  EXPECT_EQ(ReadAll(dir / "c.dat"), "A");
}

TEST(FileMove, CopyFileHonoursFailIfExistsAndAttributes) {
  ScratchDir dir;
  std::string big(200000, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFile(dir / "s.dat", big);
  WriteFile(dir / "d.dat", "old");
  EXPECT_FAILS(CopyFile(dir / "S.DAT", dir / "D.DAT", true), ERROR_FILE_EXISTS);
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
  EXPECT_FAILS(CopyFile(dir / "s.dat", dir / "ro.dat", false), ERROR_ACCESS_DENIED);  // a read-only target
}

TEST(FileNames, CaseInsensitiveThroughDirectoriesAndBackslashes) {
  ScratchDir dir;
  ASSERT_TRUE(CreateDirectory(dir / "Data"));
  EXPECT_FAILS(CreateDirectory(dir / "DATA"), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(CreateDirectory(dir / "data\\Sub"));
  WriteFile(dir / "Data/Sub/defaults.dat", "defaults");
  for (const char* name : {"Data/Sub/defaults.dat", "data/sub/DEFAULTS.DAT", "DATA\\SUB\\Defaults.Dat",
                           "data\\sub/defaults.dat", "data//sub/defaults.dat"}) {
    EXPECT_TRUE(FileExists(dir / name)) << name;
    EXPECT_EQ(ResolvePath(dir / name), dir / "Data/Sub/defaults.dat") << name;
    EXPECT_EQ(ReadAll(dir / name), "defaults") << name;
  }
  for (const char* name : {"data/sub/defaults.da", "data/sub/defaults.datx", "dat/sub/defaults.dat", "DATA\\sub"})
    EXPECT_FALSE(FileExists(dir / name)) << name;
  // Answers from one listing per directory are the answers without it.
  for (const char* name : {"data/sub/DEFAULTS.DAT", "DATA\\SUB\\Defaults.Dat", "data//sub/defaults.dat",
                           "data/sub/Missing.dat", "dat/sub/defaults.dat", "DATA/Sub"}) {
    const std::string plain = ResolvePath(dir / name);
    const DirectoryListingScope listing;
    EXPECT_EQ(ResolvePath(dir / name), plain) << name;
    EXPECT_EQ(ResolvePath(dir / name), plain) << name;  // from the listing
  }
  EXPECT_TRUE(DirectoryExists(dir / "DATA\\sub"));
  // A new file keeps the name as given, inside the existing directories.
  File f;
  ASSERT_TRUE(f.Open(dir / "DATA/SUB/NewFile.DAT", Access::ReadWrite, Share::None, Disposition::CreateNew));
  EXPECT_EQ(f.Path(), dir / "Data/Sub/NewFile.DAT");
  f.Close();
  EXPECT_TRUE(std::filesystem::exists(dir / "Data/Sub/NewFile.DAT"));
  // When two entries differ only in case, the exact one wins, else the first.
  WriteFile(dir / "Data/Sub/DEFAULTS.DAT", "upper");
  EXPECT_EQ(ReadAll(dir / "Data/Sub/DEFAULTS.DAT"), "upper");
  EXPECT_EQ(ReadAll(dir / "Data/Sub/defaults.dat"), "defaults");
  EXPECT_EQ(ResolvePath(dir / "Data/Sub/Defaults.dat"), dir / "Data/Sub/DEFAULTS.DAT");
  EXPECT_TRUE(DeleteFile(dir / "data\\sub\\newfile.dat"));  // through another case
  EXPECT_FALSE(std::filesystem::exists(dir / "Data/Sub/NewFile.DAT"));
  EXPECT_FAILS(DeleteFile(dir / "data\\sub\\newfile.dat"), ERROR_FILE_NOT_FOUND);
  const std::string old = GetCurrentDirectory();  // relative names
  ASSERT_TRUE(SetCurrentDirectory(dir / "DATA"));
  EXPECT_TRUE(FileExists("sub\\Defaults.DAT"));
  EXPECT_FAILS(SetCurrentDirectory("nothere"), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(SetCurrentDirectory(old));
}

TEST(FileAttributes, ReadOnlyHoldsEvenForRoot) {
  ScratchDir dir;
  const std::string path = dir / "r.dat";
  WriteFile(path, "data");
  bool ro = true;
  ASSERT_TRUE(GetReadOnly(path, &ro));
  EXPECT_FALSE(ro);
  ASSERT_TRUE(SetReadOnly(path, true));
  ASSERT_TRUE(GetReadOnly(path, &ro));
  EXPECT_TRUE(ro);
  File f, g;
  EXPECT_FAILS(f.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting), ERROR_ACCESS_DENIED);
  EXPECT_FAILS(f.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways), ERROR_ACCESS_DENIED);
  EXPECT_FAILS(DeleteFile(path), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(f.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  std::uint32_t done = 0;
  EXPECT_FAILS(f.Write("x", 1, &done), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(f.SetEndOfFile());
  EXPECT_TRUE(f.LockFile(0x7FFFFFFF, 1));  // locks still work on a read handle of a read-only file
  ASSERT_TRUE(g.Open(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_FALSE(g.LockFile(0x7FFFFFFF, 1));
  f.Close();
  g.Close();
  EXPECT_EQ(ReadAll(path), "data");
  ASSERT_TRUE(SetReadOnly(path, false));
  EXPECT_TRUE(f.Open(path, Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
  EXPECT_FAILS(GetReadOnly(dir / "none", &ro), ERROR_FILE_NOT_FOUND);
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
  EXPECT_EQ(std::string(buf, done), "lo");
  ASSERT_TRUE(f.Read(buf, 16, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(f.Seek(-10, 1), -1);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(f.Seek(0, 3), -1);
  EXPECT_TRUE(f.Flush());
  f.Close();
  EXPECT_FAILS(f.Read(buf, 1, &done), ERROR_INVALID_HANDLE);
  EXPECT_FAILS(f.LockFile(0, 1), ERROR_INVALID_HANDLE);
}

TEST(FileIo, MappedViewsAreCutAtTheEndAndSeeLaterWrites) {
  ScratchDir dir;
  File f;
  ASSERT_TRUE(f.Open(dir / "view.dat", Access::ReadWrite, Share::ReadWrite, Disposition::CreateNew));
  std::string bytes(10000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  std::uint32_t done = 0;
  ASSERT_TRUE(f.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &done));
  FileView view;
  // From inside a page, past the end: the bytes up to the end.
  ASSERT_TRUE(f.MapView(4097, 20000, view));
  ASSERT_EQ(view.Size(), bytes.size() - 4097);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()), view.Size()), bytes.substr(4097));
  // A write through another handle is seen in the view at once.
  File other;
  ASSERT_TRUE(other.Open(dir / "VIEW.DAT", Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
  ASSERT_TRUE(other.WriteAt(5000, "XYZ", 3, &done));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()) + (5000 - 4097), 3), "XYZ");
  // Moved views keep their bytes; nothing at or beyond the end, nothing on a closed file.
  FileView moved = std::move(view);
  EXPECT_EQ(view.Size(), 0u);
  EXPECT_EQ(moved.Data()[0], static_cast<std::uint8_t>(bytes[4097]));
  EXPECT_FALSE(f.MapView(10000, 1, view));
  EXPECT_EQ(view.Data(), nullptr);
  f.Close();
  EXPECT_FALSE(f.MapView(0, 1, view));
}

TEST(FileErrors, ErrnoMapping) {
  const std::pair<int, std::uint32_t> cases[] = {{ENOENT, 2}, {ENOTDIR, 3}, {EMFILE, 4}, {ENFILE, 4}, {EACCES, 5},
                                                 {EPERM, 5},  {EBADF, 6},   {ENOMEM, 8}, {EXDEV, 17}, {ENOSPC, 112},
                                                 {EEXIST, 80}, {EAGAIN, 33}, {EINVAL, 87}, {0, 0}};
  for (auto [err, code] : cases) { EXPECT_EQ(WindowsErrorFromErrno(err), code) << err; }
}

TEST(FileErrors, LastErrorIsPerThread) {
  SetLastError(1234);
  std::uint32_t seen = 99;
  std::thread([&] { seen = GetLastError(); SetLastError(5); }).join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
}  // namespace platform
