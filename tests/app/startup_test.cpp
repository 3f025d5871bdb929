// The program's start on a catalogue: tables created with the catalogue's
// layout (read back by the independent checkers), counters, the one-time
// sample removal, an older layout brought up to date, a table restored
// from its restructure backups, a second copy of the program refused by
// the first one's tables, and the password dialog the units' start installs.
#include <sys/wait.h>

#include <sstream>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "app/create_tables.h"
#include "app/splash_form.h"
#include "dataset/gui/password_dialog.h"
#include "storage/fault_injection.h"
#include "storage/table_swap.h"
#include "tests/app/app_test_support.h"
#include "tests/common/encrypted_table.h"
#include "tests/common/forked_peer.h"

namespace apptest {
namespace {

// The layouts as the data and index files must hold them, written out
// here (not taken from the program): "name type/subtype size required",
// and the index lines of idxcheck.py --indexes.
struct Layout {
  const char* table;
  std::vector<std::string> fields;
  std::vector<std::string> indexes;
};

const std::vector<Layout>& Expected() {
  static const std::vector<Layout> layouts = {
      {"type1",
       {"RecordNum 6/29 0 1", "JournalName 1/0 250 0", "JournalDate 2/0 0 0", "Category 1/0 40 0", "Details 3/22 0 0",
        "Type1Num 6/0 0 0", "CategoryFK 6/0 0 0"},
       {"index 0 name= fields=1 desc=0 ci=0 unique=1", "index 1 name=JDate fields=3 desc=0 ci=1 unique=0"}},
      {"type2",
       {"RecordNum 6/29 0 1", "ActivityName 1/0 250 0", "ActivityDate 2/0 0 0", "Category 1/0 40 0", "DueDate 2/0 0 0",
        "Done 4/0 0 0", "Details 3/22 0 0", "Type2Num 6/0 0 0", "CategoryFK 6/0 0 0", "ExtType 1/0 10 0"},
       {"index 0 name= fields=1 desc=0 ci=0 unique=1", "index 1 name=ActDate fields=3 desc=0 ci=1 unique=0"}},
      {"type3",
       {"RecordNum 6/29 0 1", "ResourceName 1/0 250 0", "PhotoDate 2/0 0 0", "Category 1/0 40 0", "Details 3/22 0 0",
        "Type3Num 6/0 0 0", "Pic 3/26 0 0", "Filename 1/0 250 0", "Filetype 1/0 10 0", "ShowStyle 1/0 10 0",
        "PhotoURL 1/0 250 0", "CategoryFK 6/0 0 0", "ExtType 1/0 10 0"},
       {"index 0 name= fields=1 desc=0 ci=0 unique=1", "index 1 name=ResName fields=2 desc=0 ci=1 unique=0"}},
      {"type4",
       {"RecordNum 6/29 0 1", "LinkName 1/0 250 0", "URL 1/0 250 0", "ParmURL 1/0 250 0", "ParmPrefix 1/0 30 0",
        "ParmSuffix 1/0 30 0", "URLSuffix 1/0 60 0", "ParmSeparator 1/0 20 0", "IsDefaultStock 4/0 0 0",
        "Type4Num 6/0 0 0", "pic 3/26 0 0", "Category 1/0 40 0", "Details 3/22 0 0", "CategoryFK 6/0 0 0"},
       {"index 0 name= fields=1 desc=0 ci=0 unique=1", "index 1 name=Name fields=2 desc=0 ci=1 unique=0"}},
      {"defaults",
       {"RecordID 6/29 0 0", "NextType1Num 6/0 0 0", "NextType2Num 6/0 0 0", "NextType3Num 6/0 0 0",
        "NextType4Num 6/0 0 0", "NextPicNum 6/0 0 0"},
       {"index 0 name= fields=1 desc=0 ci=0 unique=1"}},
  };
  return layouts;
}

// The layout datcheck.py reads: "field N name type=T sub=S size=Z ..."
// and "required N R" lines, in field order.
std::vector<std::string> StoredFields(const std::string& output) {
  std::vector<std::string> fields;
  std::map<std::string, std::string> required;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::string tag, num, name, type, sub, size;
    l >> tag >> num;
    if (tag == "required") {
      l >> required[num];
    } else if (tag == "field") {
      l >> name >> type >> sub >> size;
      fields.push_back(num + " " + name + " " + type.substr(5) + "/" + sub.substr(4) + " " + size.substr(5));
    }
  }
  for (std::string& f : fields) {
    const std::string num = f.substr(0, f.find(' '));
    f = f.substr(num.size() + 1) + " " + required[num];
  }
  return fields;
}

std::vector<std::string> IndexLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("index ", 0) == 0) lines.push_back(line);
  return lines;
}

