// The transmitter session and the library build of the backend client,
// linked into the test: the lookup with the backend request replaced
// (results, thread, busy window), the registration on the manager thread,
// the choice of the probed interface against probe ports of the test, the
// password, the tuning values, sessions that end by themselves or do not
// stop, and the extend/switch/stop logic against a stand-in display
// platform (Wine cannot add a display); and the API object's Init/Free
// cycles, which keep no session's storage.
//
// Runs inside a loopback-only namespace: the sessions use the fixed ports
// 7100 and 7010, and receivers sit on 127.0.0.2 and up.
#include <winsock2.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backend/BEOPMgr.h"
#include "backend/BEOPWorker.h"
#include "backend/BEServiceUtil.h"
#include "classlib/Str.h"
#include "engine/discovery/LookupToken.h"
#include "engine/discovery/ReceiverProbe.h"
#include "engine/display/ExtendDisplay.h"
#include "engine/display/FakeDisplayPlatform.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/ProductStateGuard.h"
#include "foundation/settings/SettingsCipher.h"
#include "foundation/sys/SysUtil.h"
#include "support/MessageSink.h"
#include "support/ProbeResponder.h"
#include "support/WaitFactor.h"
#include "txapi/TxSession.h"

namespace {

const auto* const g_state = ::testing::AddGlobalTestEnvironment(new ProductStateEnvironment);

constexpr uint32_t kConnectFailed = static_cast<uint32_t>(MIRROR_ERR_CONNECT);

std::wstring Encipher(const std::string& json) {
  std::string cipher;
  EXPECT_TRUE(EncryptSettingUtf8(json, cl::WideToUtf8(LookupTokenKey()), &cipher));
  return cl::Utf8ToWide(cipher);
}

// A token naming the given interfaces ("-" for one without "mac").
std::string TokenJson(int port, const std::vector<std::string>& ips, bool withCode = true) {
  Json::Value t;
  t["name"] = "Meeting Room";
  t["port"] = port;
  if (withCode) t["code"] = "C-1";
  t["interfaces"] = Json::Value(Json::arrayValue);
  for (const std::string& ip : ips) {
    Json::Value itf;
    if (ip == "-") {
      itf["ip"] = "127.0.0.9";
    } else {
      itf["ip"] = ip;
      itf["mac"] = "aa:bb:cc:dd:ee:01";
    }
    t["interfaces"].append(itf);
  }
  return Json::FastWriter().write(t);
}

// The backend as the test scripts it: every request records its operation
// and thread; the lookup answers with `g_desc` or fails with `g_lookupFails`.
struct FakeBackend {
  std::mutex mutex;
  std::vector<std::pair<int, DWORD>> calls;  // (operation, thread)
  std::string desc;
  int lookupResult = 0;
};
FakeBackend* g_backend = nullptr;

int FakeExecute(BEServiceRequest* request, int op) {
  std::lock_guard<std::mutex> g(g_backend->mutex);
  g_backend->calls.push_back({op, GetCurrentThreadId()});
  if (op != BESOP_GETSERVICETOKENINFO) return 0;
  if (g_backend->lookupResult != 0) return g_backend->lookupResult;
  request->serviceTokenInfo.desc = g_backend->desc;
  return 0;
}

class TxSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
    g_backend = &backend_;
    SetBEServiceExecuteForTest(&FakeExecute);
  }
  void TearDown() override {
    SetBEServiceExecuteForTest(nullptr);
    EXPECT_TRUE(WaitProbeIdle(10000));
    g_backend = nullptr;
    WSACleanup();
  }
  void Answer(const std::string& tokenJson) {
    std::lock_guard<std::mutex> g(backend_.mutex);
    backend_.desc = cl::WideToAnsi(Encipher(tokenJson));
    backend_.lookupResult = 0;
  }
  std::vector<std::pair<int, DWORD>> Calls(int op) {
    std::lock_guard<std::mutex> g(backend_.mutex);
    std::vector<std::pair<int, DWORD>> out;
    for (const auto& c : backend_.calls)
      if (c.first == op) out.push_back(c);
    return out;
  }
  // A session whose mirroring thread starts toward an address where no
  // receiver listens: it ends by itself with -10002.
  static void StartRefusedMirror(CTxSession& s) {
    ResetProbeRound();
    {
      ScopedLock<critical_section_lock> g(ProbeStateLock());
      g_strLookupAddress = "127.0.0.5";
      g_strLookupPort = "5000";
    }
    ASSERT_EQ(s.StartMirror(), 1);
  }
  // The same, once it has ended (taken in by the session).
  static void StartEndedMirror(CTxSession& s) {
    StartRefusedMirror(s);
    ASSERT_TRUE(WaitStopped(s, 10000));
    ASSERT_EQ(s.LastError(), kConnectFailed);
  }
  static bool WaitStopped(CTxSession& s, DWORD ms) {
    return testwait::Until([&] { return s.IsStopped() != 0; }, ms, 50);
  }

  FakeBackend backend_;
};

