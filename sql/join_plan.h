// The plan a canned SELECT is filled by: the FROM clause as groups of
// steps, each step a table or the optional side of an outer join, with
// the WHERE and ON conditions placed where they can first be tested.
//
// Shape. The FROM items are joined left to right as written: "a JOIN b ON
// p LEFT JOIN c ON q" is ((a JOIN b ON p) LEFT JOIN c ON q); a RIGHT JOIN
// is the LEFT JOIN with its sides exchanged; items separated by commas are
// joined without a condition. Inner joins flatten into one group; each
// outer join's optional side is a group of its own, held by one step of
// the group around it. A group yields every combination of its steps' rows
// that satisfies its conditions; an optional group that yields nothing for
// the rows before it yields one row of blank records instead.
//
// Conditions (the WHERE condition and every ON condition, split at their
// AND nodes):
//   - an ON condition of an outer join goes into its optional group, so it
//     decides which rows match; a WHERE condition, or an inner join's ON
//     condition, that reads a table of an optional group is tested after
//     that group has yielded its row (blank or not), so it never turns
//     into part of the outer join's ON condition;
//   - a condition over one table alone (within its group) is that table's
//     filter: all of them together make one engine expression filter;
//   - a condition that reads no table of its group is tested once, when
//     the group is entered;
//   - any other is tested at the first step after which every table it
//     reads is bound; in the outermost group, those that are not a
//     comparison of two tables' columns are tested on the complete row
//     (the residual condition, after the progress report);
//   - an equality of a column of a step's table with an expression over
//     the tables before it is the step's key: the table is read once, its
//     rows kept and chained by key, and each row before it finds its
//     partners by one lookup instead of a walk over the whole table. When
//     the table has an index on the key column and the driving table's
//     view holds far fewer rows than it, each row seeks the index instead
//     (reading the whole table for a handful of lookups would cost more).
//
// Order. The first step of the outermost group is the first source (the
// driving table); after it, each group takes next a table that its key
// ties to the tables already bound, else an optional group whose
// conditions can be tested, else the next table as written. So FROM a, b,
// c WHERE a.x = c.x AND c.y = b.y runs a, c, b and never pairs every row
// of a with every row of b.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sql/record_condition.h"
#include "storage/expression_node.h"
#include "storage/field_types.h"

namespace sql {

class TSourceDataFile;

// A set of sources, by their index in the query's source list.
class TableSet {
 public:
  void Add(std::size_t i) {
    if (i / 64 >= w_.size()) w_.resize(i / 64 + 1, 0);
    w_[i / 64] |= std::uint64_t{1} << (i % 64);
  }
  [[nodiscard]] bool Has(std::size_t i) const {
    return i / 64 < w_.size() && (w_[i / 64] >> (i % 64) & 1) != 0;
  }
  void AddAll(const TableSet& o) {
    if (o.w_.size() > w_.size()) w_.resize(o.w_.size(), 0);
    for (std::size_t k = 0; k < o.w_.size(); ++k) w_[k] |= o.w_[k];
  }
  [[nodiscard]] bool Empty() const {
    for (std::uint64_t x : w_)
      if (x != 0) return false;
    return true;
  }
  [[nodiscard]] bool SubsetOf(const TableSet& o) const {
    for (std::size_t k = 0; k < w_.size(); ++k) {
      const std::uint64_t other = k < o.w_.size() ? o.w_[k] : 0;
      if ((w_[k] & ~other) != 0) return false;
    }
    return true;
  }
  [[nodiscard]] TableSet Intersection(const TableSet& o) const {
    TableSet r;
    r.w_.resize(std::min(w_.size(), o.w_.size()), 0);
    for (std::size_t k = 0; k < r.w_.size(); ++k) r.w_[k] = w_[k] & o.w_[k];
    return r;
  }
  [[nodiscard]] TableSet Minus(const TableSet& o) const {
    TableSet r = *this;
    for (std::size_t k = 0; k < r.w_.size() && k < o.w_.size(); ++k) r.w_[k] &= ~o.w_[k];
    return r;
  }
  // The members in increasing order.
  [[nodiscard]] std::vector<std::size_t> Members() const {
    std::vector<std::size_t> out;
    for (std::size_t k = 0; k < w_.size(); ++k)
      for (std::size_t b = 0; b < 64; ++b)
        if ((w_[k] >> b & 1) != 0) out.push_back(k * 64 + b);
    return out;
  }

 private:
  std::vector<std::uint64_t> w_;
};

// One condition (a conjunct of the WHERE or an ON condition) and the
// tables it reads.
struct PlanCondition {
  storage::ExpressionPtr tree;
  TableSet tables;
};

// How the two sides of a key compare: as 64-bit integers (the integer
// types, mixed freely), or as the values of one type (dates, times,
// floats, timestamps, strings). Other pairs are tested as conditions.
enum class KeyDomain : std::uint8_t { kNone, kInteger, kSame };

// The rows of a table read once for the whole execution, chained by key:
// integer keys in an open-addressing table of their own (most joins are
// on integers, and a map of strings cost a quarter of a join's time),
// other keys by their bytes.
struct RowSet {
  static constexpr std::uint32_t kEnd = 0xFFFFFFFFu;
  bool loaded = false;
  std::size_t width = 0;
  std::vector<std::byte> data;  // count x width bytes, in table order
  std::uint32_t count = 0;
  std::vector<std::uint32_t> next;                         // next row of the same key
  std::unordered_map<std::string, std::uint32_t> first;    // key bytes -> first row
  // Integer keys: slots of a power-of-two table (first row kEnd: empty),
  // and the chain of null keys.
  std::vector<std::int64_t> int_keys;
  std::vector<std::uint32_t> int_first;
  std::uint32_t null_first = kEnd;

  [[nodiscard]] std::size_t Slot(std::int64_t key) const {
    auto h = static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull;
    const std::size_t mask = int_keys.size() - 1;
    std::size_t i = static_cast<std::size_t>(h >> 20) & mask;
    while (int_first[i] != kEnd && int_keys[i] != key) i = (i + 1) & mask;
    return i;
  }
};

struct JoinGroup;

struct JoinStep {
  TSourceDataFile* source = nullptr;     // a table step, or
  std::unique_ptr<JoinGroup> optional;   // the optional side of an outer join
  TableSet tables;                       // the tables the step binds
  TableSet needs;                        // tables its conditions read outside it
  std::vector<PlanCondition> pending;    // an optional group's conditions, to place
  std::vector<PlanCondition> filter_parts;  // the table's own conditions
  // Those of them no index answers, tested while the table is read.
  std::unique_ptr<RecordCondition> condition;
  std::vector<PlanCondition> checks;     // tested on each row of the step
  // The key: key_field of this table equals key_value over the tables
  // bound before the step.
  KeyDomain domain = KeyDomain::kNone;
  int key_field = 0;
  storage::ExpressionPtr key_value;
  RowSet rows;
  // With an index on the key field and few rows before the step, each of
  // them seeks the index instead (seek_index >= 0).
  bool access_chosen = false;
  int seek_index = -1;
  std::vector<std::byte> probe;  // the record a seek builds its key from
};

struct JoinGroup {
  std::vector<JoinStep> steps;
  TableSet tables;
  std::vector<PlanCondition> entry;  // read no table of the group
  std::vector<PlanCondition> end;    // tested on the group's complete rows
};

}  // namespace sql
