// TThread: a thread object in the framework's shape. Execute runs on the new
// thread; Terminate asks it to stop (Execute polls Terminated); WaitFor
// joins and returns the return value. FreeOnTerminate threads delete
// themselves after Execute.
//
// C++ runs no code after the most derived constructor, so a thread cannot
// safely start inside TThread's constructor (Execute would be called on a
// half-built object). Threads are therefore created suspended and started
// with Start()/Resume() once constructed; TThread(false) raises EThread.
//
// A derived class whose Execute uses its own members must stop the thread
// in its own destructor (Terminate(); WaitFor();) before they go away;
// ~TThread does the same only as a last resort.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace fw {

// Priorities as the framework numbers them (stored; the scheduler is not
// asked).
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
 public:
  explicit TThread(bool create_suspended);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Resume();  // starts a thread created suspended
  void Start() { Resume(); }
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Waits for Execute to end; returns ReturnValue. On the main thread it
  // runs queued Synchronize calls while it waits. EThread when called for a
  // FreeOnTerminate thread or from the thread itself.
  int WaitFor();
  bool Finished() const { return finished_; }
  bool Suspended() const { return !started_; }
  void SetFreeOnTerminate(bool v) { free_on_terminate_ = v; }
  bool FreeOnTerminate() const { return free_on_terminate_; }
  std::uint64_t ThreadID() const { return thread_id_; }
  int ReturnValue() const { return return_value_; }
  void SetReturnValue(int v) { return_value_ = v; }
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority p) { priority_ = p; }
  // The exception that ended Execute, if any.
  std::exception_ptr FatalException() const { return fatal_exception_; }
  void SetOnTerminate(std::function<void()> handler) { OnTerminate = std::move(handler); }

  // Runs method on the main thread (the thread that calls
  // CheckSynchronize) and waits for it; on the main thread it runs at once.
  // An exception thrown by method is raised again in the calling thread.
  void Synchronize(const std::function<void()>& method);
  // As Synchronize, for code that has no thread object.
  static void StaticSynchronize(const std::function<void()>& method);
  // Runs the queued Synchronize calls; the main thread calls it from its
  // message loop. Returns true when something ran.
  static bool CheckSynchronize();
  // Waits up to timeout_ms for a queued Synchronize call (0: no wait) and
  // runs what is queued; for message loops without other events.
  static bool WaitAndCheckSynchronize(int timeout_ms);
  // Called (from the synchronising thread, with the queue's lock held) each
  // time a call is queued, so that a main thread waiting in an event loop
  // of its own wakes up and runs CheckSynchronize. It must only post, never
  // run the call. nullptr: nobody is told.
  static void SetWakeMainThread(void (*wake)());
  // Marks the calling thread as the main thread (done once at start-up;
  // the thread that runs static initialisation is the default).
  static void SetMainThread();
  static bool IsMainThread();
  // The operating system's identifier of the calling thread.
  static std::uint64_t CurrentThreadID();

 protected:
  virtual void Execute() = 0;
  // Called after Execute, synchronised with the main thread.
  std::function<void()> OnTerminate;

 private:
  void Run();
  void Join();
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> free_on_terminate_{false};
  std::atomic<std::uint64_t> thread_id_{0};
  int return_value_ = 0;
  TThreadPriority priority_ = TThreadPriority::tpNormal;
  std::exception_ptr fatal_exception_;
  std::mutex start_mutex_;  // guards starting and joining
};

}  // namespace fw
