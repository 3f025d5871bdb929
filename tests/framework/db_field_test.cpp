// Fields: text conversions of every type in the fixed US formats, the raw
// value layout the concrete dataset sees, range and conversion errors with
// their exact messages, field and index definitions.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>

#include "framework/db/dataset.h"
#include "tests/common/error_text.h"
#include "tests/common/memory_dataset.h"

namespace fw {
namespace {

using testing::ColumnDef;
using testing::MemoryDataSet;

template <class F>
std::string ErrorOf(F f) {
  return testsupport::ErrorText<Exception>(f);
}

class FieldTest : public ::testing::Test {
 protected:
  FieldTest()
      : ds_(nullptr, {{"S", TFieldType::ftString, 5},
                      {"Sm", TFieldType::ftSmallint}, {"I", TFieldType::ftInteger}, {"W", TFieldType::ftWord},
                      {"B", TFieldType::ftBoolean}, {"F", TFieldType::ftFloat}, {"C", TFieldType::ftCurrency},
                      {"N", TFieldType::ftBCD, 2}, {"D", TFieldType::ftDate}, {"T", TFieldType::ftTime},
                      {"DT", TFieldType::ftDateTime}, {"By", TFieldType::ftBytes, 4},
                      {"VB", TFieldType::ftVarBytes, 4}, {"A", TFieldType::ftAutoInc}, {"M", TFieldType::ftMemo},
                      {"G", TFieldType::ftGraphic},
                      {"L", TFieldType::ftLargeint}}) {
    ds_.Open();
    ds_.Append();
  }
  TField* F(const char* name) { return ds_.FieldByName(name); }
  MemoryDataSet ds_;
};

TEST_F(FieldTest, DefaultFieldClassesFollowTheTypes) {
  struct Case {
    const char* name;
    TFieldType type;
    int data_size;
  } cases[] = {
      {"S", TFieldType::ftString, 6},     {"Sm", TFieldType::ftSmallint, 2},
      {"I", TFieldType::ftInteger, 4},    {"W", TFieldType::ftWord, 2},
      {"B", TFieldType::ftBoolean, 2},    {"F", TFieldType::ftFloat, 8},
      {"C", TFieldType::ftCurrency, 8},   {"N", TFieldType::ftBCD, 8},
      {"D", TFieldType::ftDate, 4},       {"T", TFieldType::ftTime, 4},
      {"DT", TFieldType::ftDateTime, 8},  {"By", TFieldType::ftBytes, 4},
      {"VB", TFieldType::ftVarBytes, 6},  {"A", TFieldType::ftAutoInc, 4},
      {"M", TFieldType::ftMemo, 0},       {"G", TFieldType::ftGraphic, 0}, {"L", TFieldType::ftLargeint, 8},
  };
  ASSERT_EQ(ds_.FieldCount(), 17);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(F(c.name)->DataType(), c.type);
    EXPECT_EQ(F(c.name)->DataSize(), c.data_size);
    EXPECT_TRUE(F(c.name)->IsNull());
    EXPECT_EQ(F(c.name)->FieldNo(), F(c.name)->Index() + 1);
  }
  EXPECT_NE(dynamic_cast<TCurrencyField*>(F("C")), nullptr);
  EXPECT_NE(dynamic_cast<TMemoField*>(F("M")), nullptr);
  EXPECT_NE(dynamic_cast<TGraphicField*>(F("G")), nullptr);
}

TEST_F(FieldTest, TextRoundTripsInUsFormats) {
  struct Case {
    const char* field;
    const char* input;
    const char* as_string;
    const char* display;
  } cases[] = {
      {"S", "abcdefg", "abcde", "abcde"},  // cut to Size
      {"S", "", "", ""}, {"Sm", "-32768", "-32768", "-32768"}, {"I", "  42", "42", "42"},
      {"W", "65535", "65535", "65535"}, {"B", "t", "True", "True"}, {"B", "FALSE", "False", "False"},
      {"F", "1.5", "1.5", "1.5"}, {"F", "1e20", "1E20", "1E20"}, {"C", "1.5", "1.5", "$1.50"},
      {"C", "-2.25", "-2.25", "($2.25)"},
      {"N", "12.3456", "12.35", "12.35"},  // two decimals, rounded half away
      {"N", "-0.005", "-0.01", "-0.01"}, {"D", "3/5/2024", "3/5/2024", "3/5/2024"},
      {"T", "13:05:09", "1:05:09 PM", "1:05:09 PM"},
      {"DT", "3/5/2024 13:05:09", "3/5/2024 1:05:09 PM", "3/5/2024 1:05:09 PM"},
      {"DT", "3/5/2024", "3/5/2024", "3/5/2024"},  // midnight: no time
      {"A", "7", "7", "7"}, {"L", "-9000000000", "-9000000000", "-9000000000"},
      {"M", "hello memo", "hello memo", "(MEMO)"}, {"VB", "ab", "ab", "(VarBytes)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- " + c.input);
    F(c.field)->SetAsString(c.input);
    EXPECT_EQ(F(c.field)->AsString(), c.as_string);
    EXPECT_EQ(F(c.field)->DisplayText(), c.display);
  }
  F("By")->SetAsString("ab");
  EXPECT_EQ(F("By")->AsString(), std::string("ab\0\0", 4));
}

TEST_F(FieldTest, EmptyTextClearsNonStringFields) {
  const std::pair<const char*, const char*> samples[] = {
      {"Sm", "1"}, {"I", "1"}, {"W", "1"}, {"B", "True"}, {"F", "1"}, {"C", "1"},
      {"N", "1"},  {"D", "1/2/2003"}, {"T", "1:00"}, {"DT", "1/2/2003 4:05"}, {"L", "1"}};
  for (const auto& [name, sample] : samples) {
    SCOPED_TRACE(name);
    F(name)->SetAsString(sample);
    EXPECT_FALSE(F(name)->IsNull());
    F(name)->SetAsString("");
    EXPECT_TRUE(F(name)->IsNull());
    EXPECT_EQ(F(name)->AsString(), "");
    EXPECT_EQ(F(name)->DisplayText(), "");
    EXPECT_TRUE(F(name)->AsVariant().IsNull());
  }
  EXPECT_EQ(F("M")->DisplayText(), "(Memo)");
  EXPECT_EQ(F("G")->DisplayText(), "(Graphic)");
}

TEST_F(FieldTest, RawLayoutSeenByTheDataset) {
  F("D")->SetAsDateTime(0.0);  // 1899-12-30: day 693594 since 0001-01-01
  F("T")->SetAsDateTime(EncodeTime(13, 5, 9, 250));
  F("DT")->SetAsDateTime(1.5);  // 1899-12-31 12:00
  F("B")->SetAsBoolean(true);
  F("Sm")->SetAsInteger(-2);
  F("N")->SetAsString("1.25");
  auto raw = [&](const char* name, auto value) {
    EXPECT_TRUE(F(name)->GetData(&value)) << name;
    return value;
  };
  EXPECT_EQ(raw("D", std::int32_t{}), 693594);
  EXPECT_EQ(raw("T", std::int32_t{}), ((13 * 60 + 5) * 60 + 9) * 1000 + 250);
  EXPECT_EQ(raw("DT", double{}), 693595.0 * 86400000.0 + 43200000.0);
  EXPECT_EQ(raw("B", std::uint16_t{}), 0xFFFF);  // 16-bit Boolean true
  EXPECT_EQ(raw("Sm", std::int16_t{}), -2);
  EXPECT_EQ(raw("N", std::int64_t{}), 12500);  // count of 1/10000
  // Any non-zero 16-bit value reads as true.
  std::uint16_t one = 1;
  F("B")->SetData(&one);
  EXPECT_TRUE(F("B")->AsBoolean());
  EXPECT_EQ(F("T")->AsDateTime(), EncodeTime(13, 5, 9, 250));
  EXPECT_EQ(F("DT")->AsDateTime(), 1.5);
}

TEST_F(FieldTest, ConversionAndRangeErrorsHaveTheFrameworkTexts) {
  struct Case {
    const char* field;
    const char* input;
    const char* message;
  } cases[] = {
      {"Sm", "40000", "40000 is not a valid value for field 'Sm'. The allowed range is -32768 to 32767"},
      {"W", "-1", "-1 is not a valid value for field 'W'. The allowed range is 0 to 65535"},
      {"I", "3000000000",
       "3000000000 is not a valid value for field 'I'. The allowed range is -2147483648 to 2147483647"},
      {"I", "abc", "'abc' is not a valid integer value for field 'I'"},
      {"I", "1.5", "'1.5' is not a valid integer value for field 'I'"},
      {"F", "x1", "'x1' is not a valid floating point value for field 'F'"},
      {"N", "1,5", "'1,5' is not a valid floating point value for field 'N'"},
      {"B", "maybe", "'maybe' is not a valid boolean value for field 'B'"},
      {"D", "13/45/2024", "'13/45/2024' is not a valid date"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(ErrorOf([&] { F(c.field)->SetAsString(c.input); }), c.message);
    EXPECT_TRUE(F(c.field)->IsNull()) << "a refused value must not be stored";
  }
  EXPECT_EQ(ErrorOf([&] { (void)F("I")->AsBoolean(); }), "Cannot access field 'I' as type Boolean");
  EXPECT_EQ(ErrorOf([&] { (void)F("D")->AsInteger(); }), "Cannot access field 'D' as type Integer");
  EXPECT_EQ(ErrorOf([&] { F("B")->SetAsDateTime(1); }), "Cannot access field 'B' as type DateTime");
  F("I")->SetDisplayLabel("Count");
  EXPECT_EQ(ErrorOf([&] { F("I")->SetAsString("z"); }), "'z' is not a valid integer value for field 'Count'");
}

TEST_F(FieldTest, CrossTypeAccess) {
  F("S")->SetAsInteger(123);
  EXPECT_EQ(F("S")->AsString(), "123");
  EXPECT_EQ(F("S")->AsInteger(), 123);
  F("S")->SetAsBoolean(true);
  EXPECT_EQ(F("S")->AsString(), "T");
  EXPECT_TRUE(F("S")->AsBoolean());
  F("I")->SetAsFloat(2.5);  // halves to even
  EXPECT_EQ(F("I")->AsInteger(), 2);
  F("C")->SetAsCurrency(Currency::FromRaw(12345));
  EXPECT_EQ(F("C")->AsFloat(), 1.2345);
  EXPECT_EQ(F("C")->AsCurrency().value, 12345);
  F("D")->SetAsString("12/31/1999");
  EXPECT_EQ(F("D")->AsFloat(), EncodeDate(1999, 12, 31));
  F("B")->SetAsInteger(0);
  EXPECT_EQ(F("B")->AsString(), "False");
  F("I")->SetAsVariant(Variant(std::string("17")));
  EXPECT_EQ(F("I")->AsVariant(), Variant(17));
  auto* f = static_cast<TFloatField*>(F("F"));
  f->SetAsFloat(1234.5);
  f->SetDisplayFormat("#,##0.00");
  EXPECT_EQ(f->DisplayText(), "1,234.50");
  EXPECT_EQ(f->Text(), "1,234.50");  // edit text falls back to the display mask
  F("DT")->SetAsVariant(Variant::FromDateTime(2.25));
  EXPECT_EQ(F("DT")->AsVariant(), Variant::FromDateTime(2.25));
}

TEST_F(FieldTest, BlobFieldsStreamAndDiscardOnCancel) {
  ds_.Post();
  ds_.Edit();
  auto* memo = static_cast<TMemoField*>(F("M"));
  memo->SetAsString("first");
  EXPECT_TRUE(memo->Modified());
  ds_.Post();
  EXPECT_FALSE(memo->Modified());
  EXPECT_EQ(memo->AsString(), "first");
  EXPECT_EQ(memo->BlobSize(), 5);
  ds_.Edit();
  TMemoryStream in;
  in.WriteBuffer("second value", 12);
  memo->LoadFromStream(in);
  EXPECT_EQ(memo->AsString(), "second value");
  ds_.Cancel();
  EXPECT_EQ(memo->AsString(), "first");
  TMemoryStream out;
  memo->SaveToStream(out);
  EXPECT_EQ(out.Size(), 5);
  EXPECT_EQ(ErrorOf([&] { memo->SetAsString("x"); }), "Dataset not in edit or insert mode");
}

TEST_F(FieldTest, ChangingFieldsOfAnOpenDatasetIsRefused) {
  EXPECT_EQ(ErrorOf([&] { F("S")->SetSize(10); }), "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf([&] { F("I")->SetFieldKind(TFieldKind::fkCalculated); }),
            "Cannot perform this operation on an open dataset");
  EXPECT_EQ(ErrorOf([&] { (void)ds_.Fields(17); }), "Field index out of range");
  EXPECT_EQ(ErrorOf([&] { (void)ds_.FieldByName("nope"); }), "Field 'nope' not found");
  ds_.SetName("Type1Table");
  EXPECT_EQ(ErrorOf([&] { (void)ds_.FieldByName("nope"); }), "Type1Table: Field 'nope' not found");
  EXPECT_EQ(ds_.FieldByName("dt"), F("DT"));  // names match case-insensitively
  EXPECT_EQ(ErrorOf([&] { F("I")->SetFieldName("s"); }), "Type1Table: Duplicate field name 's'");
  std::vector<TField*> list = ds_.GetFieldList("S; i;W");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1], F("I"));
}

