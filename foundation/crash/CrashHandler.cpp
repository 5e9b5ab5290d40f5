#include "foundation/crash/CrashHandler.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "foundation/log/Logger.h"

wchar_t g_DumpFolder[MAX_PATH] = L"";
wchar_t g_DumpPrefix[MAX_PATH] = L"Nb5TX_v1.0.1.10";

namespace {

// MiniDumpScanMemory | MiniDumpWithIndirectlyReferencedMemory
constexpr MINIDUMP_TYPE kDumpType = static_cast<MINIDUMP_TYPE>(0x50);
// Stack kept back for raising the exception and running the filter when a
// thread overflows its stack.
constexpr ULONG kStackOverflowRoomBytes = 64 * 1024;

// One report at a time: the slot is taken by the faulting thread with an
// interlocked exchange (no lock object that a dying thread could leave held
// in an unknown state), the request handed to the report thread, the answer
// awaited while the report gets on.
volatile LONG g_slotTaken = 0;
EXCEPTION_POINTERS* g_requestException = nullptr;
DWORD g_requestThreadId = 0;
HANDLE g_requestEvent = nullptr;  // auto-reset: a request is waiting
HANDLE g_doneEvent = nullptr;     // auto-reset: the report is written
HANDLE g_reportThread = nullptr;
DWORD g_reportThreadId = 0;
CrashReportWriter g_writer = nullptr;  // null: WriteCrashReport
DWORD g_waitMs = kCrashReportWaitMs;

// Steps of the reports so far; see ReportWatch.
volatile LONG g_reportBeat = 0;

// Faulting threads whose report is not written yet, and whether a filter has
// let the process end. Together they keep the process alive until every
// concurrent fault is reported, and keep late faults from starting reports
// that the ending would cut off.
volatile LONG g_reportsPending = 0;
volatile LONG g_processEnding = 0;

// The last dump this process wrote: two faults in one second would get one
// name, and the second must not replace the first fault's dump.
wchar_t g_lastDumpPath[MAX_PATH] = L"";

// The walk's result lives here rather than on a stack (64 frames of 4 KiB);
// only one report or walk runs at a time.
CallStackFrame g_frames[kMaxCallStackFrames];

CrashReportWriter Writer() {
  return g_writer ? g_writer : static_cast<CrashReportWriter>(WriteCrashReport);
}

DWORD WINAPI ReportThread(void*) {
  for (;;) {
    if (WaitForSingleObject(g_requestEvent, INFINITE) != WAIT_OBJECT_0) return 0;
    NoteCrashReportProgress();
    Writer()(g_requestException, g_requestThreadId);
    NoteCrashReportProgress();
    SetEvent(g_doneEvent);
  }
}

void CopyText(char* out, const char* text) {
  FormatText1024(out, "%s", text ? text : "N/A");
}

// Creates folder and its missing parents; true when it exists afterwards.
bool CreateFolderTree(const wchar_t* folder) {
  wchar_t partial[MAX_PATH];
  size_t length = wcslen(folder);
  if (length == 0 || length >= MAX_PATH) return false;
  for (size_t i = 1; i <= length; ++i) {
    if (i == length || folder[i] == L'\\' || folder[i] == L'/') {
      wmemcpy(partial, folder, i);
      partial[i] = 0;
      // "C:" and "\\server\share" parts are not folders of their own.
      if (i >= 2 && partial[i - 1] != L':' && partial[i - 1] != L'\\') {
        CreateDirectoryW(partial, nullptr);
      }
    }
  }
  DWORD attributes = GetFileAttributesW(folder);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The dump folder, or the executable's folder when none is set.
bool DumpFolder(wchar_t* folder) {
  if (g_DumpFolder[0]) {
    wcsncpy(folder, g_DumpFolder, MAX_PATH - 1);
    folder[MAX_PATH - 1] = 0;
    return true;
  }
  DWORD n = GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  wchar_t* slash = wcsrchr(folder, L'\\');
  if (!slash) return false;
  *slash = 0;
  return true;
}

}  // namespace

void SetCrashDumpLocation(const wchar_t* folder, const wchar_t* prefix) {
  wcsncpy(g_DumpFolder, folder ? folder : L"", MAX_PATH - 1);
  g_DumpFolder[MAX_PATH - 1] = 0;
  wcsncpy(g_DumpPrefix, prefix ? prefix : L"", MAX_PATH - 1);
  g_DumpPrefix[MAX_PATH - 1] = 0;
}

void ReserveStackForCrashReport() {
  ULONG guarantee = kStackOverflowRoomBytes;
  SetThreadStackGuarantee(&guarantee);
  // Wine keeps its stack guard page one page above the stack's end whatever
  // the guarantee, so an overflow leaves a single page, in which raising the
  // exception itself overflows and the thread silently dies. A guard page
  // above the guaranteed room moves down page by page as the stack grows and
  // raises the overflow with that room left. (Windows grows stacks by guard
  // pages of its own and needs no help.)
  if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return;
  volatile char here = 0;
  MEMORY_BASIC_INFORMATION stack;
  if (!VirtualQuery(const_cast<char*>(&here), &stack, sizeof(stack)) || !stack.AllocationBase) return;
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const uintptr_t bottom = reinterpret_cast<uintptr_t>(stack.AllocationBase);
  const uintptr_t guard = bottom + 2 * system.dwPageSize + kStackOverflowRoomBytes;
  // A stack too small for the room (or already that deep) is left alone.
  if (guard + system.dwPageSize + 16 * 1024 >= reinterpret_cast<uintptr_t>(&here)) return;
  DWORD old = 0;
  VirtualProtect(reinterpret_cast<void*>(guard), system.dwPageSize, PAGE_READWRITE | PAGE_GUARD, &old);
}

void NoteCrashReportProgress() { InterlockedIncrement(&g_reportBeat); }

void SetCrashReportForTest(CrashReportWriter writer, DWORD waitMs) {
  g_writer = writer;
  g_waitMs = waitMs ? waitMs : kCrashReportWaitMs;
}

bool InstallCrashHandler() {
  ReserveStackForCrashReport();
  bool ready = g_reportThread != nullptr;
  if (!ready) {
    g_requestEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_doneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (g_requestEvent && g_doneEvent) {
      g_reportThread = CreateThread(nullptr, 0, ReportThread, nullptr, 0, &g_reportThreadId);
    }
    ready = g_reportThread != nullptr;
  }
  SetUnhandledExceptionFilter(CrashFilter);
  return ready;
}

namespace {

// Whether a waiting faulting thread should give up on the report thread: it
// has neither taken a step nor used CPU time for the no-progress bound
// (symbol loading is one long call, busy all along), or the wait as a whole
// has reached kCrashReportMaxMs (a report spinning on a lock).
class ReportWatch {
 public:
  explicit ReportWatch(DWORD start) : start_(start), since_(GetTickCount()) { Read(&beat_, &cpu_); }

