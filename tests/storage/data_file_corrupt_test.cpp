// Damaged data files: every one is refused with an engine error (12035,
// 9221 or 8962; 15878 for a locale) and never read out of bounds (run under
// the sanitizer build). Each case names the damage; the checker must call
// the same files faulty.
#include "platform/file.h"
#include "tests/storage/data_file_test_support.h"

namespace storage {
namespace {

using namespace datatest;

class DataFileCorruptTest : public DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    // A damaged header is no write in progress: one quick retry, not the
    // half second a shared open gives a writer.
    CurrentSession()->SetSharedOpenRetries(1, 0);
  }

  // A table with an auto-increment, a string, a BLOB-free layout and five
  // records, two of them deleted (chain 4 -> 2).
  std::vector<std::uint8_t> MakeValid() {
    Create(Path("good"), Definition({AutoInc(1, "Id"), Field(2, "Name", FieldType::kString, 20),
                                     Field(3, "Count", FieldType::kInteger)}));
    auto t = OpenTable(Path("good"));
    for (int i = 1; i <= 5; ++i) Append(*t, 2, "name " + std::to_string(i));
    for (std::uint32_t n : {2u, 4u}) {
      TRecord* r = t->GetRecordBuffer(n, false, ReadDirection::kForward, false);
      t->MarkRecordDeleted(r);
      t->ReleaseRecordBuffer(r);
    }
    t->Close();
    return ReadBytes(Path("good.DAT"));
  }

  // Writes bytes as bad.DAT (with the good index file beside it) and opens
  // it exclusively and shared; returns the two codes.
  std::pair<int, int> OpenDamaged(const std::vector<std::uint8_t>& bytes) {
    WriteBytes(Path("bad.DAT"), bytes);
    std::filesystem::copy_file(Path("good.IDX"), Path("bad.IDX"),
                               std::filesystem::copy_options::overwrite_existing);
    int codes[2];
    for (int shared = 0; shared < 2; ++shared) {
      TDataFile t;
      t.SetFileName(Path("bad"));
      t.SetExclusive(shared == 0);
      codes[shared] = CodeOf([&] {
        t.Open();
        // Whatever opened must also read: every record through the cache.
        for (std::uint32_t n = 1; n < t.Header().NextRecord(); ++n) {
          TRecord* r = t.GetRecordBuffer(n, true, ReadDirection::kForward, false);
          t.ReleaseRecordBuffer(r);
        }
      });
      EXPECT_FALSE(t.IsOpen() && codes[shared] != 0);
    }
    return {codes[0], codes[1]};
  }
};

void Put16(std::vector<std::uint8_t>& b, std::size_t o, std::uint16_t v) {
  b[o] = v & 0xFF;
  b[o + 1] = v >> 8;
}
void Put32(std::vector<std::uint8_t>& b, std::size_t o, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[o + i] = (v >> (8 * i)) & 0xFF;
}

struct Damage {
  const char* name;
  std::function<void(std::vector<std::uint8_t>&)> apply;
  int code;
};

constexpr std::size_t kDesc = 127;           // first descriptor
constexpr std::size_t kDesc2 = 127 + 768;    // the string field
constexpr std::size_t kRecords = 127 + 768 * 3;

