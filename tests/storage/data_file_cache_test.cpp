// The record cache against a model: random appends, changes, deletions
// and reads (with read-ahead both ways) on a cache small enough to recycle,
// with flushes (some of them failing) and reopenings in between, on disk,
// in memory and encrypted; then the file goes through the independent
// checker.
#include <cstring>
#include <list>
#include <map>
#include <random>
#include <set>

#include "storage/fault_injection.h"
#include "tests/storage/data_file_test_support.h"

namespace storage {
namespace {

using namespace datatest;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSteps = 1500;
#else
constexpr int kSteps = 4000;
#endif

class DataFileCacheTest : public DataFileTestBase {};

std::string TextOf(const TDataFile& t, const TRecord* r, int field) {
  return std::string(GetFieldString(r->Data(), t.GetFieldDescriptor(false, field).Slot()));
}

TEST_F(DataFileCacheTest, ReadAheadReadsABlockAndNeverBeforeRecordOne) {
  Create(Path("ra"), Definition({Field(1, "A", FieldType::kString, 89)}));  // 100-byte records
  auto t = OpenTable(Path("ra"));
  for (int i = 0; i < 1000; ++i) Append(*t, 1, "r" + std::to_string(i));
  t->Close();
  struct Case {
    std::uint32_t n;
    ReadDirection direction;
    bool read_ahead;
    std::size_t cached;
    std::uint32_t lowest, highest;
  };
  const Case cases[] = {
      {1, ReadDirection::kForward, true, 327, 1, 327},
      {1000, ReadDirection::kBackward, true, 327, 674, 1000},
      {900, ReadDirection::kForward, true, 101, 900, 1000},  // up to the last record
      {5, ReadDirection::kBackward, true, 5, 1, 5},             // not before record 1
      {500, ReadDirection::kForward, false, 1, 500, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    t->Open();
    TRecord* r = t->GetRecordBuffer(c.n, c.read_ahead, c.direction, false);
    EXPECT_EQ(TextOf(*t, r, 1), "r" + std::to_string(c.n - 1));
    t->ReleaseRecordBuffer(r);
    EXPECT_EQ(t->Cache().Count(), c.cached);
    for (std::uint32_t k = c.lowest; k <= c.highest; ++k) {
      TRecord* other = t->GetRecordBuffer(k, false, ReadDirection::kForward, false);
      ASSERT_EQ(TextOf(*t, other, 1), "r" + std::to_string(k - 1));
      t->ReleaseRecordBuffer(other);
    }
    EXPECT_EQ(t->Cache().Count(), c.cached);  // all were there already
    t->Close();
  }
}

TEST_F(DataFileCacheTest, RunawayPinsAndExhaustedCacheAreErrors) {
  std::vector<TFieldDescriptor> wide;
  for (int i = 1; i <= 158; ++i)
    wide.push_back(Field(static_cast<std::uint16_t>(i), "S" + std::to_string(i), FieldType::kString, 250));
  wide.push_back(Field(159, "Tail", FieldType::kString, 173));
  Create(Path("pins"), Definition(wide));
  auto t = OpenTable(Path("pins"));
  for (int i = 0; i < 5; ++i) Append(*t, 2, "x");
  t->FlushTable(false);
  // The 65th holder of one buffer.
  for (int i = 0; i < 64; ++i) t->GetRecordBuffer(1, false, ReadDirection::kForward, false);
  EXPECT_EQ(CodeOf([&] { t->GetRecordBuffer(1, false, ReadDirection::kForward, false); }), 8962);
  // Three buffers fit; with all three pinned a fourth record has no room.
  t->GetRecordBuffer(2, false, ReadDirection::kForward, false);
  t->GetRecordBuffer(3, false, ReadDirection::kForward, false);
  EXPECT_EQ(CodeOf([&] { t->GetRecordBuffer(4, false, ReadDirection::kForward, false); }), 8962);
  // Beyond the append position.
  EXPECT_EQ(CodeOf([&] { t->GetRecordBuffer(7, false, ReadDirection::kForward, false); }), 8962);
  EXPECT_EQ(t->GetRecordBuffer(0, false, ReadDirection::kForward, false), nullptr);
  t->ReleaseAllPins();
  TRecord* r = t->GetRecordBuffer(4, true, ReadDirection::kBackward, false);
  EXPECT_EQ(TextOf(*t, r, 2), "x");
  t->Close();
}

struct ModelRecord {
  bool deleted = false;
  std::uint32_t id = 0;
  std::string text;
};

// kSmallCache: records of about 8000 bytes, so that the cache holds 16
// buffers and a read-ahead reads up to 4 records: the cache is often full
// of changed buffers when a read-ahead needs room, and the flush that makes
// it must not let the run's older bytes over the records it wrote.
enum class Mode { kDisk, kMemory, kEncrypted, kNoPrimary, kSmallCache };

class DataFileModelTest : public DataFileCacheTest, public ::testing::WithParamInterface<Mode> {};

TEST_P(DataFileModelTest, RandomOperationsAgreeWithTheModel) {
  const Mode mode = GetParam();
  const bool in_memory = mode == Mode::kMemory;
  // About 770 bytes a record: a cache of 170 buffers, 42 per read-ahead.
  std::vector<TFieldDescriptor> fields = {AutoInc(1, "Id"), Field(2, "Text", FieldType::kString, 250)};
  const int pads = mode == Mode::kSmallCache ? 31 : 2;
  for (int i = 1; i <= pads; ++i)
    fields.push_back(Field(static_cast<std::uint16_t>(2 + i), "Pad" + std::to_string(i), FieldType::kBytes, 250));
  DataTableDefinition def =
      Definition(fields, mode == Mode::kNoPrimary ? std::initializer_list<std::uint16_t>{}
                                                  : std::initializer_list<std::uint16_t>{1});
  if (mode == Mode::kEncrypted) {
    def.encrypted = true;
    def.password = "model";
    CurrentSession()->AddPassword("model");
  }
  Create(Path("model"), def, in_memory);
  auto t = OpenTable(Path("model"), true, in_memory);
  if (mode == Mode::kSmallCache) {
    ASSERT_EQ(t->Cache().Capacity(), 16u);
    ASSERT_EQ(t->RecordsPerBlock(), 4u);
  }
  const bool reuse = mode != Mode::kNoPrimary;
  // Upper ends of the operations' shares of 100: append, change, delete,
  // read, flush (the rest reopens). The small cache changes more, so that
  // it fills with changed buffers.
  const std::array<int, 5> cut = mode == Mode::kSmallCache ? std::array<int, 5>{20, 65, 70, 97, 99}
                                                            : std::array<int, 5>{35, 50, 62, 95, 98};

  int failed_flushes = 0;
  std::map<std::uint32_t, ModelRecord> model;  // by record number
  std::vector<std::uint32_t> free_stack;       // deleted slots, last on top
  std::uint32_t last_id = 0;
  std::mt19937 rng(1234 + static_cast<int>(mode));
  auto pick = [&](bool want_deleted) -> std::uint32_t {
    std::vector<std::uint32_t> v;
    for (const auto& [n, m] : model)
      if (m.deleted == want_deleted) v.push_back(n);
    if (v.empty()) return 0;
    return v[rng() % v.size()];
  };
  auto text_for = [&](int step) { return "step " + std::to_string(step) + std::string(rng() % 200, 'x'); };

  for (int step = 0; step < kSteps; ++step) {
    const int op = static_cast<int>(rng() % 100);
    if (op < cut[0]) {  // append or reuse
      const std::uint32_t want =
          reuse && !free_stack.empty() ? free_stack.back() : t->Header().NextRecord();
      TRecord* r = t->TakeFreeRecord();
      ASSERT_EQ(r->RecordNumber(), want) << step;
      if (reuse && !free_stack.empty()) free_stack.pop_back();
      t->InitRecordBuffer(r);
      const std::string text = text_for(step);
      PutFieldString(r->Data(), t->GetFieldDescriptor(false, 2).Slot(), text);
      r->modified = true;
      model[want] = {false, r->RecordId(), text};
      EXPECT_EQ(r->RecordId(), ++last_id);
      t->ReleaseRecordBuffer(r);
    } else if (op < cut[1]) {  // change
      const std::uint32_t n = pick(false);
      if (n == 0) continue;
      TRecord* r = t->GetRecordBuffer(n, rng() % 2 == 0, ReadDirection::kForward, false);
      const std::string text = text_for(step);
      PutFieldString(r->Data(), t->GetFieldDescriptor(false, 2).Slot(), text);
      r->modified = true;
      model[n].text = text;
      t->ReleaseRecordBuffer(r);
    } else if (op < cut[2]) {  // delete
      const std::uint32_t n = pick(false);
      if (n == 0) continue;
      TRecord* r = t->GetRecordBuffer(n, false, ReadDirection::kForward, false);
      t->MarkRecordDeleted(r);
      t->ReleaseRecordBuffer(r);
      model[n].deleted = true;
      if (reuse) {
        free_stack.push_back(n);
      } else {
        free_stack.assign(1, n);
      }
    } else if (op < cut[3]) {  // read
      if (model.empty()) continue;
      const std::uint32_t n = 1 + static_cast<std::uint32_t>(rng() % model.size());
      const auto dir = rng() % 2 == 0 ? ReadDirection::kForward : ReadDirection::kBackward;
      // Now and then the flush that makes room for the read fails half-way
      // (a torn write): the read fails, and nothing changed may be lost.
      const bool fault = mode == Mode::kSmallCache && rng() % 8 == 0;
      if (fault) ArmFault(FaultSite::kWrite, 1);
      TRecord* r = nullptr;
      const int code = CodeOf([&] { r = t->GetRecordBuffer(n, rng() % 4 != 0, dir, false); });
      const bool fired = fault && FaultFired();
      DisarmFault();
      failed_flushes += fired ? 1 : 0;
      ASSERT_EQ(code, fired ? 9218 : 0) << "step " << step;
      if (r != nullptr) {
        ASSERT_EQ(r->RecordNumber(), n);
        t->ReleaseRecordBuffer(r);
      }
      // Every buffer the read left in the cache holds its record as the
      // model has it, not only record n: a read-ahead loads its neighbours.
      for (const TRecord* c : t->Cache().All()) {
        if (c->RecordNumber() == 0) continue;
        const ModelRecord& m = model[c->RecordNumber()];
        ASSERT_EQ(c->Status(), m.deleted ? 1 : 0) << "record " << c->RecordNumber() << " step " << step;
        if (!m.deleted) {
          ASSERT_EQ(c->RecordId(), m.id) << "record " << c->RecordNumber() << " step " << step;
          ASSERT_EQ(TextOf(*t, c, 2), m.text) << "record " << c->RecordNumber() << " step " << step;
        }
      }
    } else if (op < cut[4]) {
      t->FlushTable(rng() % 2 == 0);
    } else {
      t->Close();
      t->Open();
    }
    ASSERT_LE(t->Cache().Count(), t->Cache().Capacity());
    ASSERT_EQ(t->Header().NextRecord(), model.size() + 1);
    ASSERT_EQ(t->Header().FreeHead(), free_stack.empty() ? 0u : free_stack.back());
  }
  if (mode == Mode::kSmallCache) {
    EXPECT_GT(failed_flushes, 0);
  }
  t->Close();
  if (in_memory) return;  // the checker reads disk files
  int active = 0, deleted = 0;
  for (const auto& [n, m] : model) (m.deleted ? deleted : active)++;
  const CheckResult c = RunTool("datcheck.py", Path("model.DAT"));
  EXPECT_EQ(c.status, 0) << c.output;
  const std::string summary = "records total " + std::to_string(model.size()) + " active " +
                              std::to_string(active) + " deleted " + std::to_string(deleted) +
                              " chain " + std::to_string(free_stack.size());
  EXPECT_TRUE(HasLine(c.output, summary)) << summary << "\n" << c.output;
  EXPECT_TRUE(HasLine(c.output, "last_id " + std::to_string(last_id))) << c.output;
}

INSTANTIATE_TEST_SUITE_P(Modes, DataFileModelTest,
                         ::testing::Values(Mode::kDisk, Mode::kMemory, Mode::kEncrypted,
                                           Mode::kNoPrimary, Mode::kSmallCache));

// The cache's own bookkeeping against a model: which buffer holds which
// number (a number given to a second buffer leaves the first), the order
// of use, the recycling search that moves the buffers it passes over, and
// trimming. Numbers come and go in a small range, so that the map's
// deletions, which move later entries of a probe run back, meet each other.
TEST(RecordCacheModel, RandomOperationsAgreeWithTheModel) {
  RecordCache cache(nullptr);
  std::list<TRecord*> order;                 // most recently used first
  std::map<TRecord*, std::uint32_t> number;  // 0: none
  std::mt19937 rng(11);
  auto pick = [&] {
    auto it = order.begin();
    std::advance(it, rng() % order.size());
    return it;
  };
  auto to_front = [&](std::list<TRecord*>::iterator it) { order.splice(order.begin(), order, it); };
  for (int step = 0; step < 20 * kSteps; ++step) {
    const unsigned op = order.empty() ? 0 : rng() % 7;
    if (op == 0) {
      TRecord* r = cache.AddFront(16);
      ASSERT_EQ(r->RecordNumber(), 0u);
      ASSERT_EQ(r->UseCount(), 0);
      ASSERT_FALSE(r->modified);
      for (std::byte b : r->Data()) ASSERT_EQ(b, std::byte{0});
      std::memset(r->Data().data(), 0xA5, r->Size());  // a reused buffer must come back zeroed
      order.push_front(r);
      number[r] = 0;
    } else if (op <= 2) {
      TRecord* r = *pick();
      const std::uint32_t n = rng() % 3 == 0 ? 0 : 1 + rng() % 200;
      for (auto& [other, held] : number) {
        if (n != 0 && held == n) held = 0;
      }
      number[r] = n;
      cache.SetNumber(r, n);
    } else if (op == 3) {
      auto it = pick();
      cache.MoveToFront(*it);
      to_front(it);
    } else if (op == 4) {
      TRecord* r = *pick();
      if (rng() % 2 == 0) {
        r->modified = !r->modified;
      } else if (r->InUse()) {
        r->ReleaseUse();
      } else {
        r->AddUse();
      }
    } else if (op == 5) {
      TRecord* want = nullptr;
      for (std::size_t left = order.size(); left > 0; --left) {
        TRecord* last = order.back();
        if (!last->InUse() && !last->modified) {
          want = last;
          break;
        }
        to_front(std::prev(order.end()));
      }
      ASSERT_EQ(cache.FindRecyclable(), want);
    } else {
      const std::size_t capacity = rng() % (order.size() + 2);
      for (auto it = order.end(); order.size() > capacity && it != order.begin();) {
        --it;
        if ((*it)->InUse() || (*it)->modified) continue;
        number.erase(*it);
        it = order.erase(it);
      }
      cache.TrimTo(capacity);
    }
    ASSERT_EQ(cache.Count(), order.size());
    ASSERT_EQ(cache.All(), std::vector<TRecord*>(order.begin(), order.end())) << step;
    for (const auto& [r, n] : number) {
      ASSERT_EQ(r->RecordNumber(), n);
      if (n != 0) {
        ASSERT_EQ(cache.Find(n), r) << step;
      }
    }
    const std::uint32_t probe = 1 + rng() % 200;
    bool held = false;
    for (const auto& [r, n] : number) held = held || n == probe;
    if (!held) {
      ASSERT_EQ(cache.Find(probe), nullptr) << step;
    }
  }
}

}  // namespace
}  // namespace storage
