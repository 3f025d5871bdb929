// The index file: model-based tests of the B+-trees and the index cursor
// (random inserts and deletes against a std::multiset, then walks,
// positions, key and prefix searches and ranges; every file read by the
// independent checker tests/tools/idxcheck.py), the tree's structure, the
// header bytes, definitions, the change counter, repairs of descriptors,
// and damaged files refused with an engine error, one row per damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "storage/index_file.h"
#include "storage/key_encoding.h"
#include "storage/scrambler.h"
#include "tests/storage/data_file_test_support.h"

namespace storage {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 2;
#else
constexpr int kScale = 1;
#endif

using Key = std::vector<std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;
using datatest::CodeOf;

Bytes ReadAll(const std::string& path) {
  const std::string s = testsupport::ReadFile(path);
  return {s.begin(), s.end()};
}
void WriteAll(const std::string& path, const Bytes& b) { testsupport::WriteFile(path, std::string(b.begin(), b.end())); }
std::uint32_t U32(const Bytes& b, std::size_t o) { return LoadLittle<std::uint32_t>(&b[o]); }
std::uint16_t U16(const Bytes& b, std::size_t o) { return LoadLittle<std::uint16_t>(&b[o]); }
void Put32(Bytes& b, std::size_t o, std::uint32_t v) { StoreLittle<std::uint32_t>(&b[o], v); }
void Put16(Bytes& b, std::size_t o, std::uint16_t v) { StoreLittle<std::uint16_t>(&b[o], v); }
// Byte `field` of the descriptor of index slot `slot` in the header.
constexpr std::size_t Desc(int slot, std::size_t field) { return 14 + 120 * slot + field; }

// Fields: 1 integer (4), 2 string (15), 3 BLOB, 4 string (255), 5 string
// (1029), 6 bytes (11), 7 small integer (2).
class TestOwner : public IndexFileOwner {
 public:
  std::string DataFileName() const override { return "TEST.DAT"; }
  platform::LCID LocaleId() const override { return locale; }
  bool Scrambled() const override { return scrambled; }
  void ScrambleBlock(std::span<std::uint8_t> block) const override {
    ScrambleBuffer(block.data(), static_cast<std::uint16_t>(block.size()), 0x5A, 0xC3);
  }
  bool InBatch() const override { return batch; }
  bool SuppressFirstKeyAtOpen() const override { return false; }
  bool KeyFieldInfo(std::uint16_t n, IndexFieldInfo& info) const override {
    static const IndexFieldInfo kFields[] = {{FieldType::kInteger, 4},  {FieldType::kString, 15},
                                             {FieldType::kBlob, 10},    {FieldType::kString, 255},
                                             {FieldType::kString, 1029}, {FieldType::kBytes, 11},
                                             {FieldType::kSmallInt, 2}};
    if (n < 1 || n > 7) return false;
    info = kFields[n - 1];
    return true;
  }
  void IndexChangedByOther() override {}

  platform::LCID locale = 0;
  bool scrambled = false, batch = false;
};

using datatest::Hex;

class IndexTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override {
    file_.reset();
    ShutdownEngine();
  }
  std::string Name() const { return scratch_.path() + "\\T.IDX"; }
  std::string Path() const { return scratch_ / "T.IDX"; }
  std::unique_ptr<TIndexFile> Make(bool exclusive) {
    auto f = std::make_unique<TIndexFile>(&owner_);
    f->SetFileName(Name());
    f->SetExclusive(exclusive);
    return f;
  }
  void Create() {
    file_ = Make(true);
    file_->CreateFile();
  }
  void Reopen() {
    file_->Close();
    file_->Open();
  }
  // A primary index on field 1 (or field f, key size k).
  void CreatePrimary(std::uint16_t k = 4, std::uint16_t f = 1) {
    Create();
    std::uint8_t desc[16] = {};
    std::uint16_t fields[16] = {f};
    file_->CreatePrimaryIndex(k, 1, desc, fields, false, false);
  }
  std::string Check(const std::string& extra = "", int status = 0) {
    const tooltest::ToolResult r = tooltest::RunTool("idxcheck.py", Path(), extra);
    EXPECT_EQ(r.status, status) << r.output;
    return r.output;
  }
  // Primary index on field 1 with n keys, a compressed secondary on the
  // string field 2 (key 1 + 15 + 4 record-ID bytes); closed.
  void MakeTable(int n) {
    CreatePrimary();
    std::uint8_t desc[16] = {};
    std::uint16_t sf[1] = {2};
    file_->AddIndex("ByName", 20, desc, sf, false, false, false, 1);
    for (int i = 1; i <= n; ++i) {
      file_->SelectIndex(0);
      auto k = EncodeIntegerKey(i);
      file_->InsertKey(k.data(), i);
      file_->SelectIndex(1);
      std::uint8_t s[20] = {1};
      std::snprintf(reinterpret_cast<char*>(s + 1), 15, "name%05d", i % 700);
      std::memcpy(s + 16, k.data(), 4);
      file_->InsertKey(s, i);
    }
    file_->Close();
  }

