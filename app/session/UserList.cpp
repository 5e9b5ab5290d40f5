#include "app/session/UserList.h"

#include <commctrl.h>

#include <cmath>
#include <vector>

#include "app/AppMessages.h"
#include "classlib/Gdi.h"
#include "classlib/MainWindow.h"
#include "classlib/Resource.h"

namespace {

// Pictures of a row's button (300 x 38): hover, normal, pressed.
constexpr int kRowHoverPng = 306;
constexpr int kRowNormalPng = 304;
constexpr int kRowPressedPng = 305;

constexpr COLORREF kRowBackground = RGB(245, 245, 245);
constexpr COLORREF kSeparator = RGB(210, 210, 210);

// The hidden list's columns: title string (0: a single blank), list width.
struct Column {
  UINT titleId;
  int width;
};
constexpr Column kColumns[CCtrlUserList::kColumnCount] = {
    {278, 35},  // "Control"
    {279, 100},  // "Participant"
    {280, 35},  // "Sound"
    {0, 150},
};


int Trunc(float v) { return static_cast<int>(v); }

std::wstring SortText(const UserListItem* item) {
  if (item->isHost) return L"Host (" + item->name + L")";
  return item->name;
}

struct SortOrder {
  int column;
  int direction;  // 1 ascending
};

int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM param) {
  const auto* order = reinterpret_cast<const SortOrder*>(param);
  if (order->column != 1) return 0;
  const auto* first = reinterpret_cast<const UserListItem*>(a);
  const auto* second = reinterpret_cast<const UserListItem*>(b);
  int r = order->direction == 1 ? _wcsicmp(SortText(first).c_str(), SortText(second).c_str())
                                : _wcsicmp(SortText(second).c_str(), SortText(first).c_str());
  // Equal names keep a fixed order, whatever the list's sort does with ties.
  if (r == 0) r = first->key.compare(second->key);
  return r;
}

}  // namespace

// --------------------------------------------------------------- CCtrlOneUser

CCtrlOneUser::~CCtrlOneUser() { DestroyWindow(); }

const cl::MessageMap* CCtrlOneUser::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnCommand(kButtonId, &CCtrlOneUser::OnButtonClicked),
                                      cl::OnMessage(WM_TIMER, &CCtrlOneUser::OnTimer),
                                      cl::OnMessage(WM_ERASEBKGND, &CCtrlOneUser::OnEraseBkgnd),
                                      cl::OnMessage(WM_SYSCOMMAND, &CCtrlOneUser::OnSysCommand),
                                      cl::OnMessage(WM_MOUSEHOVER, &CCtrlOneUser::OnMouseHover),
                                      cl::OnMessage(WM_MOUSELEAVE, &CCtrlOneUser::OnMouseHover),
                                      cl::OnMessage(WM_DESTROY, &CCtrlOneUser::OnDestroy),
                                  }};
  return &map;
}

int CCtrlOneUser::Create(CCtrlUserList* owner, CSessionConfig* config, int idx, const std::wstring& k,
                         const std::wstring& name, int v, float s) {
  list = owner;
  sessionConfig = config;
  scale = s;
  const int w = Trunc(300 * s), h = Trunc(40 * s);
  const wchar_t* cls = RegisterWndClass(CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW));
  CreateEx(0, cls, name.c_str(), WS_CHILD | WS_VISIBLE, RECT{0, 0, w, h}, owner ? owner->m_hWnd : nullptr, kRowId);
  BuildBackBuffer();
  button.Create(L"Button", WS_CHILD | WS_VISIBLE, RECT{0, 1, w, Trunc(40 * s - 2) + 1}, m_hWnd, kButtonId);
  button.caption.clear();
  const int pngs[CPictureButton::kStateCount] = {kRowHoverPng, kRowNormalPng, kRowPressedPng, kRowNormalPng, -1};
  for (int i = 0; i < CPictureButton::kStateCount; ++i) button.states[i].pngId = pngs[i];
  StyleButton(&button, 10 * s);
  for (int i = 0; i < CPictureButton::kFifth; ++i) button.states[i].textColour = 0xFF2E3434;
  button.states[CPictureButton::kFifth].textColour = 0xFF000000;
  button.background.parentDC = back.dc();
  button.background.relative = false;
  if (button.m_hWnd) {
    RECT br{};
    GetWindowRect(button.m_hWnd, &br);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&br), 2);
    button.background.offsetX = br.left;
    button.background.offsetY = br.top;
    GetClientRect(button.m_hWnd, &button.textRect);
  }
  key = k;
  rowValue = v;
  button.caption = name;
  button.MarkDirty();
  index = idx;
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
  return 1;
}

