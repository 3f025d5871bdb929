// Data file creation and the bytes it writes: header and descriptors
// against the layout, the independent checker, the definition rules (each
// refused definition leaves nothing behind), encrypted tables, emptying,
// names.
#include <random>
#include <set>

#include "framework/sysutils.h"
#include "storage/scrambler.h"
#include "tests/common/error_text.h"
#include "tests/storage/data_file_test_support.h"

namespace storage {
namespace {

using namespace datatest;

using DataFileTest = DataFileTestBase;
std::uint16_t U16At(const std::vector<std::uint8_t>& b, std::size_t o) { return LoadLittle<std::uint16_t>(&b[o]); }
std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t o) { return LoadLittle<std::uint32_t>(&b[o]); }

// The descriptor image written by hand from the layout.
std::array<std::uint8_t, 768> ExpectedDescriptor(std::uint16_t number, const std::string& name,
                                                 std::uint8_t type, std::uint8_t sub,
                                                 std::uint8_t size, std::uint8_t phys,
                                                 std::uint16_t offset) {
  std::array<std::uint8_t, 768> d{};
  d[0] = number & 0xFF;
  d[1] = number >> 8;
  d[2] = static_cast<std::uint8_t>(name.size());
  std::memcpy(&d[3], name.data(), name.size());
  d[84] = type;
  d[85] = sub;
  d[86] = size;
  d[88] = phys;
  d[90] = offset & 0xFF;
  d[91] = offset >> 8;
  return d;
}

TEST_F(DataFileTest, NewFileMatchesTheLayoutByteForByte) {
  DataTableDefinition def =
      Definition({AutoInc(1, "RecordNum"), Field(2, "  Name ", FieldType::kString, 10)});
  def.description = "Catalogue";
  def.language = 0x0409;
  Create(Path("t1"), def);

  const auto b = ReadBytes(Path("t1.DAT"));
  ASSERT_EQ(b.size(), 127u + 768u * 2);
  EXPECT_EQ(U32At(b, 0), 1u);     // one header write at creation
  EXPECT_EQ(U32At(b, 4), 512u);   // BLOB block size
  EXPECT_EQ(b[8], 3);             // version
  EXPECT_EQ(U32At(b, 9), 0u);     // free head
  EXPECT_EQ(U32At(b, 13), 1u);    // next record
  EXPECT_EQ(U32At(b, 17), 0u);    // last ID
  EXPECT_EQ(U16At(b, 21), 21);    // 9 + (11 + 1); the auto-increment takes no room
  EXPECT_EQ(U16At(b, 23), 2);
  EXPECT_EQ(U16At(b, 25), 0);
  EXPECT_EQ(b[35], 9);
  EXPECT_EQ(std::string(&b[36], &b[45]), "Catalogue");
  EXPECT_EQ(b[86], 0);
  EXPECT_EQ(b[87], 0);  // no password
  EXPECT_EQ(U16At(b, 103), 0x0409);
  EXPECT_EQ(U16At(b, 105), 0);
  EXPECT_EQ(U16At(b, 107), 1);
  EXPECT_EQ(U16At(b, 109), 0);
  EXPECT_EQ(U16At(b, 111), 0);
  for (std::size_t o = 113; o < 127; ++o) EXPECT_EQ(b[o], 0) << o;
  // The update time: the framework's day number less 693594.
  double stamp;
  std::memcpy(&stamp, &b[27], 8);
  EXPECT_NEAR(stamp, fw::Now() - 693594.0, 1.0);

  const auto d1 = ExpectedDescriptor(1, "RecordNum", 6, 29, 0, 4, 5);
  const auto d2 = ExpectedDescriptor(2, "Name", 1, 0, 10, 11, 9);
  EXPECT_TRUE(std::equal(d1.begin(), d1.end(), b.begin() + 127));
  EXPECT_TRUE(std::equal(d2.begin(), d2.end(), b.begin() + 127 + 768));

  const CheckResult c = RunTool("datcheck.py", Path("t1.DAT"));
  EXPECT_EQ(c.status, 0) << c.output;
  EXPECT_TRUE(HasLine(c.output, "record_size 21")) << c.output;
  EXPECT_TRUE(HasLine(c.output, "description Catalogue")) << c.output;
  const CheckResult i = RunTool("idxcheck.py", Path("t1.IDX"));
  EXPECT_EQ(i.status, 0) << i.output;
}

TEST_F(DataFileTest, EveryTypeGetsItsPhysicalSizeAndPackedOffsets) {
  struct Case {
    FieldType type;
    std::uint8_t size;
    std::uint8_t physical;
  };
  const std::vector<Case> cases = {
      {FieldType::kString, 30, 31}, {FieldType::kDate, 7, 4},     {FieldType::kBlob, 0, 4},
      {FieldType::kBoolean, 0, 2},  {FieldType::kSmallInt, 0, 2}, {FieldType::kInteger, 0, 4},
      {FieldType::kFloat, 0, 8},    {FieldType::kCurrency, 0, 8}, {FieldType::kBytes, 17, 17},
      {FieldType::kTime, 0, 4},     {FieldType::kTimestamp, 0, 8}, {FieldType::kWord, 0, 2},
      {FieldType::kLongWord, 0, 4}, {FieldType::kExtended, 0, 10}, {FieldType::kVarBytes, 5, 5},
      {FieldType::kCursor, 9, 0},   {FieldType::kADT, 0, 0},
  };
  std::vector<TFieldDescriptor> fields;
  for (std::size_t i = 0; i < cases.size(); ++i)
    fields.push_back(Field(static_cast<std::uint16_t>(i + 1), "F" + std::to_string(i),
                           cases[i].type, cases[i].size));
  Create(Path("types"), Definition(fields));
  auto t = OpenTable(Path("types"));
  std::uint32_t offset = 9;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TFieldDescriptor& f = t->GetFieldDescriptor(false, static_cast<int>(i + 1));
    EXPECT_EQ(f.PhysicalSize, cases[i].physical) << i;
    EXPECT_EQ(f.Offset, offset) << i;
    offset += cases[i].physical + 1u;
  }
  EXPECT_EQ(t->RecordSize(), offset);
  EXPECT_EQ(t->Header().BlobCount(), 1);
  t->Close();
  const CheckResult c = RunTool("datcheck.py", Path("types.DAT"));
  EXPECT_EQ(c.status, 0) << c.output;
}