  testsupport::ScratchDir scratch_;
  TestOwner owner_;
  std::unique_ptr<TIndexFile> file_;
};

// ------------------------------------------------------------------ model harness

struct Config {
  const char* name;
  std::uint16_t key_size;
  bool primary;      // slot 0 (unique) or a secondary index
  bool unique;       // secondary only
  std::uint16_t field;  // first key field (decides compression with field count)
  int field_count;
  bool descending;
  int ops;
  int key_space;  // distinct key values drawn (small: many repeats)
};

struct Cmp {
  bool descending;
  bool operator()(const Key& a, const Key& b) const { return descending ? b < a : a < b; }
};

class Harness {
 public:
  Harness(IndexStore& f, const Config& c, std::uint32_t seed)
      : f_(f), c_(c), rng_(seed), model_(Cmp{c.descending}) {}

  // Key body: a stem from a small pool (shared prefixes) and a random tail;
  // non-unique indexes end in the record-ID key.
  Key MakeKey(std::uint32_t record) {
    const std::size_t body = c_.unique || c_.primary ? c_.key_size : c_.key_size - 4u;
    Key k(c_.key_size, 0);
    std::uint32_t v = rng_() % static_cast<std::uint32_t>(c_.key_space);
    std::mt19937 kr(v);
    std::size_t stem = body > 2 ? kr() % body : 0;
    for (std::size_t i = 0; i < body; ++i) {
      if (i < stem) k[i] = static_cast<std::uint8_t>('A' + (kr() % 3 == 0 ? kr() % 4 : 0));
      else k[i] = static_cast<std::uint8_t>(kr());
    }
    if (body < c_.key_size) {
      auto rid = EncodeIntegerKey(static_cast<std::int32_t>(record));
      std::memcpy(&k[body], rid.data(), 4);
    }
    return k;
  }

  // A random key of the pool, taken out of it.
  Key Take() {
    const std::size_t i = rng_() % pool_.size();
    Key k = pool_[i];
    pool_[i] = pool_.back();
    pool_.pop_back();
    return k;
  }

  void Step() {
    if (pool_.empty() || rng_() % 100 < 60) {
      const std::uint32_t rec = ++next_record_;
      const Key k = MakeKey(rec);
      // Present already: the unique check refuses it.
      const int code = CodeOf([&] { f_.CheckUniqueKey(k.data()); });
      EXPECT_EQ(code, model_.count(k) && (c_.primary || c_.unique) ? 9729 : 0);
      if (model_.count(k)) return;
      f_.InsertKey(k.data(), rec);
      model_[k] = rec;
      pool_.push_back(k);
    } else if (rng_() % 20 == 0) {
      const Key k = MakeKey(++next_record_);
      if (!model_.count(k)) {
        EXPECT_EQ(CodeOf([&] { f_.DeleteKey(k.data()); }), 8708);
      }
    } else if (rng_() % 10 == 0) {
      // Replace: delete and insert under a new key of the same record.
      const Key k = Take();
      const std::uint32_t rec = model_[k];
      Key n = MakeKey(rec);
      if (model_.count(n)) n = k;
      f_.ReplaceKey(k.data(), n.data(), rec);
      model_.erase(k);
      model_[n] = rec;
      pool_.push_back(n);
    } else {
      const Key k = Take();
      f_.DeleteKey(k.data());
      model_.erase(k);
    }
  }

  // Deletes random keys until only `keep` remain.
  void Drain(std::size_t keep) {
    while (pool_.size() > keep) {
      const Key k = Take();
      f_.DeleteKey(k.data());
      model_.erase(k);
    }
  }

  std::vector<Key> Sorted() const {
    std::vector<Key> out;
    for (const auto& e : model_) out.push_back(e.first);
    return out;
  }
  Key Cur() const {
    auto c = f_.CurrentKey();
    return {c.begin(), c.end()};
  }

