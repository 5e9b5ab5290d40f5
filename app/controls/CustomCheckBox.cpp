#include "app/controls/CustomCheckBox.h"

#include <algorithm>
#include <cmath>

bool CCustomCheckBox::showFocusCues = false;
bool CCustomCheckBox::focusCueDrawn = false;

CCustomCheckBox::CCustomCheckBox() = default;
CCustomCheckBox::~CCustomCheckBox() = default;

const cl::MessageMap* CCustomCheckBox::GetMessageMap() const {
  static const cl::MessageMap map{
      cl::CWnd::GetMessageMap(),
      {
          cl::OnMessage(cl::WM_REFLECT_BASE + WM_DRAWITEM, &CCustomCheckBox::OnDrawItem),
          cl::OnMessage(WM_LBUTTONDOWN, &CCustomCheckBox::OnLButtonDown),
          cl::OnMessage(WM_MOUSEMOVE, &CCustomCheckBox::OnMouseMove),
          cl::OnMessage(WM_MOUSEHOVER, &CCustomCheckBox::OnMouseHover),
          cl::OnMessage(WM_MOUSELEAVE, &CCustomCheckBox::OnMouseLeave),
          cl::OnMessage(WM_LBUTTONUP, &CCustomCheckBox::OnLButtonUp),
          cl::OnMessage(WM_KEYDOWN, &CCustomCheckBox::OnKeyDown),
          cl::OnMessage(WM_KEYUP, &CCustomCheckBox::OnKeyUp),
          cl::OnMessage(WM_ENABLE, &CCustomCheckBox::OnEnable),
          cl::OnMessage(WM_SETFOCUS, &CCustomCheckBox::OnSetFocus),
          cl::OnMessage(WM_KILLFOCUS, &CCustomCheckBox::OnKillFocus),
          cl::OnMessage(WM_ERASEBKGND, &CCustomCheckBox::OnEraseBkgnd),
      }};
  return &map;
}

LRESULT CCustomCheckBox::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // A double click is a second press: an owner-drawn button would report it
  // as BN_DOUBLECLICKED and the box would miss a toggle.
  if (message == WM_LBUTTONDBLCLK) message = WM_LBUTTONDOWN;
  return cl::CWnd::WindowProc(message, wParam, lParam);
}

void CCustomCheckBox::PreSubclassWindow() {
  LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  LONG_PTR ex = GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
  textOnLeft = (style & BS_LEFTTEXT) || (ex & WS_EX_RIGHT);
  multiLine = (style & BS_MULTILINE) != 0;
  int n = GetWindowTextLengthW(m_hWnd);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(m_hWnd, &t[0], n + 1);
  t.resize(static_cast<size_t>(n));
  text = t;
  if (!IsWindowEnabled(m_hWnd)) {
    disabled = true;
    imageIndex = kUncheckedDisabled;
  }
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
}

bool CCustomCheckBox::SetFontFamily(const wchar_t* face) { return kit::SetFontFamilyByName(&family_, face); }
Gdiplus::FontFamily* CCustomCheckBox::GetFontFamily() { return kit::GetFontFamilyLazy(&family_, m_hWnd); }

void CCustomCheckBox::PaintBackground(HDC dst, int w, int h) {
  if (backgroundOn) {
    if (background.parentDC) {
      background.CopyFrom(background.parentDC, dst, m_hWnd, w, h);
      return;
    }
    cl::CClientDC wdc(m_hWnd);
    if (background.EnsureCache(wdc)) {
      background.CopyFrom(background.cache.dc(), dst, m_hWnd, w, h);
      return;
    }
  }
  kit::CopyOwnScreen(m_hWnd, dst, w, h);
}

