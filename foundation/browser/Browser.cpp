#include "foundation/browser/Browser.h"

#include <shellapi.h>
#include <shlobj.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <cwchar>
#include <vector>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/registry/Registry.h"

namespace {

// A value of up to 519 characters and its NUL; longer ones leave the source empty.
constexpr DWORD kCommandBytes = 1040;

const wchar_t kChromeTail[] = L"\\Google\\Chrome\\Application\\Chrome.exe";

// A program path as a command: quoted when it holds a blank, so
// CreateProcess never tries the shorter paths ("C:\Program.exe") first.
std::wstring QuotedProgram(const std::wstring& path) {
  if (path.empty() || path.front() == L'"' || path.find(L' ') == std::wstring::npos) return path;
  return L"\"" + path + L"\"";
}

std::wstring ChromeIn(int csidl) {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0, folder)) || !folder[0]) return L"";
  std::wstring path = std::wstring(folder) + kChromeTail;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return L"";
  return QuotedProgram(path);
}

// The default value of root\path as text; "" when the key or value is
// missing, not text, or longer than kCommandBytes. Keys are opened for
// reading only: a standard user has no write rights under HKEY_LOCAL_MACHINE.
std::wstring ReadDefaultText(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return L"";
  wchar_t buffer[kCommandBytes / sizeof(wchar_t) + 1] = {};  // one spare NUL
  DWORD type = 0, size = kCommandBytes;
  LONG r = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return L"";
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kCommandBytes / sizeof(wchar_t)] = {};
    DWORD n = ExpandEnvironmentStringsW(buffer, expanded, kCommandBytes / sizeof(wchar_t));
    if (n == 0 || n > kCommandBytes / sizeof(wchar_t)) return L"";
    return expanded;
  }
  return buffer;
}

// The default value of path in the interactive user's hive.
std::wstring ReadUserDefaultText(const std::wstring& path) {
  CImpersonateUser impersonation;
  HKEY user = nullptr;
  if (RegOpenCurrentUser(KEY_READ, &user) != ERROR_SUCCESS) return L"";
  std::wstring text = ReadDefaultText(user, path);
  RegCloseKey(user);
  return text;
}

std::wstring UserChosenBrowser() {
  std::wstring name = ReadUserDefaultText(L"Software\\Clients\\StartMenuInternet");
  if (name.empty()) return L"";
  // The machine's client list is read as this process (impersonation ended).
  return ReadDefaultText(HKEY_LOCAL_MACHINE,
                         L"SOFTWARE\\Clients\\StartMenuInternet\\" + name + L"\\Shell\\open\\command");
}

void AppendPercent(std::wstring& out, unsigned byte) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  out += L'%';
  out += kHex[(byte >> 4) & 0xF];
  out += kHex[byte & 0xF];
}

bool ShellOpen(const std::wstring& file) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // No UI: a missing handler must not leave a message box waiting for a click.
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.nShow = SW_SHOW;
  if (!ShellExecuteExW(&info)) return false;
  return reinterpret_cast<INT_PTR>(info.hInstApp) > 32;
}

HANDLE InteractiveUserToken() {
  HANDLE token = nullptr;
  DWORD session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && WTSQueryUserToken(session, &token)) {
    return token;
  }
  token = nullptr;
  DWORD console = WTSGetActiveConsoleSessionId();
  if (console != 0xFFFFFFFF && WTSQueryUserToken(console, &token)) return token;
  token = nullptr;
  if (GetExplorerToken(&token)) return token;
  return nullptr;
}

}  // namespace

