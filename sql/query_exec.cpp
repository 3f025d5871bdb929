// ExecuteQuery: a live result is the first source under its WHERE
// filters; a canned result is filled row by row from the joined source
// rows, with DISTINCT and grouping done by exact key lookups in the result
// table's own index and aggregates accumulated in the result rows.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "sql/data_query.h"
#include "sql/result_table.h"
#include "sql/sql_error.h"
#include "storage/engine_error.h"
#include "storage/engine_utils.h"
#include "storage/expression_eval.h"
#include "storage/expression_types.h"

namespace sql {

using storage::FieldType;
using storage::TDataFile;
using storage::TExpressionNode;

struct TDataQuery::ExecState {
  TDataFile* result = nullptr;
  std::vector<std::byte> new_row;
  std::vector<std::byte> found_row;
  std::vector<std::byte> scratch;
  std::int32_t visited = 0;
  std::uint32_t last_position = 0;
  bool abort = false;
  int avg_count_field = 0;
  std::uint32_t driving_count = 0;  // records of the driving table
  std::uint16_t code = 0;  // 11047 when a BLOB value could not be copied
};

namespace {

// Copies the whole BLOB value of the source's current record into a new
// BLOB value of the result row; false when the source value does not open.
bool CopyBlob(TSourceDataFile& source, int field, TDataFile& result, int result_field,
              std::span<std::byte> row) {
  TDataFile& file = *source.data_file_;
  std::span<std::byte> record(source.record_buffer_);
  if (file.OpenBlobField(true, field, record) != 0 || !file.IsBlobFieldOpen(true, field, record)) {
    return false;
  }
  std::int32_t size = 0;
  if (file.GetBlobFieldSize(true, field, size, record) != 0 || size < 0) return false;
  std::vector<std::byte> data(static_cast<std::size_t>(size));
  std::int32_t read = 0;
  if (size > 0 && file.ReadBlobField(true, field, read, 0, data.data(), size, record) != 0) {
    return false;
  }
  storage::CheckEngineResult(result.OpenBlobField(true, result_field, row));
  if (size > 0) {
    storage::CheckEngineResult(result.WriteBlobField(true, result_field, data.data(), 0, size, row));
  }
  return true;
}

// A value of a node as a number; false for a null or a type that is not
// aggregated.
bool NodeNumber(const TExpressionNode& n, double& out, std::int64_t& raw) {
  if (n.null != 0) return false;
  switch (n.type) {
    case FieldType::kSmallInt: raw = storage::NodeValue<std::int16_t>(n); break;
    case FieldType::kWord: raw = storage::NodeValue<std::uint16_t>(n); break;
    case FieldType::kInteger:
    case FieldType::kDate:
    case FieldType::kTime: raw = storage::NodeValue<std::int32_t>(n); break;
    case FieldType::kFloat:
    case FieldType::kTimestamp:
      out = storage::NodeValue<double>(n);
      raw = static_cast<std::int64_t>(std::llround(out));
      return true;
    case FieldType::kCurrency:
      raw = storage::NodeValue<std::int64_t>(n);
      out = static_cast<double>(raw) / 10000.0;
      return true;
    default: return false;
  }
  out = static_cast<double>(raw);
  return true;
}

}  // namespace

std::uint16_t TDataQuery::FillRow(ExecState& st, std::span<std::byte> row) {
  TDataFile& result = *st.result;
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    const TResultDataField& c = *columns_.Get(i);
    if (c.aggregate_ != AggregateKind::kNone) continue;
    const storage::FieldSlot slot = result.GetFieldDescriptor(true, c.result_field_number_).Slot();
    if (!c.expression_) {
      if (c.source_ == nullptr || c.field_number_ >= c.source_->slots_.size()) continue;
      const storage::FieldSlot& from = c.source_->slots_[c.field_number_];
      if (!from.IsAutoIncrement() && !storage::FieldHasValue(c.source_->record_buffer_, from)) {
        continue;
      }
      if (from.type == FieldType::kBlob) {
        if (!CopyBlob(*c.source_, c.field_number_, result, c.result_field_number_, row)) {
          return kErrorExecuted;
        }
        continue;
      }
      storage::PutFieldBytes(row, slot, storage::FieldValueBytes(c.source_->record_buffer_, from));
    } else if (c.tree_) {
      TExpressionNode value;
      EvaluateOnRows(*c.tree_, value);
      if (value.type != slot.type && value.null == 0 && value.type != FieldType::kNone) {
        TExpressionNode target;
        target.type = slot.type;
        target.size = slot.physical_size;
        std::array<std::uint8_t, storage::kNodeValueSize> converted{};
        storage::ConvertExpressionValue(value, value.value, target, converted);
        value.value = converted;
        value.type = slot.type;
      }
      storage::StoreRecordValue(value, row, slot);
    }
  }
  return 0;
}

