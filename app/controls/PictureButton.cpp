#include "app/controls/PictureButton.h"

CPictureButton::CPictureButton() = default;
CPictureButton::~CPictureButton() { DestroyTooltip(); }

// The tooltip is a top-level popup that Windows gives the button's frame as
// its owner: it does not go with the button by itself.
void CPictureButton::DestroyTooltip() {
  if (tooltip_) ::DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  shownTip_.clear();
}

LRESULT CPictureButton::OnDestroy(WPARAM, LPARAM) {
  DestroyTooltip();
  return Default();
}

const cl::MessageMap* CPictureButton::GetMessageMap() const {
  static const cl::MessageMap map{
      cl::CWnd::GetMessageMap(),
      {
          cl::OnMessage(cl::WM_REFLECT_BASE + WM_DRAWITEM, &CPictureButton::OnDrawItem),
          cl::OnMessage(WM_MOUSEMOVE, &CPictureButton::OnMouseMove),
          cl::OnMessage(WM_MOUSEHOVER, &CPictureButton::OnMouseHover),
          cl::OnMessage(WM_MOUSELEAVE, &CPictureButton::OnMouseLeave),
          cl::OnMessage(WM_SETFOCUS, &CPictureButton::OnSetFocus),
          cl::OnMessage(WM_KILLFOCUS, &CPictureButton::OnKillFocus),
          cl::OnMessage(WM_SETCURSOR, &CPictureButton::OnSetCursor),
          cl::OnMessage(WM_ERASEBKGND, &CPictureButton::OnEraseBkgnd),
          cl::OnMessage(WM_DESTROY, &CPictureButton::OnDestroy),
      }};
  return &map;
}

bool CPictureButton::Create(const wchar_t* text, DWORD style, const RECT& rect, HWND parent, UINT id) {
  if (!CreateEx(0, L"BUTTON", text, style | WS_CHILD, rect, parent, id)) return false;
  caption = text ? text : L"";
  return true;
}

void CPictureButton::PreSubclassWindow() {
  // The type bits are replaced, not or-ed: a radio button's type or-ed with
  // BS_OWNERDRAW would name no type at all.
  LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
  int n = GetWindowTextLengthW(m_hWnd);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(m_hWnd, &t[0], n + 1);
  t.resize(static_cast<size_t>(n));
  caption = t;
}

bool CPictureButton::SetFontFamily(const wchar_t* face) { return kit::SetFontFamilyByName(&family_, face); }

Gdiplus::FontFamily* CPictureButton::GetFontFamily() { return kit::GetFontFamilyLazy(&family_, m_hWnd); }

std::unique_ptr<Gdiplus::StringFormat> CPictureButton::MakeFormat() const {
  auto f = std::make_unique<Gdiplus::StringFormat>();
  f->SetAlignment(static_cast<Gdiplus::StringAlignment>(alignment));
  f->SetLineAlignment(static_cast<Gdiplus::StringAlignment>(lineAlignment));
  return f;
}