  bool GiveUp() {
    LONG beat = 0;
    ULONGLONG cpu = 0;
    Read(&beat, &cpu);
    const DWORD now = GetTickCount();
    if (beat != beat_ || cpu != cpu_) {
      beat_ = beat;
      cpu_ = cpu;
      since_ = now;
    }
    return now - since_ >= g_waitMs || now - start_ >= kCrashReportMaxMs;
  }

 private:
  static void Read(LONG* beat, ULONGLONG* cpu) {
    *beat = InterlockedCompareExchange(&g_reportBeat, 0, 0);
    *cpu = 0;
    FILETIME created, ended, kernel, user;
    if (g_reportThread && GetThreadTimes(g_reportThread, &created, &ended, &kernel, &user)) {
      *cpu = ((static_cast<ULONGLONG>(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime) +
             ((static_cast<ULONGLONG>(user.dwHighDateTime) << 32) | user.dwLowDateTime);
    }
  }

  const DWORD start_;
  DWORD since_;
  LONG beat_ = 0;
  ULONGLONG cpu_ = 0;
};

// Hands the report to the report thread (or writes it here when there is
// none) once the slot is free. True when the report was written; false when
// the report before it or this one stopped getting on.
bool ReportInTurn(EXCEPTION_POINTERS* exception, ReportWatch& watch) {
  while (InterlockedCompareExchange(&g_slotTaken, 1, 0) != 0) {
    if (watch.GiveUp()) return false;
    Sleep(20);
  }
  if (!g_reportThread) {
    Writer()(exception, GetCurrentThreadId());
    InterlockedExchange(&g_slotTaken, 0);
    return true;
  }
  g_requestException = exception;
  g_requestThreadId = GetCurrentThreadId();
  SetEvent(g_requestEvent);
  while (WaitForSingleObject(g_doneEvent, 100) != WAIT_OBJECT_0) {
    if (watch.GiveUp()) {
      // The slot stays taken: the report thread is still busy (or stuck),
      // and another request would only queue behind it.
      return false;
    }
  }
  InterlockedExchange(&g_slotTaken, 0);
  return true;
}

}  // namespace

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception) {
  // A report that itself faults is not reported again (its slot is taken).
  if (g_reportThread && GetCurrentThreadId() == g_reportThreadId) return EXCEPTION_CONTINUE_SEARCH;
  const DWORD start = GetTickCount();
  InterlockedIncrement(&g_reportsPending);
  if (InterlockedCompareExchange(&g_processEnding, 0, 0) != 0) {
    // An earlier fault's filter has returned and the process is going
    // down: a report begun now would be cut off half written.
    InterlockedDecrement(&g_reportsPending);
    Sleep(kCrashReportWaitMs);
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ReportWatch watch(start);
  const bool written = ReportInTurn(exception, watch);
  InterlockedDecrement(&g_reportsPending);

  // Returning lets Windows end the process, so first wait for the reports
  // of threads that faulted meanwhile. Once the ending is announced no
  // report starts; one that started just before it is still waited for.
  ReportWatch others(GetTickCount());
  bool givenUp = false;
  for (;;) {
    while (written && InterlockedCompareExchange(&g_reportsPending, 0, 0) != 0 &&
           !(givenUp = others.GiveUp())) {
      Sleep(20);
    }
    InterlockedExchange(&g_processEnding, 1);
    if (!written || givenUp || InterlockedCompareExchange(&g_reportsPending, 0, 0) == 0) break;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void WriteCrashReport(EXCEPTION_POINTERS* exception, DWORD threadId) {
  int count = 0;
  if (exception && exception->ContextRecord) {
    HANDLE thread = nullptr;
    bool own = threadId == GetCurrentThreadId();
    if (own) {
      thread = GetCurrentThread();
    } else {
      thread = OpenThread(THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId);
    }
    if (thread) {
      count = GetCallStack(*exception->ContextRecord, thread, g_frames, kMaxCallStackFrames);
      if (!own) CloseHandle(thread);
    }
  }

  ZtLogger& log = ZtLogger::Instance();
  log.Error("===============Exception callstack info===============");
  for (int i = 0; i < count; ++i) {
    log.Error("[%d] %s | %s | %s | %s", i, g_frames[i].module, g_frames[i].symbol,
              g_frames[i].file, g_frames[i].line);
  }
  log.Error("===============End Exception callstack info===============");
  NoteCrashReportProgress();

  wchar_t folder[MAX_PATH];
  if (!DumpFolder(folder)) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t name[MAX_PATH];
  FormatDumpFileName(name, g_DumpPrefix, now, GetCurrentProcessId());
  if (wcslen(folder) + wcslen(name) >= MAX_PATH) return;
  wchar_t path[MAX_PATH];
  wcscpy(path, folder);
  wcscat(path, name);

  if (_wcsicmp(path, g_lastDumpPath) == 0) return;
  if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES && !CreateFolderTree(folder)) return;
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  MINIDUMP_EXCEPTION_INFORMATION info;
  info.ThreadId = threadId;
  info.ExceptionPointers = exception;
  info.ClientPointers = TRUE;
  MINIDUMP_CALLBACK_INFORMATION callback;
  callback.CallbackRoutine = MiniDumpCallback;
  callback.CallbackParam = nullptr;
  MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file, kDumpType,
                    exception ? &info : nullptr, nullptr, &callback);
  CloseHandle(file);
  wcscpy(g_lastDumpPath, path);
}

int GetCallStack(const CONTEXT& context, HANDLE thread, CallStackFrame* frames, int capacity) {
  if (!frames || capacity <= 0) return 0;
  if (capacity > kMaxCallStackFrames) capacity = kMaxCallStackFrames;
  HANDLE process = GetCurrentProcess();
  SymSetOptions(SymGetOptions() | SYMOPT_LOAD_LINES | SYMOPT_UNDNAME);
  const bool symbols = SymInitialize(process, nullptr, TRUE) != FALSE;
  NoteCrashReportProgress();

  CONTEXT walked = context;  // the walk rewrites it frame by frame
  STACKFRAME64 frame;
  memset(&frame, 0, sizeof(frame));
#if defined(__x86_64__) || defined(_M_X64)
  const DWORD machine = IMAGE_FILE_MACHINE_AMD64;
  frame.AddrPC.Offset = walked.Rip;
  frame.AddrFrame.Offset = walked.Rbp;
  frame.AddrStack.Offset = walked.Rsp;
#else
  const DWORD machine = IMAGE_FILE_MACHINE_I386;
  frame.AddrPC.Offset = walked.Eip;
  frame.AddrFrame.Offset = walked.Ebp;
  frame.AddrStack.Offset = walked.Esp;
#endif
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Mode = AddrModeFlat;

  alignas(SYMBOL_INFO) char symbolRoom[sizeof(SYMBOL_INFO) + kCallStackTextBytes];
  int count = 0;
  while (count < capacity &&
         StackWalk64(machine, process, thread, &frame, &walked, nullptr, SymFunctionTableAccess64,
                     SymGetModuleBase64, nullptr)) {
    // On x86_64 frames need no frame pointer (GCC omits it), so the walk
    // ends at a zero program counter instead.
#if defined(__x86_64__) || defined(_M_X64)
    if (frame.AddrPC.Offset == 0) break;
#else
    if (frame.AddrPC.Offset == 0 || frame.AddrFrame.Offset == 0) break;
#endif
    CallStackFrame& out = frames[count];
    CopyText(out.module, "N/A");
    CopyText(out.symbol, "N/A");
    CopyText(out.file, "N/A");
    CopyText(out.line, "N/A");
    // Outer frames hold return addresses, which may already belong to the
    // next line (or function): look up the call instruction itself.
    DWORD64 pc = frame.AddrPC.Offset;
    if (count > 0 && pc > 0) --pc;
    if (symbols) {
      SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(symbolRoom);
      memset(symbolRoom, 0, sizeof(symbolRoom));
      symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
      symbol->MaxNameLen = kCallStackTextBytes;
      DWORD64 displacement = 0;
      if (SymFromAddr(process, pc, &displacement, symbol) && symbol->Name[0]) {
        CopyText(out.symbol, symbol->Name);
      }
      IMAGEHLP_LINE64 line;
      memset(&line, 0, sizeof(line));
      line.SizeOfStruct = sizeof(line);
      DWORD lineDisplacement = 0;
      if (SymGetLineFromAddr64(process, pc, &lineDisplacement, &line) && line.FileName) {
        CopyText(out.file, line.FileName);
        FormatText1024(out.line, "%d", static_cast<int>(line.LineNumber));
      }
      IMAGEHLP_MODULE64 module;
      memset(&module, 0, sizeof(module));
      module.SizeOfStruct = sizeof(module);
      if (SymGetModuleInfo64(process, pc, &module) && module.ModuleName[0]) {
        CopyText(out.module, module.ModuleName);
      }
    }
    ++count;
    NoteCrashReportProgress();
  }
  if (symbols) SymCleanup(process);
  return count;
}

BOOL CALLBACK MiniDumpCallback(PVOID, PMINIDUMP_CALLBACK_INPUT input,
                               PMINIDUMP_CALLBACK_OUTPUT output) {
  if (!input || !output) return FALSE;
  NoteCrashReportProgress();
  switch (input->CallbackType) {
    case ModuleCallback:
      if (!(output->ModuleWriteFlags & ModuleReferencedByMemory)) {
        output->ModuleWriteFlags &= ~ModuleWriteModule;
      }
      return TRUE;
    case ThreadCallback:
    case ThreadExCallback:
    case IncludeThreadCallback:
    case IncludeModuleCallback:
      return TRUE;
    default:
      return FALSE;
  }
}

int FormatText1024V(char* buffer, const char* format, va_list args) {
  int n = _vsnprintf(buffer, kCallStackTextBytes - 1, format, args);
  buffer[kCallStackTextBytes - 1] = 0;
  if (n < 0 || n > kCallStackTextBytes - 1) {
    n = kCallStackTextBytes - 1;
    buffer[n] = 0;
  } else {
    buffer[n] = 0;
  }
  return n;
}

int FormatText1024(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatText1024V(buffer, format, args);
  va_end(args);
  return n;
}

void FormatDumpFileName(wchar_t* name, const wchar_t* prefix, const SYSTEMTIME& t,
                        DWORD processId) {
  _snwprintf(name, MAX_PATH - 1, L"\\%s_%04d%02d%02d_%02d_%02d_%02d_%d.dmp", prefix, t.wYear,
             t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, static_cast<int>(processId));
  name[MAX_PATH - 1] = 0;
}
