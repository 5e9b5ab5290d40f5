// bench-video OUTDIR FRAMES WxH...
// Our video pipeline on the animated test pattern, one size after another:
// the pattern window is put at the top left in that size, and per picture
// the GDI captor's Capture, the conversion to I420 (a libswscale context per
// picture, as the video manager does, and one kept context for comparison)
// and the encode through CEncVideoH264 + libVencBridge are timed. The
// captured BGRA pictures go to OUTDIR/frames_WxH.bgra so that the ffmpeg
// command-line tool can encode the very same pictures (run-video-bench).
// Prints one line per size: "RESULT w h frames capture_ms convert_ms
// convert_cached_ms encode_ms bytes" (medians per picture).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/Gdi.h"
#include "engine/capture/CapVideo.h"
#include "engine/capture/ColorConvert.h"
#include "engine/encode/EncVideoH264.h"
#include "tools/test-pattern/Pattern.h"

namespace {

int g_frame = 0;

LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    cl::CPaintDC dc(h);
    RECT rc;
    GetClientRect(h, &rc);
    cl::CMemoryDC mem(dc);
    cl::CBitmap bmp(CreateCompatibleBitmap(dc, rc.right, rc.bottom));
    cl::ScopedSelect select(mem, bmp);
    DrawTestPattern(mem, rc, g_frame, true);
    BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;
  return DefWindowProcW(h, msg, wp, lp);
}

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

double Ms(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) {
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: bench-video OUTDIR FRAMES WxH...\n");
    return 2;
  }
  const std::string out = argv[1];
  const int frames = atoi(argv[2]);
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TessBenchPattern";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"bench", WS_POPUP | WS_VISIBLE,
                              0, 0, 64, 64, nullptr, nullptr, wc.hInstance, nullptr);
  if (!hwnd) return 1;
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);

  for (int s = 3; s < argc; ++s) {
    int w = 0, h = 0;
    if (sscanf(argv[s], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) return 2;
    SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, w, h, SWP_SHOWWINDOW);
    g_frame = 0;
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Pump();
    Sleep(500);

    VideoParam v;
    v.receiverWidth = 1920;
    v.receiverHeight = 1080;
    v.width = w;
    v.height = h;
    v.cursor = 0;
    CCapVideoGDI captor;
    CEncVideoH264 encoder;
    if (captor.Config(&v) != 0 || encoder.Config(&v, 0) != CEncVideoH264::kOk) {
      fprintf(stderr, "bench-video: set-up failed for %dx%d\n", w, h);
      return 1;
    }
    FILE* dump = fopen((out + "\\frames_" + argv[s] + ".bgra").c_str(), "wb");
    if (!dump) return 1;
    std::vector<uint8_t> i420(I420Size(w, h)), cachedOut(I420Size(w, h));
    CachedBgraToI420 cached;
    std::vector<double> capture, convert, convertCached, encode;
    long long bytes = 0;
    for (int i = 0; i < frames; ++i) {
      g_frame = i + 1;
      RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      Pump();
      GdiFlush();
      LARGE_INTEGER t0, t1, t2, t3, t4;
      uint8_t* pic = nullptr;
      QueryPerformanceCounter(&t0);
      if (captor.Capture(&pic) != 0 || !pic) return 1;
      QueryPerformanceCounter(&t1);
      ConvertBgraToI420(w, h, pic, i420.data());
      QueryPerformanceCounter(&t2);
      cached.Convert(w, h, pic, cachedOut.data());
      QueryPerformanceCounter(&t3);
      EncodedFrame f;
      bytes += encoder.Encode(i420.data(), &f);
      QueryPerformanceCounter(&t4);
      capture.push_back(Ms(t0, t1, freq));
      convert.push_back(Ms(t1, t2, freq));
      convertCached.push_back(Ms(t2, t3, freq));
      encode.push_back(Ms(t3, t4, freq));
      fwrite(pic, 1, static_cast<size_t>(w) * h * 4, dump);
    }
    fclose(dump);
    printf("RESULT %d %d %d %.3f %.3f %.3f %.3f %lld\n", w, h, frames, Median(capture),
           Median(convert), Median(convertCached), Median(encode), bytes);
    fflush(stdout);
  }
  DestroyWindow(hwnd);
  return 0;
}