const Nb5TxInitParameters kId = {"123456", nullptr, 0};

}  // namespace

TEST_F(TxSessionTest, LookupRunsOnTheCallersThreadAndReturnsTheLibrarysResults) {
  const struct {
    const char* what;
    int requestResult;
    std::string desc;  // deciphered JSON; "*" stands for text that deciphers to nothing
    uint32_t lastError;
  } cases[] = {
      {"backend refused", 404, "", BEOP_OP_GETSERVICETOKENINFO},
      {"undecipherable", 0, "*", BEOP_E_LOOKUP_FAILED},
      {"member missing", 0, TokenJson(5000, {"127.0.0.5"}, false), BEOP_E_LOOKUP_INCOMPLETE},
  };
  CTxSession s;
  for (const auto& c : cases) {
    {
      std::lock_guard<std::mutex> g(backend_.mutex);
      backend_.calls.clear();
      backend_.lookupResult = c.requestResult;
      backend_.desc = c.desc == "*" ? "bm90IGEgdG9rZW4=" : cl::WideToAnsi(Encipher(c.desc));
    }
    EXPECT_EQ(s.Start(kId), 0) << c.what;
    EXPECT_EQ(s.LastError(), c.lastError) << c.what;
    EXPECT_EQ(s.Mirror(), nullptr) << c.what;
    const auto lookups = Calls(BESOP_GETSERVICETOKENINFO);
    ASSERT_EQ(lookups.size(), 1u) << c.what;
    EXPECT_EQ(lookups[0].second, GetCurrentThreadId()) << c.what;
  }
  EXPECT_EQ(s.ConnectionId(), L"123456");
}

TEST_F(TxSessionTest, BusyWindowHearsOnlyOfARunThatSucceeded) {
  MessageSink sink;
  Answer(TokenJson(5000, {}));
  for (int fails : {0, 500}) {
    backend_.lookupResult = fails;
    BEOPOperation* record = MakeLookupRecord(L"42");
    ASSERT_NE(record, nullptr);
    record->busyWindow = sink.hwnd();
    EXPECT_EQ(StartBEOP(record), fails ? BEOP_OP_GETSERVICETOKENINFO : 0);
  }
  Sleep(testwait::Ms(200));
  const auto busy = sink.Messages(WM_BEOP_BUSY);
  ASSERT_EQ(busy.size(), 1u);
  EXPECT_EQ(busy[0].w, 1u);
  // No completion posts anything for the failed run (no main window either).
  EXPECT_TRUE(sink.Messages(WM_LOOKUP_RESULT).empty());
}

TEST_F(TxSessionTest, RegistrationRunsInlineOnTheManagerThread) {
  CTxSession s;
  ASSERT_EQ(s.InitSettings(), 1);
  std::vector<std::pair<int, DWORD>> regs;
  testwait::Until([&] { return !(regs = Calls(BESOP_DEVINIT)).empty(); }, 5000, 25);
  ASSERT_EQ(regs.size(), 1u);
  EXPECT_EQ(regs[0].second, CBEOPMgr::Instance().ThreadId());
  s.ReleaseAll();
  EXPECT_FALSE(CBEOPMgr::Instance().IsRunning());
}