void CCtrlOneUser::BuildBackBuffer() {
  if (!m_hWnd) return;
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  cl::CClientDC wdc(m_hWnd);
  if (!back.Create(wdc, rc.right, rc.bottom)) return;
  cl::CBrush fill(CreateSolidBrush(backgroundColour));
  FillRect(back.dc(), &rc, fill);
}

void CCtrlOneUser::SetBackgroundColour(COLORREF colour) {
  if (colour == backgroundColour) return;
  backgroundColour = colour;
  BuildBackBuffer();
  button.background.parentDC = back.dc();
  button.MarkDirty();
  if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

BOOL CCtrlOneUser::Paint(HDC dc) {
  const int w = Trunc(300 * scale), h = Trunc(40 * scale);
  cl::CPen pen(CreatePen(PS_SOLID, 2, kSeparator));
  cl::ScopedSelect sel(dc, pen.get());
  if (index == 0) {
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, w, 0);
  }
  MoveToEx(dc, 0, h - 1, nullptr);
  LineTo(dc, w, h - 1);
  return TRUE;
}

LRESULT CCtrlOneUser::OnEraseBkgnd(WPARAM wParam, LPARAM) { return Paint(reinterpret_cast<HDC>(wParam)); }

void CCtrlOneUser::OnButtonClicked() {
  if (clickLocked) return;
  const int position = list ? list->ClickPosition(*this) : index;
  if (const UINT command = RowCommandFor(position)) cl::PostToMainWindow(WM_COMMAND, command, 0);
  clickLocked = true;
  SetTimer(kClickLockTimer, kClickLockMs);
}

LRESULT CCtrlOneUser::OnTimer(WPARAM wParam, LPARAM) {
  if (wParam == kClickLockTimer) {
    KillTimer(kClickLockTimer);
    clickLocked = false;
  }
  return Default();
}

LRESULT CCtrlOneUser::OnSysCommand(WPARAM wParam, LPARAM) {
  if ((wParam & 0xFFF0) == SC_CLOSE) return 0;
  return Default();
}

LRESULT CCtrlOneUser::OnMouseHover(WPARAM, LPARAM) { return 0; }

LRESULT CCtrlOneUser::OnDestroy(WPARAM, LPARAM) {
  LRESULT r = Default();
  button.background.parentDC = nullptr;
  back.Reset();
  return r;
}

BOOL CCtrlOneUser::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN &&
      (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE || msg->wParam == VK_SPACE))
    return TRUE;
  return cl::CWnd::PreTranslateMessage(msg);
}

// -------------------------------------------------------------- CCtrlUserList

CCtrlUserList::CCtrlUserList() : CViewContentBase(CViewContentBase::kTemplateId) {
  pageSize = 400;
  lineSize = 0;
}

CCtrlUserList::~CCtrlUserList() {
  // A list that never had its WM_DESTROY (a failed creation) still owns rows.
  for (auto& kv : rows) {
    delete kv.second->row;
    delete kv.second;
  }
  rows.clear();
}

const cl::MessageMap* CCtrlUserList::GetMessageMap() const {
  static const cl::MessageMap map{CViewContentBase::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_ERASEBKGND, &CCtrlUserList::OnEraseBkgnd),
                                      cl::OnMessage(WM_DESTROY, &CCtrlUserList::OnDestroyList),
                                  }};
  return &map;
}

