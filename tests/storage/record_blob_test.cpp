// BLOB fields through the data file: memos and pictures of random sizes
// round-trip through insert, modify and delete; deleting frees every block
// (the independent BLOB reader must find them all on the free list); the
// field operations' result codes; only a record's own open values are
// written into it, a stale handle never becomes a file offset, and no two
// records (nor a record and the free list) ever share a block.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;

class RecordBlobTest : public datatest::DataFileTestBase {
 protected:
  // ID integer (primary), Memo BLOB (memo), Picture BLOB (graphic),
  // Name string[10].
  std::unique_ptr<TDataFile> MakeTable(bool exclusive = true) {
    DataTableDefinition def = Definition({Field(1, "ID", FieldType::kInteger),
                                          Field(2, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo),
                                          Field(3, "Picture", FieldType::kBlob, 0, FieldSubtype::kGraphic),
                                          Field(4, "Name", FieldType::kString, 10)});
    Create(Path("b.dat"), def);
    return OpenTable(Path("b.dat"), exclusive);
  }
  static std::vector<std::uint8_t> Bytes(std::mt19937& rng, int n) {
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
  }
  // Replaces the whole value of field n in r (opened first).
  static void Put(TDataFile& t, Rec& r, int n, const std::vector<std::uint8_t>& v) {
    ASSERT_EQ(t.OpenBlobField(false, n, r.span()), 0);
    ASSERT_EQ(t.TruncateBlobField(false, n, 0, r.span()), 0);
    if (!v.empty()) {
      ASSERT_EQ(t.WriteBlobField(false, n, v.data(), 0, static_cast<std::int32_t>(v.size()), r.span()), 0);
    }
  }
  static std::vector<std::uint8_t> Get(TDataFile& t, Rec& r, int n) {
    EXPECT_EQ(t.OpenBlobField(false, n, r.span()), 0);
    std::int32_t size = -1;
    EXPECT_EQ(t.GetBlobFieldSize(false, n, size, r.span()), 0);
    std::vector<std::uint8_t> v(static_cast<std::size_t>(std::max(size, 0)));
    std::int32_t got = 0;
    if (size > 0) {
      EXPECT_EQ(t.ReadBlobField(false, n, got, 0, v.data(), size, r.span()), 0);
    }
    EXPECT_EQ(t.CloseBlobField(false, n, r.span()), 0);
    return v;
  }
  static void CloseAll(TDataFile& t, Rec& r) {
    for (int n : {2, 3}) {
      if (t.IsBlobFieldOpen(false, n, r.span())) {
        EXPECT_EQ(t.CloseBlobField(false, n, r.span()), 0);
      }
    }
  }
  // blbcheck over the live values of the (closed) table: every block in a
  // chain or on the free list. Returns the "chain" lengths by offset.
  void CheckBlobFile(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& chains,
                     std::map<std::uint32_t, std::uint32_t>* lengths = nullptr) {
    std::string cmd = std::string("python3 ") + TOLMID_TOOLS_DIR + "/blbcheck.py '" + Path("b.BLB") + "' 512";
    for (auto [offset, record] : chains) cmd += " " + std::to_string(offset) + ":" + std::to_string(record);
    cmd += " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    std::size_t k;
    while ((k = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, k);
    const int st = pclose(p);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << out;
    if (lengths != nullptr) {
      std::istringstream in(out);
      std::string word;
      std::uint32_t offset, length;
      std::string l;
      while (in >> word) {
        if (word == "chain" && in >> offset >> l >> length) (*lengths)[offset] = length;
      }
    }
  }
};

TEST_F(RecordBlobTest, RandomValuesRoundTripAndDeletesFreeTheirBlocks) {
  std::mt19937 rng(42);
  auto t = MakeTable();
  struct Live {
    std::vector<std::uint8_t> memo, picture;
  };
  std::map<std::int32_t, Live> model;
  auto size = [&] {
    const int kind = static_cast<int>(rng() % 4);
    return kind == 0 ? 0 : kind == 1 ? static_cast<int>(rng() % 494) + 1
                                    : static_cast<int>(rng() % (kind == 2 ? 3000 : 40000));
  };
  for (int step = 0; step < 300; ++step) {
    const int op = static_cast<int>(rng() % 10);
    if (op < 5 || model.empty()) {
      const std::int32_t id = static_cast<std::int32_t>(rng() % 100000);
      if (model.count(id)) continue;
      Live v{Bytes(rng, size()), Bytes(rng, size())};
      Rec r(*t);
      r.Num<std::int32_t>(1, id);
      Put(*t, r, 2, v.memo);
      Put(*t, r, 3, v.picture);
      t->InsertRecord(r.span());
      CloseAll(*t, r);
      model[id] = v;
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      Rec key(*t);
      key.Num<std::int32_t>(1, it->first);
      ASSERT_TRUE(t->GotoKey(false, key.bytes.data(), 0, false, 0, {}));
      Rec r(*t);
      ASSERT_EQ(t->ReadCurrentRecord(r.span(), true), 0);
      EXPECT_EQ(Get(*t, r, 2), it->second.memo);
      EXPECT_EQ(Get(*t, r, 3), it->second.picture);
      if (op < 8) {
        const int which = static_cast<int>(rng() % 2) + 2;
        auto v = Bytes(rng, size());
        Put(*t, r, which, v);
        t->ModifyRecord(r.span(), true);
        CloseAll(*t, r);
        (which == 2 ? it->second.memo : it->second.picture) = v;
      } else {
        t->DeleteRecord();
        model.erase(it);
      }
    }
  }
  // Every value once more from the file, then the file itself.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
  std::map<std::uint32_t, std::uint32_t> expected_length;
  EXPECT_EQ(t->MoveToBegin(), 0);
  Rec r(*t);
  while (t->ReadNextRecord(r.span()) == 0) {
    const auto& live = model.at(*r.GetNum<std::int32_t>(1));
    EXPECT_EQ(Get(*t, r, 2), live.memo);
    EXPECT_EQ(Get(*t, r, 3), live.picture);
    for (int n : {2, 3}) {
      const auto offset = r.GetNum<std::uint32_t>(n);
      const auto& value = n == 2 ? live.memo : live.picture;
      EXPECT_EQ(offset.has_value(), !value.empty());
      if (offset) {
        chains.emplace_back(*offset, t->CurrentRecord()->RecordNumber());
        expected_length[*offset] = static_cast<std::uint32_t>(value.size());
      }
    }
  }
  EXPECT_EQ(t->RecordCount(), model.size());
  t->Close();
  std::map<std::uint32_t, std::uint32_t> lengths;
  CheckBlobFile(chains, &lengths);
  EXPECT_EQ(lengths, expected_length);
}

TEST_F(RecordBlobTest, DeletingEveryRecordLeavesOnlyFreeBlocks) {
  std::mt19937 rng(7);
  auto t = MakeTable(false);  // shared: through the write and BLOB locks
  for (int i = 1; i <= 20; ++i) {
    Rec r(*t);
    r.Num<std::int32_t>(1, i);
    Put(*t, r, 2, Bytes(rng, 513 * i));  // several blocks each
    t->InsertRecord(r.span());
    CloseAll(*t, r);
  }
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(t->MoveToBegin(), 0);
    Rec r(*t);
    ASSERT_EQ(t->ReadNextRecord(r.span()), 0);
    t->DeleteRecord();
  }
  EXPECT_EQ(t->RecordCount(), 0u);
  t->Close();
  CheckBlobFile({});
}

