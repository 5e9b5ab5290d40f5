/* tess-lookalike.dll: a stand-in planted under the names of our run-time
 * DLLs. It exports every call the program looks up in them (each a stub
 * returning 0) and, when loaded, appends its own path to the file named by
 * TESS_LOOKALIKE_LOG, so a test sees every copy that was loaded. */
#include <windows.h>

int LookAlikeStub(void) { return 0; }

static void RecordLoad(HINSTANCE self) {
  wchar_t log[MAX_PATH], path[MAX_PATH];
  char line[3 * MAX_PATH + 2];
  DWORD n = GetEnvironmentVariableW(L"TESS_LOOKALIKE_LOG", log, MAX_PATH);
  HANDLE f;
  int size;
  DWORD written = 0;
  if (n == 0 || n >= MAX_PATH) return;
  n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  size = WideCharToMultiByte(CP_UTF8, 0, path, (int)n, line, (int)sizeof(line) - 2, NULL, NULL);
  if (size <= 0) return;
  line[size++] = '\r';
  line[size++] = '\n';
  f = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return;
  WriteFile(f, line, (DWORD)size, &written, NULL);
  CloseHandle(f);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) RecordLoad(self);
  return TRUE;
}