int CCtrlUserList::CreateControls() {
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  hiddenList = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, rc.right - 15, 100,
                               m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kHiddenListId)),
                               GetModuleHandleW(nullptr), nullptr);
  if (!hiddenList) return 1;
  for (int c = 0; c < kColumnCount; ++c) {
    std::wstring title = kColumns[c].titleId ? cl::LoadResString(kColumns[c].titleId) : L" ";
    LVCOLUMNW col{};
    col.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH;
    col.fmt = LVCFMT_LEFT;
    col.cx = kColumns[c].width;
    col.pszText = &title[0];
    ::SendMessageW(hiddenList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
  }
  ::ShowWindow(hiddenList, SW_HIDE);
  return 1;
}

int CCtrlUserList::ResetState() {
  sortColumn = 0;
  for (int& d : sortDirection) d = 0;
  return 1;
}

int CCtrlUserList::InsertItem(UserListItem* item) {
  ScopedLock<CBaseMutex> hold(lock);
  if (!item || !hiddenList || rows.count(item->key)) return -1;
  rows[item->key] = item;
  const int position = static_cast<int>(::SendMessageW(hiddenList, LVM_GETITEMCOUNT, 0, 0));
  std::wstring first = item->isHost ? L"1" : L" ";
  LVITEMW lv{};
  lv.mask = LVIF_TEXT | LVIF_PARAM;
  lv.iItem = position;
  lv.pszText = &first[0];
  lv.lParam = reinterpret_cast<LPARAM>(item);
  const int at = static_cast<int>(::SendMessageW(hiddenList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&lv)));
  if (at < 0) {
    rows.erase(item->key);
    return -1;
  }
  const std::wstring texts[kColumnCount] = {L" ", item->name, L" ", item->key};
  for (int c : {1, 0, 2, 3}) {
    std::wstring t = texts[c];
    LVITEMW sub{};
    sub.iSubItem = c;
    sub.pszText = &t[0];
    ::SendMessageW(hiddenList, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&sub));
  }
  return at;
}

void CCtrlUserList::DestroyItem(UserListItem* item) {
  if (!item) return;
  if (item->row) {
    if (item->row->m_hWnd) item->row->SendMessage(WM_CLOSE);
    delete item->row;
  }
  delete item;
}

int CCtrlUserList::AddUser(const std::wstring& key, const std::wstring& name) {
  auto* item = new UserListItem();
  item->key = key;
  item->name = name;
  item->row = new CCtrlOneUser();
  item->row->Create(this, sessionConfig, -1, key, name, 0, scale);
  if (!item->row->m_hWnd || InsertItem(item) < 0) {
    DestroyItem(item);
    return 0;
  }
  SortHiddenList(sortColumn, sortDirection[sortColumn]);
  LayoutRows();
  return 1;
}

void CCtrlUserList::RemoveAll() {
  ScopedLock<CBaseMutex> hold(lock);
  for (auto& kv : rows) DestroyItem(kv.second);
  rows.clear();
  if (hiddenList) ::SendMessageW(hiddenList, LVM_DELETEALLITEMS, 0, 0);
}

void CCtrlUserList::SortHiddenList(int column, int direction) {
  // Any column but the name compares every pair equal: the rows keep their
  // order, so no sort is run at all.
  if (!hiddenList || column != 1) return;
  ScopedLock<CBaseMutex> hold(lock);
  SortOrder order{column, direction};
  ::SendMessageW(hiddenList, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&order),
               reinterpret_cast<LPARAM>(&CompareRows));
}

int CCtrlUserList::SortBy(int column, bool toggle) {
  if (column < 0 || column >= kColumnCount) return 0;
  int direction = sortDirection[column];
  if (toggle) {
    direction = direction == 1 ? 0 : 1;
    sortDirection[column] = direction;
  }
  SortHiddenList(column, direction);
  LayoutRows();
  sortColumn = column;
  return direction;
}

