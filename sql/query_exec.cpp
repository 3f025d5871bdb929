// ExecuteQuery: a live result is the first source under its WHERE
// filter; a canned result is filled row by row from the joined source
// rows of the plan (join_plan.h), with aggregates accumulated in the
// result rows. Aggregates take the values that are not NULL: COUNT(x)
// counts them and AVG(x) divides their sum by their number (each AVG
// column keeps its own count); COUNT(*) counts the rows.
//
// Writing the result: a result without BLOB columns is the appender's
// (TDataFile::RecordAppender): the table is new, empty and no one else's,
// so its records go to the file in blocks with no write frame per row.
// Rows that ORDER BY, DISTINCT or grouping concern are gathered in memory
// first (DISTINCT and group keys by hash) and given to the appender in the
// order of the result's index, so that each key goes to the end of it.
// With BLOB columns (whose values are written with their row) each row is
// inserted as it comes, DISTINCT and grouping done by exact key lookups in
// the result table's own index.
//
// Reading the sources: each source table is read under one read section
// for the whole fill (one index read lock and one header check, not one
// per record), straight from its record buffers in record order, through
// its filter's bitmap. A table read by a later step is read once and its
// rows kept for the execution, chained by the step's key.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sql/data_query.h"
#include "sql/result_table.h"
#include "sql/sql_error.h"
#include "storage/data_file_format.h"
#include "storage/data_file_scan.h"
#include "storage/engine_error.h"
#include "storage/expression_eval.h"
#include "storage/expression_types.h"
#include "storage/filter_engine.h"
#include "storage/index_format.h"
#include "storage/lock_guards.h"
#include "storage/value_text.h"

namespace sql {

using storage::FieldType;
using storage::TDataFile;
using storage::TExpressionNode;

namespace {

// Byte keys to row numbers, for the DISTINCT and group keys of a buffered
// fill: open addressing over a power-of-two table at most half full, the
// keys' bytes kept one after another in one string (no allocation per key).
class KeyRows {
 public:
  // The row of key; when key is new it is added with row, and added set.
  std::uint32_t FindOrAdd(std::string_view key, std::uint32_t row, bool& added) {
    if ((used_ + 1) * 2 > slots_.size()) Grow();
    const std::uint64_t hash = std::hash<std::string_view>{}(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.row == kFree) {
        s = Slot{hash, bytes_.size(), key.size(), row};
        bytes_.append(key);
        ++used_;
        added = true;
        return row;
      }
      if (s.hash == hash && s.length == key.size() &&
          std::memcmp(bytes_.data() + s.offset, key.data(), key.size()) == 0) {
        added = false;
        return s.row;
      }
    }
  }

 private:
  static constexpr std::uint32_t kFree = 0xFFFFFFFFu;
  struct Slot {
    std::uint64_t hash = 0;
    std::size_t offset = 0;
    std::size_t length = 0;
    std::uint32_t row = kFree;
  };
  void Grow() {
    std::vector<Slot> old(std::max<std::size_t>(64, slots_.size() * 2));
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.row == kFree) continue;
      std::size_t i = static_cast<std::size_t>(s.hash) & mask;
      while (slots_[i].row != kFree) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }
  std::vector<Slot> slots_;
  std::string bytes_;
  std::size_t used_ = 0;
};

// Hides the AVG columns' counts again: the dataset sees the columns only.
void HideAverageCounts(TDataFile& result, int columns) {
  while (result.WorkingFieldCount() > columns) result.HideLastField();
}

}  // namespace

struct TDataQuery::ExecState {
  TDataFile* result = nullptr;
  std::vector<std::byte> new_row;
  std::vector<std::byte> found_row;
  std::vector<std::byte> scratch;
  std::int32_t visited = 0;
  std::uint32_t last_position = 0;
  std::uint32_t driving_position = 0;  // record number of the driving row
  TDataFile* driving = nullptr;
  bool abort = false;
  int avg_count_field = 0;  // the first AVG column's count; the others follow
  std::uint32_t driving_count = 0;  // records of the driving table
  std::uint16_t code = 0;  // 11047 when a BLOB value could not be copied
  std::string key;         // scratch key of a lookup
  // Buffered fill (see FillBuffered): the result rows in memory, width
  // bytes each, and the row of each DISTINCT or group key.
  bool buffered = false;
  std::size_t width = 0;
  std::vector<std::byte> rows;
  std::uint32_t count = 0;
  KeyRows seen;
  std::array<std::uint8_t, storage::kKeyBufferSize> key_buffer{};
  // Each aggregate column resolved once per execution (FillAggregates):
  // where its accumulator sits in a result row and where its argument
  // comes from.
  struct Aggregate {
    const TResultDataField* column = nullptr;
    storage::FieldSlot slot;           // the accumulator in a result row
    std::uint8_t decimals = 0;         // of a currency accumulator
    const TSourceDataFile* source = nullptr;  // a plain argument's table
    storage::FieldSlot from;           // and its field there
    storage::FieldSlot count;          // an AVG column's count of values
  };
  std::vector<Aggregate> aggregates;
  bool aggregates_resolved = false;
  // The columns FillRow fills, resolved once: a plain column with a
  // source field, or an expression column, and its field in a result row.
  struct Column {
    const TResultDataField* column = nullptr;
    storage::FieldSlot slot;
  };
  std::vector<Column> columns;
  bool columns_resolved = false;
  // The lookup index's key fields when a buffered row's key is taken
  // from its bytes (BufferRow); empty: built by the index.
  std::vector<storage::FieldSlot> key_slots;
  bool key_fields_resolved = false;
  // The result rows go to the result table in bulk (a result without
  // BLOB columns, whose values are written with their row): from here, or
  // from the buffered rows at the end.
  std::optional<TDataFile::RecordAppender> appender;
};

// What follows a step: the next step of group (next == its count: the
// group's end), with checks tested first; at the end of an optional group,
// matched is set and the rows go on with parent.
struct TDataQuery::Continuation {
  JoinGroup* group = nullptr;
  std::size_t next = 0;
  const Continuation* parent = nullptr;
  bool* matched = nullptr;
  const std::vector<PlanCondition>* checks = nullptr;
};

