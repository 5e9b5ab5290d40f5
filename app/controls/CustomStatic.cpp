#include "app/controls/CustomStatic.h"

#include "foundation/browser/Browser.h"

CCustomStatic::CCustomStatic() = default;
CCustomStatic::~CCustomStatic() = default;

const cl::MessageMap* CCustomStatic::GetMessageMap() const {
  static const cl::MessageMap map{
      cl::CWnd::GetMessageMap(),
      {
          cl::OnMessage(WM_PAINT, &CCustomStatic::OnPaint),
          cl::OnMessage(WM_ERASEBKGND, &CCustomStatic::OnEraseBkgnd),
          cl::OnMessage(WM_SIZE, &CCustomStatic::OnSize),
          cl::OnMessage(WM_SETCURSOR, &CCustomStatic::OnSetCursor),
          cl::OnMessage(cl::WM_REFLECT_BASE + WM_COMMAND, &CCustomStatic::OnReflectedCommand),
          cl::OnMessage(WM_SETFOCUS, &CCustomStatic::OnSetFocus),
          cl::OnMessage(WM_KILLFOCUS, &CCustomStatic::OnKillFocus),
      }};
  return &map;
}

bool CCustomStatic::Create(const wchar_t* text, DWORD style, const RECT& rect, HWND parent, UINT id) {
  if (!CreateEx(0, L"STATIC", text, style | WS_CHILD, rect, parent, id)) return false;
  text_ = text ? text : L"";
  return true;
}

void CCustomStatic::PreSubclassWindow() {
  int n = GetWindowTextLengthW(m_hWnd);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(m_hWnd, &t[0], n + 1);
  t.resize(static_cast<size_t>(n));
  text_ = t;
  // Only the type bits are replaced: or-ing SS_OWNERDRAW into a right-aligned
  // static would make it a metafile static.
  LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~SS_TYPEMASK) | SS_OWNERDRAW | SS_NOTIFY);
}

std::unique_ptr<Gdiplus::StringFormat> CCustomStatic::MakeFormat() const {
  auto f = std::make_unique<Gdiplus::StringFormat>();
  f->SetAlignment(static_cast<Gdiplus::StringAlignment>(alignment));
  f->SetLineAlignment(static_cast<Gdiplus::StringAlignment>(lineAlignment));
  return f;
}

void CCustomStatic::Refresh() {
  // Focus rectangles are drawn over the picture: a cached picture covers
  // them again by itself, text drawn straight onto the screen does not.
  if (useBackground)
    InvalidateRect(m_hWnd, nullptr, FALSE);
  else
    Repaint();
}

