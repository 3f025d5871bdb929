// Filtered views while another program, or another cursor of this
// program, writes the table. A writer inserts, modifies and deletes at
// random; between its batches (a pipe sequences a writer process) the
// viewing cursor keeps one to three filters active and walks the view both
// ways, counts it and positions in it. Every answer must equal the same
// query over a plain scan of the table by a cursor without filters.
// Expression filters run with an index that answers them and without one;
// then callback filters; then a key range together with a filter.
//
// Writers: a second process; a second cursor of this process on a memory
// table; and the cursor a clone was made from, the clone (CloneCursor, which takes over
// the index, range and filters) being the viewing cursor, as a dataset's
// lookup cursor is. In one process every cursor has caches of its own, so
// the only news of a change is the files' change counters.
//
// The cursor is also left somewhere before each batch: before the first
// record, after the last, or on a record. Afterwards it must still be
// before the first or after the last of the new view, or stand on the
// first record of the view at or after the key it stood on (the record
// itself when it is still there and kept its key), never on a record the
// view does not show. Places in the view (ViewPlace, SetViewPlace, from
// the bitmaps' ranks) must agree with the walk after every batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "tests/storage/datafilter_test_support.h"
#include "tests/storage/lock_test_support.h"
#include "tests/storage/record_test_support.h"

namespace storage::filtertest {
namespace {

using rectest::Rec;
using locktest::Peer;
using Op = ExprOperator;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSteps = 40;
#else
constexpr int kSteps = 100;
#endif

// Id integer (primary key), N integer ("ByN", not unique), M small
// integer, S string[4]; M and S have no index.
enum Field : std::uint16_t { kFId = 1, kFN, kFM, kFS };

struct Rec2 {
  std::int32_t id = 0;
  std::optional<std::int32_t> n;
  std::optional<std::int16_t> m;
  std::optional<std::string> s;
  std::uint32_t record_id = 0;
  std::uint32_t recno = 0;
};

Rec2 Decode(const TDataFile& t, std::span<const std::byte> rec, std::uint32_t recno) {
  auto slot = [&](int k) { return t.GetFieldDescriptor(false, k).Slot(); };
  Rec2 r;
  r.id = GetFieldValue<std::int32_t>(rec, slot(kFId));
  if (FieldHasValue(rec, slot(kFN))) r.n = GetFieldValue<std::int32_t>(rec, slot(kFN));
  if (FieldHasValue(rec, slot(kFM))) r.m = GetFieldValue<std::int16_t>(rec, slot(kFM));
  if (FieldHasValue(rec, slot(kFS))) r.s = std::string(GetFieldString(rec, slot(kFS)));
  r.record_id = TDataFile::GetRecordID(rec);
  r.recno = recno;
  return r;
}

// A filter as the engine gets it and as the model tests a record. The
// engine's rules: an ordering comparison reads null as zero, = and <>
// take null as different from every value.
struct Filter {
  std::string what;
  std::function<ExpressionPtr(TDataFile&)> tree;  // empty: a callback
  int callback = 0;                               // 1 N odd, 2 Id not a multiple of 3
  std::function<bool(const Rec2&)> test;
};

// The callback filters' routine: client data is the kind.
bool CallbackRoutine(void* client, std::span<const std::byte> record, std::uint32_t) {
  // Record layout of this table: status, link, record ID, then Id (flag +
  // 4 bytes at 9), N (flag + 4 bytes at 14).
  const int kind = static_cast<int>(reinterpret_cast<std::intptr_t>(client));
  if (record.size() < 19) return false;
  if (kind == 1) {
    if (record[14] == std::byte{0}) return false;
    return LoadLittle<std::int32_t>(record.data() + 15) % 2 != 0;
  }
  return LoadLittle<std::int32_t>(record.data() + 10) % 3 != 0;
}

enum class Mode { kExpression, kCallback, kRange };

// One to three of these are active at a time; the callback filters only in
// the callback run.
std::vector<Filter> FilterPool(Mode mode) {
  auto n = [](const Rec2& r) { return r.n.value_or(0); };
  auto m = [](const Rec2& r) { return static_cast<int>(r.m.value_or(0)); };
  std::vector<Filter> pool;
  if (mode == Mode::kCallback) {
    pool.push_back({"callback N odd", {}, 1, [](const Rec2& r) { return r.n && *r.n % 2 != 0; }});
    pool.push_back({"callback Id not a multiple of 3", {}, 2, [](const Rec2& r) { return r.id % 3 != 0; }});
  }
  // Answered by "ByN".
  pool.push_back({"N >= 3",
                  [](TDataFile& t) { return Binary(Op::kGreaterEqual, FieldRef(t, "N"), NewIntegerConstant(3)); },
                  0, [=](const Rec2& r) { return n(r) >= 3; }});
  pool.push_back({"N <> 2",
                  [](TDataFile& t) { return Binary(Op::kNotEqual, FieldRef(t, "N"), NewIntegerConstant(2)); },
                  0, [](const Rec2& r) { return !r.n || *r.n != 2; }});
  // Read record by record.
  pool.push_back({"M < 2",
                  [](TDataFile& t) { return Binary(Op::kLess, FieldRef(t, "M"), NewIntegerConstant(2)); },
                  0, [=](const Rec2& r) { return m(r) < 2; }});
  pool.push_back({"S = 'ab'",
                  [](TDataFile& t) { return Binary(Op::kEqual, FieldRef(t, "S"), NewStringConstant("ab")); },
                  0, [](const Rec2& r) { return r.s && *r.s == "ab"; }});
  // Partly.
  pool.push_back({"N > -2 AND NOT M = 0",
                  [](TDataFile& t) {
                    return Binary(Op::kAnd, Binary(Op::kGreater, FieldRef(t, "N"), NewIntegerConstant(-2)),
                                  Unary(Op::kNot, Binary(Op::kEqual, FieldRef(t, "M"), NewIntegerConstant(0))));
                  },
                  0, [=](const Rec2& r) { return n(r) > -2 && !(r.m && *r.m == 0); }});
  return pool;
}

class FilterTwoProcessTest : public datatest::DataFileTestBase {
 protected:

