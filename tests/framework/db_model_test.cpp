// Model-based test: random navigation, edits, bookmarks, filter switches
// and buffer-count changes on the in-memory dataset, checked after every
// step against a std::vector model: the current record, Bof/Eof, RecNo,
// RecordCount, the stored order, and the rows every data link sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "framework/db/data_link.h"
#include "framework/db/dataset.h"
#include "tests/common/memory_dataset.h"

namespace fw {
namespace {

using testing::MemoryDataSet;

struct Rec {
  int id;
  std::string name;
};

class Model {
 public:
  std::vector<Rec> all;
  bool filtered = false;
  int cur = -1;  // index into Visible()
  bool bof = true, eof = true;

  bool Accept(const Rec& r) const { return !filtered || r.id % 2 != 0; }
  std::vector<int> Visible() const {
    std::vector<int> v;
    for (std::size_t i = 0; i < all.size(); ++i)
      if (Accept(all[i])) v.push_back(static_cast<int>(i));
    return v;
  }
  int N() const { return static_cast<int>(Visible().size()); }
  void First() {
    cur = N() > 0 ? 0 : -1;
    bof = true;
    eof = N() == 0;
  }
  void Settle() {
    // After Post/Cancel/Delete the dataset resynchronises on a record.
    int n = N();
    if (n == 0) {
      cur = -1;
      bof = eof = true;
    } else {
      cur = std::clamp(cur, 0, n - 1);
      bof = eof = false;
    }
  }
};

class PaintLink : public TDataLink {
 public:
  // The names of the rows this link shows, top to bottom.
  std::vector<std::string> Rows() {
    std::vector<std::string> out;
    int old = ActiveRecord();
    for (int r = 0; r < RecordCount(); ++r) {
      SetActiveRecord(r);
      out.push_back(DataSet()->FieldByName("Name")->AsString());
    }
    SetActiveRecord(old);
    return out;
  }
  int changes = 0;

 protected:
  void DataSetChanged() override { ++changes; }
};

void RunModel(unsigned seed, int steps) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  auto rnd = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  MemoryDataSet ds(nullptr, {{"ID", TFieldType::ftInteger}, {"Name", TFieldType::ftString, 12}});
  Model m;
  int next_id = 1;
  for (int i = 0; i < rnd(8); ++i) {
    Rec r{next_id++, "n" + std::to_string(i)};
    ds.AddRaw({{0, {reinterpret_cast<char*>(&r.id), reinterpret_cast<char*>(&r.id) + 4}},
               {1, std::vector<char>(r.name.begin(), r.name.end())}});
    m.all.push_back(r);
  }
  TDataSource src(nullptr);
  PaintLink grid, single;
  grid.SetBufferCount(1 + rnd(5));
  grid.SetDataSource(&src);
  single.SetDataSource(&src);
  src.SetDataSet(&ds);
  ds.SetOnFilterRecord([](TDataSet& d, bool& accept) { accept = d.FieldByName("ID")->AsInteger() % 2 != 0; });
  ds.Open();
  m.First();
  std::vector<TBookmark> marks;
  std::vector<int> mark_ids;

  auto new_id = [&] {
    int id = next_id++;
    if (m.filtered && id % 2 == 0) id = next_id++;
    return id;
  };
  auto cur_full = [&] { return m.Visible()[static_cast<std::size_t>(m.cur)]; };