TEST_F(TxSessionTest, InitSettingsReadsTheTuningValuesWithTheirDefaultsAndWritesNone) {
  ProductStateGuard::Clear();
  CTxSession s;
  ASSERT_EQ(s.InitSettings(), 1);
  const MirrorParam& p = s.Params();
  EXPECT_EQ(p.owner, nullptr);
  EXPECT_EQ(p.port, 7100);
  EXPECT_EQ(p.fps, 30);
  EXPECT_EQ(p.quality, 6000);
  EXPECT_EQ(p.volume, 100);
  EXPECT_EQ(p.scaleMode, 1);
  EXPECT_EQ(p.showCursor, 1);
  EXPECT_EQ(p.useDxgi, GetOSVersionCodeEx() == OSVER_WIN8 ? 1 : 0);
  EXPECT_EQ(p.displayIndex, -1);
  EXPECT_TRUE(p.password.empty());
  for (const wchar_t* name : {L"txFps", L"txQuailty", L"txVolume", L"txScale", L"txCursor",
                              L"txDDI"}) {
    EXPECT_NE(RegGetValueW(HKEY_CURRENT_USER, kProductKey, name, RRF_RT_ANY, nullptr, nullptr,
                           nullptr),
              ERROR_SUCCESS)
        << "written: " << cl::WideToUtf8(name);
  }
  s.ReleaseAll();

  CFrameUtility::SetTxFps(15);
  CFrameUtility::SetTxQuality(2000);
  CFrameUtility::SetTxDDI(1);
  CTxSession t;
  t.InitSettings();
  EXPECT_EQ(t.Params().fps, 15);
  EXPECT_EQ(t.Params().quality, 2000);
  EXPECT_EQ(t.Params().useDxgi, 1);
  t.ReleaseAll();
  ProductStateGuard::Clear();
}

TEST_F(TxSessionTest, ANullPasswordKeepsThePreviousOneAndItGoesAsUtf8) {
  backend_.lookupResult = 404;
  CTxSession s;
  // "Kl\xE4ng" in the ANSI code page (1252 in the test prefix).
  const Nb5TxInitParameters withPassword = {"1", "Kl\xE4ng", 0};
  s.Start(withPassword);
  EXPECT_EQ(s.Password(), L"Kl\u00E4ng");
  EXPECT_EQ(s.Params().password, "Kl\xC3\xA4ng");
  s.Start(kId);
  EXPECT_EQ(s.Params().password, "Kl\xC3\xA4ng");
  const Nb5TxInitParameters noId = {nullptr, "other", 0};
  EXPECT_EQ(s.Start(noId), 0);
  EXPECT_EQ(s.LastError(), TXAPI_ERR_NO_CONNECTION_ID);
  EXPECT_EQ(s.Params().password, "Kl\xC3\xA4ng");
  EXPECT_EQ(s.ConnectionId(), L"123456");
}

TEST_F(TxSessionTest, MirrorsToTheFirstInterfaceThatAnswersTheProbe) {
  ProbeResponder rtsp("RTSP/1.0 200 OK\r\n\r\n", ProbeResponder::Mode::kAnswer, "127.0.0.2");
  ProbeResponder http10("HTTP/1.0 200 OK\r\n\r\n", ProbeResponder::Mode::kAnswer, "127.0.0.3");
  const int port = rtsp.port();
  // Every responder listens on its own port; the token has one port, so
  // the other addresses refuse it (nothing listens there on that port).
  const struct {
    const char* what;
    std::vector<std::string> ips;
    const char* chosen;
  } cases[] = {
      {"first answers, last refuses", {"127.0.0.2", "127.0.0.4"}, "127.0.0.2"},
      {"first refuses, second answers", {"127.0.0.4", "127.0.0.2", "127.0.0.6"}, "127.0.0.2"},
      {"none answers: the last one", {"127.0.0.4", "127.0.0.6"}, "127.0.0.6"},
      {"an interface without mac ends the list unprobed", {"127.0.0.2", "127.0.0.4", "-"},
       "127.0.0.4"},
  };
  CTxSession s;
  for (const auto& c : cases) {
    Answer(TokenJson(port, c.ips));
    EXPECT_EQ(s.Start(kId), 1) << c.what;
    EXPECT_EQ(s.ReceiverAddress(), c.chosen) << c.what;
    EXPECT_EQ(s.ReceiverAudioPort(), port) << c.what;
    s.StopMirror();
  }
  // A reply other than a 200 status line of RTSP/1.0 or HTTP/1.1 is no answer.
  Answer(TokenJson(http10.port(), {"127.0.0.3", "127.0.0.7"}));
  EXPECT_EQ(s.Start(kId), 1);
  EXPECT_EQ(s.ReceiverAddress(), "127.0.0.7");
  s.StopMirror();
  EXPECT_EQ(http10.Requests().size(), 1u);

  // A token without interfaces names no receiver: nothing is started, and
  // no address of an earlier lookup is used.
  Answer(TokenJson(port, {}));
  EXPECT_EQ(s.Start(kId), 0);
  EXPECT_EQ(s.LastError(), TXAPI_ERR_MIRROR_FAILED);
  EXPECT_EQ(s.Mirror(), nullptr);
}

