#include "app/SessionMgrMain.h"

#include "app/controls/DialogBases.h"
#include "app/resources/resource.h"
#include "classlib/Gdi.h"
#include "classlib/Resource.h"

namespace {

// What the frame shows where its panel does not reach (only while the panel
// is not yet laid out: then the frame takes its size and its region): the
// grey of the skinned windows' edges.
constexpr COLORREF kFrameFill = RGB(0x51, 0x51, 0x51);

}  // namespace

CSessionMgrBase::~CSessionMgrBase() {
  DestroyWindow();
  delete content;
  content = nullptr;
}

const cl::MessageMap* CSessionMgrBase::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_CLOSE, &CSessionMgrBase::OnClose),
                                      cl::OnMessage(WM_DESTROY, &CSessionMgrBase::OnDestroy),
                                      cl::OnMessage(WM_ERASEBKGND, &CSessionMgrBase::OnEraseBkgnd),
                                  }};
  return &map;
}

int CSessionMgrBase::Create(CSessionConfig* config, cl::CWnd* ownerWindow) {
  sessionConfig = config;
  owner = ownerWindow;
  // No cursor, brush or icon in the class: the frame paints itself.
  const wchar_t* cls = RegisterWndClass(CS_DBLCLKS);
  if (!cls || !CreateEx(0, cls, title.c_str(), WS_POPUP, rect, nullptr, 0)) return 0;
  icon = static_cast<HICON>(
      LoadImageW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  PlaceWindow();
  content = CreateContent();
  if (!content || !content->Create(m_hWnd)) {
    // An empty frame helps nobody: the creator is told, and asks again.
    delete content;
    content = nullptr;
    DestroyWindow();
    return 0;
  }
  FitToContent();
  ::ShowWindow(content->m_hWnd, SW_SHOW);
  return 1;
}

void CSessionMgrBase::FitToContent() {
  // The panel sizes itself at its monitor's scale once it is a window; the
  // frame is as large as that, no larger, and placed by the same rule.
  RECT pr{};
  if (!GetWindowRect(content->m_hWnd, &pr) || pr.right <= pr.left || pr.bottom <= pr.top) return;
  rect = {0, 0, pr.right - pr.left, pr.bottom - pr.top};
  SetWindowPos(m_hWnd, nullptr, 0, 0, rect.right, rect.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(content->m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The panel's rounded corners are the window's too.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  if (region && GetWindowRgn(content->m_hWnd, region) != ERROR) {
    if (!SetWindowRgn(m_hWnd, region, FALSE)) DeleteObject(region);
  } else if (region) {
    DeleteObject(region);
  }
  PlaceWindow();
}

RECT CSessionMgrBase::WorkArea() const {
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

void CSessionMgrBase::PlaceWindow() {
  const RECT work = WorkArea();
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (work.right - work.left > 1024 || work.bottom - work.top > 768) {
    SetWindowPos(m_hWnd, nullptr, (1024 - w) / 2, (768 - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    kit::CenterWindow(m_hWnd, nullptr);
  }
}

void CSessionMgrBase::ForwardMessage(const MSG* msg) {
  if (msg && content && content->m_hWnd) ::SendMessageW(content->m_hWnd, msg->message, msg->wParam, msg->lParam);
}

BOOL CSessionMgrBase::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_MOUSEWHEEL) ForwardMessage(msg);
  return cl::CWnd::PreTranslateMessage(msg);
}

LRESULT CSessionMgrBase::OnClose(WPARAM, LPARAM) {
  ShowWindow(SW_HIDE);
  return 0;
}

LRESULT CSessionMgrBase::OnDestroy(WPARAM, LPARAM) {
  LRESULT r = Default();
  if (content && content->m_hWnd) content->SendMessage(WM_CLOSE);
  return r;
}

LRESULT CSessionMgrBase::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  // Everything but the panel's own (rounded) area, so the panel does not
  // flicker.
  HDC dc = reinterpret_cast<HDC>(wParam);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  cl::CRgn rest(CreateRectRgnIndirect(&client));
  if (content && content->m_hWnd && ::IsWindowVisible(content->m_hWnd)) {
    RECT pr{};
    GetWindowRect(content->m_hWnd, &pr);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&pr), 2);
    cl::CRgn panel(CreateRectRgn(0, 0, 0, 0));
    if (GetWindowRgn(content->m_hWnd, panel) == ERROR) SetRectRgn(panel, 0, 0, pr.right - pr.left, pr.bottom - pr.top);
    OffsetRgn(panel, pr.left, pr.top);
    CombineRgn(rest, rest, panel, RGN_DIFF);
  }
  cl::CBrush fill(CreateSolidBrush(kFrameFill));
  FillRgn(dc, rest, fill);
  return 1;
}

CSessionMgrMain::CSessionMgrMain() {
  rect = {0, 0, kWidth, kHeight};
  contentTemplateId = kContentTemplate;
  title = L"Tessarine Session";
}

cl::CDialog* CSessionMgrMain::CreateContent() { return new CDlgSessionMgr(sessionConfig, owner, this); }

void CSessionMgrMain::FocusContent() {
  if (CDlgSessionMgr* panel = Panel()) panel->FocusIfConfigured();
}

CDlgSessionMgr* CSessionMgrMain::Panel() const {
  auto* panel = dynamic_cast<CDlgSessionMgr*>(content);
  return panel && panel->m_hWnd ? panel : nullptr;
}
