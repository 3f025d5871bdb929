// Fault injection: makes the n-th read, write, cache slot or page load of
// the engine fail, so that a test can interrupt a write at every step and
// prove that the files come out whole; or kills the process there
// (ArmKill), so that a test can prove the same of a program killed at any
// moment. Built into every build and inert (one relaxed atomic load per
// site) until a test arms it.
//
// Sites, and what a fault there does:
//   kRead       TFileHandler::Read raises 9217 before reading.
//   kWrite      TFileHandler::Write writes the first half of its bytes (a
//               torn write) and raises 9218; a truncation raises 9218 and
//               leaves the size alone.
//   kCacheSlot  the record, page or block cache has no slot to give: 8962,
//               8965 or 8963.
//   kDamage     an index page or BLOB block read from the file fails its
//               checks: 8965 or 8963.
//
// One fault plan for the whole process; the tests that arm it run their
// engine calls on one thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace storage {

enum class FaultSite : std::uint8_t { kRead, kWrite, kCacheSlot, kDamage };

// From now on the nth event at site (1-based, counted from this call)
// fails; with sticky, every later one there fails too.
void ArmFault(FaultSite site, std::uint32_t nth, bool sticky = false);
// The same, but the nth event ends the process with SIGKILL before it
// happens, as a kill does between two system calls (a write of the engine
// is one call, which a kill never tears). For a child process of a test.
void ArmKill(FaultSite site, std::uint32_t nth);
void DisarmFault();
// Events met at the armed site since ArmFault, and whether one failed.
[[nodiscard]] std::uint32_t FaultEventCount();
[[nodiscard]] bool FaultFired();

namespace fault_detail {
extern std::atomic<bool> armed;
bool Hit(FaultSite site);
}  // namespace fault_detail

// True when this event at site must fail.
inline bool FaultHit(FaultSite site) {
  return fault_detail::armed.load(std::memory_order_relaxed) && fault_detail::Hit(site);
}

}  // namespace storage
