// The name routines and the file names of a table.
#include "storage/table_names.h"

#include <gtest/gtest.h>

#include <string>

namespace storage {
namespace {

TEST(TableNames, NameRoutines) {
  struct Case {
    const char* in;
    const char* no_ext;
    const char* table;
    const char* with_slash;
    bool has_dir;
  };
  const Case cases[] = {
      {"C:\\DIR.X\\FILE", "C:\\DIR.X\\FILE", "FILE", "C:\\DIR.X\\FILE\\", true},
      {"C:\\DIR\\FILE.DAT", "C:\\DIR\\FILE", "FILE", "C:\\DIR\\FILE.DAT\\", true},
      {"type1.dat", "type1", "type1", "type1.dat\\", false},
      {"a.b.c", "a.b", "a.b", "a.b.c\\", false},
      {"C:name.dat", "C:name", "name", "C:name.dat\\", true},
      {"dir\\", "dir\\", "", "dir\\", true},
      {"", "", "", "", true},
      {".dat", "", "", ".dat\\", false},
      // '/' separates like '\\'.
      {"/home/u/data/type1.dat", "/home/u/data/type1", "type1", "/home/u/data/type1.dat\\", true},
      {"/home/u.v/data", "/home/u.v/data", "data", "/home/u.v/data\\", true},
      {"/home/u/", "/home/u/", "", "/home/u/", true},
      {"/", "/", "", "/", true},
      {"/home\\data.x/t", "/home\\data.x/t", "t", "/home\\data.x/t\\", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RemoveFileExt(c.in), c.no_ext) << c.in;
    EXPECT_EQ(ExtractTableName(c.in), c.table) << c.in;
    EXPECT_EQ(IncludeTrailingBackslash(c.in), c.with_slash) << c.in;
    EXPECT_EQ(HasDirectoryPart(c.in), c.has_dir) << c.in;
  }
  EXPECT_EQ(IncludeTrailingBackslash("  C:\\data  "), "C:\\data\\");
  EXPECT_EQ(IncludeTrailingBackslash("   "), "");
  EXPECT_EQ(IncludeTrailingBackslash("\tdata\\\r\n"), "data\\");
  // The name is cut to 255 characters before the extension goes.
  std::string long_name = "C:\\" + std::string(300, 'n') + ".dat";
  EXPECT_EQ(ExtractTableName(long_name), std::string(255, 'n'));
  std::string near = "X:" + std::string(252, 'n') + ".dat";  // 256 chars after ':'
  EXPECT_EQ(ExtractTableName(near), std::string(252, 'n'));
}

// Each file keeps an extension of its own kind in any case, replaces any
// other (the last one after the last separator) and appends one to a name
// without; blanks around the name go.
TEST(TableNames, FileNamesGetTheirExtension) {
  struct Case {
    const char* name;
    std::string_view extension;
    const char* want;
  };
  const Case cases[] = {
      {"T", kDataExtension, "T.DAT"},          {"  t.dat ", kDataExtension, "t.dat"},
      {"t.Idx", kDataExtension, "t.DAT"},      {"t.Idx", kIndexExtension, "t.Idx"},
      {"a.b.c", kBlobExtension, "a.b.BLB"},    {"/d.x/t", kBlobExtension, "/d.x/t.BLB"},
      {"C:t.blb", kBlobExtension, "C:t.blb"},  {"d\\t.", kIndexExtension, "d\\t.IDX"},
  };
  for (const Case& c : cases) EXPECT_EQ(TableFileName(c.name, c.extension), c.want) << c.name;
}

}  // namespace
}  // namespace storage