TEST_F(RecordBlobTest, FieldOperationsReturnTheirCodes) {
  auto t = MakeTable();
  Rec r(*t);
  r.Num<std::int32_t>(1, 1);
  // Not a BLOB field; not open.
  EXPECT_EQ(t->OpenBlobField(false, 4, r.span()), 10753);
  EXPECT_EQ(t->CloseBlobField(false, 2, r.span()), 10030);
  std::int32_t got = -1;
  std::uint8_t buf[16];
  EXPECT_EQ(t->ReadBlobField(false, 2, got, 0, buf, 4, r.span()), 10030);
  // Opening twice keeps the first handle.
  ASSERT_EQ(t->OpenBlobField(false, 2, r.span()), 0);
  const auto handle = r.GetNum<std::int32_t>(2);
  EXPECT_FALSE(handle.has_value());  // empty open value: blank
  ASSERT_EQ(t->WriteBlobField(false, 2, "hello", 0, 5, r.span()), 0);
  EXPECT_TRUE(r.GetNum<std::int32_t>(2).has_value());
  std::int32_t raw;
  std::memcpy(&raw, r.bytes.data() + t->GetFieldDescriptor(false, 2).Offset + 1, 4);
  ASSERT_EQ(t->OpenBlobField(false, 2, r.span()), 0);
  std::int32_t raw2;
  std::memcpy(&raw2, r.bytes.data() + t->GetFieldDescriptor(false, 2).Offset + 1, 4);
  EXPECT_EQ(raw, raw2);
  EXPECT_LT(raw, 0);
  // A read past the end: 8711 with what was there.
  EXPECT_EQ(t->ReadBlobField(false, 2, got, 3, buf, 10, r.span()), 8711);
  EXPECT_EQ(got, 2);
  EXPECT_EQ(t->ReadBlobField(false, 2, got, 9, buf, 1, r.span()), 8711);
  EXPECT_EQ(got, 0);
  t->InsertRecord(r.span());
  ASSERT_EQ(t->CloseBlobField(false, 2, r.span()), 0);
  const auto offset = r.GetNum<std::uint32_t>(2);
  ASSERT_TRUE(offset.has_value());
  // Written and closed without posting: the value and offset stay.
  Rec e(*t);
  ASSERT_EQ(t->ReadCurrentRecord(e.span(), true), 0);
  Put(*t, e, 2, std::vector<std::uint8_t>(3000, 1));
  ASSERT_EQ(t->CloseBlobField(false, 2, e.span()), 0);
  EXPECT_EQ(e.GetNum<std::uint32_t>(2), offset);
  EXPECT_EQ(Get(*t, e, 2), (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  t->UnlockRecord(0);
  // The 65th open value of a table: 9494.
  std::vector<Rec> many;
  for (int i = 0; i < 64; ++i) {
    many.emplace_back(*t);
    ASSERT_EQ(t->OpenBlobField(false, 3, many.back().span()), 0);
  }
  Rec extra(*t);
  EXPECT_EQ(t->OpenBlobField(false, 3, extra.span()), 9494);
  t->FreeBlobBuffers();
}

TEST_F(RecordBlobTest, OnlyTheRecordsOwnValuesAreWrittenAndStaleHandlesAreNoOffsets) {
  auto t = MakeTable();
  // Two records edited at once, each with a modified open value: posting
  // the first writes only its own.
  Rec a(*t), b(*t);
  a.Num<std::int32_t>(1, 1);
  b.Num<std::int32_t>(1, 2);
  Put(*t, a, 2, std::vector<std::uint8_t>(700, 'a'));
  Put(*t, b, 2, std::vector<std::uint8_t>(900, 'b'));
  t->InsertRecord(a.span());
  t->InsertRecord(b.span());
  CloseAll(*t, a);
  CloseAll(*t, b);
  // A stale handle: the buffer still holds the negated handle of a value
  // that was closed. Posting it keeps the stored offset.
  Rec key(*t);
  key.Num<std::int32_t>(1, 1);
  ASSERT_TRUE(t->GotoKey(false, key.bytes.data(), 0, false, 0, {}));
  Rec e(*t);
  ASSERT_EQ(t->ReadCurrentRecord(e.span(), true), 0);
  const auto offset = e.GetNum<std::uint32_t>(2);
  ASSERT_EQ(t->OpenBlobField(false, 2, e.span()), 0);
  Rec stale = e;
  ASSERT_EQ(t->CloseBlobField(false, 2, e.span()), 0);
  stale.Str(4, std::string("changed"));
  t->ModifyRecord(stale.span(), true);
  Rec back(*t);
  ASSERT_EQ(t->ReadCurrentRecord(back.span(), false), 0);
  EXPECT_EQ(back.GetStr(4), "changed");
  EXPECT_EQ(back.GetNum<std::uint32_t>(2), offset);
  EXPECT_EQ(Get(*t, back, 2), std::vector<std::uint8_t>(700, 'a'));
  // A stale handle in a new record: no value at all.
  Rec fresh(*t);
  fresh.Num<std::int32_t>(1, 3);
  ASSERT_EQ(t->OpenBlobField(false, 3, fresh.span()), 0);
  Rec stale2 = fresh;
  ASSERT_EQ(t->CloseBlobField(false, 3, fresh.span()), 0);
  t->InsertRecord(stale2.span());
  ASSERT_EQ(t->ReadCurrentRecord(back.span(), false), 0);
  EXPECT_FALSE(back.GetNum<std::uint32_t>(3).has_value());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
  EXPECT_EQ(t->MoveToBegin(), 0);
  while (t->ReadNextRecord(back.span()) == 0) {
    if (auto o = back.GetNum<std::uint32_t>(2)) chains.emplace_back(*o, t->CurrentRecord()->RecordNumber());
  }
  t->Close();
  CheckBlobFile(chains);
}

// A value left open on a record's chain while the record is deleted: the
// chain goes to the free list, and the open value lets go of it. Posted
// for a new record in the very slot (same physical record number), it is
// written to a new chain instead of naming blocks on the free list.
TEST_F(RecordBlobTest, AValueOpenOnAFreedChainNeverNamesIt) {
  auto t = MakeTable();
  Rec a(*t);
  a.Num<std::int32_t>(1, 1);
  Put(*t, a, 2, std::vector<std::uint8_t>(700, 'a'));
  t->InsertRecord(a.span());
  CloseAll(*t, a);
  Rec e(*t);
  ASSERT_EQ(t->ReadCurrentRecord(e.span(), true), 0);
  ASSERT_EQ(t->OpenBlobField(false, 2, e.span()), 0);  // on record 1's chain
  const std::uint32_t slot = t->CurrentRecord()->RecordNumber();
  t->DeleteRecord();
  e.Num<std::int32_t>(1, 2);
  t->InsertRecord(e.span());  // reuses the slot
  EXPECT_EQ(t->CurrentRecord()->RecordNumber(), slot);
  CloseAll(*t, e);
  Rec b(*t);
  b.Num<std::int32_t>(1, 3);
  Put(*t, b, 2, std::vector<std::uint8_t>(1200, 'b'));  // takes the free blocks
  t->InsertRecord(b.span());
  CloseAll(*t, b);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> chains;
  EXPECT_EQ(t->MoveToBegin(), 0);
  Rec r(*t);
  while (t->ReadNextRecord(r.span()) == 0) {
    const std::int32_t id = *r.GetNum<std::int32_t>(1);
    EXPECT_EQ(Get(*t, r, 2), std::vector<std::uint8_t>(id == 2 ? 700 : 1200, id == 2 ? 'a' : 'b'));
    chains.emplace_back(*r.GetNum<std::uint32_t>(2), t->CurrentRecord()->RecordNumber());
  }
  t->Close();
  CheckBlobFile(chains);
}

// A chain shorter than its stored length: opening the field returns 8711
// and opens nothing; the record buffer keeps its offset.
TEST_F(RecordBlobTest, OpeningAShortChainReturns8711) {
  auto t = MakeTable();
  Rec a(*t);
  a.Num<std::int32_t>(1, 1);
  Put(*t, a, 2, std::vector<std::uint8_t>(1000, 'a'));
  t->InsertRecord(a.span());
  CloseAll(*t, a);
  t->Close();
  auto blb = ReadBytes(Path("b.BLB"));
  ASSERT_GT(blb.size(), 512u + 14 + 4);
  blb[512 + 14 + 1] = 0x20;  // total length 1000 (0x03E8) -> 8424 (0x20E8)
  WriteBytes(Path("b.BLB"), blb);
  t = OpenTable(Path("b.dat"));
  EXPECT_EQ(t->MoveToBegin(), 0);
  Rec r(*t);
  ASSERT_EQ(t->ReadNextRecord(r.span()), 0);
  const auto before = r.bytes;
  EXPECT_EQ(t->OpenBlobField(false, 2, r.span()), 8711);
  EXPECT_EQ(r.bytes, before);
  EXPECT_FALSE(t->IsBlobFieldOpen(false, 2, r.span()));
}

}  // namespace
}  // namespace storage::rectest