class StartupTest : public CatalogueTest {
 protected:
  void ExpectCatalogueLayout(const std::string& only = "") {
    for (const Layout& l : Expected()) {
      if (!only.empty() && only != l.table) continue;
      SCOPED_TRACE(l.table);
      const tooltest::ToolResult dat = Check("datcheck.py", Data(std::string(l.table) + ".dat"));
      EXPECT_EQ(dat.status, 0) << dat.output;
      EXPECT_EQ(StoredFields(dat.output), l.fields);
      const tooltest::ToolResult idx = Check("idxcheck.py", Data(std::string(l.table) + ".IDX"), "--indexes");
      EXPECT_EQ(idx.status, 0) << idx.output;
      EXPECT_EQ(IndexLines(idx.output), l.indexes);
    }
  }

  // Appends records numbered nums to table kind (1..4), with a name and a
  // memo of each; photos name the picture file data\<num>.jpg.
  void AddRecords(int kind, const std::vector<int>& nums) {
    const std::string k = std::to_string(kind);
    const char* name_field[] = {"JournalName", "ActivityName", "ResourceName", "LinkName"};
    WithTable("type" + k + ".dat", [&](dataset::TTolmidTable& t) {
      t.Open();
      for (int n : nums) {
        t.Append();
        t.FieldByName("Type" + k + "Num")->SetAsInteger(n);
        t.FieldByName(name_field[kind - 1])->SetAsString("record " + std::to_string(n));
        t.FieldByName("Details")->SetAsString(std::string(static_cast<std::size_t>(300 + n % 900), 'm'));
        if (kind == 3) t.FieldByName("Filename")->SetAsString("data\\" + std::to_string(n) + ".jpg");
        t.Post();
      }
    });
  }

  void SetCounters(int value) {
    WithTable("defaults.dat", [&](dataset::TTolmidTable& t) {
      t.Open();
      t.Edit();
      for (const char* c : {"NextType1Num", "NextType2Num", "NextType3Num", "NextType4Num"})
        t.FieldByName(c)->SetAsInteger(value);
      t.Post();
    });
  }
};

TEST_F(StartupTest, FirstStartCreatesTheCatalogueWithCountersAt999ThenOpenDBsSets1000) {
  // The data module's creation alone: the tables, counters 999.
  app_->CreateForm(app::Datamodule1);
  ASSERT_FALSE(app::Datamodule1->CreateFailed());
  ExpectCatalogueLayout();
  const std::vector<std::string> fresh = {
      "RecordID=1|NextType1Num=999|NextType2Num=999|NextType3Num=999|NextType4Num=999|NextPicNum=<null>|"};
  EXPECT_EQ(Rows("defaults.dat"), fresh);
  for (int kind = 1; kind <= 4; ++kind) EXPECT_TRUE(Rows("type" + std::to_string(kind) + ".dat").empty());

  // The splash window opens the catalogue: a new one becomes one in use.
  auto* splash = fw::NewForm<app::TSplashForm>(app_.get());
  splash->OpenDBs();
  EXPECT_FALSE(app::Datamodule1->DefaultsTable->Active());
  EXPECT_TRUE(app::Datamodule1->Type4Table->Active());
  EXPECT_EQ(splash->LoadPB->Position(), 6);
  EXPECT_EQ(app::Datamodule1->QuennetDB->Directory(), home_.string() + "\\data");
  delete splash;
  EXPECT_EQ(Rows("defaults.dat"), std::vector<std::string>{"RecordID=1|NextType1Num=1000|NextType2Num=1000|"
                                                           "NextType3Num=1000|NextType4Num=1000|NextPicNum=<null>|"});
}

