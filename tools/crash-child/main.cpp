// Test program of the crash handler: installs it with the logger, writes
// what the test must know about the fault (thread ids, source line) into a
// facts file, then faults as asked.
//
//   crash-child --fault null|two-threads|two-slow|deep|overflow|overflow-thread|none
//               [--log PATH] [--folder DIR] [--prefix TEXT] [--facts PATH]
//
// --folder "" leaves the dump folder empty (dumps go beside the program).
// two-slow faults on two threads as two-threads does, with a staged report
// that takes kSlowReportSteps steps of kSlowReportStepMs each (longer than
// the no-progress bound it sets) and writes "reported thread=ID" at its end.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/crash/CrashHandler.h"
#include "foundation/log/Logger.h"

namespace {

std::wstring g_factsPath;
volatile int* volatile g_nowhere = nullptr;
volatile int g_keepRecursing = 1;
HANDLE g_go = nullptr;

void AppendFact(const char* text) {
  if (g_factsPath.empty()) return;
  HANDLE f = CreateFileW(g_factsPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
  FlushFileBuffers(f);
  CloseHandle(f);
}

void AppendFactf(const char* format, unsigned long a, int b) {
  char text[256];
  _snprintf(text, sizeof(text) - 1, format, a, b);
  text[sizeof(text) - 1] = 0;
  AppendFact(text);
}

constexpr int kSlowReportSteps = 24;
constexpr DWORD kSlowReportStepMs = 250;
constexpr DWORD kSlowReportWaitMs = 3000;

void SlowReport(EXCEPTION_POINTERS*, DWORD threadId) {
  for (int i = 0; i < kSlowReportSteps; ++i) {
    Sleep(kSlowReportStepMs);
    NoteCrashReportProgress();
  }
  char text[64];
  _snprintf(text, sizeof(text) - 1, "reported thread=%lu\n", threadId);
  text[sizeof(text) - 1] = 0;
  AppendFact(text);
}

}  // namespace

__attribute__((noinline)) void CrashChildNullWrite(bool tell = true) {
  if (tell) AppendFactf("fault thread=%lu line=%d\n", GetCurrentThreadId(), __LINE__ + 1);
  *g_nowhere = 1;
}

__attribute__((noinline)) int CrashChildRecurse(int depth) {
  if (depth <= 0) {
    CrashChildNullWrite();
    return 0;
  }
  volatile int keep = depth;
  return CrashChildRecurse(depth - 1) + keep;
}

__attribute__((noinline)) int CrashChildUse(volatile char* pad) { return pad[0]; }

// The frame stays in use after the call, so the compiler can turn the
// recursion into no loop.
__attribute__((noinline)) int CrashChildOverflow(int depth) {
  volatile char pad[256];
  pad[0] = static_cast<char>(depth);
  if (!g_keepRecursing) return pad[0];
  int inner = CrashChildOverflow(depth + 1);
  return inner + CrashChildUse(pad);
}

DWORD WINAPI CrashChildOverflowThread(void*) {
  ReserveStackForCrashReport();
  AppendFactf("fault thread=%lu line=%d\n", GetCurrentThreadId(), 0);
  return static_cast<DWORD>(CrashChildOverflow(0));
}

// The facts were written before the start: writing them here (a flush
// that may stall on a busy disk) would part the two faults by seconds.
DWORD WINAPI CrashChildFaultingThread(void*) {
  WaitForSingleObject(g_go, 10000);
  CrashChildNullWrite(false);
  return 0;
}

int wmainBody(int argc, wchar_t** argv) {
  std::wstring fault = L"none", log, folder, prefix = L"Nb5TX_v1.0.1.10";
  bool folderGiven = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring key = argv[i], value = argv[i + 1];
    if (key == L"--fault") fault = value;
    else if (key == L"--log") log = value;
    else if (key == L"--folder") folder = value, folderGiven = true;
    else if (key == L"--prefix") prefix = value;
    else if (key == L"--facts") g_factsPath = value;
  }
  if (!folderGiven) folder = L"";
  SetCrashDumpLocation(folder.c_str(), prefix.c_str());
  if (!InstallCrashHandler()) return 3;
  if (!log.empty()) ZtLogger::Instance().Init(const_cast<wchar_t*>(log.c_str()));
  AppendFactf("pid=%lu started=%d\n", GetCurrentProcessId(), 1);

  if (fault == L"null") {
    CrashChildNullWrite();
  } else if (fault == L"deep") {
    CrashChildRecurse(100);
  } else if (fault == L"overflow") {
    AppendFactf("fault thread=%lu line=%d\n", GetCurrentThreadId(), 0);
    return CrashChildOverflow(0);
  } else if (fault == L"overflow-thread") {
    // Returning would end the process in the middle of the report.
    HANDLE t = CreateThread(nullptr, 0, CrashChildOverflowThread, nullptr, 0, nullptr);
    WaitForSingleObject(t, 2 * kCrashReportMaxMs);
  } else if (fault == L"two-threads" || fault == L"two-slow") {
    if (fault == L"two-slow") SetCrashReportForTest(SlowReport, kSlowReportWaitMs);
    g_go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2];
    for (HANDLE& t : threads) {
      DWORD id = 0;
      t = CreateThread(nullptr, 0, CrashChildFaultingThread, nullptr, 0, &id);
      AppendFactf("fault thread=%lu line=%d\n", id, 0);
    }
    Sleep(100);
    SetEvent(g_go);
    // The crash handler ends the process once both faults are reported; a
    // shorter wait would end it here, in the middle of a report.
    WaitForMultipleObjects(2, threads, TRUE, 2 * kCrashReportMaxMs);
  }
  return 0;
}

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int rc = wmainBody(argc, argv);
  LocalFree(argv);
  return rc;
}