TEST(FieldSizeTest, SizesAllowedPerType) {
  const std::tuple<TFieldType, int, bool> cases[] = {
      {TFieldType::ftString, 250, true}, {TFieldType::ftString, -1, false}, {TFieldType::ftInteger, 4, false},
      {TFieldType::ftBytes, 0, false},   {TFieldType::ftBCD, 4, true},      {TFieldType::ftMemo, 240, true}};
  for (const auto& [type, size, ok] : cases) {
    std::unique_ptr<TField> f(CreateFieldOfType(type, nullptr));
    EXPECT_EQ(ErrorOf([&] { f->SetSize(size); }), ok ? "(none)" : "Invalid field size") << FieldTypeName(type) << size;
  }
  EXPECT_EQ(CreateFieldOfType(TFieldType::ftADT, nullptr), nullptr);
}

TEST(FieldDefsTest, AddFindAndErrors) {
  MemoryDataSet ds(nullptr, {});
  TFieldDefs& defs = ds.FieldDefs();
  defs.Add("RecordNum", TFieldType::ftAutoInc, 0, true);
  defs.Add("Name", TFieldType::ftString, 30);
  EXPECT_EQ(defs.Items(1)->FieldNo(), 2);
  EXPECT_EQ(defs.IndexOf("NAME"), 1);
  EXPECT_EQ(defs.IndexOf("x"), -1);
  EXPECT_EQ(ErrorOf([&] { defs.Add("name", TFieldType::ftInteger); }), "Duplicate field name 'name'");
  EXPECT_EQ(ErrorOf([&] { defs.Add("", TFieldType::ftInteger); }), "Field name missing");
  EXPECT_EQ(ErrorOf([&] { (void)defs.Find("Other"); }), "Field 'Other' not found");
  EXPECT_EQ(ErrorOf([&] { (void)defs.Items(2); }), "Field index out of range");
  // A definition makes the field class of its type, attached to the dataset.
  TField* f = defs.Items(1)->CreateField(&ds);
  EXPECT_EQ(f->DataSet(), &ds);
  EXPECT_EQ(f->Size(), 30);
  EXPECT_EQ(ds.FindField("name"), f);
  defs.Clear();
  EXPECT_EQ(defs.Count(), 0);
}