// Combines every aggregate column of the current rows into acc (read from
// acc, written to target).
void TDataQuery::FillAggregates(ExecState& st, std::span<std::byte> target,
                                std::span<const std::byte> acc) {
  TDataFile& result = *st.result;
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    const TResultDataField& c = *columns_.Get(i);
    if (c.aggregate_ == AggregateKind::kNone) continue;
    const int rf = c.result_field_number_;
    const storage::TFieldDescriptor& d = result.GetFieldDescriptor(true, rf);
    const FieldType type = d.Type();
    TExpressionNode value;
    bool have_value = false;
    if (c.aggregate_ != AggregateKind::kCount) {
      if (!c.expression_) {
        if (c.source_ != nullptr && c.field_number_ < c.source_->slots_.size()) {
          storage::LoadRecordValue(c.source_->record_buffer_, c.source_->slots_[c.field_number_],
                                   value);
          have_value = true;
        }
      } else if (c.tree_ && c.tree_->left) {
        EvaluateOnRows(*c.tree_->left, value);
        have_value = true;
      }
    }
    double vd = 0;
    std::int64_t vi = 0;
    const bool has_new = have_value && NodeNumber(value, vd, vi);
    bool acc_blank = true;
    std::array<std::uint8_t, 256> buf{};
    result.GetFieldValue(true, rf, acc_blank, buf.data(), acc);
    bool numeric = true;
    double ad = 0;
    std::int64_t ai = 0;
    switch (type) {
      case FieldType::kSmallInt: ai = storage::LoadLittle<std::int16_t>(buf.data()); break;
      case FieldType::kWord: ai = storage::LoadLittle<std::uint16_t>(buf.data()); break;
      case FieldType::kInteger:
      case FieldType::kDate:
      case FieldType::kTime: ai = storage::LoadLittle<std::int32_t>(buf.data()); break;
      case FieldType::kFloat:
      case FieldType::kTimestamp: ad = storage::LoadLittle<double>(buf.data()); break;
      case FieldType::kCurrency: ai = storage::LoadLittle<std::int64_t>(buf.data()); break;
      default: numeric = false; break;
    }
    if (!numeric) continue;  // strings and the like are not aggregated
    const bool is_float = type == FieldType::kFloat || type == FieldType::kTimestamp;
    const bool is_currency = type == FieldType::kCurrency;
    // The new value in the accumulator's terms.
    double nd = vd;
    std::int64_t ni = vi;
    if (is_currency) {
      ni = value.type == FieldType::kCurrency ? vi : std::llround(vd * 10000.0);
    }
    switch (c.aggregate_) {
      case AggregateKind::kCount:
        if (is_float) ad += 1; else ai += is_currency ? 10000 : 1;
        break;
      case AggregateKind::kSum:
      case AggregateKind::kAvg:
        if (has_new) {
          if (is_float) ad += nd; else ai += ni;
        }
        break;
      case AggregateKind::kMin:
      case AggregateKind::kMax:
        if (has_new) {
          const bool is_max = c.aggregate_ == AggregateKind::kMax;
          if (is_float) {
            if (acc_blank || (is_max ? nd > ad : nd < ad)) ad = nd;
          } else {
            if (acc_blank || (is_max ? ni > ai : ni < ai)) ai = ni;
          }
        }
        break;
      default: break;
    }
    switch (type) {
      case FieldType::kSmallInt: storage::StoreLittle<std::int16_t>(buf.data(), static_cast<std::int16_t>(ai)); break;
      case FieldType::kWord: storage::StoreLittle<std::uint16_t>(buf.data(), static_cast<std::uint16_t>(ai)); break;
      case FieldType::kInteger:
      case FieldType::kDate:
      case FieldType::kTime: storage::StoreLittle<std::int32_t>(buf.data(), static_cast<std::int32_t>(ai)); break;
      case FieldType::kFloat:
      case FieldType::kTimestamp: storage::StoreLittle<double>(buf.data(), ad); break;
      case FieldType::kCurrency:
        storage::StoreLittle<std::int64_t>(buf.data(), storage::RoundCurrency(ai, d.PhysicalDecimals));
        break;
      default: break;
    }
    result.SetFieldValue(true, rf, true, buf.data(), target);
  }
  if (st.avg_count_field != 0) {
    bool blank = true;
    std::int32_t n = 0;
    result.GetFieldValue(true, st.avg_count_field, blank, &n, acc);
    n = blank ? 1 : n + 1;
    result.SetFieldValue(true, st.avg_count_field, true, &n, target);
  }
}

