// The file handler's kept position and size, the block and page caches'
// budgets, the caches' number map and the filter scan's raw-byte tests:
// each checked against a model or against the slower path it replaces.
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "storage/data_block_cache.h"
#include "storage/expression_node.h"
#include "storage/filter_engine.h"
#include "storage/number_map.h"
#include "storage/record_bitmap.h"
#include "tests/storage/data_file_test_support.h"
#include "tests/storage/record_test_support.h"

namespace storage {
namespace {

using datatest::CodeOf;
using datatest::Field;
using datatest::RunTool;
using rectest::Rec;

class IoCacheTest : public datatest::DataFileTestBase {
 protected:
  static std::int64_t DiskSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
  }
};

// Random writes, extensions, truncations and reads through one handle
// (exclusive: its size is cached; shared: asked for each time), with a
// second shared handle changing the file in between for the shared one.
TEST_F(IoCacheTest, PositionAndSizeFollowEveryChange) {
  for (bool exclusive : {true, false}) {
    SCOPED_TRACE(exclusive ? "exclusive" : "shared");
    const std::string path = Path(exclusive ? "x.bin" : "s.bin");
    {
      TFileHandler make;
      make.SetFileName(path);
      make.SetExclusive(true);
      make.CreateFile();
    }
    TFileHandler f;
    f.SetFileName(path);
    f.SetExclusive(exclusive);
    f.Open();
    TFileHandler other;
    if (!exclusive) {
      other.SetFileName(path);
      other.Open();
    }
    std::string model;
    std::mt19937 rng(21);
    for (int step = 0; step < 400; ++step) {
      const int kind = static_cast<int>(rng() % (exclusive ? 4 : 6));
      const std::int64_t at = static_cast<std::int64_t>(rng() % (model.size() + 3000));
      const std::string bytes(1 + rng() % 700, static_cast<char>('a' + step % 26));
      TFileHandler& h = kind >= 4 ? other : f;
      if (kind == 0 || kind == 4) {
        h.WriteAt(at, bytes.data(), static_cast<std::int32_t>(bytes.size()));
        if (model.size() < at + bytes.size()) model.resize(at + bytes.size(), '\0');
        model.replace(static_cast<std::size_t>(at), bytes.size(), bytes);
      } else if (kind == 1 || kind == 5) {
        h.WriteAt(at, nullptr, 0);
        model.resize(static_cast<std::size_t>(at), '\0');
      } else if (kind == 2) {
        std::string got(bytes.size(), '\0');
        const std::int32_t n = f.ReadAtMost(at, got.data(), static_cast<std::int32_t>(got.size()));
        const std::size_t left = at < static_cast<std::int64_t>(model.size())
                                     ? model.size() - static_cast<std::size_t>(at) : 0;
        ASSERT_EQ(n, static_cast<std::int32_t>(std::min(left, got.size()))) << step;
        if (n > 0) {
          EXPECT_EQ(got.substr(0, static_cast<std::size_t>(n)),
                    model.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(n)));
        }
        // Read and write go on from where the last one ended.
        EXPECT_EQ(f.Seek(0, 1), at + n);
      }
      ASSERT_EQ(f.GetFileSize(), static_cast<std::int64_t>(model.size())) << step;
      ASSERT_EQ(DiskSize(path), static_cast<std::int64_t>(model.size())) << step;
    }
    // A read past the end: the short count on an exclusive handle, 9217 on
    // a shared one; ReadAtMost gives the count either way.
    char buf[16];
    const std::int64_t end = f.GetFileSize();
    if (exclusive) {
      EXPECT_EQ(f.ReadAt(end - 4, buf, 16), 4);
    } else {
      EXPECT_EQ(CodeOf([&] { f.ReadAt(end - 4, buf, 16); }), 9217);
    }
    EXPECT_EQ(f.ReadAtMost(end - 4, buf, 16), 4);
    EXPECT_EQ(f.ReadAtMost(end + 100, buf, 16), 0);
    EXPECT_EQ(CodeOf([&] { f.Seek(-1, 0); }), 11047);
  }
}

// The block cache against the file it mirrors: a short last block serves
// only its bytes, a dropped range is read again, the block not used since
// the clock's hand last passed goes first.
TEST_F(IoCacheTest, BlockCacheServesOnlyWhatItHolds) {
  constexpr std::uint32_t B = DataBlockCache::kBlockSize;
  std::vector<std::uint8_t> file(3 * B + 100);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 31 + 7);
  DataBlockCache cache(3 * B);
  cache.Store(0, file.data(), file.size());  // four blocks into room for three
  EXPECT_EQ(cache.Count(), 3u);
  std::vector<std::uint8_t> out(2 * B);
  auto copy = [&](std::uint64_t at, std::size_t n) {
    if (!cache.Copy(at, out.data(), n)) return false;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n),
                           file.begin() + static_cast<std::ptrdiff_t>(at)));
    return true;
  };
  EXPECT_FALSE(copy(10, 20)) << "the first block was the least recently used";
  EXPECT_TRUE(copy(B + 10, B + 20));
  EXPECT_TRUE(copy(3 * B, 100));
  EXPECT_FALSE(copy(3 * B + 50, 51)) << "past the short block's bytes";
  cache.Drop(2 * B + 5, 1);
  EXPECT_FALSE(copy(2 * B, 10));
  EXPECT_TRUE(copy(B, 10));
  cache.Clear();
  EXPECT_FALSE(copy(B, 10));
}

