// Writes that fail at any step leave nothing of themselves behind. A fault
// plan (storage/fault_injection.h) makes the n-th read, write, cache slot
// or page load of one insert, modify or delete fail, for n = 1, 2, ...
// until the call gets through. After each failure the table is closed and
// opened again: it must hold exactly the records it held before the call,
// keys and BLOB values included, and tests/tools/datcheck.py, idxcheck.py
// and blbcheck.py must find its three files sound. On every other step a
// second run instead repeats the call at once: it must then succeed, and
// the files hold the records after it (what a rollback leaves in the caches
// is fit to go on with).
//
// Shared tables write before the call ends, so their failed writes must be
// taken back out of the files; exclusive ones keep their changes in the
// caches until close, so a failed write must leave no trace there, also
// among the unwritten changes of the writes before it (each case begins
// with one, and one test fills a whole cache with them first).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>

#include "storage/blob_file.h"
#include "storage/fault_injection.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::AutoInc;
using datatest::Field;
using datatest::Index;
using Bytes = std::vector<std::uint8_t>;

constexpr int kName = 2;
constexpr int kNum = 3;
constexpr int kMemo = 4;
constexpr std::uint32_t kBlockSize = 64;  // memos of a few hundred bytes span many blocks

struct Row {
  std::string name;
  Bytes memo;
  bool operator==(const Row&) const = default;
};
void PrintTo(const Row& r, std::ostream* os) { *os << '"' << r.name << "\" + " << r.memo.size() << " bytes"; }
using Model = std::map<std::int32_t, Row>;  // by Num, the primary key

Bytes Memo(std::int32_t num, int version) {
  Bytes v(static_cast<std::size_t>((num * 37 + version * 101) % 320));
  for (std::size_t i = 0; i < v.size(); ++i) {
    v[i] = static_cast<std::uint8_t>(num * 7 + i + version);
  }
  return v;
}

Row MakeRow(std::int32_t num, int version = 0) {
  return {"name " + std::to_string((num * 7919) % 1009) + " v" + std::to_string(version),
          Memo(num, version)};
}

// Closes the memo value a write opened in r, whatever became of the write.
struct MemoCloser {
  TDataFile& t;
  Rec& r;
  ~MemoCloser() {
    if (t.IsBlobFieldOpen(false, kMemo, r.span()))
      static_cast<void>(t.CloseBlobField(false, kMemo, r.span()));
  }
};

void Insert(TDataFile& t, std::int32_t num, const Row& row) {
  Rec r(t);
  r.Str(kName, row.name).Num<std::int32_t>(kNum, num);
  MemoCloser closer{t, r};
  PutBlob(t, r, kMemo, row.memo);
  t.InsertRecord(r.span());
}

// The cursor on the record of num, read with its record lock (an edit).
Rec Find(TDataFile& t, std::int32_t num) {
  t.SwitchToIndex(0);
  Rec key(t);
  key.Num<std::int32_t>(kNum, num);
  EXPECT_TRUE(t.GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  Rec r(t);
  EXPECT_EQ(t.ReadCurrentRecord(r.span(), true), 0);
  return r;
}

// Gives the record of num a new name, key and memo.
void Modify(TDataFile& t, Rec& r, std::int32_t new_num, const Row& row) {
  r.Str(kName, row.name).Num<std::int32_t>(kNum, new_num);
  MemoCloser closer{t, r};
  PutBlob(t, r, kMemo, row.memo);
  t.ModifyRecord(r.span(), true);
}

// One write that may fail: prepare runs before the fault plan is armed,
// run under it; apply is the change run makes to the model.
struct Op {
  const char* name;
  std::function<void(TDataFile&, Model&, std::optional<Rec>&)> prepare;
  std::function<void(TDataFile&, std::optional<Rec>&)> run;
  std::function<void(Model&)> apply;
};

constexpr std::int32_t kNew = 5000;

const std::vector<Op>& Ops() {
  static const std::vector<Op> ops = {
      {"insert into a deleted slot", [](TDataFile&, Model&, std::optional<Rec>&) {},
       [](TDataFile& t, std::optional<Rec>&) { Insert(t, kNew, MakeRow(kNew)); },
       [](Model& m) { m[kNew] = MakeRow(kNew); }},
      {"insert at the end",
       [](TDataFile& t, Model& m, std::optional<Rec>&) {
         // Deleted slots are taken first: use them up.
         for (std::int32_t num = kNew + 1; t.NextFreeRecordNo() != t.Header().NextRecord(); ++num) {
           Insert(t, num, MakeRow(num));
           m[num] = MakeRow(num);
         }
       },
       [](TDataFile& t, std::optional<Rec>&) { Insert(t, kNew, MakeRow(kNew)); },
       [](Model& m) { m[kNew] = MakeRow(kNew); }},
      {"modify keys and memo",
       [](TDataFile& t, Model&, std::optional<Rec>& r) { r.emplace(Find(t, 40)); },
       [](TDataFile& t, std::optional<Rec>& r) { Modify(t, *r, kNew, MakeRow(40, 3)); },
       [](Model& m) {
         m.erase(40);
         m[kNew] = MakeRow(40, 3);
       }},
      {"delete", [](TDataFile& t, Model&, std::optional<Rec>& r) { r.emplace(Find(t, 41)); },
       [](TDataFile& t, std::optional<Rec>&) { t.DeleteRecord(); },
       [](Model& m) { m.erase(41); }},
  };
  return ops;
}

struct Kind {
  const char* name;
  FaultSite site;
  std::vector<int> codes;  // what the failed call may raise
};

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {"read", FaultSite::kRead, {9217}},
      {"write", FaultSite::kWrite, {9218}},
      {"full cache", FaultSite::kCacheSlot, {8962, 8963, 8965}},
      {"damaged page", FaultSite::kDamage, {8963, 8965}},
  };
  return kinds;
}

