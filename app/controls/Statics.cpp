#include "app/controls/Statics.h"

#include "classlib/ComPtr.h"

namespace {

std::wstring WindowText(HWND w) {
  int n = GetWindowTextLengthW(w);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  GetWindowTextW(w, &t[0], n + 1);
  t.resize(static_cast<size_t>(n));
  return t;
}

}  // namespace

// ------------------------------------------------------------ CPictureStatic

const cl::MessageMap* CPictureStatic::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_PAINT, &CPictureStatic::OnPaint),
                                      cl::OnMessage(WM_ERASEBKGND, &CPictureStatic::OnEraseBkgnd),
                                  }};
  return &map;
}

void CPictureStatic::PreSubclassWindow() {
  LONG_PTR style = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~SS_TYPEMASK) | SS_OWNERDRAW);
}

void CPictureStatic::RebuildCache() {
  SIZE sz = kit::ClientSize(m_hWnd);
  cl::CClientDC wdc(m_hWnd);
  if (!cache_.Create(wdc, sz.cx, sz.cy)) return;
  SetLayout(cache_.dc(), layout);

  // Background: the PNG slice (loaded for this rebuild only), the parent's
  // back buffer, or what the control shows now.
  bool painted = false;
  if (background.HasPng()) {
    painted = background.EnsureCache(wdc);
    if (painted) background.CopyFrom(background.cache.dc(), cache_.dc(), m_hWnd, sz.cx, sz.cy);
    background.Free();
  }
  if (!painted && background.parentDC) {
    background.CopyFrom(background.parentDC, cache_.dc(), m_hWnd, sz.cx, sz.cy);
    painted = true;
  }
  if (!painted) kit::CopyOwnScreen(m_hWnd, cache_.dc(), sz.cx, sz.cy);

  std::unique_ptr<Gdiplus::Image> picture;
  bool isIcon = false;
  if (iconName) {
    if (HICON icon = LoadIconW(nullptr, iconName)) {
      picture.reset(Gdiplus::Bitmap::FromHICON(icon));
      isIcon = true;
    }
  } else if (!imagePath.empty()) {
    picture.reset(Gdiplus::Image::FromFile(imagePath.c_str()));
  } else if (pngId > 0) {
    LoadPngImage(static_cast<UINT>(pngId), &picture);
  }
  if (picture && picture->GetLastStatus() == Gdiplus::Ok) {
    const int w = static_cast<int>(picture->GetWidth()), h = static_cast<int>(picture->GetHeight());
    const bool fits = w <= sz.cx && h <= sz.cy;
    if (fits && (isIcon || fitIfSmaller))
      kit::DrawImageOn(cache_.dc(), picture.get(), 0, 0, w, h);
    else
      kit::DrawImageOn(cache_.dc(), picture.get(), 0, 0, sz.cx, sz.cy);
  }
  drawn = true;
}

LRESULT CPictureStatic::OnPaint(WPARAM, LPARAM) {
  cl::CPaintDC pdc(m_hWnd);
  if ((!drawn || !cache_.ok()) && (pngId > 0 || iconName || !imagePath.empty())) RebuildCache();
  if (cache_.ok()) {
    SIZE sz = kit::ClientSize(m_hWnd);
    BitBlt(pdc, 0, 0, sz.cx, sz.cy, cache_.dc(), 0, 0, SRCCOPY);
  }
  return 0;
}

LRESULT CPictureStatic::OnEraseBkgnd(WPARAM, LPARAM) { return TRUE; }

// --------------------------------------------------------------- ChildStatic

ChildStatic::ChildStatic() = default;
ChildStatic::~ChildStatic() = default;

const cl::MessageMap* ChildStatic::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_PAINT, &ChildStatic::OnPaint),
                                      cl::OnMessage(WM_ERASEBKGND, &ChildStatic::OnEraseBkgnd),
                                      cl::OnMessage(WM_SIZE, &ChildStatic::OnSize),
                                  }};
  return &map;
}

void ChildStatic::PreSubclassWindow() { text_ = WindowText(m_hWnd); }

void ChildStatic::SetText(const std::wstring& text) {
  text_ = text;
  if (m_hWnd) SetWindowTextW(m_hWnd, text.c_str());
  textDrawn_ = false;
  cacheValid_ = false;
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
}

bool ChildStatic::SetFontFamily(const wchar_t* face) { return kit::SetFontFamilyByName(&family_, face); }
Gdiplus::FontFamily* ChildStatic::GetFontFamily() { return kit::GetFontFamilyLazy(&family_, m_hWnd); }

void ChildStatic::DrawText(HDC target, int w, int h) {
  Gdiplus::Graphics g(target);
  Gdiplus::Font font(GetFontFamily(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  Gdiplus::StringFormat format;
  format.SetAlignment(static_cast<Gdiplus::StringAlignment>(alignment));
  format.SetLineAlignment(static_cast<Gdiplus::StringAlignment>(lineAlignment));
  if (runs.inUse) {
    if (runs.boxes.empty()) {
      kit::MeasureCharacterBoxes(g, runs.text, font, Gdiplus::RectF(0, 0, static_cast<float>(w), 1000.0f),
                                 format, &runs.boxes);
      kit::LayoutRuns(&runs, static_cast<float>(h), false);
    }
    kit::DrawRuns(g, runs, font, format, w, 0, 0);
  } else if (!text_.empty()) {
    Gdiplus::SolidBrush brush{Gdiplus::Color(textColour)};
    g.DrawString(text_.c_str(), -1, &font, Gdiplus::RectF(0, 0, static_cast<float>(w), static_cast<float>(h)),
                 &format, &brush);
  }
}

LRESULT ChildStatic::OnPaint(WPARAM, LPARAM) {
  cl::CPaintDC pdc(m_hWnd);
  SIZE sz = kit::ClientSize(m_hWnd);
  HDC target = pdc;
  if (backgroundMode == 1) {
    if (!cacheValid_) {
      textDrawn_ = false;
      if (cache_.Create(pdc, sz.cx, sz.cy)) {
        if (background.EnsureCache(pdc))
          background.CopyFrom(background.cache.dc(), cache_.dc(), m_hWnd, sz.cx, sz.cy);
        else
          kit::CopyOwnScreen(m_hWnd, cache_.dc(), sz.cx, sz.cy);
        cacheValid_ = true;
      }
    }
    if (cache_.ok()) target = cache_.dc();
  }
  if (!textDrawn_) {
    DrawText(target, sz.cx, sz.cy);
    if (target != pdc.get()) textDrawn_ = true;
  }
  if (target != pdc.get()) BitBlt(pdc, 0, 0, sz.cx, sz.cy, target, 0, 0, SRCCOPY);
  return 0;
}

LRESULT ChildStatic::OnEraseBkgnd(WPARAM, LPARAM) { return TRUE; }

LRESULT ChildStatic::OnSize(WPARAM, LPARAM) {
  Default();
  // Hidden and shown again so the whole control repaints at once; a
  // control its owner keeps hidden stays hidden.
  const bool visible = (GetStyle() & WS_VISIBLE) != 0;
  if (visible) ::ShowWindow(m_hWnd, SW_HIDE);
  cacheValid_ = false;
  textDrawn_ = false;
  InvalidateRect(m_hWnd, nullptr, FALSE);
  if (visible) ::ShowWindow(m_hWnd, SW_SHOW);
  return 0;
}
