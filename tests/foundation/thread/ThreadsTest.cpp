#include "foundation/thread/Threads.h"

#include <gtest/gtest.h>

#include <atomic>

#include "support/WaitFactor.h"

namespace {

// Polls the stop flag like every engine worker.
class PollingWorker : public CBaseThread {
 public:
  int Run() override {
    started = true;
    while (!StopRequested()) Sleep(5);
    return 0;
  }
  std::atomic<bool> started{false};
};

// Ignores the stop flag: only termination ends it.
class StubbornWorker : public CBaseThread {
 public:
  int Run() override {
    for (;;) Sleep(50);
  }
};

class QuitWorker : public thread {
 public:
  int Run() override {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // make the queue
    queueReady = true;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    }
    return 0;
  }
  std::atomic<bool> queueReady{false};
};

template <typename Pred>
bool WaitFor(Pred p, DWORD ms) {
  return testwait::Until(p, ms);
}

}  // namespace

TEST(CBaseThread, StopOnNeverStartedOnlyResetsFlags) {
  PollingWorker w;
  EXPECT_EQ(w.StopThread(), 0);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.ThreadHandle(), nullptr);
  EXPECT_FALSE(w.StopRequested());
}

TEST(CBaseThread, StartStopAndRestart) {
  PollingWorker w;
  for (int round = 0; round < 2; ++round) {
    w.ResetThread();
    ASSERT_EQ(w.StartThread(), 0);
    ASSERT_TRUE(WaitFor([&] { return w.started.load(); }, 5000));
    EXPECT_TRUE(w.IsRunning());
    DWORD t0 = GetTickCount();
    EXPECT_EQ(w.StopThread(), 0);
    EXPECT_LT(GetTickCount() - t0, testwait::MsBelow(2000, kThreadStopWaitMs - 500));
    EXPECT_FALSE(w.IsRunning());
    EXPECT_EQ(w.ThreadHandle(), nullptr);
    w.started = false;
  }
}

TEST(CBaseThread, WorkerIgnoringStopIsTerminatedAfterBoundedWait) {
  StubbornWorker w;
  ASSERT_EQ(w.StartThread(), 0);
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), w.ThreadHandle(), GetCurrentProcess(), &dup, 0,
                              FALSE, DUPLICATE_SAME_ACCESS));
  DWORD t0 = GetTickCount();
  w.StopThread(1000);  // the protocol's bound, shortened for the test
  DWORD took = GetTickCount() - t0;
  EXPECT_GE(took, 900u);
  EXPECT_LT(took, testwait::Ms(5000));
  EXPECT_EQ(w.ThreadHandle(), nullptr);
  EXPECT_FALSE(w.IsRunning());
  ASSERT_EQ(WaitForSingleObject(dup, testwait::Ms(5000)), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(dup, &code);
  EXPECT_EQ(code, kThreadTerminatedExitCode);
  CloseHandle(dup);
}

TEST(CBaseThread, StopWithoutTerminationLeavesRunningWorker) {
  StubbornWorker w;
  ASSERT_EQ(w.StartThread(), 0);
  w.StopThread(200, false);
  EXPECT_TRUE(w.IsRunning());
  EXPECT_NE(w.ThreadHandle(), nullptr);  // kept: the worker still runs
  TerminateThread(w.ThreadHandle(), 0);
  WaitForSingleObject(w.ThreadHandle(), testwait::Ms(5000));
}

TEST(CBaseThread, HighestPriority) {
  struct Raiser : CBaseThread {
    int Run() override {
      result = SetHighestPriority();
      priority = GetThreadPriority(GetCurrentThread());
      return 0;
    }
    int result = -99;
    int priority = 0;
  } w;
  ASSERT_EQ(w.StartThread(), 0);
  ASSERT_TRUE(w.WaitThread(testwait::Ms(5000)));
  EXPECT_EQ(w.result, 0);
  EXPECT_EQ(w.PriorityState(), 1);
  EXPECT_EQ(w.priority, THREAD_PRIORITY_HIGHEST);
}

TEST(QueueThread, StartTwiceAndQuitMessage) {
  QuitWorker w;
  ASSERT_TRUE(w.Start());
  unsigned id = w.ThreadId();
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(w.Start());  // already running: left alone
  EXPECT_EQ(w.ThreadId(), id);
  ASSERT_TRUE(WaitFor([&] { return w.queueReady.load(); }, 5000));
  DWORD t0 = GetTickCount();
  w.Stop();
  EXPECT_LT(GetTickCount() - t0, 1000u);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.ThreadHandle(), nullptr);
}

TEST(QueueThread, StopTerminatesThreadWithoutQueue) {
  struct Deaf : thread {
    int Run() override {
      for (;;) Sleep(50);
    }
  } w;
  ASSERT_TRUE(w.Start());
  DWORD t0 = GetTickCount();
  w.Stop(300);
  EXPECT_LT(GetTickCount() - t0, testwait::Ms(3000));
  EXPECT_FALSE(w.IsRunning());
}

TEST(Locks, MadeFlagsAndExclusion) {
  CBaseMutex m;
  EXPECT_TRUE(m.initialised);
  critical_section_lock c;
  EXPECT_EQ(c.made, 1);

  long counter = 0;
  struct Adder : CBaseThread {
    CBaseMutex* m;
    long* counter;
    int Run() override {
      for (int i = 0; i < 100000; ++i) {
        ScopedLock<CBaseMutex> g(*m);
        long v = *counter;
        *counter = v + 1;
      }
      return 0;
    }
  } a, b;
  a.m = b.m = &m;
  a.counter = b.counter = &counter;
  ASSERT_EQ(a.StartThread(), 0);
  ASSERT_EQ(b.StartThread(), 0);
  ASSERT_TRUE(a.WaitThread(30000));
  ASSERT_TRUE(b.WaitThread(30000));
  EXPECT_EQ(counter, 200000);
}