// The checker calls of the cases run so far, run in one batch per checker.
struct Checks {
  std::vector<std::vector<std::string>> dat, idx, blb;
  std::vector<std::string> what;
  std::vector<std::string> dirs;
};

class WriteFailureTest : public datatest::DataFileTestBase {
 protected:
  // Id auto-increment, Name string[250] (index ByName, not unique: large
  // keys, so the index has several levels), Num integer (primary key),
  // Memo BLOB. Records 1..count, with memos on every memo_every-th; every
  // 17th is deleted again (free slots and free BLOB blocks).
  void MakeTemplate(int count, int memo_every, std::uint32_t block_size = kBlockSize) {
    block_size_ = block_size;
    std::filesystem::create_directories(Path("tpl"));
    DataTableDefinition def =
        Definition({AutoInc(1, "Id"), Field(kName, "Name", FieldType::kString, 250),
                    Field(kNum, "Num", FieldType::kInteger),
                    Field(kMemo, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)},
                   {kNum});
    def.secondary = {Index("ByName", {kName})};
    def.blob_block_size = block_size;
    Create(Path("tpl/T"), def);
    model_.clear();
    auto t = OpenTable(Path("tpl/T"));
    for (int num = 1; num <= count; ++num) {
      Row row = MakeRow(num);
      if (num % memo_every != 0) row.memo.clear();
      Insert(*t, num, row);
      model_[num] = row;
    }
    for (int num = 17; num <= count; num += 17) {
      Find(*t, num);
      t->DeleteRecord();
      model_.erase(num);
    }
    t->Close();
  }