  // The table of the runs, 40 records, on disk or in memory.
  void MakeTable(bool in_memory) {
    DataTableDefinition def = Definition({datatest::Field(kFId, "Id", FieldType::kInteger),
                                          datatest::Field(kFN, "N", FieldType::kInteger),
                                          datatest::Field(kFM, "M", FieldType::kSmallInt),
                                          datatest::Field(kFS, "S", FieldType::kString, 4)});
    def.secondary = {datatest::Index("ByN", {kFN})};
    Create(Path("f.dat"), def, in_memory);
    auto t = OpenTable(Path("f.dat"), true, in_memory);
    // The routine reads N and Id at fixed offsets: the layout must be so.
    ASSERT_EQ(t->GetFieldDescriptor(false, kFId).Offset, 9);
    ASSERT_EQ(t->GetFieldDescriptor(false, kFN).Offset, 14);
    std::mt19937 rng(5);
    for (int i = 1; i <= 40; ++i) Insert(*t, rng, i);
  }

  static void Insert(TDataFile& t, std::mt19937& rng, std::int32_t id) {
    Rec r(t);
    r.Num<std::int32_t>(kFId, id);
    Randomise(r, rng, 0);
    t.InsertRecord(r.span());
  }
  // Field k of r (all of N, M, S for k = 0) gets a random value or null.
  static void Randomise(Rec& r, std::mt19937& rng, int k) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const char* kStrings[] = {"a", "b", "ab", "ba"};
    if (k == 0 || k == kFN) {
      r.Num<std::int32_t>(kFN, pick(8) == 0 ? std::nullopt : std::optional<std::int32_t>(pick(21) - 5));
    }
    if (k == 0 || k == kFM) {
      r.Num<std::int16_t>(kFM, pick(8) == 0 ? std::nullopt
                                            : std::optional<std::int16_t>(static_cast<std::int16_t>(pick(10) - 3)));
    }
    if (k == 0 || k == kFS) {
      r.Str(kFS, pick(6) == 0 ? std::nullopt : std::optional<std::string>(kStrings[pick(4)]));
    }
  }

  // Ids of inserted records: apart for each writer seed, so that several
  // runs can share one table.
  static std::int32_t FirstWrittenId(std::uint32_t seed) {
    return 1000 + static_cast<std::int32_t>(seed % 1000) * 1000;
  }

