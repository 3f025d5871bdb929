// Table repair. Corruption trials in the manner of LevelDB's
// corruption_test: one table
// laid out like the catalogue's (plus a unique index), one patch per row
// (bytes flipped, zeroed or set, or the file cut) at a chosen place of one
// of its files: every field of the data-file header, of a field descriptor
// and of a record, of the index header and its descriptors, of the BLOB
// header and of a block. The repair must either keep every record whose own
// bytes the patch left alone, with its memo and its record ID, or refuse
// with an error and change no byte of any file; it must never leave an
// empty table from a small damage. Where the outcome is fixed by the
// table's witnesses (table_repair.h) the row says which. Progress comes
// once per physical record, Round(n / count x 100). Repaired tables go
// through the independent checkers as the repair leaves them and again
// after the catalogue's start-up. Then index definitions imposed by the
// caller, records of every status byte, the repair's preconditions,
// scrambled and keyless tables, and a failure of the engine in the middle
// of the pass.
#include <gtest/gtest.h>

#include <set>

#include "framework/sysutils.h"
#include "storage/blob_format.h"
#include "storage/table_swap.h"
#include "tests/storage/table_trial_support.h"

namespace storage::trialtest {
namespace {

constexpr int kRecords = 16;
constexpr std::size_t kDesc = 768;

enum class Outcome { kKept, kRefused, kEither };
enum class Op { kSet, kXor, kCut };

struct Patch {
  char file;  // 'D' .DAT, 'I' .IDX, 'B' .BLB
  Op op;
  std::size_t pos;                  // kCut: the new size
  std::vector<std::uint8_t> bytes;  // set, or XOR masks
};

struct Row {
  std::string what;
  std::vector<Patch> patches;
  Outcome outcome;
  std::set<int> touched = {};  // physical records the patch damages (with their memos)
  int code = 0;                // the refusal's error, when fixed
  std::string line = {};       // a log line the repair must give, when fixed
  // After the start-up's restructure the untouched values are compared
  // again; not for a type the damage changed to another of the same size
  // (nothing tells, and the restructure then converts the column).
  bool compare_after_start_up = true;
};

Patch Set(char file, std::size_t pos, std::vector<std::uint8_t> bytes) { return {file, Op::kSet, pos, std::move(bytes)}; }
Patch Xor(char file, std::size_t pos, std::vector<std::uint8_t> masks) { return {file, Op::kXor, pos, std::move(masks)}; }
Patch Zero(char file, std::size_t pos, std::size_t n) { return {file, Op::kSet, pos, std::vector<std::uint8_t>(n, 0)}; }
Patch Cut(char file, std::size_t size) { return {file, Op::kCut, size, {}}; }

class TableRepairTest : public datatest::DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    UseMemoryDirectory(dir_);
    std::filesystem::create_directories(Path("pristine"));
    Create(Path("pristine/t.dat"), CatalogueLayout(true, true));
    auto t = OpenTable(Path("pristine/t.dat"));
    std::mt19937 rng(4321);
    for (int i = 1; i <= kRecords; ++i) {
      const std::size_t size = i % 5 == 0 ? 0 : 200 + rng() % 1500;
      Entry e = InsertEntry(*t, "entry " + std::to_string(i), 1000 + i, MemoBytes(rng, size), 738000 + i % 4);
      if (i == 4) {
        t->DeleteRecord();  // its slot heads the free list
        continue;
      }
      model_[e.id] = e;
    }
    physical_ = t->Header().NextRecord() - 1;
    record_size_ = t->RecordSize();
    memo_offset_ = t->GetFieldDescriptor(false, kMemo).Offset;
    name_offset_ = t->GetFieldDescriptor(false, kName).Offset;
    number_offset_ = t->GetFieldDescriptor(false, kNumber).Offset;
    category_offset_ = t->GetFieldDescriptor(false, 4).Offset;
    key_offset_ = t->GetFieldDescriptor(false, 7).Offset;
    t->Close();
    data_start_ = 127 + kDesc * 7;
    // Slots of deleted records are reused: record IDs and physical record
    // numbers part ways.
    const auto dat = ReadBytes(Path("pristine/t.dat"));
    for (std::uint32_t n = 1; n <= physical_; ++n) {
      std::uint32_t id;
      std::memcpy(&id, &dat[Record(static_cast<int>(n)) + 5], 4);
      if (dat[Record(static_cast<int>(n))] == 0) record_of_[static_cast<int>(id)] = static_cast<int>(n);
    }
  }

  std::size_t Record(int n) const { return data_start_ + static_cast<std::size_t>(n - 1) * record_size_; }
  static std::size_t Field(int k, std::size_t at) { return 127 + kDesc * static_cast<std::size_t>(k - 1) + at; }
  static std::size_t Slot(int s, std::size_t at) { return 14 + 120 * static_cast<std::size_t>(s) + at; }
  std::size_t FirstBlock(int n) {
    const auto dat = ReadBytes(Path("pristine/t.dat"));
    std::uint32_t v;
    std::memcpy(&v, &dat[Record(n) + memo_offset_ + 1], 4);
    return v;
  }

