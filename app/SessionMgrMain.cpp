#include "app/SessionMgrMain.h"

#include "app/AppMessages.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "foundation/settings/FrameUtility.h"

namespace {

constexpr UINT kIdEdit = 100;
constexpr UINT kIdConnect = 101;
constexpr UINT kIdStop = 102;
constexpr int kMargin = 10;
constexpr int kRowHeight = 26;

}  // namespace

const cl::MessageMap* CDlgSessionMgr::GetMessageMap() const {
  static const cl::MessageMap map{
      cl::CWnd::GetMessageMap(),
      {
          cl::OnCommandRange(ID_CONNECT_RECEIVER_FIRST, ID_CONNECT_RECEIVER_LAST, &CDlgSessionMgr::OnRowClicked),
          cl::OnCommand(kIdConnect, &CDlgSessionMgr::OnConnectClicked),
          cl::OnCommand(kIdStop, &CDlgSessionMgr::OnStopClicked),
          cl::OnMessage(WM_SIZE, &CDlgSessionMgr::OnSize),
      }};
  return &map;
}

bool CDlgSessionMgr::Create(HWND parent, HWND mainWindow) {
  main_ = mainWindow;
  RECT rc;
  GetClientRect(parent, &rc);
  const wchar_t* cls = RegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW), reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  if (!CreateEx(0, cls, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rc, parent, 1)) return false;
  font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const HINSTANCE inst = GetModuleHandleW(nullptr);
  header_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, m_hWnd, nullptr, inst, nullptr);
  edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0,
                          10, 10, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kIdEdit)), inst, nullptr);
  connect_ = CreateWindowExW(0, L"BUTTON", L"Connect", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                             10, 10, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kIdConnect)), inst,
                             nullptr);
  stop_ = CreateWindowExW(0, L"BUTTON", cl::LoadResString(IDS_STOP).c_str(),
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 10, 10, m_hWnd,
                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kIdStop)), inst, nullptr);
  for (HWND h : {header_, edit_, connect_, stop_}) ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), 0);
  UpdateReceiverMap({});
  return true;
}

void CDlgSessionMgr::UpdateReceiverMap(ReceiverMap map) {
  map_ = std::move(map);
  RefreshSession();
}

void CDlgSessionMgr::RefreshSession() {
  if (!m_hWnd) return;
  for (HWND row : rows_) ::DestroyWindow(row);
  rows_.clear();
  const HINSTANCE inst = GetModuleHandleW(nullptr);
  UINT id = ID_CONNECT_RECEIVER_FIRST;
  for (const auto& kv : map_) {
    if (id > ID_CONNECT_RECEIVER_LAST) break;
    const ReceiverEntry& e = kv.second;
    const std::wstring text = cl::FormatW(L"%s   %S:%d", cl::Utf8ToWide(e.name).c_str(), e.address.c_str(), e.port);
    HWND row = CreateWindowExW(0, L"BUTTON", text.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_LEFT,
                               0, 0, 10, 10, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), inst, nullptr);
    ::SendMessageW(row, WM_SETFONT, reinterpret_cast<WPARAM>(font_), 0);
    rows_.push_back(row);
    ++id;
  }
  SetWindowTextW(header_, cl::FormatW(L"Receivers: %d", static_cast<int>(rows_.size())).c_str());
  Layout();
}

void CDlgSessionMgr::Layout() {
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  const int w = rc.right - 2 * kMargin;
  int y = kMargin;
  MoveWindow(edit_, kMargin, y, w - 2 * 80 - 2 * 6, 24, TRUE);
  MoveWindow(connect_, rc.right - kMargin - 2 * 80 - 6, y, 80, 24, TRUE);
  MoveWindow(stop_, rc.right - kMargin - 80, y, 80, 24, TRUE);
  y += 24 + kMargin;
  MoveWindow(header_, kMargin, y, w, 18, TRUE);
  y += 22;
  for (HWND row : rows_) {
    MoveWindow(row, kMargin, y, w, kRowHeight - 4, TRUE);
    y += kRowHeight;
  }
}

LRESULT CDlgSessionMgr::OnSize(WPARAM, LPARAM) {
  Layout();
  return 0;
}

void CDlgSessionMgr::OnRowClicked(UINT id) { ::PostMessageW(main_, WM_COMMAND, id, 0); }

void CDlgSessionMgr::OnConnectClicked() {
  wchar_t text[256] = {};
  GetWindowTextW(edit_, text, 256);
  CFrameUtility::SetTxSToken(text);
  ::PostMessageW(main_, WM_CONNECT_BY_TEXT, 0, 0);
}

void CDlgSessionMgr::OnStopClicked() { ::PostMessageW(main_, WM_COMMAND, ID_STOP_MIRRORING, 0); }

CSessionMgrMain::~CSessionMgrMain() { DestroyWindow(); }

const cl::MessageMap* CSessionMgrMain::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_CLOSE, &CSessionMgrMain::OnClose),
                                      cl::OnMessage(WM_SIZE, &CSessionMgrMain::OnSize),
                                  }};
  return &map;
}

bool CSessionMgrMain::Create(CSessionConfig* config, cl::CWnd* mainWindow) {
  const wchar_t* cls = RegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW),
                                        reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  const std::wstring title = cl::LoadResString(IDS_APP_NAME) + L" Session";
  RECT rc{0, 0, 440, 360};
  if (!CreateEx(0, cls, title.c_str(), WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME,
                rc, nullptr, 0)) {
    return false;
  }
  if (!panel_.Create(m_hWnd, cl::SafeHwnd(mainWindow))) return false;
  return true;
}

LRESULT CSessionMgrMain::OnClose(WPARAM, LPARAM) {
  ShowWindow(SW_HIDE);
  return 0;
}

LRESULT CSessionMgrMain::OnSize(WPARAM, LPARAM lParam) {
  if (panel_.m_hWnd) MoveWindow(panel_.m_hWnd, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
  return 0;
}
