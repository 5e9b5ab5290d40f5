#include "engine/capture/MonitorList.h"

#include "classlib/Handle.h"
#include "foundation/sys/LibraryLoad.h"
#include "foundation/sys/SysUtil.h"

CMonitorList::CMonitorList() { Clear(); }

CMonitorList::~CMonitorList() { Clear(); }

void CMonitorList::Clear() {
  ScopedLock<CBaseMutex> guard(lock_);
  monitors_.clear();
  rects_.clear();
  names_.clear();
  currentIndex_ = lastSecondaryIndex_ = primaryIndex_ = 0;
  minLeft_ = minTop_ = maxRight_ = maxBottom_ = 0;
  boundingWidth_ = boundingHeight_ = 0;
}

bool CMonitorList::Enumerate() {
  Clear();
  if (!EnumDisplayMonitors(nullptr, nullptr, &CMonitorList::MonitorEnumProc,
                           reinterpret_cast<LPARAM>(this)))
    return false;
  if (useSecondary) currentIndex_ = lastSecondaryIndex_;
  return Count() > 0;
}

// The monitor-information record gives what the captors and the display
// manager need: logical rectangles and the monitor's own device name. The
// display mode would give physical pixels under DPI scaling, and the display
// device's DeviceString is a description ("Generic Non-PnP Monitor"), not a
// name anything can be matched against, so neither is used.
BOOL CALLBACK CMonitorList::MonitorEnumProc(HMONITOR monitor, HDC, LPRECT, LPARAM self) {
  MONITORINFOEXW info{};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(monitor, &info)) return TRUE;
  reinterpret_cast<CMonitorList*>(self)->AddMonitor(monitor, info.rcMonitor, info.dwFlags,
                                                    info.szDevice);
  return TRUE;
}

void CMonitorList::AddMonitor(HMONITOR monitor, const RECT& r, DWORD flags,
                              const std::wstring& name) {
  ScopedLock<CBaseMutex> guard(lock_);
  MonitorRect m{r.left, r.top, r.right, r.bottom, r.right - r.left, r.bottom - r.top};
  const int index = static_cast<int>(rects_.size());
  monitors_.push_back(monitor);
  rects_.push_back(m);
  names_.push_back(name);
  if (flags == MONITORINFOF_PRIMARY) {
    currentIndex_ = index;
    primaryIndex_ = index;
  } else {
    lastSecondaryIndex_ = index;
  }
  if (m.left < minLeft_) minLeft_ = m.left;
  if (m.top < minTop_) minTop_ = m.top;
  if (m.right > maxRight_) maxRight_ = m.right;
  if (m.bottom > maxBottom_) maxBottom_ = m.bottom;
  boundingWidth_ = maxRight_ - minLeft_;
  boundingHeight_ = maxBottom_ - minTop_;
}

int CMonitorList::Count() const {
  ScopedLock<CBaseMutex> guard(lock_);
  return static_cast<int>(rects_.size());
}

bool CMonitorList::GetRect(int index, MonitorRect* rect) const {
  ScopedLock<CBaseMutex> guard(lock_);
  if (index < 0 || index >= static_cast<int>(rects_.size()) || !rect) return false;
  *rect = rects_[index];
  return true;
}

std::wstring CMonitorList::GetName(int index) const {
  ScopedLock<CBaseMutex> guard(lock_);
  if (index < 0 || index >= static_cast<int>(names_.size())) return std::wstring();
  return names_[index];
}

std::wstring CMonitorList::GetCurrentName() const { return GetName(currentIndex_); }

HMONITOR CMonitorList::GetHandle(int index) const {
  ScopedLock<CBaseMutex> guard(lock_);
  if (index < 0 || index >= static_cast<int>(monitors_.size())) return nullptr;
  return monitors_[index];
}

RECT CMonitorList::BoundingBox() const {
  ScopedLock<CBaseMutex> guard(lock_);
  return RECT{minLeft_, minTop_, maxRight_, maxBottom_};
}

float CMonitorList::ScaleStep(float factor) {
  if (factor <= 1.0f) return 1.0f;
  if (factor <= 1.25f) return 1.25f;
  return 1.5f;
}

float CMonitorList::GetWindowDpiScale(HWND window) const {
  RECT wr;
  if (!window || !GetWindowRect(window, &wr)) return 1.0f;
  const POINT corner{wr.left, wr.top};
  HMONITOR monitor = nullptr;
  {
    ScopedLock<CBaseMutex> guard(lock_);
    for (size_t i = 0; i < rects_.size(); ++i) {
      const MonitorRect& m = rects_[i];
      const RECT r{m.left, m.top, m.right, m.bottom};
      if (PtInRect(&r, corner)) {
        monitor = monitors_[i];
        break;
      }
    }
  }
  if (!monitor) return 1.0f;
  float x = 1.0f, y = 1.0f;
  GetMonitorDpiScale(monitor, &x, &y);
  return ScaleStep(x);
}

void GetMonitorDpiScale(HMONITOR monitor, float* scaleX, float* scaleY) {
  if (scaleX) *scaleX = 1.0f;
  if (scaleY) *scaleY = 1.0f;
  if (GetOSVersionCode() != OSVER_WIN10) return;
  cl::UniqueModule shcore(LoadSystemLibrary(L"Shcore.dll"));
  if (!shcore) return;
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  auto fn = reinterpret_cast<GetDpiForMonitorFn>(GetProcAddress(shcore.get(), "GetDpiForMonitor"));
  if (fn) {
    UINT dpiX = 96, dpiY = 96;
    if (SUCCEEDED(fn(monitor, 0 /* MDT_EFFECTIVE_DPI */, &dpiX, &dpiY))) {
      if (scaleX) *scaleX = static_cast<float>(dpiX) / 96.0f;
      if (scaleY) *scaleY = static_cast<float>(dpiY) / 96.0f;
    }
  }
}
