/* txapi-console-host: a console host of Nb5TxAPI.dll written as a host
 * developer outside the project would write one. It links nothing of the
 * project, never touches the display (no window, no device context, no
 * user32 call of its own), loads the DLL from its own folder and calls
 * Nb5TxInit and Nb5TxFree once.
 *
 * Output: "Nb5TxInit=<result>" and "Nb5TxFree=<result>", each printed as
 * soon as the call returns (a hang shows which call it was). Exit: 0 when
 * both returned 1, 2 when the DLL or a function is missing, 1 otherwise. */
#include <windows.h>

#include <stdio.h>

typedef int(__cdecl* IntFn)(void);

int main(void) {
  wchar_t path[MAX_PATH + 16];
  DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
  HMODULE dll;
  IntFn init, release;
  int initResult, freeResult;
  if (n == 0 || n >= MAX_PATH) return 2;
  while (n > 0 && path[n - 1] != L'\\') --n;
  lstrcpyW(path + n, L"Nb5TxAPI.dll");
  dll = LoadLibraryW(path);
  if (!dll) {
    printf("LoadLibrary failed: %lu\n", GetLastError());
    return 2;
  }
  init = (IntFn)(void*)GetProcAddress(dll, "Nb5TxInit");
  release = (IntFn)(void*)GetProcAddress(dll, "Nb5TxFree");
  if (!init || !release) {
    printf("Nb5TxInit or Nb5TxFree not exported\n");
    return 2;
  }
  printf("calling Nb5TxInit\n");
  fflush(stdout);
  initResult = init();
  printf("Nb5TxInit=%d\n", initResult);
  fflush(stdout);
  freeResult = release();
  printf("Nb5TxFree=%d\n", freeResult);
  fflush(stdout);
  return initResult == 1 && freeResult == 1 ? 0 : 1;
}
