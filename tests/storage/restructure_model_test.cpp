// Random restructures against a model: columns are dropped, added,
// renamed, reordered and moved between integer, small integer, word,
// float, currency and string types, records are added in between; after
// each restructure every record must hold exactly the model's values, its
// record ID, and no loss may be reported (every value fits every type).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "tests/storage/table_trial_support.h"

namespace storage::rectest {
namespace {

using trialtest::ExclusiveTable;
using datatest::Field;
using datatest::Index;

constexpr FieldType kTypes[] = {FieldType::kInteger, FieldType::kSmallInt, FieldType::kWord,
                                FieldType::kFloat,   FieldType::kCurrency, FieldType::kString};

struct Column {
  int identity;  // the model's name for the column, stable across renames
  FieldType type;
  std::string name;
};

class RestructureModelTest : public datatest::DataFileTestBase {
 protected:
  static std::uint8_t SizeOf(FieldType t) { return t == FieldType::kString ? 12 : 0; }

  static void Put(Rec& r, int position, FieldType type, std::optional<std::int64_t> v) {
    if (!v) {
      r.Str(position, std::nullopt);
      return;
    }
    switch (type) {
      case FieldType::kInteger: r.Num<std::int32_t>(position, static_cast<std::int32_t>(*v)); break;
      case FieldType::kSmallInt: r.Num<std::int16_t>(position, static_cast<std::int16_t>(*v)); break;
      case FieldType::kWord: r.Num<std::uint16_t>(position, static_cast<std::uint16_t>(*v)); break;
      case FieldType::kFloat: r.Num<double>(position, static_cast<double>(*v)); break;
      case FieldType::kCurrency: r.Num<std::int64_t>(position, *v * 10000); break;
      default: r.Str(position, std::to_string(*v)); break;
    }
  }

  template <class V>
  static std::optional<std::int64_t> As(std::optional<V> x, std::int64_t scale = 1) {
    return x ? std::optional<std::int64_t>(static_cast<std::int64_t>(*x) / scale) : std::nullopt;
  }
  static std::optional<std::int64_t> Get(const Rec& r, int position, FieldType type) {
    switch (type) {
      case FieldType::kInteger: return As(r.GetNum<std::int32_t>(position));
      case FieldType::kSmallInt: return As(r.GetNum<std::int16_t>(position));
      case FieldType::kWord: return As(r.GetNum<std::uint16_t>(position));
      case FieldType::kFloat: return As(r.GetNum<double>(position));
      case FieldType::kCurrency: return As(r.GetNum<std::int64_t>(position), 10000);
      default: {
        const auto s = r.GetStr(position);
        return s ? std::optional<std::int64_t>(std::stoll(*s)) : std::nullopt;
      }
    }
  }

  DataTableDefinition Build(const std::vector<Column>& cols, const std::vector<std::uint16_t>& numbers,
                            int indexed) {
    std::vector<TFieldDescriptor> fields = {Field(numbers[0], "ID", FieldType::kInteger)};
    for (std::size_t i = 0; i < cols.size(); ++i)
      fields.push_back(Field(numbers[i + 1], cols[i].name, cols[i].type, SizeOf(cols[i].type)));
    DataTableDefinition def;
    def.creator1 = 1;
    def.fields = fields;
    def.primary = Index("", {numbers[0]});
    if (indexed >= 0) {
      def.secondary.push_back(Index("ByCol", {numbers[static_cast<std::size_t>(indexed) + 1]}));
    }
    return def;
  }

  void Insert(TDataFile& t, std::mt19937& rng, int count) {
    for (int k = 0; k < count; ++k) {
      Rec r(t);
      const std::int32_t id = next_id_++;
      r.Num<std::int32_t>(1, id);
      std::map<int, std::optional<std::int64_t>> row;
      for (std::size_t i = 0; i < cols_.size(); ++i) {
        std::optional<std::int64_t> v;
        if (rng() % 5 != 0) v = static_cast<std::int64_t>(rng() % 30001);
        Put(r, static_cast<int>(i) + 2, cols_[i].type, v);
        row[cols_[i].identity] = v;
      }
      t.InsertRecord(r.span());
      if (rng() % 6 == 0) {
        t.DeleteRecord();
      } else {
        model_[id] = row;
        record_ids_[id] = CurrentId(t);
      }
    }
  }

