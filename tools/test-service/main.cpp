// tess-test-service MODE: a tiny Windows service for the service-control
// tests, installed and deleted by them. MODE (from the service's command
// line) decides how it reports its progress:
//   normal      starts and stops at once
//   slow-start  start pending for about 3 s with a growing check point
//   stuck-start start pending with a 2000 ms hint and no progress (ends
//               itself after 40 s)
//   stuck-stop  a stop stays pending with a 1000 ms hint and no progress
//               (stops itself after 45 s)
//   huge-hint   a stop reports a wait hint of about 24 days, then stops
//               after 3 s
//   endless-start   start pending with a check point that grows every
//                   500 ms (ends itself after 75 s)
//   huge-start-hint start pending with a hint of about 24 days and no
//                   progress (ends itself after 75 s)
//   endless-stop    a stop stays pending with a check point that grows
//                   every 500 ms (stops itself after 75 s)
//   quick-stop      a stop is reported pending (hint 0) by the control
//                   handler itself and ends 300 ms later
#include <windows.h>

#include <cstring>

namespace {

char g_mode[32] = "normal";
SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stop = nullptr;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  g_status.dwWin32ExitCode = NO_ERROR;
  g_status.dwCheckPoint = checkPoint;
  g_status.dwWaitHint = waitHint;
  SetServiceStatus(g_handle, &g_status);
}

bool Is(const char* mode) { return strcmp(g_mode, mode) == 0; }

// How long the endless modes keep reporting progress before they end
// themselves (so nothing outlives a test run for long).
constexpr DWORD kEndlessMs = 75000;

// Pending for kEndlessMs, the check point growing every 500 ms.
void EndlessProgress(DWORD state) {
  for (DWORD cp = 1; cp <= kEndlessMs / 500; ++cp) {
    Report(state, cp, 2000);
    Sleep(500);
  }
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    // Reported before the control returns, so the stopper's first query
    // already sees the pending stop.
    if (Is("quick-stop")) Report(SERVICE_STOP_PENDING, 1, 0);
    SetEvent(g_stop);
    return NO_ERROR;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_handle = RegisterServiceCtrlHandlerExW(L"", &Handler, nullptr);
  if (!g_handle) return;
  g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (Is("slow-start")) {
    for (DWORD cp = 1; cp <= 6; ++cp) {
      Report(SERVICE_START_PENDING, cp, 2000);
      Sleep(500);
    }
  } else if (Is("stuck-start")) {
    Report(SERVICE_START_PENDING, 1, 2000);
    Sleep(40000);
    Report(SERVICE_STOPPED, 0, 0);
    return;
  } else if (Is("endless-start")) {
    EndlessProgress(SERVICE_START_PENDING);
    Report(SERVICE_STOPPED, 0, 0);
    return;
  } else if (Is("huge-start-hint")) {
    Report(SERVICE_START_PENDING, 1, 0x7FFFFFF0);
    Sleep(kEndlessMs);
    Report(SERVICE_STOPPED, 0, 0);
    return;
  }
  Report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(g_stop, INFINITE);
  if (Is("stuck-stop")) {
    Report(SERVICE_STOP_PENDING, 1, 1000);
    Sleep(45000);
  } else if (Is("huge-hint")) {
    Report(SERVICE_STOP_PENDING, 1, 0x7FFFFFF0);
    Sleep(3000);
  } else if (Is("endless-stop")) {
    EndlessProgress(SERVICE_STOP_PENDING);
  } else if (Is("quick-stop")) {
    Sleep(300);
  }
  Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    strncpy(g_mode, argv[1], sizeof(g_mode) - 1);
  }
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L""), &ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
