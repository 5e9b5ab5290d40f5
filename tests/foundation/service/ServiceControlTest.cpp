// Service control against a real service of our own (tools/test-service),
// installed in the build's Wine prefix for each test and deleted after it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/service/ServiceControl.h"
#include "support/WaitFactor.h"

namespace {

class InstalledService {
 public:
  explicit InstalledService(const char* mode) {
    static LONG counter = 0;
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe);
    path = path.substr(0, path.rfind(L'\\') + 1) + L"tess-test-service.exe";
    name_ = L"TessTestSvc_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(InterlockedIncrement(&counter));
    std::wstring command = L"\"" + path + L"\" ";
    for (const char* p = mode; *p; ++p) command += static_cast<wchar_t>(*p);
    manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager_) {
      service_ = CreateServiceW(manager_, name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                nullptr, nullptr);
    }
  }
  ~InstalledService() {
    if (service_) {
      SERVICE_STATUS s;
      ControlService(service_, SERVICE_CONTROL_STOP, &s);
      DeleteService(service_);
      CloseServiceHandle(service_);
    }
    if (manager_) CloseServiceHandle(manager_);
  }
  bool ok() const { return service_ != nullptr; }
  const std::wstring& name() const { return name_; }
  bool Control(DWORD control) {
    SERVICE_STATUS s{};
    return ControlService(service_, control, &s) != FALSE;
  }
  DWORD State() const {
    SERVICE_STATUS s{};
    QueryServiceStatus(service_, &s);
    return s.dwCurrentState;
  }

 private:
  std::wstring name_;
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

DWORD Timed(const std::function<void()>& f) {
  const DWORD t0 = GetTickCount();
  f();
  return GetTickCount() - t0;
}