  void Verify(TDataFile& t) {
    const auto records = trialtest::ActiveRecords(t);
    for (const Rec& r : records) {
      const std::int32_t id = *r.GetNum<std::int32_t>(1);
      ASSERT_TRUE(model_.count(id)) << id;
      EXPECT_EQ(r.Id(), record_ids_[id]);
      for (std::size_t i = 0; i < cols_.size(); ++i) {
        EXPECT_EQ(Get(r, static_cast<int>(i) + 2, cols_[i].type), model_[id][cols_[i].identity])
            << "record " << id << " column " << cols_[i].name;
      }
    }
    EXPECT_EQ(records.size(), model_.size());
  }

  std::vector<Column> cols_;
  std::map<std::int32_t, std::map<int, std::optional<std::int64_t>>> model_;
  std::map<std::int32_t, std::uint32_t> record_ids_;
  std::int32_t next_id_ = 1;
};

TEST_F(RestructureModelTest, RandomRestructuresKeepEveryValue) {
  std::mt19937 rng(2026);
  int identities = 0;
  for (int i = 0; i < 4; ++i)
    cols_.push_back({identities++, kTypes[rng() % 6], "C" + std::to_string(identities)});
  std::vector<std::uint16_t> numbers;
  for (std::size_t i = 0; i <= cols_.size(); ++i) numbers.push_back(static_cast<std::uint16_t>(i + 1));
  Create(Path("m.dat"), Build(cols_, numbers, 0));
  {
    auto t = OpenTable(Path("m.dat"));
    Insert(*t, rng, 40);
  }
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    // New columns: keep (maybe with a new type or name) or drop each,
    // shuffle, maybe add one. Numbers: the current position of the column
    // a new one takes its values from; 900+ for a new one.
    std::vector<std::pair<Column, std::uint16_t>> next;
    for (std::size_t i = 0; i < cols_.size(); ++i) {
      if (rng() % 7 == 0 && cols_.size() > 1) continue;
      Column c = cols_[i];
      if (rng() % 2 == 0) c.type = kTypes[rng() % 6];
      if (rng() % 4 == 0) c.name = "R" + std::to_string(round) + "_" + std::to_string(i);
      next.emplace_back(c, static_cast<std::uint16_t>(i + 2));
    }
    std::shuffle(next.begin(), next.end(), rng);
    if (rng() % 3 == 0 || next.empty()) {
      next.emplace_back(Column{identities, kTypes[rng() % 6], "N" + std::to_string(identities)},
                        static_cast<std::uint16_t>(900 + round));
      for (auto& [id, row] : model_) row[identities] = std::nullopt;
      ++identities;
    }
    std::vector<Column> cols;
    std::vector<std::uint16_t> nums = {1};
    for (auto& [c, n] : next) {
      cols.push_back(c);
      nums.push_back(n);
    }
    const int indexed = rng() % 2 ? static_cast<int>(rng() % cols.size()) : -1;
    int dropped = static_cast<int>(cols_.size()) - static_cast<int>(next.size()) +
                  (nums.back() >= 900 ? 1 : 0);
    std::map<int, int> losses;
    {
      ExclusiveTable t(Path("m.dat"));
      t.SetOnDataLost([&](TDataFile&, std::uint8_t cause, bool&, bool&) { ++losses[cause]; });
      t.AlterDataTable(Build(cols, nums, indexed));
      cols_ = cols;
      EXPECT_EQ(losses[3], dropped * static_cast<int>(model_.size()));
      EXPECT_EQ(losses[0] + losses[1] + losses[2] + losses[4], 0);
      Verify(t);
      Insert(t, rng, 5);
      t.Close();
    }
    auto t = OpenTable(Path("m.dat"));
    Verify(*t);
    t->Close();
    auto idx = datatest::RunTool("idxcheck.py", Path("m.IDX"));
    EXPECT_EQ(idx.status, 0) << idx.output;
  }
}

}  // namespace
}  // namespace storage::rectest
