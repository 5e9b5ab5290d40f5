#include "foundation/crash/CrashHandler.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <dbghelp.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "foundation/log/Logger.h"
#include "support/TempDir.h"

namespace {

std::string ReadText(const std::wstring& path) {
  std::string text;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

// The messages of the log's lines (the text behind "[pid:tid]:").
std::vector<std::string> LogMessages(const std::wstring& path) {
  std::vector<std::string> messages;
  std::string text = ReadText(path);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find("]:");
    if (colon != std::string::npos) messages.push_back(line.substr(colon + 2));
    pos = end + 1;
  }
  return messages;
}

struct Frame {
  std::string module, symbol, file, line;
};

// The frames of every call-stack block in the log, block by block. A block
// that never ends (or holds anything but frames) fails the test.
std::vector<std::vector<Frame>> CallStackBlocks(const std::vector<std::string>& messages) {
  std::vector<std::vector<Frame>> blocks;
  const std::regex frameLine(R"(\[(\d+)\] (.*) \| (.*) \| (.*) \| (.*))");
  bool inside = false;
  for (const std::string& m : messages) {
    if (m == "===============Exception callstack info===============") {
      EXPECT_FALSE(inside) << "blocks interleaved";
      inside = true;
      blocks.emplace_back();
    } else if (m == "===============End Exception callstack info===============") {
      EXPECT_TRUE(inside);
      inside = false;
    } else if (inside) {
      std::smatch match;
      if (!std::regex_match(m, match, frameLine)) {
        ADD_FAILURE() << "not a frame line: " << m;
        continue;
      }
      EXPECT_EQ(std::to_string(blocks.back().size()), match[1].str());
      blocks.back().push_back({match[2], match[3], match[4], match[5]});
    }
  }
  EXPECT_FALSE(inside) << "a block without its end line";
  return blocks;
}

std::vector<std::wstring> DumpFiles(const std::wstring& folder) {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*.dmp").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return files;
  do files.push_back(fd.cFileName);
  while (FindNextFileW(h, &fd));
  FindClose(h);
  return files;
}

struct DumpException {
  bool found = false;
  DWORD threadId = 0;
  DWORD code = 0;
  ULONG threads = 0;
};

DumpException ReadDumpException(const std::wstring& path) {
  DumpException result;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return result;
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  void* base = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (base) {
    PMINIDUMP_DIRECTORY dir = nullptr;
    void* stream = nullptr;
    ULONG size = 0;
    if (MiniDumpReadDumpStream(base, ExceptionStream, &dir, &stream, &size) && stream) {
      auto* e = static_cast<MINIDUMP_EXCEPTION_STREAM*>(stream);
      result.found = true;
      result.threadId = e->ThreadId;
      result.code = e->ExceptionRecord.ExceptionCode;
    }
    if (MiniDumpReadDumpStream(base, ThreadListStream, &dir, &stream, &size) && stream) {
      result.threads = static_cast<MINIDUMP_THREAD_LIST*>(stream)->NumberOfThreads;
    }
    UnmapViewOfFile(base);
  }
  if (mapping) CloseHandle(mapping);
  CloseHandle(file);
  return result;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  *wcsrchr(path, L'\\') = 0;
  return path;
}

// Without this, Wine's crash dialog keeps a crashed child alive under a display.
void SilenceCrashDialog() {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineDbg", 0, nullptr,
                                           0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  DWORD zero = 0;
  RegSetValueExW(key, L"ShowCrashDialog", 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), sizeof(zero));
  RegCloseKey(key);
}

struct ChildRun {
  DWORD pid = 0;
  bool ended = false;
  std::string facts;
};