TEST_F(DataFileTest, CountersRiseByOnePerHeaderWrite) {
  Create(Path("c"), Definition({Field(1, "A", FieldType::kInteger)}));
  auto t = OpenTable(Path("c"));
  for (std::uint32_t want = 2; want <= 5; ++want) {
    t->WriteHeader();
    EXPECT_EQ(U32At(ReadBytes(Path("c.DAT")), 0), want);
  }
  // A flush with nothing to write writes no header: others see no change.
  t->FlushTable(false);
  EXPECT_EQ(U32At(ReadBytes(Path("c.DAT")), 0), 5u);
  Append(*t, 1, "");
  t->FlushTable(false);
  EXPECT_EQ(U32At(ReadBytes(Path("c.DAT")), 0), 6u);
  t->Close();
}

// ------------------------------------------------------------------ refusals

struct Refusal {
  const char* name;
  std::function<void(DataTableDefinition&)> change;
  int code;
};

TEST_F(DataFileTest, RefusedDefinitionsLeaveNothingBehind) {
  auto many = [](int n, FieldType type, std::uint8_t size) {
    std::vector<TFieldDescriptor> v;
    for (int i = 1; i <= n; ++i)
      v.push_back(Field(static_cast<std::uint16_t>(i), "F" + std::to_string(i), type, size));
    return v;
  };
  const std::vector<Refusal> cases = {
      {"empty password", [](auto& d) { d.encrypted = true; d.password = "   "; }, 10015},
      {"long password", [](auto& d) { d.encrypted = true; d.password = std::string(16, 'p'); }, 10015},
      {"locale", [](auto& d) { d.language = 0x7777; }, 15878},
      {"no fields", [](auto& d) { d.fields.clear(); d.primary = Index("", {}); }, 9492},
      {"1025 fields", [&](auto& d) { d.fields = many(1025, FieldType::kInteger, 0); }, 9492},
      {"31 secondary", [](auto& d) {
         d.secondary.clear();
         for (int i = 0; i < 31; ++i) d.secondary.push_back(Index("I" + std::to_string(i), {2}));
       }, 9487},
      {"block size", [](auto& d) { d.blob_block_size = 63; }, 9498},
      {"block size past 16 bits", [](auto& d) { d.blob_block_size = 65536 + 512; }, 9498},
      {"empty name", [](auto& d) { d.fields[1].Name.Assign("  "); }, 10038},
      {"name with digit", [](auto& d) { d.fields[1].Name.Assign("1abc"); }, 10038},
      {"same name", [](auto& d) { d.fields[1].Name.Assign(" id"); }, 10038},
      {"same number", [](auto& d) { d.fields[1].FieldNumber = 1; }, 10000},
      {"type 0", [](auto& d) { d.fields[1].FieldType = 0; }, 10000},
      {"type 18", [](auto& d) { d.fields[1].FieldType = 18; }, 10000},
      {"type 19", [](auto& d) { d.fields[1].FieldType = 19; }, 10000},
      {"size 251", [](auto& d) { d.fields[1].Size = 251; }, 10000},
      {"bad default", [](auto& d) { d.fields[0].DefaultValue.Assign("abc"); }, 10006},
      {"bad maximum", [](auto& d) { d.fields[0].MaxValue.Assign("1.5x"); }, 10006},
      {"primary field unknown", [](auto& d) { d.primary = Index("", {9}); }, 10023},
      {"primary BLOB", [](auto& d) {
         d.fields.push_back(Field(3, "Memo", FieldType::kBlob));
         d.primary = Index("", {3});
       }, 12292},
      {"primary empty", [](auto& d) { d.primary = Index("", {}); }, 10026},
      {"secondary BLOB", [](auto& d) {
         d.fields.push_back(Field(3, "Memo", FieldType::kBlob));
         d.secondary = {Index("ByMemo", {3})};
       }, 12292},
      {"secondary no fields", [](auto& d) { d.secondary = {Index("Nothing", {})}; }, 10026},
      {"secondary name missing", [](auto& d) { d.secondary = {Index("  ", {2})}; }, 10010},
      {"secondary name digit", [](auto& d) { d.secondary = {Index("9X", {2})}; }, 10022},
      {"secondary name twice", [](auto& d) {
         d.secondary = {Index("ByName", {2}), Index(" byname ", {1})};
       }, 10027},
      {"17 key fields", [&](auto& d) {
         d.fields = many(20, FieldType::kInteger, 0);
         d.primary = Index("", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
         d.secondary = {Index("Wide", {11, 12, 13, 14, 15, 16, 17})};
       }, 9487},
      {"key too long", [&](auto& d) {
         d.fields = many(5, FieldType::kString, 250);
         d.primary = Index("", {1, 2, 3, 4, 5});
       }, 10026},
      {"record ID suffix overflows the key", [&](auto& d) {
         // 4 x 252 + 23 = 1031 bytes; unique it fits, with the suffix not.
         d.fields = many(4, FieldType::kString, 250);
         d.fields.push_back(Field(5, "Tail", FieldType::kBytes, 22));
         d.secondary = {Index("Long", {1, 2, 3, 4, 5}, false)};
       }, 10026},
      {"33 BLOB fields", [&](auto& d) {
         d.fields = many(34, FieldType::kBlob, 0);
         d.fields[0].FieldType = TypeCode(FieldType::kInteger);
       }, 9498},
      {"record too large", [&](auto& d) { d.fields = many(300, FieldType::kString, 250); }, 9477},
  };
  TFileSession* session = CurrentSession();
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool encrypted : {false, true}) {
      DataTableDefinition def =
          Definition({Field(1, "Id", FieldType::kInteger), Field(2, "Name", FieldType::kString, 20)});
      if (encrypted) {
        def.encrypted = true;
        def.password = "secret";
      }
      c.change(def);
      TDataFile t;
      t.SetFileName(Path("bad"));
      t.SetExclusive(true);
      EXPECT_EQ(CodeOf([&] { t.CreateDataTable(def); }), c.code);
      EXPECT_FALSE(t.IsOpen());
      EXPECT_FALSE(std::filesystem::exists(Path("bad.DAT")));
      EXPECT_FALSE(std::filesystem::exists(Path("bad.IDX")));
      EXPECT_EQ(session->Passwords().Count(), 0u);
    }
  }
  // The same holds when the object is not exclusive, or read only.
  TDataFile t;
  t.SetFileName(Path("bad"));
  const DataTableDefinition ok = Definition({Field(1, "Id", FieldType::kInteger)});
  EXPECT_EQ(CodeOf([&] { t.CreateDataTable(ok); }), 10253);
  t.SetExclusive(true);
  t.SetReadOnly(true);
  EXPECT_EQ(CodeOf([&] { t.CreateDataTable(ok); }), 11013);
  EXPECT_FALSE(std::filesystem::exists(Path("bad.DAT")));
}

