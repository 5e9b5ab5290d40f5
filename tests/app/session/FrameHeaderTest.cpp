// The session window as large as its panel at every scale, a frame whose
// panel cannot be made left unmade, the header on its own picture, and the
// header following a real session both ways within about a second.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "SessionTest.h"
#include "app/SessionMgrMain.h"
#include "app/session/ContentViews.h"
#include "app/session/UserList.h"
#include "classlib/Dialog.h"
#include "engine/mirror/Mirror.h"

namespace {

using namespace sessiontest;
using uidrive::Near;
using uidrive::ScreenPixel;

ReceiverEntry Entry(const char* name, const char* address) {
  ReceiverEntry e;
  e.name = name;
  e.address = address;
  e.port = 47000;
  return e;
}

bool Visible(const cl::CWnd& w) { return w.m_hWnd && (GetWindowLongPtrW(w.m_hWnd, GWL_STYLE) & WS_VISIBLE); }

// A frame on a large work area (so it goes to the fixed place), whose panel
// is given the main window's state by the test.
class StatePanel : public CDlgSessionMgr {
 public:
  using CDlgSessionMgr::CDlgSessionMgr;
  PanelOwnerState state;
  PanelOwnerState ReadOwnerState() const override { return state; }
};

class StateFrame : public CSessionMgrMain {
 public:
  cl::CDialog* CreateContent() override { return new StatePanel(sessionConfig, owner, this); }
  RECT WorkArea() const override { return {0, 0, 1280, 720}; }
  StatePanel* panel() { return dynamic_cast<StatePanel*>(Panel()); }
};

TEST(ScaledFrame, IsExactlyItsPanelAtTheRunsScaleAndKeepsThePlacementRule) {
  struct Size {
    float scale;
    int w, h;
  } const sizes[] = {{1.0f, 303, 453}, {1.25f, 378, 566}, {1.5f, 454, 679}};
  const Size* want = nullptr;
  for (const Size& s : sizes) {
    if (s.scale == RunScale()) want = &s;
  }
  ASSERT_NE(want, nullptr) << "no size for scale " << RunScale();

  Recorder owner;
  StateFrame frame;
  ASSERT_TRUE(frame.Create(nullptr, &owner));
  ASSERT_NE(frame.panel(), nullptr);
  RECT f{}, p{};
  GetWindowRect(frame.m_hWnd, &f);
  GetWindowRect(frame.panel()->m_hWnd, &p);
  EXPECT_EQ(f.right - f.left, want->w);
  EXPECT_EQ(f.bottom - f.top, want->h);
  // The panel covers the frame exactly: no band of the frame shows.
  EXPECT_EQ(p.left, f.left);
  EXPECT_EQ(p.top, f.top);
  EXPECT_EQ(p.right, f.right);
  EXPECT_EQ(p.bottom, f.bottom);
  EXPECT_EQ(frame.rect.right, want->w);
  EXPECT_EQ(frame.rect.bottom, want->h);
  // Work area larger than 1024 x 768: ((1024 - w) / 2, (768 - h) / 2).
  EXPECT_EQ(f.left, (1024 - want->w) / 2);
  EXPECT_EQ(f.top, (768 - want->h) / 2);
  EXPECT_FALSE(frame.IsWindowVisible()) << "shown before the caller shows it";

  // Shown, its last column and row (the panel is one pixel larger than its
  // skin) are the skin's edge, not left undrawn.
  frame.ShowWindow(SW_SHOWNORMAL);
  SetWindowPos(frame.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  Pump(500);
  const int midX = (f.left + f.right) / 2, midY = (f.top + f.bottom) / 2;
  EXPECT_EQ(ScreenPixel(f.right - 1, midY), ScreenPixel(f.right - 2, midY)) << "right edge";
  EXPECT_EQ(ScreenPixel(midX, f.bottom - 1), ScreenPixel(midX, f.bottom - 2)) << "bottom edge";
}

// Contents that cannot become a window: none at all, and a dialog whose
// template does not exist.
class BrokenFrame : public CSessionMgrMain {
 public:
  bool none = false;
  cl::CDialog* CreateContent() override { return none ? nullptr : new cl::CDialog(59999, this); }
};

TEST(SessionFrame, APanelThatCannotBeMadeLeavesNoFrameAndCreateSaysSo) {
  for (bool none : {true, false}) {
    SCOPED_TRACE(none ? "no content" : "missing template");
    Recorder owner;
    BrokenFrame frame;
    frame.none = none;
    EXPECT_EQ(frame.Create(nullptr, &owner), 0);
    EXPECT_EQ(frame.m_hWnd, nullptr);
    EXPECT_EQ(frame.content, nullptr);
    EXPECT_EQ(FindWindowW(nullptr, L"Tessarine Session"), nullptr) << "an empty frame was left";
    // Made again, the frame is whole.
    StateFrame again;
    ASSERT_EQ(again.Create(nullptr, &owner), 1);
    EXPECT_NE(again.panel(), nullptr);
  }
}

TEST(ScaledHeader, TheReceiversNameAndTheSessionButtonsStandOnTheHeaderPicture) {
  Recorder owner;
  StateFrame frame;
  ASSERT_TRUE(frame.Create(nullptr, &owner));
  StatePanel* panel = frame.panel();
  ASSERT_NE(panel, nullptr);
  frame.ShowWindow(SW_SHOWNORMAL);
  SetWindowPos(frame.m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  panel->state.isMainWindow = true;
  panel->state.sessionHost = "127.0.0.2";
  ReceiverMap map;
  map[ReceiverKey("127.0.0.2")] = Entry("Living Room@Den", "127.0.0.2");
  panel->UpdateReceiverMap(map);
  ASSERT_TRUE(Visible(panel->stopButton));
  Pump(500);

  // The header picture's own colour, where no control covers it: right of
  // the label, left of the first button, at the label's bottom.
  RECT label{}, logo{};
  GetWindowRect(panel->receiverLabel.m_hWnd, &label);
  GetWindowRect(panel->logo.m_hWnd, &logo);
  const COLORREF header = ScreenPixel(label.right + 3, label.bottom - 3);
  const COLORREF skin = ScreenPixel(logo.left + 5, logo.bottom + 20);  // the list's face below, for the message
  // The label's free corner (its text is short and top-left) and each
  // button's corner (the pictures' rounded corners are transparent).
  struct Probe {
    const char* what;
    HWND control;
    bool bottomRight;
  } const probes[] = {{"label", panel->receiverLabel.m_hWnd, true},
                      {"fullscreen", panel->fullscreenButton.m_hWnd, false},
                      {"display", panel->displayButton.m_hWnd, false},
                      {"stop", panel->stopButton.m_hWnd, false}};
  for (const Probe& p : probes) {
    SCOPED_TRACE(p.what);
    RECT r{};
    GetWindowRect(p.control, &r);
    const COLORREF got = p.bottomRight ? ScreenPixel(r.right - 3, r.bottom - 3) : ScreenPixel(r.left, r.top);
    EXPECT_TRUE(Near(got, header, 8)) << std::hex << "0x" << got << " on a header of 0x" << header << " (list 0x"
                                   << skin << ")";
  }
}

// Holds 127.0.0.2:7100 for one session: its connection is accepted and
// left unanswered (the session stays connecting) until Drop closes it,
// which ends the session as a receiver that goes away does.
class HoldingReceiver {
 public:
  HoldingReceiver() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL yes = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(MIRROR_PORT);
    inet_pton(AF_INET, "127.0.0.2", &a.sin_addr);
    ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 && listen(listener_, 1) == 0;
    if (ok_) thread_ = std::thread([this] { client_ = accept(listener_, nullptr, nullptr); });
  }
  ~HoldingReceiver() {
    closesocket(listener_);  // ends a waiting accept
    if (thread_.joinable()) thread_.join();
    Drop();
    WSACleanup();
  }
  bool ok() const { return ok_; }
  bool connected() const { return client_ != INVALID_SOCKET; }
  void Drop() {
    const SOCKET c = client_.exchange(INVALID_SOCKET);
    if (c != INVALID_SOCKET) closesocket(c);
  }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<SOCKET> client_{INVALID_SOCKET};
  std::thread thread_;
  bool ok_ = false;
};

TEST(SessionHeader, FollowsARealSessionWithinAboutASecondBothWays) {
  HoldingReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  TestMainWindow main;
  ASSERT_TRUE(main.Open());
  SetMirrorErrorPrompt(nullptr);  // the failure box is not what this is about
  ReceiverEntry den = Entry("Living Room@Den", "127.0.0.2");
  den.owner = &main;
  CDlgPreference::OnReceiverFound(&den);
  ReceiverEntry kitchen = Entry("Kitchen", "127.0.0.3");
  kitchen.owner = &main;
  CDlgPreference::OnReceiverFound(&kitchen);
  main.ShowSessionWindow();
  ASSERT_NE(main.SessionWindow(), nullptr);
  CDlgSessionMgr* panel = main.SessionWindow()->Panel();
  ASSERT_NE(panel, nullptr);
  CCtrlUserList* rows = panel->listView->listView;
  const std::wstring key = ReceiverKey("127.0.0.2");
  ASSERT_NE(rows->RowFor(key), nullptr);
  ASSERT_FALSE(Visible(panel->stopButton));

  auto headerNamesDen = [&] {
    return Visible(panel->stopButton) && Visible(panel->logo) && Visible(panel->receiverLabel) &&
           panel->receiverLabel.GetDisplayText() == L"Den" && rows->RowFor(key) == nullptr;
  };
  auto headerGone = [&] {
    return !Visible(panel->stopButton) && !Visible(panel->logo) && rows->RowFor(key) != nullptr;
  };
  // The list is published every 5 s from each show of the window: showing
  // it again just before each step puts the next publication 5 s away, so
  // only the session itself can move the header within the bounds below.
  main.ShowSessionWindow();
  main.OnConnectReceiver(60001);  // row 0: .2 (waits its second, then starts)
  ASSERT_NE(main.Session(), nullptr);
  DWORD t0 = GetTickCount();
  EXPECT_TRUE(PumpUntil(headerNamesDen, 2500)) << "no header for the session after " << GetTickCount() - t0 << " ms";
  std::printf("header shown %lu ms after the connect started the session\n", GetTickCount() - t0);
  EXPECT_TRUE(receiver.connected());
  EXPECT_TRUE(main.Session()->IsRunning());

  main.ShowSessionWindow();
  Pump(200);
  receiver.Drop();
  t0 = GetTickCount();
  EXPECT_TRUE(PumpUntil(headerGone, 2500)) << "the header stayed " << GetTickCount() - t0
                                           << " ms after the session ended";
  std::printf("header gone %lu ms after the receiver went\n", GetTickCount() - t0);
  EXPECT_FALSE(main.Session()->IsRunning());
  main.Close();
}

}  // namespace