  std::string CopyTemplate(const std::string& name) {
    std::filesystem::create_directories(Path(name));
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      std::filesystem::copy_file(Path("tpl/T") + ext, Path(name) + "/T" + ext);
    }
    return Path(name) + "/T";
  }

  // Every record of the table at base, read in key order: its count, the
  // index by name as long and the record count of the header agree. Queues
  // the checkers of its three files.
  Model ReadAll(const std::string& base, const std::string& what) {
    SCOPED_TRACE(what);
    Model m;
    auto t = OpenTable(base);
    t->SwitchToIndex(0);
    EXPECT_EQ(t->MoveToBegin(), 0);
    std::vector<std::string> blb = {base + ".BLB", std::to_string(block_size_)};
    Rec r(*t);
    while (t->ReadNextRecord(r.span()) == 0) {
      std::uint32_t first = 0;
      bool blank = false;
      t->GetFieldValue(false, kMemo, blank, &first, r.span());
      if (first != 0) {
        blb.push_back(std::to_string(first) + ":" +
                      std::to_string(t->IndexFile().GetCurrentRecordNumber()));
      }
      const std::int32_t num = r.GetNum<std::int32_t>(kNum).value_or(-1);
      EXPECT_EQ(m.count(num), 0u) << "key " << num << " twice";
      m[num] = {r.GetStr(kName).value_or(""), GetBlob(*t, r, kMemo)};
    }
    EXPECT_EQ(t->RecordCount(), m.size());
    t->SwitchToIndexByName("ByName");
    EXPECT_EQ(t->MoveToBegin(), 0);
    std::size_t by_name = 0;
    while (t->ReadNextRecord(r.span()) == 0) ++by_name;
    EXPECT_EQ(by_name, m.size());
    t->Close();
    checks_.dat.push_back({base + ".DAT"});
    checks_.idx.push_back({base + ".IDX"});
    checks_.blb.push_back(blb);
    checks_.what.push_back(what);
    checks_.dirs.push_back(std::filesystem::path(base).parent_path());
    return m;
  }

  void Verify(const std::string& base, const Model& model, const std::string& what) {
    const Model got = ReadAll(base, what);
    EXPECT_EQ(got, model) << what;
  }

  void RunCheckers() {
    const struct {
      const char* tool;
      const std::vector<std::vector<std::string>>& calls;
    } tools[] = {{"datcheck.py", checks_.dat}, {"idxcheck.py", checks_.idx},
                 {"blbcheck.py", checks_.blb}};
    for (const auto& tool : tools) {
      const auto results = tooltest::RunToolBatch(tool.tool, tool.calls);
      for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].status, 0) << tool.tool << " " << checks_.what[i] << "\n"
                                        << results[i].output;
      }
    }
    std::error_code ec;
    for (const std::string& dir : checks_.dirs) std::filesystem::remove_all(dir, ec);
    checks_ = {};
  }

  // Runs op in a copy of the template, failing its n-th event of kind,
  // for n = 1, 2, ... until it gets through. before_op runs first on every
  // copy (changes left in the caches of an exclusive table). With repeat,
  // every other step also has the run that repeats the call at once.
  void FailEveryStep(const Op& op, const Kind& kind, bool exclusive,
                     const std::function<void(TDataFile&, Model&)>& before_op,
                     bool repeat = true) {
    const std::string group = std::string(exclusive ? "exclusive" : "shared") + ", " + op.name +
                              ", " + kind.name;
    for (std::uint32_t n = 1;; ++n) {
      ASSERT_LT(n, 400u) << group << ": the call never got through";
      // Run 0 closes after the failure; run 1 (every other step) repeats
      // the call first.
      for (int again = 0; again < (repeat && n % 2 == 0 ? 2 : 1); ++again) {
        const std::string what = group + ", step " + std::to_string(n) + (again ? ", again" : "");
        const std::string base = CopyTemplate("c" + std::to_string(cases_++));
        Model before = model_;
        std::optional<Rec> rec;
        auto t = OpenTable(base, exclusive);
        before_op(*t, before);
        op.prepare(*t, before, rec);
        ArmFault(kind.site, n);
        const int code = datatest::CodeOf([&] { op.run(*t, rec); });
        const bool fired = FaultFired();
        DisarmFault();
        Model after = before;
        op.apply(after);
        if (!fired) {
          EXPECT_EQ(code, 0) << what;
          t->Close();
          Verify(base, after, what + " (got through)");
          return;
        }
        EXPECT_NE(std::find(kind.codes.begin(), kind.codes.end(), code), kind.codes.end())
            << what << ": raised " << code;
        EXPECT_FALSE(t->Failed()) << what;
        if (again != 0) {
          const int retry = datatest::CodeOf([&] { op.run(*t, rec); });
          EXPECT_EQ(retry, 0) << what;
          if (retry != 0) after = before;
        }
        t->Close();
        Verify(base, again != 0 ? after : before, what);
        if (HasFailure()) return;
      }
    }
  }

  Model model_;
  std::uint32_t block_size_ = kBlockSize;
  Checks checks_;
  int cases_ = 0;
};

TEST_F(WriteFailureTest, EveryStepOfEveryWriteCanFailAndLeavesTheTableAsItWas) {
  MakeTemplate(100, 1);
  // An earlier write: in an exclusive table it is still in the caches.
  auto earlier = [](TDataFile& t, Model& m) {
    Rec r = Find(t, 10);
    Modify(t, r, 10, MakeRow(10, 1));
    m[10] = MakeRow(10, 1);
  };
  for (bool exclusive : {true, false}) {
    for (const Op& op : Ops()) {
      for (const Kind& kind : Kinds()) FailEveryStep(op, kind, exclusive, earlier);
    }
    RunCheckers();
  }
}

