// Random opens, closes, deletes and re-creations from two processes against
// a model of the Windows sharing rules: a shared open needs no exclusive
// holder, an exclusive open (and a delete, a CreateAlways) needs nobody.
#include <gtest/gtest.h>

#include <random>

#include "platform/file.h"
#include "tests/platform/test_util.h"

namespace platform {
namespace {

using platform_test::Child;
using platform_test::ScratchDir;

struct Handle {
  bool open = false;
  bool exclusive = false;
};

void RunModel(bool read_only_descriptors, unsigned seed) {
  ScratchDir dir;
  const std::string path = dir / "model.dat";
  platform_test::WriteFileBytes(path, "x");
  Child child;
  if (read_only_descriptors) {
    ASSERT_EQ(child.Do("ro"), "ok");
    internal::SetPreferReadOnlyDescriptors(true);
  }
  File mine[2];
  Handle model[4];  // 0, 1 here; 2, 3 in the child
  std::mt19937 rng(seed);
  auto anyone_open = [&] {
    for (const Handle& h : model) {
      if (h.open) return true;
    }
    return false;
  };
  auto exclusive_holder = [&] {
    for (const Handle& h : model) {
      if (h.open && h.exclusive) return true;
    }
    return false;
  };
  for (int step = 0; step < 400; ++step) {
    const int slot = static_cast<int>(rng() % 4);
    const int op = static_cast<int>(rng() % 6);
    const bool here = slot < 2;
    Handle& h = model[slot];
    SCOPED_TRACE("step " + std::to_string(step) + " slot " + std::to_string(slot) + " op " +
                 std::to_string(op));
    if (op <= 2) {  // open: shared read, shared read-write or exclusive
      if (h.open) continue;
      const bool exclusive = op == 2;
      const bool expect = exclusive ? !anyone_open() : !exclusive_holder();
      const Access access = op == 0 ? Access::Read : (read_only_descriptors ? Access::Read : Access::ReadWrite);
      bool ok;
      if (here) {
        ok = mine[slot].Open(path, access, exclusive ? Share::None : Share::ReadWrite,
                             Disposition::OpenExisting);
        if (!ok) {
          ASSERT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        }
      } else {
        const std::string reply = child.Do("open " + std::to_string(slot) + " " + path + " " +
                                           (access == Access::Read ? "r" : "rw") + " " +
                                           (exclusive ? "none" : "rw") + " existing");
        ok = reply == "ok";
        if (!ok) {
          ASSERT_EQ(reply, "err 32");
        }
      }
      ASSERT_EQ(ok, expect);
      if (ok) h = {true, exclusive};
    } else if (op == 3) {  // close
      if (here) {
        mine[slot].Close();
      } else {
        ASSERT_EQ(child.Do("close " + std::to_string(slot)), "ok");
      }
      h.open = false;
    } else if (op == 4) {  // delete and create again
      const bool expect = !anyone_open();
      const bool ok = here ? DeleteFile(path) : child.Do("delete " + path) == "ok";
      ASSERT_EQ(ok, expect);
      if (ok) platform_test::WriteFileBytes(path, "x");
    } else if (!read_only_descriptors) {  // CreateAlways, exclusive, then close
      const bool expect = !anyone_open();
      File f;
      ASSERT_EQ(f.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways), expect);
    }
  }
  internal::SetPreferReadOnlyDescriptors(false);
}

TEST(FileSharingModel, RandomOperationsFromTwoProcesses) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(seed);
    RunModel(false, seed);
  }
}

TEST(FileSharingModel, RandomOperationsOnReadOnlyDescriptors) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(seed);
    RunModel(true, seed);
  }
}

}  // namespace
}  // namespace platform
