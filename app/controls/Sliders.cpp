#include "app/controls/Sliders.h"

const cl::MessageMap* CCustomSliderCtrl::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_PAINT, &CCustomSliderCtrl::OnPaint),
                                      cl::OnMessage(WM_ERASEBKGND, &CCustomSliderCtrl::OnEraseBkgnd),
                                      cl::OnMessage(WM_SETFOCUS, &CCustomSliderCtrl::OnSetFocus),
                                  }};
  return &map;
}

void CCustomSliderCtrl::SetBackground(int x, int y) {
  std::unique_ptr<Gdiplus::Image> png;
  if (!LoadPngImage(kBackgroundPng, &png)) return;
  cl::CClientDC wdc(m_hWnd);
  if (!background_.Create(wdc, static_cast<int>(png->GetWidth()), static_cast<int>(png->GetHeight()))) return;
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  Gdiplus::Graphics g(background_.dc());
  g.DrawImage(png.get(), Gdiplus::Rect(0, 0, wr.right - wr.left, wr.bottom - wr.top), x, y, wr.right - wr.left,
              wr.bottom - wr.top, Gdiplus::UnitPixel);
}

int CCustomSliderCtrl::ThumbLengthFor(const RECT& thumb, int imageHeight) {
  const int h = thumb.bottom - thumb.top;
  if (h <= 0) return 0;
  return (thumb.right - thumb.left) / h * imageHeight;
}

void CCustomSliderCtrl::InitThumb() {
  if (!LoadPngImage(kThumbPng, &thumb_)) return;
  RECT r{};
  SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&r));
  if (int len = ThumbLengthFor(r, static_cast<int>(thumb_->GetHeight()))) {
    SendMessage(TBM_SETTHUMBLENGTH, static_cast<WPARAM>(len), 0);
    // The trackbar lays out its channel for the new length only when it is
    // sized (or, under Wine, at its next own paint, which ours replaces):
    // until then the thumb travels a channel made for the old length, and
    // sits elsewhere at the same position later.
    const SIZE sz = kit::ClientSize(m_hWnd);
    SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(sz.cx, sz.cy));
  }
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CCustomSliderCtrl::OnPaint(WPARAM, LPARAM) {
  // The trackbar invalidates only the rectangles its own thumb would cover,
  // which are not where the picture thumb is drawn: the whole control is
  // painted every time (it is small), so an old thumb never stays behind.
  InvalidateRect(m_hWnd, nullptr, FALSE);
  {
    cl::CPaintDC pdc(m_hWnd);
    const SIZE sz = kit::ClientSize(m_hWnd);
    kit::MemSurface frame;
    if (frame.Create(pdc, sz.cx, sz.cy)) {
      if (background_.ok()) BitBlt(frame.dc(), 0, 0, sz.cx, sz.cy, background_.dc(), 0, 0, SRCCOPY);
      if (thumb_) {
        RECT t{};
        SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&t));
        const int iw = static_cast<int>(thumb_->GetWidth());
        kit::DrawImageOn(frame.dc(), thumb_.get(), (sz.cx - iw) / 2, t.top, iw, t.bottom - t.top);
      }
      BitBlt(pdc, 0, 0, sz.cx, sz.cy, frame.dc(), 0, 0, SRCCOPY);
    }
  }
  // The trackbar's own painting finds nothing left to paint.
  return Default();
}

LRESULT CCustomSliderCtrl::OnEraseBkgnd(WPARAM, LPARAM) { return TRUE; }

LRESULT CCustomSliderCtrl::OnSetFocus(WPARAM wParam, LPARAM) {
  HWND previous = reinterpret_cast<HWND>(wParam);
  if (previous && IsWindow(previous)) ::SetFocus(previous);
  return 0;
}

const cl::MessageMap* CColorSlider::GetMessageMap() const {
  static const cl::MessageMap map{
      cl::CWnd::GetMessageMap(),
      {
          cl::OnMessage(cl::WM_REFLECT_BASE + cl::WM_CTLCOLOR_LEGACY, &CColorSlider::OnReflectedCtlColor),
      }};
  return &map;
}

LRESULT CColorSlider::OnReflectedCtlColor(WPARAM wParam, LPARAM) {
  SetBkColor(reinterpret_cast<HDC>(wParam), backColour);
  return reinterpret_cast<LRESULT>(backBrush.get());
}
