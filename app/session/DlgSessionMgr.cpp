#include "app/session/DlgSessionMgr.h"

#include <windowsx.h>

#include <memory>

#include "app/AppMessages.h"
#include "app/DlgPreference.h"
#include "app/dialogs/DlgInputBox.h"
#include "app/session/ContentViews.h"
#include "app/session/SettingsMenu.h"
#include "app/session/UserList.h"
#include "classlib/MainWindow.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "engine/capture/MonitorList.h"
#include "engine/display/ExtendDisplay.h"
#include "engine/mirror/Mirror.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/updater/UpdaterSetup.h"

namespace {

int Trunc(float v) { return static_cast<int>(v); }

// Controls of template 124.
constexpr UINT kConnectButton = 1146;
constexpr UINT kMenuButton = 1119;
constexpr UINT kHideButton = 1120;
constexpr UINT kLogo = 1132;
constexpr UINT kReceiverLabel = 1131;
constexpr UINT kFullscreenButton = 1121;
constexpr UINT kDisplayButton = 1122;
constexpr UINT kStopButton = 1123;

constexpr int kLogoPng = 160;

bool HasVisibleStyle(HWND h) { return h && (GetWindowLongPtrW(h, GWL_STYLE) & WS_VISIBLE) != 0; }

void SetPictures(CPictureButton& b, int hover, int normal, int pressed, int disabled) {
  const int ids[CPictureButton::kStateCount] = {hover, normal, pressed, disabled, -1};
  for (int i = 0; i < CPictureButton::kStateCount; ++i) b.states[i].pngId = ids[i];
}

}  // namespace

// -------------------------------------------------------------------- CDlgBase

CDlgBase::CDlgBase(cl::CWnd* parent) : CDialogExt(kTemplateId, parent) {}

CDlgBase::~CDlgBase() = default;

const cl::MessageMap* CDlgBase::GetMessageMap() const {
  static const cl::MessageMap map{CDialogExt::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_ERASEBKGND, &CDlgBase::OnEraseBkgnd),
                                      cl::OnMessage(WM_CTLCOLORSTATIC, &CDlgBase::OnCtlColor),
                                      cl::OnMessage(WM_CTLCOLORBTN, &CDlgBase::OnCtlColor),
                                      cl::OnMessage(WM_CTLCOLOREDIT, &CDlgBase::OnCtlColor),
                                      cl::OnMessage(WM_CTLCOLORLISTBOX, &CDlgBase::OnCtlColor),
                                      cl::OnMessage(WM_DESTROY, &CDlgBase::OnDestroy),
                                  }};
  return &map;
}

