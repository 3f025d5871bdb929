// Random opens, closes, deletes, renames and re-creations from two processes
// against a model of the Windows sharing rules: a shared open needs no
// exclusive holder, an exclusive open (and a delete, a rename, a
// CreateAlways) needs nobody; a refused one changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/file.h"
#include "tests/common/scratch_dir.h"
#include "tests/platform/file_peer.h"

namespace platform {
namespace {

void RunModel(bool read_only_descriptors, unsigned seed) {
  testsupport::ScratchDir dir;
  const std::string path = dir / "model.dat";
  testsupport::WriteFile(path, "x");
  testsupport::ForkedPeer child{FileCommands()};
  if (read_only_descriptors) {
    ASSERT_EQ(child.Do("ro"), "ok");
    internal::SetPreferReadOnlyDescriptors(true);
  }
  File mine[2];
  struct Handle {
    bool open = false, exclusive = false;
  } model[4];  // 0, 1 here; 2, 3 in the child
  auto anyone = [&](bool exclusive_only) {
    return std::any_of(model, model + 4, [&](const Handle& h) { return h.open && (h.exclusive || !exclusive_only); });
  };
  std::mt19937 rng(seed);
  std::uintmax_t size = 1;
  for (int step = 0; step < 400; ++step) {
    const int slot = static_cast<int>(rng() % 4), op = static_cast<int>(rng() % 6);
    const bool here = slot < 2;
    Handle& h = model[slot];
    SCOPED_TRACE("step " + std::to_string(step) + " slot " + std::to_string(slot) + " op " + std::to_string(op));
    if (op <= 2) {  // open: shared read, shared read-write or exclusive
      if (h.open) continue;
      const bool exclusive = op == 2, expect = exclusive ? !anyone(false) : !anyone(true);
      const bool read = op == 0 || read_only_descriptors;
      std::string reply;
      if (here) {
        reply = mine[slot].Open(path, read ? Access::Read : Access::ReadWrite,
                                exclusive ? Share::None : Share::ReadWrite, Disposition::OpenExisting)
                    ? "ok"
                    : Err(GetLastError());
      } else {
        reply = child.Do("open " + std::to_string(slot) + " " + path + (read ? " r " : " rw ") +
                         (exclusive ? "none" : "rw") + " existing");
      }
      ASSERT_EQ(reply, expect ? "ok" : Err(ERROR_SHARING_VIOLATION));
      if (expect) h = {true, exclusive};
    } else if (op == 3) {  // close
      if (here) mine[slot].Close();
      else { ASSERT_EQ(child.Do("close " + std::to_string(slot)), "ok"); }
      h.open = false;
    } else if (op == 4) {  // delete and create again, or rename there and back
      const std::string other = dir / "Other.dat";
      const bool del = rng() % 2 == 0, expect = !anyone(false);
      std::string reply = here ? ((del ? DeleteFile(path) : MoveFile(path, other)) ? "ok" : Err(GetLastError()))
                               : child.Do(del ? "delete " + path : "move " + path + " " + other);
      ASSERT_EQ(reply, expect ? "ok" : Err(ERROR_SHARING_VIOLATION));
      if (expect && del) testsupport::WriteFile(path, "x"), size = 1;
      if (expect && !del) { ASSERT_TRUE(MoveFile(other, path)); }
    } else if (!read_only_descriptors) {  // CreateAlways, exclusive, then close
      const bool expect = !anyone(false);
      File f;
      ASSERT_EQ(
          here ? f.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways) ? "ok" : Err(GetLastError())
               : child.Do("open 9 " + path + " rw none always"),
          expect ? "ok" : Err(ERROR_SHARING_VIOLATION));
      if (!here) { ASSERT_EQ(child.Do("close 9"), "ok"); }
      if (expect) size = 0;
    }
    ASSERT_EQ(std::filesystem::file_size(path), size);  // a refused CreateAlways truncates nothing
  }
  internal::SetPreferReadOnlyDescriptors(false);
}

TEST(FileSharingModel, RandomOperationsFromTwoProcesses) {
  for (bool ro : {false, true})
    for (unsigned seed = 1; seed <= 5; ++seed) {
      SCOPED_TRACE(std::to_string(seed) + (ro ? " read-only descriptors" : ""));
      RunModel(ro, seed);
    }
}

}  // namespace
}  // namespace platform
