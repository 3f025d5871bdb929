// BLOB fields through the data file where the SQLite model test does not
// reach: the field operations' result codes; only a record's own open
// values are written into it, a stale handle never becomes a file offset,
// and no two records (nor a record and the free list) ever share a block.
#include <gtest/gtest.h>


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
  // Replaces the whole value of field n in r (opened first).
  static void Put(TDataFile& t, Rec& r, int n, const std::vector<std::uint8_t>& v) { PutBlob(t, r, n, v); }
  static std::vector<std::uint8_t> Get(TDataFile& t, Rec& r, int n) { return GetBlob(t, r, n); }
  static void CloseAll(TDataFile& t, Rec& r) {
    for (int n : {2, 3}) {
      if (t.IsBlobFieldOpen(false, n, r.span())) {
        EXPECT_EQ(t.CloseBlobField(false, n, r.span()), 0);
      }
    }
  }
  // blbcheck over the live values of the (closed) table: every block in a
  // chain or on the free list.
  void CheckBlobFile(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& chains) {
    std::string extra = "512";
    for (auto [offset, record] : chains) extra += " " + std::to_string(offset) + ":" + std::to_string(record);
    const auto r = datatest::RunTool("blbcheck.py", Path("b.BLB"), extra);
    EXPECT_EQ(r.status, 0) << r.output;
  }
};

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