TEST_F(WriteFailureTest, AWriteIntoACacheFullOfEarlierChangesFailsCleanly) {
  // An exclusive table whose record, page or block cache holds nothing but
  // unwritten changes of earlier writes: the failing insert must make room
  // by writing those, without writing anything of its own. 1024-byte
  // blocks: the block cache holds 255, one per memo.
  MakeTemplate(300, 1, 1024);
  struct Full {
    const char* name;
    std::function<bool(TDataFile&)> reached;
  };
  const int by_name = 1;
  const Full fulls[] = {
      {"records",
       [](TDataFile& t) {
         std::size_t dirty = 0;
         for (const TRecord* r : t.Cache().All()) dirty += r->modified ? 1 : 0;
         return dirty == t.Cache().Capacity();
       }},
      {"index pages",
       [&](TDataFile& t) {
         return t.IndexFile().ListPageCount(by_name) >= IndexStore::kInitialListCapacity &&
                t.IndexFile().CleanPageCount(by_name) == 0;
       }},
      {"BLOB blocks",
       [](TDataFile& t) { return t.BlobFile().DirtyBlockCount() >= t.BlobFile().CacheCapacity(); }},
  };
  const Op insert = {"insert", [](TDataFile&, Model&, std::optional<Rec>&) {},
                     [](TDataFile& t, std::optional<Rec>&) { Insert(t, kNew, MakeRow(kNew)); },
                     [](Model& m) { m[kNew] = MakeRow(kNew); }};
  for (const Full& full : fulls) {
    // Names after every other: these inserts touch only the right edge of
    // ByName, so the failing insert's pages there are not in the cache.
    auto earlier = [&](TDataFile& t, Model& m) {
      t.IndexFile().SetPageBudget(0);  // each index list keeps to its 31 pages
      for (std::int32_t num = 10000; !full.reached(t); ++num) {
        ASSERT_LT(num, 13000) << full.name << " never full";
        const Row row{"zz " + std::to_string(num), Memo(num, 0)};
        Insert(t, num, row);
        m[num] = row;
      }
    };
    SCOPED_TRACE(full.name);
    for (const Kind& kind : Kinds()) FailEveryStep(insert, kind, true, earlier, false);
    RunCheckers();
  }
}

TEST_F(WriteFailureTest, ATableWhoseFilesCannotBePutBackIsFailedUntilClosed) {
  MakeTemplate(40, 1);
  const std::string base = CopyTemplate("c");
  auto t = OpenTable(base, /*exclusive=*/false);
  // Every write fails from the first one of the insert's own flush on, the
  // writes that would put the files back included.
  ArmFault(FaultSite::kWrite, 1, /*sticky=*/true);
  EXPECT_EQ(datatest::CodeOf([&] { Insert(*t, kNew, MakeRow(kNew)); }), 9218);
  DisarmFault();
  ASSERT_TRUE(t->Failed());
  Rec r(*t);
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"MoveToBegin", [&] { static_cast<void>(t->MoveToBegin()); }},
      {"ReadNextRecord", [&] { static_cast<void>(t->ReadNextRecord(r.span())); }},
      {"InsertRecord", [&] { Insert(*t, kNew + 1, MakeRow(kNew + 1)); }},
      {"DeleteRecord", [&] { t->DeleteRecord(); }},
      {"LockTable", [&] { t->LockTable(); }},
      {"ResetTableCaches", [&] { t->ResetTableCaches(false); }},
  };
  for (const auto& [name, call] : calls) EXPECT_EQ(datatest::CodeOf(call), 9218) << name;
  // Nothing more reaches the files, not even at close.
  const auto dat = ReadBytes(base + ".DAT");
  const auto idx = ReadBytes(base + ".IDX");
  const auto blb = ReadBytes(base + ".BLB");
  t->Close();
  EXPECT_EQ(ReadBytes(base + ".DAT"), dat);
  EXPECT_EQ(ReadBytes(base + ".IDX"), idx);
  EXPECT_EQ(ReadBytes(base + ".BLB"), blb);
  // A repair makes the table sound again, with every record of before (and
  // at most what the torn write left of the new one).
  t->SetExclusive(true);
  t->RepairDataTable();
  Model got = ReadAll(base, "repaired");
  got.erase(kNew);
  EXPECT_EQ(got, model_);
  RunCheckers();
}

}  // namespace
}  // namespace storage::rectest
