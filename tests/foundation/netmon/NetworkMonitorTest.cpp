#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "foundation/netmon/IPMonitor.h"
#include "foundation/netmon/WmiInfo.h"
#include "support/WaitFactor.h"

namespace {

// A monitor whose address-table changes are made by the test: the request
// returns what the test says and the change fires when the test signals.
class ScriptedMonitor : public CIPMonitor {
 public:
  ~ScriptedMonitor() override { Stop(testwait::Ms(2000)); }
  void FireChange() {
    HANDLE event = pending_.load();
    if (event) SetEvent(event);
  }
  bool WaitPending(DWORD ms) {
    return testwait::Until([&] { return pending_.load() != nullptr; }, ms, 5);
  }
  DWORD requestResult = ERROR_IO_PENDING;
  std::atomic<int> requests{0};
  std::atomic<int> cancels{0};

 protected:
  DWORD RequestChange(OVERLAPPED* overlapped) override {
    ++requests;
    pending_ = overlapped->hEvent;
    SetLastError(0);  // as some systems leave it for a pending request
    return requestResult;
  }
  void CancelChange(OVERLAPPED*) override {
    ++cancels;
    pending_ = nullptr;
  }

 private:
  std::atomic<HANDLE> pending_{nullptr};
};

struct Counter {
  std::atomic<int> calls{0};
  int answer = 0;
  DWORD blockMs = 0;
};

int __stdcall CountingCallback(ULONG_PTR data) {
  auto* c = reinterpret_cast<Counter*>(data);
  if (c->blockMs) Sleep(c->blockMs);
  ++c->calls;
  return c->answer;
}

TEST(IPMonitor, PendingRequestIsRecognisedByTheReturnValue) {
  ScriptedMonitor monitor;
  Counter counter;
  ASSERT_TRUE(monitor.StartMonitor(CountingCallback, reinterpret_cast<ULONG_PTR>(&counter)));
  EXPECT_EQ(0u, monitor.lastError);
  EXPECT_FALSE(monitor.StartMonitor(CountingCallback, 0));  // one thread at a time
  ASSERT_TRUE(monitor.WaitPending(5000));

  monitor.FireChange();
  testwait::Until([&] { return counter.calls >= 1; }, 5000, 5);
  EXPECT_EQ(1, counter.calls.load());
  // It asked again after the callback and goes on waiting.
  testwait::Until([&] { return monitor.requests >= 2; }, 5000, 5);
  EXPECT_EQ(2, monitor.requests.load());

  EXPECT_EQ(0, monitor.Stop(testwait::Ms(2000)));  // stopped by its own event, not by termination
  EXPECT_EQ(1, monitor.cancels.load());
  EXPECT_EQ(1, counter.calls.load());  // no callback on the way out
  EXPECT_EQ(0, monitor.Stop(testwait::Ms(2000)));    // nothing left to stop
}

TEST(IPMonitor, CallbackResultEndsTheThread) {
  ScriptedMonitor monitor;
  Counter counter;
  counter.answer = 1;
  ASSERT_TRUE(monitor.StartMonitor(CountingCallback, reinterpret_cast<ULONG_PTR>(&counter)));
  ASSERT_TRUE(monitor.WaitPending(5000));
  monitor.FireChange();
  testwait::Until([&] { return counter.calls >= 1; }, 5000, 5);
  Sleep(50);
  EXPECT_EQ(1, monitor.requests.load());
  EXPECT_EQ(1, monitor.Stop(testwait::Ms(2000)));
}

TEST(IPMonitor, FailedRequestEndsTheThreadWithItsError) {
  ScriptedMonitor monitor;
  monitor.requestResult = ERROR_NOT_SUPPORTED;
  Counter counter;
  ASSERT_TRUE(monitor.StartMonitor(CountingCallback, reinterpret_cast<ULONG_PTR>(&counter)));
  Sleep(testwait::Ms(100));  // the request has failed
  EXPECT_EQ(static_cast<int>(ERROR_NOT_SUPPORTED), monitor.Stop(testwait::Ms(2000)));
  EXPECT_EQ(0, counter.calls.load());
}

TEST(IPMonitor, StuckCallbackIsTerminatedAfterTheTimeout) {
  ScriptedMonitor monitor;
  Counter counter;
  counter.blockMs = 5000;
  ASSERT_TRUE(monitor.StartMonitor(CountingCallback, reinterpret_cast<ULONG_PTR>(&counter)));
  ASSERT_TRUE(monitor.WaitPending(5000));
  monitor.FireChange();
  Sleep(testwait::Ms(100));  // the callback has been entered
  EXPECT_EQ(-1, monitor.Stop(100));
  // The monitor can be started again afterwards.
  counter.blockMs = 0;
  EXPECT_TRUE(monitor.StartMonitor(CountingCallback, reinterpret_cast<ULONG_PTR>(&counter)));
  EXPECT_EQ(0, monitor.Stop(testwait::Ms(2000)));
}

TEST(IPMonitor, RealNotificationStartsAndStops) {
  // The system's own change request: it is pending (the change itself is not
  // provoked here), and Stop ends the thread within its bound.
  CIPMonitor monitor;
  Counter counter;
  ASSERT_TRUE(monitor.StartMonitor(CountingCallback, reinterpret_cast<ULONG_PTR>(&counter)));
  Sleep(testwait::Ms(200));  // the request is pending
  EXPECT_EQ(0, monitor.Stop(testwait::Ms(2000)));
  EXPECT_EQ(0, counter.calls.load());
}

WmiAdapterFacts Adapter(bool ethernet, const wchar_t* pnp, const wchar_t* mac) {
  WmiAdapterFacts a;
  a.typeIsEthernet = ethernet;
  a.pnpDeviceId = pnp;
  a.mac = mac;
  return a;
}

TEST(WmiInfo, MacTextOfTheProperty) {
  EXPECT_EQ(L"001A2B3C4D5E", AdapterMacText(true, L"00:1A:2B:3C:4D:5E"));
  EXPECT_EQ(L"001a2b3c4d5e", AdapterMacText(true, L"00:1a:2b:3c:4d:5e"));  // case kept
  EXPECT_EQ(L"", AdapterMacText(true, L"00:00:00:00:00:00"));
  EXPECT_EQ(L"", AdapterMacText(false, L"00:1A:2B:3C:4D:5E"));
}

TEST(WmiInfo, AdapterSelection) {
  std::wstring mac = L"untouched";
  // Only a virtual adapter enumerated by the system itself: nothing at all.
  EXPECT_EQ(-1, SelectSerialNumberMac({Adapter(true, L"ROOT\\NET\\0000", L"AABBCCDDEEFF")}, &mac));
  EXPECT_EQ(L"untouched", mac);

  // A software adapter before a USB one: the USB adapter's MAC wins.
  EXPECT_EQ(1, SelectSerialNumberMac({Adapter(true, L"SWD\\MSRRAS\\1", L"111111111111"),
                                      Adapter(true, L"USB\\VID_0B95", L"222222222222")},
                                     &mac));
  EXPECT_EQ(L"222222222222", mac);

  // Physical adapter without a MAC is passed over; non-Ethernet ignored;
  // the first software adapter with a MAC is the fallback.
  EXPECT_EQ(0, SelectSerialNumberMac({Adapter(true, L"PCI\\VEN_8086", L""),
                                      Adapter(false, L"PCI\\VEN_8086", L"333333333333"),
                                      Adapter(true, L"SWD\\A", L""),
                                      Adapter(true, L"SWD\\B", L"444444444444"),
                                      Adapter(true, L"SWD\\C", L"555555555555")},
                                     &mac));
  EXPECT_EQ(L"444444444444", mac);

  EXPECT_EQ(1, SelectSerialNumberMac({Adapter(true, L"VMBUS\\{1}", L"666666666666")}, &mac));
  EXPECT_EQ(L"666666666666", mac);
}

TEST(WmiInfo, QueryOnThisMachine) {
  WmiInfo wmi;
  if (!wmi.Init()) GTEST_SKIP() << "no WMI service";
  char buffer[64];
  memset(buffer, 'x', sizeof(buffer));
  int length = -1;
  const bool physical = wmi.GetNetworkSerialNum(buffer, sizeof(buffer), &length);
  if (physical) {
    EXPECT_EQ(12, length);
    EXPECT_EQ(12u, strlen(buffer));
  }
  EXPECT_FALSE(wmi.GetNetworkSerialNum(buffer, 12, &length));  // buffer too small for 12 + NUL
}

}  // namespace
