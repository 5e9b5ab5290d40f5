// A snapshot of the monitors that make up the Windows desktop: each one's
// rectangle on the virtual desktop (logical units, as GDI capture sees
// them), its device name ("\\.\DISPLAY1") and handle, which one is primary,
// and the bounding box of all. Filled once by Enumerate(); never refreshed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/thread/Threads.h"

struct MonitorRect {
  int32_t left, top, right, bottom;
  int32_t width, height;  // right - left, bottom - top
};

class CMonitorList {
 public:
  CMonitorList();
  ~CMonitorList();
  CMonitorList(const CMonitorList&) = delete;
  CMonitorList& operator=(const CMonitorList&) = delete;

  // EnumDisplayMonitors over the whole desktop; then currentIndex is the
  // primary monitor (or the last secondary one when useSecondary is set).
  // False when the enumeration failed or found no monitor.
  bool Enumerate();
  void Clear();

  // Appends one monitor: rectangle, device name, primary flag, bounding box.
  void AddMonitor(HMONITOR monitor, const RECT& rect, DWORD flags, const std::wstring& name);

  // Reads, each under the list's lock.
  int Count() const;
  bool GetRect(int index, MonitorRect* rect) const;
  std::wstring GetName(int index) const;
  std::wstring GetCurrentName() const;
  HMONITOR GetHandle(int index) const;

  int currentIndex() const { return currentIndex_; }
  int primaryIndex() const { return primaryIndex_; }
  int lastSecondaryIndex() const { return lastSecondaryIndex_; }
  RECT BoundingBox() const;
  int boundingWidth() const { return boundingWidth_; }
  int boundingHeight() const { return boundingHeight_; }

  // 1.0, 1.25 or 1.5 for the monitor under the window's top-left corner;
  // 1.0 without a window or a monitor there.
  float GetWindowDpiScale(HWND window) const;
  // The scale step for an effective DPI factor: up to 1.0 gives 1.0, up to
  // 1.25 gives 1.25, above gives 1.5.
  static float ScaleStep(float factor);

  static BOOL CALLBACK MonitorEnumProc(HMONITOR monitor, HDC dc, LPRECT clip, LPARAM self);

  bool useSecondary = false;

 private:
  int currentIndex_ = 0;
  int lastSecondaryIndex_ = 0;
  int primaryIndex_ = 0;
  int minLeft_ = 0, minTop_ = 0, maxRight_ = 0, maxBottom_ = 0;
  int boundingWidth_ = 0, boundingHeight_ = 0;
  std::vector<HMONITOR> monitors_;
  std::vector<MonitorRect> rects_;
  std::vector<std::wstring> names_;
  mutable CBaseMutex lock_;
};

// Effective DPI of the monitor divided by 96 (Windows 10 and later, through
// Shcore's GetDpiForMonitor); 1.0 in both outputs otherwise.
void GetMonitorDpiScale(HMONITOR monitor, float* scaleX, float* scaleY);
