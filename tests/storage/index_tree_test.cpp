// Model-based tests of the index B+-trees and the index cursor: random
// inserts and deletes against a std::multiset, walks, positions, key and
// prefix searches and ranges; every file is then read by the independent
// checker tests/tools/idxcheck.py.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "storage/engine_error.h"
#include "storage/index_file.h"
#include "storage/key_encoding.h"
#include "storage/scrambler.h"
#include "storage/session.h"

namespace storage {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kScale = 2;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kScale = 2;
#else
constexpr int kScale = 1;
#endif
#else
constexpr int kScale = 1;
#endif

using Key = std::vector<std::uint8_t>;

int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETolmidEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

// Fields: 1 integer (4), 2 string (15), 3 BLOB, 4 string (255), 5 string
// (1029), 6 bytes (11).
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
    static const IndexFieldInfo kFields[] = {
        {FieldType::kInteger, 4}, {FieldType::kString, 15},   {FieldType::kBlob, 10},
        {FieldType::kString, 255}, {FieldType::kString, 1029}, {FieldType::kBytes, 11}};
    if (n < 1 || n > 6) return false;
    info = kFields[n - 1];
    return true;
  }
  void IndexChangedByOther() override { ++changed; }

  platform::LCID locale = 0;
  bool scrambled = false;
  bool batch = false;
  int changed = 0;
};

std::string RunChecker(const std::string& path, const std::string& extra, int* status) {
  std::string cmd = "python3 " + std::string(TOLMID_TOOLS_DIR) + "/idxcheck.py '" + path + "' " +
                    extra + " 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  int rc = pclose(p);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::string Hex(const Key& k) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (std::uint8_t b : k) {
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}

class IndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    char tmpl[] = "/tmp/storage_index_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    file_.reset();
    ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Name() const { return dir_ + "\\T.IDX"; }
  std::string Path() const { return dir_ + "/T.IDX"; }
  void Create() {
    file_ = std::make_unique<TIndexFile>(&owner_);
    file_->SetFileName(Name());
    file_->SetExclusive(true);
    file_->CreateFile();
  }
  void Reopen() {
    file_->Close();
    file_->Open();
  }
  void Check(const std::string& extra = "", std::string* out = nullptr) {
    int status = 0;
    std::string o = RunChecker(Path(), extra, &status);
    EXPECT_EQ(status, 0) << o;
    if (out) *out = o;
  }

  TestOwner owner_;
  std::string dir_;
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

  void Step() {
    const bool insert = pool_.empty() || rng_() % 100 < 60;
    if (insert) {
      std::uint32_t rec = ++next_record_;
      Key k = MakeKey(rec);
      if (model_.count(k)) {
        // Present already: the unique check refuses it.
        EXPECT_EQ(CodeOf([&] { f_.CheckUniqueKey(k.data()); }), c_.primary || c_.unique ? 9729 : 0);
        return;
      }
      f_.CheckUniqueKey(k.data());
      f_.InsertKey(k.data(), rec);
      model_.insert(k);
      records_[Hex(k)] = rec;
      pool_.push_back(k);
    } else if (rng_() % 20 == 0) {
      Key k = MakeKey(++next_record_);
      if (!model_.count(k)) {
        EXPECT_EQ(CodeOf([&] { f_.DeleteKey(k.data()); }), 8708);
      }
    } else {
      std::size_t i = rng_() % pool_.size();
      Key k = pool_[i];
      pool_[i] = pool_.back();
      pool_.pop_back();
      if (rng_() % 10 == 0) {
        // Replace: delete and insert under a new key of the same record.
        std::uint32_t rec = records_[Hex(k)];
        Key n = MakeKey(rec);
        if (model_.count(n)) n = k;
        f_.ReplaceKey(k.data(), n.data(), rec);
        model_.erase(model_.find(k));
        records_.erase(Hex(k));
        model_.insert(n);
        records_[Hex(n)] = rec;
        pool_.push_back(n);
        return;
      }
      f_.DeleteKey(k.data());
      model_.erase(model_.find(k));
      records_.erase(Hex(k));
    }
  }

  // Deletes random keys until only `keep` remain.
  void Drain(std::size_t keep) {
    while (pool_.size() > keep) {
      std::size_t i = rng_() % pool_.size();
      Key k = pool_[i];
      pool_[i] = pool_.back();
      pool_.pop_back();
      f_.DeleteKey(k.data());
      model_.erase(model_.find(k));
      records_.erase(Hex(k));
    }
  }

  std::vector<Key> Sorted() const { return {model_.begin(), model_.end()}; }

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
      auto cur = f_.CurrentKey();
      ASSERT_EQ(Key(cur.begin(), cur.end()), keys[i]) << "at " << i;
      ASSERT_EQ(f_.GetCurrentRecordNumber(), records_.at(Hex(keys[i])));
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
      auto cur = f_.CurrentKey();
      ASSERT_EQ(Key(cur.begin(), cur.end()), keys[i - 4]);
    }
    EXPECT_FALSE(f_.MoveBy(-static_cast<int>(n) - 5));
    EXPECT_TRUE(f_.Bof());
    EXPECT_EQ(f_.GetLogicalPosition(), 1);
    // Positions by number.
    for (int t = 0; t < 50; ++t) {
      std::int32_t p = static_cast<std::int32_t>(rng_() % n) + 1;
      f_.SetLogicalPosition(p);
      auto cur = f_.CurrentKey();
      ASSERT_EQ(Key(cur.begin(), cur.end()), keys[p - 1]) << "position " << p;
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
      auto cur = f_.CurrentKey();
      if (lb == keys.end()) {
        ASSERT_EQ(Key(cur.begin(), cur.end()), keys.back());
        EXPECT_TRUE(f_.Eof());
      } else {
        ASSERT_EQ(Key(cur.begin(), cur.end()), *lb);
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
        auto c2 = f_.CurrentKey();
        ASSERT_EQ(Key(c2.begin(), c2.end()), *plb);
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
          auto cur = f_.CurrentKey();
          ASSERT_EQ(Key(cur.begin(), cur.end()), *(lo + walked));
          ++walked;
          ASSERT_EQ(f_.GetLogicalPosition(), static_cast<std::int32_t>(walked));
        } while (f_.MoveBy(1));
        EXPECT_TRUE(f_.Eof());
        ASSERT_TRUE(f_.LastKey());
        auto cur = f_.CurrentKey();
        ASSERT_EQ(Key(cur.begin(), cur.end()), *(hi - 1));
        // A key before the range lands on its first record.
        if (lo != keys.begin()) {
          EXPECT_FALSE(f_.FindKey(keys.front().data(), true, false));
          auto c2 = f_.CurrentKey();
          ASSERT_EQ(Key(c2.begin(), c2.end()), *lo);
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
    for (const Key& k : model_) out.emplace_back(Hex(k), records_.at(Hex(k)));
    return out;
  }

 private:
  IndexStore& f_;
  Config c_;
  std::mt19937 rng_;
  std::multiset<Key, Cmp> model_;
  std::map<std::string, std::uint32_t> records_;
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
  std::string out;
  Check("--dump " + std::to_string(slot), &out);
  // The checker's key list is the model's.
  std::istringstream in(out);
  std::string line;
  std::vector<std::pair<std::string, std::uint32_t>> dumped;
  while (std::getline(in, line)) {
    if (line.rfind("slot", 0) == 0 || line.rfind("ERROR", 0) == 0) {
      if (line.rfind("slot", 0) == 0) std::printf("  idxcheck: %s\n", line.c_str());
      continue;
    }
    auto sp = line.find(' ');
    dumped.emplace_back(line.substr(0, sp), static_cast<std::uint32_t>(std::stoul(line.substr(sp + 1))));
  }
  EXPECT_EQ(dumped, h.Dump());
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

// Sequential keys into an uncompressed leaf of capacity c: the split comes
// with key c + 1 and leaves c + 1 - (c + 1) div 2 on the left.
TEST_F(IndexTest, LeafSplitsAtCapacityPlusOne) {
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t fields[16] = {1};
  file_->CreatePrimaryIndex(5, 1, desc, fields, false, false);
  const int cap = LeafCapacity(5);
  for (int i = 0; i < cap; ++i) {
    std::uint8_t k[5] = {1, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
    file_->InsertKey(k, i + 1);
  }
  EXPECT_EQ(file_->EndOffset(), 2 * kIndexBlockSize);
  std::uint8_t k[5] = {1, 0, 0, 0xFF, 0xFF};
  file_->InsertKey(k, 9999);
  file_->FlushIndexFile();
  EXPECT_EQ(file_->EndOffset(), 4 * kIndexBlockSize);  // header, old root, right, new root
  PagePin root = file_->GetPage(file_->RootPage());
  ASSERT_EQ(root->Count(), 2);
  EXPECT_EQ(root->Type(), 0);
  EXPECT_EQ(root->SubCount(0), static_cast<std::uint32_t>(cap + 1 - (cap + 1) / 2));
  EXPECT_EQ(root->SubCount(1), static_cast<std::uint32_t>((cap + 1) / 2));
  root.reset();
  // A key smaller than all updates the first key of the leftmost path.
  std::uint8_t small[5] = {0, 0, 0, 0, 0};
  file_->InsertKey(small, 77);
  root = file_->GetPage(file_->RootPage());
  EXPECT_EQ(std::memcmp(root->Key(0), small, 5), 0);
  root.reset();
  // Deleting back down collapses the root and finally empties the index.
  file_->DeleteKey(small);
  file_->DeleteKey(k);
  for (int i = 0; i < cap; ++i) {
    std::uint8_t d[5] = {1, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
    file_->DeleteKey(d);
    if (i == cap / 2) {
      EXPECT_EQ(file_->GetPage(file_->RootPage())->Type(), 3) << "the root collapsed to a leaf";
    }
  }
  EXPECT_EQ(file_->RootPage(), 0u);
  EXPECT_FALSE(file_->FirstKey());
  file_->Close();
  Check();
}

// In a compressed leaf of a non-unique index whose keys differ only in the
// record ID, every entry after the first takes at most 2 + 4 + 4 bytes.
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
  for (int i = 0; i < 4000 / kScale; ++i) {
    Key k(256);
    for (auto& b : k) b = static_cast<std::uint8_t>(rng());
    file_->InsertKey(k.data(), i + 1);
    model.insert(k);
  }
  EXPECT_LE(file_->CachedPageCount(), 40u);
  owner_.batch = true;
  for (int i = 0; i < 4000 / kScale; ++i) {
    Key k(256);
    for (auto& b : k) b = static_cast<std::uint8_t>(rng());
    file_->InsertKey(k.data(), i + 1);
    model.insert(k);
  }
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
  int status = 0;
  RunChecker(Path(), "", &status);
  EXPECT_EQ(status, 1);
  Check("--scramble 0x5A 0xC3");
  file_->Open();
  EXPECT_EQ(file_->KeyCount(), 2000u);
  auto k = EncodeIntegerKey(700);
  EXPECT_TRUE(file_->FindKey(k.data(), false, false));
  EXPECT_EQ(file_->GetCurrentRecordNumber(), 101u);
  EXPECT_EQ(file_->GetLogicalPosition(), 101);
}

// Callback filters: walks and counts skip rejected records.
class EvenRecords : public IndexRecordFilter {
 public:
  bool Accept(std::uint32_t r) override { return r % 2 == 0; }
};

TEST_F(IndexTest, RecordFilterSkipsRejectedRecords) {
  Create();
  std::uint8_t desc[16] = {};
  std::uint16_t fields[16] = {1};
  file_->CreatePrimaryIndex(4, 1, desc, fields, false, false);
  for (int i = 1; i <= 1000; ++i) {
    auto k = EncodeIntegerKey(i);
    file_->InsertKey(k.data(), static_cast<std::uint32_t>(i));
  }
  EvenRecords even;
  file_->SetRecordFilter(&even);
  ASSERT_TRUE(file_->FirstKey());
  EXPECT_EQ(file_->GetCurrentRecordNumber(), 2u);
  int seen = 1;
  while (file_->MoveBy(1)) {
    EXPECT_EQ(file_->GetCurrentRecordNumber() % 2, 0u);
    ++seen;
  }
  EXPECT_EQ(seen, 500);
  EXPECT_EQ(file_->GetCurrentRecordNumber(), 1000u);
  auto k = EncodeIntegerKey(501);
  EXPECT_FALSE(file_->FindKey(k.data(), false, false));
  EXPECT_FALSE(file_->FindKey(k.data(), true, false));
  EXPECT_EQ(file_->GetCurrentRecordNumber(), 502u);
  ASSERT_TRUE(file_->LastKey());
  EXPECT_FALSE(file_->MoveBy(1));
  EXPECT_TRUE(file_->Eof());
  EXPECT_EQ(file_->GetCurrentRecordNumber(), 1000u);
  file_->SetRecordFilter(nullptr);
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

}  // namespace
}  // namespace storage
