#include "storage/fault_injection.h"

#include <signal.h>

#include <mutex>

namespace storage {
namespace fault_detail {

std::atomic<bool> armed{false};

namespace {

struct Plan {
  FaultSite site = FaultSite::kRead;
  std::uint32_t nth = 0;
  bool sticky = false;
  std::uint32_t events = 0;
  bool fired = false;
  bool kill = false;
};

std::mutex& PlanMutex() {
  static std::mutex m;
  return m;
}

Plan& ThePlan() {
  static Plan p;
  return p;
}

}  // namespace

bool Hit(FaultSite site) {
  std::lock_guard<std::mutex> lock(PlanMutex());
  Plan& p = ThePlan();
  if (!armed.load(std::memory_order_relaxed) || site != p.site) return false;
  ++p.events;
  if (p.events < p.nth || (p.events > p.nth && !p.sticky)) return false;
  p.fired = true;
  if (p.kill) ::raise(SIGKILL);
  return true;
}

}  // namespace fault_detail

void ArmFault(FaultSite site, std::uint32_t nth, bool sticky) {
  std::lock_guard<std::mutex> lock(fault_detail::PlanMutex());
  fault_detail::ThePlan() = {site, nth, sticky, 0, false};
  fault_detail::armed.store(true, std::memory_order_relaxed);
}

void ArmKill(FaultSite site, std::uint32_t nth) {
  std::lock_guard<std::mutex> lock(fault_detail::PlanMutex());
  fault_detail::ThePlan() = {site, nth, false, 0, false, true};
  fault_detail::armed.store(true, std::memory_order_relaxed);
}

void DisarmFault() {
  std::lock_guard<std::mutex> lock(fault_detail::PlanMutex());
  fault_detail::armed.store(false, std::memory_order_relaxed);
}

std::uint32_t FaultEventCount() {
  std::lock_guard<std::mutex> lock(fault_detail::PlanMutex());
  return fault_detail::ThePlan().events;
}

bool FaultFired() {
  std::lock_guard<std::mutex> lock(fault_detail::PlanMutex());
  return fault_detail::ThePlan().fired;
}

}  // namespace storage