int CDlgBase::LoadSkin(int pngId, bool naturalSize, float scale) {
  std::unique_ptr<Gdiplus::Bitmap> image;
  if (pngId <= 0 || !LoadPngBitmap(static_cast<UINT>(pngId), &image)) return skinResult;
  const int w = static_cast<int>(image->GetWidth()), h = static_cast<int>(image->GetHeight());
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  if (GetStyle() & WS_CHILD) MapWindowPoints(nullptr, ::GetParent(m_hWnd), reinterpret_cast<POINT*>(&wr), 2);
  if (naturalSize) {
    skinRect = {0, 0, w, h};
  } else {
    skinRect = {0, 0, Trunc(w * scale), Trunc(h * scale)};
  }
  SetWindowPos(m_hWnd, nullptr, wr.left, wr.top, skinRect.right + 1, skinRect.bottom + 1,
               SWP_NOZORDER | SWP_NOACTIVATE);
  SetRegion(image.get());
  skinResult = BuildBackBuffer(image.get());
  image.reset();
  // Where the panel sits in its frame is ours to choose: in the middle of
  // the frame (or of the main window for a panel that has no frame).
  HWND parent = ::GetParent(m_hWnd);
  if (parent && (GetStyle() & WS_CHILD)) {
    RECT pc{};
    GetClientRect(parent, &pc);
    const int x = (pc.right - (skinRect.right + 1)) / 2, y = (pc.bottom - (skinRect.bottom + 1)) / 2;
    SetWindowPos(m_hWnd, nullptr, x > 0 ? x : 0, y > 0 ? y : 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    kit::CenterWindow(m_hWnd, cl::GetMainWindow());
  }
  InvalidateRect(m_hWnd, nullptr, TRUE);
  return skinResult;
}

int CDlgBase::SetRegion(Gdiplus::Image* image) {
  if (!image) return 0;
  HRGN region = CreateRoundRectRgn(0, 0, skinRect.right + 2, skinRect.bottom + 2, 5, 5);
  if (region && !SetWindowRgn(m_hWnd, region, TRUE)) DeleteObject(region);
  return 1;
}

int CDlgBase::BuildBackBuffer(Gdiplus::Image* image) {
  FreeBackBuffer();
  if (!image) return 0;
  // The window is one pixel wider and taller than the skin: the buffer
  // covers it all, its last column and row repeating the skin's edge, so
  // that nothing undrawn (black) shows along the right and bottom.
  const int w = skinRect.right, h = skinRect.bottom;
  if (!back_.Create(nullptr, w + 1, h + 1)) return 0;
  kit::DrawImageOn(back_.dc(), image, 0, 0, w, h);
  if (w > 0 && h > 0) {
    BitBlt(back_.dc(), w, 0, 1, h, back_.dc(), w - 1, 0, SRCCOPY);
    BitBlt(back_.dc(), 0, h, w + 1, 1, back_.dc(), 0, h - 1, SRCCOPY);
  }
  return 1;
}

void CDlgBase::FreeBackBuffer() { back_.Reset(); }

int CDlgBase::GetChildOffset(HWND child, int& x, int& y) {
  if (!child) return 0;
  RECT c{}, me{};
  GetWindowRect(child, &c);
  GetWindowRect(m_hWnd, &me);
  x = c.left - me.left;
  y = c.top - me.top;
  return 1;
}

LRESULT CDlgBase::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  if (skinResult == 0 || !back_.ok()) return Default();
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetBkMode(dc, TRANSPARENT);
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&wr), 2);
  BitBlt(dc, wr.left, wr.top, wr.right - wr.left, wr.bottom - wr.top, back_.dc(), 0, 0, SRCCOPY);
  return 1;
}

LRESULT CDlgBase::OnCtlColor(WPARAM wParam, LPARAM) {
  Default();
  SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
  return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

LRESULT CDlgBase::OnDestroy(WPARAM wParam, LPARAM lParam) {
  LRESULT r = CDialogExt::OnDestroy(wParam, lParam);
  FreeBackBuffer();
  return r;
}

// --------------------------------------------------------- CDlgSessionMgrBase

CDlgSessionMgrBase::CDlgSessionMgrBase(CSessionConfig* config, cl::CWnd* ownerWindow, cl::CWnd* parent)
    : CDlgBase(parent), sessionConfig(config), owner(ownerWindow), frame_(parent) {}

CDlgSessionMgrBase::~CDlgSessionMgrBase() = default;

const cl::MessageMap* CDlgSessionMgrBase::GetMessageMap() const {
  static const cl::MessageMap map{CDlgBase::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_LBUTTONDOWN, &CDlgSessionMgrBase::OnLButtonDown),
                                      cl::OnMessage(WM_SYSCOMMAND, &CDlgSessionMgrBase::OnSysCommand),
                                  }};
  return &map;
}

BOOL CDlgSessionMgrBase::OnInitDialog() {
  CDialogExt::OnInitDialog();
  LoadSkin(skinId, true, 1.0f);
  InitControls();
  FocusIfConfigured();
  return TRUE;
}

int CDlgSessionMgrBase::FocusIfConfigured() { return 1; }

int CDlgSessionMgrBase::SetRegion(Gdiplus::Image* image) { return CDlgBase::SetRegion(image); }

