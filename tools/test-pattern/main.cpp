// test-pattern [--seconds N] [--still] [--rect L,T,R,B]
// Shows the test picture in a topmost window over the primary screen (or the
// given rectangle) for a person or a mirroring demo to look at; animated
// unless --still. Ends after N seconds (default 60) or when closed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "classlib/Gdi.h"
#include "tools/test-pattern/Pattern.h"

namespace {

bool g_animated = true;
int g_frame = 0;

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      cl::CPaintDC dc(hwnd);
      RECT rc;
      GetClientRect(hwnd, &rc);
      // Drawn off screen first so a capture never sees a half-drawn picture.
      cl::CMemoryDC mem(dc);
      cl::CBitmap bmp(CreateCompatibleBitmap(dc, rc.right, rc.bottom));
      cl::ScopedSelect select(mem, bmp);
      DrawTestPattern(mem, rc, g_frame, g_animated);
      BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
      return 0;
    }
    case WM_TIMER:
      if (wp == 1) {
        ++g_frame;
        InvalidateRect(hwnd, nullptr, FALSE);
      } else {
        DestroyWindow(hwnd);
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  RECT rc{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--still")) g_animated = false;
    else if (!strcmp(argv[i], "--rect") && i + 1 < argc) {
      if (sscanf(argv[++i], "%ld,%ld,%ld,%ld", &rc.left, &rc.top, &rc.right, &rc.bottom) != 4) {
        fprintf(stderr, "test-pattern: --rect L,T,R,B\n");
        return 2;
      }
    } else {
      fprintf(stderr, "usage: test-pattern [--seconds N] [--still] [--rect L,T,R,B]\n");
      return 2;
    }
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = L"TessTestPattern";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"Tessarine test pattern",
                              WS_POPUP | WS_VISIBLE, rc.left, rc.top, rc.right - rc.left,
                              rc.bottom - rc.top, nullptr, nullptr, wc.hInstance, nullptr);
  if (!hwnd) {
    fprintf(stderr, "test-pattern: no window (%lu)\n", GetLastError());
    return 1;
  }
  if (g_animated) SetTimer(hwnd, 1, 100, nullptr);
  SetTimer(hwnd, 2, static_cast<UINT>(seconds > 0 ? seconds : 1) * 1000, nullptr);
  printf("test-pattern: showing %ldx%ld at %ld,%ld for %d s\n", rc.right - rc.left,
         rc.bottom - rc.top, rc.left, rc.top, seconds);
  fflush(stdout);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
