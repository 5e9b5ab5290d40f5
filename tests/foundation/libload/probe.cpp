// tess-libload-probe: loads each of our run-time DLLs through the code the
// program uses for it (discovery, encoder, DXGI captor, updater), then
// prints one line per DLL, "<name>=<file of the loaded module>" or
// "<name>=-" when none is loaded under that name. The DLLs' calls are only
// those every load path makes (the updater's clean-up, the bridges' set-up).
// The compositor query loads a Windows DLL (Dwmapi.dll) and unloads it
// again: the look-alike's own record tells where that one came from.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "engine/capture/CapVideo.h"
#include "engine/discovery/BonjourDiscovery.h"
#include "engine/display/DisplayPlatform.h"
#include "engine/encode/EncVideoH264.h"
#include "foundation/updater/UpdaterSetup.h"

int main() {
  LoadDnsSdLibrary();
  VideoParam video;
  video.receiverWidth = 1280;
  video.receiverHeight = 720;
  video.width = 64;
  video.height = 64;
  CEncVideoH264 encoder;
  encoder.Config(&video, 0);
  CCapVideoDxgi captor;
  captor.Config(&video);
  StopUpdater();
  DefaultDisplayPlatform().CompositionEnabled();
  const wchar_t* const names[] = {L"dnssd.dll", kVencBridgeLibrary, kScapBridgeLibrary,
                                  L"WinSparkle.dll"};
  for (const wchar_t* name : names) {
    wchar_t path[MAX_PATH] = L"-";
    HMODULE module = GetModuleHandleW(name);
    if (module && GetModuleFileNameW(module, path, MAX_PATH) == 0) wcscpy(path, L"?");
    printf("%ls=%ls\n", name, path);
  }
  fflush(stdout);
  return 0;
}
