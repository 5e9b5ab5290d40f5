#include "app/session/ContentViews.h"

#include <commctrl.h>
#include <windowsx.h>

#include "app/controls/Kit.h"
#include "app/session/UserList.h"
#include "classlib/MainWindow.h"
#include "classlib/Resource.h"

// ---------------------------------------------------------------- CFormViewEx

CFormViewEx::CFormViewEx(UINT id) : cl::CFormView(id), templateId(id) {}

CFormViewEx::~CFormViewEx() { templateFont.Restore(); }

bool CFormViewEx::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
  if (!cl::CFormView::Create(style, rect, parent, id)) return false;
  templateFont.Apply(cl::AfxGetResourceHandle(), m_hWnd, templateId, 96);
  return true;
}

void CFormViewEx::OnInitialUpdate() {
  cl::CFormView::OnInitialUpdate();
  templateFont.Apply(cl::AfxGetResourceHandle(), m_hWnd, templateId, 96);
  SetScrollSizes({scrollWidth, scrollHeight});
}

void CFormViewEx::SetScrollSize(int cx, int cy) {
  if (cx > 0) scrollWidth = cx;
  if (cy > 0) scrollHeight = cy;
  SetScrollSizes({scrollWidth, scrollHeight});
}

// ----------------------------------------------------------- CViewContentBase

CViewContentBase::CViewContentBase(UINT id) : CFormViewEx(id) {}

CViewContentBase::~CViewContentBase() = default;

const cl::MessageMap* CViewContentBase::GetMessageMap() const {
  static const cl::MessageMap map{CFormViewEx::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_CTLCOLORSTATIC, &CViewContentBase::OnCtlColor),
                                      cl::OnMessage(WM_CTLCOLORBTN, &CViewContentBase::OnCtlColor),
                                      cl::OnMessage(WM_CTLCOLORDLG, &CViewContentBase::OnCtlColor),
                                      cl::OnMessage(WM_CTLCOLOREDIT, &CViewContentBase::OnCtlColor),
                                      cl::OnMessage(WM_CTLCOLORLISTBOX, &CViewContentBase::OnCtlColor),
                                      cl::OnMessage(WM_SHOWWINDOW, &CViewContentBase::OnShowWindow),
                                      cl::OnMessage(WM_DESTROY, &CViewContentBase::OnDestroy),
                                  }};
  return &map;
}

BOOL CViewContentBase::PreCreateWindow(CREATESTRUCTW& cs) {
  cs.style &= ~(WS_BORDER | WS_HSCROLL);
  return CFormViewEx::PreCreateWindow(cs);
}

int CViewContentBase::Init(CSessionConfig* config, int v) {
  value = v;
  sessionConfig = config;
  const int results[] = {InitStep1(), CreateControls(), InitStep3(), InitStep4(), ResetState()};
  for (int r : results) {
    if (r == 0) return 0;
  }
  return 1;
}

int CViewContentBase::SendCommand(UINT id) {
  HWND main = cl::GetMainWindow();
  if (!main) return 0;
  ::SendMessageW(main, WM_COMMAND, id, 0);
  return 1;
}

int CViewContentBase::PostCommand(UINT id) {
  HWND main = cl::GetMainWindow();
  if (!main) return 0;
  ::PostMessageW(main, WM_COMMAND, id, 0);
  return 1;
}

void CViewContentBase::Scroll(int amount, bool up) {
  if (scrollHeight <= pageSize) return;
  const POINT at = GetScrollPosition();
  int y;
  if (amount > 0)
    y = at.y + (up ? -amount : amount) - lineSize;
  else
    y = up ? 0 : scrollHeight;
  ScrollToPosition({0, y});
}

void CViewContentBase::EnsureVisible(const MSG* msg) {
  if (!msg || !msg->hwnd) return;
  RECT r{};
  GetWindowRect(msg->hwnd, &r);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  const int y = GetScrollPosition().y;
  if (r.top < 0)
    ScrollToPosition({0, 0});
  else if (r.top > 348)
    ScrollToPosition({0, y + r.top - 30});
  else if (r.bottom > 348)
    ScrollToPosition({0, y + r.bottom});
}

void CViewContentBase::OnHidden(bool scrollTop) {
  if (scrollTop) ScrollToPosition({0, 0});
}

BOOL CViewContentBase::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN) {
    switch (msg->wParam) {
      // Handled here, a page key goes no further: the panel above would
      // otherwise page the same list a second time.
      case VK_PRIOR: Scroll(pageSize, true); return TRUE;
      case VK_NEXT: Scroll(pageSize, false); return TRUE;
      case VK_END: Scroll(0, false); return TRUE;
      case VK_HOME: Scroll(0, true); return TRUE;
      default: break;
    }
  } else if (msg->message == WM_KEYUP && msg->wParam == VK_TAB) {
    EnsureVisible(msg);
  }
  return CFormViewEx::PreTranslateMessage(msg);
}

LRESULT CViewContentBase::OnCtlColor(WPARAM, LPARAM) {
  Default();
  if (!backgroundBrush) backgroundBrush.reset(CreateSolidBrush(RGB(235, 235, 235)));
  return reinterpret_cast<LRESULT>(backgroundBrush.get());
}

LRESULT CViewContentBase::OnShowWindow(WPARAM wParam, LPARAM) {
  LRESULT r = Default();
  if (wParam)
    OnShown();
  else
    OnHidden(false);
  return r;
}

LRESULT CViewContentBase::OnDestroy(WPARAM, LPARAM) {
  LRESULT r = Default();
  templateFont.Restore();
  backgroundBrush.reset();
  return r;
}

