// Starting, stopping and testing Windows services by name, with waits that
// follow the service's own progress reports (check point and wait hint)
// and are bounded whatever the service reports.
//
// Results (int):
//   0 runs / stopped      1 service control manager not opened
//   2 service not opened  3 status query failed
//   4 start: a pending stop made no progress, or did not end within
//     30000 ms of the call; stop: not stopped within 30000 ms of the call;
//     IsServiceRunning: does not run
//   5 start or stop request failed   6 start: not running after the start
//     wait, which ends 30000 ms after the call at the latest
#pragma once

#include <windows.h>

#include <string>

constexpr DWORD kServiceStopLimitMs = 30000;
// The whole of StartServiceAndWait: a service may keep its check point
// growing or report a hint of days, and the caller (the restart switch, an
// elevated helper the error page waits for) must still get its answer.
constexpr DWORD kServiceStartLimitMs = 30000;
constexpr DWORD kServiceProgressMinMs = 1000;
constexpr DWORD kServiceProgressMaxMs = 10000;

int StartServiceAndWait(const std::wstring& name);
int StopServiceAndWait(const std::wstring& name);
bool StopDependentServices(SC_HANDLE manager, SC_HANDLE service);
int IsServiceRunning(const std::wstring& name);

// The wait between two status queries for a wait hint: a tenth of it,
// within 1000..10000 ms.
DWORD ServiceProgressWaitMs(DWORD waitHintMs);
// The sleep before the next query of a stop: the progress wait of the
// service's hint, cut to what is left of the 30000 ms.
DWORD ServiceStopSleepMs(DWORD waitHintMs, DWORD elapsedMs);
// The same within any limit (at least 100 ms, so a loop at the limit does
// not spin).
DWORD ServiceSleepWithinMs(DWORD waitHintMs, DWORD elapsedMs, DWORD limitMs);

// Seam for tests: the enumeration of active dependents (the platform's
// EnumDependentServicesW when null).
using EnumDependentsFn = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPENUM_SERVICE_STATUSW, DWORD, LPDWORD,
                                       LPDWORD);
void SetEnumDependentServicesForTest(EnumDependentsFn fn);
