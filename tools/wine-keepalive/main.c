/* Holds a Wine prefix's system processes for the length of a test run.
 *
 * Wine starts its services (services.exe, plugplay, winedevice, explorer)
 * with the first program of a prefix, and they inherit that program's
 * standard handles. Under ctest the first test's output pipe would then stay
 * open until the whole run ends, so ctest waits on it and that test seems to
 * take as long as the run. Started first, with its output on /dev/null, this
 * program gives the services harmless handles and keeps them alive; the run
 * ends it with `wineserver -k`. It gives up by itself after four hours. */
#include <windows.h>

int main(void) {
  Sleep(4u * 60u * 60u * 1000u);
  return 0;
}