// ---------------------------------------------------------------- SortHeader

bool SortHeader::LoadArrowImages() {
  ascendingImage.reset();
  descendingImage.reset();
  imagesLoaded = LoadPngResource(static_cast<UINT>(ascendingPng), &ascendingImage) &&
                 LoadPngResource(static_cast<UINT>(descendingPng), &descendingImage);
  return imagesLoaded;
}

bool SortHeader::SetSortArrow(int column, bool ascending) {
  if (!imagesLoaded && !LoadArrowImages()) return false;
  HDITEMW item{};
  item.mask = HDI_FORMAT;
  SendMessage(HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
  item.mask = HDI_FORMAT | HDI_LPARAM;
  item.fmt |= HDF_OWNERDRAW;
  item.lParam = ascending ? 1 : 0;
  SendMessage(HDM_SETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
  sortedColumn = column;
  InvalidateRect(m_hWnd, nullptr, TRUE);
  return true;
}

// -------------------------------------------------- CViewSubContentUserList

namespace {
// Sortable columns of the list (the column table of the rows).
constexpr bool kSortable[CCtrlUserList::kColumnCount] = {true, true, true, false};
}  // namespace

CViewSubContentUserList::CViewSubContentUserList() : CViewContentBase(kTemplateId) {}

CViewSubContentUserList::~CViewSubContentUserList() = default;

const cl::MessageMap* CViewSubContentUserList::GetMessageMap() const {
  static const cl::MessageMap map{
      CViewContentBase::GetMessageMap(),
      {
          cl::OnMessage(WM_ERASEBKGND, &CViewSubContentUserList::OnEraseBkgnd),
          cl::OnMessage(WM_NOTIFY, &CViewSubContentUserList::OnNotifyMessage),
          cl::OnMessage(WM_DESTROY, &CViewSubContentUserList::OnDestroyPane),
      }};
  return &map;
}

BOOL CViewSubContentUserList::PreCreateWindow(CREATESTRUCTW& cs) {
  if (!CViewContentBase::PreCreateWindow(cs)) return FALSE;
  cs.style = (cs.style & ~WS_HSCROLL) | WS_BORDER;
  return TRUE;
}

int CViewSubContentUserList::CreateControls() {
  auto* list = new CCtrlUserList();
  list->autoDelete = true;
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  if (!list->Create(WS_CHILD | WS_VISIBLE | WS_BORDER, rc, m_hWnd, 0xE900)) {
    delete list;
    return 1;
  }
  listView = list;
  list->OnInitialUpdate();
  SetWindowLongPtrW(list->m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(list->m_hWnd, GWL_EXSTYLE) & ~WS_EX_CLIENTEDGE);
  list->scale = scale;
  SetWindowPos(list->m_hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  list->Init(sessionConfig, 0);
  return 1;
}

void CViewSubContentUserList::ClearList() {
  if (listView) {
    listView->RemoveAll();
    listView->ResetState();
    listView->SetScrollSize(0, 0);
  }
  if (header) {
    for (int c = 0; c < CCtrlUserList::kColumnCount; ++c) {
      if (kSortable[c]) header->SetSortArrow(c, false);
    }
  }
  SetScrollSizes({0, 0});
}

void CViewSubContentUserList::RouteInput(const MSG* msg) {
  if (!msg || !listView || !listView->m_hWnd) return;
  if (msg->message == WM_MOUSEWHEEL) {
    RECT r{};
    GetWindowRect(listView->m_hWnd, &r);
    const POINT pt{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)};
    if (PtInRect(&r, pt)) listView->SendMessage(WM_MOUSEWHEEL, msg->wParam, msg->lParam);
  } else if (msg->message == WM_KEYDOWN) {
    switch (msg->wParam) {
      case VK_PRIOR:
      case VK_NEXT:
      case VK_END:
      case VK_HOME:
        listView->HandleKey(msg->wParam);
        break;
      default:
        break;
    }
  }
}

BOOL CViewSubContentUserList::PaintBackground(HDC dc) {
  RECT clip{};
  GetClipBox(dc, &clip);
  cl::CBrush fill(CreateSolidBrush(RGB(245, 245, 245)));
  cl::ScopedSelect sel(dc, fill.get());
  PatBlt(dc, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, PATCOPY);
  return TRUE;
}

LRESULT CViewSubContentUserList::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  return PaintBackground(reinterpret_cast<HDC>(wParam));
}

LRESULT CViewSubContentUserList::OnNotifyMessage(WPARAM, LPARAM lParam) {
  const auto* h = reinterpret_cast<const NMHDR*>(lParam);
  if (h && h->idFrom == kHeaderId && (h->code == HDN_ITEMCLICKW || h->code == HDN_ITEMCLICKA) && listView) {
    const int column = reinterpret_cast<const NMHEADERW*>(lParam)->iItem;
    if (column >= 0 && column < CCtrlUserList::kColumnCount && kSortable[column]) {
      const int direction = listView->SortBy(column, true);
      if (header) header->SetSortArrow(column, direction == 1);
    }
  }
  return Default();
}

LRESULT CViewSubContentUserList::OnDestroyPane(WPARAM wParam, LPARAM lParam) {
  LRESULT r = CViewContentBase::OnDestroy(wParam, lParam);
  if (header) {
    header->SendMessage(WM_CLOSE);
    delete header;
    header = nullptr;
  }
  if (listView) {
    if (listView->m_hWnd) listView->SendMessage(WM_CLOSE);  // deletes itself with its window
    listView = nullptr;
  }
  return r;
}