TEST_F(StartupTest, SampleRecordsGoAtTheFirstStartOnlyAndTheirPicturesStay) {
  StartAndStop();
  EXPECT_TRUE(boxes_.requests.empty());
  // A catalogue as shipped: counters at 999, samples below 1000 among
  // records of the user's.
  SetCounters(999);
  std::map<int, std::vector<std::string>> kept;
  for (int kind = 1; kind <= 4; ++kind) {
    AddRecords(kind, {1000, 5, 999, 4321, 0});
    const std::vector<std::string> rows = Rows("type" + std::to_string(kind) + ".dat");
    kept[kind] = {rows[0], rows[3]};
  }
  for (const char* pic : {"5.jpg", "999.jpg"}) std::ofstream(Data(pic)) << "picture";

  StartAndStop();
  for (int kind = 1; kind <= 4; ++kind) {
    // 1000 and 4321 stay with their record ids and memos; 5, 999 and 0 go.
    EXPECT_EQ(Rows("type" + std::to_string(kind) + ".dat"), kept[kind]) << "type" << kind;
  }
  EXPECT_EQ(Counter("NextType1Num"), 1000);
  EXPECT_EQ(Counter("NextType4Num"), 1000);
  EXPECT_TRUE(fs::exists(Data("5.jpg")));
  EXPECT_TRUE(fs::exists(Data("999.jpg")));

  // In use now: a second start deletes and changes nothing.
  std::map<std::string, std::vector<std::string>> before;
  for (const char* t : {"type1.dat", "type2.dat", "type3.dat", "type4.dat", "defaults.dat"}) before[t] = Rows(t);
  StartAndStop();
  for (const auto& [t, rows] : before) EXPECT_EQ(Rows(t), rows) << t;
  EXPECT_TRUE(boxes_.requests.empty());
}

TEST_F(StartupTest, TablesOfAnOlderLayoutGainTheirLastColumn) {
  // Record tables built without their last column, with gaps.
  fs::create_directory(Data());
  std::map<std::string, std::vector<std::string>> before;
  for (int kind = 1; kind <= 4; ++kind) {
    const app::CatalogueTable& layout = app::CatalogueTables()[static_cast<std::size_t>(kind - 1)];
    WithTable(layout.table_name, [&](dataset::TTolmidTable& t) {
      for (std::size_t i = 0; i + 1 < layout.fields.size(); ++i) {
        const app::CatalogueField& f = layout.fields[i];
        t.FieldDefs().Add(f.name, f.type, f.size, f.required);
      }
      t.IndexDefs().Add("", "RecordNum", {fw::TIndexOption::ixPrimary, fw::TIndexOption::ixUnique});
      t.CreateTable();
    });
    std::vector<int> nums;
    for (int i = 0; i < 25; ++i) nums.push_back(1000 + i * 37);
    AddRecords(kind, nums);
    WithTable(layout.table_name, [&](dataset::TTolmidTable& t) {
      t.Open();
      t.MoveBy(3);
      t.Delete();
    });
    before[layout.table_name] = Rows(layout.table_name);
    for (std::string& row : before[layout.table_name]) row += layout.fields.back().name + "=<null>|";
  }

  StartAndStop();
  for (const auto& [t, rows] : before) EXPECT_EQ(Rows(t), rows) << t;
  ExpectCatalogueLayout();
}

// A table whose data file is gone while its restructure backups are there
// is restored from them, never made anew (an empty table would later be
// restructured over the only copy). A restore that cannot be done stops
// the start with a clear error and creates nothing. The start that ends
// well leaves no backup behind.
TEST_F(StartupTest, MissingTableComesBackFromItsBackupsOrTheStartStops) {
  StartAndStop();
  AddRecords(2, {1000, 1001, 1002});
  const std::vector<std::string> rows = Rows("type2.dat");
  for (const auto& [file, backup] : {std::pair{"type2.dat", "type2.DBK"}, std::pair{"type2.IDX", "type2.IBK"},
                                      std::pair{"type2.BLB", "type2.BBK"}})
    fs::copy_file(Data(file), Data(backup));
  fs::remove(Data("type2.dat"));
  fs::create_directory(Data("type2.dat.restore"));  // the restore's scratch name is taken
  boxes_.Answer(fw::mrOk);
  ASSERT_FALSE(Start());
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].caption, "Morvella Software");
  EXPECT_EQ(boxes_.requests[0].text.rfind("Table file " + home_.string() + "\\data\\type2.dat is missing and could "
                                          "not be restored from its backup " + home_.string() + "\\data\\type2.DBK",
                                          0),
            0u)
      << boxes_.requests[0].text;
  EXPECT_FALSE(fs::exists(Data("type2.dat")));
  Stop();

  boxes_.requests.clear();
  fs::remove(Data("type2.dat.restore"));
  fs::remove(Data("type2.IDX"));
  StartAndStop();
  EXPECT_TRUE(boxes_.requests.empty());
  EXPECT_EQ(Rows("type2.dat"), rows);
  for (const char* backup : {"type2.DBK", "type2.IBK", "type2.BBK"}) EXPECT_FALSE(fs::exists(Data(backup))) << backup;
  ExpectCatalogueLayout("type2");
}

