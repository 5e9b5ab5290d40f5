#include "app/controls/BusyWindow.h"

#include <new>

#include "app/controls/PictureButton.h"
#include "foundation/log/Logger.h"

std::mutex g_mtxBusyWindow;

namespace {

DlgRefreshInfo* g_busyWindow = nullptr;

COLORREF ToColorRef(Gdiplus::ARGB argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

}  // namespace

DlgRefreshInfo::DlgRefreshInfo(HWND parent, Gdiplus::ARGB bg)
    : CDialogExt2(kTemplateId, nullptr), background(bg), parent_(parent) {}

DlgRefreshInfo::~DlgRefreshInfo() = default;

const cl::MessageMap* DlgRefreshInfo::GetMessageMap() const {
  static const cl::MessageMap map{CDialogExt2::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_ERASEBKGND, &DlgRefreshInfo::OnEraseBkgnd),
                                      cl::OnMessage(WM_SIZE, &DlgRefreshInfo::OnSize),
                                  }};
  return &map;
}

void DlgRefreshInfo::DoDataExchange() {
  DDX_Control(kTextId, text);
  DDX_Control(kPictureId, picture);
}

bool DlgRefreshInfo::ParentIsPictureButton() const {
  return dynamic_cast<CPictureButton*>(cl::CWnd::FromHandlePermanent(parent_)) != nullptr;
}

BOOL DlgRefreshInfo::OnInitDialog() {
  CDialogExt2::OnInitDialog();

  SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) ^ WS_EX_LAYERED);
  using SlwaFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
  if (HMODULE user32 = GetModuleHandleW(L"User32.DLL")) {
    if (auto slwa = reinterpret_cast<SlwaFn>(GetProcAddress(user32, "SetLayeredWindowAttributes")))
      slwa(m_hWnd, ToColorRef(background), 100, LWA_ALPHA);
  }

  if (!ParentIsPictureButton()) {
    RECT insets{5, 5, 4, 4};
    if (auto* main = dynamic_cast<CDlgMainBase*>(cl::CWnd::FromHandlePermanent(parent_)))
      insets = main->BusyOverlayInsets();
    RECT r{};
    GetClientRect(parent_, &r);
    HRGN region = CreateRoundRectRgn(r.left + insets.left, r.top + insets.top, r.right - insets.right,
                                     r.bottom - insets.bottom, 5, 5);
    if (region && !SetWindowRgn(m_hWnd, region, TRUE)) DeleteObject(region);
  }

  text.textColour = 0xFFFFFFFF;
  text.fontSize = 14.0f * kit::ScreenPointFactor();
  text.fontStyle = Gdiplus::FontStyleBold;
  text.alignment = Gdiplus::StringAlignmentCenter;
  text.SetFontFamily(L"Arial");

  if (picture.LoadFromResource(gifId)) picture.Play();
  return TRUE;
}

LRESULT DlgRefreshInfo::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  RECT r{};
  GetClientRect(m_hWnd, &r);
  cl::CBrush brush(CreateSolidBrush(ToColorRef(background)));
  FillRect(dc, &r, brush);
  SetBkMode(dc, TRANSPARENT);
  return 0;
}

LRESULT DlgRefreshInfo::OnSize(WPARAM, LPARAM) {
  LRESULT res = Default();
  RECT r{};
  GetClientRect(m_hWnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (text.m_hWnd) {
    const int x = r.left + w / 4, y = r.top + h / 2;
    MoveWindow(text.m_hWnd, x, y, w - 2 * (w / 4), (r.bottom - h / 3) - y, TRUE);
  }
  if (picture.m_hWnd) {
    if (ParentIsPictureButton()) {
      RECT b{};
      GetClientRect(parent_, &b);
      MoveWindow(picture.m_hWnd, b.left, b.top, b.right - b.left, b.bottom - b.top, TRUE);
    } else {
      const int x = r.left + w / 2 - 25;
      const int y = r.top + static_cast<int>(h * 0.35);
      MoveWindow(picture.m_hWnd, x, y, 50 + w % 2, (r.top + static_cast<int>(h * 0.45)) - y, TRUE);
    }
  }
  return res;
}

void ShowBusyWindow(HWND parent, bool show, Gdiplus::ARGB background) {
  std::lock_guard<std::mutex> hold(g_mtxBusyWindow);
  if (g_busyWindow) {
    g_busyWindow->DestroyWindow();
    delete g_busyWindow;
    g_busyWindow = nullptr;
  }
  if (!show) return;
  if (!parent) {
    ZtLogger::Instance().Error("No parent window for process window!");
    return;
  }
  auto* overlay = new (std::nothrow) DlgRefreshInfo(parent, background);
  if (!overlay) {
    ZtLogger::Instance().Error("Out of memory for creating fresh window!");
    return;
  }
  if (!overlay->Create(parent)) {
    delete overlay;
    return;
  }
  RECT r{};
  GetWindowRect(parent, &r);
  MoveWindow(overlay->m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
  overlay->ShowWindow(SW_SHOW);
  g_busyWindow = overlay;
}

DlgRefreshInfo* CurrentBusyWindow() { return g_busyWindow; }
