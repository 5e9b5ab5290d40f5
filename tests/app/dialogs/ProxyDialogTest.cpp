// The proxy dialog on the real registry: the validation table, what the
// form loads, the dialog's OK and Cancel with real clicks, and the form's
// place in the window order when the user goes to another program.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DialogsTest.h"
#include "app/dialogs/DlgProxy.h"
#include "app/resources/resource.h"
#include "foundation/settings/FrameUtility.h"

using namespace dlgtest;

namespace {

struct Stored {
  int mode;
  std::wstring addr;
  int port;
  std::wstring user, pwd;
  bool operator==(const Stored& o) const {
    return mode == o.mode && addr == o.addr && port == o.port && user == o.user && pwd == o.pwd;
  }
};

std::ostream& operator<<(std::ostream& os, const Stored& s) {
  return os << "{" << s.mode << ", \"" << std::string(s.addr.begin(), s.addr.end()) << "\", " << s.port << ", \""
            << std::string(s.user.begin(), s.user.end()) << "\", \"" << std::string(s.pwd.begin(), s.pwd.end())
            << "\"}";
}

Stored ReadStored() {
  Stored s{CFrameUtility::GetProxyMode(), L"", 0, L"", L""};
  CFrameUtility::GetProxySetting(s.addr, s.port, s.user, s.pwd);
  return s;
}

void Store(const Stored& s) {
  CFrameUtility::SetProxySetting(s.addr, s.port, s.user, s.pwd);
  CFrameUtility::SetProxyMode(s.mode);
}

const Stored kNothing{kProxyNone, L"", -1, L"", L""};
const Stored kOld{kProxyManual, L"old.proxy.test", 3128, L"old", L"old pw"};

std::wstring Text(HWND w) {
  wchar_t buf[256] = {};
  GetWindowTextW(w, buf, 256);
  return buf;
}

class ProxyDialog : public ::testing::Test {
 protected:
  void SetUp() override { Store(kNothing); }
  void TearDown() override {
    dialog.reset();
    Store(kNothing);
  }

  CPageNetwork& Open() {
    dialog = std::make_unique<CDlgProxy>(nullptr);
    EXPECT_TRUE(dialog->Create(nullptr));
    dialog->ShowWindow(SW_SHOW);
    SetForegroundWindow(dialog->m_hWnd);
    Pump(300);
    return *dialog->page;
  }
  void Fill(CPageNetwork& page, int mode, const wchar_t* server, const wchar_t* port, const wchar_t* user,
            const wchar_t* pwd) {
    page.ShowMode(mode);
    SetDlgItemTextW(page.m_hWnd, IDC_PROXY_SERVER, server);
    SetDlgItemTextW(page.m_hWnd, IDC_PROXY_PORT, port);
    SetDlgItemTextW(page.m_hWnd, IDC_PROXY_USER, user);
    SetDlgItemTextW(page.m_hWnd, IDC_PROXY_PASSWORD_EDIT, pwd);
  }
  void ClickOn(HWND w) {
    const POINT p = CentreOf(w);
    Click(p.x, p.y);
  }

