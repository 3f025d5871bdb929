// A child process killed (SIGKILL) where a test says: at the occurrence-th
// table step (storage/table_swap.h) of a given name, or of any name, or
// just before the engine's nth write (storage/fault_injection.h). The kill
// is the child's own, at that moment: nothing of it runs afterwards.
//
//   RunKilledChild([&] { Create(name, def); }, {.point = "intent written"});
//   for (int n = 1; RunKilledChild(start, {.write = n}) == ChildEnd::kKilled; ++n) ...
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "storage/fault_injection.h"
#include "storage/table_swap.h"

namespace testsupport {

struct KillAt {
  std::string point;        // a step's name; "" with occurrence: any step
  int occurrence = 0;       // 0: no step kills
  std::uint32_t write = 0;  // 0: no write kills
};

enum class ChildEnd { kKilled, kFinished, kFailed };

inline ChildEnd RunKilledChild(const std::function<void()>& work, const KillAt& at) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    int seen = 0;
    if (at.occurrence > 0) {
      storage::SetTableStepHook([&](std::string_view p) {
        if ((at.point.empty() || p == at.point) && ++seen == at.occurrence) ::raise(SIGKILL);
      });
    }
    if (at.write > 0) storage::ArmKill(storage::FaultSite::kWrite, at.write);
    try {
      work();
    } catch (...) {
      ::_exit(3);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return ChildEnd::kKilled;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildEnd::kFinished : ChildEnd::kFailed;
}

}  // namespace testsupport