  // Walks, positions, searches and ranges against the model.
  void Verify() {
    const std::vector<Key> keys = Sorted();
    const std::size_t n = keys.size();
    f_.ClearRange();
    ASSERT_EQ(f_.KeyCount(), n);
    ASSERT_EQ(f_.RangeCount(), n);
    // Forward walk.
    bool ok = f_.FirstKey();
    ASSERT_EQ(ok, n > 0);
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(Cur(), keys[i]) << "at " << i;
      ASSERT_EQ(f_.GetCurrentRecordNumber(), model_.at(keys[i]));
      ASSERT_EQ(f_.GetLogicalPosition(), static_cast<std::int32_t>(i + 1));
      bool moved = f_.MoveBy(1);
      ASSERT_EQ(moved, i + 1 < n);
    }
    if (n == 0) {
      EXPECT_TRUE(f_.Bof() && f_.Eof());
      return;
    }
    EXPECT_TRUE(f_.Eof());
    // Backward walk by larger steps.
    ASSERT_TRUE(f_.LastKey());
    for (std::size_t i = n; i > 3; i -= 3) {
      ASSERT_TRUE(f_.MoveBy(-3));
      ASSERT_EQ(Cur(), keys[i - 4]);
    }
    EXPECT_FALSE(f_.MoveBy(-static_cast<int>(n) - 5));
    EXPECT_TRUE(f_.Bof());
    EXPECT_EQ(f_.GetLogicalPosition(), 1);
    // Positions by number.
    for (int t = 0; t < 50; ++t) {
      std::int32_t p = static_cast<std::int32_t>(rng_() % n) + 1;
      f_.SetLogicalPosition(p);
      ASSERT_EQ(Cur(), keys[p - 1]) << "position " << p;
      ASSERT_EQ(f_.GetLogicalPosition(), p);
    }
    Cmp less{c_.descending};
    // Exact and nearest searches, present and absent keys.
    for (int t = 0; t < 50; ++t) {
      Key probe = rng_() % 2 ? keys[rng_() % n] : MakeKey(rng_());
      auto lb = std::lower_bound(keys.begin(), keys.end(), probe, less);
      bool present = lb != keys.end() && *lb == probe;
      EXPECT_EQ(f_.SearchKey(probe.data()), present);
      f_.SetLogicalPosition(1);
      bool found = f_.FindKey(probe.data(), false, false);
      ASSERT_EQ(found, present);
      if (!present) {
        EXPECT_EQ(f_.GetLogicalPosition(), 1) << "a failed search moved the cursor";
      }
      found = f_.FindKey(probe.data(), true, false);
      ASSERT_EQ(found, present);
      if (lb == keys.end()) {
        ASSERT_EQ(Cur(), keys.back());
        EXPECT_TRUE(f_.Eof());
      } else {
        ASSERT_EQ(Cur(), *lb);
        EXPECT_EQ(f_.GetLogicalPosition(), lb - keys.begin() + 1);
      }
      // Prefix search on the first half of the key.
      std::size_t plen = c_.key_size / 2 + 1;
      auto plb = std::find_if(keys.begin(), keys.end(), [&](const Key& k) {
        return !less(Key(k.begin(), k.begin() + plen), Key(probe.begin(), probe.begin() + plen));
      });
      bool phit = plb != keys.end() && std::equal(probe.begin(), probe.begin() + plen, plb->begin());
      ASSERT_EQ(f_.FindKeyPrefix(probe.data(), plen), phit);
      if (phit) {
        ASSERT_EQ(Cur(), *plb);
      }
    }
    // Ranges.
    for (int t = 0; t < 20; ++t) {
      Key a = rng_() % 3 ? keys[rng_() % n] : MakeKey(rng_());
      Key b = rng_() % 3 ? keys[rng_() % n] : MakeKey(rng_());
      f_.SetRangeStart(a.data());
      f_.SetRangeEnd(b.data());
      f_.ActivateRange();
      f_.SetRangeBounds();
      auto lo = std::lower_bound(keys.begin(), keys.end(), a, less);
      auto hi = std::upper_bound(keys.begin(), keys.end(), b, less);
      std::size_t expect = less(b, a) || hi <= lo ? 0 : static_cast<std::size_t>(hi - lo);
      ASSERT_EQ(f_.RangeCount(), expect);
      bool first = f_.FirstKey();
      ASSERT_EQ(first, expect > 0);
      std::size_t walked = 0;
      if (first) {
        do {
          ASSERT_EQ(Cur(), *(lo + walked));
          ++walked;
          ASSERT_EQ(f_.GetLogicalPosition(), static_cast<std::int32_t>(walked));
        } while (f_.MoveBy(1));
        EXPECT_TRUE(f_.Eof());
        ASSERT_TRUE(f_.LastKey());
        ASSERT_EQ(Cur(), *(hi - 1));
        // A key before the range lands on its first record.
        if (lo != keys.begin()) {
          EXPECT_FALSE(f_.FindKey(keys.front().data(), true, false));
          ASSERT_EQ(Cur(), *lo);
        }
      } else {
        EXPECT_TRUE(f_.Bof() && f_.Eof());
      }
      ASSERT_EQ(walked, expect);
    }
    f_.ClearRange();
  }

  std::size_t Size() const { return model_.size(); }
  std::vector<std::pair<std::string, std::uint32_t>> Dump() const {
    std::vector<std::pair<std::string, std::uint32_t>> out;
    for (const auto& [k, rec] : model_) out.emplace_back(Hex(k), rec);
    return out;
  }

 private:
  IndexStore& f_;
  Config c_;
  std::mt19937 rng_;
  std::map<Key, std::uint32_t, Cmp> model_;  // key -> record
  std::vector<Key> pool_;
  std::uint32_t next_record_ = 0;
};

