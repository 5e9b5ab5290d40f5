// Our run-time DLLs come from the program's own folder and Windows DLLs from
// the system folder, never from the current directory. The program's
// loaders (tess-libload-probe) are copied alone into a folder of their own
// and started with a current directory that holds a look-alike DLL
// (tess-lookalike.dll, which records every copy of itself that is loaded)
// under each name.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "foundation/sys/LibraryLoad.h"
#include "support/TempDir.h"

namespace {

const wchar_t* const kOurDlls[] = {L"dnssd.dll", L"libVencBridge.dll", L"libScapBridge.dll",
                                   L"WinSparkle.dll"};
// A Windows DLL the program loads at run time by name.
const wchar_t kSystemDll[] = L"dwmapi.dll";

std::wstring Lower(std::wstring s) {
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return towlower(c); });
  return s;
}

std::wstring Widen(const std::string& s) {
  std::wstring out(s.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0],
                                    static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

std::vector<std::wstring> Lines(const std::string& text) {
  std::vector<std::wstring> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(Widen(line));
    at = end + 1;
  }
  return lines;
}

// A folder under %TEMP% with "prog" (the probe alone) and "cwd" in it,
// removed with everything in it.
class Scratch {
 public:
  Scratch() : root_(dir_.path() + L"\\") {
    CreateDirectoryW(prog().c_str(), nullptr);
    CreateDirectoryW(cwd().c_str(), nullptr);
    wchar_t exe[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring own(exe, n);
    own_ = own.substr(0, own.rfind(L'\\') + 1);
    CopyFileW((own_ + L"tess-libload-probe.exe").c_str(), (prog() + L"tess-libload-probe.exe").c_str(),
              FALSE);
  }
  std::wstring prog() const { return root_ + L"prog\\"; }
  std::wstring cwd() const { return root_ + L"cwd\\"; }
  std::wstring log() const { return root_ + L"loaded.txt"; }

  // A look-alike under `name` in `folder`.
  bool Plant(const std::wstring& folder, const wchar_t* name) const {
    return CopyFileW((own_ + L"tess-lookalike.dll").c_str(), (folder + name).c_str(), FALSE) != FALSE;
  }

  // The copies of the look-alike that were loaded, in order.
  std::vector<std::wstring> LoadedCopies() const {
    std::string text;
    HANDLE f = CreateFileW(log().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got > 0) text.append(buf, got);
    CloseHandle(f);
    return Lines(text);
  }

  struct Result {
    bool ended = false;
    DWORD exitCode = 0;
    std::map<std::wstring, std::wstring> modules;  // lower-case name -> file or "-"
  };

  // Runs the probe from its folder with "cwd" as the current directory.
  Result RunProbe() const {
    Result r;
    SetEnvironmentVariableW(L"TESS_LOOKALIKE_LOG", log().c_str());
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 1 << 16)) return r;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::wstring command = L"\"" + prog() + L"tess-libload-probe.exe\"";
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        cwd().c_str(), &si, &pi);
    CloseHandle(writeEnd);
    SetEnvironmentVariableW(L"TESS_LOOKALIKE_LOG", nullptr);
    if (!started) {
      CloseHandle(readEnd);
      return r;
    }
    r.ended = WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
    if (!r.ended) TerminateProcess(pi.hProcess, 1);
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // The probe has ended: what it wrote is all in the pipe.
    std::string text;
    DWORD avail = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
      std::string buf(avail, '\0');
      DWORD got = 0;
      if (!ReadFile(readEnd, &buf[0], avail, &got, nullptr) || got == 0) break;
      text.append(buf.data(), got);
    }
    CloseHandle(readEnd);
    for (const std::wstring& line : Lines(text)) {
      const size_t eq = line.find(L'=');
      if (eq != std::wstring::npos) r.modules[Lower(line.substr(0, eq))] = line.substr(eq + 1);
    }
    return r;
  }

 private:
  TempDir dir_;
  std::wstring root_;
  std::wstring own_;
};

TEST(LibraryLoad, ALookAlikeInTheCurrentDirectoryIsNeverLoaded) {
  Scratch s;
  for (const wchar_t* name : kOurDlls) ASSERT_TRUE(s.Plant(s.cwd(), name));
  ASSERT_TRUE(s.Plant(s.cwd(), kSystemDll));
  const Scratch::Result r = s.RunProbe();
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.exitCode, 0u);
  for (const wchar_t* name : kOurDlls) {
    ASSERT_EQ(r.modules.count(Lower(name)), 1u) << "probe output lacks " << name;
    EXPECT_EQ(r.modules.at(Lower(name)), L"-") << name;
  }
  for (const std::wstring& copy : s.LoadedCopies()) ADD_FAILURE() << "loaded: " << copy;
}

TEST(LibraryLoad, TheProgramsOwnCopyIsLoadedAndAWindowsDllOnlyFromTheSystem) {
  Scratch s;
  for (const wchar_t* name : kOurDlls) {
    ASSERT_TRUE(s.Plant(s.cwd(), name));
    ASSERT_TRUE(s.Plant(s.prog(), name));
  }
  ASSERT_TRUE(s.Plant(s.cwd(), kSystemDll));
  ASSERT_TRUE(s.Plant(s.prog(), kSystemDll));
  const Scratch::Result r = s.RunProbe();
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.exitCode, 0u);
  std::vector<std::wstring> expected;
  for (const wchar_t* name : kOurDlls) {
    ASSERT_EQ(r.modules.count(Lower(name)), 1u) << "probe output lacks " << name;
    EXPECT_EQ(Lower(r.modules.at(Lower(name))), Lower(s.prog() + name));
    expected.push_back(Lower(s.prog() + name));
  }
  std::vector<std::wstring> loaded = s.LoadedCopies();
  for (std::wstring& copy : loaded) copy = Lower(copy);
  std::sort(loaded.begin(), loaded.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(loaded, expected);
}

TEST(LibraryLoad, NamesAndFolders) {
  wchar_t exe[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring own(exe, n);
  // This test program holds the code: its folder is the program's.
  EXPECT_EQ(Lower(OwnModuleFolder()), Lower(own.substr(0, own.rfind(L'\\') + 1)));
  // Loaded from System32 it is the one already in the process.
  HMODULE kernel = LoadSystemLibrary(L"kernel32.dll");
  EXPECT_EQ(kernel, GetModuleHandleW(L"kernel32.dll"));
  if (kernel) FreeLibrary(kernel);
  // A system DLL's name alone is not one of ours: not beside the program.
  SetLastError(0);
  EXPECT_EQ(LoadOwnLibrary(L"kernel32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(LoadOwnLibrary(L""), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A full path is taken as it stands.
  HMODULE lookalike = LoadOwnLibrary((own.substr(0, own.rfind(L'\\') + 1) + L"tess-lookalike.dll").c_str());
  EXPECT_NE(lookalike, nullptr);
  if (lookalike) FreeLibrary(lookalike);
}

}  // namespace
