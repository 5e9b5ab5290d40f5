// mirror-screen MODE SECONDS REFERENCE
// Runs one mirroring session against the receiver at 127.0.0.1, port
// $TESS_RECEIVER_PORT, with the NTP answer service on $TESS_NTP_PORT, while
// a still test pattern covers the screen.
//   full      mirrors the primary monitor
//   region    mirrors the rectangle (160,90)-(800,450) only
//   switch    starts with that rectangle, switches to the whole monitor
//   nobridge  expects the session to end with the encoder error (run from a
//             folder without libVencBridge.dll)
//   burst     starts on the rectangle; from another thread, a burst of
//             region, monitor, scale and quality changes for two seconds,
//             ending on the rectangle again

// Before mirroring it writes what the receiver should see: REFERENCE (raw
// BGRA, top-down) and REFERENCE.txt ("width height"), copied from the screen
// with GDI independently of the captor under test.
// Exits 0 when the session behaved as the mode expects.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "classlib/Gdi.h"
#include "classlib/Str.h"
#include "engine/mirror/Mirror.h"
#include "foundation/log/Logger.h"
#include "support/TestWindow.h"
#include "tools/test-pattern/Pattern.h"

namespace {

const RECT kRegion{160, 90, 800, 450};
const RECT kSmall{0, 0, 320, 240};

// The owner's side of the burst: every change the settings panel or the
// API's display switch can make, as fast as a thread can make them.
int Burst(CMirror* mirror, DWORD ms) {
  MirrorParam settings;
  settings.fps = 30;
  settings.showCursor = 0;
  int changes = 0;
  const DWORD t0 = GetTickCount();
  for (int i = 0; GetTickCount() - t0 < ms; ++i) {
    switch (i % 4) {
      case 0:
        mirror->SetCaptureRegion(kRegion.left, kRegion.top, kRegion.right, kRegion.bottom);
        break;
      case 1:
        mirror->SetCaptureRegion(kSmall.left, kSmall.top, kSmall.right, kSmall.bottom);
        break;
      case 2:
        mirror->SelectMonitor(0);
        break;
      case 3:
        settings.scaleMode = (i / 4) % 2;
        settings.quality = (i / 8) % 2 ? 1000 : 6000;
        mirror->UpdateVideoSettings(settings);
        break;
    }
    ++changes;
    // Mostly back to back; now and then a pause long enough for the session
    // to set its encoder up on what the capture has just become.
    Sleep(i % 10 == 9 ? 300 : static_cast<DWORD>(i % 3) * 10);
  }
  settings.scaleMode = 0;
  settings.quality = 6000;
  mirror->UpdateVideoSettings(settings);
  mirror->SetCaptureRegion(kRegion.left, kRegion.top, kRegion.right, kRegion.bottom);
  return changes + 2;
}

bool WriteReference(const std::string& path, const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  cl::CClientDC screen(nullptr);
  cl::CMemoryDC mem(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  cl::CBitmap bmp(CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  cl::ScopedSelect select(mem, bmp);
  const BOOL ok = select.ok() && BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  bool written = false;
  if (ok) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
      written = fwrite(bits, 1, static_cast<size_t>(w) * h * 4, f) == static_cast<size_t>(w) * h * 4;
      fclose(f);
    }
    FILE* t = fopen((path + ".txt").c_str(), "w");
    if (t) {
      fprintf(t, "%d %d\n", w, h);
      fclose(t);
    }
  }
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: mirror-screen full|region|switch|nobridge|burst SECONDS REFERENCE\n");
    return 2;
  }
  const std::string mode = argv[1];
  const int seconds = atoi(argv[2]);
  const std::string reference = argv[3];
  const char* portText = getenv("TESS_RECEIVER_PORT");
  if (!portText) {
    fprintf(stderr, "mirror-screen: TESS_RECEIVER_PORT is not set\n");
    return 2;
  }
  ZtLogger::Instance().Init(const_cast<wchar_t*>(cl::AnsiToWide(reference + ".log").c_str()));

  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  TestWindow pattern(screen, [](HDC dc, const RECT& rc) { DrawTestPattern(dc, rc, 0, false); });
  if (!pattern.WaitPainted()) {
    fprintf(stderr, "mirror-screen: the pattern window did not paint\n");
    return 1;
  }
  Sleep(300);
  const bool region = mode == "region" || mode == "switch" || mode == "burst";
  if (!WriteReference(reference, mode == "region" || mode == "burst" ? kRegion : screen)) {
    fprintf(stderr, "mirror-screen: no reference picture\n");
    return 1;
  }

  MirrorParam param;
  param.port = static_cast<uint16_t>(atoi(portText));
  param.fps = 30;
  param.showCursor = 0;  // the reference has no cursor either
  CMirror* mirror = new CMirror(&param);
  // The receiver asks the time on the port the driver picked for both sides:
  // no fixed port outside a namespace of its own.
  const char* ntpText = getenv("TESS_NTP_PORT");
  mirror->SetNtpPort(static_cast<unsigned short>(ntpText ? atoi(ntpText) : 0));
  if (region) mirror->SetCaptureRegion(kRegion.left, kRegion.top, kRegion.right, kRegion.bottom);
  if (!mirror->Start("127.0.0.1", 0)) {
    fprintf(stderr, "mirror-screen: session did not start\n");
    return 1;
  }
  const DWORD t0 = GetTickCount();
  bool switched = false;
  std::thread burster;
  int changes = 0;
  while (GetTickCount() - t0 < static_cast<DWORD>(seconds) * 1000 && mirror->IsRunning()) {
    Sleep(50);
    const bool due = GetTickCount() - t0 > static_cast<DWORD>(seconds) * 250;
    if (mode == "switch" && !switched && GetTickCount() - t0 > static_cast<DWORD>(seconds) * 400) {
      switched = mirror->SelectMonitor(0);
      printf("mirror-screen: switched to monitor 0: %s\n", switched ? "yes" : "no");
    }
    if (mode == "burst" && due && !burster.joinable()) {
      burster = std::thread([&] { changes = Burst(mirror, 2000); });
    }
  }
  if (burster.joinable()) burster.join();
  if (mode == "burst") printf("mirror-screen: %d changes in the burst\n", changes);
  const bool endedEarly = !mirror->IsRunning();
  const long long frames = mirror->FramesSent();
  const long long codecPackets = mirror->CodecPacketsSent();
  const std::string statistics = cl::WideToUtf8(mirror->StatisticsText());
  MirrorStatus last;
  const bool released = CMirror::StopAndRelease(mirror, 20000, &last);
  printf("mirror-screen: status \"%s\", statistics \"%s\", last error %d, frames %lld, "
         "codec packets %lld%s\n",
         cl::WideToUtf8(last.text).c_str(), statistics.c_str(), last.lastError, frames,
         codecPackets, endedEarly ? ", ended by itself" : "");
  bool ok;
  if (mode == "nobridge") {
    ok = last.state == MirrorState::kFailed && last.lastError == MIRROR_ERR_VIDEO_ENCODER &&
         frames == 0 && endedEarly;
  } else {
    ok = last.state == MirrorState::kEnded && last.lastError == 0 && frames > 0 && !endedEarly &&
         (mode != "switch" || (switched && codecPackets == 2)) &&
         (mode != "burst" || (changes > 50 && codecPackets >= 2));
  }
  return ok && released ? 0 : 1;
}
