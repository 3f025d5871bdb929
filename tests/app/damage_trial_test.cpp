// Random damage at a start: one byte of one catalogue table changed,
// either in its index header or in a record's values (past the record
// prefix), then the program's start. The start never stops on index
// damage, no record but the damaged one changes, and the independent
// checkers pass on every table afterwards. DAMAGE_TRIALS=n runs n trials
// (default 8) and prints the counts; DAMAGE_SEED picks the damages.
#include <algorithm>
#include <cstdio>
#include <random>

#include "tests/app/app_test_support.h"

namespace apptest {
namespace {

class DamageTrialTest : public CatalogueTest {
 protected:
  // Twelve records in each record table, counters past the samples.
  void Fill() {
    ASSERT_TRUE(Start());
    Stop();
    const char* name_field[] = {"JournalName", "ActivityName", "ResourceName", "LinkName"};
    for (int kind = 1; kind <= 4; ++kind) {
      const std::string k = std::to_string(kind);
      WithTable("type" + k + ".dat", [&](dataset::TTolmidTable& t) {
        t.Open();
        for (int n = 1000; n < 1012; ++n) {
          t.Append();
          t.FieldByName("Type" + k + "Num")->SetAsInteger(n);
          t.FieldByName(name_field[kind - 1])->SetAsString("record " + std::to_string(n));
          t.FieldByName("Category")->SetAsString("cat" + std::to_string(n % 3));
          t.FieldByName("Details")->SetAsString(std::string(static_cast<std::size_t>(300 + n % 900), 'm'));
          t.Post();
        }
      });
    }
    WithTable("defaults.dat", [&](dataset::TTolmidTable& t) {
      t.Open();
      t.Edit();
      for (const char* c : {"NextType1Num", "NextType2Num", "NextType3Num", "NextType4Num"})
        t.FieldByName(c)->SetAsInteger(1012);
      t.Post();
    });
  }
};

TEST_F(DamageTrialTest, OneDamagedByteNeverStopsTheStartNorLeavesAFaultyTable) {
  Fill();
  const int trials = std::getenv("DAMAGE_TRIALS") != nullptr ? std::atoi(std::getenv("DAMAGE_TRIALS")) : 8;
  std::mt19937 rng(std::getenv("DAMAGE_SEED") != nullptr ? static_cast<unsigned>(std::atoi(std::getenv("DAMAGE_SEED")))
                                                         : 7u);
  const std::vector<std::string> tables = {"type1", "type2", "type3", "type4", "defaults"};
  std::map<std::string, std::vector<std::string>> rows;
  for (const std::string& t : tables) rows[t] = Rows(t + ".dat");
  const std::map<std::string, std::string> snapshot = DirBytes(Data());
  boxes_.AnswerAll(fw::mrOk);  // a start that stops shows its error
  // [0] index header, [1] record values
  int runs[2] = {0, 0}, stopped[2] = {0, 0}, faulty[2] = {0, 0}, lost[2] = {0, 0};
  for (int trial = 0; trial < trials; ++trial) {
    for (const auto& e : fs::directory_iterator(Data())) fs::remove_all(e.path());
    for (const auto& [name, bytes] : snapshot) WriteBytes(Data(name), bytes);
    const std::string table = tables[rng() % tables.size()];
    const int kind = static_cast<int>(rng() % 2);
    ++runs[kind];
    const std::string file = Data(table + (kind == 0 ? ".IDX" : ".dat")).string();
    std::string b = ReadBytes(file);
    std::size_t pos = rng() % 4096;
    if (kind == 1) {
      const auto u16 = [&](std::size_t o) {
        return static_cast<std::size_t>(static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8);
      };
      const std::size_t size = u16(21), start = 127 + 768 * u16(23);
      pos = start + (rng() % ((b.size() - start) / size)) * size + 9 + rng() % (size - 9);
    }
    const char old = b[pos];
    do b[pos] = static_cast<char>(rng());
    while (b[pos] == old);
    WriteBytes(file, b);
    const std::string what = file + " byte " + std::to_string(pos) + " " +
                             std::to_string(static_cast<unsigned char>(old)) + " -> " +
                             std::to_string(static_cast<unsigned char>(b[pos]));
    SCOPED_TRACE(what);
    boxes_.requests.clear();
    const bool started = Start();
    Stop();
    if (!started || !boxes_.requests.empty()) {
      ++stopped[kind];
      EXPECT_EQ(kind, 1) << boxes_.Texts().front();
      continue;
    }
    std::string others;
    for (std::size_t i = 1; i < tables.size(); ++i) others += " '" + Data(tables[i] + ".dat").string() + "'";
    const tooltest::ToolResult check = Check("tablecheck.py", Data(tables[0] + ".dat"), others);
    if (check.status != 0) {
      ++faulty[kind];
      ADD_FAILURE() << check.output;
    }
    std::vector<std::string> after;
    ASSERT_NO_THROW(after = Rows(table + ".dat"));
    const auto missing = std::count_if(rows[table].begin(), rows[table].end(), [&](const std::string& row) {
      return std::find(after.begin(), after.end(), row) == after.end();
    });
    if (missing > kind) {
      ++lost[kind];
      ADD_FAILURE() << missing << " rows changed or lost";
    }
  }
  std::printf("damage trials: index header %d (start stopped %d, checkers failed %d, intact rows lost %d), "
              "record values %d (start stopped %d, checkers failed %d, intact rows lost %d)\n",
              runs[0], stopped[0], faulty[0], lost[0], runs[1], stopped[1], faulty[1], lost[1]);
}

}  // namespace
}  // namespace apptest
