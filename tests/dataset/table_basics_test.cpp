#include <gtest/gtest.h>

#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;

class TableBasics : public DataSetTest {};

TEST_F(TableBasics, InsertBrowseEdit) {
  TTolmidTable* t = CreateTable("people.dat",
                                {{"RecordNum", TFieldType::ftAutoInc, 0, true},
                                 {"Name", TFieldType::ftString, 20},
                                 {"Num", TFieldType::ftInteger}},
                                {{"", "RecordNum", kPrimary}});
  t->Open();
  for (int i = 0; i < 5; ++i) {
    t->Append();
    t->FieldByName("Name")->SetAsString("n" + std::to_string(i));
    t->FieldByName("Num")->SetAsInteger(i * 10);
    t->Post();
  }
  EXPECT_EQ(t->RecordCount(), 5);
  t->First();
  int n = 0;
  while (!t->Eof()) {
    EXPECT_EQ(t->FieldByName("Num")->AsInteger(), n * 10);
    EXPECT_EQ(t->RecNo(), n + 1);
    t->Next();
    ++n;
  }
  EXPECT_EQ(n, 5);
}

}  // namespace
}  // namespace dataset::dstest
