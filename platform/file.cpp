// Files with Windows semantics on Linux.
//
// Locks. Every lock here is an open-file-description lock (F_OFD_SETLK,
// never waiting): it belongs to the descriptor's open file description,
// i.e. to one File, so two Files in one process conflict exactly like two
// processes, and closing a File releases all its locks (descriptors are
// opened O_CLOEXEC and never duplicated). Classic POSIX locks are not used:
// they belong to the process and vanish when any descriptor of the file is
// closed.
//
// Descriptors. A File is opened O_RDWR whenever the system lets us, even
// for Access::Read (Write, SetEndOfFile then refuse with
// ERROR_ACCESS_DENIED): LockFile on Windows is exclusive whatever the
// handle's access, and only a writable descriptor can take an F_WRLCK.
// Only when O_RDWR is refused (a non-root user on a file without write
// permission, a read-only file system) is the descriptor O_RDONLY. Such a
// descriptor can take only read locks, so it locks a range by
//   1. taking F_RDLCK on it (fails at once if another handle holds a write
//      lock there), then
//   2. asking F_OFD_GETLK whether any other open file description holds any
//      lock on it; if so, it drops its lock again and fails.
// Mutual exclusion holds: of two handles that both got past step 1, the one
// that ran step 2 later sees the other's lock. Two such handles racing may
// both fail; LockFile never waits and its callers retry.
//
// Sharing. Two bytes of the region reserved from kReservedLockBase = 2^62
// (no data or byte-range lock ever reaches it) stand for the open file:
//   O = 2^62      "open" byte
//   X = 2^62 + 1  "exclusive" byte (used only by read-only descriptors)
//   shared open     F_RDLCK on O (fails while an exclusive open holds F_WRLCK
//                   on O), then fails if any other handle holds a lock on X.
//   exclusive open  writable descriptor: F_WRLCK on O, which fails while any
//                   other handle holds O. Read-only descriptor: F_RDLCK on O
//                   and on X, then fails if another handle holds O or X
//                   (the two-step scheme above).
// An open in another process probes the same bytes, so sharing holds between
// processes too. DeleteFile, MoveFile and CreateAlways on an existing file
// take the exclusive form for the duration of the change, so they fail with
// ERROR_SHARING_VIOLATION while the file is open anywhere. After locking, an
// open checks that the name still leads to the inode it locked (a delete or
// rename may have slipped in between open() and the lock) and starts over if
// not.
//
// Names. '\' and '/' both separate. Each component that does not exist with
// the exact name is looked up in its directory without regard to ASCII case
// (the first match in byte order wins); names are otherwise byte strings.
//
// Read-only attribute = no owner write permission in the mode bits, checked
// by hand so that it holds for root too.
#include "platform/file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <iterator>
#include <cstring>
#include <map>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

thread_local std::uint32_t t_last_error = ERROR_SUCCESS;
std::atomic<bool> g_prefer_read_only_fds{false};

constexpr off_t kOpenByte = static_cast<off_t>(kReservedLockBase);
constexpr off_t kExclusiveByte = kOpenByte + 1;

bool Fail(std::uint32_t code) {
  t_last_error = code;
  return false;
}
bool FailErrno() { return Fail(WindowsErrorFromErrno(errno)); }

// Moves count bytes by calling op(moved so far) (a read, write, pread or
// pwrite of what is left) until all are through, again after EINTR and
// short transfers; a read stops at the end of the file. done gets what
// was moved, also on failure.
template <class Op>
bool TransferAll(Op op, std::uint32_t count, std::uint32_t* done, bool reading) {
  std::uint32_t total = 0;
  while (total < count) {
    const ssize_t n = op(total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (done != nullptr) *done = total;
      const std::uint32_t fault = reading ? ERROR_READ_FAULT : ERROR_WRITE_FAULT;
      return Fail(errno == EIO ? fault : WindowsErrorFromErrno(errno));
    }
    if (n == 0 && reading) break;
    total += static_cast<std::uint32_t>(n);
  }
  if (done != nullptr) *done = total;
  return true;
}

// One non-blocking OFD lock request; returns 0 or the errno.
int OfdLock(int fd, short type, off_t start, off_t len) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  fl.l_pid = 0;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

