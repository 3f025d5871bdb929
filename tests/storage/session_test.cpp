#include "storage/session.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"
#include "storage/data_file.h"
#include "storage/memory_file.h"

namespace storage {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    char tmpl[] = "/tmp/storage_session_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    ShutdownEngine();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST_F(SessionTest, InitializeTwiceKeepsOneSession) {
  TFileSession* first = CurrentSession();
  first->AddPassword("x");
  InitializeEngine();
  EXPECT_EQ(CurrentSession(), first);
  EXPECT_TRUE(CurrentSession()->HasPassword("x"));
  ShutdownEngine();
  EXPECT_FALSE(EngineInitialized());
  EXPECT_THROW(CurrentSession(), ETolmidEngineError);
  ShutdownEngine();  // twice is harmless
  InitializeEngine();
  EXPECT_FALSE(CurrentSession()->HasPassword("x"));
}

TEST_F(SessionTest, SessionsSwitchAndKeepTheirOwnState) {
  TFileSession* def = CurrentSession();
  TFileSession* other = CreateSession();
  SetPrivateDirectory("C:\\default");
  SetCurrentSession(other);
  EXPECT_EQ(GetPrivateDirectory(), "");
  SetPrivateDirectory("C:\\other");
  SetCurrentSession(def);
  EXPECT_EQ(GetPrivateDirectory(), "C:\\default");
  EXPECT_EQ(other->PrivateDirectory(), "C:\\other");
  FreeSession(other);
  FreeSession(nullptr);
}

// The engine frees only the session it made; freeing the current session
// leaves none current (10758) rather than a dangling one.
TEST_F(SessionTest, ShutdownAndFreeKeepOwnershipStraight) {
  TFileSession* other = CreateSession();
  TMemoryFile* file = nullptr;
  const std::int32_t h = other->MemoryFiles().CreateMemoryFile("X.DAT", &file);
  ASSERT_GT(h, 0);
  file->CloseHandle(h);
  SetCurrentSession(other);
  FreeSession(other);  // frees its memory files too (the leak check sees it)
  EXPECT_TRUE(EngineInitialized());
  EXPECT_EQ(CurrentSessionOrNull(), nullptr);
  try {
    CurrentSession();
    FAIL() << "no session, no raise";
  } catch (const ETolmidEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), 10758);
  }
  TFileSession* stray = CreateSession();
  SetCurrentSession(stray);
  ShutdownEngine();  // frees the default session, not the stray one
  EXPECT_EQ(CurrentSessionOrNull(), nullptr);
  FreeSession(stray);
}

TEST_F(SessionTest, PasswordsAreExactAndCaseSensitive) {
  TFileSession& s = *CurrentSession();
  s.AddPassword("");
  EXPECT_EQ(s.Passwords().Count(), 0u);
  s.AddPassword("Secret");
  s.AddPassword("Secret");
  s.AddPassword("other");
  EXPECT_TRUE(s.HasPassword("Secret"));
  EXPECT_FALSE(s.HasPassword("secret"));
  EXPECT_FALSE(s.HasPassword("Secret "));
  s.RemovePassword("SECRET");
  EXPECT_EQ(s.Passwords().Count(), 3u);
  s.RemovePassword("Secret");
  EXPECT_TRUE(s.HasPassword("Secret"));  // the duplicate stays
  s.RemovePassword("Secret");
  EXPECT_FALSE(s.HasPassword("Secret"));
  s.RemovePassword("missing");
  EXPECT_EQ(s.Passwords().Count(), 1u);
  s.RemoveAllPasswords();
  EXPECT_FALSE(s.HasPassword("other"));
}

// Thread id prefix, current directory, k = 0 then 1 once the first exists.
TEST_F(SessionTest, TempNameFromThreadIdInCurrentDirectory) {
  const std::string saved = platform::GetCurrentDirectory();
  ASSERT_TRUE(platform::SetCurrentDirectory(dir_));
  const std::string cwd = platform::GetCurrentDirectory();
  const std::string prefix = std::to_string(std::labs(static_cast<long>(gettid()))).substr(0, 5);
  const std::string first = GetTempTableName(false);
  const std::string second = GetTempTableName(false);
  ASSERT_TRUE(platform::SetCurrentDirectory(saved));
  EXPECT_EQ(first, cwd + "\\" + prefix + "0.DAT");
  EXPECT_EQ(second, cwd + "\\" + prefix + "1.DAT");
  // The reservation is an empty file under the name.
  EXPECT_TRUE(platform::FileExists(first));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ + "/" + prefix + "0.DAT"));
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/" + prefix + "0.DAT"), 0u);
}