namespace {

// Copies the whole BLOB value of the source's current record into a new
// BLOB value of the result row; false when the source value does not open.
// The value is opened on a copy of the record: opening puts a handle in
// place of the value's address, and the source's record buffer must keep
// the address for the rows after this one.
bool CopyBlob(TSourceDataFile& source, int field, TDataFile& result, int result_field,
              std::span<std::byte> row) {
  TDataFile& file = *source.data_file_;
  std::vector<std::byte> copy(source.record_buffer_);
  std::span<std::byte> record(copy);
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
  (void)file.CloseBlobField(true, field, record);
  CheckFileResult(result, result.OpenBlobField(true, result_field, row));
  if (size > 0) {
    CheckFileResult(result, result.WriteBlobField(true, result_field, data.data(), 0, size, row));
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

// Key bytes: 0 for null; else 1 and the value, so that two keys are equal
// exactly when the evaluator's = holds for the two values (two nulls are
// equal; integers compare as 64-bit numbers; -0.0 equals 0.0; a NaN equals
// nothing and has no key). False: no key (nothing matches).
bool AppendKey(FieldType type, bool null, const std::uint8_t* v, std::size_t avail,
               KeyDomain domain, std::string& out) {
  out.clear();
  if (null) {
    out.push_back('\0');
    return true;
  }
  out.push_back('\1');
  auto put = [&](const void* p, std::size_t n) {
    out.append(static_cast<const char*>(p), n);
  };
  if (domain == KeyDomain::kInteger) {
    std::int64_t i = 0;
    switch (type) {
      case FieldType::kSmallInt: i = storage::LoadLittle<std::int16_t>(v); break;
      case FieldType::kWord: i = storage::LoadLittle<std::uint16_t>(v); break;
      default: i = storage::LoadLittle<std::int32_t>(v); break;
    }
    put(&i, sizeof i);
    return true;
  }
  switch (type) {
    case FieldType::kFloat:
    case FieldType::kTimestamp: {
      double d = storage::LoadLittle<double>(v);
      if (std::isnan(d)) return false;
      if (d == 0) d = 0;  // -0.0
      put(&d, sizeof d);
      return true;
    }
    case FieldType::kDate:
    case FieldType::kTime: put(v, 4); return true;
    case FieldType::kString: {
      std::size_t n = 0;
      while (n < avail && v[n] != 0) ++n;
      put(v, n);
      return true;
    }
    default: return false;
  }
}

// An integer-domain key of a record's field: false for null.
bool IntKeyOfRecord(std::span<const std::byte> record, const storage::FieldSlot& slot,
                    std::int64_t& out) {
  if (!storage::FieldHasValue(record, slot)) return false;
  const auto* v = reinterpret_cast<const std::uint8_t*>(storage::FieldValueBytes(record, slot).data());
  switch (slot.type) {
    case FieldType::kSmallInt: out = storage::LoadLittle<std::int16_t>(v); break;
    case FieldType::kWord: out = storage::LoadLittle<std::uint16_t>(v); break;
    default: out = storage::LoadLittle<std::int32_t>(v); break;
  }
  return true;
}

bool KeyOfRecord(std::span<const std::byte> record, const storage::FieldSlot& slot,
                 KeyDomain domain, std::string& out) {
  const bool has = storage::FieldHasValue(record, slot);
  const auto bytes = storage::FieldValueBytes(record, slot);
  return AppendKey(slot.type, !has, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                   bytes.size(), domain, out);
}

bool KeyOfNode(const TExpressionNode& n, KeyDomain domain, std::string& out) {
  return AppendKey(n.type, n.null != 0, n.value.data(), storage::kNodeValueSize - 1, domain, out);
}

// Calls visit(record number), with the record in buffer, for every record
// of the table's filtered view that satisfies condition (when given), in
// record order, until visit answers false; false then. Inside a read
// section.
//
// The records are read by the table's scan past its record cache
// (TDataFile::ScanStoredRecords): a walk would push every record through
// the cache (a lookup, a recycled buffer and two map updates per record)
// only to drop it again. The condition is tested on the stored image, and
// only a record that passes is copied into buffer. A table whose records
// carry computed fields is read through its cache, which computes them.
template <class Visit>
bool ForEachViewRecord(TDataFile& file, const RecordCondition* condition,
                       std::span<std::byte> buffer, Visit&& visit) {
  file.CheckHeaderChanged();
  const std::uint32_t last = file.PhysicalRecordCount();
  storage::FilterEngine& engine = file.Filters();
  // With expression filters only, the result bitmap is the view: records
  // outside it are not read at all.
  const bool by_bitmap = engine.BitmapMode() && !engine.CallbackActive();
  // Otherwise only callback filters can refuse a record.
  const bool ask_filters = !by_bitmap && engine.CallbackActive();
  const storage::RecordBitmap* only = by_bitmap ? &engine.Result() : nullptr;
  const std::size_t size = std::min(buffer.size(), file.GetRecordBufferSize());
  bool completed = true;
  std::fill(buffer.begin(), buffer.end(), std::byte{0});
  const bool scanned =
      file.ScanStoredRecords(only, last, [&](std::uint32_t r, std::span<const std::byte> record) {
        if (ask_filters && !file.FilterAccepts(r)) return true;
        if (condition != nullptr && !condition->Holds(record)) return true;
        std::memcpy(buffer.data(), record.data(), std::min(size, record.size()));
        completed = visit(r);
        return completed;
      });
  if (scanned) return completed;
  for (std::uint32_t r = only ? only->NextSet(0) : 1; r >= 1 && r <= last;
       r = only ? only->NextSet(r) : r + 1) {
    storage::TRecord* rec = file.GetRecordBuffer(r, true, storage::ReadDirection::kForward, false);
    const bool live = rec->Status() == 0;
    if (live) std::memcpy(buffer.data(), rec->Data().data(), size);
    file.ReleaseRecordBuffer(rec);
    if (!live || (ask_filters && !file.FilterAccepts(r))) continue;
    if (condition != nullptr && !condition->Holds(buffer)) continue;
    if (!visit(r)) return false;
  }
  return true;
}

// An accumulator as the data file reads a field: blank for a clear flag
// or a stored NaN; out holds the value bytes (zero for a NaN).
bool ReadAccumulator(std::span<const std::byte> row, const storage::FieldSlot& slot,
                     std::array<std::uint8_t, 16>& out) {
  out.fill(0);
  const std::byte* p = row.data() + slot.offset;
  const std::size_t n = std::min<std::size_t>(slot.physical_size, out.size());
  bool blank = std::to_integer<std::uint8_t>(p[0]) == 0;
  if (n >= 8 && storage::IsNotANumber(slot.type, p + 1)) return true;
  std::memcpy(out.data(), p + 1, n);
  return blank;
}

// Stores an accumulator as the data file stores a value: a NaN as null.
void WriteAccumulator(std::span<std::byte> row, const storage::FieldSlot& slot,
                      const std::array<std::uint8_t, 16>& value) {
  const std::size_t n = std::min<std::size_t>(slot.physical_size, value.size());
  if (n >= 8 && storage::IsNotANumber(slot.type, value.data())) {
    storage::ClearField(row, slot);
    return;
  }
  storage::PutFieldBytes(row, slot, std::as_bytes(std::span(value.data(), n)));
}

// The value of a stored field as a number (NodeNumber of the node
// LoadRecordValue would make); false for a null or a type that is not
// aggregated.
bool FieldNumber(std::span<const std::byte> record, const storage::FieldSlot& slot, double& out,
                 std::int64_t& raw) {
  if (!storage::FieldHasValue(record, slot)) return false;
  const auto* v = reinterpret_cast<const std::uint8_t*>(storage::FieldValueBytes(record, slot).data());
  switch (slot.type) {
    case FieldType::kSmallInt: raw = storage::LoadLittle<std::int16_t>(v); break;
    case FieldType::kWord: raw = storage::LoadLittle<std::uint16_t>(v); break;
    case FieldType::kInteger:
    case FieldType::kDate:
    case FieldType::kTime: raw = storage::LoadLittle<std::int32_t>(v); break;
    case FieldType::kFloat:
    case FieldType::kTimestamp:
      out = storage::LoadLittle<double>(v);
      raw = static_cast<std::int64_t>(std::llround(out));
      return true;
    case FieldType::kCurrency:
      raw = storage::LoadLittle<std::int64_t>(v);
      out = static_cast<double>(raw) / 10000.0;
      return true;
    default: return false;
  }
  out = static_cast<double>(raw);
  return true;
}

// A buffered row in the order of its lookup key: the key's first 8 bytes
// as one big-endian number, and the row's place in arrival order.
struct Entry {
  std::uint64_t head;
  std::uint32_t row;
};

// Sorts by head, keeping arrival order among equal heads: least
// significant byte first, one stable counting pass per byte in which the
// heads differ (a key of a 32-bit integer leaves the last bytes alike).
void SortByHead(std::vector<Entry>& entries) {
  std::vector<Entry> other(entries.size());
  for (int shift = 0; shift < 64; shift += 8) {
    std::array<std::size_t, 257> start{};
    for (const Entry& e : entries) ++start[((e.head >> shift) & 0xFF) + 1];
    bool one_value = false;
    for (std::size_t b = 1; b < start.size(); ++b) {
      if (start[b] == entries.size()) one_value = true;
    }
    if (one_value) continue;
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    for (const Entry& e : entries) other[start[(e.head >> shift) & 0xFF]++] = e;
    entries.swap(other);
  }
}

// Stores the count n into a COUNT column of row, in the column's type.
void StoreCount(const TDataFile& result, int field, std::int32_t n, std::span<std::byte> row) {
  const storage::TFieldDescriptor& d = result.GetFieldDescriptor(true, field);
  std::array<std::uint8_t, 16> buf{};
  if (d.Type() == FieldType::kCurrency) {
    storage::StoreLittle<std::int64_t>(buf.data(), std::int64_t{n} * 10000);
  } else if (d.Type() == FieldType::kFloat) {
    storage::StoreLittle<double>(buf.data(), n);
  } else {
    storage::StoreLittle<std::int32_t>(buf.data(), n);
  }
  result.SetFieldValue(true, field, true, buf.data(), row);
}

}  // namespace

std::uint16_t TDataQuery::FillRow(ExecState& st, std::span<std::byte> row) {
  TDataFile& result = *st.result;
  if (!st.columns_resolved) {
    st.columns_resolved = true;
    for (std::int32_t i = 0; i < columns_.Count(); ++i) {
      const TResultDataField& c = *columns_.Get(i);
      if (c.aggregate_ != AggregateKind::kNone) continue;
      if (!c.expression_ &&
          (c.source_ == nullptr || c.field_number_ >= c.source_->slots_.size())) {
        continue;
      }
      st.columns.push_back({&c, result.GetFieldDescriptor(true, c.result_field_number_).Slot()});
    }
  }
  for (const ExecState::Column& column : st.columns) {
    const TResultDataField& c = *column.column;
    const storage::FieldSlot& slot = column.slot;
    if (!c.expression_) {
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
// acc, written to target). Values are read and written in the rows'
// bytes, as the data file's GetFieldValue and SetFieldValue would (a
// result row has no computed fields).
void TDataQuery::FillAggregates(ExecState& st, std::span<std::byte> target,
                                std::span<const std::byte> acc) {
  TDataFile& result = *st.result;
  if (!st.aggregates_resolved) {
    st.aggregates_resolved = true;
    int averages = 0;
    for (std::int32_t i = 0; i < columns_.Count(); ++i) {
      const TResultDataField& c = *columns_.Get(i);
      if (c.aggregate_ == AggregateKind::kNone) continue;
      const storage::TFieldDescriptor& d = result.GetFieldDescriptor(true, c.result_field_number_);
      ExecState::Aggregate a;
      a.column = &c;
      a.slot = d.Slot();
      a.decimals = d.PhysicalDecimals;
      if (!c.expression_ && c.source_ != nullptr && c.field_number_ < c.source_->slots_.size()) {
        a.source = c.source_;
        a.from = c.source_->slots_[c.field_number_];
      }
      if (c.aggregate_ == AggregateKind::kAvg) {
        a.count = result.GetFieldDescriptor(true, st.avg_count_field + averages++).Slot();
      }
      st.aggregates.push_back(a);
    }
  }
  std::array<std::uint8_t, 16> buf{};
  for (const ExecState::Aggregate& a : st.aggregates) {
    const TResultDataField& c = *a.column;
    const FieldType type = a.slot.type;
    double vd = 0;
    std::int64_t vi = 0;
    bool has_new = false;
    FieldType value_type = FieldType::kNone;
    if (c.aggregate_ == AggregateKind::kCount) {
      // COUNT(*) counts every row; COUNT(x) the rows whose x is not NULL.
      if (c.counts_every_row_) {
        has_new = true;
      } else if (a.source != nullptr) {
        has_new = storage::FieldHasValue(a.source->record_buffer_, a.from);
      } else if (c.expression_ && c.tree_ && c.tree_->left) {
        TExpressionNode value;
        EvaluateOnRows(*c.tree_->left, value);
        has_new = value.null == 0;
      }
    } else if (a.source != nullptr) {
      has_new = FieldNumber(a.source->record_buffer_, a.from, vd, vi);
      value_type = a.from.type;
    } else if (c.expression_ && c.tree_ && c.tree_->left) {
      // Evaluated whatever the column's type: its errors are raised.
      TExpressionNode value;
      EvaluateOnRows(*c.tree_->left, value);
      has_new = NodeNumber(value, vd, vi);
      value_type = value.type;
    }
    switch (type) {
      case FieldType::kSmallInt:
      case FieldType::kWord:
      case FieldType::kInteger:
      case FieldType::kDate:
      case FieldType::kTime:
      case FieldType::kFloat:
      case FieldType::kTimestamp:
      case FieldType::kCurrency: break;
      default: continue;  // strings and the like are not aggregated
    }
    const bool acc_blank = ReadAccumulator(acc, a.slot, buf);
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
      default: ai = storage::LoadLittle<std::int64_t>(buf.data()); break;  // currency
    }
    const bool is_float = type == FieldType::kFloat || type == FieldType::kTimestamp;
    const bool is_currency = type == FieldType::kCurrency;
    // The new value in the accumulator's terms.
    double nd = vd;
    std::int64_t ni = vi;
    if (is_currency) {
      ni = value_type == FieldType::kCurrency ? vi : std::llround(vd * 10000.0);
    }
    switch (c.aggregate_) {
      case AggregateKind::kCount:
        if (has_new) {
          if (is_float) ad += 1; else ai += is_currency ? 10000 : 1;
        }
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
    buf.fill(0);
    switch (type) {
      case FieldType::kSmallInt: storage::StoreLittle<std::int16_t>(buf.data(), static_cast<std::int16_t>(ai)); break;
      case FieldType::kWord: storage::StoreLittle<std::uint16_t>(buf.data(), static_cast<std::uint16_t>(ai)); break;
      case FieldType::kInteger:
        if (ai > std::numeric_limits<std::int32_t>::max() ||
            ai < std::numeric_limits<std::int32_t>::min()) {
          SqlError("Result of aggregate function for column '" + c.result_name_ + "'" +
                   " exceeds the range of a 32-bit integer");
        }
        storage::StoreLittle<std::int32_t>(buf.data(), static_cast<std::int32_t>(ai));
        break;
      case FieldType::kDate:
      case FieldType::kTime: storage::StoreLittle<std::int32_t>(buf.data(), static_cast<std::int32_t>(ai)); break;
      case FieldType::kFloat:
      case FieldType::kTimestamp: storage::StoreLittle<double>(buf.data(), ad); break;
      default:  // currency
        storage::StoreLittle<std::int64_t>(buf.data(), storage::RoundCurrency(ai, a.decimals));
        break;
    }
    WriteAccumulator(target, a.slot, buf);
    if (c.aggregate_ == AggregateKind::kAvg) {
      // The values taken: an AVG divides by these, not by the rows.
      const bool blank = ReadAccumulator(acc, a.count, buf);
      std::int32_t n = blank ? 0 : storage::LoadLittle<std::int32_t>(buf.data());
      if (has_new) ++n;
      buf.fill(0);
      storage::StoreLittle<std::int32_t>(buf.data(), n);
      WriteAccumulator(target, a.count, buf);
    }
  }
}

// COUNT(x) of a single table counts through one more filter of the
// table, x IS NOT NULL, dropped with the WHERE filters.
void TDataQuery::CountValuesOnly(const TResultDataField& column) {
  TSourceDataFile& source = *sources_.Get(0);
  storage::ExpressionPtr test =
      storage::NewNode(storage::NodeKind::kBinary, storage::ExprOperator::kNotEqual, "<>");
  test->type = FieldType::kBoolean;
  test->left = storage::NewFieldNode(column.column_name_);
  test->left->correlation_name = column.correlation_name_;
  if (!ResolveStoredColumn(*test->left)) return;  // cannot fail: validation resolved it
  test->right = storage::NewNullConstant();
  TDataFile& file = *source.data_file_;
  auto f = std::make_unique<TSourceDataFile::Filter>();
  f->source = &source;
  CheckFileResult(file, storage::Code(file.AddFilter(std::move(test), false, f->handle)));
  TSourceDataFile::Filter& added = *source.filters_.emplace_back(std::move(f));
  CheckFileResult(file, storage::Code(file.ActivateFilter(added.handle)));
}

bool TDataQuery::EmitRow(ExecState& st) {
  if (st.driving_position != st.last_position) {
    st.last_position = st.driving_position;
    ++st.visited;
    if (progress_callback_) {
      if (st.driving_count == 0) st.driving_count = ViewCount(plan_->steps.front());
      const std::uint32_t count = st.driving_count;
      const std::uint16_t percent =
          count == 0 ? 100
                     : static_cast<std::uint16_t>(static_cast<std::uint64_t>(st.visited) * 100 /
                                                  count);
      progress_callback_(*this, st.visited, percent, st.abort);
    }
  }
  if (!AllHold(plan_->end)) return !st.abort;
  TDataFile& result = *st.result;
  if (flags_.single_group) {
    FillAggregates(st, st.found_row, st.found_row);
    return !st.abort;
  }
  if (st.buffered) {
    BufferRow(st);
    return !st.abort;
  }
  result.ApplyDefaultValues(st.new_row);
  if (st.appender) {
    (void)FillRow(st, st.new_row);  // no BLOB column: nothing to fail
    st.appender->Append(st.new_row);
    for (std::int32_t i = 0; i < sources_.Count(); ++i) sources_.Get(i)->data_file_->FreeBlobBuffers();
    return !st.abort;
  }
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

void TDataQuery::BufferRow(ExecState& st) {
  TDataFile& result = *st.result;
  result.ApplyDefaultValues(st.new_row);
  (void)FillRow(st, st.new_row);  // no BLOB column: nothing to fail
  if (!st.key_fields_resolved) {
    st.key_fields_resolved = true;
    // Key fields that are all whole numbers (or dates and times) are equal
    // in the index exactly when their flags and value bytes are: the key
    // is then those bytes, with no index key built.
    const int index = result.CurrentIndexNumber();
    const storage::TIndexDescriptor d = result.GetIndexDescriptor(index);
    bool raw = d.FieldCount > 0;
    for (int i = 0; raw && i < d.FieldCount && i < storage::kMaxKeyFields; ++i) {
      const storage::FieldSlot slot = result.GetFieldDescriptor(false, d.FieldNumbers[i]).Slot();
      switch (slot.type) {
        case FieldType::kSmallInt:
        case FieldType::kWord:
        case FieldType::kInteger:
        case FieldType::kDate:
        case FieldType::kTime: st.key_slots.push_back(slot); break;
        default: raw = false; break;
      }
    }
    if (!raw) st.key_slots.clear();
  }
  auto lookup_key = [&] {
    if (!st.key_slots.empty()) {
      st.key.clear();
      for (const storage::FieldSlot& slot : st.key_slots) {
        if (!storage::FieldHasValue(st.new_row, slot)) {
          st.key.push_back('\0');
          continue;
        }
        st.key.push_back('\1');
        const auto bytes = storage::FieldValueBytes(st.new_row, slot);
        st.key.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      }
      return;
    }
    // The bytes an exact key lookup in the lookup index compares: the
    // key less the record ID a non-unique index appends.
    result.BuildIndexKey(st.new_row, st.key_buffer.data());
    std::size_t n = result.CurrentKeySize();
    if (n >= 4) n -= 4;
    st.key.assign(reinterpret_cast<const char*>(st.key_buffer.data()), n);
  };
  auto append = [&](std::span<const std::byte> row) {
    st.rows.insert(st.rows.end(), row.begin(), row.end());
    return st.count++;
  };
  if (!flags_.grouped) {
    if (flags_.distinct) {
      lookup_key();
      bool added = false;
      (void)st.seen.FindOrAdd(st.key, st.count, added);
      if (!added) return;
    }
    append(st.new_row);
    return;
  }
  lookup_key();
  bool added = false;
  const std::uint32_t at = st.seen.FindOrAdd(st.key, st.count, added);
  if (!added) {
    const std::span<std::byte> group(st.rows.data() + std::size_t{at} * st.width, st.width);
    FillAggregates(st, group, group);
    return;
  }
  result.ApplyDefaultValues(st.found_row);
  FillAggregates(st, st.new_row, st.found_row);
  append(st.new_row);
}

// Each AVG column of row: its sum divided by its count of values (0 for
// none).
void TDataQuery::FinishAverages(ExecState& st, std::span<std::byte> row) {
  TDataFile& result = *st.result;
  int count_field = st.avg_count_field;
  for (std::int32_t i = 0; i < columns_.Count(); ++i) {
    const TResultDataField& c = *columns_.Get(i);
    if (c.aggregate_ != AggregateKind::kAvg) continue;
    bool blank = true;
    std::int32_t n = 0;
    result.GetFieldValue(true, count_field++, blank, &n, row);
    bool vb = true;
    double sum = 0;
    result.GetFieldValue(true, c.result_field_number_, vb, &sum, row);
    double mean = n != 0 && !blank ? sum / n : 0;
    result.SetFieldValue(true, c.result_field_number_, true, &mean, row);
  }
}

// Inserts the buffered rows: in the order of the result's order index
// when it has one (ties in arrival order, as the index itself breaks them
// by record ID), so that the index grows at its end instead of at random
// pages; else in arrival order.
void TDataQuery::InsertBuffered(ExecState& st) {
  TDataFile& result = *st.result;
  auto row = [&](std::uint32_t i) {
    return std::span<std::byte>(st.rows.data() + std::size_t{i} * st.width, st.width);
  };
  if (flags_.avg_used) {
    for (std::uint32_t i = 0; i < st.count; ++i) FinishAverages(st, row(i));
  }
  const char* index = flags_.order_by ? kOrderByIndexName.data()
                      : flags_.grouped ? (flags_.order_by_serves ? kOrderByIndexName.data()
                                                                 : kGroupByIndexName.data())
                                       : nullptr;
  if (index == nullptr || st.count < 2) {
    for (std::uint32_t i = 0; i < st.count; ++i) st.appender->Append(row(i));
  } else {
    result.SwitchToIndexByName(index);
    // The index orders rows by their key bytes, less the record ID the
    // (never unique) result index appends, which is 0 in every buffered
    // row; ties go by record ID, that is in arrival order. Each row is
    // sorted by the key's first 8 bytes as one number, the rest compared
    // only between rows whose first 8 bytes agree.
    std::size_t n = result.CurrentKeySize();
    if (!result.IsCurrentIndexUnique() && n >= 4) n -= 4;
    const std::size_t rest = n > 8 ? n - 8 : 0;
    std::vector<Entry> order(st.count);
    std::vector<std::uint8_t> tails(std::size_t{st.count} * rest);
    for (std::uint32_t i = 0; i < st.count; ++i) {
      result.BuildIndexKey(row(i), st.key_buffer.data());
      std::uint64_t head = 0;
      for (std::size_t k = 0; k < 8; ++k) head = head << 8 | (k < n ? st.key_buffer[k] : 0u);
      order[i] = Entry{head, i};
      if (rest > 0) std::memcpy(tails.data() + std::size_t{i} * rest, st.key_buffer.data() + 8, rest);
    }
    SortByHead(order);
    if (rest > 0) {
      // Rows whose first 8 bytes agree, by the rest (their arrival order
      // kept among equal keys).
      for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i + 1;
        while (j < order.size() && order[j].head == order[i].head) ++j;
        if (j - i > 1) {
          std::stable_sort(order.begin() + static_cast<std::ptrdiff_t>(i),
                           order.begin() + static_cast<std::ptrdiff_t>(j),
                           [&](const Entry& a, const Entry& b) {
                             return std::memcmp(tails.data() + std::size_t{a.row} * rest,
                                                tails.data() + std::size_t{b.row} * rest,
                                                rest) < 0;
                           });
        }
        i = j;
      }
    }
    for (const Entry& e : order) st.appender->Append(row(e.row));
  }
  st.rows.clear();
  st.count = 0;
}

bool TDataQuery::Run(ExecState& st, const Continuation& k) {
  if (k.checks != nullptr && !AllHold(*k.checks)) return true;
  JoinGroup& group = *k.group;
  if (k.next == group.steps.size()) {
    if (k.parent == nullptr) return EmitRow(st);
    if (!AllHold(group.end)) return true;
    *k.matched = true;
    return Run(st, *k.parent);
  }
  JoinStep& step = group.steps[k.next];
  if (!step.optional) {
    const Continuation next{k.group, k.next + 1, k.parent, k.matched, &step.checks};
    return RunTable(st, step, next);
  }
  // An outer join: the optional group's rows, or once its blank records.
  JoinGroup& inner = *step.optional;
  const Continuation after{k.group, k.next + 1, k.parent, k.matched, &step.checks};
  bool matched = false;
  if (AllHold(inner.entry)) {
    const Continuation into{&inner, 0, &after, &matched, nullptr};
    if (!Run(st, into)) return false;
  }
  if (matched) return true;
  for (std::size_t i : inner.tables.Members()) {
    TSourceDataFile& s = *sources_.Get(static_cast<std::int32_t>(i));
    s.data_file_->ApplyDefaultValues(s.record_buffer_);
  }
  return Run(st, after);
}

void TDataQuery::ChooseAccess(JoinStep& step) {
  step.access_chosen = true;
  if (step.domain == KeyDomain::kNone) return;
  TDataFile& file = *step.source->data_file_;
  // Rows before the step, at least one per row of the driving table's view
  // (its engine count; without one, every record it has).
  const JoinStep& driving = plan_->steps.front();
  TDataFile& first = *driving.source->data_file_;
  const std::uint32_t probes =
      driving.condition ? first.PhysicalRecordCount() : first.RecordCount();
  if (std::uint64_t{probes} * 8 > file.PhysicalRecordCount()) return;
  const storage::FieldSlot& slot = step.source->slots_[static_cast<std::size_t>(step.key_field)];
  const bool locale = (file.LocaleLanguage() & 0xFF) != 0;
  for (int n = file.TableHasPrimaryKey() ? 0 : 1; n <= file.SecondaryIndexCount(); ++n) {
    const storage::TIndexDescriptor d = file.GetIndexDescriptor(n);
    // Byte order of the key is the order of = here: ascending, and for
    // strings case-sensitive without a locale.
    if (d.FieldCount < 1 || d.FieldNumbers[0] != step.key_field || d.Descending != 0 ||
        d.FieldDescending[0] != 0 ||
        (slot.type == FieldType::kString && (d.CaseInsensitive != 0 || locale))) {
      continue;
    }
    step.seek_index = n;
    file.SwitchToIndex(static_cast<std::uint8_t>(n));
    step.probe.assign(file.GetRecordBufferSize(), std::byte{0});
    return;
  }
}

bool TDataQuery::SeekRows(ExecState& st, JoinStep& step, const Continuation& next) {
  TSourceDataFile& s = *step.source;
  TDataFile& file = *s.data_file_;
  const storage::FieldSlot& slot = s.slots_[static_cast<std::size_t>(step.key_field)];
  // The key value as the column stores it; a value the column cannot hold
  // matches nothing.
  TExpressionNode v;
  EvaluateOnRows(*step.key_value, v);
  file.ApplyDefaultValues(step.probe);
  storage::ClearField(step.probe, slot);
  if (v.null == 0) {
    std::array<std::uint8_t, 8> bytes{};
    if (step.domain == KeyDomain::kInteger) {
      std::int64_t i = 0;
      switch (v.type) {
        case FieldType::kSmallInt: i = storage::NodeValue<std::int16_t>(v); break;
        case FieldType::kWord: i = storage::NodeValue<std::uint16_t>(v); break;
        default: i = storage::NodeValue<std::int32_t>(v); break;
      }
      const bool fits = slot.type == FieldType::kSmallInt ? i >= -32768 && i <= 32767
                        : slot.type == FieldType::kWord   ? i >= 0 && i <= 65535
                                                          : i >= INT32_MIN && i <= INT32_MAX;
      if (!fits) return true;
      storage::StoreLittle<std::int64_t>(bytes.data(), i);  // little-endian: low bytes first
      storage::PutFieldBytes(step.probe, slot, std::as_bytes(std::span(bytes)).first(slot.physical_size));
    } else {
      const auto* at = reinterpret_cast<const std::byte*>(v.value.data());
      if (slot.type == FieldType::kString) {
        const std::string_view text = storage::NodeString(v);
        if (text.size() >= slot.physical_size) return true;  // longer than the column
        std::vector<std::byte> padded(slot.physical_size, std::byte{0});
        std::memcpy(padded.data(), text.data(), text.size());
        storage::PutFieldBytes(step.probe, slot, padded);
      } else {
        storage::PutFieldBytes(step.probe, slot, std::span<const std::byte>(at, slot.physical_size));
      }
    }
  }
  std::string want;
  if (!KeyOfRecord(step.probe, slot, step.domain, want)) return true;
  std::string have;
  if (!file.GotoKey(false, step.probe.data(), 1, true, 0, s.record_buffer_)) return true;
  do {
    if (!KeyOfRecord(s.record_buffer_, slot, step.domain, have) || have != want) break;
    if (step.condition && !step.condition->Holds(s.record_buffer_)) continue;
    if (!Run(st, next)) return false;
  } while (file.ReadNextRecord(s.record_buffer_) == 0);
  return true;
}

std::uint32_t TDataQuery::ViewCount(JoinStep& step) {
  TDataFile& file = *step.source->data_file_;
  // The engine counts through its filters; conditions tested as records
  // are read need the records read.
  if (!step.condition) return file.RecordCount();
  std::vector<std::byte> buffer(file.GetRecordBufferSize());
  std::uint32_t n = 0;
  ForEachViewRecord(file, step.condition.get(), buffer, [&](std::uint32_t) {
    ++n;
    return true;
  });
  return n;
}

void TDataQuery::LoadRows(JoinStep& step) {
  RowSet& rows = step.rows;
  TSourceDataFile& s = *step.source;
  rows.width = s.record_buffer_.size();
  std::vector<std::byte> buffer(rows.width);
  ForEachViewRecord(*s.data_file_, step.condition.get(), buffer, [&](std::uint32_t) {
    rows.data.insert(rows.data.end(), buffer.begin(), buffer.end());
    ++rows.count;
    return true;
  });
  if (step.domain != KeyDomain::kNone && step.key_field > 0 &&
      static_cast<std::size_t>(step.key_field) < s.slots_.size()) {
    const storage::FieldSlot& slot = s.slots_[static_cast<std::size_t>(step.key_field)];
    rows.next.assign(rows.count, RowSet::kEnd);
    if (step.domain == KeyDomain::kInteger) {
      std::size_t size = 16;
      while (size < std::size_t{rows.count} * 2) size *= 2;
      rows.int_keys.assign(size, 0);
      rows.int_first.assign(size, RowSet::kEnd);
      for (std::uint32_t r = rows.count; r-- > 0;) {
        const std::span<const std::byte> row(rows.data.data() + std::size_t{r} * rows.width,
                                             rows.width);
        std::int64_t key = 0;
        std::uint32_t* head = &rows.null_first;
        if (IntKeyOfRecord(row, slot, key)) {
          const std::size_t i = rows.Slot(key);
          rows.int_keys[i] = key;
          head = &rows.int_first[i];
        }
        rows.next[r] = *head;
        *head = r;
      }
      rows.loaded = true;
      return;
    }
    rows.first.reserve(rows.count);
    std::string key;
    // Chained from the last row back, so each chain runs in table order.
    for (std::uint32_t r = rows.count; r-- > 0;) {
      const std::span<const std::byte> row(rows.data.data() + std::size_t{r} * rows.width,
                                           rows.width);
      if (!KeyOfRecord(row, slot, step.domain, key)) continue;
      auto [it, added] = rows.first.try_emplace(key, r);
      if (!added) {
        rows.next[r] = it->second;
        it->second = r;
      }
    }
  }
  rows.loaded = true;
}

bool TDataQuery::RunTable(ExecState& st, JoinStep& step, const Continuation& next) {
  TSourceDataFile& s = *step.source;
  if (&step == &plan_->steps.front()) {
    // The driving table: read once, straight from the table.
    return ForEachViewRecord(*s.data_file_, step.condition.get(), s.record_buffer_,
                             [&](std::uint32_t r) {
      st.driving_position = r;
      return Run(st, next);
    });
  }
  if (!step.access_chosen) ChooseAccess(step);
  if (step.seek_index >= 0) return SeekRows(st, step, next);
  if (!step.rows.loaded) LoadRows(step);
  const RowSet& rows = step.rows;
  auto visit = [&](std::uint32_t r) {
    std::memcpy(s.record_buffer_.data(), rows.data.data() + std::size_t{r} * rows.width,
                rows.width);
    return Run(st, next);
  };
  if (step.domain == KeyDomain::kNone) {
    for (std::uint32_t r = 0; r < rows.count; ++r) {
      if (!visit(r)) return false;
    }
    return true;
  }
  // The key value from the rows before: a column is read as it is stored.
  const TExpressionNode& value = *step.key_value;
  const TSourceDataFile* from = nullptr;
  if (value.kind == storage::NodeKind::kField && value.reserved2 < by_sequence_.size() &&
      by_sequence_[value.reserved2] != nullptr &&
      value.field_number < by_sequence_[value.reserved2]->slots_.size()) {
    from = by_sequence_[value.reserved2];
  }
  if (step.domain == KeyDomain::kInteger) {
    std::uint32_t r = rows.null_first;
    std::int64_t key = 0;
    bool has = false;
    if (from != nullptr) {
      has = IntKeyOfRecord(from->record_buffer_, from->slots_[value.field_number], key);
    } else {
      TExpressionNode v;
      EvaluateOnRows(value, v);
      has = v.null == 0;
      if (has && KeyOfNode(v, step.domain, st.key)) std::memcpy(&key, st.key.data() + 1, sizeof key);
    }
    if (has) {
      const std::size_t i = rows.Slot(key);
      r = rows.int_first[i];
    }
    for (; r != RowSet::kEnd; r = rows.next[r]) {
      if (!visit(r)) return false;
    }
    return true;
  }
  bool keyed;
  if (from != nullptr) {
    keyed = KeyOfRecord(from->record_buffer_, from->slots_[value.field_number], step.domain, st.key);
  } else {
    TExpressionNode v;
    EvaluateOnRows(value, v);
    keyed = KeyOfNode(v, step.domain, st.key);
  }
  if (!keyed) return true;
  const auto it = rows.first.find(st.key);
  if (it == rows.first.end()) return true;
  for (std::uint32_t r = it->second; r != RowSet::kEnd; r = rows.next[r]) {
    if (!visit(r)) return false;
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
  std::vector<storage::TableLockGuard> table_locks;  // WITH LOCKS
  try {
    if (with_locks_) {
      table_locks.reserve(static_cast<std::size_t>(sources_.Count()));
      for (std::int32_t i = 0; i < sources_.Count(); ++i)
        table_locks.emplace_back(*sources_.Get(i)->data_file_);
    }
    const std::size_t size = result.GetRecordBufferSize();
    st.new_row.assign(size, std::byte{0});
    st.found_row.assign(size, std::byte{0});
    st.scratch.assign(size, std::byte{0});
    // A table made by this preparation holds nothing yet: it is not
    // emptied again.
    if (!std::exchange(result_empty_, false)) result.EmptyDataTable();
    if (flags_.distinct) {
      result.SwitchToIndexByName(flags_.order_by_serves ? kOrderByIndexName : kDistinctIndexName);
    } else if (flags_.grouped && !flags_.single_group) {
      result.SwitchToIndexByName(flags_.order_by_serves ? kOrderByIndexName : kGroupByIndexName);
    } else if (!flags_.single_group) {
      result.SwitchToIndex(storage::kNoIndex);
    }
    if (avg) {
      while (result.WorkingFieldCount() < result.FieldCount() - 1) result.ShowLastField();
      st.avg_count_field = columns_.Count() + 1;
    }
    // Rows are gathered in memory and inserted at the end, unless a BLOB
    // column needs its value written with the row as it is made.
    bool blobs = false;
    for (int n = 1; n <= result.WorkingFieldCount(); ++n) {
      blobs = blobs || result.GetFieldDescriptor(true, n).Type() == FieldType::kBlob;
    }
    st.buffered = !blobs && !flags_.single_group &&
                  (flags_.order_by || flags_.distinct || flags_.grouped);
    if (!blobs && !flags_.single_group) st.appender.emplace(result);
    st.width = size;
    BuildPlan();
    ApplyWhereFilters();
    // Each source is read under one read section from here to the end of
    // the fill (nothing for exclusive, read-only forced or table-locked
    // tables; a nested section inside it takes nothing more).
    std::vector<storage::ReadSectionGuard> sections;
    sections.reserve(static_cast<std::size_t>(sources_.Count()));
    for (std::int32_t i = 0; i < sources_.Count(); ++i)
      sections.emplace_back(*sources_.Get(i)->data_file_);
    st.driving = plan_->steps.empty() ? sources_.Get(0)->data_file_.get()
                                      : plan_->steps.front().source->data_file_.get();

    const TResultDataField& first = *columns_.Get(0);
    const bool count_only = flags_.single_group && sources_.Count() == 1 &&
                            columns_.Count() == 1 && first.aggregate_ == AggregateKind::kCount &&
                            (first.counts_every_row_ || !first.expression_);
    if (count_only) {
      if (!first.counts_every_row_) CountValuesOnly(first);
      const auto n = static_cast<std::int32_t>(ViewCount(plan_->steps.front()));
      StoreCount(result, columns_.Get(0)->result_field_number_, n, st.found_row);
      if (progress_callback_) progress_callback_(*this, n, 100, st.abort);
      result.InsertRecord(st.found_row);
    } else {
      // Conditions that read no table decide once whether there are rows.
      if (!plan_->steps.empty() && AllHold(plan_->entry)) {
        const Continuation start{plan_.get(), 0, nullptr, nullptr, nullptr};
        Run(st, start);
      }
      if (st.buffered) InsertBuffered(st);
      if (st.appender) st.appender->Finish();
      if (flags_.single_group && st.code == 0) {
        if (avg) FinishAverages(st, st.found_row);
        // A count over no rows is 0, not NULL.
        for (std::int32_t i = 0; i < columns_.Count(); ++i) {
          const TResultDataField& c = *columns_.Get(i);
          if (c.aggregate_ != AggregateKind::kCount) continue;
          bool blank = true;
          result.GetFieldValue(true, c.result_field_number_, blank, nullptr, st.found_row);
          if (blank) StoreCount(result, c.result_field_number_, 0, st.found_row);
        }
        result.InsertRecord(st.found_row);
      }
    }

    if (avg && st.code == 0 && !st.buffered && !flags_.single_group) {
      // Rows inserted as they came: their averages are finished in place.
      result.SwitchToIndex(0);
      storage::CheckEngineResult(result.MoveToBegin());
      std::vector<std::byte>& row = st.new_row;
      while (result.ReadNextRecord(row) == 0) {
        FinishAverages(st, row);
        result.ModifyRecord(row, true);
      }
    }
    if (avg && st.code == 0) HideAverageCounts(result, columns_.Count());
  } catch (...) {
    if (avg) HideAverageCounts(result, columns_.Count());
    throw;
  }
  for (storage::TableLockGuard& lock : table_locks) lock.Release();
  for (std::int32_t i = 0; i < sources_.Count(); ++i) sources_.Get(i)->data_file_->FreeBlobBuffers();
  if (st.code != 0) {
    if (avg) HideAverageCounts(result, columns_.Count());
    return st.code;
  }

  if (flags_.order_by) {
    result.SwitchToIndexByName(kOrderByIndexName);
  } else if (flags_.grouped && !flags_.single_group) {
    result.SwitchToIndexByName(flags_.order_by_serves ? kOrderByIndexName : kGroupByIndexName);
  } else {
    result.SwitchToIndex(0);
  }
  // The result is read from here on: its rows go to its file now, not one
  // cache miss at a time while the cursor walks it.
  result.FlushTable(false);
  storage::CheckEngineResult(result.MoveToBegin());
  cursor = &result;
  executed_ = true;
  return 0;
}

}  // namespace sql