  // One batch of one to three writes through t.
  static bool WriteBatch(TDataFile& t, std::mt19937& rng, std::int32_t& next_id) {
    const int ops = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < ops; ++i) {
      const int op = static_cast<int>(rng() % 10);
      const std::uint32_t count = t.RecordCount();
      if (op < 4 || count < 10) {
        Insert(t, rng, next_id++);
        continue;
      }
      t.SetRecordPosition(1 + static_cast<std::uint32_t>(rng() % count));
      Rec r(t);
      if (t.ReadCurrentRecord(r.span(), op < 8) != 0) return false;
      if (op < 8) {
        // One field: N moves the record in "ByN" (index and data change),
        // M or S change the data file alone.
        Randomise(r, rng, kFN + static_cast<int>(rng() % 3));
        t.ModifyRecord(r.span(), true);
      } else {
        t.DeleteRecord();
      }
    }
    return true;
  }

  // The writer process: one batch per byte received; 'q' (or a closed
  // pipe) ends it.
  static int WriterProcess(Peer& peer, const std::string& path, std::uint32_t seed) {
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(false);
    t.Open();
    std::mt19937 rng(seed);
    std::int32_t next_id = FirstWrittenId(seed);
    for (;;) {
      if (peer.Receive() != 'w') return 0;
      if (!WriteBatch(t, rng, next_id)) return 2;
      peer.Send('k');
    }
  }

  enum class Writer { kProcess, kCursor, kCloneSource };
  void Run(Mode mode, Writer writer, std::uint32_t seed, bool in_memory = false);
};

