// The swap's intent file and the leftovers of killed runs, as the next open
// and the next repair or restructure meet them: an intent cut while it was
// written, one whose writer still lives, one that fits no state of the
// files, and temporary files of other processes beside files that only
// look like them.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "storage/table_swap.h"
#include "tests/common/forked_peer.h"
#include "tests/storage/table_trial_support.h"

namespace storage::trialtest {
namespace {

class TableSwapTest : public datatest::DataFileTestBase {
 protected:
  void SetUp() override {
    DataFileTestBase::SetUp();
    UseMemoryDirectory(dir_);
    Create(Path("t.dat"), CatalogueLayout(true));
    auto t = OpenTable(Path("t.dat"));
    std::mt19937 rng(5);
    for (int i = 1; i <= 5; ++i) {
      Entry e = InsertEntry(*t, "e" + std::to_string(i), i, MemoBytes(rng, 300 * i), 738000);
      model_[e.id] = e;
    }
    t->Close();
  }
  void TearDown() override {
    SetTableStepHook(nullptr);
    DataFileTestBase::TearDown();
  }
  Files Here() const { return FolderFiles(dir_); }
  // A restructure killed with its intent on disk; returns the intent.
  std::vector<std::uint8_t> KilledAfterIntent() {
    EXPECT_TRUE(RunKilled([&] { ExclusiveTable(Path("t.dat")).AlterDataTable(CatalogueLayout(false)); },
                          "intent written", 1));
    return ReadBytes(Path("t.SWP"));
  }
  Model model_;
};

// A power cut in the middle of writing the intent leaves it short: no file
// has moved yet, the intent is dropped and the old table opens. Whatever
// the cut, never a wrong swap.
TEST_F(TableSwapTest, AnIntentCutShortLeavesTheOldTable) {
  const auto whole = KilledAfterIntent();
  ASSERT_GT(whole.size(), 20u);
  const auto files = Here();
  for (std::size_t size : {std::size_t{0}, std::size_t{7}, std::size_t{12}, whole.size() - 5, whole.size() - 1}) {
    SCOPED_TRACE(size);
    for (const auto& [name, bytes] : files) WriteBytes(Path(name), bytes);
    WriteBytes(Path("t.SWP"), {whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)});
    EXPECT_EQ(ReadTable(Path("t.dat")), model_);
    EXPECT_FALSE(std::filesystem::exists(Path("t.SWP")));
    auto t = OpenTable(Path("t.dat"));
    EXPECT_EQ(t->FieldCount(), 7);  // the old layout: nothing was swapped
  }
  // The whole intent finishes the swap.
  for (const auto& [name, bytes] : files) WriteBytes(Path(name), bytes);
  auto t = OpenTable(Path("t.dat"));
  EXPECT_EQ(t->FieldCount(), 6);
  t->Close();
  // The temporary set of the dead run is gone at the next restructure.
  WriteBytes(Path("t~RS77.DAT"), {1, 2, 3});
  WriteBytes(Path("t~RP123.IDX"), {1});
  WriteBytes(Path("T~ro9.blb"), {1});
  StartUp(Path("t.dat"));
  EXPECT_EQ(StrayFiles(dir_), std::vector<std::string>{});
}

// While the swapping program lives it holds its intent: an open in another
// process is told the table is in use and changes nothing. An intent that
// fits no state of the files (the table's files gone, no new ones) stops
// the open too, and nothing is deleted.
TEST_F(TableSwapTest, AHeldOrHopelessIntentStopsTheOpen) {
  KilledAfterIntent();
  {
    platform::File f;  // the holder's handle, in the other process
    testsupport::ForkedPeer holder([&](const std::string&) {
      return f.Open(Path("t.SWP"), platform::Access::ReadWrite, platform::Share::None,
                    platform::Disposition::OpenExisting) ? "held" : "failed";
    });
    ASSERT_EQ(holder.Do("hold"), "held");
    const auto before = Here();
    TDataFile t;
    t.SetFileName(Path("t.dat"));
    EXPECT_EQ(datatest::CodeOf([&] { t.Open(); }), 11013);
    EXPECT_EQ(Here(), before);
  }
  for (const auto& e : std::filesystem::directory_iterator(dir_)) {
    if (e.path().filename().string().find('~') != std::string::npos) std::filesystem::remove(e.path());
  }
  std::filesystem::remove(Path("t.dat"));
  const auto hopeless = Here();
  TDataFile t;
  t.SetFileName(Path("t.dat"));
  EXPECT_EQ(datatest::CodeOf([&] { t.Open(); }), 9221);
  EXPECT_EQ(Here(), hopeless);
}

// Only NAME~RP/RS/RO/CR<digits>.DAT/IDX/BLB of this table are leftovers,
// a creation's only once its process is gone; a file another program
// holds is left where it is.
TEST_F(TableSwapTest, LeftoversAreOnlyTheTablesOwnTemporaryFiles) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::vector<std::string> kept = {"t2~RS1.DAT", "t~RS.DAT",   "t~XX1.DAT", "t~RS1.TXT",
                                         "t~RS1x.IDX", "u~RP4.DAT",  "t~CR1.DAT",
                                         "t~CR" + std::to_string(getpid()) + ".IDX"};
  for (const std::string& name : kept) WriteBytes(Path(name), {1});
  for (const std::string& name : {std::string("t~RS1.DAT"), std::string("t~rp22.idx"), std::string("T~RO3.BLB"),
                                  std::string("t~RS4.BLB"), "t~cr" + std::to_string(gone) + ".blb"})
    WriteBytes(Path(name), {1});
  platform::File held;
  ASSERT_TRUE(held.Open(Path("t~RS4.BLB"), platform::Access::ReadWrite, platform::Share::ReadWrite,
                        platform::Disposition::OpenExisting));
  RemoveLeftoverFiles(Path("t.dat"));
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  std::vector<std::string> want = kept;
  for (const char* name : {"t.dat", "t.IDX", "t.BLB", "t~RS4.BLB"}) want.push_back(name);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(left, want);
}

}  // namespace
}  // namespace storage::trialtest
