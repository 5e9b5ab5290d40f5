#include "app/dialogs/DlgProxy.h"

#include <cwctype>
#include <vector>

#include "app/resources/resource.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"

namespace {

// Where the form lies in the dialog (and in its picture).
constexpr int kPageOffsetX = 10;
constexpr int kPageOffsetY = 60;
constexpr int kHostInsetRight = 10;
constexpr int kHostInsetBottom = 75;

constexpr UINT_PTR kListenTimer = 1;
constexpr UINT kListenPeriodMs = 30000;

// Puts the form's host back over the dialog once Wine has shown it.
constexpr UINT_PTR kPlaceHostTimer = 0x143;
constexpr UINT kPlaceHostDelayMs = 250;

constexpr Gdiplus::ARGB kHeaderColour = 0xFF1C1C1C;
constexpr Gdiplus::ARGB kMessageColour = 0xFEED1C24;

// Posted by the host to the dialog when the host's activation changed.
constexpr UINT WM_PROXY_HOST_ACTIVATE = WM_APP + 0x143;

// A host for the form: nothing of its own; keys never close it. The form
// lives in it, so it is the active window while the user types there, and
// then the user's switch to another program deactivates it, not the
// dialog: it tells the dialog, which places it again.
class ProxyHost : public cl::CDialog {
 public:
  ProxyHost() : cl::CDialog(IDD_PROXY_HOST) {}
  ~ProxyHost() override { DestroyWindow(); }
  void OnOK() override {}
  void OnCancel() override {}

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    const LRESULT r = cl::CDialog::WindowProc(message, wParam, lParam);
    if (message == WM_ACTIVATE) ::PostMessageW(::GetWindow(m_hWnd, GW_OWNER), WM_PROXY_HOST_ACTIVATE, 0, 0);
    return r;
  }
};