TEST_F(SessionTest, TempNameInPrivateDirectorySkipsExistingFiles) {
  SetPrivateDirectory("  " + dir_ + "  ");
  std::FILE* f = std::fopen((dir_ + "/123450.DAT").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("taken", f);
  std::fclose(f);
  EXPECT_EQ(GetTempTableName(false, "12345"), dir_ + "\\123451.DAT");
  // The existing file was not touched.
  EXPECT_EQ(std::filesystem::file_size(dir_ + "/123450.DAT"), 5u);
}

// A reservation goes again when no table comes into being over it (the
// definition refused, or the name given up); a table created over it, and
// files this process did not reserve, are never touched.
TEST_F(SessionTest, AReservedNameLeavesNothingWhenNoTableIsCreated) {
  SetPrivateDirectory(dir_);
  auto create = [](const std::string& name, bool valid) {
    DataTableDefinition def;
    if (valid) {
      TFieldDescriptor f;
      f.FieldNumber = 1;
      f.Name.Assign("Id");
      f.FieldType = TypeCode(FieldType::kInteger);
      def.fields.push_back(f);
      def.allow_empty_primary = true;
    }
    TDataFile t;
    t.SetFileName(name);
    t.SetExclusive(true);
    try {
      t.CreateDataTable(def);
    } catch (const ETolmidEngineError& e) {
      return e.ErrorCode();
    }
    return 0;
  };
  const std::string refused = GetTempTableName(false, "44444");
  ASSERT_TRUE(platform::FileExists(refused));
  EXPECT_NE(create(refused, false), 0);
  EXPECT_FALSE(platform::FileExists(refused));

  const std::string given_up = GetTempTableName(false, "44444");
  ReleaseTempTableName(given_up);
  EXPECT_FALSE(platform::FileExists(given_up));

  const std::string made = GetTempTableName(false, "44444");
  ASSERT_EQ(create(made, true), 0);
  ReleaseTempTableName(made);
  EXPECT_TRUE(platform::FileExists(made));

  std::FILE* f = std::fopen((dir_ + "/mine.DAT").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ReleaseTempTableName(dir_ + "\\mine.DAT");
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/mine.DAT"));
}

TEST_F(SessionTest, InMemoryTempNamesLookAtTheSessionFiles) {
  SetPrivateDirectory(dir_ + "\\");
  const std::string a = GetTempTableName(true, "55555");
  EXPECT_EQ(a, dir_ + "\\555550.DAT");
  EXPECT_EQ(GetTempTableName(true, "55555"), a);  // nothing reserved on disk
  EXPECT_FALSE(platform::FileExists(a));
  TMemoryFile* file = nullptr;
  const std::int32_t handle = CurrentSession()->MemoryFiles().CreateMemoryFile(a, &file);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(GetTempTableName(true, "55555"), dir_ + "\\555551.DAT");
  file->CloseHandle(handle);
}

// Several processes racing for names with one prefix in one directory:
// every name handed out is different, and each exists as its reservation.
TEST_F(SessionTest, RacingProcessesNeverShareATempName) {
  SetPrivateDirectory(dir_);
  constexpr int kChildren = 6;
  constexpr int kNamesEach = 30;
  int names[2], go[2];
  ASSERT_EQ(pipe(names), 0);
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(names[0]);
      close(go[1]);
      char b;
      (void)!read(go[0], &b, 1);  // wait for the start signal (EOF)
      int status = 0;
      for (int i = 0; i < kNamesEach; ++i) {
        std::string name;
        try {
          name = GetTempTableName(false, "77777") + "\n";
        } catch (...) {
          status = 2;
          break;
        }
        if (write(names[1], name.data(), name.size()) != static_cast<ssize_t>(name.size())) status = 3;
      }
      _exit(status);
    }
    children.push_back(pid);
  }
  close(names[1]);
  close(go[0]);
  close(go[1]);  // start them all at once
  std::string all;
  char buf[4096];
  ssize_t got;
  while ((got = read(names[0], buf, sizeof buf)) > 0) all.append(buf, static_cast<std::size_t>(got));
  close(names[0]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> unique;
  std::size_t total = 0;
  for (std::size_t start = 0; start < all.size();) {
    const std::size_t end = all.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string name = all.substr(start, end - start);
    EXPECT_TRUE(unique.insert(name).second) << "handed out twice: " << name;
    EXPECT_TRUE(platform::FileExists(name)) << name;
    ++total;
    start = end + 1;
  }
  EXPECT_EQ(total, static_cast<std::size_t>(kChildren * kNamesEach));
  // Together they used exactly the first numbers, none skipped.
  for (int k = 0; k < kChildren * kNamesEach; ++k) {
    EXPECT_EQ(unique.count(dir_ + "\\77777" + std::to_string(k) + ".DAT"), 1u) << k;
  }
}

}  // namespace
}  // namespace storage