bool CDlgSessionMgrBase::HitTestCaption(POINT pt) {
  RECT client{};
  GetClientRect(m_hWnd, &client);
  return pt.y <= captionRect.bottom && pt.x >= client.left + 5 && pt.x <= client.right - 5 && !IsOverHideButton(pt);
}

void CDlgSessionMgrBase::ForwardCommand(UINT id) {
  if (owner && owner->m_hWnd) ::PostMessageW(owner->m_hWnd, WM_COMMAND, id, 0);
}

int CDlgSessionMgrBase::ShowFrame(int cmd) {
  HWND frame = ::GetParent(m_hWnd);
  if (!frame) return 0;
  return ::ShowWindow(frame, cmd);
}

LRESULT CDlgSessionMgrBase::OnLButtonDown(WPARAM, LPARAM lParam) {
  const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  if (HitTestCaption(pt)) {
    // The user drags the whole session window by the panel's caption.
    if (HWND frame = ::GetParent(m_hWnd)) ::SendMessageW(frame, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
    return 0;
  }
  return Default();
}

LRESULT CDlgSessionMgrBase::OnSysCommand(WPARAM wParam, LPARAM) {
  if ((wParam & 0xFFF0) == SC_CLOSE) {
    ShowFrame(SW_HIDE);
    return 0;
  }
  return Default();
}

// ------------------------------------------------------------- CDlgSessionMgr

CDlgSessionMgr::CDlgSessionMgr(CSessionConfig* config, cl::CWnd* ownerWindow, cl::CWnd* parent)
    : CDlgSessionMgrBase(config, ownerWindow, parent) {
  skinId = kSkinPng;
}

CDlgSessionMgr::~CDlgSessionMgr() {
  for (HBITMAP& b : menuBitmaps) {
    if (b) DeleteObject(b);
    b = nullptr;
  }
}

const cl::MessageMap* CDlgSessionMgr::GetMessageMap() const {
  static const cl::MessageMap map{
      CDlgSessionMgrBase::GetMessageMap(),
      {
          cl::OnCommand(kStopButton, &CDlgSessionMgr::OnStop),
          cl::OnCommand(kHideButton, &CDlgSessionMgr::OnHide),
          cl::OnCommand(kFullscreenButton, &CDlgSessionMgr::OnFullscreen),
          cl::OnCommand(kDisplayButton, &CDlgSessionMgr::OnDisplayMenu),
          cl::OnCommand(kMenuButton, &CDlgSessionMgr::OnSettingsMenu),
          cl::OnCommand(kConnectButton, &CDlgSessionMgr::OnConnect),
          cl::OnCommand(ID_PREFERENCES, &CDlgSessionMgr::OnPreferences),
          cl::OnCommand(ID_CHECK_UPDATE, &CDlgSessionMgr::OnCheckUpdate),
          cl::OnCommandRange(ID_SELECT_DISPLAY_FIRST, ID_EXTEND_DESKTOP, &CDlgSessionMgr::OnDisplayCommand),
          cl::OnMessage(WM_DESTROY, &CDlgSessionMgr::OnDestroyPanel),
      }};
  return &map;
}

void CDlgSessionMgr::DoDataExchange() {
  DDX_Control(kConnectButton, connectButton);
  DDX_Control(kMenuButton, menuButton);
  DDX_Control(kHideButton, hideButton);
  DDX_Control(kLogo, logo);
  DDX_Control(kReceiverLabel, receiverLabel);
  DDX_Control(kFullscreenButton, fullscreenButton);
  DDX_Control(kDisplayButton, displayButton);
  DDX_Control(kStopButton, stopButton);
}

void CDlgSessionMgr::UseBackBuffer(CPictureButton& b, HDC source) {
  int x = 0, y = 0;
  GetChildOffset(b.m_hWnd, x, y);
  b.background.Free();
  b.background.pngId = -1;
  b.background.parentDC = source ? source : backDC();
  b.background.relative = false;
  b.background.offsetX = x;
  b.background.offsetY = y;
  GetClientRect(b.m_hWnd, &b.textRect);
  b.MarkDirty();
}

void CDlgSessionMgr::StyleSessionButton(CPictureButton& b, const int pngs[4], UINT tipId, int x, int y, int side) {
  SetWindowPos(b.m_hWnd, nullptr, x, y, side, side, SWP_NOZORDER | SWP_NOACTIVATE);
  StyleButton(&b, 14 * scale);
  b.cursor = LoadCursorW(nullptr, IDC_HAND);
  b.caption.clear();
  b.tooltipEnabled = true;
  b.alwaysTip = true;
  b.tipMaxWidth = 120;
  b.tipText = cl::LoadResString(tipId);
  SetPictures(b, pngs[0], pngs[1], pngs[2], pngs[3]);
  // The header's buttons stand on the header picture, not on the skin.
  UseBackBuffer(b, headerBack_.ok() ? headerBack_.dc() : nullptr);
}

void CDlgSessionMgr::BuildHeaderBack() {
  // The skin with the header picture where the logo shows it (stretched
  // over the logo, as the logo draws it): what lies under the receiver's
  // name and the session buttons while a session runs.
  headerBack_.Reset();
  if (!back_.ok() || !headerBack_.Create(back_.dc(), skinRect.right + 1, skinRect.bottom + 1)) return;
  BitBlt(headerBack_.dc(), 0, 0, skinRect.right + 1, skinRect.bottom + 1, back_.dc(), 0, 0, SRCCOPY);
  std::unique_ptr<Gdiplus::Image> picture;
  int x = 0, y = 0;
  if (LoadPngImage(kLogoPng, &picture) && GetChildOffset(logo.m_hWnd, x, y)) {
    const SIZE size = kit::ClientSize(logo.m_hWnd);
    kit::DrawImageOn(headerBack_.dc(), picture.get(), x, y, size.cx, size.cy);
  }
}

int CDlgSessionMgr::InitControls() {
  {
    auto monitors = std::make_unique<CMonitorList>();
    monitors->Enumerate();
    scale = monitors->GetWindowDpiScale(m_hWnd);
  }
  const float s = scale;
  LoadSkin(skinId, false, s);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  const int W = client.right;
  const int strip = Trunc(50 * s);
  captionRect = {1, 1, W - 2, strip};

  const int b36 = Trunc(36 * s);
  struct Caption {
    CPictureButton& button;
    int hover, normal, pressed, disabled;
    int height;
  } caption[] = {{hideButton, 308, 307, 308, 307, strip - 2},
                 {menuButton, 298, 297, 299, 297, strip - 1},
                 {connectButton, 312, 311, 313, 311, strip - 1}};
  int x = (W - 2);
  for (Caption& c : caption) {
    x -= b36;
    SetWindowPos(c.button.m_hWnd, nullptr, x, 1, b36, c.height, SWP_NOZORDER | SWP_NOACTIVATE);
    c.button.caption.clear();
    SetPictures(c.button, c.hover, c.normal, c.pressed, c.disabled);
    UseBackBuffer(c.button);
  }

  SetWindowPos(logo.m_hWnd, nullptr, 1, strip, (W - 2) - 1, Trunc(55 * s), SWP_NOZORDER | SWP_NOACTIVATE);
  logo.pngId = kLogoPng;
  logo.iconName = nullptr;
  logo.imagePath.clear();
  logo.background.pngId = -1;
  // The skin under it, never whatever the screen showed there at its first
  // paint; the header surface is made from the same two pictures.
  logo.background.parentDC = backDC();
  GetChildOffset(logo.m_hWnd, logo.background.offsetX, logo.background.offsetY);
  logo.fitIfSmaller = false;
  logo.drawn = false;
  BuildHeaderBack();

  SetWindowPos(receiverLabel.m_hWnd, nullptr, 1 + Trunc(50 * s), Trunc(50 * s) + Trunc(12 * s), Trunc(130 * s),
               Trunc(25 * s), SWP_NOZORDER | SWP_NOACTIVATE);
  StyleStatic(&receiverLabel, true, false, 10 * s, 0xFF40A0AD);
  {
    int ox = 0, oy = 0;
    GetChildOffset(receiverLabel.m_hWnd, ox, oy);
    receiverLabel.useBackground = true;
    receiverLabel.background.pngId = -1;
    receiverLabel.background.parentDC = headerBack_.ok() ? headerBack_.dc() : backDC();
    receiverLabel.background.relative = false;
    receiverLabel.background.offsetX = ox;
    receiverLabel.background.offsetY = oy;
  }
  receiverLabel.SetText(L"Apple TV");

  const int side = Trunc(20 * s);
  const int y = strip + Trunc(10 * s);
  const int fullscreenPngs[4] = {290, 291, 292, 293};
  const int displayPngs[4] = {286, 287, 288, 289};
  const int stopPngs[4] = {294, 295, 296, 295};
  StyleSessionButton(fullscreenButton, fullscreenPngs, IDS_FULLSCREEN, (W - 2) - Trunc(75 * s), y, side);
  StyleSessionButton(displayButton, displayPngs, IDS_EXTEND_DISPLAY, (W - 2) - Trunc(50 * s), y, side);
  StyleSessionButton(stopButton, stopPngs, IDS_STOP, (W - 2) - Trunc(25 * s), y, side);

  ShowSessionControls(0);
  listRect = {captionRect.left + 1, captionRect.bottom + 1, captionRect.right - 1, client.bottom - 2};
  CreateListView();
  const UINT bitmaps[3] = {IDB_MENU_ABOUT, IDB_MENU_UPDATE, IDB_MENU_PREFERENCES};
  for (int i = 0; i < 3; ++i) {
    menuBitmaps[i] = static_cast<HBITMAP>(
        LoadImageW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(bitmaps[i]), IMAGE_BITMAP, 0, 0, 0));
  }
  return 1;
}