void FilterTwoProcessTest::Run(Mode mode, Writer writer, std::uint32_t seed, bool in_memory) {
  const std::string path = Path("f.dat");
  MakeTable(in_memory);
  const std::uint32_t writer_seed = seed * 31 + 7;
  std::optional<Peer> process;
  std::unique_ptr<TDataFile> source;  // the in-process writer
  if (writer == Writer::kProcess) {
    process.emplace([&](Peer& p) { return WriterProcess(p, path, writer_seed); });
    ASSERT_TRUE(process->Started());
  } else {
    source = OpenTable(path, false, in_memory);
  }
  std::mt19937 writer_rng(writer_seed);
  std::int32_t next_id = FirstWrittenId(writer_seed);
  auto write = [&] {
    if (process) {
      process->Send('w');
      return process->Receive() == 'k';
    }
    return WriteBatch(*source, writer_rng, next_id);
  };
  auto t = OpenTable(path, false, in_memory);
  auto plain = OpenTable(path, false, in_memory);
  std::mt19937 own_rng(seed + 1000);
  std::int32_t own_next_id = FirstWrittenId(seed + 500);
  std::mt19937 rng(seed);
  auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

  const std::vector<Filter> pool = FilterPool(mode);
  std::vector<const Filter*> active;
  std::vector<std::int32_t> handles;
  int order = 0;  // 0 Id, 1 ByN, 2 natural
  std::optional<std::pair<std::int32_t, std::int32_t>> range;  // on N
  int phase_left = 0;

  // The plain scan: every live record, no filters.
  auto snapshot = [&] {
    std::vector<Rec2> rows;
    EXPECT_EQ(plain->MoveToBegin(), 0);
    for (Rec r(*plain); plain->ReadNextRecord(r.span()) == 0;)
      rows.push_back(Decode(*plain, r.bytes, plain->CurrentRecord()->RecordNumber()));
    return rows;
  };
  using Key = std::tuple<int, std::int64_t, std::uint32_t>;
  auto key_of = [&](const Rec2& r) -> Key {
    if (order == 0) return {0, r.id, 0};
    if (order == 2) return {0, r.recno, 0};
    return {r.n ? 1 : 0, r.n.value_or(0), r.record_id};
  };
  // The records of the index (within the range) in key order, each with
  // its position: the n-th key of the index or range, or in natural order
  // the physical record number. Filters hide records but do not renumber
  // positions.
  auto index_of = [&](const std::vector<Rec2>& rows) {
    std::vector<Rec2> v;
    for (const Rec2& r : rows) {
      if (!range || (r.n && *r.n >= range->first && *r.n <= range->second)) v.push_back(r);
    }
    std::sort(v.begin(), v.end(), [&](const Rec2& a, const Rec2& b) { return key_of(a) < key_of(b); });
    if (order != 2) {
      for (std::size_t i = 0; i < v.size(); ++i) v[i].recno = static_cast<std::uint32_t>(i + 1);
    }
    return v;
  };
  auto view_of = [&](const std::vector<Rec2>& rows) {
    std::vector<Rec2> v;
    for (const Rec2& r : index_of(rows)) {
      bool keep = true;
      for (const Filter* f : active) keep = keep && f->test(r);
      if (keep) v.push_back(r);
    }
    return v;
  };
  // A cursor's current record (its recno field unused); the viewing
  // cursor's by default.
  auto current = [&](std::optional<std::reference_wrapper<TDataFile>> of = std::nullopt)
      -> std::optional<Rec2> {
    TDataFile& c = of ? of->get() : *t;
    const std::byte* p = c.CurrentRecordData();
    if (p == nullptr) return std::nullopt;
    return Decode(c, {p, c.GetRecordBufferSize()}, 0);
  };
  auto ids = [](const std::vector<Rec2>& v) {
    std::vector<std::int32_t> out;
    for (const Rec2& r : v) out.push_back(r.id);
    return out;
  };

  // Places in the view: the first, the last, one past the end and one
  // between go to the records of the walk (past the end to the last), and
  // the place read back is the walk's count. Callback filters read
  // records: no bitmap answers for them, the caller walks. In index order
  // places near the start are counted by walking the index until a bitmap
  // is kept: both ways are checked, the walk first (a walk limit of 0
  // takes the bitmap, which is then kept).
  auto check_places_once = [&](const std::vector<Rec2>& view) {
    const bool callbacks =
        std::any_of(active.begin(), active.end(), [](const Filter* f) { return f->callback != 0; });
    if (callbacks) {
      EXPECT_FALSE(t->ViewPlace().has_value());
      EXPECT_FALSE(t->SetViewPlace(1));
      return;
    }
    const auto size = static_cast<std::uint32_t>(view.size());
    for (const std::uint32_t k : {1u, size, size + 1, 1 + static_cast<std::uint32_t>(rnd(0, 40)) % (size + 1)}) {
      ASSERT_TRUE(t->SetViewPlace(k));
      if (view.empty()) {
        EXPECT_FALSE(current().has_value()) << "place " << k << " of an empty view";
        EXPECT_EQ(t->ViewPlace(), 0u);
        continue;
      }
      const std::uint32_t want = std::min(std::max(k, 1u), size);
      ASSERT_TRUE(current().has_value()) << "place " << k;
      ASSERT_EQ(current()->id, view[want - 1].id) << "place " << k << " of " << size;
      ASSERT_EQ(t->ViewPlace(), want) << "place " << k << " of " << size;
    }
    EXPECT_EQ(t->MoveToBegin(), 0);
    EXPECT_EQ(t->ViewPlace(), 0u) << "before the first";
  };
  auto check_places = [&](const std::vector<Rec2>& view) {
    for (const std::uint32_t limit : {IndexStore::kRankWalk, 0u}) {
      SCOPED_TRACE("rank walk limit " + std::to_string(limit));
      t->IndexFile().SetRankWalkLimit(limit);
      ASSERT_NO_FATAL_FAILURE(check_places_once(view));
    }
  };

  for (int step = 0; step < kSteps; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    if (phase_left-- <= 0) {
      // New filters (and order, and range): the old ones deactivated or
      // dropped, the new ones added and activated one by one. The clone
      // gets them from its source, which then drops its own.
      phase_left = rnd(2, 5);
      TDataFile& f_cursor = writer == Writer::kCloneSource ? *source : *t;
      if (rnd(0, 1) == 0) {
        for (std::int32_t h : handles) ASSERT_EQ(t->DeactivateFilter(h), ErrorCode::kNone);
      }
      ASSERT_EQ(t->DropFilter(0), ErrorCode::kNone);
      handles.clear();
      active.clear();
      if (range) f_cursor.ClearKeyRange();
      range.reset();
      order = mode == Mode::kRange ? 1 : rnd(0, mode == Mode::kExpression ? 2 : 1);
      f_cursor.SwitchToIndex(static_cast<std::uint8_t>(order == 2 ? 255 : order));
      if (mode == Mode::kRange) {
        const int lo = rnd(-6, 8);
        range = std::make_pair(lo, lo + rnd(0, 8));
        Rec a(f_cursor), b(f_cursor);
        a.Num<std::int32_t>(kFN, range->first);
        b.Num<std::int32_t>(kFN, range->second);
        f_cursor.SetKeyRange(false, a.bytes.data(), 1, b.bytes.data(), 1);
      }
      const int n = mode == Mode::kRange ? 1 : rnd(1, 3);
      for (int i = 0; i < n; ++i) {
        const Filter& f = pool[static_cast<std::size_t>(rnd(0, static_cast<int>(pool.size()) - 1))];
        std::int32_t h = 0;
        if (f.tree) {
          ASSERT_EQ(f_cursor.AddFilter(f.tree(f_cursor), false, h), ErrorCode::kNone);
        } else {
          ASSERT_EQ(f_cursor.AddCallbackFilter(&CallbackRoutine,
                                               reinterpret_cast<void*>(static_cast<std::intptr_t>(f.callback)), h),
                    ErrorCode::kNone);
        }
        ASSERT_EQ(f_cursor.ActivateFilter(h), ErrorCode::kNone);
        handles.push_back(h);
        active.push_back(&f);
        // After each filter operation the current record is one the view
        // shows (or there is none).
        if (const auto c = current(f_cursor)) {
          const auto v = view_of(snapshot());
          EXPECT_TRUE(std::any_of(v.begin(), v.end(), [&](const Rec2& r) { return r.id == c->id; }))
              << "after adding " << f.what << " the cursor is on " << c->id;
        }
      }
      if (writer == Writer::kCloneSource) {
        t = source->CloneCursor();
        handles.clear();  // the clone's own; dropped with the clone
        ASSERT_EQ(source->DropFilter(0), ErrorCode::kNone);
        if (range) source->ClearKeyRange();
      }
    }
    std::string filters;
    for (const Filter* f : active) filters += f->what + "; ";
    SCOPED_TRACE("order " + std::to_string(order) + ", filters " + filters);

    // In one process the viewing cursor writes too, now and then: its own
    // writes and the other cursor's meet in the same view.
    if (!process && rnd(0, 2) == 0) {
      ASSERT_TRUE(WriteBatch(*t, own_rng, own_next_id)) << "the viewing cursor's write failed";
      SCOPED_TRACE("after the viewing cursor's own writes");
      ASSERT_NO_FATAL_FAILURE(check_places(view_of(snapshot())));
    }

    // Leave the cursor somewhere, then let the other program write.
    const auto before = view_of(snapshot());
    const int place = before.empty() ? 0 : rnd(0, 3);
    std::optional<Rec2> stood;
    if (place == 0) {
      EXPECT_EQ(t->MoveToBegin(), 0);
    } else if (place == 1) {
      EXPECT_EQ(t->MoveToEnd(), 0);
    } else {
      const auto& r = before[static_cast<std::size_t>(rnd(0, static_cast<int>(before.size()) - 1))];
      t->SetRecordPosition(r.recno);
      stood = current();
      ASSERT_TRUE(stood.has_value());
      ASSERT_EQ(stood->id, r.id);
      stood->recno = r.recno;
    }
    ASSERT_TRUE(write()) << "the writer failed";

    const auto view = view_of(snapshot());
    // The first operation after the change sees it.
    ASSERT_EQ(t->RecordCount(), view.size());
    if (place == 0) {
      Rec r(*t);
      EXPECT_EQ(t->ReadNextRecord(r.span()), view.empty() ? 8706 : 0);
      if (!view.empty()) {
        EXPECT_EQ(current()->id, view.front().id) << "from before the first";
      }
    } else if (place == 1) {
      Rec r(*t);
      EXPECT_EQ(t->ReadPriorRecord(r.span()), view.empty() ? 8705 : 0);
      if (!view.empty()) {
        EXPECT_EQ(current()->id, view.back().id) << "from after the last";
      }
    } else {
      const auto c = current();
      const auto at = std::find_if(view.begin(), view.end(),
                                   [&](const Rec2& r) { return key_of(r) >= key_of(*stood); });
      if (view.empty()) {
        EXPECT_FALSE(c.has_value());
      } else {
        ASSERT_TRUE(c.has_value()) << "stood on " << stood->id << ", view "
                                   << testing::PrintToString(ids(view));
        EXPECT_EQ(c->id, at != view.end() ? at->id : view.back().id) << "stood on " << stood->id;
      }
    }

    // Walks both ways, the count, positions.
    std::vector<std::int32_t> forward, backward;
    EXPECT_EQ(t->MoveToBegin(), 0);
    for (Rec r(*t); t->ReadNextRecord(r.span()) == 0;) forward.push_back(*r.GetNum<std::int32_t>(kFId));
    EXPECT_EQ(t->MoveToEnd(), 0);
    for (Rec r(*t); t->ReadPriorRecord(r.span()) == 0;)
      backward.insert(backward.begin(), *r.GetNum<std::int32_t>(kFId));
    ASSERT_EQ(forward, ids(view));
    ASSERT_EQ(backward, ids(view));
    ASSERT_EQ(t->RecordCount(), view.size());
    // A position lands on the first record the view shows at or after
    // it, else on the last one.
    const std::uint32_t highest = view.empty() ? 0 : std::max(view.back().recno, index_of(snapshot()).back().recno);
    for (int k = 0; k < 3 && !view.empty(); ++k) {
      const auto p = static_cast<std::uint32_t>(rnd(1, static_cast<int>(highest)));
      const auto at = std::find_if(view.begin(), view.end(), [&](const Rec2& r) { return r.recno >= p; });
      const Rec2& want = at != view.end() ? *at : view.back();
      t->SetRecordPosition(p);
      ASSERT_TRUE(current().has_value());
      ASSERT_EQ(current()->id, want.id) << "position " << p;
      EXPECT_EQ(t->GetRecordPosition(), want.recno);
      // Its place in the view, from the bitmap's rank.
      if (t->ViewPlace().has_value()) {
        EXPECT_EQ(t->ViewPlace(), static_cast<std::uint32_t>(&want - view.data()) + 1) << "position " << p;
      }
    }
    ASSERT_NO_FATAL_FAILURE(check_places(view));
  }
  if (process) {
    process->Send('q');
    EXPECT_EQ(process->Wait(), 0);
  }
  EXPECT_EQ(t->DropFilter(0), ErrorCode::kNone);
}