  static std::string File(const std::string& dir, char file) {
    return dir + (file == 'D' ? "/t.dat" : file == 'I' ? "/t.IDX" : "/t.BLB");
  }

  // Runs the rows, the repair with imposed index definitions when given;
  // repaired tables are checked together at the end.
  void RunRows(const std::vector<Row>& rows, const std::vector<RepairIndexDefinition>& imposed = {}) {
    std::vector<std::string> repaired;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Row& row = rows[i];
      SCOPED_TRACE(row.what);
      const std::string dir = Path("row" + std::to_string(i));
      CopyDirectory(Path("pristine"), dir);
      for (const Patch& p : row.patches) {
        auto bytes = ReadBytes(File(dir, p.file));
        if (p.op == Op::kCut) {
          bytes.resize(p.pos);
        } else {
          ASSERT_LE(p.pos + p.bytes.size(), bytes.size());
          for (std::size_t k = 0; k < p.bytes.size(); ++k)
            bytes[p.pos + k] = p.op == Op::kSet ? p.bytes[k] : bytes[p.pos + k] ^ p.bytes[k];
        }
        WriteBytes(File(dir, p.file), bytes);
      }
      std::map<char, std::vector<std::uint8_t>> before;
      for (char f : {'D', 'I', 'B'}) before[f] = ReadBytes(File(dir, f));
      std::vector<std::string> log;
      std::vector<std::pair<int, int>> progress;
      int code = 0;
      std::string message;
      try {
        ExclusiveTable t(dir + "/t.dat");
        t.SetOnRepairLog([&](TDataFile&, std::string_view l) { log.emplace_back(l); });
        t.SetOnRepairProgress([&](TDataFile&, int n, std::uint16_t p) { progress.emplace_back(n, p); });
        t.RepairDataTable(imposed);
      } catch (const ETolmidEngineError& e) {
        code = e.ErrorCode();
        message = e.what();
      }
      EXPECT_EQ(StrayFiles(dir), std::vector<std::string>{});
      if (code != 0) {
        EXPECT_NE(row.outcome, Outcome::kKept) << message;
        if (row.code != 0) {
          EXPECT_EQ(code, row.code) << message;
        }
        EXPECT_NE(message.find("t.dat"), std::string::npos) << message;
        for (char f : {'D', 'I', 'B'}) EXPECT_EQ(ReadBytes(File(dir, f)), before[f]) << f;
        continue;
      }
      EXPECT_NE(row.outcome, Outcome::kRefused) << "repaired";
      for (std::size_t k = 0; k < progress.size(); ++k) {
        const double share = static_cast<double>(k + 1) / static_cast<double>(progress.size()) * 100.0;
        EXPECT_EQ(progress[k], std::make_pair(static_cast<int>(k + 1), static_cast<int>(fw::Round(share))));
      }
      if (row.patches.empty()) {
        EXPECT_EQ(log, std::vector<std::string>{});
        EXPECT_EQ(progress.size(), physical_);
      }
      if (!row.line.empty()) {
        EXPECT_NE(std::find(log.begin(), log.end(), row.line), log.end()) << ::testing::PrintToString(log);
      }
      CheckKept(row, dir + "/t.dat", "after the repair");
      // The repaired files as they are, for the checkers: a restructure
      // that copies the records would hide what the repair left.
      CopyDirectory(dir, dir + "-repaired");
      repaired.push_back(dir + "-repaired/t.dat");
      ASSERT_NO_THROW(StartUp(dir + "/t.dat"));
      if (row.compare_after_start_up) CheckKept(row, dir + "/t.dat", "after the start-up");
      repaired.push_back(dir + "/t.dat");
    }
    if (repaired.empty()) return;
    const auto check = CheckTables(repaired);
    EXPECT_EQ(check.status, 0) << check.output;
  }

  void CheckKept(const Row& row, const std::string& dat, const char* when) {
    SCOPED_TRACE(when);
    Model got;
    ASSERT_NO_THROW(got = ReadTable(dat));
    std::size_t untouched = 0;
    for (const auto& [id, entry] : model_) {
      if (row.touched.count(record_of_.at(static_cast<int>(id))) != 0) continue;
      ++untouched;
      auto it = got.find(id);
      if (it == got.end()) {
        ADD_FAILURE() << "record " << id << " lost";
      } else {
        EXPECT_EQ(it->second, entry);
      }
    }
    EXPECT_GE(got.size(), untouched);
    EXPECT_LE(got.size(), model_.size());
  }

  Model model_;
  std::map<int, int> record_of_;  // record ID -> physical record
  std::uint32_t physical_ = 0;
  std::size_t record_size_ = 0, memo_offset_ = 0, name_offset_ = 0, number_offset_ = 0, data_start_ = 0;
  std::size_t category_offset_ = 0, key_offset_ = 0;  // Category, CategoryFK (null)
};

