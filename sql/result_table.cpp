#include "sql/result_table.h"

#include <algorithm>

#include "platform/text.h"
#include "storage/table_names.h"

namespace sql {

using storage::FieldSubtype;
using storage::FieldType;
using storage::SubtypeCode;
using storage::TFieldDescriptor;
using storage::TIndexDescriptor;
using storage::TypeCode;

namespace {

std::string_view LastChars(std::string_view s, std::size_t n) {
  return s.size() > n ? s.substr(s.size() - n) : s;
}

// Fills what every result field shares: number, name, and nothing of the
// source's checks, default, computing expression or run-time reference.
void FinishDescriptor(TFieldDescriptor& f, std::uint16_t number, std::string_view name) {
  f.FieldNumber = number;
  f.Name.Assign(name.substr(0, std::min(name.size(), kMaxFieldNameLength)));
  f.Required = 0;
  f.Reserved1 = 0;
  f.MinValue.Assign("");
  f.MaxValue.Assign("");
  f.DefaultValue.Assign("");
  f.Computed = 0;
  f.Expression.Assign("");
  f.ExpressionRef = 0;
  std::fill(std::begin(f.Reserved2), std::end(f.Reserved2), std::uint8_t{0});
}

// Type, subtype, size and decimals of a checked expression as a field.
void SetExpressionType(TFieldDescriptor& f, const TResultDataField& column) {
  f.FieldType = column.type_;
  f.Subtype = column.subtype_;
  f.Size = 0;
  f.Decimals = 0;
  if (column.aggregate_ == AggregateKind::kAvg) {
    // An average is a quotient whatever it averages.
    f.FieldType = TypeCode(FieldType::kFloat);
    f.Subtype = 0;
  } else if (f.FieldType == TypeCode(FieldType::kString)) {
    // The expression's size counts the terminating zero.
    f.Size = static_cast<std::uint8_t>(column.size_ > 0 ? column.size_ - 1 : 0);
  } else if (storage::HasDeclaredSize(f.Type())) {
    f.Size = static_cast<std::uint8_t>(std::min<int>(column.size_, storage::kMaxDeclaredSize));
  } else if (f.FieldType == TypeCode(FieldType::kCurrency)) {
    f.Decimals = column.decimals_;
  }
  // A value computed from an auto-increment column is an ordinary number:
  // as a field subtype it would turn into the result row's own record ID.
  if (f.IsAutoIncrement()) f.Subtype = 0;
}

}  // namespace

std::string ResultNameSet::Key(std::string_view name) {
  return platform::AnsiUpperCase(
      storage::TrimBlanks(name.substr(0, std::min(name.size(), kMaxFieldNameLength))));
}

bool ResultNameSet::Contains(std::string_view name) const { return keys_.count(Key(name)) != 0; }

void ResultNameSet::Add(std::string_view name) { keys_.insert(Key(name)); }

std::string Suffixed(std::string_view base, int k) {
  const std::string suffix = "_" + std::to_string(k);
  if (base.size() + suffix.size() >= kMaxFieldNameLength + 1) {
    const std::size_t keep =
        suffix.size() < kMaxFieldNameLength ? kMaxFieldNameLength - suffix.size() : 0;
    base = LastChars(base, keep);
  }
  return std::string(base) + suffix;
}

std::string ResultNameBase(std::string_view column_name, std::string_view alias,
                           AggregateKind kind) {
  if (!alias.empty()) return std::string(LastChars(alias, kMaxFieldNameLength));
  static constexpr const char* kExpressionNames[] = {
      "Expression", "Sum Of Expr", "Min Of Expr", "Max Of Expr", "Average Of Expr",
      "Count Of Expr"};
  static constexpr const char* kPrefixes[] = {"",           "Sum Of ",     "Min Of ",
                                              "Max Of ",    "Average Of ", "Count Of "};
  const auto k = static_cast<std::size_t>(kind);
  if (k >= std::size(kPrefixes)) return std::string(column_name);
  if (column_name.empty()) return kExpressionNames[k];
  return kPrefixes[k] + std::string(column_name);
}

std::string UniqueResultName(std::string_view base, const ResultNameSet& taken) {
  std::string name(base);
  // Each clash moves to the next k, so the first free Suffixed(base, k) is
  // the name; every name of the set can clash at most once.
  for (int k = 0; taken.Contains(name);) name = Suffixed(base, ++k);
  return name;
}

bool IndexesMatch(const TIndexDescriptor& existing, const TIndexDescriptor& wanted) {
  if (existing.FieldCount != wanted.FieldCount || existing.Descending != wanted.Descending ||
      existing.CaseInsensitive != wanted.CaseInsensitive) {
    return false;
  }
  for (int i = 0; i < storage::kMaxKeyFields && wanted.FieldNumbers[i] != 0; ++i) {
    if (existing.FieldNumbers[i] != wanted.FieldNumbers[i] ||
        (existing.FieldDescending[i] != 0) != (wanted.FieldDescending[i] != 0)) {
      return false;
    }
  }
  return true;
}

TFieldDescriptor ResultFieldDescriptor(const TResultDataField& column,
                                       const TFieldDescriptor* source) {
  TFieldDescriptor f;
  const bool plain = !column.expression_ && column.aggregate_ == AggregateKind::kNone;
  if (plain && source != nullptr) {
    f = *source;
    if (f.IsAutoIncrement()) f.Subtype = 0;
  } else {
    SetExpressionType(f, column);
  }
  FinishDescriptor(f, static_cast<std::uint16_t>(column.result_field_number_ + 1),
                   column.result_name_);
  return f;
}

TFieldDescriptor ComputedFieldDescriptor(const TResultDataField& column,
                                         std::uint32_t expression_id) {
  TFieldDescriptor f;
  SetExpressionType(f, column);
  FinishDescriptor(f, column.result_field_number_, column.result_name_);
  f.Computed = 1;
  f.Expression.Assign(column.expression_text_);
  f.ExpressionRef = expression_id;
  return f;
}

TFieldDescriptor RowNumberField() {
  TFieldDescriptor f;
  f.FieldNumber = 1;
  f.Name.Assign(kRowNoFieldName);
  f.FieldType = TypeCode(FieldType::kInteger);
  f.Subtype = SubtypeCode(FieldSubtype::kAutoIncrement);
  return f;
}

std::string AvgCountFieldName(int k) {
  return k == 0 ? std::string(kAvgCountFieldName) : Suffixed(kAvgCountFieldName, k);
}

TFieldDescriptor AvgCountField(int k, std::uint16_t field_number) {
  TFieldDescriptor f;
  f.FieldNumber = field_number;
  f.Name.Assign(AvgCountFieldName(k));
  f.FieldType = TypeCode(FieldType::kInteger);
  return f;
}

TIndexDescriptor ResultIndex(std::string_view name, const std::vector<std::uint16_t>& fields,
                             const std::vector<bool>& descending) {
  TIndexDescriptor d;
  d.SetName(name);
  const std::size_t n = std::min<std::size_t>(fields.size(), storage::kMaxKeyFields);
  d.FieldCount = static_cast<std::uint8_t>(n);
  for (std::size_t i = 0; i < n; ++i) {
    d.FieldNumbers[i] = fields[i];
    d.FieldDescending[i] = i < descending.size() && descending[i] ? 1 : 0;
  }
  return d;
}

storage::DataTableDefinition ResultTableDefinition(std::vector<TFieldDescriptor> fields,
                                                   std::vector<TIndexDescriptor> indexes) {
  storage::DataTableDefinition def;
  def.creator1 = 0;
  def.creator2 = 0;
  def.encrypted = false;
  def.description = std::string(kResultDescription);
  def.blob_block_size = storage::kDataDefaultBlobBlockSize;
  def.fields = std::move(fields);
  def.primary = TIndexDescriptor{};  // no key fields: natural order
  def.secondary = std::move(indexes);
  def.allow_empty_primary = true;
  return def;
}

}  // namespace sql
