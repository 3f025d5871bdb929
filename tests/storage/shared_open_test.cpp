// Opening a shared table while another process inserts into it: the
// opener may meet the headers half written and must still open (it tries
// again), never fail.
#include <gtest/gtest.h>

#include <string>

#include "tests/storage/lock_test_support.h"
#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;

class SharedOpenTest : public datatest::DataFileTestBase {};

TEST_F(SharedOpenTest, OpenWhileAnotherProcessInserts) {
  DataTableDefinition def = Definition({Field(1, "Key", FieldType::kInteger), Field(2, "Name", FieldType::kString, 30),
                                        Field(3, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)});
  def.secondary = {datatest::Index("ByName", {2})};
  Create(Path("o.dat"), def);
  locktest::Peer writer([&](locktest::Peer& p) {
    auto t = OpenTable(Path("o.dat"), false);
    const std::string memo(700, 'x');
    for (int k = 1; p.Receive(0) != 's'; ++k) {
      Rec r(*t);
      r.Num<std::int32_t>(1, k).Str(2, "row " + std::to_string(k * 7919 % 100003));
      if (k % 3 == 0) {
        CheckEngineResult(t->OpenBlobField(false, 3, r.span()));
        CheckEngineResult(t->WriteBlobField(false, 3, memo.data(), 0, 700, r.span()));
      }
      t->InsertRecord(r.span());
      t->FreeBlobBuffers();
      if (k == 1) p.Send('r');
    }
    t->Close();
    return 0;
  });
  ASSERT_EQ(writer.Receive(), 'r');
  // 200 opens rarely meet the window; a few thousand do.
  int failures = 0;
  std::string first_error;
  for (int i = 0; i < 3000; ++i) {
    try {
      OpenTable(Path("o.dat"), false)->Close();
    } catch (const ETolmidEngineError& e) {
      if (failures++ == 0) first_error = e.what();
    }
  }
  writer.Send('s');
  EXPECT_EQ(writer.Wait(), 0);
  EXPECT_EQ(failures, 0) << first_error;
  EXPECT_GT(OpenTable(Path("o.dat"), true)->RecordCount(), 0u);  // the table the writer left is whole
}

}  // namespace
}  // namespace storage::rectest