  std::unique_ptr<CDlgProxy> dialog;
};

TEST_F(ProxyDialog, ValidationSavesTrimmedValuesOrNothingWithTheRightMessage) {
  struct Case {
    int mode;
    const wchar_t *server, *port, *user, *pwd;
    int result;
    Stored stored;  // after the save (kOld: untouched)
  } const cases[] = {
      {kProxyManual, L"  proxy.test\t", L" 8080 ", L" alice ", L" pw ", kProxySaved,
       {kProxyManual, L"proxy.test", 8080, L"alice", L" pw "}},
      {kProxyManual, L"proxy.test", L"80x", L"", L"", kProxySaved, {kProxyManual, L"proxy.test", 80, L"", L""}},
      {kProxyManual, L"proxy.test", L"65535", L"", L"", kProxySaved, {kProxyManual, L"proxy.test", 65535, L"", L""}},
      {kProxyManual, L"proxy.test", L"1", L"", L"", kProxySaved, {kProxyManual, L"proxy.test", 1, L"", L""}},
      {kProxyManual, L"proxy.test", L"0", L"", L"", kProxyInvalidPort, kOld},
      {kProxyManual, L"proxy.test", L"65536", L"", L"", kProxyInvalidPort, kOld},
      {kProxyManual, L"proxy.test", L"abc", L"", L"", kProxyInvalidPort, kOld},
      {kProxyManual, L"proxy.test", L"", L"", L"", kProxyInvalidPort, kOld},
      {kProxyManual, L"proxy.test", L"-80", L"", L"", kProxyInvalidPort, kOld},
      {kProxyManual, L"proxy.test", L"99999999999", L"", L"", kProxyInvalidPort, kOld},
      {kProxyManual, L"   ", L"80", L"", L"", kProxyInvalidServer, kOld},
      {kProxyManual, L"", L"abc", L"", L"", kProxyInvalidServer, kOld},  // the server is checked first
      {kProxyAuto, L"proxy.test", L"8080", L" bob ", L"pw ", kProxySaved, {kProxyAuto, L"", -1, L"bob", L"pw "}},
      {kProxyNone, L"proxy.test", L"8080", L"bob", L"pw", kProxySaved, kNothing},
  };
  CPageNetwork& page = Open();
  for (const Case& c : cases) {
    Store(kOld);
    Fill(page, c.mode, c.server, c.port, c.user, c.pwd);
    const bool mayClose = page.Save();
    const std::string what = std::string("mode ") + std::to_string(c.mode) + " port " +
                             std::string(c.port, c.port + wcslen(c.port));
    EXPECT_EQ(mayClose, c.result == kProxySaved) << what;
    EXPECT_EQ(ReadStored(), c.stored) << what;
    EXPECT_EQ(page.message.IsWindowVisible() != FALSE, c.result != kProxySaved) << what;
    const wchar_t* shown = c.result == kProxyInvalidPort     ? L"Invalid port number"
                           : c.result == kProxyInvalidServer ? L"Invalid server address"
                                                             : L"";
    EXPECT_EQ(page.message.GetDisplayText(), shown) << what;
  }
}

TEST_F(ProxyDialog, TheFormShowsTheStoredModeAndValues) {
  struct Case {
    Stored stored;
    const wchar_t* portText;
    bool serverOn, accountOn;
  } const cases[] = {
      {{kProxyManual, L"p.test", 8080, L"u", L"pw"}, L"8080", true, true},
      {{kProxyManual, L"p.test", 0, L"u", L"pw"}, L"", true, true},
      {{kProxyManual, L"p.test", -1, L"u", L"pw"}, L"", true, true},
      {{kProxyAuto, L"", -1, L"u", L"pw"}, L"", false, true},
      {{kProxyNone, L"p.test", 8080, L"u", L"pw"}, L"", false, false},  // not loaded without a proxy
  };
  for (const Case& c : cases) {
    Store(c.stored);
    CPageNetwork& page = Open();
    const std::string what = "mode " + std::to_string(c.stored.mode) + " port " + std::to_string(c.stored.port);
    EXPECT_EQ(page.proxyMode, c.stored.mode) << what;
    EXPECT_EQ(Text(GetDlgItem(page.m_hWnd, IDC_PROXY_PORT)), c.portText) << what;
    const bool loaded = c.stored.mode != kProxyNone;
    EXPECT_EQ(Text(GetDlgItem(page.m_hWnd, IDC_PROXY_SERVER)), loaded ? c.stored.addr : L"") << what;
    EXPECT_EQ(Text(GetDlgItem(page.m_hWnd, IDC_PROXY_USER)), loaded ? c.stored.user : L"") << what;
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(page.m_hWnd, IDC_PROXY_SERVER)) != FALSE, c.serverOn) << what;
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(page.m_hWnd, IDC_PROXY_PORT)) != FALSE, c.serverOn) << what;
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(page.m_hWnd, IDC_PROXY_USER)) != FALSE, c.accountOn) << what;
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(page.m_hWnd, IDC_PROXY_PASSWORD_EDIT)) != FALSE, c.accountOn) << what;
    EXPECT_EQ(page.radioNone.checked, c.stored.mode == kProxyNone) << what;
    EXPECT_EQ(page.radioAuto.checked, c.stored.mode == kProxyAuto) << what;
    EXPECT_EQ(page.radioManual.checked, c.stored.mode == kProxyManual) << what;
    EXPECT_FALSE(page.apply.IsWindowVisible());
  }
}