// True when another open file description holds any lock on the range.
bool OthersHold(int fd, off_t start, off_t len) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = len;
  fl.l_pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;  // cannot tell: assume busy
  return fl.l_type != F_UNLCK;
}

// Takes an exclusive lock on the range (see the top of this file); returns
// 0, EAGAIN for a conflict, or another errno.
int LockExclusive(int fd, bool read_only_fd, off_t start, off_t len) {
  if (!read_only_fd) return OfdLock(fd, F_WRLCK, start, len);
  if (int e = OfdLock(fd, F_RDLCK, start, len)) return e;
  if (OthersHold(fd, start, len)) {
    OfdLock(fd, F_UNLCK, start, len);
    return EAGAIN;
  }
  return 0;
}

bool IsConflict(int e) { return e == EAGAIN || e == EACCES; }

// Sharing locks of an open; returns 0, EAGAIN for a sharing conflict, or
// another errno.
int AcquireShare(int fd, bool read_only_fd, bool exclusive) {
  if (!exclusive) {
    if (int e = OfdLock(fd, F_RDLCK, kOpenByte, 1)) return e;
    if (OthersHold(fd, kExclusiveByte, 1)) {
      OfdLock(fd, F_UNLCK, kOpenByte, 1);
      return EAGAIN;
    }
    return 0;
  }
  if (!read_only_fd) return OfdLock(fd, F_WRLCK, kOpenByte, 1);
  if (int e = OfdLock(fd, F_RDLCK, kOpenByte, 2)) return e;
  if (OthersHold(fd, kOpenByte, 2)) {
    OfdLock(fd, F_UNLCK, kOpenByte, 2);
    return EAGAIN;
  }
  return 0;
}

bool ReadOnlyMode(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// ERROR_FILE_NOT_FOUND when the directory exists, else ERROR_PATH_NOT_FOUND.
std::uint32_t NotFoundError(const std::string& path) {
  struct stat st {};
  if (stat(ParentOf(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

bool EqualNoCase(const char* a, const std::string& b) {
  std::size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return a[i] == '\0' && i == b.size();
}

// Opens the file for a change of its name (delete, move) and holds it
// exclusively; fd -1 when it could not be opened at all (then no check is
// possible and the change goes ahead).
struct ExclusiveProbe {
  int fd = -1;
  ~ExclusiveProbe() {
    if (fd >= 0) close(fd);
  }
  // False (last error set) when another handle has the file open.
  bool Take(const std::string& path) {
    bool ro = false;
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      ro = true;
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    if (fd < 0) return true;
    const int e = AcquireShare(fd, ro, true);
    if (e == 0) return true;
    return Fail(IsConflict(e) ? ERROR_SHARING_VIOLATION : WindowsErrorFromErrno(e));
  }
};

}  // namespace

std::uint32_t GetLastError() { return t_last_error; }
void SetLastError(std::uint32_t code) { t_last_error = code; }

std::uint32_t WindowsErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES: case EPERM: case EROFS: case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: case ENOLCK: return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY: case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: case EDQUOT: case EFBIG: return ERROR_DISK_FULL;
    case ENAMETOOLONG: case ELOOP: return ERROR_FILENAME_EXCED_RANGE;
    case EIO: return ERROR_GEN_FAILURE;
    default: return ERROR_GEN_FAILURE;
  }
}

namespace internal {
void SetPreferReadOnlyDescriptors(bool on) { g_prefer_read_only_fds = on; }
}  // namespace internal

// ---------------------------------------------------------------------------
// Names

namespace {

// Names read from each directory while a DirectoryListingScope lives on
// this thread; null outside one.
using DirectoryListings = std::map<std::string, std::vector<std::string>, std::less<>>;
thread_local DirectoryListings* t_listings = nullptr;

// The case-insensitive match of part in dir that sorts first, or "".
std::string MatchInDirectory(const std::string& dir, const std::string& part) {
  std::string match;
  auto consider = [&](const char* name) {
    if (EqualNoCase(name, part) && (match.empty() || match > name)) match = name;
  };
  if (t_listings != nullptr) {
    auto it = t_listings->find(dir);
    if (it == t_listings->end()) {
      std::vector<std::string> names;
      if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) names.emplace_back(e->d_name);
        closedir(d);
      }
      it = t_listings->emplace(dir, std::move(names)).first;
    }
    for (const std::string& name : it->second) consider(name.c_str());
    return match;
  }
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) consider(e->d_name);
    closedir(d);
  }
  return match;
}

}  // namespace