void CCustomStatic::Repaint() {
  rendered_ = false;
  cacheValid_ = false;
  if (!m_hWnd) return;
  if (!useBackground) {
    // Drawn straight onto the screen: the parent repaints what lies under
    // the control first, so a new text never lands on the old one.
    HWND parent = ::GetParent(m_hWnd);
    RECT r;
    GetWindowRect(m_hWnd, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    if (parent) RedrawWindow(parent, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
  InvalidateRect(m_hWnd, nullptr, FALSE);
}

int CCustomStatic::SetText(const std::wstring& text) {
  runs_.inUse = false;
  runs_.overflowIndex = 0;
  text_ = text;
  if (m_hWnd) SetWindowTextW(m_hWnd, text.c_str());
  Repaint();
  return 1;
}

void CCustomStatic::SetRuns(const TextRunBlock& block) {
  runs_ = block;
  if (m_hWnd) SetWindowTextW(m_hWnd, runs_.text.c_str());
  LayoutRuns();
  Repaint();
}

bool CCustomStatic::SetFontFamily(const wchar_t* face) { return kit::SetFontFamilyByName(&family_, face); }

Gdiplus::FontFamily* CCustomStatic::GetFontFamily() {
  return kit::GetFontFamilyLazy(&family_, m_hWnd);
}

int CCustomStatic::SetFontSize(float size, float minimum) {
  const float k = kit::ScreenPointFactor();
  fontSize = nominalSize = size * k;
  minimumSize = minimum * k;
  return 1;
}

std::wstring CCustomStatic::GetDisplayText() const { return runs_.inUse ? runs_.text : text_; }

void CCustomStatic::OpenLink(const std::wstring& target) { OpenUrlInBrowser(target); }

std::wstring CCustomStatic::HitTestLink(POINT pt) const {
  return runs_.inUse ? kit::HitTestLink(runs_, pt) : L"";
}

int CCustomStatic::HitTestCommand(POINT pt) const {
  return runs_.inUse ? kit::HitTestCommand(runs_, pt) : 0;
}

void CCustomStatic::LayoutRuns() {
  if (!m_hWnd || !runs_.inUse) return;
  SIZE sz = kit::ClientSize(m_hWnd);
  const bool centred = lineAlignment == Gdiplus::StringAlignmentCenter;
  Gdiplus::RectF layout(0, 0, static_cast<float>(sz.cx), centred ? static_cast<float>(sz.cy) : 1000.0f);
  cl::CClientDC dc(m_hWnd);
  Gdiplus::Graphics g(dc);
  Gdiplus::Font font(GetFontFamily(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  runs_.boxes.clear();
  kit::MeasureCharacterBoxes(g, runs_.text, font, layout, *MakeFormat(), &runs_.boxes);
  kit::LayoutRuns(&runs_, static_cast<float>(sz.cy), centred);
}

int CCustomStatic::MeasureTextHeight(const std::wstring& text, int width) {
  std::wstring t = text.empty() ? GetDisplayText() : text;
  if (t.empty() || !m_hWnd) return 0;
  if (width == 0) width = kit::ClientSize(m_hWnd).cx;
  cl::CClientDC dc(m_hWnd);
  Gdiplus::Graphics g(cache_.ok() ? cache_.dc() : dc.get());
  Gdiplus::Font font(GetFontFamily(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  Gdiplus::RectF box;
  g.MeasureString(t.c_str(), -1, &font, Gdiplus::RectF(0, 0, static_cast<float>(width), 1000.0f),
                  MakeFormat().get(), &box);
  return static_cast<int>(box.Height);
}

Gdiplus::SizeF CCustomStatic::MeasureText(float size, const std::wstring& text) {
  if (text.empty()) return Gdiplus::SizeF(0, 0);
  cl::CClientDC dc(m_hWnd);
  Gdiplus::Graphics g(dc);
  Gdiplus::Font font(GetFontFamily(), size, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  Gdiplus::RectF box;
  g.MeasureString(text.c_str(), -1, &font, Gdiplus::RectF(0, 0, 1000.0f, 1000.0f), MakeFormat().get(),
                  &box);
  return Gdiplus::SizeF(box.Width, box.Height);
}

void CCustomStatic::FillCacheBackground(HDC compatible, int w, int h) {
  if (!cache_.Create(compatible, w, h)) return;
  if (!useBackground) {
    kit::CopyOwnScreen(m_hWnd, cache_.dc(), w, h);
  } else if (background.parentDC) {
    background.CopyFrom(background.parentDC, cache_.dc(), m_hWnd, w, h);
  } else if (background.EnsureCache(compatible)) {
    background.CopyFrom(background.cache.dc(), cache_.dc(), m_hWnd, w, h);
  } else {
    kit::CopyOwnScreen(m_hWnd, cache_.dc(), w, h);
  }
}

void CCustomStatic::DrawText(HDC target, int w, int h) {
  Gdiplus::Graphics g(target);
  Gdiplus::Font font(GetFontFamily(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  Gdiplus::SolidBrush brush{Gdiplus::Color(textColour)};
  auto format = MakeFormat();
  if (runs_.inUse) {
    kit::DrawRuns(g, runs_, font, *format, w, 0, 0);
  } else if (!text_.empty()) {
    g.DrawString(text_.c_str(), -1, &font,
                 Gdiplus::RectF(0, 0, static_cast<float>(w), static_cast<float>(h)), format.get(), &brush);
  }
}

LRESULT CCustomStatic::OnPaint(WPARAM, LPARAM) {
  cl::CPaintDC pdc(m_hWnd);
  SIZE sz = kit::ClientSize(m_hWnd);
  HDC target = pdc;
  if (useBackground) {
    if (!cacheValid_ || cache_.width() != sz.cx || cache_.height() != sz.cy) {
      FillCacheBackground(pdc, sz.cx, sz.cy);
      cacheValid_ = cache_.ok();
      rendered_ = false;
    }
    if (cache_.ok()) target = cache_.dc();
  }
  if (!useBackground || !rendered_) {
    rendered_ = true;
    DrawText(target, sz.cx, sz.cy);
  }
  if (target != pdc.get()) BitBlt(pdc, 0, 0, sz.cx, sz.cy, target, 0, 0, SRCCOPY);
  if (hasFocus_ && runs_.inUse && runs_.focusedRun >= 0 &&
      runs_.focusedRun < static_cast<int>(runs_.runs.size())) {
    for (const RECT& r : runs_.runs[runs_.focusedRun].lineRects) DrawFocusRect(pdc, &r);
  }
  return 0;
}

LRESULT CCustomStatic::OnEraseBkgnd(WPARAM, LPARAM) { return 1; }

LRESULT CCustomStatic::OnSize(WPARAM, LPARAM) {
  Default();
  // The characters' boxes belong to the old size: clicks must hit what the
  // new size shows.
  LayoutRuns();
  // Hidden and shown again so the whole control repaints at once; a
  // control its owner keeps hidden stays hidden.
  const bool visible = (GetStyle() & WS_VISIBLE) != 0;
  if (visible) ::ShowWindow(m_hWnd, SW_HIDE);
  rendered_ = false;
  cacheValid_ = false;
  InvalidateRect(m_hWnd, nullptr, FALSE);
  if (visible) ::ShowWindow(m_hWnd, SW_SHOW);
  return 0;
}

LRESULT CCustomStatic::OnSetCursor(WPARAM, LPARAM) {
  POINT pt;
  GetCursorPos(&pt);
  ScreenToClient(m_hWnd, &pt);
  if (runs_.inUse && kit::InLinkLine(runs_, pt)) {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
  }
  return Default();
}

void CCustomStatic::Activate(const TextRun& run) {
  if (!run.target.empty())
    OpenLink(run.target);
  else if (run.command)
    ::SendMessageW(::GetParent(m_hWnd), WM_COMMAND, static_cast<WPARAM>(run.commandId), 0);
}

LRESULT CCustomStatic::OnReflectedCommand(WPARAM wParam, LPARAM) {
  if (HIWORD(wParam) != STN_CLICKED || !runs_.inUse) return 0;
  DWORD pos = GetMessagePos();
  POINT pt{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(m_hWnd, &pt);
  std::wstring target = kit::HitTestLink(runs_, pt);
  if (!target.empty()) {
    OpenLink(target);
  } else if (int id = kit::HitTestCommand(runs_, pt)) {
    ::SendMessageW(::GetParent(m_hWnd), WM_COMMAND, static_cast<WPARAM>(id), 0);
  }
  return 0;
}

BOOL CCustomStatic::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && msg->hwnd == m_hWnd && runs_.inUse) {
    const int count = static_cast<int>(runs_.runs.size());
    if (msg->wParam == VK_TAB) {
      for (int i = runs_.focusedRun + 1; i < count; ++i) {
        if (runs_.runs[i].IsActive()) {
          runs_.focusedRun = i;
          Refresh();
          return TRUE;
        }
      }
      // Past the last link: back to the first, and the focus moves on.
      for (int i = 0; i < count; ++i) {
        if (runs_.runs[i].IsActive()) {
          runs_.focusedRun = i;
          break;
        }
      }
      Refresh();
      return FALSE;
    }
    if ((msg->wParam == VK_RETURN || msg->wParam == VK_SPACE) && hasFocus_ && runs_.focusedRun >= 0 &&
        runs_.focusedRun < count) {
      Activate(runs_.runs[runs_.focusedRun]);
      return FALSE;
    }
  }
  return cl::CWnd::PreTranslateMessage(msg);
}

LRESULT CCustomStatic::OnSetFocus(WPARAM, LPARAM) {
  hasFocus_ = true;
  Refresh();
  return Default();
}

LRESULT CCustomStatic::OnKillFocus(WPARAM, LPARAM) {
  hasFocus_ = false;
  Refresh();
  return Default();
}