// A data file cut inside its header and field definitions (empty, part of
// the header, the header alone, part of the definitions) holds no records:
// the start takes the table as missing, restores it from its backups when
// they are there and makes it anew when not, says so in its log, and
// leaves no backup behind. Such a file stopped every start. A header
// damaged otherwise is no cut: the repair mends what it can.
TEST_F(StartupTest, DataFileCutInsideItsHeaderIsAMissingTable) {
  StartAndStop();
  AddRecords(4, {1000, 1001});
  const std::vector<std::string> rows = Rows("type4.dat");
  const std::map<std::string, std::string> snapshot = DirBytes(Data());
  const std::string dat = home_.string() + "/data/type4.dat";
  const std::size_t header = 127 + 768 * 14;
  for (const std::size_t size : std::vector<std::size_t>{0, 60, 127, header - 1}) {
    for (const bool backup : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (backup ? " bytes, backup" : " bytes"));
      for (const auto& e : fs::directory_iterator(Data())) fs::remove(e.path());
      for (const auto& [name, bytes] : snapshot) WriteBytes(Data(name), bytes);
      if (backup) {
        for (const auto& [file, copy] : {std::pair{"type4.dat", "type4.DBK"}, std::pair{"type4.IDX", "type4.IBK"},
                                         std::pair{"type4.BLB", "type4.BBK"}})
          fs::copy_file(Data(file), Data(copy));
      }
      fs::resize_file(Data("type4.dat"), size);
      startup_log_.clear();
      boxes_.requests.clear();
      const bool started = Start();
      Stop();
      ASSERT_TRUE(started) << ::testing::PrintToString(boxes_.Texts());
      EXPECT_EQ(startup_log_, (std::vector<std::string>{
                         "Data file " + dat + " holds " + std::to_string(size) +
                             " bytes, too few for its header: the table holds no records and is taken as missing",
                         backup ? "Table " + dat + " restored from its backup " + home_.string() + "/data/type4.DBK"
                                : "Table " + dat + " created"}));
      EXPECT_EQ(Rows("type4.dat"), backup ? rows : std::vector<std::string>{});
      std::set<std::string> files;
      for (const auto& e : fs::directory_iterator(Data())) files.insert(e.path().filename().string());
      std::set<std::string> want;
      for (const auto& [name, bytes] : snapshot) want.insert(name);
      EXPECT_EQ(files, want);
    }
  }
  ExpectCatalogueLayout("type4");
  // A field count raised by damage is no cut: the repair mends it, says so
  // in the log, and every record stays.
  for (const auto& e : fs::directory_iterator(Data())) fs::remove(e.path());
  for (const auto& [name, bytes] : snapshot) WriteBytes(Data(name), bytes);
  std::string raised = snapshot.at("type4.dat");
  raised[23] = 100;
  WriteBytes(Data("type4.dat"), raised);
  boxes_.requests.clear();
  startup_log_.clear();
  const bool started = Start();
  Stop();
  EXPECT_TRUE(started);
  EXPECT_EQ(startup_log_, std::vector<std::string>{dat + ": Invalid field count in data file header, error fixed"});
  EXPECT_EQ(Rows("type4.dat"), rows);
}