TEST_F(TxSessionTest, ASessionThatEndsByItselfCountsAsStoppedWithItsError) {
  CTxSession s;
  EXPECT_EQ(s.IsStopped(), 1);  // no mirroring session
  StartRefusedMirror(s);
  ASSERT_TRUE(WaitStopped(s, 10000));
  EXPECT_EQ(s.LastError(), kConnectFailed);
  ASSERT_NE(s.Mirror(), nullptr);
  s.StopMirror();
  EXPECT_EQ(s.Mirror(), nullptr);
  EXPECT_EQ(s.LastError(), kConnectFailed);
  EXPECT_EQ(s.IsStopped(), 1);

  // An end nobody asked about yet comes before a later command's code.
  StartRefusedMirror(s);
  testwait::Until([&] { return s.Mirror()->Status().state == MirrorState::kFailed; }, 10000, 50);
  EXPECT_EQ(s.SwitchDisplay(1), 0);
  EXPECT_EQ(s.LastError(), TXAPI_ERR_SWITCH_DISPLAY);
  EXPECT_EQ(s.IsStopped(), 1);
}

namespace {
HANDLE g_release = nullptr;
void HoldTheSessionThread(int) { WaitForSingleObject(g_release, testwait::Ms(20000)); }
}  // namespace

TEST_F(TxSessionTest, AStartWhileTheOldSessionStillStopsIsDroppedWith10007) {
  // A modal error box on the session thread is what keeps a session from
  // stopping; the library shows none, so the test holds the thread itself.
  g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetMirrorErrorPrompt(&HoldTheSessionThread);
  CTxSession s;
  StartRefusedMirror(s);
  Sleep(testwait::Ms(500));  // the connect has failed and the thread waits in the prompt
  const DWORD t0 = GetTickCount();
  EXPECT_EQ(s.StartMirror(), 0);
  EXPECT_LT(GetTickCount() - t0, testwait::Ms(4000));  // the stop's bound, no pause
  EXPECT_EQ(s.LastError(), TXAPI_ERR_OLD_SESSION_QUITTING);
  ASSERT_NE(s.Mirror(), nullptr);  // kept, never freed under its thread
  EXPECT_EQ(s.IsStopped(), 1);
  SetEvent(g_release);
  s.StopMirror();
  EXPECT_EQ(s.Mirror(), nullptr);
  EXPECT_EQ(s.LastError(), kConnectFailed);
  SetMirrorErrorPrompt(nullptr);
  CloseHandle(g_release);
}

TEST_F(TxSessionTest, ReleaseWaitsForASessionThreadThatOutlivesItsStop) {
  g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetMirrorErrorPrompt(&HoldTheSessionThread);
  {
    CTxSession s;
    StartRefusedMirror(s);
    Sleep(testwait::Ms(500));
    std::thread release([] {
      Sleep(3000);
      SetEvent(g_release);
    });
    s.ReleaseAll();  // the stop gives up after 2 s; the destructor waits on
    EXPECT_EQ(s.Mirror(), nullptr);
    release.join();
  }
  SetMirrorErrorPrompt(nullptr);
  CloseHandle(g_release);
}

// ------------------------------------------------------ displays (stand-in)

namespace {

FakeDisplayPlatform PcWithSparePort() {
  FakeDisplayPlatform p = StandardPc(true, false);
  FakeTarget inUse;
  inUse.id = 0x1001;
  inUse.status = DISPLAYCONFIG_TARGET_IN_USE;
  inUse.available = true;
  FakeTarget spare;
  spare.id = 0x1002;
  spare.available = true;
  p.targets = {inUse, spare};
  // The added display comes first in the monitor list: the one monitor
  // Wine has answers to its index, so selecting it works.
  p.monitors = {L"\\\\.\\DISPLAY2", L"\\\\.\\DISPLAY1"};
  return p;
}

size_t Detaches(const FakeDisplayPlatform& p) {
  size_t n = 0;
  for (const std::string& c : p.DisplayCalls()) n += c.find("DISPLAY2 fields=0x1c0020 0x0") != std::string::npos;
  return n;
}

}  // namespace