// A budget follows the file up to its limit and never below the one given;
// a budget of 0 stays 0.
TEST_F(IoCacheTest, BlockCacheBudgetFollowsTheFile) {
  constexpr std::uint32_t B = DataBlockCache::kBlockSize;
  const struct {
    std::size_t base;
    std::uint64_t file;
    std::size_t blocks;
  } cases[] = {
      {8 * B, 2 * B, 8},
      {8 * B, 20 * B + 1, 20},
      {8 * B, std::uint64_t{1} << 40, DataBlockCache::kLargestBudgetBytes / B},
      {0, 20 * B, 0},
  };
  for (const auto& c : cases) {
    DataBlockCache cache(c.base);
    cache.FitFile(c.file);
    EXPECT_EQ(cache.Capacity(), c.blocks) << c.base << " " << c.file;
  }
}

// The number map of the record and page caches against std::map, with
// numbers as the caches use them (record numbers close together, page
// offsets in steps): erasing from the middle of a probe run must leave
// every later entry of the run reachable, across growths of the table.
TEST_F(IoCacheTest, NumberMapAgreesWithAModel) {
  std::mt19937 rng(11);
  NumberMap<int> map;
  std::map<std::uint32_t, int*> model;
  std::vector<int> values(64);
  for (int step = 0; step < 20000; ++step) {
    const std::uint32_t n = rng() % 3 == 0 ? 1 + rng() % 5000 : 1 + (rng() % 300) * 64;
    int* v = &values[rng() % values.size()];
    switch (rng() % 3) {
      case 0: {
        const auto it = model.find(n);
        ASSERT_EQ(map.Assign(n, v), it == model.end() ? nullptr : it->second);
        model[n] = v;
        break;
      }
      case 1:
        map.Erase(n);
        model.erase(n);
        break;
      default: {
        const auto it = model.find(n);
        ASSERT_EQ(map.Find(n), it == model.end() ? nullptr : it->second) << "step " << step;
      }
    }
    ASSERT_EQ(map.Size(), model.size());
    if (step % 4000 == 3999) {
      for (const auto& [k, p] : model) ASSERT_EQ(map.Find(k), p) << "number " << k;
    }
  }
  EXPECT_EQ(map.Find(0), nullptr);
  map.Clear();
  EXPECT_EQ(map.Find(model.begin()->first), nullptr);
}

// Key[i] and the text of record i.
std::string TextOf(int i) {
  std::string s = "n" + std::to_string((i * 7919) % 100003);
  s.resize(120, static_cast<char>('a' + i % 26));
  return s;
}

// The same inserts and deletes through a cache of 31 pages per index and
// through the default budget write the same bytes (the change counters
// and the data file's update time apart: a small cache writes its header
// more often), and the files pass
// the independent checkers.
TEST_F(IoCacheTest, PageBudgetChangesNoByteOfTheFiles) {
  DataTableDefinition def = Definition(
      {Field(1, "ID", FieldType::kInteger), Field(2, "Name", FieldType::kString, 120)});
  def.secondary = {datatest::Index("ByName", {2})};
  constexpr int kRecords = 4000;
  for (const char* name : {"small.dat", "budget.dat"}) {
    Create(Path(name), def);
    auto t = OpenTable(Path(name));
    const bool small = std::string(name) == "small.dat";
    if (small) t->IndexFile().SetPageBudget(0);
    std::size_t most = 0;
    for (int i = 1; i <= kRecords; ++i) {
      Rec r(*t);
      r.Num<std::int32_t>(1, (i * 613) % 7919).Str(2, TextOf(i));
      t->InsertRecord(r.span());
      most = std::max(most, t->IndexFile().CachedPageCount());
      if (i % 5 == 0) {
        Rec key(*t);
        key.Num<std::int32_t>(1, ((i - 2) * 613) % 7919);
        Rec out(*t);
        ASSERT_TRUE(t->GotoKey(false, key.span().data(), 0, false, 0, out.span()));
        t->DeleteRecord();
      }
    }
    if (small) {
      EXPECT_LE(most, 3u * IndexStore::kInitialListCapacity + 3);
    } else {
      EXPECT_GT(most, 3u * IndexStore::kInitialListCapacity + 3);
      EXPECT_LE(most, IndexStore::kDefaultPageBudget);
    }
    t->Close();
    const auto check = RunTool("tablecheck.py", Path(name));
    EXPECT_EQ(check.status, 0) << check.output;
  }
  for (const char* ext : {".dat", ".IDX"}) {
    auto a = ReadBytes(Path(std::string("small") + ext));
    auto b = ReadBytes(Path(std::string("budget") + ext));
    ASSERT_EQ(a.size(), b.size()) << ext;
    ASSERT_GT(a.size(), 4u);
    std::fill_n(a.begin(), 4, 0);
    std::fill_n(b.begin(), 4, 0);
    if (std::string(ext) == ".dat") {
      std::fill_n(a.begin() + kDhUpdateTime, 8, 0);
      std::fill_n(b.begin() + kDhUpdateTime, 8, 0);
    }
    const auto diff = std::mismatch(a.begin(), a.end(), b.begin());
    EXPECT_TRUE(diff.first == a.end()) << ext << " differs at " << (diff.first - a.begin());
  }
}