TEST(ServiceControl, StartTestAndStopAnOrdinaryService) {
  InstalledService svc("normal");
  ASSERT_TRUE(svc.ok());
  EXPECT_EQ(IsServiceRunning(svc.name()), 4);
  EXPECT_EQ(StopServiceAndWait(svc.name()), 0);  // already stopped
  EXPECT_EQ(StartServiceAndWait(svc.name()), 0);
  EXPECT_EQ(IsServiceRunning(svc.name()), 0);
  // A running service is left alone: no start request, no wait.
  EXPECT_LT(Timed([&] { EXPECT_EQ(StartServiceAndWait(svc.name()), 0); }), testwait::Ms(500));
  EXPECT_EQ(StopServiceAndWait(svc.name()), 0);
  EXPECT_EQ(svc.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(IsServiceRunning(svc.name()), 4);
}

TEST(ServiceControl, UnknownNameIsNotOpened) {
  const std::wstring none = L"TessNoSuchService_" + std::to_wstring(GetCurrentProcessId());
  EXPECT_EQ(StartServiceAndWait(none), 2);
  EXPECT_EQ(StopServiceAndWait(none), 2);
  EXPECT_EQ(IsServiceRunning(none), 2);
}

TEST(ServiceControl, StartFollowsProgressAndGivesUpOnAStuckStart) {
  InstalledService slow("slow-start");
  ASSERT_TRUE(slow.ok());
  const DWORD slowMs = Timed([&] { EXPECT_EQ(StartServiceAndWait(slow.name()), 0); });
  EXPECT_GE(slowMs, 2000u);
  EXPECT_EQ(IsServiceRunning(slow.name()), 0);

  InstalledService stuck("stuck-start");
  ASSERT_TRUE(stuck.ok());
  const DWORD stuckMs = Timed([&] { EXPECT_EQ(StartServiceAndWait(stuck.name()), 6); });
  // Given up once the 2000 ms hint passed without progress.
  EXPECT_GE(stuckMs, 2000u);
  EXPECT_LT(stuckMs, 2000 + testwait::Ms(6000));
}

// Services whose reports would hold a start for as long as they like: the
// whole start ends within its own limit. The cases run side by side, each
// on a thread of its own; a call still running past the bound is reported
// and left behind (the services end themselves after 75 s).
TEST(ServiceControl, AStartEndsWithinItsLimitWhateverTheServiceReports) {
  const struct {
    const char* mode;
    bool stopFirst;  // leave the service stopping when the start is asked
    int result;
  } cases[] = {
      {"endless-start", false, 6},    // start pending, check point growing
      {"huge-start-hint", false, 6},  // start pending, a hint of 24 days
      {"endless-stop", true, 4},      // stop pending, check point growing
  };
  const DWORD bound = kServiceStartLimitMs + 15000;
  struct Run {
    std::atomic<bool> done{false};
    int result = -1;
    DWORD ms = 0;
  };
  std::vector<std::unique_ptr<InstalledService>> services;
  std::vector<std::shared_ptr<Run>> runs;
  for (const auto& c : cases) {
    services.push_back(std::make_unique<InstalledService>(c.mode));
    InstalledService& svc = *services.back();
    ASSERT_TRUE(svc.ok()) << c.mode;
    if (c.stopFirst) {
      ASSERT_EQ(StartServiceAndWait(svc.name()), 0) << c.mode;
      ASSERT_TRUE(svc.Control(SERVICE_CONTROL_STOP)) << c.mode;
    }
    auto run = std::make_shared<Run>();
    runs.push_back(run);
    std::thread([run, name = svc.name()] {
      const DWORD t0 = GetTickCount();
      run->result = StartServiceAndWait(name);
      run->ms = GetTickCount() - t0;
      run->done = true;
    }).detach();
  }
  const DWORD t0 = GetTickCount();
  for (size_t i = 0; i < runs.size(); ++i) {
    while (!runs[i]->done && GetTickCount() - t0 < bound) Sleep(100);
    if (!runs[i]->done) {
      ADD_FAILURE() << cases[i].mode << ": still waiting after " << bound << " ms";
      continue;
    }
    EXPECT_EQ(runs[i]->result, cases[i].result) << cases[i].mode;
    // The limit is spent, not cut short: the service had no say in it.
    EXPECT_GE(runs[i]->ms, kServiceStartLimitMs - 500) << cases[i].mode;
  }
}

// A pending stop that ends before the next query is not a time-out, even
// when its hint (0 here) has long passed: the service is started.
TEST(ServiceControl, AStopThatEndsWhileTheStartWaitsIsFollowedByTheStart) {
  InstalledService svc("quick-stop");
  ASSERT_TRUE(svc.ok());
  ASSERT_EQ(StartServiceAndWait(svc.name()), 0);
  ASSERT_TRUE(svc.Control(SERVICE_CONTROL_STOP));
  EXPECT_EQ(StartServiceAndWait(svc.name()), 0);
  EXPECT_EQ(IsServiceRunning(svc.name()), 0);
}

TEST(ServiceControl, AHugeStopHintCostsOneClampedWait) {
  InstalledService svc("huge-hint");
  ASSERT_TRUE(svc.ok());
  ASSERT_EQ(StartServiceAndWait(svc.name()), 0);
  const DWORD ms = Timed([&] { EXPECT_EQ(StopServiceAndWait(svc.name()), 0); });
  EXPECT_GE(ms, kServiceProgressMaxMs - 500);
  EXPECT_LT(ms, kServiceProgressMaxMs + testwait::Ms(5000));
}

// The dependents' enumeration (a stub here) through the seam: the stuck
// service below is the ordinary one's only dependent.
std::wstring g_dependent;

BOOL WINAPI FakeDependents(SC_HANDLE, DWORD, LPENUM_SERVICE_STATUSW list, DWORD size,
                           LPDWORD needed, LPDWORD count) {
  const DWORD want =
      static_cast<DWORD>(sizeof(ENUM_SERVICE_STATUSW) + (g_dependent.size() + 1) * sizeof(wchar_t));
  *needed = want;
  *count = 0;
  if (size < want) {
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  auto* name = reinterpret_cast<wchar_t*>(list + 1);
  wcscpy(name, g_dependent.c_str());
  list[0] = ENUM_SERVICE_STATUSW{};
  list[0].lpServiceName = name;
  list[0].lpDisplayName = name;
  *count = 1;
  return TRUE;
}

TEST(ServiceControl, AStuckStopTimesOutAndAStuckDependentDoesNotKeepItsServiceRunning) {
  InstalledService main("normal");
  InstalledService dependent("stuck-stop");
  ASSERT_TRUE(main.ok() && dependent.ok());
  ASSERT_EQ(StartServiceAndWait(main.name()), 0);
  ASSERT_EQ(StartServiceAndWait(dependent.name()), 0);
  g_dependent = dependent.name();
  SetEnumDependentServicesForTest(&FakeDependents);
  int mainResult = -1;
  DWORD mainMs = 0;
  std::thread stopMain([&] { mainMs = Timed([&] { mainResult = StopServiceAndWait(main.name()); }); });
  // Meanwhile the dependent's own stop: pending without progress.
  Sleep(2000);
  int dependentResult = -1;
  const DWORD dependentMs =
      Timed([&] { dependentResult = StopServiceAndWait(dependent.name()); });
  stopMain.join();
  SetEnumDependentServicesForTest(nullptr);
  EXPECT_EQ(dependentResult, 4);
  EXPECT_GE(dependentMs, kServiceStopLimitMs);
  EXPECT_LT(dependentMs, kServiceStopLimitMs + kServiceProgressMaxMs + testwait::Ms(2000));
  // The dependent gave up after its 30000 ms; the service itself then got
  // its stop control and stopped.
  EXPECT_EQ(mainResult, 0);
  EXPECT_EQ(main.State(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_GE(mainMs, kServiceStopLimitMs);
}

TEST(ServiceControl, WaitsAreClamped) {
  const struct {
    DWORD hint, progress;
  } cases[] = {{0, 1000}, {5000, 1000}, {20000, 2000}, {0x7FFFFFF0, 10000}, {200000, 10000}};
  for (const auto& c : cases) EXPECT_EQ(ServiceProgressWaitMs(c.hint), c.progress) << c.hint;
  EXPECT_EQ(ServiceStopSleepMs(0x7FFFFFF0, 0), 10000u);
  EXPECT_EQ(ServiceStopSleepMs(0x7FFFFFF0, 25000), 5000u);
  EXPECT_EQ(ServiceStopSleepMs(0x7FFFFFF0, 31000), 100u);
  EXPECT_EQ(ServiceSleepWithinMs(20000, 0, 1000), 1000u);
  EXPECT_EQ(ServiceSleepWithinMs(20000, 29500, kServiceStartLimitMs), 500u);
}

}  // namespace
