// Loading DLLs at run time from known folders only. A bare name given to
// LoadLibrary is also looked for in the current directory and along PATH,
// where anyone who can write a file may plant a DLL of that name; these
// calls never search there.
#pragma once

#include <windows.h>

#include <string>

// Folder (with its trailing backslash) of the module that holds this code:
// the program's folder in the program, the DLL's folder in a DLL that links
// it. "" when it cannot be read.
std::wstring OwnModuleFolder();

// One of our own run-time DLLs: a bare name is loaded from OwnModuleFolder(),
// a full path as it stands; the DLL's own imports come from its folder and
// System32. Null on failure with GetLastError set (126 for a missing file).
HMODULE LoadOwnLibrary(const wchar_t* name);

// A Windows DLL (User32.dll, Dwmapi.dll, ...) from the system folder only.
HMODULE LoadSystemLibrary(const wchar_t* name);
