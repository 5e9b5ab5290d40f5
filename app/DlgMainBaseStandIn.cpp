#include "app/DlgMainBaseStandIn.h"

CDlgMainBaseStandIn::CDlgMainBaseStandIn(UINT templateId, UINT pngId, cl::CWnd* parent)
    : cl::CDialog(templateId, nullptr), pngId_(pngId) {}

CDlgMainBaseStandIn::~CDlgMainBaseStandIn() = default;

const cl::MessageMap* CDlgMainBaseStandIn::GetMessageMap() const {
  static const cl::MessageMap map{cl::CDialog::GetMessageMap(),
                                  {cl::OnMessage(WM_ERASEBKGND, &CDlgMainBaseStandIn::OnEraseBkgnd)}};
  return &map;
}

BOOL CDlgMainBaseStandIn::OnInitDialog() {
  if (!cl::CDialog::OnInitDialog()) return FALSE;
  // The picture is the whole window, as with the skinned base (which clips
  // the window to its picture): no caption, the picture's size.
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, GetStyle() & ~(WS_CAPTION | WS_THICKFRAME));
  background_ = cl::LoadPngResource(pngId_);
  if (background_) {
    SetWindowPos(m_hWnd, nullptr, 0, 0, static_cast<int>(background_->GetWidth()),
                 static_cast<int>(background_->GetHeight()),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  InitDialogHook();
  RECT rc;
  GetWindowRect(m_hWnd, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  SetWindowPos(m_hWnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0,
               0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

LRESULT CDlgMainBaseStandIn::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  HDC dc = reinterpret_cast<HDC>(wParam);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  if (!background_) {
    FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
  }
  Gdiplus::Graphics g(dc);
  g.DrawImage(background_.get(), 0, 0, rc.right, rc.bottom);
  return 1;
}