void CDlgSessionMgr::CreateListView() {
  auto* view = new CViewSubContentUserList();
  view->autoDelete = true;
  if (!view->Create(WS_CHILD | WS_VISIBLE | WS_BORDER, listRect, m_hWnd, kListViewId)) {
    delete view;
    return;
  }
  listView = view;
  view->scale = scale;
  view->OnInitialUpdate();
  SetWindowLongPtrW(view->m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(view->m_hWnd, GWL_EXSTYLE) & ~WS_EX_CLIENTEDGE);
  SetWindowPos(view->m_hWnd, nullptr, listRect.left, listRect.top, listRect.right - listRect.left,
               listRect.bottom - listRect.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  view->Init(sessionConfig, 0);
  if (view->listView) view->listView->positionOf = [this](const std::wstring& key) { return KeyPosition(key); };
}

void CDlgSessionMgr::PlaceListBelowHeader() {
  const int header = Trunc(55 * scale);
  SetWindowPos(listView->m_hWnd, nullptr, listRect.left, listRect.top + header - 1, listRect.right - listRect.left,
               listRect.bottom - header - listRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDlgSessionMgr::ShowSessionControls(int show) {
  cl::CWnd* header[] = {&logo, &receiverLabel, &fullscreenButton, &displayButton, &stopButton};
  if (!listView) {
    for (cl::CWnd* w : header) w->ShowWindow(show);
    return;
  }
  if (show == 0) {
    for (cl::CWnd* w : header) w->ShowWindow(SW_HIDE);
    SetWindowPos(listView->m_hWnd, nullptr, listRect.left, listRect.top, listRect.right - listRect.left,
                 listRect.bottom - listRect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  PlaceListBelowHeader();
  for (cl::CWnd* w : header) w->ShowWindow(SW_SHOW);
}

PanelOwnerState CDlgSessionMgr::ReadOwnerState() const {
  PanelOwnerState state;
  auto* main = dynamic_cast<CDlgPreference*>(owner);
  if (!main) return state;
  state.isMainWindow = true;
  if (CMirror* session = main->Session(); session && session->IsRunning()) state.sessionHost = main->SessionHost();
  if (CExtendDisplay* ext = main->ExtendDisplayManager(); ext && ext->deviceMgr && ext->deviceMgr->attached) {
    state.extended = true;
    state.extIndex = ext->GetMonitorIndex();
  }
  state.current = main->Params().displayIndex;
  return state;
}

std::wstring CDlgSessionMgr::DisplayName(const std::string& serviceName) {
  const size_t at = serviceName.find('@');
  return cl::Utf8ToWide(at == std::string::npos ? serviceName : serviceName.substr(at + 1));
}

int CDlgSessionMgr::KeyPosition(const std::wstring& key) const {
  int position = 0;
  for (const auto& kv : receivers) {
    if (kv.first == key) return position;
    ++position;
  }
  return -1;
}

void CDlgSessionMgr::UpdateReceiverMap(ReceiverMap map) {
  if (map.size() > static_cast<size_t>(kMaxReceiverRows))
    ZtLogger::Instance().Warn("[UI] %u receivers listed, rows for the first %d only",
                              static_cast<unsigned>(map.size()), kMaxReceiverRows);
  std::string host;
  const PanelOwnerState state = ReadOwnerState();
  if (!state.isMainWindow)
    ZtLogger::Instance().Warn("parent dialog not here");
  else
    host = state.sessionHost;
  // The controls' own visible state: the window may be hidden as a whole.
  const bool wasShown = HasVisibleStyle(stopButton.m_hWnd);
  ShowSessionControls(host.empty() ? 0 : 5);
  const bool nowShown = HasVisibleStyle(stopButton.m_hWnd);

  // A switch from one receiver to another keeps the header shown: the rows
  // are rebuilt all the same, so the new receiver's row goes and the old
  // one's comes back instead of waiting for a change of the map.
  bool unchanged = nowShown == wasShown && host == rowsHost && receivers.size() == map.size();
  for (auto it = map.begin(); unchanged && it != map.end(); ++it) {
    auto stored = receivers.find(it->first);
    unchanged = stored != receivers.end() && _stricmp(stored->second.address.c_str(), it->second.address.c_str()) == 0 &&
                stored->second.name == it->second.name;
  }
  if (unchanged) return;
  receivers = std::move(map);
  RebuildUserList(host);
}

void CDlgSessionMgr::RebuildUserList(const std::string& host) {
  if (!listView) return;
  rowsHost = host;
  listView->ClearList();
  // A row stands for its listed position, and only positions that have a
  // connect id get one; the session's receiver is named wherever it stands.
  int position = 0;
  for (const auto& kv : receivers) {
    const std::wstring display = DisplayName(kv.second.name);
    if (host == kv.second.address)
      receiverLabel.SetText(display);
    else if (listView->listView && RowCommandFor(position) != 0)
      listView->listView->AddUser(kv.first, display);
    ++position;
  }
}

void CDlgSessionMgr::RefreshSession() {
  if (!listView) return;
  // The whole header and the rows follow the session now, both ways: its
  // receiver names the header and leaves the list (or the header goes and
  // the receiver is back), without waiting for the next publication.
  UpdateReceiverMap(receivers);
}

bool CDlgSessionMgr::ShowsSession(const std::string& host) const {
  return HasVisibleStyle(stopButton.m_hWnd) == !host.empty() && (!listView || rowsHost == host);
}

void CDlgSessionMgr::OnStop() {
  ForwardCommand(ID_STOP_MIRRORING);
  ShowSessionControls(0);
  RebuildUserList("");
}

void CDlgSessionMgr::OnHide() { ShowFrame(SW_HIDE); }

void CDlgSessionMgr::OnFullscreen() { ForwardCommand(ID_RESELECT_DISPLAY); }

void CDlgSessionMgr::OnDisplayCommand(UINT id) { ForwardCommand(id); }

HMENU CDlgSessionMgr::BuildDisplayMenu(HMENU menu, const PanelOwnerState& state) {
  const std::wstring title = cl::LoadResString(IDS_USE_TO);
  ModifyMenuW(menu, 0, MF_BYPOSITION | MF_STRING | MF_DISABLED | MF_GRAYED, ID_DISPLAY_MENU_TITLE, title.c_str());
  CMonitorList monitors;
  monitors.Enumerate();
  const int count = monitors.Count();
  const std::wstring mirror = cl::LoadResString(IDS_MIRROR);
  UINT pos = 1;
  for (int n = 0, index = monitors.currentIndex(); n < count; ++n, index = (index + 1) % count) {
    if (index == state.extIndex) continue;
    const std::wstring text = cl::FormatW(L"%s %s", mirror.c_str(), monitors.GetName(index).c_str());
    InsertMenuW(menu, pos++, MF_BYPOSITION | MF_STRING | (index == state.current ? MF_CHECKED : MF_UNCHECKED),
                ID_SELECT_DISPLAY_FIRST + static_cast<UINT>(index), text.c_str());
  }
  const std::wstring extend = cl::LoadResString(IDS_EXTEND_DESKTOP);
  InsertMenuW(menu, pos++,
              MF_BYPOSITION | MF_STRING | (state.extended && state.current == state.extIndex ? MF_CHECKED : MF_UNCHECKED),
              ID_EXTEND_DESKTOP, extend.c_str());
  InsertMenuW(menu, pos, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  return menu;
}

void CDlgSessionMgr::OnDisplayMenu() {
  POINT pt{};
  GetCursorPos(&pt);
  cl::UniqueMenu menu(LoadMenuW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_DISPLAY_MENU)));
  HMENU popup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
  if (!popup) return;
  BuildDisplayMenu(popup, ReadOwnerState());
  SetForegroundWindow(m_hWnd);
  TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
}

void CDlgSessionMgr::OnSettingsMenu() {
  TrackSettingsMenu(m_hWnd, menuBitmaps[2], menuBitmaps[1], menuBitmaps[0]);
}

void CDlgSessionMgr::OnPreferences() {
  HWND main = cl::GetMainWindow();
  if (!main) {
    ZtLogger::Instance().Error("Mainframe hwnd is NULL.");
    return;
  }
  ::PostMessageW(main, WM_TOGGLE_PREFERENCES, 0, 0);
}

void CDlgSessionMgr::OnCheckUpdate() { CheckForUpdatesWithUi(); }

void CDlgSessionMgr::OnConnect() {
  CDlgInputBox box(cl::LoadResString(IDS_CONNECT_TITLE), cl::LoadResString(IDS_CONNECT_PROMPT), this);
  box.result = CFrameUtility::GetTxSToken();
  if (box.DoModal() != IDOK) return;
  CFrameUtility::SetTxSToken(box.result);
  HWND main = cl::GetMainWindow();
  if (!main) {
    ZtLogger::Instance().Error("Mainframe hwnd is NULL.");
    return;
  }
  ::PostMessageW(main, WM_CONNECT_BY_TEXT, 0, 0);
}

int CDlgSessionMgr::FocusIfConfigured() {
  if (!sessionConfig) return 0;
  ::SetFocus(m_hWnd);
  return 1;
}

bool CDlgSessionMgr::IsOverHideButton(POINT pt) {
  if (!hideButton.m_hWnd) return false;
  RECT r{};
  GetWindowRect(hideButton.m_hWnd, &r);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  return PtInRect(&r, pt) != FALSE;
}

BOOL CDlgSessionMgr::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN &&
      (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE || msg->wParam == VK_SPACE))
    return TRUE;
  if ((msg->message == WM_KEYDOWN || msg->message == WM_MOUSEWHEEL) && listView) listView->RouteInput(msg);
  return CDlgSessionMgrBase::PreTranslateMessage(msg);
}

LRESULT CDlgSessionMgr::OnDestroyPanel(WPARAM wParam, LPARAM lParam) {
  LRESULT r = CDlgBase::OnDestroy(wParam, lParam);
  headerBack_.Reset();
  if (listView) {
    if (listView->m_hWnd) listView->SendMessage(WM_CLOSE);  // deletes itself with its window
    listView = nullptr;
  }
  return r;
}