// The filter scan answers string (in)equality and partial compares from
// the record bytes; the same condition with its operands swapped goes
// through the evaluator. Both must pick the same records, with deleted
// records, null fields, records changed in the cache only and records only
// in the file.
TEST_F(IoCacheTest, RawStringTestsAnswerAsTheEvaluator) {
  Create(Path("f.dat"),
         Definition({Field(1, "ID", FieldType::kInteger), Field(2, "T", FieldType::kString, 10)}));
  auto t = OpenTable(Path("f.dat"));
  const std::optional<std::string> texts[] = {"abc", "ABC", "abd", "ab", "", std::nullopt,
                                              "abcdefghij", "Zz", "abc "};
  constexpr int kRecords = 3000;
  for (int i = 1; i <= kRecords; ++i) {
    Rec r(*t);
    r.Num<std::int32_t>(1, i).Str(2, texts[static_cast<std::size_t>(i * 7 % 9)]);
    t->InsertRecord(r.span());
    if (i == kRecords / 2) t->FlushTable(true);  // the first half on disk, the rest cached
  }
  for (int i = 7; i <= kRecords; i += 11) {
    Rec key(*t);
    key.Num<std::int32_t>(1, i);
    Rec out(*t);
    ASSERT_TRUE(t->GotoKey(false, key.span().data(), 0, false, 0, out.span()));
    t->DeleteRecord();
  }
  struct Case {
    NodeKind kind;
    ExprOperator op;
    const char* constant;
    std::uint8_t partial;
    bool case_insensitive;
  };
  const Case cases[] = {
      {NodeKind::kBinary, ExprOperator::kEqual, "abc", 0, false},
      {NodeKind::kBinary, ExprOperator::kNotEqual, "abc", 0, false},
      {NodeKind::kBinary, ExprOperator::kEqual, "", 0, false},
      {NodeKind::kBinary, ExprOperator::kEqual, "abc ", 0, false},
      {NodeKind::kStringCompare, ExprOperator::kEqual, "ab", 2, false},
      {NodeKind::kStringCompare, ExprOperator::kEqual, "AB", 2, true},
      {NodeKind::kStringCompare, ExprOperator::kNotEqual, "abc", 3, true},
      {NodeKind::kStringCompare, ExprOperator::kEqual, "abcdefghijk", 11, false},
  };
  auto passing = [&](ExpressionPtr tree) {
    std::int32_t h = 0;
    EXPECT_EQ(t->AddFilter(std::move(tree), false, h), ErrorCode::kNone);
    EXPECT_EQ(t->ActivateFilter(h), ErrorCode::kNone);
    std::vector<std::uint32_t> set;
    const RecordBitmap& result = t->Filters().Result();
    for (std::uint32_t r = result.NextSet(0); r != 0; r = result.NextSet(r)) set.push_back(r);
    EXPECT_EQ(t->DropFilter(h), ErrorCode::kNone);
    return set;
  };
  auto field = [&] {
    ExpressionPtr f = NewFieldNode("T");
    const auto found = t->Filters().FindFilterField("T");
    f->field_number = found->number;
    f->type = found->type;
    f->size = found->size;
    return f;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.constant) + " partial " + std::to_string(c.partial));
    auto make = [&](bool swapped) {
      ExpressionPtr n = NewNode(c.kind, c.op, "=");
      n->partial_length = c.partial;
      n->case_insensitive = c.case_insensitive ? 1 : 0;
      n->left = swapped ? NewStringConstant(c.constant) : field();
      n->right = swapped ? field() : NewStringConstant(c.constant);
      return n;
    };
    const auto raw = passing(make(false));
    const auto evaluated = passing(make(true));
    EXPECT_EQ(raw, evaluated);
    if (c.kind == NodeKind::kBinary && std::string(c.constant) == "abc") {
      // "abc" and "abc " (stored without its trailing blank): 2 of 9.
      const std::size_t live = kRecords - (kRecords - 7) / 11 - 1;
      EXPECT_NEAR(static_cast<double>(raw.size()),
                  c.op == ExprOperator::kEqual ? live * 2.0 / 9 : live * 7.0 / 9, 30.0);
    }
  }
  t->Close();
}

}  // namespace
}  // namespace storage