// The child of the test below: this test binary run again with a home
// directory and where to die in its environment. It starts the program
// there and kills itself (SIGKILL) at its TOLMID_KILL_STEP-th table step
// named TOLMID_KILL_POINT (any name when that is empty), or just before
// its TOLMID_KILL_WRITE-th write; it exits 0 when the start ends first.
// Skipped when run otherwise.
TEST(StartupChild, StartsUntilKilled) {
  const char* home = std::getenv("TOLMID_KILL_HOME");
  if (home == nullptr) GTEST_SKIP() << "run by StartupTest.FirstStartKilled...";
  ChildProgram program(home);
  app::SetStartupLogSink([](const std::string&) {});
  const std::string point = std::getenv("TOLMID_KILL_POINT") != nullptr ? std::getenv("TOLMID_KILL_POINT") : "";
  const int step = std::getenv("TOLMID_KILL_STEP") != nullptr ? std::atoi(std::getenv("TOLMID_KILL_STEP")) : 0;
  const int write = std::getenv("TOLMID_KILL_WRITE") != nullptr ? std::atoi(std::getenv("TOLMID_KILL_WRITE")) : 0;
  int seen = 0;
  storage::SetTableStepHook([&](std::string_view p) {
    if ((point.empty() || p == point) && ++seen == step) raise(SIGKILL);
  });
  if (write > 0) storage::ArmKill(storage::FaultSite::kWrite, static_cast<std::uint32_t>(write));
  _exit(app::StartProgram(program.application) ? 0 : 2);
}

// The first start, in a process of its own, killed at a step of the
// making of its tables (of the counters table, the last one made: while
// its files are made, in its swap, between its renames, once it stands
// without its record; the last step of the record tables' BLOB files) or
// just before the first data file's field definitions are written (which
// left a data file of 127 bytes that stopped every start); with make
// crash-trials, at every step and before every write of the whole first
// start. The next start succeeds and leaves a new catalogue: the five
// tables' files and nothing else in the folder, no record, the counters
// at 1000.
// A counters table lost on a catalogue in use (its data file gone or cut,
// no backup) comes back with counters above every number the catalogue
// holds: no new record takes an existing number, no new picture another
// photo's file, and no record is taken for a sample.
TEST_F(StartupTest, CountersMadeAnewOnACatalogueInUseStartAboveItsNumbers) {
  StartAndStop();
  AddRecords(1, {1000, 1001});
  AddRecords(3, {1000, 1005});  // data\1000.jpg, data\1005.jpg
  AddRecords(4, {7, 1003});
  std::map<std::string, std::vector<std::string>> before;
  for (const char* t : {"type1.dat", "type2.dat", "type3.dat", "type4.dat"}) before[t] = Rows(t);
  const std::string dat = home_.string() + "/data/defaults.dat";
  for (const bool cut : {false, true}) {
    SCOPED_TRACE(cut ? "cut" : "gone");
    // Left by a Process that was killed (the start then removes it).
    std::ofstream(Data("1200.gif.pending")) << "picture";
    if (cut) {
      fs::resize_file(Data("defaults.dat"), 60);
    } else {
      for (const char* f : {"defaults.dat", "defaults.IDX", "defaults.BLB"}) fs::remove(Data(f));
    }
    startup_log_.clear();
    StartAndStop();
    EXPECT_TRUE(boxes_.requests.empty()) << ::testing::PrintToString(boxes_.Texts());
    for (const auto& [t, rows] : before) EXPECT_EQ(Rows(t), rows) << t;
    EXPECT_EQ(Rows("defaults.dat"), std::vector<std::string>{"RecordID=1|NextType1Num=1002|NextType2Num=1000|"
                                                             "NextType3Num=1006|NextType4Num=1004|NextPicNum=1201|"});
    EXPECT_EQ(startup_log_.back(), "Table " + dat +
                                       " held no record of counters: one is written with counters above the numbers "
                                       "the catalogue holds");
  }
}

