// Critical sections (re-entrant: a thread may enter one it holds) and a guard
// that holds one for a scope.
#pragma once

#include <mutex>

namespace fw {

class TCriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }
  // For std::lock_guard and friends.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for the guard's lifetime.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(TCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~CriticalSectionGuard() { cs_.Leave(); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  TCriticalSection& cs_;
};

}  // namespace fw