// Every field of the header, of a field descriptor and of a record.
TEST_F(TableRepairTest, DataFile) {
  const std::vector<Row> rows = {
      {"undamaged", {}, Outcome::kKept},
      {"change counter", {Xor('D', 0, {0xFF, 0xFF})}, Outcome::kKept},
      {"block size zeroed (512 by default)", {Zero('D', 4, 2)}, Outcome::kKept, {}, 0,
       "Invalid BLOB block size in data file header, error fixed"},
      {"block size 767", {Set('D', 4, {0xFF, 0x02})}, Outcome::kRefused, {}, 9498},
      {"block size doubled", {Set('D', 4, {0x00, 0x04})}, Outcome::kRefused, {}, 9498},
      {"block size halved", {Set('D', 4, {0x00, 0x01})}, Outcome::kRefused, {}, 9498},
      {"block size, unused high bytes", {Set('D', 6, {0x12, 0x34})}, Outcome::kKept, {}, 0,
       "Invalid BLOB block size in data file header, error fixed"},
      {"version", {Set('D', 8, {0x07})}, Outcome::kKept},
      {"free-list head", {Set('D', 9, {0x09, 0, 0, 0})}, Outcome::kKept},
      {"next record number", {Xor('D', 13, {0x40})}, Outcome::kKept, {}, 0,
       "Physical record count not correct, error fixed"},
      {"last record ID zeroed", {Zero('D', 17, 4)}, Outcome::kKept, {}, 0,
       "Invalid next available record ID (auto-increment), error fixed"},
      {"last record ID high", {Set('D', 20, {0x70})}, Outcome::kKept},
      {"record size", {Xor('D', 21, {0x10})}, Outcome::kKept, {}, 0,
       "Invalid physical record length in data file header, error fixed"},
      {"field count zeroed", {Zero('D', 23, 2)}, Outcome::kRefused, {}, 9221},
      {"field count one short", {Set('D', 23, {6, 0})}, Outcome::kKept, {}, 0,
       "Invalid field count in data file header, error fixed"},
      {"field count three short", {Set('D', 23, {4, 0})}, Outcome::kKept, {}, 0,
       "Invalid field count in data file header, error fixed"},
      {"field count one over", {Set('D', 23, {8, 0})}, Outcome::kKept, {}, 0,
       "Invalid field count in data file header, error fixed"},
      {"field count far over", {Set('D', 24, {0x01})}, Outcome::kKept, {}, 0,
       "Invalid field count in data file header, error fixed"},
      {"BLOB count zeroed", {Zero('D', 25, 2)}, Outcome::kKept, {}, 0,
       "Invalid BLOB field count in data file header, error fixed"},
      {"BLOB count 3", {Set('D', 25, {3})}, Outcome::kKept, {}, 0,
       "Invalid BLOB field count in data file header, error fixed"},
      {"update time", {Xor('D', 27, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}, Outcome::kKept},
      {"description length", {Set('D', 35, {0xFF})}, Outcome::kKept, {}, 0,
       "Invalid table description in data file header, error fixed"},
      {"encrypted flag set", {Set('D', 86, {1})}, Outcome::kRefused},
      {"encrypted flag 0x80", {Set('D', 86, {0x80})}, Outcome::kRefused, {}, 9221},
      {"password on a plain table", {Set('D', 87, {3, 'a', 'b', 'c'})}, Outcome::kKept, {}, 0,
       "Invalid password in data file header, error fixed"},
      {"locale not installed", {Set('D', 103, {0xFF, 0x7F})}, Outcome::kRefused, {}, 15878},
      {"creator values", {Xor('D', 107, {0xFF, 0xFF, 0xFF, 0xFF})}, Outcome::kKept},
      {"computed-area size", {Set('D', 111, {0x30, 0})}, Outcome::kKept},
      {"reserved header bytes", {Xor('D', 113, {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF})}, Outcome::kKept},
      // The descriptor of JournalName (field 2), Details (5), Type1Num (6),
      // RecordNum (1).
      {"field number", {Set('D', Field(2, 0), {0x09, 0x01})}, Outcome::kKept, {}, 0,
       "Invalid field number for field JournalName in data file header, error fixed"},
      {"field name length", {Set('D', Field(2, 2), {0xFF})}, Outcome::kKept, {}, 0,
       "Invalid field name for field Field2 in data file header, error fixed"},
      {"field name starts with a digit", {Set('D', Field(2, 3), {'7'})}, Outcome::kKept},
      {"field name of another field", {Set('D', Field(6, 2), {9, 'J', 'o', 'u', 'r', 'n', 'a', 'l', 'N', 'a'})},
       Outcome::kKept},
      {"second text length", {Set('D', Field(2, 33), {0xFF})}, Outcome::kKept},
      {"type unknown", {Set('D', Field(2, 84), {0xEE})}, Outcome::kRefused, {}, 9221},
      {"string to bytes", {Set('D', Field(2, 84), {9})}, Outcome::kRefused, {}, 10000},
      {"integer to BLOB", {Set('D', Field(6, 84), {3})}, Outcome::kRefused, {}, 10000},
      {"BLOB to integer", {Set('D', Field(5, 84), {6})}, Outcome::kRefused, {}, 10000},
      {"integer to date", {Set('D', Field(6, 84), {2})}, Outcome::kKept, {}, 0, {}, false},
      {"auto-increment lost", {Set('D', Field(1, 85), {0})}, Outcome::kRefused, {}, 10000},
      {"auto-increment given", {Set('D', Field(6, 85), {29})}, Outcome::kRefused, {}, 10000},
      {"declared size", {Set('D', Field(2, 86), {5})}, Outcome::kRefused, {}, 10000},
      {"decimals", {Set('D', Field(2, 87), {4})}, Outcome::kKept},
      {"physical size", {Set('D', Field(2, 88), {3})}, Outcome::kKept},
      {"physical decimals", {Set('D', Field(6, 89), {7})}, Outcome::kKept},
      {"field offset", {Xor('D', Field(4, 90), {0x40})}, Outcome::kKept, {}, 0,
       "Invalid field offset for field Category in data file header, error fixed"},
      {"required flag", {Set('D', Field(4, 92), {1})}, Outcome::kKept},
      {"reserved byte", {Set('D', Field(4, 93), {0x5A})}, Outcome::kKept},
      {"minimum text length", {Set('D', Field(6, 94), {0xFF})}, Outcome::kKept, {}, 0,
       "Invalid validity check for field Type1Num in data file header, error fixed"},
      {"maximum no number", {Set('D', Field(6, 145), {2, 'x', 'y'})}, Outcome::kKept, {}, 0,
       "Invalid validity check for field Type1Num in data file header, error fixed"},
      {"default length", {Set('D', Field(6, 196), {0x99})}, Outcome::kKept},
      {"computed flag", {Set('D', Field(4, 247), {1})}, Outcome::kRefused, {}, 10000},
      {"computed flag 0x41", {Set('D', Field(4, 247), {0x41})}, Outcome::kRefused, {}, 9221},
      {"expression text", {Set('D', Field(4, 248), {4, 'a', '+', 'b', 'c'})}, Outcome::kKept},
      {"run-time reference", {Set('D', Field(4, 504), {1, 2, 3, 4})}, Outcome::kKept},
      {"reserved tail", {Xor('D', Field(4, 700), {0xFF})}, Outcome::kKept},
      // Record 3 (and its memo).
      {"status deleted", {Set('D', Record(3), {1})}, Outcome::kKept, {3}},
      {"status 0x80", {Set('D', Record(3), {0x80})}, Outcome::kKept, {3}},
      {"free link of a live record", {Xor('D', Record(3) + 1, {0xFF, 0xFF})}, Outcome::kKept},
      {"record ID high", {Xor('D', Record(3) + 8, {0x40})}, Outcome::kKept, {3}},
      {"record ID zeroed", {Zero('D', Record(3) + 5, 4)}, Outcome::kKept, {3}},
      // Two records with one ID: one of them (the later one) gets a new ID.
      {"record ID of another record", {Set('D', Record(3) + 5, {6, 0, 0, 0})}, Outcome::kKept, {3, 5}, 0,
       "Duplicate record ID for physical record # 5, error fixed - new record ID 17"},
      {"null flag of a string", {Set('D', Record(3) + name_offset_, {0x07})}, Outcome::kKept, {3}},
      {"null flag cleared over a value", {Set('D', Record(3) + number_offset_, {0})}, Outcome::kKept, {3}},
      {"string bytes", {Xor('D', Record(3) + name_offset_ + 3, {0x20, 0x20})}, Outcome::kKept, {3}},
      {"memo offset", {Xor('D', Record(3) + memo_offset_ + 2, {0x44})}, Outcome::kKept, {3}},
      {"memo offset zeroed", {Zero('D', Record(3) + memo_offset_ + 1, 4)}, Outcome::kKept, {3}},
      {"memo null flag over an offset", {Set('D', Record(3) + memo_offset_, {0})}, Outcome::kKept, {3}},
      {"memo offset past the end", {Set('D', Record(3) + memo_offset_ + 1, {0, 0xFE, 0xFF, 0})}, Outcome::kKept, {3}, 0,
       "Invalid BLOB offset into BLOB file for physical record # 3, error fixed"},
      // Values the format forbids in a live record (record 3, "entry 3"):
      // brought to the format, one line each, the rest of the record kept.
      {"null flag 0x07 over a number", {Set('D', Record(3) + number_offset_, {0x07})}, Outcome::kKept, {}, 0,
       "Invalid field value for field Type1Num in physical record # 3, error fixed"},
      {"null flag 0x80 over a null number", {Set('D', Record(3) + key_offset_, {0x80})}, Outcome::kKept, {}, 0,
       "Invalid field value for field CategoryFK in physical record # 3, error fixed"},
      {"a value byte under a null flag", {Set('D', Record(3) + key_offset_ + 2, {0x12})}, Outcome::kKept, {}, 0,
       "Invalid field value for field CategoryFK in physical record # 3, error fixed"},
      {"a null string still holding text", {Set('D', Record(3) + category_offset_, {0})}, Outcome::kKept, {}, 0,
       "Invalid field value for field Category in physical record # 3, error fixed"},
      {"trailing blanks", {Set('D', Record(3) + name_offset_ + 8, {' ', ' '})}, Outcome::kKept, {}, 0,
       "Invalid field value for field JournalName in physical record # 3, error fixed"},
      {"a string without its end", {Set('D', Record(3) + category_offset_ + 1, std::vector<std::uint8_t>(41, 'x'))},
       Outcome::kKept, {}, 0, "Invalid field value for field Category in physical record # 3, error fixed"},
      {"an empty string flagged as a value", {Set('D', Record(3) + category_offset_ + 1, {0})}, Outcome::kKept, {}, 0,
       "Invalid field value for field Category in physical record # 3, error fixed"},
      {"memo null flag 0x05 over its offset", {Set('D', Record(3) + memo_offset_, {0x05})}, Outcome::kKept, {}, 0,
       "Invalid field value for field Details in physical record # 3, error fixed"},
      {"stray bytes after the last record", {Cut('D', Record(static_cast<int>(physical_) + 1) + 10)},
       Outcome::kKept, {}, 0, "Physical records not aligned on even record size boundaries, error fixed"},
      {"Type1Num made another record's (unique index)", {Set('D', Record(7) + number_offset_, {1, 0xEB, 0x03, 0, 0})},
       Outcome::kKept, {7}, 0,
       "Error rebuilding index keys for physical record # 7, error fixed but physical record deleted"},
      {"cut in the last record", {Cut('D', Record(static_cast<int>(physical_)) + 30)}, Outcome::kKept,
       {static_cast<int>(physical_)}, 0,
       "Physical records not aligned on even record size boundaries, error fixed"},
      {"cut to the descriptors", {Cut('D', 127 + kDesc * 3 + 10)}, Outcome::kRefused},
      {"cut inside the header", {Cut('D', 100)}, Outcome::kRefused, {}, 9221},
  };
  RunRows(rows);
}

// The index header and every field of the descriptors of the primary, a
// non-unique and a unique secondary index; the pages themselves.
TEST_F(TableRepairTest, IndexFile) {
  const std::vector<Row> rows = {
      {"change counter", {Xor('I', 0, {0xFF})}, Outcome::kKept},
      {"unused bytes", {Set('I', 4, {1, 2, 3, 4})}, Outcome::kKept},
      {"version", {Set('I', 8, {2})}, Outcome::kRefused, {}, 12035},
      {"header zeroed", {Zero('I', 0, 4096)}, Outcome::kRefused, {}, 12035},
      {"end offset", {Xor('I', 9, {0, 0x30})}, Outcome::kKept},
      {"secondary count zeroed", {Set('I', 13, {0})}, Outcome::kKept, {}, 0,
       "Invalid secondary index count in index file header, error fixed"},
      {"secondary count 0xFF", {Set('I', 13, {0xFF})}, Outcome::kKept, {}, 0,
       "Invalid secondary index count in index file header, error fixed"},
      {"primary name length", {Set('I', Slot(0, 0), {0xFF})}, Outcome::kKept},
      {"primary key size", {Xor('I', Slot(0, 31), {0x01, 0x01})}, Outcome::kKept, {}, 0,
       "Invalid key size of 260 for primary index, error fixed"},
      {"primary descending", {Set('I', Slot(0, 33), {0x80})}, Outcome::kKept},
      {"primary case-insensitive", {Set('I', Slot(0, 34), {1})}, Outcome::kKept},
      {"primary unique flag", {Set('I', Slot(0, 35), {0})}, Outcome::kKept},
      {"primary compression", {Set('I', Slot(0, 36), {1})}, Outcome::kKept},
      {"primary field count", {Set('I', Slot(0, 37), {0xFF})}, Outcome::kKept},
      {"primary field descending", {Set('I', Slot(0, 38), {1})}, Outcome::kKept},
      // The key field of the primary index: unknown, lost, or another field
      // of the same size. Its duplicates would delete sound records.
      {"primary key field unknown", {Xor('I', Slot(0, 55), {0x01})}, Outcome::kRefused, {}, 10023},
      {"primary key field zeroed", {Zero('I', Slot(0, 54), 2)}, Outcome::kRefused, {}, 10023},
      {"primary key field 2 zeroed bytes", {Zero('I', Slot(0, 54), 1)}, Outcome::kRefused, {}, 10023},
      {"primary key on the date", {Set('I', Slot(0, 54), {3})}, Outcome::kRefused, {}, 9729},
      {"primary a second key field", {Set('I', Slot(0, 56), {6})}, Outcome::kKept},
      {"primary root and free list", {Xor('I', Slot(0, 86), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}, Outcome::kKept},
      {"primary unused tail", {Xor('I', Slot(0, 100), {0xFF})}, Outcome::kKept},
      {"JDate name", {Set('I', Slot(1, 1), {'9'})}, Outcome::kKept},
      {"JDate key size", {Xor('I', Slot(1, 31), {0x02})}, Outcome::kKept},
      {"JDate unique flag set", {Set('I', Slot(1, 35), {1})}, Outcome::kKept, {}, 0,
       "Invalid unique flag for secondary index JDate, error fixed"},
      {"JDate unique flag 0xFF", {Set('I', Slot(1, 35), {0xFF})}, Outcome::kKept},
      {"JDate field count zeroed", {Zero('I', Slot(1, 37), 1)}, Outcome::kKept},
      {"JDate key on the name", {Set('I', Slot(1, 54), {2})}, Outcome::kKept},
      {"JDate key field unknown", {Set('I', Slot(1, 55), {0x40})}, Outcome::kEither},
      {"UNum unique flag cleared", {Set('I', Slot(2, 35), {0})}, Outcome::kKept, {}, 0,
       "Invalid unique flag for secondary index UNum, error fixed"},
      {"UNum key on CategoryFK (all null)", {Set('I', Slot(2, 54), {7})}, Outcome::kRefused, {}, 9729},
      {"UNum key on the name", {Set('I', Slot(2, 54), {2})}, Outcome::kKept},
      {"UNum key field unknown", {Set('I', Slot(2, 54), {0x33})}, Outcome::kRefused, {}, 10023},
      {"UNum a field beyond its count", {Set('I', Slot(2, 56), {3})}, Outcome::kKept, {}, 0,
       "Invalid field list for secondary index UNum, error fixed"},
      // A definition (more than two bytes set) after an empty slot: which of
      // them is damaged nothing tells. One or two stray bytes are no
      // definition.
      {"an unused slot filled", {Set('I', Slot(5, 0), {3, 'X', 'Y', 'Z'})}, Outcome::kRefused, {}, 8965},
      {"a stray byte in an unused slot", {Set('I', Slot(5, 40), {0x41})}, Outcome::kKept},
      {"two stray bytes in the slot after the last", {Set('I', Slot(3, 0), {5}), Set('I', Slot(3, 95), {0x6B})},
       Outcome::kKept},
      {"a stray byte in slot 32", {Set('I', Slot(32, 7), {9})}, Outcome::kKept},
      {"primary key size zeroed", {Zero('I', Slot(0, 31), 2)}, Outcome::kKept},
      {"Sys Deleted slot", {Xor('I', Slot(31, 31), {0xFF})}, Outcome::kKept},
      {"record count", {Xor('I', 3974, {0xFF})}, Outcome::kKept},
      {"no-primary flag set", {Set('I', 3978, {1})}, Outcome::kKept, {}, 0,
       "Invalid primary index flag in index file header, error fixed"},
      {"unused header tail", {Xor('I', 4000, {0xFF})}, Outcome::kKept},
      {"every page damaged", {Xor('I', 4096 + 20, {0xFF, 0xFF, 0xFF}), Xor('I', 8192 + 7, {0x10})}, Outcome::kKept},
      {"cut to the header", {Cut('I', 4096)}, Outcome::kKept},
      {"cut inside the header", {Cut('I', 1000)}, Outcome::kRefused, {}, 9221},
  };
  RunRows(rows);
}

// The BLOB header and every field of a chain's first block; cuts.
TEST_F(TableRepairTest, BlobFile) {
  const std::size_t b3 = FirstBlock(3);
  const std::size_t b6 = FirstBlock(6);
  std::set<int> with_memo;
  for (const auto& [id, e] : model_) {
    if (!e.memo.empty()) with_memo.insert(record_of_.at(static_cast<int>(id)));
  }
  const std::vector<Row> rows = {
      {"change counter", {Xor('B', 0, {0xFF})}, Outcome::kKept},
      {"version", {Set('B', 8, {9})}, Outcome::kKept},
      {"free-list head", {Set('B', 9, {0x00, 0x02, 0, 0})}, Outcome::kKept},
      {"end offset", {Xor('B', 13, {0, 0, 0x40})}, Outcome::kKept},
      {"unused header bytes", {Xor('B', 100, {0xFF})}, Outcome::kKept},
      {"previous link", {Xor('B', b3 + kBlockPrev, {0x00, 0x04})}, Outcome::kKept, {3}},
      {"next link", {Xor('B', b3 + kBlockNext, {0x00, 0x30})}, Outcome::kKept, {3}},
      {"bytes used", {Xor('B', b3 + kBlockUsed, {0x08})}, Outcome::kKept, {3}},
      {"owner", {Xor('B', b3 + kBlockRecord, {0x01})}, Outcome::kKept, {3}},
      {"owner of another record", {Set('B', b6 + kBlockRecord, {3})}, Outcome::kKept, {6}},
      {"total length", {Xor('B', b3 + kBlockTotal, {0x01})}, Outcome::kKept, {3}},
      {"data byte", {Xor('B', b3 + 40, {0xFF})}, Outcome::kKept, {3}},
      {"cut to the header", {Cut('B', 512)}, Outcome::kKept, with_memo},
      {"cut inside the header", {Cut('B', 300)}, Outcome::kKept, with_memo},
      {"cut in a block", {Cut('B', b6 + 100)}, Outcome::kEither, with_memo},
  };
  RunRows(rows);
}

// Index definitions that can't be read, given by the caller: the index
// file is built from them and every record is kept. The same rows refuse
// without them (IndexFile).
TEST_F(TableRepairTest, IndexDefinitionsImposedByTheCaller) {
  const std::string rebuilt = "Invalid index definitions in index file header, error fixed - rebuilt from the table definition";
  const std::vector<Row> rows = {
      {"undamaged", {}, Outcome::kKept},
      {"version", {Set('I', 8, {2})}, Outcome::kKept, {}, 0, rebuilt},
      {"header zeroed", {Zero('I', 0, 4096)}, Outcome::kKept, {}, 0, rebuilt},
      {"cut inside the header", {Cut('I', 1000)}, Outcome::kKept, {}, 0, rebuilt},
      {"cut to nothing", {Cut('I', 0)}, Outcome::kKept, {}, 0, rebuilt},
      {"primary key field unknown", {Xor('I', Slot(0, 55), {0x01})}, Outcome::kKept, {}, 0, rebuilt},
      {"primary key field zeroed", {Zero('I', Slot(0, 54), 2)}, Outcome::kKept, {}, 0, rebuilt},
      {"primary key on the date", {Set('I', Slot(0, 54), {3})}, Outcome::kKept, {}, 0, rebuilt},
      {"JDate key field unknown", {Set('I', Slot(1, 55), {0x40})}, Outcome::kKept, {}, 0, rebuilt},
      {"UNum key on CategoryFK (all null)", {Set('I', Slot(2, 54), {7})}, Outcome::kKept, {}, 0, rebuilt},
      {"UNum key field unknown", {Set('I', Slot(2, 54), {0x33})}, Outcome::kKept, {}, 0, rebuilt},
      {"an unused slot filled", {Set('I', Slot(5, 0), {3, 'X', 'Y', 'Z'})}, Outcome::kKept, {}, 0, rebuilt},
  };
  RunRows(rows, CatalogueIndexes(true));

  // A unique index the caller does not impose would delete a record for a
  // duplicate key (its definition may be the damage): the imposed ones
  // are used and the record stays.
  auto dat = ReadBytes(Path("pristine/t.dat"));
  const std::uint8_t another[] = {1, 0xEB, 0x03, 0, 0};  // Type1Num 1003, record 3's
  std::memcpy(&dat[Record(7) + number_offset_], another, sizeof(another));
  WriteBytes(Path("pristine/t.dat"), dat);
  std::vector<std::string> log;
  ExclusiveTable t(Path("pristine/t.dat"));
  t.SetOnRepairLog([&](TDataFile&, std::string_view l) { log.emplace_back(l); });
  t.RepairDataTable(CatalogueIndexes());
  EXPECT_EQ(log, std::vector<std::string>{rebuilt});
  const Model got = ReadTable(Path("pristine/t.dat"));
  EXPECT_EQ(got.size(), model_.size());
  const auto check = CheckTables({Path("pristine/t.dat")});
  EXPECT_EQ(check.status, 0) << check.output;
}

// Records of every status byte: live (0) ones keep their keys and memos;
// deleted ones (1), whether on the free list or not, and ones of any other
// status go to the free list, pushed in ascending record order (so the
// list runs down from the last), with their keys in "Sys Deleted" and their
// memos freed.
TEST_F(TableRepairTest, RecordsOfEveryStatusByte) {
  const std::string name = Path("s.dat");
  Create(name, CatalogueLayout(true));
  Model live;
  {
    auto t = OpenTable(name);
    std::mt19937 rng(5);
    for (int i = 1; i <= 8; ++i) {
      Entry e = InsertEntry(*t, "s" + std::to_string(i), 2000 + i, MemoBytes(rng, 300), 738000);
      if (i == 1 || i == 4) live[e.id] = e;
    }
    for (std::uint32_t position : {2u, 4u}) {  // IDs 2 and 5: on the free list
      t->SetRecordPosition(position);
      t->DeleteRecord();
    }
  }
  const std::size_t size = OpenTable(name)->RecordSize();
  auto dat = ReadBytes(name);
  const std::size_t start = 127 + kDesc * 7;
  const std::pair<int, std::uint8_t> statuses[] = {{3, 1}, {6, 2}, {7, 0x80}, {8, 0xFF}};
  for (const auto& [n, status] : statuses) dat[start + static_cast<std::size_t>(n - 1) * size] = status;
  WriteBytes(name, dat);
  {
    ExclusiveTable t(name);
    t.RepairDataTable();
  }
  EXPECT_EQ(ReadTable(name), live);
  const auto check = CheckTables({name});
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_TRUE(tooltest::HasLine(check.output, "records total 8 active 2 deleted 6 chain 6")) << check.output;
  dat = ReadBytes(name);
  std::vector<std::uint32_t> chain;
  for (std::uint32_t n = LoadLittle<std::uint32_t>(&dat[9]); n != 0 && chain.size() < 8;
       n = LoadLittle<std::uint32_t>(&dat[start + (n - 1) * size + 1]))
    chain.push_back(n);
  EXPECT_EQ(chain, (std::vector<std::uint32_t>{8, 7, 6, 5, 3, 2}));
  // "Sys Deleted": the status (00 live, 01 deleted) and the ID's key form
  // (sign bit flipped), one entry per slot.
  const auto keys = tooltest::RunTool("idxcheck.py", Path("s.IDX"), "--dump 31");
  for (std::uint32_t n = 1; n <= 8; ++n) {
    const bool on = n == 1 || n == 4;
    char line[32];
    std::snprintf(line, sizeof(line), "%s800000%02x %u", on ? "00" : "01", n, n);
    EXPECT_TRUE(tooltest::HasLine(keys.output, line)) << line << "\n" << keys.output;
  }
}

TEST_F(TableRepairTest, PreconditionsAndTablesWithoutFiles) {
  const std::string dat = Path("pristine/t.dat");
  const auto before = ReadBytes(dat);
  {
    auto t = OpenTable(dat);
    EXPECT_EQ(datatest::CodeOf([&] { t->RepairDataTable(); }), 10031);  // open
  }
  TDataFile t;
  t.SetFileName(dat);
  EXPECT_EQ(datatest::CodeOf([&] { t.RepairDataTable(); }), 10253);  // not exclusive
  t.SetExclusive(true);
  t.SetReadOnly(true);
  EXPECT_EQ(datatest::CodeOf([&] { t.RepairDataTable(); }), 11013);
  EXPECT_EQ(ReadBytes(dat), before);
  // An empty table fires no event; an in-memory table is left as it is.
  Create(Path("e.dat"), CatalogueLayout(true));
  ExclusiveTable e(Path("e.dat"));
  int events = 0;
  e.SetOnRepairProgress([&](TDataFile&, int, std::uint16_t) { ++events; });
  e.SetOnRepairLog([&](TDataFile&, std::string_view) { ++events; });
  e.RepairDataTable();
  EXPECT_EQ(events, 0);
  EXPECT_EQ(CheckTables({Path("e.dat")}).status, 0);
  TDataFile m;
  m.SetInMemory(true);
  m.SetFileName("nowhere.dat");
  m.RepairDataTable();
}

// The same damage through the scrambling of an encrypted table, and in a
// table without a primary key (no "Sys Deleted" keys, no slot reuse): 10
// stray bytes at the end and a wrong record count.
TEST_F(TableRepairTest, EncryptedAndKeylessTables) {
  for (const auto& [encrypted, keyless] : {std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
    SCOPED_TRACE(std::string(encrypted ? "encrypted" : "plain") + (keyless ? ", no primary key" : ""));
    DataTableDefinition def = CatalogueLayout(true);
    def.fields[0] = datatest::Field(1, "RecordNum", FieldType::kInteger);
    if (keyless) {
      def.primary = TIndexDescriptor();
      def.allow_empty_primary = true;
    }
    def.encrypted = encrypted;
    def.password = encrypted ? "pw" : "";
    CurrentSession()->AddPassword("pw");
    const std::string name = Path(std::string("k") + (encrypted ? "e" : "") + (keyless ? "k" : "") + ".dat");
    Create(name, def);
    Model model;
    {
      auto t = OpenTable(name);
      std::mt19937 rng(3);
      for (int i = 1; i <= 8; ++i) {
        Rec r(*t);
        r.Num<std::int32_t>(1, i).Str(kName, "n" + std::to_string(i)).Num<std::int32_t>(kNumber, i);
        PutMemo(*t, r, MemoBytes(rng, 300 * static_cast<std::size_t>(i)));
        t->InsertRecord(r.span());
        t->FreeBlobBuffers();
      }
    }
    auto bytes = ReadBytes(name);
    bytes.insert(bytes.end(), 10, 0x11);
    bytes[13] = 0x20;
    WriteBytes(name, bytes);
    std::vector<std::string> log;
    ExclusiveTable t(name);
    t.SetOnRepairLog([&](TDataFile&, std::string_view l) { log.emplace_back(l); });
    t.RepairDataTable();
    EXPECT_EQ(log, (std::vector<std::string>{"Physical records not aligned on even record size boundaries, error fixed",
                                             "Physical record count not correct, error fixed"}));
    const auto check = CheckTables({name});
    EXPECT_EQ(check.status, 0) << check.output;
    auto reopened = OpenTable(name);
    EXPECT_EQ(reopened->RecordCount(), 8u);
  }
}

// Only a record's own bytes may cost it: a failure of the engine in the
// middle of the record pass ends the repair with that error, and the
// table is as it was, temporary files and all.
TEST_F(TableRepairTest, AnEngineFailureInThePassChangesNothing) {
  auto dat = ReadBytes(Path("pristine/t.dat"));
  dat[13] ^= 0x40;  // something to mend
  WriteBytes(Path("pristine/t.dat"), dat);
  const Files before = FolderFiles(Path("pristine"));
  SetTableStepHook([](std::string_view point) {
    if (point == "repair record") EngineError(ErrorCode::kCorruptIndex, "t.dat");
  });
  ExclusiveTable t(Path("pristine/t.dat"));
  const int code = datatest::CodeOf([&] { t.RepairDataTable(); });
  SetTableStepHook(nullptr);
  EXPECT_EQ(code, 8965);
  EXPECT_EQ(FolderFiles(Path("pristine")), before);
}

}  // namespace
}  // namespace storage::trialtest