TEST_F(ProxyDialog, CancelSavesNothingAndReopeningShowsTheStoredValues) {
  Store(kOld);
  CPageNetwork& page = Open();
  ClickOn(page.radioAuto.m_hWnd);
  ASSERT_EQ(page.proxyMode, kProxyAuto);
  EXPECT_TRUE(page.radioAuto.checked);
  EXPECT_FALSE(page.radioManual.checked);
  SetDlgItemTextW(page.m_hWnd, IDC_PROXY_USER, L"edited");
  ClickOn(dialog->cancel.m_hWnd);
  ASSERT_TRUE(PumpUntil([&] { return !dialog->IsWindowVisible(); }, 3000));
  EXPECT_EQ(ReadStored(), kOld);

  CPageNetwork& again = Open();
  EXPECT_EQ(again.proxyMode, kProxyManual);
  EXPECT_EQ(Text(GetDlgItem(again.m_hWnd, IDC_PROXY_USER)), L"old");
  EXPECT_EQ(Text(GetDlgItem(again.m_hWnd, IDC_PROXY_PORT)), L"3128");

  // The cross saves nothing either.
  SetDlgItemTextW(again.m_hWnd, IDC_PROXY_USER, L"edited");
  ClickOn(dialog->closeCross.m_hWnd);
  ASSERT_TRUE(PumpUntil([&] { return !dialog->IsWindowVisible(); }, 3000));
  EXPECT_EQ(ReadStored(), kOld);
}

TEST_F(ProxyDialog, OkStaysOpenOnABadPortAndSavesOnceItIsMended) {
  CPageNetwork& page = Open();
  ClickOn(page.radioManual.m_hWnd);
  ASSERT_EQ(page.proxyMode, kProxyManual);
  ASSERT_TRUE(IsWindowEnabled(GetDlgItem(page.m_hWnd, IDC_PROXY_SERVER)));
  SetDlgItemTextW(page.m_hWnd, IDC_PROXY_SERVER, L"127.0.0.1");
  SetDlgItemTextW(page.m_hWnd, IDC_PROXY_PORT, L"70000");
  SetDlgItemTextW(page.m_hWnd, IDC_PROXY_USER, L"carol");
  SetDlgItemTextW(page.m_hWnd, IDC_PROXY_PASSWORD_EDIT, L"s3cret");
  Shot("proxy-dialog-filled");
  ClickOn(dialog->ok.m_hWnd);
  Pump(300);
  Shot("proxy-dialog-invalid-port");
  EXPECT_TRUE(dialog->IsWindowVisible());
  EXPECT_TRUE(page.message.IsWindowVisible());
  EXPECT_EQ(page.message.GetDisplayText(), L"Invalid port number");
  EXPECT_EQ(ReadStored(), kNothing);

  SetDlgItemTextW(page.m_hWnd, IDC_PROXY_PORT, L"3128");
  ClickOn(dialog->ok.m_hWnd);
  ASSERT_TRUE(PumpUntil([&] { return !dialog->IsWindowVisible(); }, 3000));
  EXPECT_EQ(ReadStored(), (Stored{kProxyManual, L"127.0.0.1", 3128, L"carol", L"s3cret"}));
}

TEST_F(ProxyDialog, ListenOnShowsTheFirstTwoAdapters) {
  CPageNetwork& page = Open();
  std::vector<AdapterRecord> three(3);
  const wchar_t* addresses[] = {L"192.168.1.20\n", L"10.0.0.7\n", L"172.16.0.9\n"};
  const wchar_t* names[] = {L"Ethernet\n", L"Wi-Fi\n", L"VPN\n"};
  for (int i = 0; i < 3; ++i) {
    three[i].address = addresses[i];
    three[i].name = names[i];
  }
  page.FillListenOn(three);
  EXPECT_EQ(page.listenAddresses.GetDisplayText(), L"192.168.1.20\n10.0.0.7\n");
  EXPECT_EQ(page.listenAdapters.GetDisplayText(), L"Ethernet\nWi-Fi\n");
  page.FillListenOn({});
  EXPECT_EQ(page.listenAddresses.GetDisplayText(), L"");
  // The real list: at least the loopback fallback.
  page.FillListenOn();
  EXPECT_FALSE(page.listenAddresses.GetDisplayText().empty());
}