TEST_F(TxSessionTest, DisplayCommandsWithoutASessionSet10006AndKeepTheIndex) {
  FakeDisplayPlatform p = PcWithSparePort();
  CTxSession s(&p);
  EXPECT_EQ(s.ExtendDisplay(), 0);
  EXPECT_EQ(s.LastError(), TXAPI_ERR_NO_SESSION);
  EXPECT_EQ(s.ExtendedDisplay(), nullptr);
  EXPECT_EQ(s.SwitchDisplay(2), 0);
  EXPECT_EQ(s.LastError(), TXAPI_ERR_NO_SESSION);
  EXPECT_EQ(s.Params().displayIndex, 2);
  EXPECT_TRUE(p.DisplayCalls().empty());
}

TEST_F(TxSessionTest, ExtendReusesItsManagerAndStopRemovesTheDisplay) {
  FakeDisplayPlatform p = PcWithSparePort();
  CTxSession s(&p);
  StartEndedMirror(s);
  ASSERT_EQ(s.ExtendDisplay(), 1);
  CExtendDisplay* manager = s.ExtendedDisplay();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(s.Params().displayIndex, 0);
  EXPECT_EQ(s.ExtendDisplay(), 1);
  EXPECT_EQ(s.ExtendedDisplay(), manager);
  EXPECT_EQ(Detaches(p), 0u);
  s.StopMirror();
  EXPECT_EQ(s.ExtendedDisplay(), nullptr);
  EXPECT_EQ(Detaches(p), 1u);
}

TEST_F(TxSessionTest, AFailedExtendSets10009AndKeepsTheManager) {
  FakeDisplayPlatform p = StandardPc(false, false);  // no spare port, no driver
  CTxSession s(&p);
  StartEndedMirror(s);
  EXPECT_EQ(s.ExtendDisplay(), 0);
  EXPECT_EQ(s.LastError(), TXAPI_ERR_EXTEND_DISPLAY);
  EXPECT_NE(s.ExtendedDisplay(), nullptr);
  s.ReleaseAll();
  EXPECT_EQ(s.ExtendedDisplay(), nullptr);
}

TEST_F(TxSessionTest, SwitchRemovesTheExtendedDisplayOnlyAfterItSucceeded) {
  FakeDisplayPlatform p = PcWithSparePort();
  CTxSession s(&p);
  StartEndedMirror(s);
  ASSERT_EQ(s.ExtendDisplay(), 1);
  // Wine has one monitor: display 1 does not exist, and the capture stays
  // on the extended display, which must stay too.
  EXPECT_EQ(s.SwitchDisplay(1), 0);
  EXPECT_EQ(s.LastError(), TXAPI_ERR_SWITCH_DISPLAY);
  EXPECT_EQ(s.Params().displayIndex, 1);
  EXPECT_NE(s.ExtendedDisplay(), nullptr);
  EXPECT_EQ(Detaches(p), 0u);
  EXPECT_EQ(s.SwitchDisplay(0), 1);
  EXPECT_EQ(s.ExtendedDisplay(), nullptr);
  EXPECT_EQ(Detaches(p), 1u);
  s.StopMirror();
  EXPECT_EQ(Detaches(p), 1u);
}

// ------------------------------------------------------------ API object

namespace {

// Bytes in use on every heap of the process.
size_t HeapBytesInUse() {
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  size_t used = 0;
  for (DWORD i = 0; i < n && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY e{};
    while (HeapWalk(heaps[i], &e)) {
      if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) used += e.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return used;
}

}  // namespace

TEST_F(TxSessionTest, InitAndFreeCyclesKeepNoSessionStorage) {
  CNb5TxAPI api;
  // One cycle first: one-time allocations of the parts it starts.
  ASSERT_EQ(api.Init(), 1);
  EXPECT_EQ(api.Free(), 1);
  const size_t before = HeapBytesInUse();
  constexpr size_t kCycles = 60;
  for (size_t i = 0; i < kCycles; ++i) {
    ASSERT_EQ(api.Init(), 1);
    EXPECT_EQ(api.Free(), 1);
  }
  const size_t after = HeapBytesInUse();
  const long long grown = static_cast<long long>(after) - static_cast<long long>(before);
  printf("heap in use %zu -> %zu bytes over %zu cycles (a session is %zu bytes)\n", before, after,
         kCycles, sizeof(CTxSession));
  // A session's storage kept per cycle would add all of them.
  EXPECT_LT(grown, static_cast<long long>(kCycles * sizeof(CTxSession) / 2));
}