DirectoryListingScope::DirectoryListingScope() {
  if (t_listings != nullptr) return;
  t_listings = new DirectoryListings;
  outer_ = true;
}

DirectoryListingScope::~DirectoryListingScope() {
  if (!outer_) return;
  delete t_listings;
  t_listings = nullptr;
}

std::string ResolvePath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty()) return path;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) return path;
  // Mostly the folder exists as written and only the last name differs in
  // case or is missing: one listing of that folder, not a check of every
  // folder on the way down.
  if (const std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
    const std::string parent = path.substr(0, slash);
    const std::string last = path.substr(slash + 1);
    if (!last.empty() && last != "." && last != ".." && lstat(parent.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode)) {
      const std::string match = MatchInDirectory(parent, last);
      return match.empty() ? path : parent + "/" + match;
    }
  }

  std::vector<std::string> parts;
  for (std::size_t pos = 0; pos <= path.size();) {
    const std::size_t slash = std::min(path.find('/', pos), path.size());
    if (slash > pos) parts.emplace_back(path.substr(pos, slash - pos));
    pos = slash + 1;
  }
  std::string out = path[0] == '/' ? "/" : "";
  bool missing = false;
  for (const std::string& part : parts) {
    const std::string dir = out.empty() ? "." : out;
    if (!out.empty() && out.back() != '/') out += '/';
    if (missing || part == "." || part == "..") {
      out += part;
      continue;
    }
    if (lstat((out + part).c_str(), &st) == 0) {
      out += part;
      continue;
    }
    const std::string match = MatchInDirectory(dir, part);
    if (match.empty()) {
      missing = true;
      out += part;
    } else {
      out += match;
    }
  }
  return out;
}

