// Model test of the table component: one random sequence of navigation,
// inserts, edits (posted and cancelled), deletes, bookmarks, ranges,
// Locate, record numbers and filter changes runs on a TTolmidTable and on a
// plain sorted vector; after every step both must agree on the current
// record, its record number, the record count and Bof/Eof. The table has a
// primary index, a case-insensitive secondary index and a compound index;
// each run browses one of them, or natural order on a table without a
// primary index.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TFieldType;
using fw::Variant;

enum class Order { kPrimary, kByName, kCompound, kNatural };

struct Row {
  int id = 0;    // record ID (the auto-increment field)
  int tag = 0;   // unique, set by the test
  int slot = 0;  // insertion sequence: natural order
  std::string name;  // "" is null
  int num = 0;
};

std::string Upper(const std::string& s) { return fw::UpperCase(s); }

// The key orders of the engine: a null string sorts first, strings compare
// bytewise (upper-cased on a case-insensitive index), a non-unique index
// ends in the record ID.
bool Less(Order o, const Row& a, const Row& b) {
  switch (o) {
    case Order::kPrimary: return a.id < b.id;
    case Order::kByName:
      return std::make_tuple(!a.name.empty(), Upper(a.name), a.id) <
             std::make_tuple(!b.name.empty(), Upper(b.name), b.id);
    case Order::kCompound:
      return std::make_tuple(a.num, !a.name.empty(), a.name, a.id) <
             std::make_tuple(b.num, !b.name.empty(), b.name, b.id);
    case Order::kNatural: return a.slot < b.slot;
  }
  return false;
}

struct Range {
  bool on = false;
  int lo = 0, hi = 0;           // primary, compound (Num)
  std::string slo, shi;         // by name
};

class Model {
 public:
  explicit Model(Order o) : order(o) {}
  Order order;
  std::vector<Row> rows;
  Range range;
  int filter_kind = 0;  // 0 none, 1 Num > k, 2 callback: tag % 3 != 0
  int filter_k = 0;
  bool filtered = false;
  int cur = -1;  // index into View()
  bool bof = true, eof = true;

  bool InRange(const Row& r) const {
    if (!range.on) return true;
    switch (order) {
      case Order::kPrimary: return r.id >= range.lo && r.id <= range.hi;
      case Order::kCompound: return r.num >= range.lo && r.num <= range.hi;
      case Order::kByName: {
        if (r.name.empty()) return false;
        const std::string u = Upper(r.name);
        return u >= Upper(range.slo) && u <= Upper(range.shi);
      }
      case Order::kNatural: return true;
    }
    return true;
  }
  bool Passes(const Row& r) const {
    if (!filtered) return true;
    if (filter_kind == 1) return r.num > filter_k;
    if (filter_kind == 2) return r.tag % 3 != 0;
    return true;
  }
  std::vector<Row> View() const {
    std::vector<Row> v;
    for (const Row& r : rows)
      if (InRange(r) && Passes(r)) v.push_back(r);
    std::sort(v.begin(), v.end(), [&](const Row& a, const Row& b) { return Less(order, a, b); });
    return v;
  }
  int N() const { return static_cast<int>(View().size()); }
  int PosOfTag(int tag) const {
    const auto v = View();
    for (std::size_t i = 0; i < v.size(); ++i)
      if (v[i].tag == tag) return static_cast<int>(i);
    return -1;
  }
  void First() {
    cur = N() > 0 ? 0 : -1;
    bof = true;
    eof = N() == 0;
  }
  void MoveBy(int d) {
    const int n = N();
    if ((d > 0 && eof) || (d < 0 && bof) || d == 0) return;
    bof = eof = false;
    while (d > 0) {
      if (cur < n - 1) ++cur; else { eof = true; break; }
      --d;
    }
    while (d < 0) {
      if (cur > 0) --cur; else { bof = true; break; }
      ++d;
    }
  }
  void Last() {
    cur = N() - 1;
    eof = true;
    bof = N() == 0;
  }
  // The framework after a write: on the record when it is in the view,
  // else on the next one in key order, else on the one before.
  void SettleOn(const Row& r) {
    const auto v = View();
    if (v.empty()) { cur = -1; bof = eof = true; return; }
    bof = eof = false;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (v[i].tag == r.tag || Less(order, r, v[i])) { cur = static_cast<int>(i); return; }
    }
    cur = static_cast<int>(v.size()) - 1;
  }
};