// Another program's window, one flat colour: made, shown and brought to
// the foreground on a thread of its own (a window of another thread is
// activated as another program's is), closed with the object.
class OtherProgramWindow {
 public:
  OtherProgramWindow() {
    thread_ = std::thread([this] {
      threadId_ = GetCurrentThreadId();
      hwnd_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE | SS_BLACKRECT, 150, 150, 500, 400, nullptr,
                              nullptr, nullptr, nullptr);
      SetForegroundWindow(hwnd_);
      ready_ = true;
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      DestroyWindow(hwnd_);
    });
    PumpUntil([&] { return ready_.load(); }, 5000);
  }
  ~OtherProgramWindow() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND hwnd() const { return hwnd_; }

 private:
  std::thread thread_;
  std::atomic<bool> ready_{false};
  DWORD threadId_ = 0;
  HWND hwnd_ = nullptr;
};

bool Topmost(HWND w) { return (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// Whether `upper` lies above `lower` in the window order.
bool Above(HWND upper, HWND lower) {
  for (HWND w = GetWindow(lower, GW_HWNDPREV); w; w = GetWindow(w, GW_HWNDPREV))
    if (w == upper) return true;
  return false;
}

// The form's host is topmost only while the user is in the dialog: once
// the user typed in the form (the host is then the active window) and goes
// to another program, the form no longer floats over everything; it stays
// over its dialog, and comes back on top when the dialog is used again.
TEST_F(ProxyDialog, TheFormFloatsAboveOtherProgramsOnlyWhileTheDialogIsInUse) {
  CPageNetwork& page = Open();
  const HWND host = dialog->host->m_hWnd;
  ClickOn(page.radioManual.m_hWnd);
  ClickOn(GetDlgItem(page.m_hWnd, IDC_PROXY_SERVER));
  ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == host; }, 3000)) << "the form did not take the input";
  Pump(400);
  EXPECT_TRUE(Topmost(host));
  {
    OtherProgramWindow other;
    ASSERT_TRUE(other.hwnd());
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == other.hwnd(); }, 3000));
    EXPECT_TRUE(PumpUntil([&] { return !Topmost(host); }, 3000)) << "the form stays above every program";
    Pump(400);  // the dialog's delayed placing too
    Shot("proxy-dialog-behind-another-program");
    EXPECT_FALSE(Topmost(host));
    EXPECT_TRUE(Above(other.hwnd(), host)) << "the other program's window is under the form";
    EXPECT_TRUE(Above(host, dialog->m_hWnd)) << "the form fell under its dialog";
    // And so on the screen: where the two overlap, the other window shows.
    RECT o{}, f{}, both{};
    GetWindowRect(other.hwnd(), &o);
    GetWindowRect(host, &f);
    ASSERT_TRUE(IntersectRect(&both, &o, &f));
    EXPECT_EQ(ScreenPixel((both.left + both.right) / 2, (both.top + both.bottom) / 2),
              ScreenPixel(o.left + 10, o.top + 10))
        << "the form shows over the other program";

    // Back in the dialog the form is over it and over the other program
    // again, where a click reaches it. (Under Wine it may stay out of the
    // topmost band: a window is not made topmost under the topmost tips it
    // owns.)
    const POINT onDialog{f.right + 5, f.top + 20};  // the dialog right of the form
    Click(onDialog.x, onDialog.y);
    ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == dialog->m_hWnd; }, 3000));
    Pump(400);
    EXPECT_TRUE(Above(host, dialog->m_hWnd));
    EXPECT_TRUE(Above(host, other.hwnd())) << "back in the dialog, the form is under the other program";
    const HWND port = GetDlgItem(page.m_hWnd, IDC_PROXY_PORT);
    ClickOn(port);
    EXPECT_TRUE(PumpUntil([&] { return GetFocus() == port; }, 2000)) << "a click does not reach the form";
  }
}

TEST_F(ProxyDialog, TheFormLiesOverTheDialogWhereThePictureLeavesRoom) {
  Open();
  RECT d{}, h{};
  GetWindowRect(dialog->m_hWnd, &d);
  GetWindowRect(dialog->host->m_hWnd, &h);
  EXPECT_EQ(d.right - d.left, 471);
  EXPECT_EQ(d.bottom - d.top, 394);
  EXPECT_EQ(h.left - d.left, 10);
  EXPECT_EQ(h.top - d.top, 60);
  EXPECT_EQ(d.right - h.right, 10);
  EXPECT_EQ(d.bottom - h.bottom, 75);
  EXPECT_EQ(GetWindow(dialog->host->m_hWnd, GW_OWNER), dialog->m_hWnd);
  RECT ok = dialog->ok.RectInParent();
  EXPECT_EQ(ok.left, 265);
  EXPECT_EQ(ok.top, 340);
}

}  // namespace
