// The index file's bytes, life and definitions, and damaged files: golden
// header bytes, definition limits, the change counter between two handles,
// emptying, and hostile files that must be refused with an engine error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/key_encoding.h"
#include "storage/session.h"

namespace storage {
namespace {

int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETolmidEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// Fields: 1 integer (4), 2 string (15), 3 BLOB, 4 16-bit integer (2).
class Owner : public IndexFileOwner {
 public:
  std::string DataFileName() const override { return "T.DAT"; }
  platform::LCID LocaleId() const override { return 0; }
  bool Scrambled() const override { return false; }
  void ScrambleBlock(std::span<std::uint8_t>) const override {}
  bool InBatch() const override { return false; }
  bool SuppressFirstKeyAtOpen() const override { return false; }
  bool KeyFieldInfo(std::uint16_t n, IndexFieldInfo& info) const override {
    static const IndexFieldInfo kFields[] = {{FieldType::kInteger, 4},
                                                   {FieldType::kString, 15},
                                                   {FieldType::kBlob, 10},
                                                   {FieldType::kSmallInt, 2}};
    if (n < 1 || n > 4) return false;
    info = kFields[n - 1];
    return true;
  }
  void IndexChangedByOther() override { ++changed; }
  int changed = 0;
};

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

using Bytes = std::vector<std::uint8_t>;
std::uint32_t U32(const Bytes& b, std::size_t o) { return LoadLittle<std::uint32_t>(&b[o]); }
std::uint16_t U16(const Bytes& b, std::size_t o) { return LoadLittle<std::uint16_t>(&b[o]); }
void Put32(Bytes& b, std::size_t o, std::uint32_t v) { StoreLittle<std::uint32_t>(&b[o], v); }
void Put16(Bytes& b, std::size_t o, std::uint16_t v) { StoreLittle<std::uint16_t>(&b[o], v); }
constexpr std::size_t Desc(int slot, std::size_t field) { return 14 + 120 * slot + field; }

class IndexFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    char tmpl[] = "/tmp/storage_idxfile_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Name() const { return dir_ + "\\T.IDX"; }
  std::string Path() const { return dir_ + "/T.IDX"; }
  std::unique_ptr<TIndexFile> Make(bool exclusive) {
    auto f = std::make_unique<TIndexFile>(&owner_);
    f->SetFileName(Name());
    f->SetExclusive(exclusive);
    return f;
  }
  // Primary index on field 1 with n keys, a compressed secondary on the
  // string field 2 (key 1 + 15 + 4 record-ID bytes).
  void MakeTable(int n) {
    auto f = Make(true);
    f->CreateFile();
    std::uint8_t desc[16] = {};
    std::uint16_t pf[1] = {1};
    f->CreatePrimaryIndex(4, 1, desc, pf, false, false);
    std::uint16_t sf[1] = {2};
    f->AddIndex("ByName", 20, desc, sf, false, false, false, 1);
    for (int i = 1; i <= n; ++i) {
      f->SelectIndex(0);
      auto k = EncodeIntegerKey(i);
      f->InsertKey(k.data(), i);
      f->SelectIndex(1);
      std::uint8_t s[20] = {1};
      std::snprintf(reinterpret_cast<char*>(s + 1), 15, "name%05d", i % 700);
      auto rid = EncodeIntegerKey(i);
      std::memcpy(s + 16, rid.data(), 4);
      f->InsertKey(s, i);
    }
    f->Close();
  }

