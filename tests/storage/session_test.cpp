// Sessions: their life and ownership, passwords, and temporary table names
// (reserved on disk, never shared between racing processes).
#include "storage/session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "platform/file.h"
#include "storage/data_file.h"
#include "storage/memory_file.h"
#include "tests/common/scratch_dir.h"

namespace storage {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }
  testsupport::ScratchDir scratch_;
  const std::string dir_ = scratch_.path();
};

// The engine frees only the session it made; freeing the current session
// leaves none current (10758) rather than a dangling one.
TEST_F(SessionTest, SessionsKeepTheirStateAndOwnership) {
  TFileSession* def = CurrentSession();
  def->AddPassword("x");
  InitializeEngine();
  EXPECT_EQ(CurrentSession(), def);
  EXPECT_TRUE(def->HasPassword("x"));
  TFileSession* other = CreateSession();
  SetPrivateDirectory("C:\\default");
  SetCurrentSession(other);
  EXPECT_EQ(GetPrivateDirectory(), "");
  TMemoryFile* file = nullptr;
  const std::int32_t h = other->MemoryFiles().CreateMemoryFile("X.DAT", &file);
  ASSERT_GT(h, 0);
  file->CloseHandle(h);
  FreeSession(other);  // its memory files too (the leak check sees it)
  EXPECT_EQ(CurrentSessionOrNull(), nullptr);
  EXPECT_THROW(CurrentSession(), ETolmidEngineError);
  SetCurrentSession(def);
  EXPECT_EQ(GetPrivateDirectory(), "C:\\default");
  TFileSession* stray = CreateSession();
  SetCurrentSession(stray);
  ShutdownEngine();  // frees the default session, not the stray one
  ShutdownEngine();  // twice is harmless
  EXPECT_EQ(CurrentSessionOrNull(), nullptr);
  FreeSession(stray);
  InitializeEngine();
  EXPECT_FALSE(CurrentSession()->HasPassword("x"));
}

TEST_F(SessionTest, PasswordsAreExactAndCaseSensitive) {
  TFileSession& s = *CurrentSession();
  for (const char* p : {"", "Secret", "Secret", "other"}) s.AddPassword(p);
  EXPECT_EQ(s.Passwords().Count(), 3u);  // the empty one is no password
  EXPECT_FALSE(s.HasPassword("secret"));
  EXPECT_FALSE(s.HasPassword("Secret "));
  s.RemovePassword("SECRET");
  s.RemovePassword("Secret");
  EXPECT_TRUE(s.HasPassword("Secret"));  // the duplicate stays
  s.RemovePassword("Secret");
  EXPECT_FALSE(s.HasPassword("Secret"));
  s.RemoveAllPasswords();
  EXPECT_EQ(s.Passwords().Count(), 0u);
}

// Prefix: the thread id, or the one given; k = 0, 1, ... past existing
// files; the current directory or the private one. The reservation is an
// empty file under the name; it goes again when no table comes into being
// over it, and files this process did not reserve are never touched.
TEST_F(SessionTest, TempNamesAreReservedAndReleased) {
  const std::string saved = platform::GetCurrentDirectory();
  ASSERT_TRUE(platform::SetCurrentDirectory(dir_));
  const std::string cwd = platform::GetCurrentDirectory();
  const std::string prefix = std::to_string(std::labs(static_cast<long>(gettid()))).substr(0, 5);
  const std::string first = GetTempTableName(false);
  const std::string second = GetTempTableName(false);
  ASSERT_TRUE(platform::SetCurrentDirectory(saved));
  EXPECT_EQ(first, cwd + "\\" + prefix + "0.DAT");
  EXPECT_EQ(second, cwd + "\\" + prefix + "1.DAT");
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/" + prefix + "0.DAT"), 0u);

  SetPrivateDirectory("  " + dir_ + "  ");
  testsupport::WriteFile(dir_ + "/444440.DAT", "taken");
  const std::string refused = GetTempTableName(false, "44444");
  EXPECT_EQ(refused, dir_ + "\\444441.DAT");
  auto create = [](const std::string& name, bool valid) {
    DataTableDefinition def;
    if (valid) {
      def.fields.resize(1);
      def.fields[0].FieldNumber = 1;
      def.fields[0].Name.Assign("Id");
      def.fields[0].FieldType = TypeCode(FieldType::kInteger);
      def.allow_empty_primary = true;
    }
    TDataFile t;
    t.SetFileName(name);
    t.SetExclusive(true);
    t.CreateDataTable(def);
  };
  EXPECT_THROW(create(refused, false), ETolmidEngineError);
  EXPECT_FALSE(platform::FileExists(refused));
  const std::string given_up = GetTempTableName(false, "44444");
  ReleaseTempTableName(given_up);
  EXPECT_FALSE(platform::FileExists(given_up));
  const std::string made = GetTempTableName(false, "44444");
  create(made, true);
  ReleaseTempTableName(made);
  EXPECT_TRUE(platform::FileExists(made));
  ReleaseTempTableName(dir_ + "\\444440.DAT");
  EXPECT_EQ(testsupport::ReadFile(dir_ + "/444440.DAT"), "taken");

  // In memory: the session's memory files count, nothing is reserved.
  const std::string a = GetTempTableName(true, "55555");
  EXPECT_EQ(GetTempTableName(true, "55555"), a);
  EXPECT_FALSE(platform::FileExists(a));
  TMemoryFile* file = nullptr;
  const std::int32_t handle = CurrentSession()->MemoryFiles().CreateMemoryFile(a, &file);
  EXPECT_EQ(GetTempTableName(true, "55555"), dir_ + "\\555551.DAT");
  file->CloseHandle(handle);
}

// Several processes racing for names with one prefix in one directory:
// every name handed out is different, exists, and none is skipped.
TEST_F(SessionTest, RacingProcessesNeverShareATempName) {
  SetPrivateDirectory(dir_);
  constexpr int kChildren = 6, kNamesEach = 30;
  int names[2], go[2];
  ASSERT_EQ(pipe(names), 0);
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      char b;
      (void)!read(go[0], &b, 1);  // the start signal (EOF)
      for (int i = 0; i < kNamesEach; ++i) {
        std::string name;
        try {
          name = GetTempTableName(false, "77777") + "\n";
        } catch (...) {
          _exit(2);
        }
        if (write(names[1], name.data(), name.size()) != static_cast<ssize_t>(name.size())) _exit(3);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  close(names[1]);
  close(go[0]);
  close(go[1]);  // start them all at once
  std::string all;
  char buf[4096];
  for (ssize_t got; (got = read(names[0], buf, sizeof buf)) > 0;) all.append(buf, static_cast<std::size_t>(got));
  close(names[0]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::multiset<std::string> got;
  for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
    got.insert(all.substr(start, end - start));
  std::multiset<std::string> want;
  for (int k = 0; k < kChildren * kNamesEach; ++k) want.insert(dir_ + "\\77777" + std::to_string(k) + ".DAT");
  EXPECT_EQ(got, want);
  for (const std::string& name : want) EXPECT_TRUE(platform::FileExists(name)) << name;
}

}  // namespace
}  // namespace storage
