#include "app/dialogs/DragDrop.h"

#include <algorithm>
#include <cstdlib>

#include "app/AppMessages.h"
#include "app/resources/resource.h"
#include "classlib/Gdi.h"
#include "foundation/sys/SysUtil.h"

namespace {

POINT PointOf(LPARAM lParam) { return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))}; }

}  // namespace

CDragDrop::CDragDrop(cl::CWnd* owner) : cl::CDialog(IDD_DRAG_DROP, nullptr), owner_(owner) {}

CDragDrop::~CDragDrop() { DestroyWindow(); }

const cl::MessageMap* CDragDrop::GetMessageMap() const {
  static const cl::MessageMap map{cl::CDialog::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_LBUTTONDOWN, &CDragDrop::OnLButtonDown),
                                      cl::OnMessage(WM_MOUSEMOVE, &CDragDrop::OnMouseMove),
                                      cl::OnMessage(WM_LBUTTONUP, &CDragDrop::OnLButtonUp),
                                      cl::OnMessage(WM_PAINT, &CDragDrop::OnPaint),
                                      cl::OnMessage(WM_ERASEBKGND, &CDragDrop::OnEraseBkgnd),
                                      cl::OnMessage(WM_KEYDOWN, &CDragDrop::OnKeyDown),
                                  }};
  return &map;
}

void CDragDrop::ShowPicker() {
  RECT r{};
  GetWindowRect(m_hWnd, &r);
  ShowWindow(SW_HIDE);
  CaptureScreenRect(r, screenshot);
  picture_.reset(screenshot.IsNull() ? nullptr : Gdiplus::Bitmap::FromHBITMAP(screenshot, nullptr));
  dragging = false;
  mouseSeen_ = false;
  // Shown over exactly that rectangle as a normal (not maximised) window:
  // Wine keeps the X window of a maximised popup at its restored size, so
  // a maximised picker would cover only part of the monitor there.
  WINDOWPLACEMENT place{sizeof(place)};
  MONITORINFO monitor{sizeof(monitor)};
  if (GetWindowPlacement(m_hWnd, &place) && GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &monitor)) {
    // Workspace coordinates: relative to the work area's corner.
    const int dx = monitor.rcWork.left - monitor.rcMonitor.left, dy = monitor.rcWork.top - monitor.rcMonitor.top;
    place.rcNormalPosition = {r.left - dx, r.top - dy, r.right - dx, r.bottom - dy};
    place.showCmd = SW_SHOWNORMAL;
    place.flags = 0;
    SetWindowPlacement(m_hWnd, &place);
  }
  // Above every other window, or one that keeps itself on top (a player,
  // a presentation) would take the drag meant for the picker.
  SetWindowPos(m_hWnd, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_SHOWWINDOW);
  SetForegroundWindow(m_hWnd);
  ::SetFocus(m_hWnd);
  RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

POINT CDragDrop::LastMouse() const {
  if (mouseSeen_) return mouse_;
  POINT p{};
  GetCursorPos(&p);
  ScreenToClient(m_hWnd, &p);
  return p;
}

void CDragDrop::DrawFrame(HDC dc, POINT mouse) {
  RECT client{};
  GetClientRect(m_hWnd, &client);
  const int w = client.right, h = client.bottom;
  if (w <= 0 || h <= 0) return;
  cl::CMemoryDC mem(dc);
  cl::CBitmap frame(CreateCompatibleBitmap(dc, w, h));
  if (!mem || !frame) return;
  cl::ScopedSelect select(mem, frame);
  {
    Gdiplus::Graphics g(mem);
    if (picture_) {
      g.DrawImage(picture_.get(), Gdiplus::Rect(0, 0, w, h), 0, 0, static_cast<INT>(picture_->GetWidth()),
                  static_cast<INT>(picture_->GetHeight()), Gdiplus::UnitPixel);
    } else {
      g.Clear(Gdiplus::Color(0xFF000000));
    }
    Gdiplus::SolidBrush mask{Gdiplus::Color(kMaskColour)};
    Gdiplus::Pen guide(Gdiplus::Color(kGuideColour), 1.0f);
    if (dragging) {
      endPoint = mouse;
      const int l = std::min(startPoint.x, mouse.x), r = std::max(startPoint.x, mouse.x);
      const int t = std::min(startPoint.y, mouse.y), b = std::max(startPoint.y, mouse.y);
      // Four bands that do not overlap, so the darkening is even.
      g.FillRectangle(&mask, 0, 0, w, t);
      g.FillRectangle(&mask, 0, t, l, h - t);
      g.FillRectangle(&mask, l, b, w - l, h - b);
      g.FillRectangle(&mask, r, t, w - r, b - t);
      g.DrawLine(&guide, startPoint.x, 0, startPoint.x, h);
      g.DrawLine(&guide, 0, startPoint.y, w, startPoint.y);
    } else {
      g.FillRectangle(&mask, 0, 0, w, h);
    }
    g.DrawLine(&guide, mouse.x, 0, mouse.x, h);
    g.DrawLine(&guide, 0, mouse.y, w, mouse.y);
  }
  BitBlt(dc, 0, 0, w, h, mem, 0, 0, SRCCOPY);
}

void CDragDrop::DrawToWindow(POINT mouse) {
  cl::CClientDC dc(m_hWnd);
  DrawFrame(dc, mouse);
}

LRESULT CDragDrop::OnLButtonDown(WPARAM, LPARAM lParam) {
  dragging = true;
  startPoint = endPoint = PointOf(lParam);
  SetCapture(m_hWnd);
  // The keyboard too, so that Escape during the drag reaches the picker
  // even when another window took the focus after ShowPicker (under Wine,
  // the window the pointer left when the picker last hid can).
  if (::GetForegroundWindow() != m_hWnd) SetForegroundWindow(m_hWnd);
  if (::GetFocus() != m_hWnd) ::SetFocus(m_hWnd);
  return Default();
}

LRESULT CDragDrop::OnMouseMove(WPARAM, LPARAM lParam) {
  mouse_ = PointOf(lParam);
  mouseSeen_ = true;
  DrawToWindow(mouse_);
  return Default();
}

LRESULT CDragDrop::OnLButtonUp(WPARAM, LPARAM lParam) {
  if (!dragging) return Default();  // the button went down elsewhere
  endPoint = PointOf(lParam);
  dragging = false;
  if (GetCapture() == m_hWnd) ReleaseCapture();
  LRESULT r = Default();
  ShowWindow(SW_HIDE);
  if (std::abs(endPoint.x - startPoint.x) < 2 || std::abs(endPoint.y - startPoint.y) < 2) return r;
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  startPoint.x += wr.left;
  startPoint.y += wr.top;
  endPoint.x += wr.left;
  endPoint.y += wr.top;
  if (owner_ && owner_->m_hWnd) ::PostMessageW(owner_->m_hWnd, WM_AREA_SELECTED, 0, 0);
  return r;
}

LRESULT CDragDrop::OnPaint(WPARAM, LPARAM) {
  cl::CPaintDC dc(m_hWnd);
  DrawFrame(dc, LastMouse());
  return 0;
}

LRESULT CDragDrop::OnEraseBkgnd(WPARAM, LPARAM) { return 1; }

LRESULT CDragDrop::OnKeyDown(WPARAM wParam, LPARAM) {
  if (wParam == VK_ESCAPE) {
    Cancel();
    return 0;
  }
  return Default();
}

void CDragDrop::OnCancel() { Cancel(); }

void CDragDrop::Cancel() {
  dragging = false;
  if (GetCapture() == m_hWnd) ReleaseCapture();
  ShowWindow(SW_HIDE);
}
