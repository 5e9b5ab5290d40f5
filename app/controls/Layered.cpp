#include "app/controls/Layered.h"

#include <cstring>

#include "classlib/WinApp.h"
#include "foundation/browser/Browser.h"

// ------------------------------------------------------------------- CTRSWnd

CTRSWnd::CTRSWnd() = default;
CTRSWnd::~CTRSWnd() = default;

const cl::MessageMap* CTRSWnd::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_ENABLE, &CTRSWnd::OnEnable),
                                  }};
  return &map;
}

void CTRSWnd::PreSubclassWindow() {
  const DWORD style = GetStyle();
  disabled = (style & WS_DISABLED) != 0;
  visible = (style & WS_VISIBLE) != 0;
}

BOOL CTRSWnd::ShowWindow(int cmd) {
  BOOL r = ::ShowWindow(m_hWnd, cmd);
  const bool now = (GetStyle() & WS_VISIBLE) != 0;
  if (now != visible) {
    visible = now;
    if (listener) listener->OnChildChanged(this);
  }
  return r;
}

void CTRSWnd::Invalidate() {
  if (listener) listener->OnChildChanged(this);
}

RECT CTRSWnd::RectInParent() const {
  RECT r{};
  GetWindowRect(m_hWnd, &r);
  MapWindowPoints(nullptr, ::GetParent(m_hWnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

LRESULT CTRSWnd::OnEnable(WPARAM wParam, LPARAM) {
  LRESULT r = Default();
  const bool now = wParam != 1;
  if (now != disabled) {
    disabled = now;
    Invalidate();
  }
  return r;
}

// ---------------------------------------------------------------- CTRSButton

CTRSButton::CTRSButton() { images.resize(kSlotCount); }
CTRSButton::~CTRSButton() = default;

const cl::MessageMap* CTRSButton::GetMessageMap() const {
  static const cl::MessageMap map{CTRSWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_MOUSEMOVE, &CTRSButton::OnMouseMove),
                                      cl::OnMessage(WM_MOUSEHOVER, &CTRSButton::OnMouseHover),
                                      cl::OnMessage(WM_MOUSELEAVE, &CTRSButton::OnMouseLeave),
                                      cl::OnMessage(WM_LBUTTONDOWN, &CTRSButton::OnLButtonDown),
                                      cl::OnMessage(WM_LBUTTONUP, &CTRSButton::OnLButtonUp),
                                      cl::OnMessage(BM_SETCHECK, &CTRSButton::OnSetCheck),
                                  }};
  return &map;
}

bool CTRSButton::SetImages(const TRSButtonImages& ids) {
  current = nullptr;
  images.clear();
  images.resize(kSlotCount);
  std::unique_ptr<Gdiplus::Image> normal;
  if (ids.normal == 0 || !LoadPngImage(ids.normal, &normal)) return false;
  images[kNormal] = std::move(normal);
  const struct {
    UINT id;
    Slot slot;
  } rest[] = {{ids.hover, kHover}, {ids.pressed, kPressed}, {ids.disabled, kDisabled}, {ids.checked, kChecked}};
  for (const auto& r : rest)
    if (r.id) LoadPngImage(r.id, &images[r.slot]);
  current = images[kNormal].get();
  if (m_hWnd)
    SetWindowPos(m_hWnd, nullptr, 0, 0, static_cast<int>(current->GetWidth()), static_cast<int>(current->GetHeight()),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
  return true;
}

void CTRSButton::UpdateState() {
  int slot;
  Gdiplus::ARGB colour;
  if (hover && pressed) {
    slot = kPressed;
    colour = pressedColour;
  } else if (hover && checked) {
    return;  // a checked button keeps its look under the mouse
  } else if (hover) {
    slot = kHover;
    colour = hoverColour;
  } else if (disabled) {
    slot = kDisabled;
    colour = disabledColour;
  } else if (checked) {
    slot = kChecked;
    colour = pressedColour;
  } else {
    slot = kNormal;
    colour = normalColour;
  }
  if (slot >= static_cast<int>(images.size()) || !images[slot]) {
    slot = kNormal;
    colour = normalColour;
  }
  brushColour_ = colour;
  Gdiplus::Image* next = slot < static_cast<int>(images.size()) ? images[slot].get() : nullptr;
  if (next != current) {
    current = next;
    if (listener) listener->OnChildChanged(this);
  }
}

int CTRSButton::currentSlot() const {
  for (size_t i = 0; i < images.size(); ++i)
    if (current && images[i].get() == current) return static_cast<int>(i);
  return -1;
}

void CTRSButton::SetFont(const wchar_t* face, float size, int style, int unit) {
  Gdiplus::FontFamily family(face);
  if (family.GetLastStatus() == Gdiplus::FontFamilyNotFound)
    font_.reset(new Gdiplus::Font(Gdiplus::FontFamily::GenericSansSerif(), size, style,
                                  static_cast<Gdiplus::Unit>(unit)));
  else
    font_.reset(new Gdiplus::Font(&family, size, style, static_cast<Gdiplus::Unit>(unit)));
}

Gdiplus::Font* CTRSButton::GetFont() {
  if (!font_) SetFont(L"Arial", 8.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
  return font_.get();
}

void CTRSButton::Render(Gdiplus::Graphics& g) {
  if (!current) return;
  RECT r = RectInParent();
  g.DrawImage(current, Gdiplus::Rect(r.left, r.top, r.right - r.left, r.bottom - r.top), 0, 0,
              static_cast<INT>(current->GetWidth()), static_cast<INT>(current->GetHeight()), Gdiplus::UnitPixel);
  wchar_t caption[256] = {};
  GetWindowTextW(m_hWnd, caption, 256);
  if (caption[0]) {
    Gdiplus::StringFormat format;
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    Gdiplus::SolidBrush brush{Gdiplus::Color(brushColour_)};
    g.DrawString(caption, -1, GetFont(),
                 Gdiplus::RectF(static_cast<float>(r.left), static_cast<float>(r.top),
                                static_cast<float>(r.right - r.left), static_cast<float>(r.bottom - r.top)),
                 &format, &brush);
  }
}

LRESULT CTRSButton::OnMouseMove(WPARAM, LPARAM) {
  if (!tracking) {
    TRACKMOUSEEVENT t{sizeof(t), TME_HOVER | TME_LEAVE, m_hWnd, 1};
    tracking = TrackMouseEvent(&t) != FALSE;
  }
  return Default();
}

LRESULT CTRSButton::OnMouseHover(WPARAM, LPARAM) {
  hover = true;
  UpdateState();
  return 0;
}

LRESULT CTRSButton::OnMouseLeave(WPARAM, LPARAM) {
  hover = false;
  tracking = false;
  UpdateState();
  return 0;
}

LRESULT CTRSButton::OnLButtonDown(WPARAM, LPARAM) {
  pressed = true;
  UpdateState();
  return Default();
}

LRESULT CTRSButton::OnLButtonUp(WPARAM, LPARAM lParam) {
  pressed = false;
  POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  if (PtInRect(&rc, pt)) {
    checked = IsCheckType() ? !checked : false;
  } else {
    hover = false;
  }
  UpdateState();
  return Default();
}

bool CTRSButton::IsCheckType() const {
  switch (GetStyle() & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
      return true;
    default:
      return false;
  }
}

// An auto check box toggles itself through BM_SETCHECK on a click and on
// the Space bar alike; the dialog reads `checked`, so it follows.
LRESULT CTRSButton::OnSetCheck(WPARAM wParam, LPARAM) {
  const LRESULT r = Default();
  const bool now = wParam == BST_CHECKED;
  if (IsCheckType() && now != checked) {
    checked = now;
    UpdateState();
  }
  return r;
}

// ---------------------------------------------------------------- CTRSStatic

CTRSStatic::CTRSStatic() = default;
CTRSStatic::~CTRSStatic() = default;

const cl::MessageMap* CTRSStatic::GetMessageMap() const {
  static const cl::MessageMap map{
      CTRSWnd::GetMessageMap(),
      {
          cl::OnMessage(WM_SETCURSOR, &CTRSStatic::OnSetCursor),
          cl::OnMessage(cl::WM_REFLECT_BASE + WM_COMMAND, &CTRSStatic::OnReflectedCommand),
      }};
  return &map;
}

bool CTRSStatic::SetFontFamily(const wchar_t* face) { return kit::SetFontFamilyByName(&family_, face); }
Gdiplus::FontFamily* CTRSStatic::GetFontFamily() { return kit::GetFontFamilyLazy(&family_, m_hWnd); }

void CTRSStatic::Layout(Gdiplus::Graphics& g, const Gdiplus::Font& font, const RECT& rect) {
  const float w = static_cast<float>(rect.right - rect.left), h = static_cast<float>(rect.bottom - rect.top);
  const bool centred = lineAlignment == Gdiplus::StringAlignmentCenter;
  Gdiplus::StringFormat format;
  format.SetAlignment(static_cast<Gdiplus::StringAlignment>(alignment));
  format.SetLineAlignment(static_cast<Gdiplus::StringAlignment>(lineAlignment));
  runs.boxes.clear();
  kit::MeasureCharacterBoxes(g, runs.text, font, Gdiplus::RectF(0, 0, w, centred ? h : 1000.0f), format,
                             &runs.boxes);
  // Boxes are in the control's own coordinates, so the overflow test is
  // against the control's height.
  kit::LayoutRuns(&runs, h, centred);
}

void CTRSStatic::Render(Gdiplus::Graphics& g) {
  const std::wstring& shown = runs.inUse ? runs.text : text;
  RECT r = RectInParent();
  Gdiplus::Font font(GetFontFamily(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  if (layoutDirty && runs.inUse) {
    Layout(g, font, r);
    layoutDirty = false;
  }
  if (shown.empty()) return;
  Gdiplus::StringFormat format;
  format.SetAlignment(static_cast<Gdiplus::StringAlignment>(alignment));
  format.SetLineAlignment(static_cast<Gdiplus::StringAlignment>(lineAlignment));
  if (runs.inUse) {
    kit::DrawRuns(g, runs, font, format, r.right - r.left, static_cast<float>(r.left), static_cast<float>(r.top));
    return;
  }
  Gdiplus::SolidBrush brush{Gdiplus::Color(textColour)};
  g.DrawString(shown.c_str(), -1, &font,
               Gdiplus::RectF(static_cast<float>(r.left), static_cast<float>(r.top),
                              static_cast<float>(r.right - r.left), static_cast<float>(r.bottom - r.top)),
               &format, &brush);
}

LRESULT CTRSStatic::OnSetCursor(WPARAM, LPARAM) {
  POINT pt;
  GetCursorPos(&pt);
  ScreenToClient(m_hWnd, &pt);
  if (runs.inUse && kit::InLinkLine(runs, pt)) {
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
    return TRUE;
  }
  return Default();
}

LRESULT CTRSStatic::OnReflectedCommand(WPARAM wParam, LPARAM) {
  if (HIWORD(wParam) != STN_CLICKED || !runs.inUse) return 0;
  DWORD pos = GetMessagePos();
  POINT pt{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(m_hWnd, &pt);
  std::wstring target = kit::HitTestLink(runs, pt);
  if (!target.empty())
    OpenUrlInBrowser(target);
  else if (int id = kit::HitTestCommand(runs, pt))
    ::SendMessageW(::GetParent(m_hWnd), WM_COMMAND, static_cast<WPARAM>(id), 0);
  return 0;
}

// ---------------------------------------------------------------- CTRSDialog

CTRSDialog::CTRSDialog(UINT templateId, UINT pngId, cl::CWnd* parent)
    : CDialogExt(templateId, parent), backgroundPng(pngId) {
  LoadPngImage(pngId, &background);
}

CTRSDialog::~CTRSDialog() = default;

const cl::MessageMap* CTRSDialog::GetMessageMap() const {
  static const cl::MessageMap map{CDialogExt::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_CREATE, &CTRSDialog::OnCreateLayered),
                                      cl::OnMessage(WM_ERASEBKGND, &CTRSDialog::OnEraseBkgnd),
                                      cl::OnMessage(WM_LBUTTONDOWN, &CTRSDialog::OnLButtonDown),
                                  }};
  return &map;
}

LRESULT CTRSDialog::OnCreateLayered(WPARAM, LPARAM) {
  if (Default() == -1) return -1;
  ApplyTemplateFont(96);
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, (GetStyle() & ~WS_CAPTION) | WS_POPUP);
  return 0;
}

LRESULT CTRSDialog::OnEraseBkgnd(WPARAM, LPARAM) { return TRUE; }

LRESULT CTRSDialog::OnLButtonDown(WPARAM, LPARAM) {
  if (draggable) SendMessage(WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  return Default();
}

BOOL CTRSDialog::OnInitDialog() {
  if (!CDialogExt::OnInitDialog()) return FALSE;
  blend = {AC_SRC_OVER, 0, sourceAlpha, AC_SRC_ALPHA};
  const int w = background ? static_cast<int>(background->GetWidth()) : 0;
  const int h = background ? static_cast<int>(background->GetHeight()) : 0;
  SetWindowPos(m_hWnd, nullptr, 0, 0, w, h, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (centred) {
    cl::CWinApp* app = cl::AfxGetApp();
    HWND main = app ? cl::SafeHwnd(app->GetMainWnd()) : nullptr;
    kit::CenterWindow(m_hWnd, main);
  }
  InitControls();
  RenderLayered();
  return TRUE;
}

void CTRSDialog::AddChild(CTRSWnd* child) {
  if (!child) return;
  child->listener = this;
  children.push_back(child);
}

void CTRSDialog::OnChildChanged(CTRSWnd*) {
  if (!suspended) RenderLayered();
}

void CTRSDialog::ReloadBackground() {
  background.reset();
  LoadPngImage(backgroundPng, &background);
  RenderLayered();
}

void CTRSDialog::SetLayered(bool on) {
  LONG_PTR ex = GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE);
  SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, on ? (ex | WS_EX_LAYERED) : (ex & ~WS_EX_LAYERED));
}

void CTRSDialog::RenderLayered() {
  if (!m_hWnd || !background) return;
  const int w = static_cast<int>(background->GetWidth()), h = static_cast<int>(background->GetHeight());
  SetLayered(true);
  HDC windowDC = GetDC(m_hWnd);
  HDC memDC = CreateCompatibleDC(windowDC);
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  POINT dest{wr.left, wr.top};

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = h;  // bottom-up
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  const int stride = ((w * 32 + 31) / 8) & ~3;
  bi.bmiHeader.biSizeImage = static_cast<DWORD>(stride * h);
  void* bits = nullptr;
  HBITMAP dib = memDC ? CreateDIBSection(memDC, &bi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  if (dib && bits) {
    std::memset(bits, 0, static_cast<size_t>(stride) * h);  // fully transparent
    HGDIOBJ old = SelectObject(memDC, dib);
    {
      Gdiplus::Graphics g(memDC);
      g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
      g.DrawImage(background.get(), Gdiplus::Rect(0, 0, w, h), 0, 0, w, h, Gdiplus::UnitPixel);
      for (CTRSWnd* c : children)
        if (c->visible) c->Render(g);
    }
    GdiFlush();
    OnComposed(static_cast<const BYTE*>(bits), w, h, stride);
    using UlwFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
    static const UlwFn ulw =
        reinterpret_cast<UlwFn>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "UpdateLayeredWindow"));
    if (ulw) {
      SIZE size{w, h};
      POINT src{0, 0};
      ulw(m_hWnd, windowDC, &dest, &size, memDC, &src, 0, &blend, ULW_ALPHA);
      ++renderCount_;
    }
    SelectObject(memDC, old);
  }
  if (dib) DeleteObject(dib);
  if (memDC) DeleteDC(memDC);
  ReleaseDC(m_hWnd, windowDC);
}