  Owner owner_;
  std::string dir_;
};

TEST_F(IndexFileTest, NewFileGoldenBytesAndCounter) {
  auto f = Make(true);
  f->CreateFile();
  f->Close();
  auto b = ReadAll(Path());
  ASSERT_EQ(b.size(), 4096u);
  EXPECT_EQ(U32(b, 0), 1u) << "one header write";
  EXPECT_EQ(b[8], 3);
  EXPECT_EQ(U32(b, 9), 4096u);
  EXPECT_EQ(b[13], 0);
  EXPECT_EQ(b[Desc(31, 0)], 11);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[Desc(31, 1)]), 11), "Sys Deleted");
  EXPECT_EQ(U16(b, Desc(31, 31)), 5u);
  EXPECT_EQ(b[Desc(31, 36)], 0);
  EXPECT_EQ(U32(b, Desc(31, 86)), 0u);
  EXPECT_EQ(U32(b, 3974), 0u);
  // Everything else is zero.
  std::vector<std::uint8_t> expect(4096, 0);
  expect[0] = 1;
  expect[8] = 3;
  Put32(expect, 9, 4096);
  expect[Desc(31, 0)] = 11;
  std::memcpy(&expect[Desc(31, 1)], "Sys Deleted", 11);
  Put16(expect, Desc(31, 31), 5);
  EXPECT_EQ(b, expect);

  // Each definition writes the header once more.
  f->Open();
  std::uint8_t desc[16] = {0, 1};
  std::uint16_t fields[16] = {1, 4};
  f->CreatePrimaryIndex(7, 2, desc, fields, true, false);
  f->AddIndex("Second", 8, desc, fields, false, false, true, 1);
  f->Close();
  b = ReadAll(Path());
  EXPECT_EQ(U32(b, 0), 3u);
  EXPECT_EQ(U16(b, Desc(0, 31)), 7u);
  EXPECT_EQ(b[Desc(0, 0)], 0) << "primary index has no name";
  EXPECT_EQ(b[Desc(0, 34)], 1);  // case-insensitive
  EXPECT_EQ(b[Desc(0, 35)], 1);  // unique
  EXPECT_EQ(b[Desc(0, 36)], 1);  // two fields: compressed
  EXPECT_EQ(b[Desc(0, 37)], 2);
  EXPECT_EQ(b[Desc(0, 39)], 1);  // second field descending
  EXPECT_EQ(U16(b, Desc(0, 56)), 4u);
  EXPECT_EQ(b[13], 1);
  EXPECT_EQ(b[Desc(1, 0)], 6);
  EXPECT_EQ(b[Desc(1, 33)], 1);
  EXPECT_EQ(b[Desc(1, 35)], 0);
  EXPECT_EQ(b[Desc(1, 36)], 0) << "one non-string field, non-unique: not compressed";
}

TEST_F(IndexFileTest, NormalisesTheExtension) {
  TIndexFile f(&owner_);
  EXPECT_EQ(f.NormaliseFileName(" a\\b.dat "), "a\\b.IDX");
  EXPECT_EQ(f.NormaliseFileName("a.idx"), "a.idx");
  EXPECT_EQ(f.NormaliseFileName("dir.x\\name"), "dir.x\\name.IDX");
}