// Runs the crash child (program given, default the built one) and waits for
// it to end; its output (and winedbg's) goes nowhere.
ChildRun RunChild(const std::wstring& args, const std::wstring& factsPath,
                  const std::wstring& program = L"") {
  ChildRun run;
  std::wstring exe = program.empty() ? ProgramFolder() + L"\\crash-child.exe" : program;
  std::wstring line = L"\"" + exe + L"\" " + args + L" --facts \"" + factsPath + L"\"";
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &sa, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul;
  PROCESS_INFORMATION pi{};
  std::vector<wchar_t> buf(line.begin(), line.end());
  buf.push_back(0);
  if (!CreateProcessW(exe.c_str(), buf.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "crash child did not start: " << GetLastError();
    CloseHandle(nul);
    return run;
  }
  CloseHandle(nul);
  run.pid = pi.dwProcessId;
  // A report takes seconds, tens of them under an emulated CPU, minutes on a
  // busy machine: the handler's own bound comes first.
  run.ended = WaitForSingleObject(pi.hProcess, kCrashReportMaxMs + 120000) == WAIT_OBJECT_0;
  if (!run.ended) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  run.facts = ReadText(factsPath);
  return run;
}

// Thread ids and source lines the child wrote before faulting.
std::vector<std::pair<DWORD, int>> Faults(const std::string& facts) {
  std::vector<std::pair<DWORD, int>> out;
  const std::regex re(R"(fault thread=(\d+) line=(\d+))");
  for (auto it = std::sregex_iterator(facts.begin(), facts.end(), re); it != std::sregex_iterator(); ++it) {
    out.emplace_back(std::stoul((*it)[1]), std::stoi((*it)[2]));
  }
  return out;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string DumpNamePattern(DWORD pid) {
  return "Nb5TX_v1\\.0\\.1\\.10_20\\d{6}_\\d{2}_\\d{2}_\\d{2}_" + std::to_string(pid) + "\\.dmp";
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

}  // namespace

// ---------------------------------------------------------------- pieces

TEST(CrashPieces, FormatText1024CutsAndTerminates) {
  char buffer[1024];
  memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(5, FormatText1024(buffer, "%s-%d", "ab", 42));
  EXPECT_STREQ("ab-42", buffer);
  for (size_t length : {1023u, 1024u, 5000u}) {
    std::string text(length, 'q');
    memset(buffer, 'x', sizeof(buffer));
    int n = FormatText1024(buffer, "%s", text.c_str());
    EXPECT_EQ(1023, n) << length;
    EXPECT_EQ(1023u, strlen(buffer)) << length;
  }
}

TEST(CrashPieces, DumpFileName) {
  SYSTEMTIME t{};
  t.wYear = 2024;
  t.wMonth = 3;
  t.wDay = 5;
  t.wHour = 7;
  t.wMinute = 8;
  t.wSecond = 9;
  wchar_t name[MAX_PATH];
  FormatDumpFileName(name, L"Nb5TX_v1.0.1.10", t, 4321);
  EXPECT_STREQ(L"\\Nb5TX_v1.0.1.10_20240305_07_08_09_4321.dmp", name);
}

TEST(CrashPieces, MiniDumpCallbackKeepsOnlyReferencedModules) {
  MINIDUMP_CALLBACK_INPUT input{};
  MINIDUMP_CALLBACK_OUTPUT output{};
  EXPECT_FALSE(MiniDumpCallback(nullptr, nullptr, &output));
  EXPECT_FALSE(MiniDumpCallback(nullptr, &input, nullptr));

  input.CallbackType = ModuleCallback;
  output.ModuleWriteFlags = ModuleWriteModule | ModuleWriteDataSeg;
  EXPECT_TRUE(MiniDumpCallback(nullptr, &input, &output));
  EXPECT_EQ(static_cast<ULONG>(ModuleWriteDataSeg), output.ModuleWriteFlags);
  output.ModuleWriteFlags = ModuleWriteModule | ModuleReferencedByMemory;
  EXPECT_TRUE(MiniDumpCallback(nullptr, &input, &output));
  EXPECT_EQ(static_cast<ULONG>(ModuleWriteModule | ModuleReferencedByMemory), output.ModuleWriteFlags);

  const struct {
    ULONG type;
    BOOL result;
  } cases[] = {{ThreadCallback, TRUE}, {ThreadExCallback, TRUE}, {IncludeThreadCallback, TRUE},
               {IncludeModuleCallback, TRUE}, {MemoryCallback, FALSE}, {CancelCallback, FALSE}};
  for (const auto& c : cases) {
    input.CallbackType = c.type;
    EXPECT_EQ(c.result, MiniDumpCallback(nullptr, &input, &output)) << c.type;
  }
}

// ------------------------------------------------------- walk in process

namespace {
CallStackFrame g_walked[kMaxCallStackFrames + 8];
int g_walkedCount = 0;
int g_recurseLine = 0;
int g_captureCallLine = 0;
}  // namespace

constexpr DWORD kWalkHereCode = 0xE0C0FFEE;

LONG CALLBACK CrashTestWalkRaised(EXCEPTION_POINTERS* e) {
  if (e->ExceptionRecord->ExceptionCode != kWalkHereCode) return EXCEPTION_CONTINUE_SEARCH;
  g_walkedCount = GetCallStack(*e->ContextRecord, GetCurrentThread(), g_walked, kMaxCallStackFrames + 8);
  return EXCEPTION_CONTINUE_EXECUTION;
}

// The walk starts from an exception's context, as the crash filter's does. A
// captured context would not do: on 32-bit x86 RtlCaptureContext describes
// its caller's caller, found through the frame pointer.
__attribute__((noinline)) void CrashTestCaptureHere() {
  PVOID handler = AddVectoredExceptionHandler(1, CrashTestWalkRaised);
  ASSERT_NE(nullptr, handler);
  RaiseException(kWalkHereCode, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(handler);
}

__attribute__((noinline)) int CrashTestRecurse(int depth) {
  if (depth <= 0) {
    g_captureCallLine = __LINE__ + 1;
    CrashTestCaptureHere();
    return 0;
  }
  volatile int keep = depth;
  g_recurseLine = __LINE__ + 1;
  return CrashTestRecurse(depth - 1) + keep;
}

TEST(CallStack, NamesFilesLinesAndTheFrameCap) {
  CrashTestRecurse(3);
  ASSERT_GE(g_walkedCount, 5);
  EXPECT_LT(g_walkedCount, kMaxCallStackFrames);
  // Frame 0 is the capture function or, below it, the raising of the exception.
  int capture = -1;
  for (int i = 0; i < g_walkedCount; ++i) {
    if (strstr(g_walked[i].symbol, "CrashTestCaptureHere")) {
      capture = i;
      break;
    }
  }
  ASSERT_GE(capture, 0);
  EXPECT_TRUE(EndsWith(g_walked[capture].file, "CrashHandlerTest.cpp")) << g_walked[capture].file;
  EXPECT_STREQ("test_foundation_crash", g_walked[capture].module);
  // Callers are named by the line of their call, not the one after it.
  for (int i = capture + 1; i <= capture + 4; ++i) {
    EXPECT_NE(nullptr, strstr(g_walked[i].symbol, "CrashTestRecurse")) << i;
    EXPECT_EQ(std::to_string(i == capture + 1 ? g_captureCallLine : g_recurseLine), g_walked[i].line) << i;
  }

  CrashTestRecurse(150);
  EXPECT_EQ(kMaxCallStackFrames, g_walkedCount);
  EXPECT_NE(nullptr, strstr(g_walked[kMaxCallStackFrames - 1].symbol, "CrashTestRecurse"));
}

TEST(CrashReport, InProcessReportWritesDumpIntoNewFolders) {
  TempDir dir;
  const std::wstring folder = dir.path() + L"\\made\\on\\demand";
  SetCrashDumpLocation(folder.c_str(), L"Nb5TX_v1.0.1.10");
  CONTEXT context;
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = 0xE0001234;
  EXCEPTION_POINTERS pointers{&record, &context};
  WriteCrashReport(&pointers);

  std::vector<std::wstring> dumps = DumpFiles(folder);
  ASSERT_EQ(1u, dumps.size());
  EXPECT_TRUE(std::regex_match(Narrow(dumps[0]), std::regex(DumpNamePattern(GetCurrentProcessId()))))
      << Narrow(dumps[0]);
  DumpException e = ReadDumpException(folder + L"\\" + dumps[0]);
  EXPECT_TRUE(e.found);
  EXPECT_EQ(0xE0001234u, e.code);
  EXPECT_EQ(GetCurrentThreadId(), e.threadId);
  EXPECT_GE(e.threads, 1u);

  // A folder that cannot be made (a file stands in its path) leaves no dump
  // and no failure.
  const std::wstring blocker = dir.file(L"blocker");
  FILE* f = _wfopen(blocker.c_str(), L"wb");
  ASSERT_NE(nullptr, f);
  fclose(f);
  SetCrashDumpLocation((blocker + L"\\sub").c_str(), L"Nb5TX_v1.0.1.10");
  WriteCrashReport(&pointers);
  EXPECT_TRUE(DumpFiles(blocker + L"\\sub").empty());
  SetCrashDumpLocation(L"", L"Nb5TX_v1.0.1.10");
}

// ---------------------------------------------------------- real crashes

class CrashChild : public ::testing::Test {
 protected:
  void SetUp() override { SilenceCrashDialog(); }
  std::wstring Log() const { return dir_.file(L"Nb5TX_LOG.txt"); }
  std::wstring Facts() const { return dir_.file(L"facts.txt"); }
  std::wstring Dumps() const { return dir_.path() + L"\\dumps"; }
  std::wstring Args(const wchar_t* fault) const {
    return std::wstring(L"--fault ") + fault + L" --log \"" + Log() + L"\" --folder \"" + Dumps() + L"\"";
  }
  TempDir dir_;
};

TEST_F(CrashChild, NullWriteLogsNamesFileLineAndWritesDump) {
  ChildRun run = RunChild(Args(L"null"), Facts());
  ASSERT_TRUE(run.ended);
  auto faults = Faults(run.facts);
  ASSERT_EQ(1u, faults.size()) << run.facts;

  auto blocks = CallStackBlocks(LogMessages(Log()));
  ASSERT_EQ(1u, blocks.size());
  const std::vector<Frame>& frames = blocks[0];
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ("crash-child", frames[0].module);
  EXPECT_NE(std::string::npos, frames[0].symbol.find("CrashChildNullWrite")) << frames[0].symbol;
  EXPECT_TRUE(EndsWith(frames[0].file, "main.cpp")) << frames[0].file;
  EXPECT_EQ(std::to_string(faults[0].second), frames[0].line);
  EXPECT_NE(std::string::npos, frames[1].symbol.find("wmainBody")) << frames[1].symbol;

  std::vector<std::wstring> dumps = DumpFiles(Dumps());
  ASSERT_EQ(1u, dumps.size());
  EXPECT_TRUE(std::regex_match(Narrow(dumps[0]), std::regex(DumpNamePattern(run.pid))))
      << Narrow(dumps[0]);
  DumpException e = ReadDumpException(Dumps() + L"\\" + dumps[0]);
  EXPECT_TRUE(e.found);
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), e.code);
  EXPECT_EQ(faults[0].first, e.threadId);
}

TEST_F(CrashChild, DeepStackIsCutAt64Frames) {
  ChildRun run = RunChild(Args(L"deep"), Facts());
  ASSERT_TRUE(run.ended);
  auto blocks = CallStackBlocks(LogMessages(Log()));
  ASSERT_EQ(1u, blocks.size());
  ASSERT_EQ(static_cast<size_t>(kMaxCallStackFrames), blocks[0].size());
  EXPECT_NE(std::string::npos, blocks[0][0].symbol.find("CrashChildNullWrite"));
  EXPECT_NE(std::string::npos, blocks[0][63].symbol.find("CrashChildRecurse"));
}

TEST_F(CrashChild, NullWritesOnTwoThreadsAreReportedWhole) {
  ChildRun run = RunChild(Args(L"two-threads"), Facts());
  ASSERT_TRUE(run.ended);
  auto faults = Faults(run.facts);
  ASSERT_EQ(2u, faults.size()) << run.facts;

  // One report at a time, and the process ends only after both: two whole
  // blocks, each naming the faulting thread's function.
  auto blocks = CallStackBlocks(LogMessages(Log()));
  ASSERT_EQ(2u, blocks.size()) << run.facts << ReadText(Log());
  for (const auto& frames : blocks) {
    ASSERT_GE(frames.size(), 2u);
    EXPECT_NE(std::string::npos, frames[0].symbol.find("CrashChildNullWrite"));
    EXPECT_NE(std::string::npos, frames[1].symbol.find("CrashChildFaultingThread"));
  }
  // Reports in one second share a name and the first dump stays; otherwise
  // each has its own. Every dump is whole.
  std::vector<std::wstring> dumps = DumpFiles(Dumps());
  ASSERT_GE(dumps.size(), 1u);
  ASSERT_LE(dumps.size(), 2u);
  std::vector<DWORD> threads;
  for (const std::wstring& name : dumps) {
    EXPECT_TRUE(std::regex_match(Narrow(name), std::regex(DumpNamePattern(run.pid)))) << Narrow(name);
    DumpException e = ReadDumpException(Dumps() + L"\\" + name);
    EXPECT_TRUE(e.found) << Narrow(name);
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), e.code);
    EXPECT_TRUE(e.threadId == faults[0].first || e.threadId == faults[1].first) << e.threadId;
    threads.push_back(e.threadId);
  }
  if (threads.size() == 2) {
    EXPECT_NE(threads[0], threads[1]);
  }
}