bool FileExists(std::string_view name) {
  struct stat st {};
  return stat(ResolvePath(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view name) {
  struct stat st {};
  return stat(ResolvePath(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectory(std::string_view name) {
  const std::string path = ResolvePath(name);
  if (mkdir(path.c_str(), 0777) == 0) return SetLastError(ERROR_SUCCESS), true;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
  return FailErrno();
}

bool DeleteFile(std::string_view name) {
  const std::string path = ResolvePath(name);
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return Fail(errno == ENOENT ? NotFoundError(path) : WindowsErrorFromErrno(errno));
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (S_ISREG(st.st_mode) && ReadOnlyMode(st)) return Fail(ERROR_ACCESS_DENIED);
  ExclusiveProbe probe;
  if (S_ISREG(st.st_mode) && !probe.Take(path)) return false;
  if (unlink(path.c_str()) != 0) return FailErrno();
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool MoveFile(std::string_view from, std::string_view to) {
  const std::string src = ResolvePath(from);
  std::string dst = ResolvePath(to);
  struct stat ss {}, ds {};
  if (lstat(src.c_str(), &ss) != 0) return Fail(errno == ENOENT ? NotFoundError(src) : WindowsErrorFromErrno(errno));
  if (lstat(dst.c_str(), &ds) == 0) {
    // A change of case only ("a.dat" -> "A.DAT") names the same file.
    if (ds.st_ino != ss.st_ino || ds.st_dev != ss.st_dev) return Fail(ERROR_ALREADY_EXISTS);
    std::string as_given(to);
    std::replace(as_given.begin(), as_given.end(), '\\', '/');
    dst = ParentOf(dst) + "/" + as_given.substr(as_given.find_last_of('/') + 1);
    if (dst == src) return SetLastError(ERROR_SUCCESS), true;
    if (lstat(dst.c_str(), &ds) == 0 && (ds.st_ino != ss.st_ino || ds.st_dev != ss.st_dev)) {
      return Fail(ERROR_ALREADY_EXISTS);
    }
  }
  ExclusiveProbe probe;
  if (S_ISREG(ss.st_mode) && !probe.Take(src)) return false;
  if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);  // the target's directory
    if (errno != EINVAL && errno != ENOSYS) return FailErrno();
    // The file system lacks RENAME_NOREPLACE: link refuses an existing name.
    if (S_ISDIR(ss.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (link(src.c_str(), dst.c_str()) != 0) {
      return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : WindowsErrorFromErrno(errno));
    }
    if (unlink(src.c_str()) != 0) {
      const int e = errno;
      unlink(dst.c_str());
      return Fail(WindowsErrorFromErrno(e));
    }
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool CopyFile(std::string_view from, std::string_view to, bool fail_if_exists) {
  File src;
  if (!src.Open(from, Access::Read, Share::ReadWrite, Disposition::OpenExisting)) return false;
  struct stat st {};
  if (stat(src.Path().c_str(), &st) != 0) return FailErrno();
  File dst;
  if (!dst.Open(to, Access::ReadWrite, Share::None,
                fail_if_exists ? Disposition::CreateNew : Disposition::CreateAlways)) {
    return false;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    std::uint32_t got = 0, put = 0;
    if (!src.Read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), &got)) return false;
    if (got == 0) break;
    if (!dst.Write(buffer.data(), got, &put)) return false;
  }
  const std::string dst_path = dst.Path();
  dst.Close();
  // Windows copies the attributes, the read-only one included.
  if (chmod(dst_path.c_str(), st.st_mode & 07777) != 0) return FailErrno();
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool GetReadOnly(std::string_view name, bool* read_only) {
  const std::string path = ResolvePath(name);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return Fail(errno == ENOENT ? NotFoundError(path) : WindowsErrorFromErrno(errno));
  *read_only = ReadOnlyMode(st);
  return true;
}

bool SetReadOnly(std::string_view name, bool read_only) {
  const std::string path = ResolvePath(name);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return Fail(errno == ENOENT ? NotFoundError(path) : WindowsErrorFromErrno(errno));
  mode_t mode = st.st_mode & 07777;
  mode = read_only ? (mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  if (chmod(path.c_str(), mode) != 0) return FailErrno();
  return true;
}

std::string GetCurrentDirectory() {
  std::vector<char> buf(PATH_MAX);
  while (getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

bool SetCurrentDirectory(std::string_view dir) {
  const std::string path = ResolvePath(dir);
  if (chdir(path.c_str()) != 0) {
    return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : WindowsErrorFromErrno(errno));
  }
  return true;
}

bool FlushDirectory(std::string_view dir) {
  const std::string path = ResolvePath(dir.empty() ? std::string_view(".") : dir);
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FailErrno();
  const bool ok = fsync(fd) == 0;
  const int e = errno;
  close(fd);
  if (!ok) return Fail(WindowsErrorFromErrno(e));
  return true;
}

// ---------------------------------------------------------------------------
// File

// The part of a file MapHead maps: its first page.
constexpr std::size_t kHeadPage = 4096;

struct File::Impl {
  Access access = Access::Read;
  bool read_only_fd = false;
  // Ranges this handle holds: offset -> length; never overlapping.
  std::map<std::uint64_t, std::uint64_t> locks;
  void* head = nullptr;  // MapHead's mapping of the first page, or null
};

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), impl_(other.impl_) {
  other.fd_ = -1;
  other.impl_ = nullptr;
  other.path_.clear();
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    impl_ = other.impl_;
    other.fd_ = -1;
    other.impl_ = nullptr;
    other.path_.clear();
  }
  return *this;
}

void File::Close() {
  if (impl_ != nullptr && impl_->head != nullptr) munmap(impl_->head, kHeadPage);
  if (fd_ >= 0) close(fd_);  // releases every OFD lock of this handle
  fd_ = -1;
  path_.clear();
  delete impl_;
  impl_ = nullptr;
}

const std::uint8_t* File::MapHead(std::size_t n) {
  if (fd_ < 0 || n > kHeadPage) return nullptr;
  if (impl_->head == nullptr) {
    struct stat st {};
    if (fstat(fd_, &st) != 0 || st.st_size < static_cast<off_t>(n)) return nullptr;
    void* p = mmap(nullptr, kHeadPage, PROT_READ, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) return nullptr;
    impl_->head = p;
  }
  return static_cast<const std::uint8_t*>(impl_->head);
}

FileView& FileView::operator=(FileView&& other) noexcept {
  if (this != &other) {
    Reset();
    std::swap(base_, other.base_);
    std::swap(mapped_, other.mapped_);
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }
  return *this;
}

void FileView::Reset() {
  if (base_ != nullptr) munmap(base_, mapped_);
  base_ = nullptr;
  mapped_ = 0;
  data_ = nullptr;
  size_ = 0;
}

bool File::MapView(std::uint64_t offset, std::size_t n, FileView& view) {
  view.Reset();
  if (fd_ < 0 || n == 0) return false;
  struct stat st {};
  if (fstat(fd_, &st) != 0 || st.st_size <= 0 || offset >= static_cast<std::uint64_t>(st.st_size))
    return false;
  const std::size_t size =
      static_cast<std::size_t>(std::min<std::uint64_t>(n, static_cast<std::uint64_t>(st.st_size) - offset));
  static const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t start = offset / page * page;
  const std::size_t skip = static_cast<std::size_t>(offset - start);
  void* p = mmap(nullptr, skip + size, PROT_READ, MAP_SHARED, fd_,
                 static_cast<off_t>(start));
  if (p == MAP_FAILED) return false;
  view.base_ = p;
  view.mapped_ = skip + size;
  view.data_ = static_cast<const std::uint8_t*>(p) + skip;
  view.size_ = size;
  return true;
}

bool File::Open(std::string_view name, Access access, Share share, Disposition disposition) {
  Close();
  const std::string path = ResolvePath(name);
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  std::uint32_t error = ERROR_SHARING_VIOLATION;
  // A delete or rename racing with us makes us start over; a few rounds.
  for (int attempt = 0; attempt < 8; ++attempt) {
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (!exists && errno != ENOENT) return FailErrno();
    if (!exists && disposition == Disposition::OpenExisting) return Fail(NotFoundError(path));
    if (exists && disposition == Disposition::CreateNew) return Fail(ERROR_FILE_EXISTS);
    if (exists && ReadOnlyMode(st) &&
        (access == Access::ReadWrite || disposition != Disposition::OpenExisting)) {
      return Fail(ERROR_ACCESS_DENIED);
    }

    int fd = -1;
    bool created = false, read_only_fd = false;
    if (!exists) {
      fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
      if (fd < 0 && errno == EEXIST) {
        if (disposition == Disposition::CreateNew) return Fail(ERROR_FILE_EXISTS);
        continue;  // somebody created it just now
      }
      if (fd < 0) return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : WindowsErrorFromErrno(errno));
      created = true;
    } else {
      const bool prefer_ro = access == Access::Read && disposition == Disposition::OpenExisting &&
                             g_prefer_read_only_fds;
      if (!prefer_ro) fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
      if (fd < 0 && (prefer_ro || errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY) &&
          access == Access::Read && disposition == Disposition::OpenExisting) {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        read_only_fd = true;
      }
      if (fd < 0 && errno == ENOENT) continue;  // deleted just now
      if (fd < 0) return FailErrno();
    }

    struct stat fst {};
    if (fstat(fd, &fst) != 0 || S_ISDIR(fst.st_mode) ||
        (ReadOnlyMode(fst) && access == Access::ReadWrite && !created)) {
      close(fd);
      return Fail(ERROR_ACCESS_DENIED);
    }
    // CreateAlways replaces the contents: nobody else may have it open.
    const bool truncate = disposition == Disposition::CreateAlways && !created;
    const int e = AcquireShare(fd, read_only_fd, share == Share::None || truncate);
    if (e != 0) {
      close(fd);
      return Fail(IsConflict(e) ? ERROR_SHARING_VIOLATION : WindowsErrorFromErrno(e));
    }
    struct stat now {};
    if (stat(path.c_str(), &now) != 0 || now.st_ino != fst.st_ino || now.st_dev != fst.st_dev) {
      close(fd);  // the name moved on while we were opening
      error = ERROR_FILE_NOT_FOUND;
      continue;
    }
    if (truncate) {
      // An empty file is left alone: a truncation to zero, even of nothing,
      // makes some file systems (ext4's replace-by-truncate rule) write the
      // file's data out at close.
      if (now.st_size != 0 && ftruncate(fd, 0) != 0) {
        const int te = errno;
        close(fd);
        return Fail(WindowsErrorFromErrno(te));
      }
      if (share == Share::ReadWrite) OfdLock(fd, F_RDLCK, kOpenByte, 1);  // back to shared
    }
    fd_ = fd;
    path_ = path;
    impl_ = new Impl;
    impl_->access = access;
    impl_->read_only_fd = read_only_fd;
    // As CreateFile: success on an existing file under CreateAlways says so.
    SetLastError(truncate ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return true;
  }
  return Fail(error);
}

bool File::Read(void* buffer, std::uint32_t count, std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  auto* p = static_cast<char*>(buffer);
  return TransferAll([&](std::uint32_t moved) { return read(fd_, p + moved, count - moved); }, count, done, true);
}

bool File::Write(const void* buffer, std::uint32_t count, std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (impl_->access != Access::ReadWrite) return Fail(ERROR_ACCESS_DENIED);
  const auto* p = static_cast<const char*>(buffer);
  return TransferAll([&](std::uint32_t moved) { return write(fd_, p + moved, count - moved); }, count, done, false);
}

bool File::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  auto* p = static_cast<char*>(buffer);
  return TransferAll(
      [&](std::uint32_t moved) { return pread(fd_, p + moved, count - moved, static_cast<off_t>(offset + moved)); },
      count, done, true);
}

bool File::WriteAt(std::uint64_t offset, const void* buffer, std::uint32_t count,
                   std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (impl_->access != Access::ReadWrite) return Fail(ERROR_ACCESS_DENIED);
  const auto* p = static_cast<const char*>(buffer);
  return TransferAll(
      [&](std::uint32_t moved) { return pwrite(fd_, p + moved, count - moved, static_cast<off_t>(offset + moved)); },
      count, done, false);
}

std::int64_t File::Seek(std::int64_t offset, int origin) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE), -1;
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return Fail(ERROR_INVALID_PARAMETER), -1;
  const off_t pos = lseek(fd_, static_cast<off_t>(offset), kWhence[origin]);
  if (pos < 0) return Fail(errno == EINVAL ? ERROR_NEGATIVE_SEEK : WindowsErrorFromErrno(errno)), -1;
  return pos;
}

bool File::SetEndOfFile() {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (impl_->access != Access::ReadWrite) return Fail(ERROR_ACCESS_DENIED);
  const off_t pos = lseek(fd_, 0, SEEK_CUR);
  if (pos < 0 || ftruncate(fd_, pos) != 0) return FailErrno();
  return true;
}

bool File::SetSize(std::uint64_t size) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (impl_->access != Access::ReadWrite) return Fail(ERROR_ACCESS_DENIED);
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) return FailErrno();
  return true;
}

// A read handle has nothing to flush; that is not an error here.
bool File::Flush() {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (impl_->access != Access::ReadWrite) return true;
  if (fdatasync(fd_) != 0) return FailErrno();
  return true;
}

std::int64_t File::Size() {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE), -1;
  struct stat st {};
  if (fstat(fd_, &st) != 0) return FailErrno(), -1;
  return st.st_size;
}

