// Opening a web address in the user's browser.
//
// The browser command is found by the program itself, in a fixed order that
// prefers Chrome, and started in the interactive user's session with that
// user's token and environment; the shell's "open" verb is the fallback.
// Only http and https addresses are opened, and the address is made safe for
// a command line first (see EscapeUrlForCommandLine).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The places a browser command comes from, in order of preference. Each
// returns "" when it has none.
struct BrowserCommandSources {
  std::function<std::wstring()> chromeForUser;       // local app data \Google\Chrome\Application\Chrome.exe
  std::function<std::wstring()> chromeForMachine;    // program files (x86), same tail
  std::function<std::wstring()> userChosenBrowser;   // the user's StartMenuInternet client's command
  std::function<std::wstring()> userHttpHandler;     // the user's http "open" command
  std::function<std::wstring()> machineHttpHandler;  // the machine's http "open" command
  std::function<std::wstring()> internetExplorer;    // App Paths\IEXPLORE.EXE
};

// The system's own sources.
BrowserCommandSources SystemBrowserCommandSources();
// The first non-empty command of the sources, "" when there is none.
std::wstring GetBrowserCommand(const BrowserCommandSources& sources);
std::wstring GetBrowserCommand();

// True for "http://..." and "https://..." (any letter case) with something
// after the scheme; everything else (file:, javascript:, a program path) is
// never handed to a browser command or the shell.
bool IsWebAddress(const std::wstring& address);
// Percent-encodes the characters that would end or split a quoted
// command-line argument: space, tab, '"', '\' and control characters.
// Everything else, '%' included, is kept.
std::wstring EscapeUrlForCommandLine(const std::wstring& address);
// The command line for address: every "%1" replaced by it, or, without a
// "%1", a blank and the address in double quotes appended.
std::wstring BuildBrowserCommandLine(const std::wstring& command, const std::wstring& address);

// Opens address in the user's browser. False (logged) when the address is
// not a web address or neither the browser nor the shell took it.
bool OpenUrlInBrowser(const std::wstring& address);
bool OpenUrlInBrowser(const std::wstring& address, const BrowserCommandSources& sources);

// Starts a process, as the interactive user when asUser is set and that
// user's token can be had (otherwise as this process). commandLineMode: app
// is a whole command line (with args appended after a blank when given);
// otherwise app is the program and args its command line. The caller closes
// the handles in *process on success.
BOOL LaunchProcessAsUser(const wchar_t* app, PROCESS_INFORMATION* process, const wchar_t* args,
                         const wchar_t* directory, BOOL asUser, WORD showWindow,
                         BOOL commandLineMode);