// Reports that take longer than the no-progress bound (as real ones do on a
// busy machine) but keep getting on are awaited, the second fault's turn
// included, before the process ends.
TEST_F(CrashChild, SlowReportsAreAwaitedWhileTheyGetOn) {
  ChildRun run = RunChild(Args(L"two-slow"), Facts());
  ASSERT_TRUE(run.ended);
  auto faults = Faults(run.facts);
  ASSERT_EQ(2u, faults.size()) << run.facts;
  std::vector<DWORD> reported;
  const std::regex re(R"(reported thread=(\d+))");
  for (auto it = std::sregex_iterator(run.facts.begin(), run.facts.end(), re); it != std::sregex_iterator(); ++it) {
    reported.push_back(std::stoul((*it)[1]));
  }
  ASSERT_EQ(2u, reported.size()) << run.facts;
  EXPECT_NE(reported[0], reported[1]);
  for (DWORD id : reported) {
    EXPECT_TRUE(id == faults[0].first || id == faults[1].first) << id;
  }
}

TEST_F(CrashChild, StackOverflowIsReportedFromTheHelperThread) {
  // On the installing thread and on a thread that kept room itself. A stack
  // overflow may end the process with code 0: judge by the files.
  for (const wchar_t* mode : {L"overflow", L"overflow-thread"}) {
    SCOPED_TRACE(std::string(mode, mode + wcslen(mode)));
    TempDir dir;
    const std::wstring log = dir.file(L"log.txt"), dumps = dir.path() + L"\\dumps";
    ChildRun run = RunChild(std::wstring(L"--fault ") + mode + L" --log \"" + log + L"\" --folder \"" +
                                dumps + L"\"",
                            dir.file(L"facts.txt"));
    ASSERT_TRUE(run.ended);
    auto faults = Faults(run.facts);
    ASSERT_EQ(1u, faults.size());
    auto blocks = CallStackBlocks(LogMessages(log));
    ASSERT_EQ(1u, blocks.size());
    ASSERT_EQ(static_cast<size_t>(kMaxCallStackFrames), blocks[0].size());
    EXPECT_NE(std::string::npos, blocks[0][0].symbol.find("CrashChildOverflow")) << blocks[0][0].symbol;

    std::vector<std::wstring> files = DumpFiles(dumps);
    ASSERT_EQ(1u, files.size());
    DumpException e = ReadDumpException(dumps + L"\\" + files[0]);
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW), e.code);
    EXPECT_EQ(faults[0].first, e.threadId);
  }
}