bool File::LockFile(std::uint64_t offset, std::uint64_t length) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (offset >= kReservedLockBase || length > kReservedLockBase - offset) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // An empty range would be "to the end of the file" for the kernel.
  if (length == 0) return Fail(ERROR_INVALID_PARAMETER);
  auto& locks = impl_->locks;
  // Overlap with a range this handle holds: the next one starting at or
  // after offset, or the one before it.
  auto next = locks.lower_bound(offset);
  if (next != locks.end() && next->first < offset + length) return Fail(ERROR_LOCK_VIOLATION);
  if (next != locks.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second > offset) return Fail(ERROR_LOCK_VIOLATION);
  }
  const int e = LockExclusive(fd_, impl_->read_only_fd, static_cast<off_t>(offset),
                              static_cast<off_t>(length));
  if (e != 0) return Fail(IsConflict(e) ? ERROR_LOCK_VIOLATION : WindowsErrorFromErrno(e));
  locks.emplace_hint(next, offset, length);
  return true;
}

bool File::UnlockFile(std::uint64_t offset, std::uint64_t length) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  auto it = impl_->locks.find(offset);
  if (it == impl_->locks.end() || it->second != length) return Fail(ERROR_NOT_LOCKED);
  if (int e = OfdLock(fd_, F_UNLCK, static_cast<off_t>(offset), static_cast<off_t>(length))) {
    return Fail(WindowsErrorFromErrno(e));
  }
  impl_->locks.erase(it);
  return true;
}

}  // namespace platform