class RandomTree : public IndexTest, public ::testing::WithParamInterface<Config> {};

TEST_P(RandomTree, MatchesModelAndChecker) {
  const Config& c = GetParam();
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t fields[16] = {c.field, 6, 6, 6};
  if (c.primary) {
    file_->CreatePrimaryIndex(c.key_size, c.field_count, desc, fields, false, c.descending);
  } else {
    std::uint16_t pf[1] = {1};
    file_->CreatePrimaryIndex(4, 1, desc, pf, false, false);
    file_->AddIndex("Second", c.key_size, desc, fields, c.unique, false, c.descending,
                    c.field_count);
  }
  const int slot = c.primary ? 0 : 1;
  Harness h(*file_, c, 12345u + c.key_size);
  const int ops = c.ops / kScale;
  for (int i = 1; i <= ops; ++i) {
    h.Step();
    if (i % (ops / 6) == 0) {
      h.Verify();
      if (::testing::Test::HasFatalFailure()) return;
      if (i % (ops / 3) == 0) {
        // Through the file: every cached page written and read back.
        Reopen();
        file_->SelectIndex(slot);
        file_->ClearRange();
        h.Verify();
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
  // Most keys go: merges, borrowing and free lists.
  h.Drain(h.Size() / 10);
  h.Verify();
  if (::testing::Test::HasFatalFailure()) return;
  file_->Close();
  // The checker's key list is the model's.
  EXPECT_EQ(datatest::IndexDump(Path(), slot), h.Dump());
}

INSTANTIATE_TEST_SUITE_P(
    Storage, RandomTree,
    ::testing::Values(
        // name, key size, primary, unique, first field, field count, descending, ops, key space
        Config{"int4", 4, true, true, 1, 1, false, 120000, 60000},
        Config{"int4desc", 4, true, true, 1, 1, true, 40000, 20000},
        Config{"str16nonunique", 16, false, false, 2, 1, false, 120000, 3000},
        Config{"multi16unique", 16, false, true, 1, 2, false, 60000, 40000},
        Config{"str256nonunique", 256, false, false, 4, 1, false, 30000, 500},
        Config{"bytes256unique", 256, true, true, 6, 1, true, 20000, 15000},
        Config{"max1034", 1034, true, true, 6, 1, false, 6000, 4000},
        Config{"max1034compressed", 1034, false, false, 5, 1, false, 6000, 300}),
    [](const ::testing::TestParamInfo<Config>& i) { return std::string(i.param.name); });

// ------------------------------------------------------------------ structure

// In a compressed leaf of a non-unique index whose keys differ only in the
// record ID, every entry after the first takes at most 2 + 4 + 4 bytes.
// The inline bytewise key comparison orders as memcmp for every length
// around its word sizes, with the first difference anywhere (the tail word
// overlaps the one before it) or none.
TEST(KeyBytes, CompareAsMemcmp) {
  std::mt19937 rng(3);
  for (std::size_t n = 0; n <= 26; ++n) {
    for (int round = 0; round < 300; ++round) {
      std::vector<std::uint8_t> a(n), b(n);
      for (auto& x : a) x = static_cast<std::uint8_t>(rng());
      b = a;
      if (n > 0 && round % 5 != 0) {
        const std::size_t at = rng() % n;
        b[at] = static_cast<std::uint8_t>(rng());
        for (std::size_t i = at + 1; i < n; ++i) b[i] = static_cast<std::uint8_t>(rng());
      }
      const int m = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
      ASSERT_EQ(CompareKeyBytes(a.data(), b.data(), n), (m > 0) - (m < 0)) << "length " << n;
    }
  }
}

TEST_F(IndexTest, CompressedEqualKeysTakeTenBytes) {
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t pf[1] = {1};
  file_->CreatePrimaryIndex(4, 1, desc, pf, false, false);
  std::uint16_t sf[1] = {4};
  file_->AddIndex("Name", 260, desc, sf, false, false, false, 1);
  ASSERT_TRUE(file_->GetDescriptorCopy(1).Compressed);
  Key k(260, 'x');
  const int n = 300;
  for (int i = 1; i <= n; ++i) {
    auto rid = EncodeIntegerKey(i);
    std::memcpy(&k[256], rid.data(), 4);
    file_->InsertKey(k.data(), i);
  }
  {
    const PagePin root = file_->GetPage(file_->RootPage());
    EXPECT_TRUE(root->IsLeaf()) << "300 equal names fit one compressed page";
    EXPECT_LE(root->BytesUsed(), 2u + 260 + 4 + (n - 1) * 10u);
  }
  file_->Close();
  Check();
}

// Cache: far more pages than the 31 cached, without and with a batch.
TEST_F(IndexTest, CacheEvictsOutsideABatchAndGrowsInside) {
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t fields[16] = {6};
  file_->CreatePrimaryIndex(256, 1, desc, fields, false, false);
  file_->SetPageBudget(0);  // each list keeps to its 31 pages
  std::mt19937 rng(7);
  std::set<Key> model;
  auto insert = [&] {
    for (int i = 0; i < 4000 / kScale; ++i) {
      Key k(256);
      for (auto& b : k) b = static_cast<std::uint8_t>(rng());
      file_->InsertKey(k.data(), i + 1);
      model.insert(k);
    }
  };
  insert();
  EXPECT_LE(file_->CachedPageCount(), 40u);
  owner_.batch = true;
  insert();
  EXPECT_GT(file_->CachedPageCount(), 100u);
  owner_.batch = false;
  file_->FlushIndexFile();
  file_->ShrinkPageLists();
  EXPECT_LE(file_->CachedPageCount(), 40u);
  EXPECT_EQ(file_->KeyCount(), model.size());
  file_->Close();
  Check();
}

// With every cached page pinned by someone else, a split cascade still
// completes: the cache grows instead of failing half-way.
TEST_F(IndexTest, SplitCascadeWithAPinnedCache) {
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t fields[16] = {6};
  file_->CreatePrimaryIndex(1034, 1, desc, fields, false, false);
  auto key = [](int i) {
    Key k(1034, 0);
    k[0] = 1;
    k[1] = static_cast<std::uint8_t>(i >> 8);
    k[2] = static_cast<std::uint8_t>(i);
    return k;
  };
  for (int i = 0; i < 400; i += 2) file_->InsertKey(key(i).data(), i + 1);
  file_->FlushIndexFile();
  std::vector<PagePin> held;
  for (std::uint32_t off = kIndexBlockSize; held.size() < 31 && off < file_->EndOffset();
       off += kIndexBlockSize) {
    held.push_back(file_->GetPage(off));
  }
  ASSERT_EQ(held.size(), 31u);
  for (int i = 1; i < 400; i += 2) file_->InsertKey(key(i).data(), i + 1);
  held.clear();
  EXPECT_EQ(file_->KeyCount(), 400u);
  file_->Close();
  Check();
}

// A scrambled table: the file bytes differ, the trees read back the same.
TEST_F(IndexTest, ScrambledFileRoundTrips) {
  owner_.scrambled = true;
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t fields[16] = {1};
  file_->CreatePrimaryIndex(4, 1, desc, fields, false, false);
  for (int i = 0; i < 2000; ++i) {
    auto k = EncodeIntegerKey(i * 7);
    file_->InsertKey(k.data(), i + 1);
  }
  file_->Close();
  // Plain, the checker sees no version 3; with the start pair, a sound tree.
  Check("", 1);
  Check("--scramble 0x5A 0xC3");
  file_->Open();
  EXPECT_EQ(file_->KeyCount(), 2000u);
  auto k = EncodeIntegerKey(700);
  EXPECT_TRUE(file_->FindKey(k.data(), false, false));
  EXPECT_EQ(file_->GetCurrentRecordNumber(), 101u);
  EXPECT_EQ(file_->GetLogicalPosition(), 101);
}

// With a locale, string parts follow the locale's sort; without, bytes.
TEST_F(IndexTest, LocaleOrdersStringParts) {
  for (platform::LCID loc : {platform::LCID{0}, platform::kLocaleEnglishUS}) {
    owner_.locale = loc;
    Create();
    std::uint8_t desc[16] = {};
    std::uint16_t fields[16] = {2};
    file_->CreatePrimaryIndex(16, 1, desc, fields, false, false);
    auto key = [](const char* s) {
      Key k(16, 0);
      k[0] = 1;
      std::memcpy(&k[1], s, std::strlen(s));
      return k;
    };
    Key abc = key("abc"), abd = key("abd"), b = key("b"), B = key("B");
    EXPECT_LT(file_->CompareKeys(abc.data(), abd.data(), 16), 0);
    EXPECT_LT(file_->CompareKeys(abd.data(), b.data(), 16), 0);
    // Bytewise 'B' (0x42) sorts before 'a'; the locale puts it after "abd".
    EXPECT_EQ(file_->CompareKeys(B.data(), abd.data(), 16), loc == 0 ? -1 : 1);
    file_->Close();
    file_.reset();
    std::filesystem::remove(Path());
  }
}

// ------------------------------------------------------------------ the file

// The new file byte for byte; each definition writes the header once more.
TEST_F(IndexTest, HeaderBytesAndCounter) {
  Create();
  file_->Close();
  Bytes expect(4096, 0);
  expect[0] = 1;  // one header write
  expect[8] = 3;
  Put32(expect, 9, 4096);
  expect[Desc(31, 0)] = 11;
  std::memcpy(&expect[Desc(31, 1)], "Sys Deleted", 11);
  Put16(expect, Desc(31, 31), 5);
  EXPECT_EQ(ReadAll(Path()), expect);
  file_->Open();
  std::uint8_t desc[16] = {0, 1};
  std::uint16_t fields[16] = {1, 7};
  file_->CreatePrimaryIndex(7, 2, desc, fields, true, false);
  file_->AddIndex("Second", 8, desc, fields, false, false, true, 1);
  file_->Close();
  const Bytes b = ReadAll(Path());
  const std::pair<std::size_t, int> bytes[] = {
      {0, 3},              {13, 1},             // counter, secondary count
      {Desc(0, 0), 0},     {Desc(0, 31), 7},    // no name; key size
      {Desc(0, 34), 1},    {Desc(0, 35), 1},    // case-insensitive, unique
      {Desc(0, 36), 1},    {Desc(0, 37), 2},    // two fields: compressed
      {Desc(0, 39), 1},    {Desc(0, 56), 7},    // second field descending, its number
      {Desc(1, 0), 6},     {Desc(1, 33), 1},    // name length; descending
      {Desc(1, 35), 0},    {Desc(1, 36), 0},    // one non-string field, non-unique: not compressed
  };
  for (auto [at, value] : bytes) EXPECT_EQ(b[at], value) << "byte " << at;
}

TEST_F(IndexTest, DefinitionLimitsAreCheckedBeforeAnyWrite) {
  Create();
  std::uint8_t desc[17] = {};
  std::uint16_t one[16] = {1}, blob[16] = {3}, many[17];
  std::fill(std::begin(many), std::end(many), 1);
  const std::uint32_t counter = file_->Header().Counter();
  EXPECT_EQ(CodeOf([&] { file_->CreatePrimaryIndex(20, 17, desc, many, false, false); }), 9487);
  EXPECT_EQ(CodeOf([&] { file_->CreatePrimaryIndex(11, 1, desc, blob, false, false); }), 12292);
  EXPECT_EQ(file_->Header().Counter(), counter) << "a refused definition wrote the header";
  file_->CreatePrimaryIndex(5, 1, desc, one, false, false);
  EXPECT_EQ(CodeOf([&] { file_->CreatePrimaryIndex(5, 1, desc, one, false, false); }), 9993);
  const std::pair<std::function<void()>, int> bad[] = {
      {[&] { file_->AddIndex("  ", 8, desc, one, false, false, false, 1); }, 10010},
      {[&] { file_->AddIndex("1abc", 8, desc, one, false, false, false, 1); }, 10022},
      {[&] { file_->AddIndex("X2 ", 8, desc, one, false, false, false, 1); }, 10027},
      {[&] { file_->AddIndex("K", 2000, desc, one, false, false, false, 1); }, 10026},
      {[&] { file_->AddIndex("M", 80, desc, many, false, false, false, 16); }, 9487},
  };
  file_->AddIndex("x2", 8, desc, one, false, false, false, 1);
  for (const auto& [op, code] : bad) EXPECT_EQ(CodeOf(op), code);
  for (int i = 3; i <= 31; ++i) file_->AddIndex("X" + std::to_string(i), 8, desc, one, false, false, false, 1);
  EXPECT_EQ(file_->SecondaryIndexCount(), 30);
  EXPECT_EQ(CodeOf([&] { file_->AddIndex("Y", 8, desc, one, false, false, false, 1); }), 9487);
  file_->SelectIndexByName("x17");
  EXPECT_EQ(file_->CurrentIndex(), 16);
  file_->Close();
  auto g = Make(false);
  g->Open();
  EXPECT_EQ(CodeOf([&] { g->AddIndex("", 8, desc, one, false, false, false, 1); }), 10253);
}

// Emptying keeps the definitions and leaves no dirty page behind to come
// back.
TEST_F(IndexTest, EmptyingKeepsTheDefinitions) {
  MakeTable(100);
  file_ = Make(true);
  file_->Open();
  file_->InsertKey(EncodeIntegerKey(5000).data(), 5000);  // a dirty page
  file_->EmptyAllIndexes();
  file_->Close();
  const Bytes bytes = ReadAll(Path());
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(bytes[13], 1);
  EXPECT_EQ(U16(bytes, Desc(1, 31)), 20u);
  for (int slot : {0, 1, 31}) EXPECT_EQ(U32(bytes, Desc(slot, 86)), 0u);
  file_->Open();
  EXPECT_EQ(file_->KeyCount(), 0u);
  // Without a primary key slot 0 stays empty.
  file_->Close();
  Create();
  file_->CreatePrimaryIndex(0, 0, {}, {}, false, false);
  file_->Close();
  const Bytes none = ReadAll(Path());
  EXPECT_EQ(none[3978], 1);
  EXPECT_TRUE(std::all_of(none.begin() + Desc(0, 0), none.begin() + Desc(1, 0), [](auto x) { return x == 0; }));
}

TEST_F(IndexTest, VerifyIndexDescriptorsMendsAndLogs) {
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t f1[16] = {1}, f2[16] = {2}, f14[16] = {1, 7}, f4[16] = {7};
  file_->CreatePrimaryIndex(5, 1, desc, f1, false, false);
  file_->AddIndex("Name", 20, desc, f2, false, false, false, 1);
  file_->AddIndex("Other", 8, desc, f14, true, false, false, 2);
  file_->AddIndex("Third", 10, desc, f4, true, false, false, 1);
  file_->AddIndex("Fourth", 5, desc, f1, true, false, false, 1);
  TIndexDescriptor d, d4;
  d.SetName("name");
  d.FieldNumbers[0] = 1;
  d.FieldNumbers[1] = 99;
  d.FieldNumbers[2] = 7;
  file_->ReplaceIndexDescriptor(2, d);
  d4.SetName("9lives");
  d4.FieldNumbers[0] = 1;
  file_->ReplaceIndexDescriptor(4, d4);
  std::vector<std::string> log;
  file_->VerifyIndexDescriptors([&](const std::string& line) { log.push_back(line); });
  EXPECT_EQ(log, (std::vector<std::string>{
                     "Invalid field number 99 in secondary index name, field removed",
                     "Duplicate index name for secondary index name, error fixed - added underscore",
                     "Invalid key size of 10 for secondary index Third, error fixed",
                     "Invalid index name for secondary index 9lives, error fixed - added underscore"}));
  const TIndexDescriptor two = file_->GetDescriptorCopy(2);
  EXPECT_EQ(two.NameText(), "_name");
  EXPECT_EQ(two.FieldCount, 2);
  EXPECT_EQ(static_cast<int>(two.FieldNumbers[1]), 7);
  EXPECT_EQ(static_cast<int>(file_->GetDescriptorCopy(3).KeySize), 3);
}

// ------------------------------------------------------------------ damaged files

// Opens the file and walks every index in every way; the engine code raised
// (0 when none).
int OpenAndWalk(TIndexFile& f) {
  return CodeOf([&] {
    f.Open();
    for (int slot : {0, 1, 31}) {
      f.SelectIndex(slot);
      f.ClearRange();
      const std::uint32_t n = f.RangeCount();
      if (f.FirstKey())
        for (std::uint32_t i = 0; i <= n && f.MoveBy(1); ++i) {
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

TEST_F(IndexTest, DamagedFilesAreRefused) {
  MakeTable(3000);
  const Bytes good = ReadAll(Path());
  const std::uint32_t root0 = U32(good, Desc(0, 86)), root1 = U32(good, Desc(1, 86)), end = U32(good, 9);
  ASSERT_EQ(good.size(), end);
  ASSERT_EQ(good[root0], 0) << "a two-level primary tree";
  const std::uint32_t leaf0 = U32(good, root0 + 13 + 4);  // its first child
  const std::uint32_t leaf1 = U32(good, root1 + 13 + 20);
  // Patches: (offset, value, width); width 0 cuts the file at the offset.
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    int width, code;  // -1: 0 or 8965
  } cases[] = {
      {"empty file", 0, 0, 0, 9221},
      {"truncated header", 100, 0, 0, 9221},
      {"file cut after the header", 4096, 0, 0, 8965},
      {"file cut mid-page", end - 100, 0, 0, 8965},
      {"version 2", 8, 2, 1, 12035},
      {"version 4", 8, 4, 1, 12035},
      {"end offset not a block", 9, 4097, 4, 8965},
      {"end offset 0", 9, 0, 4, 8965},
      {"end offset huge", 9, 0xFFFFF000u, 4, 8965},
      {"end offset past the file", 9, 0x70000000u, 4, 8965},
      {"31 secondary indexes", 13, 31, 1, 8965},
      {"key size 0", Desc(0, 31), 0, 2, 8965},
      {"key size 1035", Desc(1, 31), 1035, 2, 8965},
      {"field count 17", Desc(1, 37), 17, 1, 8965},
      {"field count 0", Desc(0, 37), 0, 1, 8965},
      {"root inside a block", Desc(0, 86), 4100, 4, 8965},
      {"root past the end", Desc(0, 86), end + 8192, 4, 8965},
      {"root is a leaf's child", Desc(0, 86), leaf0, 4, 8965},
      {"root type 9", root0, 9, 1, 8965},
      {"root count absurd", root0 + 1, 60000, 2, 8965},
      {"leaf count absurd", leaf0 + 1, 1000, 2, 8965},
      {"child points at its parent", root0 + 13 + 4, root0, 4, 8965},
      {"child is 0", root0 + 13 + 4, 0, 4, 8965},
      {"leaf links to itself", leaf0 + 7, leaf0, 4, 8965},
      {"leaf link inside a block", leaf0 + 7, leaf0 + 3, 4, 8965},
      {"free list into the tree", Desc(0, 90), leaf0, 4, -1},
      {"compressed prefix over the key size", leaf1 + 13 + 26, 21, 2, 8965},
      {"compressed first prefix not 0", leaf1 + 13, 3, 2, 8965},
      {"compressed count absurd", leaf1 + 1, 4000, 2, 8965},
      {"compressed bytes used absurd", leaf1 + 11, 5000, 2, 8965},
      {"subtree count absurd", root0 + 13 + 8, 0xFFFFFFF0u, 4, -1},
  };
  auto damaged = [&](const auto& c) {
    Bytes b = good;
    if (c.width == 0) b.resize(c.at);
    for (int i = 0; i < c.width; ++i) b[c.at + i] = static_cast<std::uint8_t>(c.value >> (8 * i));
    return b;
  };
  for (bool exclusive : {false, true}) {
    for (const auto& c : cases) {
      WriteAll(Path(), damaged(c));
      const int code = OpenAndWalk(*Make(exclusive));
      EXPECT_TRUE(c.code == -1 ? code == 0 || code == 8965 : code == c.code)
          << c.what << (exclusive ? " (exclusive)" : " (shared)") << ": code " << code;
    }
    // A free list that loops on itself.
    Bytes b = good;
    Put32(b, Desc(0, 90), leaf0);
    Put32(b, leaf0 + 7, leaf0);
    WriteAll(Path(), b);
    EXPECT_EQ(OpenAndWalk(*Make(exclusive)), 8965) << "free list cycle";
  }
  WriteAll(Path(), good);
  EXPECT_EQ(OpenAndWalk(*Make(true)), 0);
}

}  // namespace
}  // namespace storage
