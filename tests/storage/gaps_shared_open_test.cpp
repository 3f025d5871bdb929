// Opening a shared table while another program inserts into it: the
// opener may meet the headers half written and must still open (it tries
// again), never fail.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tests/storage/record_test_support.h"

namespace storage::rectest {
namespace {

using datatest::Field;
using datatest::Index;

class SharedOpenTest : public datatest::DataFileTestBase {};

TEST_F(SharedOpenTest, OpenWhileAnotherProcessInserts) {
  DataTableDefinition def =
      Definition({Field(1, "Key", FieldType::kInteger), Field(2, "Name", FieldType::kString, 30),
                  Field(3, "Memo", FieldType::kBlob, 0, FieldSubtype::kMemo)});
  def.secondary = {Index("ByName", {2})};
  Create(Path("o.dat"), def);

  int ready[2], stop[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(stop), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ready[0]);
    close(stop[1]);
    fcntl(stop[0], F_SETFL, O_NONBLOCK);
    int status = 0;
    try {
      auto t = OpenTable(Path("o.dat"), false);
      const std::string memo(700, 'x');
      for (int k = 1; k <= 1000000; ++k) {
        Rec r(*t);
        r.Num<std::int32_t>(1, k).Str(2, "row " + std::to_string(k * 7919 % 100003));
        if (k % 3 == 0) {
          const int opened = t->OpenBlobField(false, 3, r.span());
          const int written =
              opened != 0 ? 0
                          : t->WriteBlobField(false, 3, memo.data(), 0,
                                              static_cast<std::int32_t>(memo.size()), r.span());
          if (opened != 0 || written != 0) {
            fprintf(stderr, "writer: BLOB codes %d %d\n", opened, written);
            _exit(3);
          }
        }
        t->InsertRecord(r.span());
        if (k % 3 == 0) t->FreeBlobBuffers();
        if (k == 1 && write(ready[1], "r", 1) != 1) _exit(4);
        char c;
        if (read(stop[0], &c, 1) == 1) break;
      }
      t->Close();
    } catch (const std::exception& e) {
      fprintf(stderr, "writer: %s\n", e.what());
      status = 2;
    }
    _exit(status);
  }
  close(ready[1]);
  close(stop[0]);
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);

  // 200 opens rarely meet the window; a few thousand do.
  int failures = 0;
  std::string first_error;
  for (int i = 0; i < 3000; ++i) {
    try {
      auto t = OpenTable(Path("o.dat"), false);
      t->Close();
    } catch (const ETolmidEngineError& e) {
      if (failures++ == 0) first_error = e.what();
    }
  }
  // The writer may have ended already (a failure): no SIGPIPE then.
  signal(SIGPIPE, SIG_IGN);
  (void)!write(stop[1], "s", 1);
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(ready[0]);
  close(stop[1]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(failures, 0) << first_error;

  // The table the writer left is whole.
  auto t = OpenTable(Path("o.dat"), true);
  EXPECT_GT(t->RecordCount(), 0u);
}

}  // namespace
}  // namespace storage::rectest