TEST(IndexDefsTest, FindsIndexesByFields) {
  TIndexDefs defs;
  defs.Add("", "RecordNum", {TIndexOption::ixPrimary, TIndexOption::ixUnique});
  defs.Add("ResName", "ResourceName;Category", {TIndexOption::ixCaseInsensitive});
  defs.Add("Cat", "Category", {});
  defs.Add("CatName", "Category;Name", {});
  EXPECT_EQ(defs.GetIndexForFields("recordnum", false)->Options(),
            (TIndexOptions{TIndexOption::ixPrimary, TIndexOption::ixUnique}));
  EXPECT_EQ(defs.GetIndexForFields("Category", false)->Name(), "Cat");  // exact beats prefix
  EXPECT_EQ(defs.GetIndexForFields("Category;name", false)->Name(), "CatName");
  EXPECT_EQ(defs.GetIndexForFields("ResourceName", false), nullptr);  // case differs
  EXPECT_EQ(defs.GetIndexForFields("ResourceName", true)->Name(), "ResName");
  EXPECT_EQ(defs.FindIndexForFields("ResourceName")->Name(), "ResName");
  EXPECT_EQ(ErrorOf([&] { (void)defs.FindIndexForFields("Name"); }), "No index for fields 'Name'");
  EXPECT_EQ(defs.Find("resname")->Fields(), "ResourceName;Category");
  EXPECT_EQ(ErrorOf([&] { (void)defs.Find("Nope"); }), "Index 'Nope' not found");
  int updates = 0;
  defs.SetUpdater([&] { ++updates; });
  defs.Update();
  EXPECT_EQ(updates, 1);
}

