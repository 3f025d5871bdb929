// TThread: start, WaitFor, Synchronize through the main thread,
// FreeOnTerminate, exceptions and destruction of a running thread.
#include "framework/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "framework/exceptions.h"

namespace fw {
namespace {

class FnThread : public TThread {
 public:
  explicit FnThread(std::function<void(FnThread&)> body) : TThread(true), body_(std::move(body)) {}
  ~FnThread() override {
    Terminate();
    if (!Suspended() && !FreeOnTerminate()) WaitFor();
  }
  using TThread::OnTerminate;
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FnThread&)> body_;
};

TEST(Thread, NotSuspendedCreationIsRefused) {
  struct T : TThread {
    T() : TThread(false) {}
    void Execute() override {}
  };
  EXPECT_THROW(T(), EThread);
}

TEST(Thread, WaitForReturnsReturnValueAndSynchronizeRunsOnMainThread) {
  ASSERT_TRUE(TThread::IsMainThread());
  std::atomic<int> main_calls{0};
  FnThread t([&](FnThread& self) {
    for (int i = 0; i < 50; ++i)
      self.Synchronize([&] {
        EXPECT_TRUE(TThread::IsMainThread());
        ++main_calls;
      });
    self.SetReturnValue(42);
  });
  EXPECT_TRUE(t.Suspended());
  t.Start();
  EXPECT_NE(t.ThreadID(), 0u);
  EXPECT_NE(t.ThreadID(), TThread::CurrentThreadID());
  // WaitFor on the main thread serves the Synchronize calls.
  EXPECT_EQ(t.WaitFor(), 42);
  EXPECT_EQ(main_calls, 50);
  EXPECT_TRUE(t.Finished());
}

TEST(Thread, SynchronizeOnMainThreadRunsAtOnceAndExceptionsComeBack) {
  FnThread t([](FnThread&) {});
  int ran = 0;
  t.Synchronize([&] { ++ran; });
  EXPECT_EQ(ran, 1);
  std::atomic<bool> caught{false};
  FnThread u([&](FnThread& self) {
    try {
      self.Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  u.Start();
  u.WaitFor();
  EXPECT_TRUE(caught);
}

TEST(Thread, TerminateStopsPollingLoopAndOnTerminateRunsOnMain) {
  std::atomic<bool> on_main{false};
  FnThread t([](FnThread& self) {
    while (!self.Terminated()) std::this_thread::yield();
  });
  t.OnTerminate = [&] { on_main = TThread::IsMainThread(); };
  t.Start();
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(on_main);
}

TEST(Thread, FreeOnTerminateDeletesItself) {
  static std::atomic<bool> destroyed{false};
  struct Self : TThread {
    Self() : TThread(true) { SetFreeOnTerminate(true); }
    ~Self() override {
      destroyed = true;
      destroyed.notify_all();
    }
    void Execute() override {}
  };
  auto* s = new Self;
  EXPECT_THROW(s->WaitFor(), EThread);
  s->Start();
  destroyed.wait(false);  // returns once the thread has freed itself
  EXPECT_TRUE(destroyed);
}

TEST(Thread, DestroyingRunningThreadTerminatesAndWaits) {
  std::atomic<bool> left{false};
  {
    FnThread t([&](FnThread& self) {
      while (!self.Terminated()) std::this_thread::yield();
      left = true;
    });
    t.Start();
  }
  EXPECT_TRUE(left);
}

TEST(Thread, SynchronizeFromWorkerServedByCheckSynchronize) {
  std::atomic<bool> done{false};
  int value = 0;
  FnThread t([&](FnThread& self) {
    self.Synchronize([&] { value = 7; });
    done = true;
  });
  t.Start();
  while (!done) TThread::WaitAndCheckSynchronize(10);
  EXPECT_EQ(value, 7);
  t.WaitFor();
}

// A thread still synchronising when its owner stops it from the main
// thread: waiting must serve the pending calls, not deadlock.
TEST(Thread, StoppingServesPendingSynchronize) {
  struct Sync : TThread {
    Sync() : TThread(true) {}
    ~Sync() override {
      Terminate();
      WaitFor();
    }
    std::atomic<int> calls{0};
    void Execute() override {
      while (!Terminated()) Synchronize([this] { ++calls; });
      Synchronize([this] { ++calls; });
    }
  };
  auto* t = new Sync;
  t->Start();
  while (t->calls < 3) TThread::WaitAndCheckSynchronize(10);
  delete t;  // would hang if waiting did not serve the last call
  SUCCEED();
}

// A synchronised call that waits for another thread, serving the queue
// meanwhile, must see the calls queued behind it (a batch taken whole by
// the outer CheckSynchronize would leave the other thread blocked).
TEST(Thread, NestedWaitServesCallsQueuedBehindTheRunningOne) {
  std::atomic<int> other_calls{0};
  std::atomic<bool> stop{false};
  FnThread other([&](FnThread& self) {
    while (!stop) self.Synchronize([&] { ++other_calls; });
  });
  bool saw_other = false;
  std::atomic<bool> queueing{false};
  FnThread waiter([&](FnThread& self) {
    queueing = true;
    self.Synchronize([&] {
      const int before = other_calls;
      for (int i = 0; i < 2000 && other_calls < before + 2; ++i) TThread::WaitAndCheckSynchronize(1);
      saw_other = other_calls >= before + 2;
    });
  });
  other.Start();
  while (other_calls < 2) TThread::WaitAndCheckSynchronize(10);
  // Both calls should be queued before the main thread looks again.
  waiter.Start();
  while (!queueing) std::this_thread::yield();
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  waiter.WaitFor();
  stop = true;
  other.WaitFor();
  EXPECT_TRUE(saw_other);
}

}  // namespace
}  // namespace fw