TEST_F(StartupTest, FirstStartKilledAnywhereLeavesWhatTheNextStartFinishes) {
  StartAndStop();
  std::set<std::string> tables;
  for (const auto& e : fs::directory_iterator(Data())) tables.insert(e.path().filename().string());
  ASSERT_EQ(tables.size(), 14u);
  // False when the first start ended before the kill.
  auto trial = [&](const std::vector<std::string>& where) {
    std::string what;
    for (const std::string& w : where) what += w + " ";
    SCOPED_TRACE(what);
    fs::remove_all(Data());
    std::vector<std::string> vars = where;
    vars.push_back("TOLMID_KILL_HOME=" + home_.string());
    const int status = RunSelf("StartupChild.StartsUntilKilled", vars);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return false;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended with " << status;
    boxes_.requests.clear();
    startup_log_.clear();
    const bool started = Start();
    Stop();
    EXPECT_TRUE(started) << ::testing::PrintToString(boxes_.Texts());
    std::set<std::string> files;
    for (const auto& e : fs::directory_iterator(Data())) files.insert(e.path().filename().string());
    EXPECT_EQ(files, tables);
    for (int kind = 1; kind <= 4; ++kind) EXPECT_EQ(Rows("type" + std::to_string(kind) + ".dat").size(), 0u);
    for (const char* c : {"NextType1Num", "NextType2Num", "NextType3Num", "NextType4Num"}) EXPECT_EQ(Counter(c), 1000);
    return true;
  };
  const char* crash_trials = std::getenv("TOLMID_CRASH_TRIALS");
  if (crash_trials == nullptr || std::atoi(crash_trials) == 0) {
    for (const char* point : {"table files made", "intent written", "new DAT in place", "intent removed"})
      EXPECT_TRUE(trial({std::string("TOLMID_KILL_POINT=") + point, "TOLMID_KILL_STEP=5"}));
    // The last: the counters table stood whole, without its record.
    EXPECT_EQ(startup_log_, std::vector<std::string>{"Table " + home_.string() +
                                                     "/data/defaults.dat held no record of counters: one is "
                                                     "written with the counters of a new catalogue"});
    EXPECT_TRUE(trial({"TOLMID_KILL_POINT=new BLB in place", "TOLMID_KILL_STEP=4"}));
    EXPECT_TRUE(trial({"TOLMID_KILL_WRITE=2"}));
    return;
  }
  int steps = 0, writes = 0;
  while (trial({"TOLMID_KILL_STEP=" + std::to_string(steps + 1)})) ++steps;
  while (trial({"TOLMID_KILL_WRITE=" + std::to_string(writes + 1)})) ++writes;
  EXPECT_GT(steps, 40);
  std::printf("first start killed at each of its %d steps and %d writes\n", steps, writes);
}

// The offset of a field's null-flag byte in a record of table, from the
// layout written out above: stored fields packed from byte 9 in order, each
// a flag byte and its value (a string its size + 1, a Boolean 2, dates,
// integers and memos 4); the auto-increment field takes no room.
std::size_t FieldOffset(const std::string& table, const std::string& field) {
  for (const Layout& l : Expected()) {
    if (l.table != table) continue;
    std::size_t offset = 9;
    for (const std::string& f : l.fields) {
      std::istringstream in(f);
      std::string name, type;
      int size = 0;
      in >> name >> type >> size;
      if (name == field) return offset;
      if (type == "6/29") continue;
      offset += 1 + (type == "1/0" ? static_cast<std::size_t>(size) + 1 : type == "4/0" ? 2 : 4);
    }
  }
  ADD_FAILURE() << table << "." << field;
  return 0;
}