void CCtrlUserList::LayoutRows() {
  {
    ScopedLock<CBaseMutex> hold(lock);
    const int scrollY = GetScrollPosition().y;
    const int count = hiddenList ? static_cast<int>(::SendMessageW(hiddenList, LVM_GETITEMCOUNT, 0, 0)) : 0;
    for (int i = 0; i < count; ++i) {
      LVITEMW lv{};
      lv.mask = LVIF_PARAM;
      lv.iItem = i;
      if (!::SendMessageW(hiddenList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv))) continue;
      auto* item = reinterpret_cast<UserListItem*>(lv.lParam);
      if (!item || !item->row) continue;
      item->index = i;
      item->row->index = i;
      item->row->SetBackgroundColour(kRowBackground);
      SetWindowPos(item->row->m_hWnd, nullptr, 0, Trunc(i * kRowHeight * scale) - scrollY, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
  }
  UpdateScrollSize();
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CCtrlUserList::UpdateScrollSize() {
  int count;
  {
    ScopedLock<CBaseMutex> hold(lock);
    count = static_cast<int>(rows.size());
  }
  const int h = Trunc(count * kRowHeight * scale);
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  if (h == rc.bottom - rc.top) return;
  if (h > 0) scrollHeight = h;
  SetScrollSizes({scrollWidth, scrollHeight});
}

void CCtrlUserList::SetScrollSize(int cx, int cy) {
  scrollWidth = cx;
  scrollHeight = cy;
  SetScrollSizes({cx, cy});
}

void CCtrlUserList::HandleKey(WPARAM key) {
  switch (key) {
    case VK_PRIOR: Scroll(pageSize, true); break;
    case VK_NEXT: Scroll(pageSize, false); break;
    case VK_END: Scroll(0, false); break;
    case VK_HOME: Scroll(0, true); break;
    default: break;
  }
}

int CCtrlUserList::ClickPosition(const CCtrlOneUser& row) const {
  if (positionOf) return positionOf(row.key);
  return row.index;
}

BOOL CCtrlUserList::PaintBackground(HDC dc) {
  RECT clip{};
  GetClipBox(dc, &clip);
  {
    cl::CBrush fill(CreateSolidBrush(kRowBackground));
    FillRect(dc, &clip, fill);
  }
  cl::CPen pen(CreatePen(PS_SOLID, 1, kSeparator));
  cl::ScopedSelect sel(dc, pen.get());
  const int row = Trunc(kRowHeight * scale);
  if (row > 0) {
    const int n = static_cast<int>(std::ceil(static_cast<double>(clip.bottom - clip.top) / row));
    for (int k = 0; k < n; ++k) {
      const int y = clip.top + Trunc(scale * kRowHeight * k) - 1;
      MoveToEx(dc, clip.left, y, nullptr);
      LineTo(dc, clip.right, y);
    }
  }
  MoveToEx(dc, clip.left, clip.top, nullptr);
  LineTo(dc, clip.right, clip.top);
  MoveToEx(dc, clip.left, clip.bottom - 1, nullptr);
  LineTo(dc, clip.right, clip.bottom - 1);
  return TRUE;
}

LRESULT CCtrlUserList::OnEraseBkgnd(WPARAM wParam, LPARAM) { return PaintBackground(reinterpret_cast<HDC>(wParam)); }

LRESULT CCtrlUserList::OnDestroyList(WPARAM wParam, LPARAM lParam) {
  LRESULT r = CViewContentBase::OnDestroy(wParam, lParam);
  RemoveAll();
  if (hiddenList) {
    ::SendMessageW(hiddenList, WM_CLOSE, 0, 0);
    ::DestroyWindow(hiddenList);
    hiddenList = nullptr;
  }
  return r;
}

int CCtrlUserList::RowCount() {
  ScopedLock<CBaseMutex> hold(lock);
  return static_cast<int>(rows.size());
}

std::vector<std::wstring> CCtrlUserList::KeysInRowOrder() {
  std::vector<std::wstring> keys;
  ScopedLock<CBaseMutex> hold(lock);
  const int count = hiddenList ? static_cast<int>(::SendMessageW(hiddenList, LVM_GETITEMCOUNT, 0, 0)) : 0;
  for (int i = 0; i < count; ++i) {
    LVITEMW lv{};
    lv.mask = LVIF_PARAM;
    lv.iItem = i;
    if (::SendMessageW(hiddenList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv)) && lv.lParam)
      keys.push_back(reinterpret_cast<UserListItem*>(lv.lParam)->key);
  }
  return keys;
}

CCtrlOneUser* CCtrlUserList::RowFor(const std::wstring& k) {
  ScopedLock<CBaseMutex> hold(lock);
  auto it = rows.find(k);
  return it == rows.end() ? nullptr : it->second->row;
}