TEST_F(IndexFileTest, DefinitionLimitsAreCheckedBeforeAnyWrite) {
  auto f = Make(true);
  f->CreateFile();
  std::uint8_t desc[16] = {};
  std::uint16_t one[16] = {1};
  std::uint16_t blob[16] = {3};
  std::uint16_t many[17] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  std::uint8_t desc17[17] = {};
  struct Case {
    const char* what;
    std::function<void()> op;
    int code;
  };
  const std::uint32_t counter = f->Header().Counter();
  const Case bad_primary[] = {
      {"17 fields", [&] { f->CreatePrimaryIndex(20, 17, desc17, many, false, false); }, 9487},
      {"BLOB field", [&] { f->CreatePrimaryIndex(11, 1, desc, blob, false, false); }, 12292},
      {"key size", [&] { f->CreatePrimaryIndex(1035, 1, desc, one, false, false); }, 10026},
  };
  for (const Case& c : bad_primary) EXPECT_EQ(CodeOf(c.op), c.code) << c.what;
  EXPECT_EQ(f->Header().Counter(), counter) << "a refused definition wrote the header";
  f->CreatePrimaryIndex(5, 1, desc, one, false, false);
  EXPECT_EQ(CodeOf([&] { f->CreatePrimaryIndex(5, 1, desc, one, false, false); }), 9993);
  f->AddIndex("Name", 8, desc, one, false, false, false, 1);
  const Case bad_secondary[] = {
      {"empty name", [&] { f->AddIndex("  ", 8, desc, one, false, false, false, 1); }, 10010},
      {"digit first", [&] { f->AddIndex("1abc", 8, desc, one, false, false, false, 1); }, 10022},
      {"same name", [&] { f->AddIndex("NAME ", 8, desc, one, false, false, false, 1); }, 10027},
      {"BLOB field", [&] { f->AddIndex("B", 15, desc, blob, false, false, false, 1); }, 12292},
      {"key size", [&] { f->AddIndex("K", 2000, desc, one, false, false, false, 1); }, 10026},
      {"16 + 1 fields", [&] { f->AddIndex("M", 80, desc, many, false, false, false, 16); }, 9487},
  };
  for (const Case& c : bad_secondary) EXPECT_EQ(CodeOf(c.op), c.code) << c.what;
  for (int i = 2; i <= 30; ++i) {
    f->AddIndex("X" + std::to_string(i), 8, desc, one, false, false, false, 1);
  }
  EXPECT_EQ(f->SecondaryIndexCount(), 30);
  EXPECT_EQ(CodeOf([&] { f->AddIndex("Y", 8, desc, one, false, false, false, 1); }), 9487);
  f->SelectIndexByName("x17");
  EXPECT_EQ(f->CurrentIndex(), 17);
  f->SelectIndexByName("nothing");
  EXPECT_EQ(f->CurrentIndex(), 0);
  f->Close();
  // Not exclusive: 10253 before any other check.
  auto g = Make(false);
  g->Open();
  EXPECT_EQ(CodeOf([&] { g->AddIndex("", 8, desc, one, false, false, false, 1); }), 10253);
  g->Close();
}

// A table's definitions are judged whole, before any file exists.
TEST_F(IndexFileTest, DefinitionsCheckedBeforeCreation) {
  const IndexDefinition primary{"", 5, {1}};
  std::vector<IndexDefinition> ok;
  for (int i = 0; i < 30; ++i) ok.push_back({"I" + std::to_string(i), 5, {1}});
  EXPECT_EQ(CodeOf([&] { CheckIndexDefinitions(owner_, &primary, ok); }), 0);
  struct Case {
    const char* what;
    IndexDefinition primary;
    std::vector<IndexDefinition> secondary;
    int code;
  };
  const std::vector<std::uint16_t> sixteen(16, 1);
  const std::vector<Case> cases = {
      {"31 secondary", primary, [&] { auto v = ok; v.push_back({"J", 5, {1}}); return v; }(), 9487},
      {"17 fields with the primary", primary, {{"A", 80, sixteen}}, 9487},
      {"17 primary fields", {"", 90, std::vector<std::uint16_t>(17, 1)}, {}, 9487},
      {"BLOB primary", {"", 11, {3}}, {}, 12292},
      {"BLOB secondary", primary, {{"A", 11, {3}}}, 12292},
      {"key size", primary, {{"A", 1035, {2}}}, 10026},
      {"no name", primary, {{" ", 5, {1}}}, 10010},
      {"digit first", primary, {{"9a", 5, {1}}}, 10022},
      {"twice", primary, {{"Abc", 5, {1}}, {"ABC ", 5, {1}}}, 10027},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodeOf([&] { CheckIndexDefinitions(owner_, &c.primary, c.secondary); }), c.code)
        << c.what;
  }
  EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST_F(IndexFileTest, NoPrimaryKeyLeavesSlotZeroEmpty) {
  auto f = Make(true);
  f->CreateFile();
  f->CreatePrimaryIndex(0, 0, {}, {}, false, false);
  f->Close();
  auto b = ReadAll(Path());
  EXPECT_EQ(b[3978], 1);
  for (std::size_t i = Desc(0, 0); i < Desc(1, 0); ++i) ASSERT_EQ(b[i], 0) << i;
  f->Open();
  EXPECT_TRUE(f->NoPrimaryKey());
  EXPECT_FALSE(f->FirstKey());
}