class TableModel : public DataSetTest, public ::testing::WithParamInterface<Order> {
 protected:
  void MakeTable() {
    const std::vector<Column> cols = {{"ID", TFieldType::ftAutoInc, 0, true},
                                      {"Tag", TFieldType::ftInteger},
                                      {"Name", TFieldType::ftString, 6},
                                      {"Num", TFieldType::ftInteger}};
    if (GetParam() != Order::kNatural) {
      CreateTable("m.dat", cols,
                  {{"", "ID", kPrimary},
                   {"ByName", "Name", {fw::TIndexOption::ixCaseInsensitive}},
                   {"ByNumName", "Num;Name", {}}});
      return;
    }
    storage::DataTableDefinition def;
    def.creator1 = 1;
    for (std::size_t i = 0; i < cols.size(); ++i)
      def.fields.push_back(MakeFieldDescriptor(static_cast<int>(i) + 1, cols[i].name, cols[i].type,
                                               cols[i].size, cols[i].required));
    def.allow_empty_primary = true;
    storage::TDataFile f;
    f.SetFileName(Path("m.dat"));
    f.SetExclusive(true);
    f.CreateDataTable(def);
  }
};

void Check(TTolmidTable& t, const Model& m, const std::string& step) {
  SCOPED_TRACE(step);
  const auto v = m.View();
  ASSERT_EQ(t.RecordCount(), static_cast<int>(v.size()));
  ASSERT_EQ(t.IsEmpty(), v.empty());
  ASSERT_EQ(t.Bof(), m.bof);
  ASSERT_EQ(t.Eof(), m.eof);
  if (v.empty()) return;
  ASSERT_GE(m.cur, 0);
  ASSERT_EQ(t.FieldByName("Tag")->AsInteger(), v[static_cast<std::size_t>(m.cur)].tag);
  ASSERT_EQ(t.RecNo(), m.cur + 1);
}