// One patch of a table's index header or of a record's values at a start.
// The index is derived from the records: whatever its header holds, the
// start goes on and keeps every record. Values the format forbids are
// mended. The checkers pass on every table afterwards.
TEST_F(StartupTest, DamagedIndexHeadersAndRecordValuesNeverStopTheStart) {
  StartAndStop();
  SetCounters(1000);
  for (int kind = 1; kind <= 4; ++kind) AddRecords(kind, {1000, 1001, 1002});
  const std::vector<std::string> tables = {"type1", "type2", "type3", "type4", "defaults"};
  std::map<std::string, std::vector<std::string>> rows;
  for (const std::string& t : tables) rows[t] = Rows(t + ".dat");
  const std::map<std::string, std::string> snapshot = DirBytes(Data());
  boxes_.AnswerAll(fw::mrOk);  // a start that stops shows its error
  // Record n's field: its flag byte, +1 its first value byte.
  auto value = [&](const std::string& table, int n, const std::string& field) {
    const std::string dat = ReadBytes(Data(table + ".dat"));
    const auto u16 = [&](std::size_t o) { return static_cast<unsigned char>(dat[o]) | static_cast<unsigned char>(dat[o + 1]) << 8; };
    return 127 + 768 * static_cast<std::size_t>(u16(23)) + static_cast<std::size_t>(n - 1) * u16(21) +
           FieldOffset(table, field);
  };
  auto slot = [](int s, std::size_t at) { return 14 + 120 * static_cast<std::size_t>(s) + at; };
  const struct {
    std::string what, file;
    std::size_t pos;  // with bytes empty: the new size
    std::string bytes;
    std::pair<std::string, std::string> change = {};  // in the table's first row
  } patches[] = {
      {"a stray byte in an unused slot", "type1.IDX", slot(5, 40), "A"},
      {"a stray byte in the slot after the last", "type2.IDX", slot(2, 95), "k"},
      {"version", "type3.IDX", 8, "\x02"},
      {"primary key field unknown", "type4.IDX", slot(0, 54), std::string("\x40\0", 2)},
      {"secondary key field unknown", "type1.IDX", slot(1, 55), "\x30"},
      {"header zeroed", "type2.IDX", 0, std::string(4096, '\0')},
      {"cut inside the header", "defaults.IDX", 100, ""},
      {"trailing blanks", "type1.dat", value("type1", 1, "JournalName") + 12, "  "},
      {"an empty string flagged as a value", "type1.dat", value("type1", 2, "Category"), "\x01"},
      {"Boolean 2", "type2.dat", value("type2", 1, "Done"), std::string("\x01\x02\0", 3), {"Done=<null>", "Done=True"}},
      {"null flag 0x41 over a string", "type3.dat", value("type3", 1, "Filename"), "\x41"},
      {"a byte under a null flag", "type4.dat", value("type4", 3, "ParmURL") + 7, "\x55"},
      {"a byte under a null number", "defaults.dat", value("defaults", 1, "NextPicNum") + 2, "\x07"},
  };
  std::string checked;
  for (const auto& p : patches) {
    SCOPED_TRACE(p.what + " in " + p.file);
    for (const auto& e : fs::directory_iterator(Data())) fs::remove(e.path());
    for (const auto& [name, bytes] : snapshot) WriteBytes(Data(name), bytes);
    std::string bytes = ReadBytes(Data(p.file));
    if (p.bytes.empty()) {
      bytes.resize(p.pos);
    } else {
      bytes.replace(p.pos, p.bytes.size(), p.bytes);
    }
    WriteBytes(Data(p.file), bytes);
    boxes_.requests.clear();
    const bool started = Start();
    Stop();
    EXPECT_TRUE(started);
    EXPECT_EQ(boxes_.Texts(), std::vector<std::string>{});
    if (!started) continue;
    for (const std::string& t : tables) {
      std::vector<std::string> want = rows[t];
      const std::string name = p.file.substr(0, p.file.find('.'));
      if (t == name && !p.change.first.empty()) {
        const std::size_t at = want.front().find(p.change.first);
        ASSERT_NE(at, std::string::npos);
        want.front().replace(at, p.change.first.size(), p.change.second);
      }
      EXPECT_EQ(Rows(t + ".dat"), want) << t;
    }
    ExpectCatalogueLayout(p.file.substr(0, p.file.find('.')));
    // Every table, checked together at the end.
    const fs::path kept = home_ / ("after " + std::to_string(&p - patches));
    fs::create_directory(kept);
    for (const std::string& t : tables) {
      for (const char* ext : {".dat", ".IDX", ".BLB"})
        if (fs::exists(Data(t + ext))) fs::copy_file(Data(t + ext), kept / (t + ext));
      if (!(&p == patches && t == tables.front())) checked += " '" + (kept / (t + ".dat")).string() + "'";
    }
  }
  const tooltest::ToolResult all = Check("tablecheck.py", home_ / "after 0" / "type1.dat", checked);
  EXPECT_EQ(all.status, 0) << all.output;
}

