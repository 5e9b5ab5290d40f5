// The crash handler: when an exception reaches no handler, the faulting
// thread's call stack goes into the log and a minidump of the process into
// the dump folder; then Windows goes on with its default handling.
//
// The report itself runs on a helper thread made when the handler is
// installed: a thread that ran out of stack cannot walk symbols or write a
// dump on its own stack, and a report that hangs (a lock held by the dying
// thread) must not keep the process alive. The faulting thread waits for the
// helper while the report gets on: it gives up when the helper has shown no
// progress (neither a step of the report nor CPU time) for
// kCrashReportWaitMs, and in any case after kCrashReportMaxMs. A report on a
// busy machine takes minutes rather than seconds, and one cut off by the
// process ending leaves a dump without its exception. Reports are written one
// at a time; a second thread that faults meanwhile waits for its turn as long
// as the report before it gets on, and the first does not hand its fault on
// (which ends the process) until the second's report is written, on the
// same terms. A fault that comes after that is not reported: the process is
// already ending. Two reports in one second share the dump name: the first
// one's dump is kept.
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include <cstdarg>

// Folder of the dump files; empty means the executable's folder.
extern wchar_t g_DumpFolder[MAX_PATH];
// First part of the dump file name.
extern wchar_t g_DumpPrefix[MAX_PATH];

constexpr int kCallStackTextBytes = 1024;
// Deeper stacks (a runaway recursion) are cut: the innermost frames tell
// where it crashed, and the log line count stays small.
constexpr int kMaxCallStackFrames = 64;
// How long a report may show no progress before the faulting thread stops
// waiting for it (a hung report), and how long the thread waits at most.
constexpr DWORD kCrashReportWaitMs = 60000;
constexpr DWORD kCrashReportMaxMs = 300000;

// One frame of a call stack: each text is "N/A" when its lookup failed.
struct CallStackFrame {
  char module[kCallStackTextBytes];
  char symbol[kCallStackTextBytes];
  char file[kCallStackTextBytes];
  char line[kCallStackTextBytes];
};

// Sets g_DumpFolder and g_DumpPrefix (each cut to MAX_PATH - 1 characters).
void SetCrashDumpLocation(const wchar_t* folder, const wchar_t* prefix);
// Starts the report thread and installs CrashFilter as the unhandled-
// exception filter. True when both succeeded (without the thread, reports
// run on the faulting thread).
bool InstallCrashHandler();
// Keeps stack room for the report when the calling thread overflows its
// stack. InstallCrashHandler does so for its own thread; other long-lived
// threads may call it first thing.
void ReserveStackForCrashReport();

// Tells the waiting faulting thread that the report is getting on; each step
// of a report (a frame walked, a module or thread taken into the dump) calls it.
void NoteCrashReportProgress();
// Replaces the report routine (null: WriteCrashReport) and the no-progress
// bound (0: kCrashReportWaitMs), so that a slow report can be staged.
using CrashReportWriter = void (*)(EXCEPTION_POINTERS* exception, DWORD threadId);
void SetCrashReportForTest(CrashReportWriter writer, DWORD waitMs);

// The unhandled-exception filter: reports and returns EXCEPTION_CONTINUE_SEARCH.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* exception);
// Writes the report of an exception raised on the given thread: the call
// stack into the log (Error lines) and the minidump file. Never fails the
// caller; what cannot be written is left out.
void WriteCrashReport(EXCEPTION_POINTERS* exception, DWORD threadId);
inline void WriteCrashReport(EXCEPTION_POINTERS* exception) {
  WriteCrashReport(exception, GetCurrentThreadId());
}

// Walks the stack of thread from context (not changed) into frames, at most
// capacity (and kMaxCallStackFrames) of them; returns how many were found.
// Not re-entrant: the symbol handler is process-wide.
int GetCallStack(const CONTEXT& context, HANDLE thread, CallStackFrame* frames, int capacity);

// The minidump callback: modules that no memory refers to are left out.
BOOL CALLBACK MiniDumpCallback(PVOID param, PMINIDUMP_CALLBACK_INPUT input,
                               PMINIDUMP_CALLBACK_OUTPUT output);

// printf-style formatting into a caller buffer of 1024 bytes, always
// terminated; a longer text is cut. Returns the length written.
int FormatText1024(char* buffer, const char* format, ...) __attribute__((format(ms_printf, 2, 3)));
int FormatText1024V(char* buffer, const char* format, va_list args);

// The dump file name "\<prefix>_YYYYMMDD_hh_mm_ss_<pid>.dmp" for a local time
// and process id, into name of MAX_PATH characters.
void FormatDumpFileName(wchar_t* name, const wchar_t* prefix, const SYSTEMTIME& localTime,
                        DWORD processId);