// Another handle's writes raise the counter; the next check drops the
// cache and sees them.
TEST_F(IndexFileTest, ChangeCounterTellsOtherHandles) {
  MakeTable(100);
  auto a = Make(false);
  auto b = Make(false);
  a->Open();
  b->Open();
  EXPECT_FALSE(b->CheckIndexHeaderChanged());
  EXPECT_EQ(b->KeyCount(), 100u);
  for (int i = 101; i <= 150; ++i) {
    auto k = EncodeIntegerKey(i);
    a->InsertKey(k.data(), i);
  }
  a->FlushIndexFile();
  EXPECT_EQ(b->KeyCount(), 100u) << "cached";
  EXPECT_TRUE(b->CheckIndexHeaderChanged());
  EXPECT_EQ(owner_.changed, 1);
  EXPECT_EQ(b->KeyCount(), 150u);
  EXPECT_FALSE(b->CheckIndexHeaderChanged());
}

TEST_F(IndexFileTest, EmptyAllIndexesKeepsDefinitions) {
  MakeTable(3000);
  auto f = Make(true);
  f->Open();
  f->SelectIndex(1);
  ASSERT_TRUE(f->FirstKey());
  auto k = EncodeIntegerKey(5000);
  f->SelectIndex(0);
  f->InsertKey(k.data(), 5000);  // a dirty page that must not come back
  f->EmptyAllIndexes();
  f->Close();
  auto b = ReadAll(Path());
  ASSERT_EQ(b.size(), 4096u);
  EXPECT_EQ(U32(b, 9), 4096u);
  EXPECT_EQ(b[13], 1);
  EXPECT_EQ(b[Desc(1, 0)], 6);
  EXPECT_EQ(U16(b, Desc(1, 31)), 20u);
  for (int slot : {0, 1, 31}) EXPECT_EQ(U32(b, Desc(slot, 86)), 0u);
  f->Open();
  EXPECT_EQ(f->KeyCount(), 0u);
  f->InsertKey(k.data(), 1);
  EXPECT_EQ(f->KeyCount(), 1u);
}

TEST_F(IndexFileTest, VerifyIndexDescriptorsMendsAndLogs) {
  auto f = Make(true);
  f->CreateFile();
  std::uint8_t desc[16] = {};
  std::uint16_t f1[16] = {1};
  std::uint16_t f2[16] = {2};
  std::uint16_t f14[16] = {1, 4};
  std::uint16_t f4[16] = {4};
  f->CreatePrimaryIndex(5, 1, desc, f1, false, false);
  f->AddIndex("Name", 20, desc, f2, false, false, false, 1);
  f->AddIndex("Other", 8, desc, f14, true, false, false, 2);
  f->AddIndex("Third", 10, desc, f4, true, false, false, 1);
  f->AddIndex("Fourth", 5, desc, f1, true, false, false, 1);
  TIndexDescriptor d;
  d.SetName("name");
  d.FieldNumbers[0] = 1;
  d.FieldNumbers[1] = 99;
  d.FieldNumbers[2] = 4;
  f->ReplaceIndexDescriptor(2, d);
  TIndexDescriptor d4;
  d4.SetName("9lives");
  d4.FieldNumbers[0] = 1;
  f->ReplaceIndexDescriptor(4, d4);
  std::vector<std::string> log;
  f->VerifyIndexDescriptors([&](const std::string& line) { log.push_back(line); });
  const std::vector<std::string> expect = {
      "Invalid field number 99 in secondary index name, field removed",
      "Duplicate index name for secondary index name, error fixed - added underscore",
      "Invalid key size of 10 for secondary index Third, error fixed",
      "Invalid index name for secondary index 9lives, error fixed - added underscore",
  };
  EXPECT_EQ(log, expect);
  TIndexDescriptor two = f->GetDescriptorCopy(2);
  EXPECT_EQ(two.NameText(), "_name");
  EXPECT_EQ(two.FieldCount, 2);
  EXPECT_EQ(static_cast<int>(two.FieldNumbers[1]), 4);
  EXPECT_EQ(static_cast<int>(two.FieldNumbers[2]), 0);
  EXPECT_EQ(static_cast<int>(f->GetDescriptorCopy(3).KeySize), 3);
  EXPECT_EQ(f->GetDescriptorCopy(4).NameText(), "_9lives");
  EXPECT_EQ(f->GetDescriptorCopy(31).NameText(), "Sys Deleted");
}

