// Shared pieces of the filter tests on real tables: a table of seven
// fields filled through InsertRecord, expression trees built as the filter
// reader builds them, and the filtered record set read from the result
// bitmap.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "data_file_test_support.h"
#include "storage/data_file.h"
#include "storage/expression_node.h"
#include "storage/field_types.h"
#include "storage/filter_engine.h"

namespace storage::filtertest {

using datatest::Field;
using datatest::Index;

// Id integer (primary key), S string[5], N integer, T string[5], M small
// integer, B boolean, F float.
enum FieldNo : std::uint16_t { kId = 1, kS, kN, kT, kM, kB, kF };

inline DataTableDefinition FilterTableDefinition(bool indexed, bool primary = true) {
  DataTableDefinition def;
  def.creator1 = 1;
  def.fields = {Field(1, "Id", FieldType::kInteger),  Field(2, "S", FieldType::kString, 5),
                Field(3, "N", FieldType::kInteger),   Field(4, "T", FieldType::kString, 5),
                Field(5, "M", FieldType::kSmallInt),  Field(6, "B", FieldType::kBoolean),
                Field(7, "F", FieldType::kFloat)};
  def.primary = primary ? Index("", {1}) : Index("", {});
  def.allow_empty_primary = !primary;
  if (indexed) {
    def.secondary = {Index("ByS", {2}), Index("ByN", {3}), Index("ByM", {5}),
                     Index("ByB", {6}), Index("ByF", {7}), Index("ByNS", {3, 2})};
  }
  return def;
}

struct Row {
  std::int32_t id = 0;
  std::optional<std::string> s = {}, t = {};  // never empty: "" is null
  std::optional<std::int32_t> n = {};
  std::optional<std::int16_t> m = {};
  std::optional<bool> b = {};
  std::optional<double> f = {};
};

inline void InsertRow(TDataFile& t, const Row& row) {
  std::vector<std::byte> rec(t.GetRecordBufferSize());
  t.ApplyDefaultValues(rec);
  auto slot = [&](int n) { return t.GetFieldDescriptor(false, n).Slot(); };
  PutFieldValue<std::int32_t>(rec, slot(kId), row.id);
  if (row.s) PutFieldString(rec, slot(kS), *row.s);
  if (row.t) PutFieldString(rec, slot(kT), *row.t);
  if (row.n) PutFieldValue<std::int32_t>(rec, slot(kN), *row.n);
  if (row.m) PutFieldValue<std::int16_t>(rec, slot(kM), *row.m);
  if (row.b) PutFieldBoolean(rec, slot(kB), *row.b);
  if (row.f) PutFieldValue<double>(rec, slot(kF), *row.f);
  t.InsertRecord(rec);
}

// A field node as the filter reader makes it: name, number, type, size.
inline ExpressionPtr FieldRef(TDataFile& t, std::string_view name) {
  ExpressionPtr n = NewFieldNode(name);
  const auto f = t.Filters().FindFilterField(name);
  EXPECT_TRUE(f.has_value()) << name;
  if (f) {
    n->field_number = f->number;
    n->type = f->type;
    n->size = f->size;
  }
  return n;
}

inline ExpressionPtr Binary(ExprOperator op, ExpressionPtr l, ExpressionPtr r) {
  ExpressionPtr n = NewNode(NodeKind::kBinary, op, "");
  n->left = std::move(l);
  n->right = std::move(r);
  return n;
}

inline ExpressionPtr Unary(ExprOperator op, ExpressionPtr l) {
  ExpressionPtr n = NewNode(NodeKind::kUnary, op, "");
  n->left = std::move(l);
  return n;
}

// field = 'text*': the first text.size() characters, case-sensitive.
inline ExpressionPtr Prefix(ExprOperator op, ExpressionPtr field, const std::string& text) {
  ExpressionPtr n = NewNode(NodeKind::kStringCompare, op, "");
  n->partial_length = static_cast<std::uint8_t>(text.size());
  n->left = std::move(field);
  n->right = NewStringConstant(text);
  return n;
}

// Record numbers of the filtered view.
inline std::set<std::uint32_t> ViewRecords(TDataFile& t) {
  std::set<std::uint32_t> out;
  const RecordBitmap& r = t.Filters().Result();
  for (std::uint32_t n = r.NextSet(0); n != 0; n = r.NextSet(n)) out.insert(n);
  return out;
}

// The Id of record n.
inline std::int32_t RecordId(TDataFile& t, std::uint32_t n) {
  TRecord* r = t.GetRecordBuffer(n, false, ReadDirection::kForward, false);
  const auto id = GetFieldValue<std::int32_t>(r->Data(), t.GetFieldDescriptor(false, kId).Slot());
  t.ReleaseRecordBuffer(r);
  return id;
}

// Ids of the records a filter tree lets through (filter added, activated,
// read, dropped).
inline std::set<std::int32_t> FilteredIds(TDataFile& t, ExpressionPtr tree) {
  std::int32_t h = 0;
  EXPECT_EQ(t.AddFilter(std::move(tree), false, h), ErrorCode::kNone);
  EXPECT_EQ(t.ActivateFilter(h), ErrorCode::kNone);
  std::set<std::int32_t> ids;
  for (std::uint32_t n : ViewRecords(t)) ids.insert(RecordId(t, n));
  EXPECT_EQ(t.Filters().ViewCount(), ids.size());
  EXPECT_EQ(t.DropFilter(h), ErrorCode::kNone);
  return ids;
}

}  // namespace storage::filtertest