  for (int step = 0; step < steps; ++step) {
    int op = rnd(14);
    std::string what;
    switch (op) {
      case 0:
        what = "First";
        ds.First();
        m.First();
        break;
      case 1:
        what = "Last";
        ds.Last();
        m.cur = m.N() - 1;
        m.eof = true;
        m.bof = m.N() == 0;
        break;
      case 2:
      case 3: {
        int d = rnd(9) - 4;
        what = "MoveBy " + std::to_string(d);
        int moved = ds.MoveBy(d);
        int expect = 0;
        if ((d > 0 && !m.eof) || (d < 0 && !m.bof)) {
          m.bof = m.eof = false;
          int target = m.cur + d;
          if (target > m.N() - 1) {
            m.eof = true;
            target = m.N() - 1;
          }
          if (target < 0) {
            m.bof = true;
            target = 0;
          }
          expect = target - m.cur;
          m.cur = target;
        }
        ASSERT_EQ(moved, expect) << what;
        break;
      }
      case 4:
      case 5: {  // Insert or Append, then Post
        const int id = new_id();
        const std::string name = (op == 4 ? "i" : "a") + std::to_string(id);
        what = op == 4 ? "Insert+Post" : "Append+Post";
        op == 4 ? ds.Insert() : ds.Append();
        ds.FieldByName("ID")->SetAsInteger(id);
        ds.FieldByName("Name")->SetAsString(name);
        ds.Post();
        if (op == 4) {
          m.all.insert(m.all.begin() + (m.N() == 0 ? 0 : cur_full()), Rec{id, name});
          m.cur = std::max(m.cur, 0);
        } else {
          m.all.push_back(Rec{id, name});
          m.cur = m.N() - 1;
        }
        m.Settle();
        break;
      }
      case 6:
        what = "Insert+Cancel";
        ds.Insert();
        ds.FieldByName("Name")->SetAsString("gone");
        ds.Cancel();
        m.Settle();
        break;
      case 7:
        what = "Append+Cancel";
        ds.Append();
        ds.Cancel();
        m.cur = m.N() - 1;
        m.Settle();
        break;
      case 8:
      case 9:
        if (m.N() == 0) continue;
        what = "Edit";
        ds.Edit();
        ds.FieldByName("Name")->SetAsString("e" + std::to_string(step));
        if (op == 8) {
          ds.Post();
          m.all[static_cast<std::size_t>(cur_full())].name = "e" + std::to_string(step);
        } else {
          ds.Cancel();
        }
        m.Settle();
        break;
      case 10:
        if (m.N() == 0) continue;
        what = "Delete";
        ds.Delete();
        m.all.erase(m.all.begin() + cur_full());
        m.Settle();
        break;
      case 11:
        if (m.N() == 0 || rnd(2) == 0) {
          if (marks.empty()) continue;
          std::size_t k = static_cast<std::size_t>(rnd(static_cast<int>(marks.size())));
          what = "GotoBookmark";
          int id = mark_ids[k];
          auto it = std::find_if(m.all.begin(), m.all.end(), [&](const Rec& r) { return r.id == id; });
          if (it == m.all.end() || !m.Accept(*it)) {
            EXPECT_THROW(ds.GotoBookmark(marks[k]), EDatabaseError);
            // The buffers are as they were; the cursor will be put back.
          } else {
            ds.GotoBookmark(marks[k]);
            std::vector<int> vis = m.Visible();
            m.cur = static_cast<int>(std::find(vis.begin(), vis.end(), it - m.all.begin()) - vis.begin());
            m.bof = m.eof = false;
          }
        } else {
          what = "GetBookmark";
          marks.push_back(ds.GetBookmark());
          mark_ids.push_back(m.all[static_cast<std::size_t>(cur_full())].id);
        }
        break;
      case 12:
        what = "BufferCount";
        grid.SetBufferCount(1 + rnd(6));
        break;
      case 13:
        what = "Filtered";
        m.filtered = !m.filtered;
        ds.SetFiltered(m.filtered);
        m.First();
        break;
    }
    SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
    ASSERT_EQ(ds.State(), TDataSetState::dsBrowse);
    std::vector<int> vis = m.Visible();
    ASSERT_EQ(ds.Bof(), m.bof);
    ASSERT_EQ(ds.Eof(), m.eof);
    ASSERT_EQ(ds.RecordCount(), m.N());
    ASSERT_EQ(ds.IsEmpty(), m.N() == 0);
    if (m.N() > 0) {
      const Rec& r = m.all[static_cast<std::size_t>(vis[static_cast<std::size_t>(m.cur)])];
      ASSERT_EQ(ds.FieldByName("Name")->AsString(), r.name);
      ASSERT_EQ(ds.FieldByName("ID")->AsInteger(), r.id);
      ASSERT_EQ(ds.RecNo(), m.cur + 1);
    }
    ASSERT_EQ(ds.Rows().size(), m.all.size());
    for (std::size_t i = 0; i < m.all.size(); ++i) { ASSERT_EQ(std::string(ds.StoredValue(i, 1)), m.all[i].name); }
    // Every link shows consecutive records around the current one, as
    // many as fit.
    for (PaintLink* link : {&grid, &single}) {
      std::vector<std::string> rows = link->Rows();
      ASSERT_EQ(static_cast<int>(rows.size()), std::min(m.N(), link->BufferCount()));
      if (m.N() == 0) continue;
      int top = m.cur - link->ActiveRecord();
      ASSERT_GE(top, 0);
      for (std::size_t i = 0; i < rows.size(); ++i)
        ASSERT_EQ(rows[i], m.all[static_cast<std::size_t>(vis[static_cast<std::size_t>(top) + i])].name) << "row " << i;
    }
    ASSERT_EQ(ds.FieldByName("Name")->AsString(),
              m.N() > 0 ? m.all[static_cast<std::size_t>(vis[static_cast<std::size_t>(m.cur)])].name : "");
  }
}

TEST(DataSetModelTest, RandomOperationsMatchTheModel) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    RunModel(seed, 400);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace fw