bool TDataQuery::EmitRow(ExecState& st) {
  TDataFile& driving = *sources_.Get(0)->data_file_;
  const std::uint32_t position = driving.GetRecordPosition();
  if (position != st.last_position) {
    st.last_position = position;
    ++st.visited;
    if (progress_callback_) {
      if (st.driving_count == 0) {
        st.driving_count = driving.RecordCount();
      }
      const std::uint32_t count = st.driving_count;
      const std::uint16_t percent =
          count == 0 ? 100
                     : static_cast<std::uint16_t>(static_cast<std::uint64_t>(st.visited) * 100 /
                                                  count);
      progress_callback_(*this, st.visited, percent, st.abort);
    }
  }
  if (!ResidualHolds()) return !st.abort;
  TDataFile& result = *st.result;
  if (flags_.single_group) {
    FillAggregates(st, st.found_row, st.found_row);
    return !st.abort;
  }
  result.ApplyDefaultValues(st.new_row);
  if (FillRow(st, st.new_row) != 0) {
    st.code = kErrorExecuted;
    result.FreeBlobBuffers();
    return false;
  }
  if (!flags_.grouped) {
    if (!flags_.distinct || !result.GotoExactKey(st.new_row, st.scratch)) {
      result.InsertRecord(st.new_row);
    }
  } else if (result.GotoExactKey(st.new_row, st.found_row)) {
    FillAggregates(st, st.found_row, st.found_row);
    result.ModifyRecord(st.found_row, true);
  } else {
    result.ApplyDefaultValues(st.found_row);
    FillAggregates(st, st.new_row, st.found_row);
    result.InsertRecord(st.new_row);
  }
  result.FreeBlobBuffers();
  for (std::int32_t i = 0; i < sources_.Count(); ++i) sources_.Get(i)->data_file_->FreeBlobBuffers();
  return !st.abort;
}

// The nested join: every row of the source at depth that satisfies its
// link condition, then the sources after it; a left outer source without
// such a row gives its blank record once.
bool TDataQuery::JoinLevel(ExecState& st, std::int32_t depth) {
  if (depth == sources_.Count()) return EmitRow(st);
  TSourceDataFile& s = *sources_.Get(depth);
  TDataFile& file = *s.data_file_;
  // The child's rows for the current rows before it come from its indexes
  // where the engine can; the condition is still tested on each row.
  if (depth > 0 && s.link_condition_) RefreshLinkFilter(s);
  storage::CheckEngineResult(file.MoveToBegin());
  bool matched = false;
  while (file.ReadNextRecord(s.record_buffer_) == 0) {
    if (s.link_condition_) {
      TExpressionNode holds;
      EvaluateOnRows(*s.link_condition_, holds);
      if (!storage::NodeIsTrue(holds)) continue;
    }
    matched = true;
    if (!JoinLevel(st, depth + 1)) return false;
  }
  if (!matched && s.link_type_ == 2) {
    file.ApplyDefaultValues(s.record_buffer_);
    if (!JoinLevel(st, depth + 1)) return false;
  }
  return true;
}

std::uint16_t TDataQuery::SetQueryParams(std::int32_t count,
                                         const storage::TFieldDescriptor* fields,
                                         std::span<const std::byte> record) {
  for (std::int32_t i = 0; i < count; ++i) {
    if (i >= ParameterCount()) SqlError("Internal parameter error");
    TExpressionNode& node = *Parameter(i);
    const storage::TFieldDescriptor& f = fields[i];
    node.type = f.Type();
    node.subtype = f.Subtype;
    node.size = f.PhysicalSize;
    node.value.fill(0);
    const std::size_t at = f.Offset;
    if (at + 1 + f.PhysicalSize > record.size()) SqlError("Internal parameter error");
    node.null = std::to_integer<std::uint8_t>(record[at]) == 0 ? 1 : 0;
    std::memcpy(node.value.data(), record.data() + at + 1,
                std::min<std::size_t>(f.PhysicalSize, node.value.size()));
  }
  return 0;
}

