#include "engine/display/DisplayDecisions.h"

#include <algorithm>
#include <cwctype>

namespace display {

namespace {

long long Abs(long long v) { return v < 0 ? -v : v; }

}  // namespace

const int kSideSearchOrder[4] = {kSideRight, kSideLeft, kSideTop, kSideDown};

const char* SideName(int side) {
  switch (side) {
    case kSideTop: return "TOP";
    case kSideDown: return "DOWN";
    case kSideLeft: return "LEFT";
    default: return "RIGHT";
  }
}

bool RectsOverlap(const Rect& a, const Rect& b) {
  return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

void PositionForSide(int side, int W, int H, int w, int h, int* x, int* y) {
  switch (side) {
    case kSideTop: *x = 0; *y = -h; break;
    case kSideDown: *x = 0; *y = H; break;
    case kSideLeft: *x = -w; *y = 0; break;
    default: *x = W; *y = 0; break;
  }
}

Rect SideRect(int side, int W, int H, int w, int h) {
  switch (side) {
    case kSideTop: return Rect{0, -h, w, 0};
    case kSideDown: return Rect{0, H, w, H + h};
    case kSideLeft: return Rect{-w, 0, 0, h};
    default: return Rect{W, 0, W + w, h};
  }
}

int FirstFreeSide(int W, int H, int w, int h, const std::vector<Rect>& occupied) {
  for (int side : kSideSearchOrder) {
    const Rect r = SideRect(side, W, H, w, h);
    bool free = true;
    for (const Rect& o : occupied)
      if (RectsOverlap(r, o)) free = false;
    if (free) return side;
  }
  return -1;
}

long long ResolutionScore(int W, int H, int w, int h) {
  if (W <= 0 || H <= 0 || w <= 0 || h <= 0) return -1;
  const long long aspect =
      Abs(static_cast<long long>(h) * W - static_cast<long long>(w) * H) * 100 / H / h;
  const long long dw = Abs(static_cast<long long>(W) - w) * 5 * (w >= W ? 3 : 1);
  const long long dh = Abs(static_cast<long long>(H) - h) * (h >= H ? 3 : 1);
  return aspect + dw + dh;
}

std::vector<Size> CandidateSizes(const std::vector<Size>& modes) {
  std::vector<Size> out;
  for (const Size& m : modes) {
    if (m.width <= 0 || m.height <= 0 || m.width % 2 != 0 || m.height % 2 != 0) continue;
    bool seen = false;
    for (const Size& o : out)
      if (o.width == m.width && o.height == m.height) seen = true;
    if (!seen) out.push_back(m);
  }
  std::sort(out.begin(), out.end(), [](const Size& a, const Size& b) {
    return a.width != b.width ? a.width < b.width : a.height < b.height;
  });
  return out;
}

bool PickResolution(const std::vector<Size>& candidates, int W, int H, Size* chosen) {
  long long best = -1;
  for (const Size& c : candidates) {
    const long long s = ResolutionScore(W, H, c.width, c.height);
    if (s < 0) continue;
    if (best < 0 || s < best) {
      best = s;
      *chosen = c;
    }
  }
  return best >= 0;
}

bool SameDeviceName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

int FindMonitorByDeviceName(const std::vector<std::wstring>& names, const std::wstring& device) {
  for (size_t i = 0; i < names.size(); ++i)
    if (SameDeviceName(names[i], device)) return static_cast<int>(i);
  return -1;
}

}  // namespace display
