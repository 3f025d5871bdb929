// The parts of a parsed SELECT: its source tables, result columns and the
// ORDER BY and GROUP BY items, and the owning list that holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <vector>

#include "storage/data_file.h"
#include "storage/expression_node.h"
#include "storage/system_list.h"

namespace sql {

class TDataQuery;

// A TSystemList of T that owns its items: they are freed with the list.
// The engine's list never owns what it holds; this wrapper adds ownership
// and typed access on top of it.
template <class T>
class OwnedList {
 public:
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  ~OwnedList() { Clear(); }

  // Appends item (taking it) and returns it.
  T* Add(std::unique_ptr<T> item) {
    list_.Add(item.get());
    return item.release();
  }
  T* Insert(std::int32_t index, std::unique_ptr<T> item) {
    list_.Insert(index, item.get());
    return item.release();
  }
  // Removes the item at index and hands it back.
  std::unique_ptr<T> Extract(std::int32_t index) {
    std::unique_ptr<T> item(Get(index));
    list_.Delete(index);
    return item;
  }
  [[nodiscard]] T* Get(std::int32_t index) const { return static_cast<T*>(list_.Get(index)); }
  [[nodiscard]] std::int32_t Count() const { return list_.Count(); }
  void Clear() {
    for (std::int32_t i = list_.Count() - 1; i >= 0; --i) delete Get(i);
    list_.Clear();
  }
  storage::TSystemList& List() { return list_; }

 private:
  storage::TSystemList list_;
};

// Join kind written before a source table.
enum class JoinKind : std::uint8_t { kNone = 0, kInner = 1, kLeft = 2, kRight = 3 };

// One FROM or JOIN table. Its data file is made with it and opened by
// validation; the record buffer is sized then for a canned result.
class TSourceDataFile {
 public:
  explicit TSourceDataFile(TDataQuery* owner);

  // Sets the table path from a name as written: a name without directory
  // part gets the query's database directory in front. Without a
  // correlation name yet, the file name without directory and extension
  // becomes it. The path is kept whole (a cut path would name another file).
  void SetTableName(std::string_view name);

  TDataQuery* owner_;
  bool in_memory_ = false;          // FROM MEMORY
  std::uint16_t join_order_ = 0;
  std::int32_t from_sequence_ = 0;  // 1, 2, ... in text order
  std::string table_path_;
  std::string correlation_name_;     // at most 255 characters
  // How the table was written: a FROM item (kNone) or the kind of JOIN that
  // brought it in. Execution takes the join kind from the ON comparisons.
  JoinKind join_kind_ = JoinKind::kNone;
  // The FROM item (1, 2, ... between the commas) the table belongs to.
  std::int32_t from_item_ = 0;
  std::int32_t current_link_ = 0;
  // Slots of the table's own fields as the WHERE tree was resolved (index
  // = field number; 0 unused).
  std::vector<storage::FieldSlot> slots_;
  // The WHERE parts over this table alone, as one engine filter on its data
  // file (a callback filter for a live result); kept while registered.
  struct Filter {
    TSourceDataFile* source = nullptr;
    storage::ExpressionPtr tree;
    std::int32_t handle = 0;
  };
  std::vector<std::unique_ptr<Filter>> filters_;
  // Closed and freed with the source (before the filters it calls).
  std::unique_ptr<storage::TDataFile> data_file_;
  std::vector<std::byte> record_buffer_;
};

// Aggregate kinds of a result column.
enum class AggregateKind : std::uint8_t { kNone = 0, kSum = 1, kMin = 2, kMax = 3, kAvg = 4, kCount = 5 };

// One select item.
class TResultDataField {
 public:
  explicit TResultDataField(TDataQuery* owner) : owner_(owner) {}

  // Sets the source column name, and the result name too while that is
  // still empty and the name is not "*".
  void SetColumnName(std::string_view name);

  TDataQuery* owner_;
  TSourceDataFile* source_ = nullptr;
  std::string column_name_;       // source column, at most 255 characters
  std::uint16_t field_number_ = 0;
  std::string correlation_name_;
  std::string result_name_;
  std::uint16_t result_field_number_ = 0;
  bool expression_ = false;       // an expression column
  std::uint8_t type_ = 0;
  std::uint8_t subtype_ = 0;
  std::uint16_t size_ = 0;
  std::uint8_t decimals_ = 0;     // of a currency expression
  AggregateKind aggregate_ = AggregateKind::kNone;
  // COUNT(*): every row counts. Its column is then the table's first
  // field, which names no value to test for NULL.
  bool counts_every_row_ = false;
  std::string expression_text_;   // at most 255 characters
  storage::ExpressionPtr tree_;
};

// One GROUP BY item: a column by name (with an optional correlation name)
// or by its number in the select list.
class TGroupByDataField {
 public:
  explicit TGroupByDataField(TDataQuery* owner) : owner_(owner) {}

  TDataQuery* owner_;
  std::string column_name_;
  std::string correlation_name_;
  // Set for an item written as a number; a number is checked against the
  // select list later (0 and numbers past the last column are refused there).
  bool by_number_ = false;
  std::int32_t column_number_ = 0;
};

// One ORDER BY item.
class TOrderByDataField : public TGroupByDataField {
 public:
  using TGroupByDataField::TGroupByDataField;
  bool descending_ = false;
};

}  // namespace sql
