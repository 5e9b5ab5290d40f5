#include "foundation/service/ServiceControl.h"

#include <atomic>
#include <vector>

namespace {

std::atomic<EnumDependentsFn> g_enumDependents{nullptr};

// Closes a service handle on every path.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE h = nullptr) : h_(h) {}
  ~ScHandle() {
    if (h_) CloseServiceHandle(h_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                              sizeof(status), &needed) != FALSE;
}

DWORD Since(DWORD tick) { return GetTickCount() - tick; }

}  // namespace

DWORD ServiceProgressWaitMs(DWORD waitHintMs) {
  DWORD wait = waitHintMs / 10;
  if (wait < kServiceProgressMinMs) wait = kServiceProgressMinMs;
  if (wait > kServiceProgressMaxMs) wait = kServiceProgressMaxMs;
  return wait;
}

DWORD ServiceSleepWithinMs(DWORD waitHintMs, DWORD elapsedMs, DWORD limitMs) {
  DWORD wait = ServiceProgressWaitMs(waitHintMs);
  const DWORD left = elapsedMs < limitMs ? limitMs - elapsedMs : 0;
  // A short pause at least, so a loop at the limit does not spin.
  if (wait > left) wait = left > 100 ? left : 100;
  return wait;
}

DWORD ServiceStopSleepMs(DWORD waitHintMs, DWORD elapsedMs) {
  return ServiceSleepWithinMs(waitHintMs, elapsedMs, kServiceStopLimitMs);
}

void SetEnumDependentServicesForTest(EnumDependentsFn fn) { g_enumDependents.store(fn); }

int StartServiceAndWait(const std::wstring& name) {
  const DWORD start = GetTickCount();
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return 1;
  ScHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return 2;
  SERVICE_STATUS_PROCESS st{};
  if (!Query(service.get(), st)) return 3;
  if (st.dwCurrentState != SERVICE_STOPPED && st.dwCurrentState != SERVICE_STOP_PENDING) return 0;

  DWORD noted = GetTickCount();
  DWORD checkPoint = st.dwCheckPoint;
  while (st.dwCurrentState == SERVICE_STOP_PENDING) {
    Sleep(ServiceSleepWithinMs(st.dwWaitHint, Since(start), kServiceStartLimitMs));
    if (!Query(service.get(), st)) return 3;
    if (st.dwCurrentState != SERVICE_STOP_PENDING) break;
    // Progress renews the service's own time-out, never the whole call's.
    if (Since(start) > kServiceStartLimitMs) return 4;
    if (st.dwCheckPoint > checkPoint) {
      noted = GetTickCount();
      checkPoint = st.dwCheckPoint;
    } else if (Since(noted) > st.dwWaitHint) {
      return 4;
    }
  }

  if (!StartServiceW(service.get(), 0, nullptr)) return 5;
  if (!Query(service.get(), st)) return 3;
  noted = GetTickCount();
  checkPoint = st.dwCheckPoint;
  while (st.dwCurrentState == SERVICE_START_PENDING) {
    Sleep(ServiceSleepWithinMs(st.dwWaitHint, Since(start), kServiceStartLimitMs));
    if (!Query(service.get(), st)) break;
    if (Since(start) > kServiceStartLimitMs) break;
    if (st.dwCheckPoint > checkPoint) {
      noted = GetTickCount();
      checkPoint = st.dwCheckPoint;
    } else if (Since(noted) > st.dwWaitHint) {
      break;
    }
  }
  return st.dwCurrentState == SERVICE_RUNNING ? 0 : 6;
}

bool StopDependentServices(SC_HANDLE manager, SC_HANDLE service) {
  const DWORD start = GetTickCount();
  EnumDependentsFn enumerate = g_enumDependents.load();
  if (!enumerate) enumerate = &EnumDependentServicesW;
  DWORD needed = 0, count = 0;
  if (enumerate(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count)) return true;
  if (GetLastError() != ERROR_MORE_DATA) return false;
  std::vector<BYTE> buffer(needed, 0);
  auto* list = reinterpret_cast<LPENUM_SERVICE_STATUSW>(buffer.data());
  if (!enumerate(service, SERVICE_ACTIVE, list, needed, &needed, &count)) return false;
  for (DWORD i = 0; i < count; ++i) {
    ScHandle dependent(
        OpenServiceW(manager, list[i].lpServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!dependent) return false;
    SERVICE_STATUS_PROCESS st{};
    SERVICE_STATUS plain{};
    if (!ControlService(dependent.get(), SERVICE_CONTROL_STOP, &plain)) return false;
    if (!Query(dependent.get(), st)) return false;
    while (st.dwCurrentState != SERVICE_STOPPED) {
      if (Since(start) > kServiceStopLimitMs) return false;
      Sleep(ServiceStopSleepMs(st.dwWaitHint, Since(start)));
      if (!Query(dependent.get(), st)) return false;
    }
  }
  return true;
}

int StopServiceAndWait(const std::wstring& name) {
  const DWORD start = GetTickCount();
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return 1;
  ScHandle service(OpenServiceW(manager.get(), name.c_str(),
                                SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS));
  if (!service) return 2;
  SERVICE_STATUS_PROCESS st{};
  if (!Query(service.get(), st)) return 3;
  if (st.dwCurrentState == SERVICE_STOPPED) return 0;
  while (st.dwCurrentState == SERVICE_STOP_PENDING) {
    Sleep(ServiceProgressWaitMs(st.dwWaitHint));
    if (!Query(service.get(), st)) return 3;
    if (st.dwCurrentState == SERVICE_STOPPED) return 0;
    if (Since(start) > kServiceStopLimitMs) return 4;
  }
  StopDependentServices(manager.get(), service.get());
  SERVICE_STATUS plain{};
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &plain)) return 5;
  if (!Query(service.get(), st)) return 3;
  while (st.dwCurrentState != SERVICE_STOPPED) {
    // The hint is the service's own number: a huge one must not hold the
    // caller past the 30000 ms of this call.
    Sleep(ServiceStopSleepMs(st.dwWaitHint, Since(start)));
    if (!Query(service.get(), st)) return 3;
    if (st.dwCurrentState == SERVICE_STOPPED) return 0;
    if (Since(start) > kServiceStopLimitMs) return 4;
  }
  return 0;
}

int IsServiceRunning(const std::wstring& name) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 1;
  ScHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  if (!service) return 2;
  SERVICE_STATUS_PROCESS st{};
  if (!Query(service.get(), st)) return 3;
  return st.dwCurrentState == SERVICE_RUNNING ? 0 : 4;
}