TEST_F(DataFileCorruptTest, DamagedFilesAreRefused) {
  const std::vector<std::uint8_t> good = MakeValid();
  ASSERT_EQ(RunTool("datcheck.py", Path("good.DAT")).status, 0);
  const std::vector<Damage> cases = {
      {"empty file", [](auto& b) { b.clear(); }, 9221},
      {"half a header", [](auto& b) { b.resize(50); }, 9221},
      {"header only", [](auto& b) { b.resize(127); }, 9221},
      {"one byte short of the header", [](auto& b) { b.resize(126); }, 9221},
      {"descriptors cut", [](auto& b) { b.resize(127 + 768 + 100); }, 9221},
      {"records cut", [](auto& b) { b.resize(kRecords + 36 * 2); }, 8962},
      {"version 2", [](auto& b) { b[8] = 2; }, 12035},
      {"version 4", [](auto& b) { b[8] = 4; }, 12035},
      {"version 2 and garbage", [](auto& b) { b[8] = 2; Put16(b, 23, 60000); }, 12035},
      {"field count 0", [](auto& b) { Put16(b, 23, 0); }, 9221},
      {"field count 1025", [](auto& b) { Put16(b, 23, 1025); }, 9221},
      {"field count 65535", [](auto& b) { Put16(b, 23, 65535); }, 9221},
      {"field count 4 (file too short)", [](auto& b) { Put16(b, 23, 4); }, 9221},
      {"field count 2", [](auto& b) { Put16(b, 23, 2); }, 9221},
      {"BLOB count 33", [](auto& b) { Put16(b, 25, 33); }, 9221},
      {"BLOB count 1 without BLOB field", [](auto& b) { Put16(b, 25, 1); }, 9221},
      {"record size 0", [](auto& b) { Put16(b, 21, 0); }, 9221},
      {"record size 8", [](auto& b) { Put16(b, 21, 8); }, 9221},
      {"record size larger", [](auto& b) { Put16(b, 21, 37); }, 8962},
      {"record size smaller", [](auto& b) { Put16(b, 21, 35); }, 9221},
      {"record size 65535", [](auto& b) { Put16(b, 21, 65535); }, 8962},
      {"computed area beyond 64K", [](auto& b) { Put16(b, 111, 65535); }, 9221},
      {"computed area without computed fields", [](auto& b) { Put16(b, 111, 8); }, 9221},
      {"encrypted byte 2", [](auto& b) { b[86] = 2; }, 9221},
      {"description length 51", [](auto& b) { b[35] = 51; }, 9221},
      {"password length 200", [](auto& b) { b[87] = 200; }, 9221},
      {"next record 0", [](auto& b) { Put32(b, 13, 0); }, 9221},
      {"next record beyond the file", [](auto& b) { Put32(b, 13, 7); }, 8962},
      {"next record huge", [](auto& b) { Put32(b, 13, 0xFFFFFFFF); }, 8962},
      {"free head beyond", [](auto& b) { Put32(b, 9, 6); }, 8962},
      {"free head huge", [](auto& b) { Put32(b, 9, 0x80000000u); }, 8962},
      {"unknown type 19", [](auto& b) { b[kDesc2 + 84] = 19; }, 9221},
      {"unknown type 200", [](auto& b) { b[kDesc2 + 84] = 200; }, 9221},
      {"type 0", [](auto& b) { b[kDesc2 + 84] = 0; }, 9221},
      {"string declared 251", [](auto& b) { b[kDesc2 + 86] = 251; }, 9221},
      {"string declared 21", [](auto& b) { b[kDesc2 + 86] = 21; }, 9221},
      {"physical size wrong", [](auto& b) { b[kDesc2 + 88] = 200; }, 9221},
      {"integer made 8 bytes", [](auto& b) { b[kDesc2 + 768 + 88] = 8; }, 9221},
      {"string turned date", [](auto& b) { b[kDesc2 + 84] = 2; }, 9221},
      {"offset past the record", [](auto& b) { Put16(b, kDesc2 + 90, 25); }, 9221},
      {"offset into the prefix", [](auto& b) { Put16(b, kDesc2 + 90, 3); }, 9221},
      {"offset huge", [](auto& b) { Put16(b, kDesc2 + 90, 65530); }, 9221},
      {"auto-increment moved", [](auto& b) { Put16(b, kDesc + 90, 9); }, 9221},
      {"auto-increment made plain", [](auto& b) { b[kDesc + 85] = 0; }, 9221},
      {"field made computed", [](auto& b) { b[kDesc2 + 247] = 1; }, 9221},
      {"computed flag 7", [](auto& b) { b[kDesc2 + 247] = 7; }, 9221},
      {"name length 31", [](auto& b) { b[kDesc2 + 2] = 31; }, 9221},
      {"minimum length 255", [](auto& b) { b[kDesc2 + 94] = 255; }, 9221},
      {"locale not installed", [](auto& b) { Put16(b, 103, 0x7777); }, 15878},
  };
  // The checker looks at every damaged file in one run.
  std::vector<std::vector<std::string>> checks;
  std::vector<const char*> checked;
  for (const Damage& d : cases) {
    SCOPED_TRACE(d.name);
    std::vector<std::uint8_t> bytes = good;
    d.apply(bytes);
    const auto [exclusive, shared] = OpenDamaged(bytes);
    EXPECT_EQ(exclusive, d.code);
    EXPECT_EQ(shared, d.code);
    if (d.code != 15878) {
      const std::string copy = Path("case" + std::to_string(checks.size()) + ".DAT");
      WriteBytes(copy, bytes);
      checks.push_back({copy});
      checked.push_back(d.name);
    }
  }
  const auto results = tooltest::RunToolBatch("datcheck.py", checks);
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].status, 1) << checked[i] << "\n" << results[i].output;
  }
}

TEST_F(DataFileCorruptTest, DamagedFreeChainIsRefusedWhenTaken) {
  const std::vector<std::uint8_t> good = MakeValid();
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> apply;
    const char* checker_says;
  };
  const std::size_t rs = 36;  // 9 + (21 + 1) + (4 + 1)
  auto rec = [&](std::uint32_t n) { return kRecords + (n - 1) * rs; };
  const std::vector<Case> cases = {
      {"head is an active record", [&](auto& b) { Put32(b, 9, 3); }, "active record"},
      {"link leaves the file", [&](auto& b) { Put32(b, rec(4) + 1, 99); }, "leaves"},
      {"link to itself", [&](auto& b) { Put32(b, rec(4) + 1, 4); }, "cycle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes = good;
    c.apply(bytes);
    WriteBytes(Path("bad.DAT"), bytes);
    std::filesystem::copy_file(Path("good.IDX"), Path("bad.IDX"),
                               std::filesystem::copy_options::overwrite_existing);
    const CheckResult check = RunTool("datcheck.py", Path("bad.DAT"));
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.output.find(c.checker_says), std::string::npos) << check.output;
    auto t = OpenTable(Path("bad"));
    ASSERT_TRUE(t->TableHasPrimaryKey());
    int code = 0;
    bool appended = false;
    // Until the chain is used up: a damaged chain must be caught first.
    for (int i = 0; i < 8 && code == 0 && !appended; ++i) {
      code = CodeOf([&] {
        TRecord* r = t->TakeFreeRecord();
        t->InitRecordBuffer(r);
        r->modified = true;
        appended = r->RecordNumber() >= 6;
        t->ReleaseRecordBuffer(r);
      });
    }
    EXPECT_EQ(code, 8962);
  }
}