BrowserCommandSources SystemBrowserCommandSources() {
  BrowserCommandSources s;
  s.chromeForUser = [] { return ChromeIn(CSIDL_LOCAL_APPDATA); };
  s.chromeForMachine = [] { return ChromeIn(CSIDL_PROGRAM_FILESX86); };
  s.userChosenBrowser = UserChosenBrowser;
  s.userHttpHandler = [] { return ReadUserDefaultText(L"Software\\Classes\\http\\shell\\open\\command"); };
  s.machineHttpHandler = [] {
    return ReadDefaultText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\http\\shell\\open\\command");
  };
  s.internetExplorer = [] {
    return QuotedProgram(ReadDefaultText(
        HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE"));
  };
  return s;
}

std::wstring GetBrowserCommand(const BrowserCommandSources& sources) {
  const std::function<std::wstring()>* order[] = {
      &sources.chromeForUser,     &sources.chromeForMachine,   &sources.userChosenBrowser,
      &sources.userHttpHandler,   &sources.machineHttpHandler, &sources.internetExplorer};
  for (const auto* source : order) {
    if (!*source) continue;
    std::wstring command = (*source)();
    if (!command.empty()) return command;
  }
  return L"";
}

std::wstring GetBrowserCommand() { return GetBrowserCommand(SystemBrowserCommandSources()); }

bool IsWebAddress(const std::wstring& address) {
  for (const wchar_t* scheme : {L"http://", L"https://"}) {
    size_t n = wcslen(scheme);
    if (address.size() > n && _wcsnicmp(address.c_str(), scheme, n) == 0) return true;
  }
  return false;
}

std::wstring EscapeUrlForCommandLine(const std::wstring& address) {
  std::wstring out;
  out.reserve(address.size());
  for (wchar_t c : address) {
    if (c == L' ' || c == L'\t' || c == L'"' || c == L'\\' || c < 0x20 || c == 0x7F) {
      AppendPercent(out, c);
    } else if (c >= 0x80 && c <= 0x9F) {  // C1 controls, as their UTF-8 bytes
      AppendPercent(out, 0xC2);
      AppendPercent(out, c);
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring BuildBrowserCommandLine(const std::wstring& command, const std::wstring& address) {
  if (command.find(L"%1") == std::wstring::npos) return command + L" \"" + address + L"\"";
  std::wstring line;
  size_t from = 0, at;
  while ((at = command.find(L"%1", from)) != std::wstring::npos) {
    line.append(command, from, at - from);
    line += address;
    from = at + 2;
  }
  line.append(command, from, std::wstring::npos);
  return line;
}

bool OpenUrlInBrowser(const std::wstring& address, const BrowserCommandSources& sources) {
  if (!IsWebAddress(address)) {
    ZtLogger::Instance().Error("OpenUrlInBrowser refused an address that is not http or https.");
    return false;
  }
  const std::wstring safe = EscapeUrlForCommandLine(address);
  const std::wstring command = GetBrowserCommand(sources);
  if (!command.empty()) {
    const std::wstring line = BuildBrowserCommandLine(command, safe);
    PROCESS_INFORMATION process{};
    if (LaunchProcessAsUser(line.c_str(), &process, nullptr, nullptr, TRUE, SW_SHOW, TRUE)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      return true;
    }
    ZtLogger::Instance().Error("OpenUrlInBrowser: the browser command did not start (%lu).",
                               GetLastError());
  }
  // The escaped address holds no blank or quote, so it needs no quotes of
  // its own for the shell.
  if (ShellOpen(safe)) return true;
  ZtLogger::Instance().Error("OpenUrlInBrowser: the shell did not open the address.");
  return false;
}

bool OpenUrlInBrowser(const std::wstring& address) {
  return OpenUrlInBrowser(address, SystemBrowserCommandSources());
}

BOOL LaunchProcessAsUser(const wchar_t* app, PROCESS_INFORMATION* process, const wchar_t* args,
                         const wchar_t* directory, BOOL asUser, WORD showWindow,
                         BOOL commandLineMode) {
  if (!app || !process) return FALSE;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showWindow;

  std::wstring text;
  const wchar_t* applicationName = nullptr;
  if (commandLineMode) {
    text = args && *args ? std::wstring(app) + L" " + args : std::wstring(app);
  } else {
    text = args ? args : L"";
    applicationName = app;
  }
  // CreateProcess may write into the command line.
  std::vector<wchar_t> line(text.begin(), text.end());
  line.push_back(0);

  if (asUser) {
    HANDLE token = InteractiveUserToken();
    if (token) {
      void* environment = nullptr;
      if (!CreateEnvironmentBlock(&environment, token, FALSE)) environment = nullptr;
      BOOL started = CreateProcessAsUserW(
          token, applicationName, line.data(), nullptr, nullptr, FALSE,
          CREATE_UNICODE_ENVIRONMENT | CREATE_DEFAULT_ERROR_MODE, environment, directory, &startup,
          process);
      DWORD error = GetLastError();
      if (environment) DestroyEnvironmentBlock(environment);
      CloseHandle(token);
      if (started) return TRUE;
      SetLastError(error);
    }
  }
  // The browser is no child of ours: none of our handles go with it.
  return CreateProcessW(applicationName, line.data(), nullptr, nullptr, FALSE,
                        CREATE_DEFAULT_ERROR_MODE, nullptr, directory, &startup, process);
}