std::uint16_t TDataQuery::ExecuteQuery(TDataFile*& cursor) {
  cursor = nullptr;
  if (sources_.Count() == 0) SqlError("Internal join error attempting to validate table correlation names involved in join");
  DropWhereFilters();
  CheckWhere();
  SplitWhere();

  if (flags_.live) {
    TDataFile& file = *sources_.Get(0)->data_file_;
    file.SwitchToIndex(flags_.order_by_matches_index ? flags_.live_index : 0);
    ApplyWhereFilters();
    storage::CheckEngineResult(file.MoveToBegin());
    cursor = &file;
    executed_ = true;
    return 0;
  }

  ExecState st;
  st.result = result_.get();
  TDataFile& result = *st.result;
  const bool avg = flags_.avg_used;
  int locked = 0;
  try {
    if (with_locks_) {
      for (; locked < sources_.Count(); ++locked) sources_.Get(locked)->data_file_->LockTable();
    }
    const std::size_t size = result.GetRecordBufferSize();
    st.new_row.assign(size, std::byte{0});
    st.found_row.assign(size, std::byte{0});
    st.scratch.assign(size, std::byte{0});
    result.EmptyDataTable();
    if (flags_.distinct) {
      result.SwitchToIndexByName(flags_.order_by_serves ? kOrderByIndexName : kDistinctIndexName);
    } else if (flags_.grouped && !flags_.single_group) {
      result.SwitchToIndexByName(flags_.order_by_serves ? kOrderByIndexName : kGroupByIndexName);
    } else if (!flags_.single_group) {
      result.SwitchToIndex(storage::kNoIndex);
    }
    if (avg) {
      result.ShowLastField();
      st.avg_count_field = result.WorkingFieldCount();
    }
    ApplyWhereFilters();

    const bool count_only = flags_.single_group && sources_.Count() == 1 &&
                            columns_.Count() == 1 &&
                            columns_.Get(0)->aggregate_ == AggregateKind::kCount;
    if (count_only) {
      TDataFile& driving = *sources_.Get(0)->data_file_;
      const std::int32_t n = static_cast<std::int32_t>(driving.RecordCount());
      const TResultDataField& c = *columns_.Get(0);
      const storage::TFieldDescriptor& d = result.GetFieldDescriptor(true, c.result_field_number_);
      std::array<std::uint8_t, 16> buf{};
      if (d.Type() == FieldType::kCurrency) {
        storage::StoreLittle<std::int64_t>(buf.data(), std::int64_t{n} * 10000);
      } else if (d.Type() == FieldType::kFloat) {
        storage::StoreLittle<double>(buf.data(), n);
      } else {
        storage::StoreLittle<std::int32_t>(buf.data(), n);
      }
      result.SetFieldValue(true, c.result_field_number_, true, buf.data(), st.found_row);
      if (progress_callback_) progress_callback_(*this, n, 100, st.abort);
      result.InsertRecord(st.found_row);
    } else {
      JoinLevel(st, 0);
      if (flags_.single_group && st.code == 0) result.InsertRecord(st.found_row);
    }

    if (avg && st.code == 0) {
      result.SwitchToIndex(0);
      storage::CheckEngineResult(result.MoveToBegin());
      std::vector<std::byte>& row = st.new_row;
      while (result.ReadNextRecord(row) == 0) {
        bool blank = true;
        std::int32_t n = 0;
        result.GetFieldValue(true, st.avg_count_field, blank, &n, row);
        for (std::int32_t i = 0; i < columns_.Count(); ++i) {
          const TResultDataField& c = *columns_.Get(i);
          if (c.aggregate_ != AggregateKind::kAvg) continue;
          bool vb = true;
          double sum = 0;
          result.GetFieldValue(true, c.result_field_number_, vb, &sum, row);
          double mean = n != 0 && !blank ? sum / n : 0;
          result.SetFieldValue(true, c.result_field_number_, true, &mean, row);
        }
        result.ModifyRecord(row, true);
      }
      result.HideLastField();
    }
  } catch (...) {
    if (avg && result.WorkingFieldCount() > columns_.Count()) result.HideLastField();
    for (std::int32_t i = 0; i < locked; ++i) {
      try {
        sources_.Get(i)->data_file_->UnlockTable();
      } catch (...) {
      }
    }
    throw;
  }
  for (std::int32_t i = 0; i < locked; ++i) sources_.Get(i)->data_file_->UnlockTable();
  for (std::int32_t i = 0; i < sources_.Count(); ++i) sources_.Get(i)->data_file_->FreeBlobBuffers();
  if (st.code != 0) {
    if (avg && result.WorkingFieldCount() > columns_.Count()) result.HideLastField();
    return st.code;
  }

  if (flags_.order_by) {
    result.SwitchToIndexByName(kOrderByIndexName);
  } else if (flags_.grouped && !flags_.single_group) {
    result.SwitchToIndexByName(flags_.order_by_serves ? kOrderByIndexName : kGroupByIndexName);
  } else {
    result.SwitchToIndex(0);
  }
  storage::CheckEngineResult(result.MoveToBegin());
  cursor = &result;
  executed_ = true;
  return 0;
}

}  // namespace sql