TEST_F(DataFileCorruptTest, EncryptedFileWithBadDescriptorsIsRefused) {
  DataTableDefinition def = Definition({Field(1, "Id", FieldType::kInteger)});
  def.encrypted = true;
  def.password = "pw";
  Create(Path("enc"), def);
  auto bytes = ReadBytes(Path("enc.DAT"));
  bytes[127 + 88] ^= 0x40;  // the physical size, through the scrambling
  WriteBytes(Path("enc.DAT"), bytes);
  CurrentSession()->AddPassword("pw");
  TDataFile t;
  t.SetFileName(Path("enc"));
  t.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { t.Open(); }), 9221);
}

TEST_F(DataFileCorruptTest, HeaderChangedToAnotherLayoutUnderAnOpenTable) {
  MakeValid();
  auto t = OpenTable(Path("good"), /*exclusive=*/false);
  auto bytes = ReadBytes(Path("good.DAT"));
  Put32(bytes, 0, 1000);         // another counter: the header is re-read
  Put16(bytes, 21, 30);          // and says the records are another size
  WriteBytes(Path("good.DAT"), bytes);
  EXPECT_EQ(CodeOf([&] { t->CheckHeaderChanged(); }), 9221);
}

// A damaged file that carries the read-only attribute: the failed open
// leaves the handle as the caller set it (writable), so the same object
// opens the mended file for writing.
TEST_F(DataFileCorruptTest, FailedOpenOfAReadOnlyFileKeepsTheHandleWritable) {
  const std::vector<std::uint8_t> good = MakeValid();
  WriteBytes(Path("bad.DAT"), std::vector<std::uint8_t>(good.begin(), good.begin() + 50));
  std::filesystem::copy_file(Path("good.IDX"), Path("bad.IDX"),
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(platform::SetReadOnly(Path("bad.DAT"), true));
  TDataFile t;
  t.SetFileName(Path("bad"));
  t.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { t.Open(); }), 9221);
  EXPECT_FALSE(t.ReadOnly());
  ASSERT_TRUE(platform::SetReadOnly(Path("bad.DAT"), false));
  WriteBytes(Path("bad.DAT"), good);
  t.Open();
  EXPECT_FALSE(t.ReadOnly());
  EXPECT_EQ(CodeOf([&] { Append(t, 2, "six"); }), 0);
}

// A data file ends inside its header when it was cut there: shorter than
// the header, or than its descriptors with every one present (plain or
// scrambled) in its place. A raised field count, another version or a
// damaged descriptor before the cut is damage, not a cut.
TEST_F(DataFileCorruptTest, EndsInsideItsHeaderOnlyWhenCutThere) {
  auto ends = [](const std::vector<std::uint8_t>& file, std::size_t size) {
    return EndsInsideItsHeader(std::span(file.data(), std::min(size, file.size())), size);
  };
  const std::size_t start = 127 + 768 * 3;
  for (const bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    DataTableDefinition def = Definition({AutoInc(1, "Id"), Field(2, "Name", FieldType::kString, 20),
                                          Field(3, "Count", FieldType::kInteger)});
    def.encrypted = encrypted;
    def.password = "pw";
    const std::string name = encrypted ? "secret" : "plain";
    Create(Path(name), def);
    const std::vector<std::uint8_t> file = ReadBytes(Path(name + ".DAT"));
    ASSERT_EQ(file.size(), start);
    for (const std::size_t size : std::vector<std::size_t>{0, 60, 126, 127, 127 + 768, 127 + 768 + 5, 127 + 768 * 2, start - 1})
      EXPECT_TRUE(ends(file, size)) << size;
    EXPECT_FALSE(ends(file, start));
  }
  std::vector<std::uint8_t> valid = MakeValid();
  EXPECT_FALSE(ends(valid, valid.size()));
  std::vector<std::uint8_t> raised = valid;
  raised[23] = 9;  // field count 9: the file ends before 9 descriptors would
  EXPECT_FALSE(ends(raised, raised.size()));
  std::vector<std::uint8_t> version = valid;
  version[8] = 2;
  EXPECT_FALSE(ends(version, start - 1));
  std::vector<std::uint8_t> renumbered = valid;
  renumbered[127 + 768 + 1] = 7;  // descriptor 2 claims field number 2 + 7 x 256
  EXPECT_FALSE(ends(renumbered, start - 1));
  EXPECT_TRUE(ends(renumbered, 127 + 768 + 1));
  EXPECT_FALSE(ends(renumbered, 127 + 768 + 2));
}

}  // namespace
}  // namespace storage
