// Shared pieces of the dialogs' tests: the message loop of the class layer,
// real input (SendInput) at screen coordinates, and the screen read back.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

namespace dlgtest {

// Runs this layer's loop (the PreTranslateMessage walk included) until
// pred() holds or ms pass; true when pred() held.
bool PumpUntil(const std::function<bool()>& pred, DWORD ms = 5000);
void Pump(DWORD ms);

void MouseMove(int x, int y);
void MouseDown();
void MouseUp();
void Click(int x, int y);
// Press at `from`, move in steps to `to`, release.
void Drag(POINT from, POINT to);
void Key(WORD vk);
void Wheel(int delta);

// The centre of a window in screen coordinates.
POINT CentreOf(HWND window);
// The colour the screen shows at (x, y).
COLORREF ScreenPixel(int x, int y);
bool Near(COLORREF a, COLORREF b, int tol = 3);
// With TESS_DIALOG_SHOTS naming a folder: the whole screen as NAME.png
// there, for a person to look at. Nothing otherwise.
void Shot(const char* name);

}  // namespace dlgtest
