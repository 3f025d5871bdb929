// TThread and the Synchronize queue.
//
// Synchronize queue: a list of pending calls guarded by g_sync.mutex; the
// main thread runs them in CheckSynchronize. g_sync.cv is signalled when a
// call is queued, when one is done and when a thread finishes, so that a
// main thread waiting in WaitFor keeps serving Synchronize calls (a worker
// synchronising while the main thread waits for it cannot deadlock).
#include "framework/thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <deque>

#include "framework/exceptions.h"

namespace fw {

namespace {

struct SyncCall {
  const std::function<void()>* method = nullptr;
  std::exception_ptr error;
  bool done = false;
};

struct SyncState {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<SyncCall*> queue;
  std::thread::id main_thread = std::this_thread::get_id();
  void (*wake)() = nullptr;  // GUARDED_BY(mutex)
};

// Never destroyed: detached FreeOnTerminate threads may still signal it
// while the process exits.
SyncState& Sync() {
  static SyncState* state = new SyncState;
  return *state;
}

// Initialised during static initialisation, i.e. on the main thread.
[[maybe_unused]] SyncState& g_sync_init = Sync();

}  // namespace

TThread::TThread(bool create_suspended) {
  if (!create_suspended)
    throw EThread("Thread must be created suspended and started after construction");
}

TThread::~TThread() {
  if (thread_.joinable()) {
    if (std::this_thread::get_id() == thread_.get_id()) {
      thread_.detach();  // FreeOnTerminate: deleting ourselves at the end of Run
    } else {
      Terminate();
      Join();
    }
  }
}

// The new thread waits at a gate until Resume has finished with the object
// (a FreeOnTerminate thread may delete it as soon as it runs), then
// publishes its identifier, which Resume waits for. The gate lives on
// Resume's stack; the thread is done with it once it has unlocked it.
void TThread::Resume() {
  std::mutex m;
  std::condition_variable cv;
  bool go = false, id_set = false;
  {
    std::lock_guard<std::mutex> lock(start_mutex_);
    if (started_ || finished_) return;
    started_ = true;
    thread_ = std::thread([this, &m, &cv, &go, &id_set] {
      {
        std::unique_lock<std::mutex> l(m);
        cv.wait(l, [&] { return go; });
        thread_id_ = CurrentThreadID();
        id_set = true;
        cv.notify_all();
      }
      Run();
    });
  }
  std::unique_lock<std::mutex> l(m);
  go = true;
  cv.notify_all();
  cv.wait(l, [&] { return id_set; });
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    fatal_exception_ = std::current_exception();
  }
  const bool free_it = free_on_terminate_;
  if (OnTerminate) {
    try {
      Synchronize(OnTerminate);
    } catch (...) {
      if (!fatal_exception_) fatal_exception_ = std::current_exception();
    }
  }
  {
    SyncState& s = Sync();
    std::lock_guard<std::mutex> lock(s.mutex);
    finished_ = true;
    s.cv.notify_all();
  }
  if (free_it) delete this;
}

int TThread::WaitFor() {
  if (free_on_terminate_) throw EThread("Cannot wait for a thread that frees itself");
  if (thread_.joinable() && std::this_thread::get_id() == thread_.get_id())
    throw EThread("A thread cannot wait for itself");
  if (!started_) throw EThread("Cannot wait for a thread that was not started");
  Join();
  return return_value_;
}

// On the main thread, queued Synchronize calls run while we wait, so a
// thread synchronising at its end cannot deadlock against us.
void TThread::Join() {
  if (IsMainThread()) {
    SyncState& s = Sync();
    while (true) {
      CheckSynchronize();
      std::unique_lock<std::mutex> lock(s.mutex);
      if (finished_) break;
      s.cv.wait(lock, [&] { return finished_.load() || !s.queue.empty(); });
    }
  }
  std::lock_guard<std::mutex> lock(start_mutex_);
  if (thread_.joinable()) thread_.join();
}

void TThread::Synchronize(const std::function<void()>& method) { StaticSynchronize(method); }

void TThread::StaticSynchronize(const std::function<void()>& method) {
  if (IsMainThread()) {
    method();
    return;
  }
  SyncState& s = Sync();
  SyncCall call;
  call.method = &method;
  std::unique_lock<std::mutex> lock(s.mutex);
  s.queue.push_back(&call);
  s.cv.notify_all();
  if (s.wake != nullptr) s.wake();
  s.cv.wait(lock, [&] { return call.done; });
  if (call.error) std::rethrow_exception(call.error);
}

// Takes the calls from the queue one at a time: a call that itself waits
// for another thread (serving the queue meanwhile) must find the calls
// queued behind it, not a batch held by the caller. At most as many calls
// run as were queued at the start, so a thread that synchronises in a loop
// cannot keep the caller here.
bool TThread::CheckSynchronize() {
  if (!IsMainThread()) throw EThread("CheckSynchronize called from a thread other than the main thread");
  SyncState& s = Sync();
  bool ran = false;
  std::size_t left = 0;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    left = s.queue.size();
  }
  for (; left > 0; --left) {
    SyncCall* call = nullptr;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (s.queue.empty()) break;
      call = s.queue.front();
      s.queue.pop_front();
    }
    std::exception_ptr error;
    try {
      (*call->method)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      call->error = error;
      call->done = true;
    }
    s.cv.notify_all();
    ran = true;
  }
  return ran;
}

bool TThread::WaitAndCheckSynchronize(int timeout_ms) {
  SyncState& s = Sync();
  if (timeout_ms > 0) {
    std::unique_lock<std::mutex> lock(s.mutex);
    s.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !s.queue.empty(); });
  }
  return CheckSynchronize();
}

void TThread::SetWakeMainThread(void (*wake)()) {
  SyncState& s = Sync();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.wake = wake;
}

void TThread::SetMainThread() {
  SyncState& s = Sync();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.main_thread = std::this_thread::get_id();
}

bool TThread::IsMainThread() {
  SyncState& s = Sync();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.main_thread == std::this_thread::get_id();
}

std::uint64_t TThread::CurrentThreadID() { return static_cast<std::uint64_t>(::syscall(SYS_gettid)); }

}  // namespace fw