TEST_F(DataFileTest, FailedCreationRemovesWhatItCreated) {
  // The index file can't be created (a directory has its name): the data
  // file made before it goes again, the directory stays, the password too
  // leaves the session.
  std::filesystem::create_directory(Path("clash.IDX"));
  DataTableDefinition def = Definition({Field(1, "Id", FieldType::kInteger)});
  def.encrypted = true;
  def.password = "pw";
  TDataFile t;
  t.SetFileName(Path("clash"));
  t.SetExclusive(true);
  EXPECT_NE(CodeOf([&] { t.CreateDataTable(def); }), 0);
  EXPECT_FALSE(t.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(Path("clash.DAT")));
  EXPECT_TRUE(std::filesystem::is_directory(Path("clash.IDX")));
  EXPECT_EQ(CurrentSession()->Passwords().Count(), 0u);
  // A table someone else holds is not deleted by a failed re-creation.
  Create(Path("held"), Definition({Field(1, "Id", FieldType::kInteger)}));
  auto other = OpenTable(Path("held"));
  TDataFile again;
  again.SetFileName(Path("held"));
  again.SetExclusive(true);
  EXPECT_NE(CodeOf([&] { again.CreateDataTable(def); }), 0);
  EXPECT_TRUE(std::filesystem::exists(Path("held.DAT")));
  EXPECT_TRUE(std::filesystem::exists(Path("held.IDX")));
  other->Close();
}

