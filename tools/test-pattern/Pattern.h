// A recognisable test picture drawn with GDI: colour bars, a grey ramp, a
// checkerboard, a title, and (when animated) a clock and a square that moves
// with the frame number. Shared by the test-pattern program, the capture
// tests and the benchmark, so all of them look at the same content.
#pragma once

#include <windows.h>

#include <cwchar>

inline void DrawTestPattern(HDC dc, const RECT& area, int frame, bool animated) {
  const int w = area.right - area.left;
  const int h = area.bottom - area.top;
  if (w <= 0 || h <= 0) return;
  auto fill = [&](int l, int t, int r, int b, COLORREF c) {
    RECT rc{area.left + l, area.top + t, area.left + r, area.top + b};
    HBRUSH br = CreateSolidBrush(c);
    FillRect(dc, &rc, br);
    DeleteObject(br);
  };
  // Colour bars over the top half.
  const COLORREF bars[8] = {RGB(235, 235, 235), RGB(235, 235, 16), RGB(16, 235, 235),
                            RGB(16, 235, 16),   RGB(235, 16, 235), RGB(235, 16, 16),
                            RGB(16, 16, 235),   RGB(16, 16, 16)};
  const int barsBottom = h / 2;
  for (int i = 0; i < 8; ++i) fill(w * i / 8, 0, w * (i + 1) / 8, barsBottom, bars[i]);
  // A grey ramp in 32 steps.
  const int rampBottom = barsBottom + h / 8;
  for (int i = 0; i < 32; ++i) {
    const int g = i * 255 / 31;
    fill(w * i / 32, barsBottom, w * (i + 1) / 32, rampBottom, RGB(g, g, g));
  }
  // A checkerboard of 40-pixel squares on dark blue.
  fill(0, rampBottom, w, h, RGB(20, 30, 90));
  const int cell = 40;
  for (int y = rampBottom; y + cell <= h; y += cell)
    for (int x = 0; x + cell <= w / 3; x += cell)
      if (((x / cell) + (y / cell)) % 2 == 0) fill(x, y, x + cell, y + cell, RGB(200, 200, 200));

  HFONT font = CreateFontW(-h / 12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                           DEFAULT_PITCH, L"Arial");
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 220, 0));
  RECT text{area.left + w / 3 + 20, area.top + rampBottom + 10, area.right - 10, area.bottom};
  DrawTextW(dc, L"Tessarine test pattern", -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE);
  if (animated) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t clock[64];
    _snwprintf(clock, 64, L"%02u:%02u:%02u  frame %d", st.wHour, st.wMinute, st.wSecond, frame);
    clock[63] = 0;
    SetTextColor(dc, RGB(255, 255, 255));
    text.top += h / 8;
    DrawTextW(dc, clock, -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE);
    // A square sweeping across the bars.
    const int side = h / 8;
    const int span = w - side;
    const int x = span > 0 ? (frame * 8) % (2 * span) : 0;
    const int left = x < span ? x : 2 * span - x;
    fill(left, barsBottom / 2 - side / 2, left + side, barsBottom / 2 + side / 2, RGB(255, 128, 0));
  }
  SelectObject(dc, old);
  DeleteObject(font);
}