TEST_F(IndexFileTest, RecordsInSequenceCountsPhysicalRuns) {
  auto f = Make(true);
  f->CreateFile();
  std::uint8_t desc[16] = {};
  std::uint16_t f1[16] = {1};
  f->CreatePrimaryIndex(4, 1, desc, f1, false, false);
  const std::uint32_t records[] = {1, 2, 3, 7, 8, 9, 10};
  for (int i = 0; i < 7; ++i) {
    auto k = EncodeIntegerKey(i);
    f->InsertKey(k.data(), records[i]);
  }
  ASSERT_TRUE(f->FirstKey());
  EXPECT_EQ(f->RecordsInSequence(5, true), 3);
  EXPECT_EQ(f->RecordsInSequence(2, true), 2);
  ASSERT_TRUE(f->LastKey());
  EXPECT_EQ(f->RecordsInSequence(9, false), 4);
}

// ------------------------------------------------------------------ damaged files

// Opens the file and walks every index in every way; the engine code raised
// (0 when none).
int OpenAndWalk(TIndexFile& f) {
  return CodeOf([&] {
    f.Open();
    const int slots[] = {0, 1, 31};
    for (int slot : slots) {
      if (slot == 1 && f.SecondaryIndexCount() < 1) continue;
      f.SelectIndex(slot);
      f.ClearRange();
      std::uint32_t n = f.RangeCount();
      if (f.FirstKey()) {
        for (std::uint32_t i = 0; i <= n && f.MoveBy(1); ++i) {
        }
      }
      f.LastKey();
      f.MoveBy(-3);
      f.SetLogicalPosition(static_cast<std::int32_t>(n / 2 + 1));
      std::vector<std::uint8_t> key(kKeyBufferSize, 0x41);
      f.FindKey(key.data(), true, false);
      (void)f.SearchKey(key.data());
      if (f.KeyCount() > 0) {
        f.InsertKey(key.data(), 1);
        f.DeleteKey(key.data());
      }
    }
    f.Close();
  });
}

