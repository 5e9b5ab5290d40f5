// Shared pieces of the dialogs' tests: the drive helpers of UiDrive with this
// binary's settle times, and screenshots for a person to look at.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "support/UiDrive.h"

namespace dlgtest {

using uidrive::CentreOf;
using uidrive::Click;
using uidrive::MouseDown;
using uidrive::MouseMove;
using uidrive::MouseUp;
using uidrive::Pump;
using uidrive::PumpUntil;
using uidrive::ScreenPixel;

// Press at `from`, move in steps to `to`, release.
void Drag(POINT from, POINT to);
void Key(WORD vk);
void Wheel(int delta);

// True when the two colours differ by at most tol in each channel.
inline bool Near(COLORREF a, COLORREF b, int tol = 3) { return uidrive::Near(a, b, tol); }

// With TESS_DIALOG_SHOTS naming a folder: the whole screen as NAME.png
// there, for a person to look at. Nothing otherwise.
void Shot(const char* name);

}  // namespace dlgtest