// A table made and left open is the table CreateDataTable and Open give:
// the same files once closed, the same state while open (it takes records
// at once), its files gone at close when asked; with BLOB fields too.
TEST_F(DataFileTest, CreatedAndOpenTablesAreThoseCreatedThenOpened) {
  for (const bool blobs : {false, true}) {
    SCOPED_TRACE(blobs);
    DataTableDefinition def = Definition({Field(1, "Id", FieldType::kInteger),
                                          Field(2, "Name", FieldType::kString, 20)});
    if (blobs) def.fields.push_back(Field(3, "Memo", FieldType::kBlob));
    def.secondary = {Index("ByName", {2})};
    const std::string made = Path(blobs ? "m2" : "m1"), opened = Path(blobs ? "o2" : "o1");
    Create(opened, def);
    auto a = OpenTable(opened);
    TDataFile b;
    b.SetFileName(made);
    b.SetExclusive(true);
    b.CreateAndOpenDataTable(def, false);
    ASSERT_TRUE(b.IsOpen());
    EXPECT_EQ(b.CurrentIndexNumber(), a->CurrentIndexNumber());
    EXPECT_EQ(b.Cache().Capacity(), a->Cache().Capacity());
    for (TDataFile* t : {a.get(), &b}) {
      for (std::int32_t i = 3; i >= 1; --i) {
        std::vector<std::byte> rec(t->GetRecordBufferSize());
        t->ApplyDefaultValues(rec);
        t->SetFieldValue(false, 1, false, &i, rec);
        t->SetFieldValue(false, 2, false, ("n" + std::to_string(i)).c_str(), rec);
        t->InsertRecord(rec);
      }
    }
    a->Close();
    b.Close();
    const std::vector<std::uint8_t> da = ReadBytes(opened + ".DAT"), db = ReadBytes(made + ".DAT");
    ASSERT_EQ(da.size(), db.size());
    // The counter and the time of the last header write apart.
    EXPECT_TRUE(std::equal(da.begin() + 35, da.end(), db.begin() + 35));
    EXPECT_EQ(U32At(db, 0), U32At(da, 0));
    EXPECT_EQ(ReadBytes(opened + ".IDX"), ReadBytes(made + ".IDX"));
    TDataFile c;
    c.SetFileName(made);
    c.SetExclusive(true);
    c.DeleteTableFiles();
    c.CreateAndOpenDataTable(def, true);
    c.Close();
    EXPECT_FALSE(std::filesystem::exists(made + ".DAT"));
    EXPECT_FALSE(std::filesystem::exists(made + ".IDX"));
    EXPECT_FALSE(std::filesystem::exists(made + ".BLB"));
  }
}