TEST_F(IndexFileTest, DamagedFilesAreRefused) {
  MakeTable(3000);
  const auto good = ReadAll(Path());
  const std::uint32_t root0 = U32(good, Desc(0, 86));
  const std::uint32_t root1 = U32(good, Desc(1, 86));
  const std::uint32_t end = U32(good, 9);
  ASSERT_EQ(good.size(), end);
  ASSERT_EQ(good[root0], 0) << "a two-level primary tree";
  const std::uint32_t leaf0 = U32(good, root0 + 13 + 4);  // first child
  const std::uint32_t leaf1 = U32(good, root1 + 13 + 20);
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::vector<int> codes;  // any of these
  };
  const std::vector<Case> cases = {
      {"empty file", [](auto& b) { b.clear(); }, {9221}},
      {"truncated header", [](auto& b) { b.erase(b.begin() + 100, b.end()); }, {9221}},
      {"version 2", [](auto& b) { b[8] = 2; }, {12035}},
      {"version 4", [](auto& b) { b[8] = 4; }, {12035}},
      {"end offset not a block", [](auto& b) { Put32(b, 9, 4097); }, {8965}},
      {"end offset 0", [](auto& b) { Put32(b, 9, 0); }, {8965}},
      {"end offset huge", [](auto& b) { Put32(b, 9, 0xFFFFF000u); }, {8965}},
      {"end offset past the file", [](auto& b) { Put32(b, 9, 0x70000000u); }, {8965}},
      {"31 secondary indexes", [](auto& b) { b[13] = 31; }, {8965}},
      {"key size 0", [](auto& b) { Put16(b, Desc(0, 31), 0); }, {8965}},
      {"key size 1035", [](auto& b) { Put16(b, Desc(1, 31), 1035); }, {8965}},
      {"field count 17", [](auto& b) { b[Desc(1, 37)] = 17; }, {8965}},
      {"field count 0", [](auto& b) { b[Desc(0, 37)] = 0; }, {8965}},
      {"root inside a block", [](auto& b) { Put32(b, Desc(0, 86), 4100); }, {8965}},
      {"root past the end", [&](auto& b) { Put32(b, Desc(0, 86), end + 8192); }, {8965}},
      {"root is a leaf's child", [&](auto& b) { Put32(b, Desc(0, 86), leaf0); }, {8965}},
      {"file cut after the header", [](auto& b) { b.erase(b.begin() + 4096, b.end()); }, {8965}},
      {"file cut mid-page", [](auto& b) { b.erase(b.end() - 100, b.end()); }, {8965}},
      {"root type 9", [&](auto& b) { b[root0] = 9; }, {8965}},
      {"root count absurd", [&](auto& b) { Put16(b, root0 + 1, 60000); }, {8965}},
      {"leaf count absurd", [&](auto& b) { Put16(b, leaf0 + 1, 1000); }, {8965}},
      {"child points at its parent",
       [&](auto& b) { Put32(b, root0 + 13 + 4, root0); }, {8965}},
      {"child is 0", [&](auto& b) { Put32(b, root0 + 13 + 4, 0); }, {8965}},
      {"leaf links to itself", [&](auto& b) { Put32(b, leaf0 + 7, leaf0); }, {8965}},
      {"leaf link inside a block", [&](auto& b) { Put32(b, leaf0 + 7, leaf0 + 3); }, {8965}},
      {"free list cycle",
       [&](auto& b) {
         Put32(b, Desc(0, 90), leaf0);
         Put32(b, leaf0 + 7, leaf0);
       },
       {8965}},
      {"free list into the tree", [&](auto& b) { Put32(b, Desc(0, 90), leaf0); }, {0, 8965}},
      {"compressed prefix over the key size", [&](auto& b) { Put16(b, leaf1 + 13 + 26, 21); }, {8965}},
      {"compressed first prefix not 0", [&](auto& b) { Put16(b, leaf1 + 13, 3); }, {8965}},
      {"compressed count absurd", [&](auto& b) { Put16(b, leaf1 + 1, 4000); }, {8965}},
      {"compressed bytes used absurd", [&](auto& b) { Put16(b, leaf1 + 11, 5000); }, {8965}},
      {"subtree count absurd", [&](auto& b) { Put32(b, root0 + 13 + 8, 0xFFFFFFF0u); }, {0, 8965}},
  };
  for (bool exclusive : {false, true}) {
    for (const Case& c : cases) {
      auto bytes = good;
      c.damage(bytes);
      WriteAll(Path(), bytes);
      auto f = Make(exclusive);
      int code = OpenAndWalk(*f);
      EXPECT_TRUE(std::find(c.codes.begin(), c.codes.end(), code) != c.codes.end())
          << c.what << (exclusive ? " (exclusive)" : " (shared)") << ": code " << code;
    }
  }
  // And the undamaged file walks cleanly.
  WriteAll(Path(), good);
  auto f = Make(true);
  EXPECT_EQ(OpenAndWalk(*f), 0);
}

// Every byte of the header and of a leaf flipped in turn: no crash, and
// either a clean walk or an engine error.
TEST_F(IndexFileTest, ByteFlipsNeverCrash) {
  MakeTable(600);
  const auto good = ReadAll(Path());
  const std::uint32_t root1 = U32(good, Desc(1, 86));
  std::vector<std::size_t> spots;
  for (std::size_t i = 0; i < 4096; i += 7) spots.push_back(i);
  for (std::size_t i = 0; i < 200; ++i) spots.push_back(root1 + i);
  for (std::size_t at : spots) {
    auto bytes = good;
    bytes[at] ^= 0xA5;
    WriteAll(Path(), bytes);
    auto f = Make(true);
    int code = OpenAndWalk(*f);
    EXPECT_TRUE(code == 0 || code == 8965 || code == 9221 || code == 12035 || code == 8708 ||
                code == 9729)
        << "byte " << at << ": code " << code;
  }
}

}  // namespace
}  // namespace storage