TEST_P(TableModel, RandomSequenceAgreesWithSortedModel) {
  const Order order = GetParam();
  MakeTable();
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto rnd = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    TTolmidTable* t = NewTable("m.dat");
    TTolmidTable* observer = NewTable("m.dat");  // learns the record IDs given
    t->EmptyTable();
    t->SetIndexName(order == Order::kByName ? "ByName" : order == Order::kCompound ? "ByNumName" : "");
    t->Open();
    observer->Open();
    Model m(order);
    m.First();
    int next_tag = 1;
    int slot = 0;
    std::vector<std::pair<fw::TBookmark, int>> marks;  // bookmark, tag
    const std::string letters = "aAbB";
    auto random_name = [&] {
      if (rnd(6) == 0) return std::string();
      std::string s;
      for (int i = 0, n = 1 + rnd(3); i < n; ++i) s += letters[static_cast<std::size_t>(rnd(4))];
      return s;
    };
    auto set_values = [&](Row& r) {
      r.name = random_name();
      r.num = rnd(9) - 2;
      if (r.name.empty())
        t->FieldByName("Name")->Clear();
      else
        t->FieldByName("Name")->SetAsString(r.name);
      t->FieldByName("Num")->SetAsInteger(r.num);
    };
    auto current_row = [&]() -> Row& {
      const int tag = t->FieldByName("Tag")->AsInteger();
      for (Row& r : m.rows)
        if (r.tag == tag) return r;
      ADD_FAILURE() << "no row with tag " << tag;
      return m.rows.front();
    };
    for (int step = 0; step < 400; ++step) {
      const int op = rnd(20);
      std::string what = std::to_string(step) + " op " + std::to_string(op);
      try {
      switch (op) {
        case 0: t->First(); m.First(); break;
        case 1: t->Last(); m.Last(); break;
        case 2: case 3: t->Next(); m.MoveBy(1); break;
        case 4: t->Prior(); m.MoveBy(-1); break;
        case 5: {
          const int d = rnd(9) - 4;
          t->MoveBy(d);
          m.MoveBy(d);
          break;
        }
        case 6: case 7: {  // insert, posted or cancelled
          Row r;
          r.tag = next_tag++;
          const int was = m.cur;
          const bool was_empty = m.N() == 0;
          const bool append = rnd(2) == 0;
          if (append) t->Append(); else t->Insert();
          t->FieldByName("Tag")->SetAsInteger(r.tag);
          set_values(r);
          if (rnd(5) == 0) {
            t->Cancel();
            // Back on the record inserted before; an appended record stood
            // after the last one.
            if (was_empty) { m.cur = -1; m.bof = m.eof = true; }
            else { m.cur = append ? m.N() - 1 : std::max(was, 0); m.bof = m.eof = false; }
            what += " insert cancelled";
            break;
          }
          t->Post();
          observer->Last();
          ASSERT_EQ(observer->FieldByName("Tag")->AsInteger(), r.tag);
          r.id = observer->FieldByName("ID")->AsInteger();
          r.slot = ++slot;
          m.rows.push_back(r);
          m.SettleOn(r);
          what += " insert";
          break;
        }
        case 8: case 9: {  // edit, posted or cancelled
          if (m.N() == 0) break;
          t->Edit();
          Row& r = current_row();
          Row changed = r;
          set_values(changed);
          if (rnd(4) == 0) {
            t->Cancel();
            m.bof = m.eof = false;
            what += " edit cancelled";
            break;
          }
          t->Post();
          r = changed;
          m.SettleOn(r);
          what += " edit";
          break;
        }
        case 10: {  // delete
          if (m.N() == 0) break;
          const int tag = current_row().tag;
          const int pos = m.cur;
          t->Delete();
          m.rows.erase(std::find_if(m.rows.begin(), m.rows.end(),
                                    [&](const Row& r) { return r.tag == tag; }));
          if (m.N() == 0) { m.cur = -1; m.bof = m.eof = true; }
          else { m.cur = std::min(pos, m.N() - 1); m.bof = m.eof = false; }
          what += " delete";
          break;
        }
        case 11: {  // bookmarks
          if (m.N() > 0 && (marks.empty() || rnd(2) == 0)) {
            marks.emplace_back(t->GetBookmark(), current_row().tag);
            break;
          }
          if (marks.empty()) break;
          const auto [b, tag] = marks[static_cast<std::size_t>(rnd(static_cast<int>(marks.size())))];
          const int pos = m.PosOfTag(tag);
          if (pos < 0) break;  // deleted or out of the view
          t->GotoBookmark(b);
          m.cur = pos;
          m.bof = m.eof = false;
          what += " goto bookmark";
          break;
        }
        case 12: {  // ranges
          if (order == Order::kNatural) break;
          if (m.range.on && rnd(2) == 0) {
            const bool empty = m.N() == 0;
            const int tag = empty ? 0 : current_row().tag;
            t->CancelRange();
            m.range.on = false;
            if (empty) { t->First(); m.First(); }
            else m.SettleOn(*std::find_if(m.rows.begin(), m.rows.end(),
                                          [&](const Row& r) { return r.tag == tag; }));
            what += " cancel range";
            break;
          }
          const Range before = m.range;
          m.range.on = true;
          if (order == Order::kByName) {
            m.range.slo = std::string(1, letters[static_cast<std::size_t>(rnd(4))]);
            m.range.shi = m.range.slo + std::string(1, letters[static_cast<std::size_t>(rnd(4))]);
            t->SetRange({Variant(m.range.slo)}, {Variant(m.range.shi)});
          } else {
            const int hi_id = next_tag + 1;
            m.range.lo = order == Order::kPrimary ? rnd(hi_id) : rnd(7) - 2;
            m.range.hi = m.range.lo + (order == Order::kPrimary ? rnd(hi_id) : rnd(4));
            t->SetRange({Variant(m.range.lo)}, {Variant(m.range.hi)});
          }
          // The same range again changes nothing.
          const bool same = before.on && before.lo == m.range.lo && before.hi == m.range.hi &&
                            before.slo == m.range.slo && before.shi == m.range.shi;
          if (!same) m.First();
          what += " set range";
          break;
        }
        case 13: case 14: {  // filters
          const int kind = rnd(3);
          if (kind == 0) {
            t->SetFiltered(!t->Filtered());
            m.filtered = !m.filtered;
          } else if (kind == 1) {
            m.filter_k = rnd(6) - 2;
            t->SetOnFilterRecord(nullptr);
            t->SetFilter("Num > " + std::to_string(m.filter_k));
            m.filter_kind = 1;
            t->SetFiltered(true);
            m.filtered = true;
          } else {
            t->SetFilter("");
            t->SetOnFilterRecord(
                [](fw::TDataSet& ds, bool& accept) { accept = ds.FieldByName("Tag")->AsInteger() % 3 != 0; });
            m.filter_kind = 2;
            t->SetFiltered(true);
            m.filtered = true;
          }
          m.First();
          what += " filter";
          break;
        }
        case 15: case 16: {  // Locate
          std::function<bool(const Row&)> match;
          bool found;
          const int kind = rnd(3);
          if (kind == 0) {
            const int v = rnd(9) - 2;
            found = t->Locate("Num", {Variant(v)}, {});
            match = [v](const Row& r) { return r.num == v; };
          } else {
            std::string s = random_name();
            if (s.empty()) s = "a";
            const bool partial = kind == 2;
            fw::TLocateOptions o{fw::TLocateOption::loCaseInsensitive};
            if (partial) o.Include(fw::TLocateOption::loPartialKey);
            found = t->Locate("Name", {Variant(s)}, o);
            match = [s, partial](const Row& r) {
              return partial ? Upper(r.name).rfind(Upper(s), 0) == 0 : Upper(r.name) == Upper(s);
            };
          }
          const auto v = m.View();
          const auto first = std::find_if(v.begin(), v.end(), match);
          ASSERT_EQ(found, first != v.end()) << what;
          if (found) {
            const Row& r = current_row();
            ASSERT_TRUE(match(r)) << what;
            m.cur = m.PosOfTag(r.tag);
            m.bof = m.eof = false;
          }
          what += " locate";
          break;
        }
        case 17: {  // record numbers
          if (m.N() == 0) break;
          const int n = 1 + rnd(m.N());
          t->SetRecNo(n);
          if (n != m.cur + 1) {
            m.cur = n - 1;
            m.bof = m.eof = false;
          }
          what += " set recno";
          break;
        }
        default: {  // refresh: other cursors' view of the same data
          t->Refresh();
          if (m.N() > 0) { m.bof = m.eof = false; }
          what += " refresh";
          break;
        }
      }
      } catch (const std::exception& e) {
        FAIL() << what << ": " << e.what();
      }
      ASSERT_NO_FATAL_FAILURE(Check(*t, m, what));
    }
    delete t;
    delete observer;
  }
}

std::string OrderName(const ::testing::TestParamInfo<Order>& info) {
  const char* names[] = {"Primary", "CaseInsensitive", "Compound", "NoPrimary"};
  return names[static_cast<int>(info.param)];
}
INSTANTIATE_TEST_SUITE_P(Orders, TableModel,
                         ::testing::Values(Order::kPrimary, Order::kByName, Order::kCompound, Order::kNatural),
                         OrderName);

}  // namespace
}  // namespace dataset::dstest