TEST(VariantTest, ConversionsUseTheUsFormats) {
  struct Case {
    Variant v;
    const char* text;
  } cases[] = {
      {Variant(), ""}, {Variant(true), "True"}, {Variant(-12), "-12"}, {Variant(2.5), "2.5"},
      {Variant(Currency::FromRaw(15000)), "1.5"}, {Variant::FromDateTime(EncodeDate(2001, 2, 3)), "2/3/2001"},
      {Variant("text"), "text"},
  };
  for (const Case& c : cases) { EXPECT_EQ(c.v.AsString(), c.text); }
  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_EQ(Variant("1.25").AsCurrency().value, 12500);
  EXPECT_EQ(Variant(3).AsCurrency().value, 30000);
  EXPECT_EQ(Variant("2/3/2001").AsDateTime(), EncodeDate(2001, 2, 3));
  EXPECT_TRUE(Variant("true").AsBoolean());
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_THROW((void)Variant().AsInteger(), EConvertError);
  EXPECT_THROW((void)Variant("x").AsFloat(), EConvertError);
  EXPECT_FALSE(Variant(1) == Variant(1.0));  // kinds differ
  EXPECT_TRUE(Variant() == Variant::Null());
  Variant arr = Variant::Array({Variant(1), Variant("b"), Variant()});
  ASSERT_EQ(arr.Items().size(), 3u);
  EXPECT_EQ(arr.Items()[1].AsString(), "b");
  EXPECT_TRUE(arr == Variant::Array({Variant(1), Variant("b"), Variant()}));
  EXPECT_THROW((void)arr.AsString(), EConvertError);
  EXPECT_THROW((void)Variant(1).Items(), EConvertError);
}

}  // namespace
}  // namespace fw