bool CCustomCheckBox::BuildImages() {
  boxSide_ = std::max(static_cast<int>(std::lround(fontSize)), boxSize);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  cl::CClientDC wdc(m_hWnd);
  for (int i = 0; i < kImageCount; ++i) {
    if (rebuild) {
      images_[i].Reset();
      boxDrawn_[i] = false;
    }
    std::unique_ptr<Gdiplus::Image> box;
    if (boxPng[i] <= 0 || !LoadPngImage(static_cast<UINT>(boxPng[i]), &box)) return false;
    RECT rc = client;
    if (!images_[i].ok()) {
      if (!images_[i].Create(wdc, rc.right, rc.bottom)) return false;
      PaintBackground(images_[i].dc(), rc.right, rc.bottom);
    }
    int y;
    if (rc.bottom < boxSide_) {
      // Too low for the box: it starts at the top and is cut at the
      // bottom (placing it at the last row would leave one row of it).
      y = 0;
      rc.bottom -= 1;
    } else {
      y = rc.bottom - boxSide_ < 3 ? 1 : 2;
    }
    const int x = textOnLeft ? rc.right - boxSize : 0;
    Gdiplus::Graphics g(images_[i].dc());
    if (!boxDrawn_[i]) {
      g.DrawImage(box.get(), Gdiplus::Rect(x, y, boxSize, boxSize), 0, 0, static_cast<INT>(box->GetWidth()),
                  static_cast<INT>(box->GetHeight()), Gdiplus::UnitPixel);
      boxDrawn_[i] = true;
    }
    if (!text.empty()) {
      RECT tr = textOnLeft ? RECT{rc.left, rc.top, rc.right - (boxSize + 6), rc.bottom + 2}
                           : RECT{rc.left + boxSize + 5, rc.top, rc.right, rc.bottom + 2};
      Gdiplus::Font font(GetFontFamily(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
      Gdiplus::SolidBrush brush{Gdiplus::Color(textColour)};
      Gdiplus::StringFormat format;
      format.SetAlignment(Gdiplus::StringAlignmentNear);
      format.SetLineAlignment(Gdiplus::StringAlignmentNear);
      if (!multiLine) format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
      g.DrawString(text.c_str(), -1, &font,
                   Gdiplus::RectF(static_cast<float>(tr.left), static_cast<float>(tr.top),
                                  static_cast<float>(tr.right - tr.left), static_cast<float>(tr.bottom - tr.top)),
                   &format, &brush);
      // The label's rectangle reaches 2 pixels below the control; the focus
      // rectangle stays inside, or its bottom line would never show.
      focusRect_ = tr;
      if (focusRect_.bottom > client.bottom) focusRect_.bottom = client.bottom;
    } else {
      focusRect_ = client;
    }
  }
  rebuild = false;
  imagesBuilt_ = true;
  background.Free();  // every image holds its slice now
  return true;
}

void CCustomCheckBox::DrawFocusCue(HDC dc) {
  if (hasFocusCue_ && showFocusCues) {
    DrawFocusRect(dc, &focusRect_);
    focusCueDrawn = true;
  }
}

void CCustomCheckBox::Show(HDC dc, int index) {
  if (!imagesBuilt_ || index < 0 || index >= kImageCount || !images_[index].ok()) return;
  SIZE sz = kit::ClientSize(m_hWnd);
  BitBlt(dc, 0, 0, sz.cx, sz.cy, images_[index].dc(), 0, 0, SRCCOPY);
  DrawFocusCue(dc);
}

LRESULT CCustomCheckBox::OnDrawItem(WPARAM, LPARAM lParam) {
  auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
  if (!d) return FALSE;
  if ((!imagesBuilt_ || rebuild) && !BuildImages()) return TRUE;
  Show(d->hDC, imageIndex);
  return TRUE;
}

void CCustomCheckBox::SetState(int index) {
  if (index == imageIndex) return;
  imageIndex = index;
  if (!m_hWnd) return;
  if (!imagesBuilt_) {
    InvalidateRect(m_hWnd, nullptr, FALSE);
    return;
  }
  cl::CClientDC dc(m_hWnd);
  Show(dc, index);
}

bool CCustomCheckBox::InsideClient(LPARAM lParam) const {
  POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  return PtInRect(&rc, pt) != FALSE;
}

LRESULT CCustomCheckBox::OnLButtonDown(WPARAM, LPARAM) {
  mouseDown_ = pressedInside_ = true;
  SetState(kCheckedHot + Unchecked());
  return Default();
}

LRESULT CCustomCheckBox::OnMouseMove(WPARAM, LPARAM lParam) {
  if (mouseDown_) {
    const bool inside = InsideClient(lParam);
    if (!inside && pressedInside_) {
      SetState(Unchecked());
      pressedInside_ = false;
    } else if (inside && !pressedInside_) {
      SetState(kCheckedHot + Unchecked());
      pressedInside_ = true;
    }
  }
  TRACKMOUSEEVENT t{sizeof(t), TME_HOVER | TME_LEAVE, m_hWnd, 1};
  TrackMouseEvent(&t);
  return Default();
}

LRESULT CCustomCheckBox::OnMouseHover(WPARAM, LPARAM) {
  SetState(kCheckedHot + Unchecked());
  return 0;
}

LRESULT CCustomCheckBox::OnMouseLeave(WPARAM, LPARAM) {
  SetState(Unchecked());
  return 0;
}

LRESULT CCustomCheckBox::OnLButtonUp(WPARAM, LPARAM lParam) {
  if (!mouseDown_) return 0;
  mouseDown_ = false;
  if (InsideClient(lParam)) {
    checked = !checked;
    // Held space keeps the hot image; its release then toggles nothing more
    // (the button reports one click for this press, so one toggle).
    if (spaceDown_) spaceConsumed_ = true;
    SetState(spaceDown_ ? kCheckedHot + Unchecked() : Unchecked());
  } else if (spaceDown_) {
    SetState(kCheckedHot + Unchecked());
  }
  return Default();
}

LRESULT CCustomCheckBox::OnKeyDown(WPARAM wParam, LPARAM) {
  if (wParam == VK_SPACE) {
    if (!spaceDown_) {
      spaceDown_ = true;
      spaceConsumed_ = false;
      if (!mouseDown_) SetState(kCheckedHot + Unchecked());
    }
  } else if (spaceDown_) {
    spaceDown_ = false;
    if (!mouseDown_) SetState(Unchecked());
  }
  return Default();
}

LRESULT CCustomCheckBox::OnKeyUp(WPARAM wParam, LPARAM) {
  if (wParam == VK_SPACE && spaceDown_) {
    spaceDown_ = false;
    if (!mouseDown_) {
      if (!spaceConsumed_) checked = !checked;
      SetState(Unchecked());
    }
    spaceConsumed_ = false;
  }
  return Default();
}

LRESULT CCustomCheckBox::OnEnable(WPARAM wParam, LPARAM) {
  if (wParam) {
    disabled = false;
    SetState(imageIndex == kCheckedDisabled ? kCheckedNormal : kUncheckedNormal);
  } else {
    disabled = true;
    SetState(kCheckedDisabled + Unchecked());
  }
  return Default();
}

LRESULT CCustomCheckBox::OnSetFocus(WPARAM, LPARAM) {
  hasFocusCue_ = showFocusCues;
  if (hasFocusCue_ && !focusCueDrawn && imagesBuilt_) {
    cl::CClientDC dc(m_hWnd);
    DrawFocusCue(dc);
  }
  return Default();
}

LRESULT CCustomCheckBox::OnKillFocus(WPARAM, LPARAM) {
  if (spaceDown_) {
    spaceDown_ = false;
    SetState(Unchecked());
  }
  hasFocusCue_ = false;
  if (showFocusCues && focusCueDrawn) {
    cl::CClientDC dc(m_hWnd);
    DrawFocusRect(dc, &focusRect_);
    focusCueDrawn = false;
  }
  return Default();
}

LRESULT CCustomCheckBox::OnEraseBkgnd(WPARAM, LPARAM) { return 1; }
