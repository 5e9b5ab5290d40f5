// The extended display's decisions as plain functions: where the extra
// monitor goes beside the primary, which mode it gets, which monitor it
// became. No Windows headers: the display code feeds them what Windows
// reports.
#pragma once

#include <string>
#include <vector>

namespace display {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

struct Size {
  int width = 0, height = 0;
};

// Sides, numbered as the "XDisplayDirection" value names them.
enum Side { kSideTop = 0, kSideDown = 1, kSideLeft = 2, kSideRight = 3 };

const char* SideName(int side);  // "TOP", "DOWN", "LEFT", "RIGHT"

// Two rectangles share a point (edges included). This also catches
// rectangles that cross without either holding a corner of the other.
bool RectsOverlap(const Rect& a, const Rect& b);

// Where a monitor of w x h goes on `side` of a primary of W x H: 0 above
// (0, -h), 1 below (0, H), 2 left (-w, 0), anything else right (W, 0).
void PositionForSide(int side, int W, int H, int w, int h, int* x, int* y);

// The rectangle a w x h monitor would take on a side, as the free-side
// search checks it: RIGHT (W, 0, W + w, h), LEFT (-w, 0, 0, h), TOP (0, -h,
// w, 0), DOWN (0, H, w, H + h).
Rect SideRect(int side, int W, int H, int w, int h);

// The order the free-side search tries: RIGHT, LEFT, TOP, DOWN.
extern const int kSideSearchOrder[4];

// The first side in search order whose rectangle overlaps none of
// `occupied`; -1 when every side is taken.
int FirstFreeSide(int W, int H, int w, int h, const std::vector<Rect>& occupied);

// How far a mode w x h is from the requested W x H (lower is closer):
// aspect difference in percent, plus width and height differences, where
// sizes at or above the request count three times (a smaller mode is
// cheaper to mirror). -1 when either size has a zero side.
long long ResolutionScore(int W, int H, int w, int h);

// The distinct sizes with both sides even and non-zero, ordered by width
// then height.
std::vector<Size> CandidateSizes(const std::vector<Size>& modes);

// The candidate with the lowest score (the earlier on a tie); false when
// there is no candidate.
bool PickResolution(const std::vector<Size>& candidates, int W, int H, Size* chosen);

// Display device names compare without regard to case ("\\.\DISPLAY2"
// against "\\.\display2").
bool SameDeviceName(const std::wstring& a, const std::wstring& b);

// Index of the first name equal to `device` (case-blind); -1 when none.
int FindMonitorByDeviceName(const std::vector<std::wstring>& names, const std::wstring& device);

}  // namespace display