std::wstring ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  const int n = item ? GetWindowTextLengthW(item) : 0;
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  if (item) GetWindowTextW(item, &s[0], n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

RECT RectInParent(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

std::wstring TrimSpace(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::iswspace(s[b])) ++b;
  while (e > b && std::iswspace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

int ParsePortText(const std::wstring& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > 0x7FFFFFFF) return -1;
  }
  return static_cast<int>(negative ? -value : value);
}

// ------------------------------------------------------------------ the form

CPageNetwork::CPageNetwork(UINT templateId, cl::CWnd* parent)
    : CDlgChildBase(templateId, IDP_PROXY_BACKGROUND, parent) {
  offsetX = kPageOffsetX;
  offsetY = kPageOffsetY;
  applyHidden = true;
}

CPageNetwork::~CPageNetwork() = default;

const cl::MessageMap* CPageNetwork::GetMessageMap() const {
  static const cl::MessageMap map{CDlgChildBase::GetMessageMap(),
                                  {
                                      cl::OnCommand(IDC_PROXY_NONE, &CPageNetwork::OnNone),
                                      cl::OnCommand(IDC_PROXY_AUTO, &CPageNetwork::OnAuto),
                                      cl::OnCommand(IDC_PROXY_MANUAL, &CPageNetwork::OnManual),
                                      cl::OnCommand(IDC_PROXY_APPLY, &CPageNetwork::OnApply),
                                      cl::OnMessage(WM_TIMER, &CPageNetwork::OnTimer),
                                  }};
  return &map;
}

void CPageNetwork::DoDataExchange() {
  DDX_Control(IDC_PROXY_HEADER, header);
  DDX_Control(IDC_PROXY_NONE_LABEL, noneLabel);
  DDX_Control(IDC_PROXY_AUTO_LABEL, autoLabel);
  DDX_Control(IDC_PROXY_MANUAL_LABEL, manualLabel);
  DDX_Control(IDC_PROXY_SERVER_LABEL, serverLabel);
  DDX_Control(IDC_PROXY_USER_LABEL, userLabel);
  DDX_Control(IDC_PROXY_PASSWORD_LABEL, passwordLabel);
  DDX_Control(IDC_PROXY_MESSAGE, message);
  DDX_Control(IDC_PROXY_APPLY, apply);
  DDX_Control(IDC_PROXY_NONE, radioNone);
  DDX_Control(IDC_PROXY_AUTO, radioAuto);
  DDX_Control(IDC_PROXY_MANUAL, radioManual);
  DDX_Control(IDC_LISTEN_HEADER, listenHeader);
  DDX_Control(IDC_LISTEN_ADDRESSES, listenAddresses);
  DDX_Control(IDC_LISTEN_ADAPTERS, listenAdapters);
}

void CPageNetwork::UpdateData(bool fromControls) {
  struct {
    int id;
    std::wstring* value;
  } const fields[] = {{IDC_PROXY_SERVER, &server},
                      {IDC_PROXY_PORT, &port},
                      {IDC_PROXY_USER, &user},
                      {IDC_PROXY_PASSWORD_EDIT, &password}};
  for (const auto& f : fields) {
    if (fromControls)
      *f.value = ItemText(m_hWnd, f.id);
    else
      SetDlgItemTextW(m_hWnd, f.id, f.value->c_str());
  }
}

void CPageNetwork::SetupRadio(CPictureButton& b) {
  const int images[CPictureButton::kStateCount] = {IDP_RADIO_UNCHECKED, IDP_RADIO_UNCHECKED, IDP_RADIO_CHECKED,
                                                   IDP_RADIO_DISABLED, IDP_RADIO_CHECKED};
  SetupPictureButton(&b, true);
  for (int i = 0; i < CPictureButton::kStateCount; ++i) b.states[i].pngId = images[i];
  b.caption.clear();
  GetClientRect(b.m_hWnd, &b.textRect);
  b.MarkDirty();
}

void CPageNetwork::InitDialogHook() {
  SetupStatic(&header, true, false);
  header.textColour = kHeaderColour;
  header.SetFontSize(9.6f, 14.0f);
  header.SetText(cl::LoadResString(IDS_PROXY_SETTINGS));

  struct {
    CCustomStatic* label;
    UINT text;
  } const labels[] = {{&noneLabel, IDS_NO_PROXY},        {&autoLabel, IDS_PROXY_AUTO},
                      {&manualLabel, IDS_PROXY_MANUAL},  {&serverLabel, IDS_PROXY_SERVER},
                      {&userLabel, IDS_PROXY_USERNAME},  {&passwordLabel, IDS_PROXY_PASSWORD}};
  for (const auto& l : labels) {
    SetupStatic(l.label, false, false);
    l.label->SetText(cl::LoadResString(l.text));
  }

  if (applyHidden) {
    // The message takes the hidden Apply button's place.
    const RECT a = RectInParent(apply.m_hWnd);
    const RECT m = RectInParent(message.m_hWnd);
    MoveWindow(message.m_hWnd, a.left, a.top - 8, m.right - a.left, m.bottom - (a.top - 8), FALSE);
  }
  SetupStatic(&message, false, false);
  message.SetText(L"");
  message.textColour = kMessageColour;
  message.ShowWindow(SW_HIDE);

  const int applyImages[CPictureButton::kStateCount] = {IDP_APPLY_HOVER, IDP_APPLY_NORMAL, IDP_APPLY_PRESSED,
                                                        IDP_APPLY_DISABLED, -1};
  const Gdiplus::ARGB applyColours[CPictureButton::kStateCount] = {0xFE000000, 0xFE000000, 0xFEFFFFFF, 0xFE808080,
                                                                   0xFF000000};
  SetupPictureButton(&apply, true);
  for (int i = 0; i < CPictureButton::kStateCount; ++i) {
    apply.states[i].pngId = applyImages[i];
    apply.states[i].textColour = applyColours[i];
  }
  apply.SetFontFamily(L"Arial");
  apply.fontUnit = Gdiplus::UnitPoint;
  apply.fontSize = 9.0f * kit::ScreenPointFactor();
  apply.caption = cl::LoadResString(IDS_APPLY);
  GetClientRect(apply.m_hWnd, &apply.textRect);
  apply.MarkDirty();
  apply.ShowWindow(applyHidden ? SW_HIDE : SW_SHOW);

  SetupRadio(radioNone);
  SetupRadio(radioAuto);
  SetupRadio(radioManual);

  LoadSettings();

  // The addresses must be readable on the form: the labels' look.
  for (CCustomStatic* s : {&listenHeader, &listenAddresses, &listenAdapters}) SetupStatic(s, false, false);
  listenHeader.fontStyle = Gdiplus::FontStyleBold;
  listenHeader.SetText(ItemText(m_hWnd, IDC_LISTEN_HEADER));
  SetTimer(kListenTimer, kListenPeriodMs);
  FillListenOn();
}

void CPageNetwork::LoadSettings() {
  proxyMode = CFrameUtility::GetProxyMode();
  if (proxyMode != kProxyNone) {
    int portNumber = -1;
    CFrameUtility::GetProxySetting(server, portNumber, user, password);
    port = portNumber > 0 ? cl::FormatW(L"%d", portNumber) : L"";
  }
  UpdateData(false);
  ShowMode(proxyMode);
}

void CPageNetwork::ShowMode(int mode) {
  proxyMode = mode;
  if (mode != kProxyNone && mode != kProxyAuto && mode != kProxyManual) return;
  CPictureButton* radios[] = {&radioNone, &radioAuto, &radioManual};
  for (int i = 0; i < 3; ++i) {
    const bool on = i == mode;
    if (radios[i]->checked != on) {
      radios[i]->checked = on;
      if (radios[i]->m_hWnd) InvalidateRect(radios[i]->m_hWnd, nullptr, FALSE);
    }
  }
  const bool serverOn = mode == kProxyManual;
  const bool accountOn = mode != kProxyNone;
  EnableWindow(GetDlgItem(IDC_PROXY_SERVER), serverOn);
  EnableWindow(GetDlgItem(IDC_PROXY_PORT), serverOn);
  EnableWindow(GetDlgItem(IDC_PROXY_USER), accountOn);
  EnableWindow(GetDlgItem(IDC_PROXY_PASSWORD_EDIT), accountOn);
}

int CPageNetwork::ValidateAndSave() {
  UpdateData(true);
  switch (proxyMode) {
    case kProxyManual: {
      const std::wstring host = TrimSpace(server);
      if (host.empty()) return kProxyInvalidServer;
      const int number = ParsePortText(TrimSpace(port));
      if (number < 1 || number > 65535) return kProxyInvalidPort;
      CFrameUtility::SetProxySetting(host, number, TrimSpace(user), password);
      CFrameUtility::SetProxyMode(kProxyManual);
      return kProxySaved;
    }
    case kProxyAuto:
      CFrameUtility::SetProxySetting(L"", -1, TrimSpace(user), password);
      CFrameUtility::SetProxyMode(kProxyAuto);
      return kProxySaved;
    case kProxyNone:
      CFrameUtility::SetProxySetting(L"", -1, L"", L"");
      CFrameUtility::SetProxyMode(kProxyNone);
      return kProxySaved;
    default:
      CFrameUtility::SetProxyMode(proxyMode);
      return kProxySaved;
  }
}

bool CPageNetwork::Save() {
  switch (ValidateAndSave()) {
    case kProxySaved:
      message.SetText(L"");
      message.ShowWindow(SW_HIDE);
      return true;
    case kProxyInvalidPort:
      message.SetText(cl::LoadResString(IDS_INVALID_PORT));
      message.ShowWindow(SW_SHOW);
      return false;
    default:
      message.SetText(cl::LoadResString(IDS_INVALID_SERVER));
      message.ShowWindow(SW_SHOW);
      return false;
  }
}

void CPageNetwork::FillListenOn() {
  std::vector<AdapterRecord> list;
  GetLocalIPv4List(list);
  FillListenOn(list);
}

void CPageNetwork::FillListenOn(const std::vector<AdapterRecord>& list) {
  std::wstring addresses, adapters;
  for (size_t i = 0; i < list.size() && i < 2; ++i) {
    addresses += list[i].address;
    adapters += list[i].name;
  }
  listenAddresses.SetText(addresses);
  listenAdapters.SetText(adapters);
}

LRESULT CPageNetwork::OnTimer(WPARAM, LPARAM) {
  FillListenOn();
  return Default();
}

CPageNetworkOOBE::CPageNetworkOOBE(cl::CWnd* parent) : CPageNetwork(IDD_PAGE_NETWORK, parent) {}

// ---------------------------------------------------------------- the dialog

CDlgProxy::CDlgProxy(cl::CWnd* owner) : CTRSDialog(IDD_PROXY, IDP_PROXY_BACKGROUND, owner) {}

CDlgProxy::~CDlgProxy() {
  page.reset();
  host.reset();
  DestroyWindow();
}

const cl::MessageMap* CDlgProxy::GetMessageMap() const {
  static const cl::MessageMap map{CTRSDialog::GetMessageMap(),
                                  {
                                      cl::OnCommand(IDC_PROXY_CROSS, &CDlgProxy::PostCloseToSelf),
                                      cl::OnCommand(IDC_PROXY_OK, &CDlgProxy::OnOkClicked),
                                      cl::OnCommand(IDC_PROXY_CANCEL, &CDlgProxy::PostCloseToSelf),
                                      cl::OnMessage(WM_WINDOWPOSCHANGED, &CDlgProxy::OnWindowPosChanged),
                                      cl::OnMessage(WM_ACTIVATE, &CDlgProxy::OnWindowPosChanged),
                                      cl::OnMessage(WM_TIMER, &CDlgProxy::OnPlaceTimer),
                                      cl::OnMessage(WM_PROXY_HOST_ACTIVATE, &CDlgProxy::OnWindowPosChanged),
                                  }};
  return &map;
}

void CDlgProxy::PostCloseToSelf() { PostMessage(WM_CLOSE); }

void CDlgProxy::OnOkClicked() {
  if (page && page->Save()) PostCloseToSelf();
}

void CDlgProxy::OnOK() { OnOkClicked(); }

void CDlgProxy::StyleTextButton(CTRSButton& b, int x, int y, UINT textId) {
  SetWindowPos(b.m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  b.SetImages({IDP_BUTTON_NORMAL, IDP_BUTTON_NORMAL, IDP_BUTTON_HOVER, IDP_BUTTON_PRESSED, 0});
  SetWindowTextW(b.m_hWnd, cl::LoadResString(textId).c_str());
  b.normalColour = 0xFE515151;
  b.disabledColour = 0xFE686868;
  b.hoverColour = 0xFE3C3C3C;
  b.pressedColour = 0xFE000000;
  b.UpdateState();
  b.SetFont(L"Arial", 12, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
}

void CDlgProxy::InitControls() {
  DDX_Control(IDC_PROXY_CROSS, closeCross);
  DDX_Control(IDC_PROXY_OK, ok);
  DDX_Control(IDC_PROXY_CANCEL, cancel);
  SetWindowPos(closeCross.m_hWnd, nullptr, 437, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  closeCross.SetImages({IDP_CLOSE_NORMAL, IDP_CLOSE_NORMAL, IDP_CLOSE_HOVER, IDP_CLOSE_PRESSED, 0});
  StyleTextButton(ok, 265, 340, IDS_OK);
  StyleTextButton(cancel, 365, 340, IDS_CANCEL);
  for (CTRSWnd* c : std::initializer_list<CTRSWnd*>{&closeCross, &ok, &cancel}) AddChild(c);

  const RECT hostRect = HostRect();
  page.reset();
  host.reset();
  host = std::make_unique<ProxyHost>();
  if (!host->Create(m_hWnd)) return;
  MoveWindow(host->m_hWnd, hostRect.left, hostRect.top, hostRect.right - hostRect.left,
             hostRect.bottom - hostRect.top, FALSE);
  host->ShowWindow(SW_SHOWNOACTIVATE);

  page = std::make_unique<CPageNetworkOOBE>(host.get());
  if (!page->Create(host->m_hWnd)) return;
  RECT client{};
  GetClientRect(host->m_hWnd, &client);
  MoveWindow(page->m_hWnd, 0, 0, client.right, client.bottom, FALSE);
  page->ShowWindow(SW_SHOW);
}

RECT CDlgProxy::HostRect() const {
  RECT r{};
  GetWindowRect(m_hWnd, &r);
  return {r.left + kPageOffsetX, r.top + kPageOffsetY, r.right - kHostInsetRight, r.bottom - kHostInsetBottom};
}

void CDlgProxy::PlaceHost() {
  if (!host || !host->m_hWnd || !IsWindowVisible()) return;
  const RECT r = HostRect();
  const HWND h = host->m_hWnd;
  const UINT flags = SWP_NOACTIVATE | SWP_SHOWWINDOW;
  const HWND active = ::GetActiveWindow();
  if (active == m_hWnd || active == h) {
    // Wine restacks its X windows only when the order really changes, so
    // the host first leaves the topmost band and then comes back to it:
    // that lifts it over the dialog on the screen too, where a click lands.
    // (Once the form's buttons have made their tooltips, Wine puts the host
    // under those topmost popups it owns and so outside the band; leaving
    // it still brings the host to the top of the others.)
    SetWindowPos(h, HWND_NOTOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
    SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | flags);
    return;
  }
  // The user is elsewhere: out of the topmost band, just above the dialog,
  // under the window in use. Put there in one step: leaving the band first
  // would bring it to the top of the others, and Wine lifts a window that
  // comes to the top on the screen but never lowers one.
  const HWND above = ::GetWindow(m_hWnd, GW_HWNDPREV);
  if (above && above != h)
    SetWindowPos(h, above, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
  else
    SetWindowPos(h, HWND_NOTOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, flags);
}

// The form's host follows the dialog and stays above it. Its owner alone
// does not keep it there under Wine: it raises the layered dialog's X
// window over the popup it owns once the X server has shown it, after
// these messages, and then no click reaches the form. So the host is
// topmost while the dialog or the host is active, and is put back on top
// once more a moment after every move, show or activation of either; when
// the user goes elsewhere (another program, another window of this one),
// it drops out of the topmost band to just above the dialog.
LRESULT CDlgProxy::OnWindowPosChanged(WPARAM, LPARAM) {
  const LRESULT r = Default();
  PlaceHost();
  if (IsWindowVisible()) SetTimer(kPlaceHostTimer, kPlaceHostDelayMs);
  return r;
}

LRESULT CDlgProxy::OnPlaceTimer(WPARAM id, LPARAM) {
  if (id != kPlaceHostTimer) return Default();
  KillTimer(kPlaceHostTimer);
  PlaceHost();
  return 0;
}