TEST_F(CrashChild, EmptyFolderPutsTheDumpBesideTheProgramAlsoWithoutALog) {
  // A copy of the child in a folder of its own, so its dump lands there.
  const std::wstring program = dir_.file(L"crash-child.exe");
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\crash-child.exe").c_str(), program.c_str(), FALSE));
  ChildRun run = RunChild(L"--fault null --folder \"\"", Facts(), program);
  ASSERT_TRUE(run.ended);
  std::vector<std::wstring> dumps = DumpFiles(dir_.path());
  ASSERT_EQ(1u, dumps.size());
  EXPECT_TRUE(std::regex_match(Narrow(dumps[0]), std::regex(DumpNamePattern(run.pid))));
}

TEST_F(CrashChild, UncreatableFolderStillLogsTheStack) {
  const std::wstring blocker = dir_.file(L"blocker");
  FILE* f = _wfopen(blocker.c_str(), L"wb");
  ASSERT_NE(nullptr, f);
  fclose(f);
  ChildRun run = RunChild(L"--fault null --folder \"" + blocker + L"\\dumps\" --log \"" + Log() + L"\"",
                          Facts());
  ASSERT_TRUE(run.ended);
  auto blocks = CallStackBlocks(LogMessages(Log()));
  ASSERT_EQ(1u, blocks.size());
  EXPECT_FALSE(blocks[0].empty());
}