int CPictureButton::MeasureCaptionWidth(const std::wstring& text) {
  const std::wstring& t = text.empty() ? caption : text;
  if (t.empty()) return 0;
  SIZE sz = kit::ClientSize(m_hWnd);
  cl::CClientDC wdc(m_hWnd);
  kit::MemSurface tmp;
  tmp.Create(wdc, sz.cx > 0 ? sz.cx : 1, sz.cy > 0 ? sz.cy : 1);
  Gdiplus::Graphics g(tmp.ok() ? tmp.dc() : wdc.get());
  Gdiplus::Font font(GetFontFamily(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  Gdiplus::RectF box;
  g.MeasureString(t.c_str(), -1, &font, Gdiplus::RectF(0, 0, 1000.0f, 1000.0f), MakeFormat().get(), &box);
  return static_cast<int>(box.Width);
}

void CPictureButton::MarkDirty() {
  dirty_ = true;
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
}

int CPictureButton::ChooseState(UINT itemState) const {
  if (hover_) return (itemState & ODS_SELECTED) || checked ? kPressed : kHover;
  if (itemState & ODS_DISABLED) return kDisabled;
  return checked ? kPressed : kNormal;
}

LRESULT CPictureButton::OnDrawItem(WPARAM, LPARAM lParam) {
  auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
  if (!d) return FALSE;
  if (dirty_) renderOk_ = RenderStates();
  if (!renderOk_) return TRUE;
  const StateLook& s = states[ChooseState(d->itemState)];
  BitBlt(d->hDC, 0, 0, d->rcItem.right - d->rcItem.left, d->rcItem.bottom - d->rcItem.top, s.surface.dc(), 0, 0,
         SRCCOPY);
  return TRUE;
}

bool CPictureButton::RenderStates() {
  dirty_ = false;
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  cl::CClientDC wdc(m_hWnd);
  for (int i = 0; i < kStateCount; ++i) {
    StateLook& s = states[i];
    if (!s.surface.Create(wdc, rc.right, rc.bottom)) return false;
    PaintBackground(s.surface.dc(), rc.right, rc.bottom);
    if (!DrawState(s.surface.dc(), s.pngId, rc, i)) return false;
  }
  return true;
}

void CPictureButton::PaintBackground(HDC dst, int w, int h) {
  if (!background.HasPng()) {
    if (background.parentDC)
      background.CopyFrom(background.parentDC, dst, m_hWnd, w, h);
    else
      kit::CopyOwnScreen(m_hWnd, dst, w, h);
    return;
  }
  cl::CClientDC wdc(m_hWnd);
  if (background.EnsureCache(wdc))
    background.CopyFrom(background.cache.dc(), dst, m_hWnd, w, h);
  else
    kit::CopyOwnScreen(m_hWnd, dst, w, h);
}

bool CPictureButton::DrawState(HDC dc, int pngId, const RECT& rect, int state) {
  if (pngId == -1) return true;
  std::unique_ptr<Gdiplus::Image> png;
  if (pngId <= 0 || !LoadPngResource(static_cast<UINT>(pngId), &png)) return false;
  Gdiplus::Graphics g(dc);
  g.DrawImage(png.get(), Gdiplus::Rect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top), 0, 0,
              static_cast<INT>(png->GetWidth()), static_cast<INT>(png->GetHeight()), Gdiplus::UnitPixel);
  if (!caption.empty()) {
    int style = fontStyle;
    if (state == kHover) style = fontStyle != Gdiplus::FontStyleRegular ? hoverStyle : Gdiplus::FontStyleRegular;
    Gdiplus::Font font(GetFontFamily(), fontSize, style, static_cast<Gdiplus::Unit>(fontUnit));
    Gdiplus::SolidBrush brush{Gdiplus::Color(states[state].textColour)};
    Gdiplus::RectF r(static_cast<float>(textRect.left), static_cast<float>(textRect.top),
                     static_cast<float>(textRect.right - textRect.left),
                     static_cast<float>(textRect.bottom - textRect.top));
    g.DrawString(caption.c_str(), -1, &font, r, MakeFormat().get(), &brush);
  }
  return true;
}

LRESULT CPictureButton::OnMouseMove(WPARAM, LPARAM) {
  if (!tracking_) {
    TRACKMOUSEEVENT t{sizeof(t), TME_HOVER | TME_LEAVE, m_hWnd, 1};
    tracking_ = TrackMouseEvent(&t) != FALSE;
  }
  if (tooltipEnabled && alwaysTip)
    UpdateTooltip(tipText);
  else if (tooltipEnabled)
    ClearTooltip();
  return Default();
}

LRESULT CPictureButton::OnMouseHover(WPARAM, LPARAM) {
  hover_ = true;
  InvalidateRect(m_hWnd, nullptr, TRUE);
  return 0;
}

LRESULT CPictureButton::OnMouseLeave(WPARAM, LPARAM) {
  hover_ = false;
  tracking_ = false;
  if (!checked) InvalidateRect(m_hWnd, nullptr, FALSE);
  return 0;
}

LRESULT CPictureButton::OnSetFocus(WPARAM, LPARAM) {
  LRESULT r = Default();
  hover_ = true;
  InvalidateRect(m_hWnd, nullptr, FALSE);
  return r;
}

LRESULT CPictureButton::OnKillFocus(WPARAM, LPARAM) {
  LRESULT r = Default();
  hover_ = false;
  InvalidateRect(m_hWnd, nullptr, FALSE);
  return r;
}

LRESULT CPictureButton::OnSetCursor(WPARAM, LPARAM) {
  if (cursor) {
    SetCursor(cursor);
    return TRUE;
  }
  return Default();
}

LRESULT CPictureButton::OnEraseBkgnd(WPARAM, LPARAM) { return 1; }

BOOL CPictureButton::PreTranslateMessage(MSG* msg) {
  if (!tooltip_ && m_hWnd) {
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (tooltip_) {
      TOOLINFOW ti{};
      ti.cbSize = sizeof(ti);
      ti.uFlags = TTF_IDISHWND;
      ti.hwnd = m_hWnd;
      ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
      ti.lpszText = const_cast<wchar_t*>(L"");
      ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
      ::SendMessageW(tooltip_, TTM_ACTIVATE, TRUE, 0);
      ::SendMessageW(tooltip_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 500);
      ::SendMessageW(tooltip_, TTM_SETDELAYTIME, TTDT_INITIAL, 50);
    }
  }
  if (tooltip_) ::SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
  return cl::CWnd::PreTranslateMessage(msg);
}

void CPictureButton::UpdateTooltip(const std::wstring& text) {
  const std::wstring& use = fixedTip.empty() ? text : fixedTip;
  if (!tooltip_ || _wcsicmp(use.c_str(), shownTip_.c_str()) == 0) return;
  ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, tipMaxWidth);
  TOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.hwnd = m_hWnd;
  ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
  ti.lpszText = const_cast<wchar_t*>(use.c_str());
  ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  shownTip_ = use;
}

void CPictureButton::ClearTooltip() {
  if (!tooltip_ || shownTip_.empty()) return;
  wchar_t current[256] = {};
  TOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.hwnd = m_hWnd;
  ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
  ti.lpszText = current;
  ::SendMessageW(tooltip_, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&ti));
  if (current[0]) {
    ti.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  shownTip_.clear();
}