// A restructure killed halfway through its swap (data file aside as the
// backup, the new files under their temporary names) is finished at the
// next start, not undone from the backup.
TEST_F(StartupTest, RestructureKilledInItsSwapIsFinishedAtTheNextStart) {
  StartAndStop();
  AddRecords(1, {1000, 1001, 1002});
  const std::vector<std::string> rows = Rows("type1.dat");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A wider JournalName: the copy path, with its swap.
    storage::SetTableStepHook([](std::string_view point) {
      if (point == "old DAT aside") _exit(0);
    });
    WithTable("type1.dat", [&](dataset::TTolmidTable& t) {
      t.SetExclusive(true);
      int n = 0;
      for (const app::CatalogueField& f : app::CatalogueTables()[0].fields)
        t.RestructureFieldDefs().Add(f.name, f.type, ++n, {}, {}, {}, {}, f.required,
                                     f.name == "JournalName" ? 200 : f.size);
      t.IndexDefs().Add("", "RecordNum", {fw::TIndexOption::ixPrimary, fw::TIndexOption::ixUnique});
      t.RestructureTable(0, 0, 512, "", "", false, 0, true);
    });
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_FALSE(fs::exists(Data("type1.dat")));
  ASSERT_TRUE(fs::exists(Data("type1.DBK")));

  StartAndStop();
  EXPECT_TRUE(boxes_.requests.empty());
  EXPECT_EQ(Rows("type1.dat"), rows);
  for (const auto& e : fs::directory_iterator(Data())) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name.find('~') == std::string::npos && name.find(".SWP") == std::string::npos) << name;
  }
  ExpectCatalogueLayout("type1");
}

// A second copy of the program on a catalogue that a first copy (another
// process) has open: its exclusive opens fail with the engine's error, it
// stops, and the first copy's files are untouched.
TEST_F(StartupTest, SecondCopyOfTheProgramStopsAndTouchesNothing) {
  StartAndStop();
  AddRecords(1, {1000, 1001});
  const std::map<std::string, std::string> files = DirBytes(Data());
  // The first copy, as it runs, in a process of its own: its tables open
  // (engine only, no Qt).
  std::unique_ptr<fw::TComponent> owner;
  testsupport::ForkedPeer first([&](const std::string&) -> std::string {
    try {
      owner = std::make_unique<fw::TComponent>(nullptr);
      auto* db = new dataset::TTolmidDatabase(owner.get());
      db->SetDatabaseName("First");
      db->SetDirectory(Data().string());
      db->Open();
      for (const char* name : {"type1.dat", "type2.dat", "type3.dat", "type4.dat"}) {
        auto* t = new dataset::TTolmidTable(owner.get());
        t->SetDatabaseName("First");
        t->SetTableName(name);
        t->Open();
      }
      return "open";
    } catch (const std::exception& e) {
      return e.what();
    }
  });
  ASSERT_EQ(first.Do("open"), "open");
  boxes_.Answer(fw::mrOk);
  EXPECT_FALSE(Start());
  first.Kill();
  ASSERT_EQ(boxes_.requests.size(), 1u);
  EXPECT_EQ(boxes_.requests[0].type, fw::TMsgDlgType::mtError);
  EXPECT_EQ(boxes_.requests[0].caption, "Morvella Software");
  EXPECT_EQ(boxes_.requests[0].text.rfind("Tolmid Engine Error # ", 0), 0u) << boxes_.requests[0].text;
  Stop();
  EXPECT_EQ(DirBytes(Data()), files);
}

// The units' start installs the password dialog: a table with a password
// asks the user through it instead of failing at once (engine error 10498).
TEST_F(StartupTest, UnitsInstallThePasswordDialog) {
  app::UnitsInitialization();
  dataset::Session().SetActive(true);
  testsupport::CreateEncryptedTable((home_ / "secret.dat").string(), "Secret");
  {
    fw::TComponent owner(nullptr);
    auto* t = new dataset::TTolmidTable(&owner);
    t->SetDatabaseName(home_.string());
    t->SetTableName("secret.dat");
    WithModalLoop([&] { t->Open(); },
                  [] {
                    for (QWidget* w : QApplication::topLevelWidgets()) {
                      auto* d = dynamic_cast<dataset::TTolmidPasswordDialog*>(w);
                      if (d == nullptr || !d->isVisible()) continue;
                      d->Edit->setText("Secret");
                      d->OKButton->click();
                    }
                  });
    EXPECT_TRUE(t->Active());
  }
  app::UnitsFinalization();
}

}  // namespace
}  // namespace apptest