TEST_F(FilterTwoProcessTest, ExpressionFiltersFollowTheOtherProgramsWrites) {
  Run(Mode::kExpression, Writer::kProcess, 1);
}

TEST_F(FilterTwoProcessTest, CallbackFiltersFollowTheOtherProgramsWrites) {
  Run(Mode::kCallback, Writer::kProcess, 2);
}

TEST_F(FilterTwoProcessTest, ARangeWithAFilterFollowsTheOtherProgramsWrites) {
  Run(Mode::kRange, Writer::kProcess, 3);
}

// A memory table has no other program: another cursor of this one writes
// (every cursor shares the session's memory files).
TEST_F(FilterTwoProcessTest, FiltersOfAMemoryTableFollowTheWritesOfAnotherCursor) {
  for (const Mode mode : {Mode::kExpression, Mode::kCallback, Mode::kRange}) {
    SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)));
    Run(mode, Writer::kCursor, 4 + static_cast<std::uint32_t>(mode), true);
    if (HasFatalFailure()) return;
  }
}

// A clone's view follows the writes made through the cursor it was cloned
// from. A clone of an in-memory table must be a cursor on that table, not
// on a disk file of the same name (the disk run leaves one behind).
TEST_F(FilterTwoProcessTest, ACloneFollowsTheWritesOfItsSource) {
  for (const bool in_memory : {false, true}) {
    for (const Mode mode : {Mode::kExpression, Mode::kCallback, Mode::kRange}) {
      SCOPED_TRACE("mode " + std::to_string(static_cast<int>(mode)) + (in_memory ? " in memory" : ""));
      Run(mode, Writer::kCloneSource, 7 + static_cast<std::uint32_t>(mode), in_memory);
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
}  // namespace storage::filtertest
