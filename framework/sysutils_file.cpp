// File routines of the class framework, on the platform's file services.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cmath>

#include "framework/sysutils.h"
#include "platform/file.h"

namespace fw {

bool FileExists(const std::string& name) { return platform::FileExists(name); }
bool FileAge(const std::string& name, TDateTime& age) {
  struct stat st;
  if (::stat(platform::ResolvePath(name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  time_t secs = st.st_mtim.tv_sec;
  struct tm lt;
  if (!localtime_r(&secs, &lt)) return false;
  age = EncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) +
        EncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec > 59 ? 59 : lt.tm_sec, 0);
  return true;
}

bool FileSetDate(const std::string& name, TDateTime date) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(date, y, mo, d);
  DecodeTime(date, h, mi, s, ms);
  if (y == 0) return false;
  struct tm lt = {};
  lt.tm_year = y - 1900;
  lt.tm_mon = mo - 1;
  lt.tm_mday = d;
  lt.tm_hour = h;
  lt.tm_min = mi;
  lt.tm_sec = s;
  lt.tm_isdst = -1;
  time_t t = mktime(&lt);
  if (t == static_cast<time_t>(-1)) return false;
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = t;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, platform::ResolvePath(name).c_str(), times, 0) == 0;
}

bool DirectoryExists(const std::string& name) { return platform::DirectoryExists(name); }
bool DeleteFile(const std::string& name) { return platform::DeleteFile(name); }
bool RenameFile(const std::string& from, const std::string& to) { return platform::MoveFile(from, to); }

std::string NativeFileName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace fw