TEST_F(DataFileTest, RefusalNamesTheFieldInTheMessage) {
  TDataFile t;
  t.SetFileName(Path("big"));
  t.SetExclusive(true);
  const auto def = Definition({Field(1, "Id", FieldType::kInteger), Field(2, "BigCount", FieldType::kLargeInt)});
  EXPECT_EQ(testsupport::ErrorText<ETolmidEngineError>([&] { t.CreateDataTable(def); }),
            "Tolmid Engine Error # 10000 Invalid field definition specified for the field BigCount in data file " +
                Path("big.DAT"));
}

TEST_F(DataFileTest, ValidDefinitionsAtTheLimits) {
  // 30 secondary indexes, 16 key fields together, key of exactly 1034
  // bytes, 32 BLOB fields, valid keyword defaults.
  std::vector<TFieldDescriptor> fields;
  for (int i = 1; i <= 20; ++i)
    fields.push_back(Field(static_cast<std::uint16_t>(i), "F" + std::to_string(i), FieldType::kInteger));
  for (int i = 21; i <= 52; ++i)
    fields.push_back(Field(static_cast<std::uint16_t>(i), "B" + std::to_string(i), FieldType::kBlob));
  fields.push_back(Field(53, "S1", FieldType::kString, 250));
  fields.push_back(Field(54, "S2", FieldType::kString, 250));
  fields.push_back(Field(55, "S3", FieldType::kString, 250));
  fields.push_back(Field(56, "S4", FieldType::kString, 250));
  fields.push_back(Field(57, "Tail", FieldType::kBytes, 25));  // 4 x 252 + 26 = 1034
  fields.push_back(Field(58, "When", FieldType::kTimestamp));
  fields.back().DefaultValue.Assign("now");
  fields.push_back(Field(59, "Day", FieldType::kDate));
  fields.back().DefaultValue.Assign("date");
  DataTableDefinition def = Definition(fields, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  def.secondary.push_back(Index("Six", {11, 12, 13, 14, 15, 16}));
  def.secondary.push_back(Index("Widest", {53, 54, 55, 56, 57}, true));
  for (int i = 3; i <= 30; ++i) def.secondary.push_back(Index("X" + std::to_string(i), {11}));
  Create(Path("limits"), def);
  auto t = OpenTable(Path("limits"));
  EXPECT_EQ(t->Header().BlobCount(), 32);
  EXPECT_EQ(t->IndexFile().SecondaryIndexCount(), 30);
  EXPECT_EQ(+t->IndexFile().GetDescriptorCopy(2).KeySize, 1034);
  EXPECT_EQ(+t->IndexFile().GetDescriptorCopy(1).KeySize, 6 * 5 + 4);  // record-ID suffix
  EXPECT_TRUE(t->HasDefaults());
  t->Close();
  EXPECT_EQ(RunTool("datcheck.py", Path("limits.DAT")).status, 0);
  EXPECT_EQ(RunTool("idxcheck.py", Path("limits.IDX")).status, 0);
}

// ------------------------------------------------------------------ encryption

TEST_F(DataFileTest, EncryptedTableScramblesHeaderStringsDescriptorsAndRecords) {
  std::vector<TFieldDescriptor> fields = {Field(1, "Id", FieldType::kInteger),
                                          Field(2, "Name", FieldType::kString, 20)};
  DataTableDefinition plain = Definition(fields);
  plain.description = "Secret things";
  DataTableDefinition secret = plain;
  secret.encrypted = true;
  secret.password = " Open Sesame ";
  Create(Path("plain"), plain);
  Create(Path("secret"), secret);
  EXPECT_EQ(CurrentSession()->Passwords().Count(), 0u);  // creation's own, removed

  const auto p = ReadBytes(Path("plain.DAT"));
  const auto s = ReadBytes(Path("secret.DAT"));
  ASSERT_EQ(p.size(), s.size());
  // Header strings: lengths plain, characters scrambled with the header pair.
  EXPECT_EQ(s[35], 13);
  std::string desc(&s[36], &s[36 + 13]);
  ScrambleBuffer(desc.data(), 13, kHeaderScrambleLow, kHeaderScrambleHigh);
  EXPECT_EQ(desc, "Secret things");
  EXPECT_EQ(s[86], 1);
  EXPECT_EQ(s[87], 11);
  std::string pw(&s[88], &s[88 + 11]);
  EXPECT_NE(pw, "Open Sesame");
  ScrambleBuffer(pw.data(), 11, kHeaderScrambleLow, kHeaderScrambleHigh);
  EXPECT_EQ(pw, "Open Sesame");
  // Descriptors: one block scrambled with the contents pair.
  std::vector<std::uint8_t> area(s.begin() + 127, s.end());
  ScrambleBuffer(area.data(), static_cast<std::uint16_t>(area.size()), kContentScrambleLow,
                 kContentScrambleHigh);
  EXPECT_TRUE(std::equal(area.begin(), area.end(), p.begin() + 127));

  // Opening without the password: the callback is asked; giving up is 10498.
  int asked = 0;
  {
    TDataFile t;
    t.SetFileName(Path("secret"));
    t.SetExclusive(true);
    EXPECT_EQ(CodeOf([&] { t.Open(); }), 10498);
    EXPECT_FALSE(t.IsOpen());
    t.SetPasswordCallback([&] {
      ++asked;
      if (asked == 1) {  // a wrong password: asked again
        CurrentSession()->AddPassword("open sesame");
        return true;
      }
      CurrentSession()->AddPassword("Open Sesame");
      return true;
    });
    t.Open();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(t.GetTablePassword(), "Open Sesame");
    Append(t, 2, "hidden text");
    t.Close();
  }
  // Already in the session: never asked.
  {
    TDataFile t;
    t.SetFileName(Path("secret"));
    t.SetExclusive(true);
    t.SetPasswordCallback([&] { ++asked; return false; });
    t.Open();
    EXPECT_EQ(asked, 2);
    TRecord* r = t.GetRecordBuffer(1, false, ReadDirection::kForward, false);
    EXPECT_EQ(GetFieldString(r->Data(), t.GetFieldDescriptor(false, 2).Slot()), "hidden text");
    t.ReleaseRecordBuffer(r);
    t.Close();
  }
  // The record is scrambled on disk.
  const auto s2 = ReadBytes(Path("secret.DAT"));
  const std::string raw(s2.begin() + 127 + 768 * 2, s2.end());
  EXPECT_EQ(raw.find("hidden"), std::string::npos);
  const CheckResult c = RunTool("datcheck.py", Path("secret.DAT"));
  EXPECT_EQ(c.status, 0) << c.output;
  EXPECT_TRUE(HasLine(c.output, "password Open Sesame")) << c.output;
  EXPECT_TRUE(HasLine(c.output, "records total 1 active 1 deleted 0 chain 0")) << c.output;
}

TEST_F(DataFileTest, WideEncryptedTablesScrambleOnlyTheFirst64KOfDescriptors) {
  for (int count : {60, 85, 86, 100}) {
    SCOPED_TRACE(count);
    std::vector<TFieldDescriptor> fields;
    for (int i = 1; i <= count; ++i)
      fields.push_back(Field(static_cast<std::uint16_t>(i), "F" + std::to_string(i), FieldType::kInteger));
    DataTableDefinition plain = Definition(fields);
    DataTableDefinition secret = plain;
    secret.encrypted = true;
    secret.password = "pw";
    Create(Path("wp"), plain);
    Create(Path("ws"), secret);
    const auto p = ReadBytes(Path("wp.DAT"));
    auto s = ReadBytes(Path("ws.DAT"));
    const std::size_t area = 768u * count;
    const std::size_t scrambled = area % 65536;
    ScrambleBuffer(&s[127], static_cast<std::uint16_t>(scrambled), kContentScrambleLow,
                   kContentScrambleHigh);
    EXPECT_TRUE(std::equal(p.begin() + 127, p.begin() + 127 + area, s.begin() + 127));
    if (scrambled < area) {
      // Past the scrambled part the bytes are plain already.
      const auto raw = ReadBytes(Path("ws.DAT"));
      EXPECT_TRUE(std::equal(p.begin() + 127 + scrambled, p.begin() + 127 + area,
                             raw.begin() + 127 + scrambled));
    }
    CurrentSession()->AddPassword("pw");
    auto t = OpenTable(Path("ws"));
    EXPECT_EQ(t->FieldCount(), count);
    EXPECT_EQ(t->GetFieldDescriptor(false, count).Name.View(), "F" + std::to_string(count));
    t->Close();
    CurrentSession()->RemovePassword("pw");
    EXPECT_EQ(RunTool("datcheck.py", Path("ws.DAT")).status, 0);
  }
}

// ------------------------------------------------------------------ life

TEST_F(DataFileTest, EmptyingRestartsRecordIdsAndCounts) {
  for (bool with_primary : {true, false}) {
    SCOPED_TRACE(with_primary);
    DataTableDefinition def =
        with_primary ? Definition({AutoInc(1, "Id"), Field(2, "Name", FieldType::kString, 12)})
                     : Definition({AutoInc(1, "Id"), Field(2, "Name", FieldType::kString, 12)}, {});
    Create(Path("e"), def);
    auto t = OpenTable(Path("e"));
    for (int i = 0; i < 50; ++i) Append(*t, 2, "row " + std::to_string(i));
    t->FlushTable(false);
    EXPECT_EQ(t->Header().LastRecordId(), 50u);
    // Hold a buffer in the cache: emptying must not draw IDs for it.
    TRecord* held = t->GetRecordBuffer(7, true, ReadDirection::kForward, false);
    t->SetCurrentRecord(held);
    t->EmptyDataTable();
    EXPECT_EQ(t->CurrentRecord(), nullptr);
    EXPECT_EQ(t->Header().NextRecord(), 1u);
    EXPECT_EQ(t->Header().LastRecordId(), 0u);
    EXPECT_EQ(t->IndexFile().RecordCount(), 0u);
    EXPECT_EQ(std::filesystem::file_size(Path("e.DAT")), 127u + 768 * 2);
    TRecord* r = t->TakeFreeRecord();
    t->InitRecordBuffer(r);
    EXPECT_EQ(r->RecordId(), 1u);
    EXPECT_EQ(r->RecordNumber(), 1u);
    r->modified = true;
    t->ReleaseRecordBuffer(r);
    t->Close();
    const CheckResult c = RunTool("datcheck.py", Path("e.DAT"));
    EXPECT_EQ(c.status, 0) << c.output;
    EXPECT_TRUE(HasLine(c.output, "last_id 1")) << c.output;
  }
}

TEST_F(DataFileTest, EmptyingNeedsAnExclusiveWritableTable) {
  Create(Path("x"), Definition({Field(1, "A", FieldType::kInteger)}));
  auto t = OpenTable(Path("x"), /*exclusive=*/false);
  EXPECT_EQ(CodeOf([&] { t->EmptyDataTable(); }), 10253);
  t->Close();
  t->SetExclusive(true);
  t->SetReadOnly(true);
  t->Open();
  EXPECT_EQ(CodeOf([&] { t->EmptyDataTable(); }), 11013);
}

TEST_F(DataFileTest, ComputedFieldsLiveAfterTheStoredRecord) {
  // A result table: two stored fields and a computed one.
  std::vector<TFieldDescriptor> fields = {Field(1, "A", FieldType::kInteger),
                                          Field(2, "Sum", FieldType::kFloat),
                                          Field(3, "B", FieldType::kString, 9)};
  fields[1].Computed = 1;
  fields[1].Expression.Assign("A + 1");
  DataTableDefinition def = Definition(fields, {});
  def.description = "Query Result Set";
  Create(Path("r"), def);
  auto t = OpenTable(Path("r"));
  EXPECT_EQ(t->RecordSize(), 9 + 5 + 11);
  EXPECT_EQ(t->ComputedAreaSize(), 9);
  EXPECT_EQ(t->GetFieldDescriptor(false, 2).Offset, 25);  // in the computed area
  EXPECT_EQ(t->GetFieldDescriptor(false, 3).Offset, 14);
  EXPECT_TRUE(t->HasComputedFields());
  EXPECT_EQ(t->GetRecordBufferSize(), 34u);

  // Working definitions: a second computed field is placed after the
  // computed area as it stands; buffers grow with it.
  std::vector<TFieldDescriptor> working;
  for (int i = 1; i <= 3; ++i) working.push_back(t->GetFieldDescriptor(false, i));
  working.push_back(Field(4, "Twice", FieldType::kInteger));
  working.back().Computed = 1;
  working.back().ExpressionRef = t->RegisterExpression(nullptr);
  t->SetWorkingFieldDefs(working);
  EXPECT_EQ(t->WorkingFieldCount(), 4);
  EXPECT_EQ(t->GetFieldDescriptor(true, 2).Offset, 25 + 9);
  EXPECT_EQ(t->GetFieldDescriptor(true, 4).Offset, 25 + 9 + 9);
  EXPECT_EQ(t->GetFieldDescriptor(true, 4).ExpressionRef, 1u);
  EXPECT_EQ(t->GetRecordBufferSize(), 25u + 9 + 9 + 5);
  Append(*t, 3, "abc");
  TRecord* r = t->GetRecordBuffer(1, false, ReadDirection::kForward, false);
  EXPECT_EQ(r->Size(), t->GetRecordBufferSize());
  t->ReleaseRecordBuffer(r);
  t->HideLastField();
  EXPECT_EQ(t->WorkingFieldCount(), 3);
  EXPECT_EQ(CodeOf([&] { (void)t->GetFieldDescriptor(true, 4); }), 9985);
  t->ShowLastField();
  EXPECT_EQ(t->WorkingFieldCount(), 4);

  // A working field that reads outside the stored record is refused.
  working[2].Offset = 20;
  EXPECT_EQ(CodeOf([&] { t->SetWorkingFieldDefs(working); }), 10000);
  t->Close();
  const CheckResult c = RunTool("datcheck.py", Path("r.DAT"));
  EXPECT_EQ(c.status, 0) << c.output;
  EXPECT_TRUE(HasLine(c.output, "computed_size 9")) << c.output;
}

// A table with BLOB fields carries its BLOB file (a new one: the 512-byte
// header, version 3, end 512) through emptying, renaming and deleting, on
// disk and in memory; a table without has none. An open table is not
// deleted; one marked so goes at close.
TEST_F(DataFileTest, TableFilesMoveTogether) {
  for (bool in_memory : {false, true}) {
    SCOPED_TRACE(in_memory);
    DataTableDefinition def = Definition({AutoInc(1, "Id"), Field(2, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)});
    def.blob_block_size = 256;
    Create(Path("b"), def, in_memory);
    auto exists = [&](const std::string& leaf) {
      TFileHandler h;
      h.SetInMemory(in_memory);
      h.SetFileName(Path(leaf));
      return h.FileExists();
    };
    auto t = OpenTable(Path("b"), true, in_memory);
    EXPECT_TRUE(t->BlobFileOpen());
    EXPECT_EQ(t->GetBlobBlockSize(), 256u);
    t->EmptyDataTable();
    EXPECT_EQ(CodeOf([&] { t->DeleteTableFiles(); }), 10031);
    t->Close();
    EXPECT_FALSE(t->BlobFileOpen());
    if (!in_memory) {
      const auto blb = ReadBytes(Path("b.BLB"));
      ASSERT_EQ(blb.size(), 512u);
      EXPECT_EQ(blb[8], 3);
      EXPECT_EQ(U32At(blb, 13), 512u);
    }
    t->RenameTableFiles(Path("b2"));
    EXPECT_EQ(t->FileName(), Path("b2.DAT"));
    for (const char* leaf : {"b.DAT", "b.IDX", "b.BLB"}) EXPECT_FALSE(exists(leaf)) << leaf;
    for (const char* leaf : {"b2.DAT", "b2.IDX", "b2.BLB"}) EXPECT_TRUE(exists(leaf)) << leaf;
    t->DeleteTableFiles();
    for (const char* leaf : {"b2.DAT", "b2.IDX", "b2.BLB"}) EXPECT_FALSE(exists(leaf)) << leaf;
    Create(Path("nb"), Definition({Field(1, "A", FieldType::kInteger)}), in_memory);
    EXPECT_FALSE(exists("nb.BLB"));
    TDataFile d;
    d.SetInMemory(in_memory);
    d.SetFileName(Path("nb"));
    d.SetExclusive(true);
    d.SetDeleteOnClose(true);
    d.Open();
    EXPECT_EQ(CodeOf([&] { d.SetDeleteOnClose(false); }), 10031);
    d.Close();
    EXPECT_FALSE(exists("nb.DAT"));
    EXPECT_FALSE(exists("nb.IDX"));
  }
}

// The scrambler of password-protected tables: 600 zero bytes from (0, 0)
// give byte i = (i mod 256) ^ (-i mod 256), both counters wrapping.
TEST(Scrambler, LongRunWrapsBothCounters) {
  std::vector<std::uint8_t> buf(600, 0);
  ScrambleBuffer(buf.data(), static_cast<std::uint16_t>(buf.size()), 0, 0);
  for (std::size_t i = 0; i < buf.size(); ++i) {
    ASSERT_EQ(buf[i], static_cast<std::uint8_t>((i & 0xFF) ^ ((256 - (i & 0xFF)) & 0xFF))) << i;
  }
}

}  // namespace
}  // namespace storage
