// A stand-in browser for tests of the browser launch: appends the arguments
// it was started with to a log file, one "arg: <text>" line each, then an
// "end" line. The log path comes first on the command line (a browser
// started as the user gets a fresh environment, so no variable can carry it):
//
//   browser-fake.exe --log C:\path\log.txt <arguments...>
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3 || std::wstring(argv[1]) != L"--log") return 2;
  std::wstring text;
  for (int i = 3; i < argc; ++i) text += std::wstring(L"arg: ") + argv[i] + L"\n";
  text += L"end\n";
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
  std::string utf8(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr,
                      nullptr);
  HANDLE f = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(f);
  LocalFree(argv);
  return 0;
}
