// The backend client end to end against the backend peer: every operation's
// request passes the peer's checks and its results land; the manager's
// meeting chain and the connection-ID lookup with its probe; every hostile
// mode of the peer ends within its bound with a failure the completion
// sees, and every record is freed.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "backend/BEOPWorker.h"
#include "backend/BEServiceUtil.h"
#include "backend/PeerSupport.h"
#include "backend/TestLog.h"
#include "classlib/MainWindow.h"
#include "classlib/Str.h"
#include "engine/discovery/ReceiverProbe.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/IniFile.h"
#include "foundation/sys/SysUtil.h"
#include "support/ProbeResponder.h"

namespace {

// Bound of one hostile exchange: the client's deadline (8 s in these tests)
// plus the way through proxy and manager.
constexpr DWORD kHostileBoundMs = 15000;

// One window for the whole binary: the receiver probe keeps the window it
// was made with for the life of the process.
MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

Json::Value Token(const std::string& name, const Json::Value& port, const std::string& code,
                  std::vector<std::string> ips) {
  Json::Value t;
  t["name"] = name;
  t["port"] = port;
  t["code"] = code;
  t["interfaces"] = Json::Value(Json::arrayValue);
  for (const std::string& ip : ips) {
    Json::Value itf;
    itf["ip"] = ip;
    itf["mac"] = "00:11:22:33:44:55";
    t["interfaces"].append(itf);
  }
  return t;
}

void PeerToken(const std::string& id, const Json::Value& token) {
  Json::Value c;
  c["cmd"] = "token";
  c["id"] = id;
  c["token"] = token;
  ASSERT_TRUE(PeerCommand(c)["ok"].asBool());
}

class BackendPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PEER();
    PeerCommand("reset");
    SetBEServiceExecuteForTest(nullptr);
    CFrameUtility::SetProxyMode(0);
    BuildBackendUserAgent();
    cl::SetMainWindow(Sink().hwnd());
    Sink().Clear();
  }
  void TearDown() override {
    if (!PeerAvailable()) return;
    StopBEOPMgr();
    EXPECT_TRUE(WaitUntil([] { return BEOPOperation::LiveCount() == 0; }, kHostileBoundMs))
        << BEOPOperation::LiveCount() << " records left";
    EXPECT_TRUE(WaitProbeIdle(10000));
    cl::SetMainWindow(nullptr);
  }

  // The pair of WM_LOOKUP_RESULT number `index` (from 0); (-1,-1) on time-out.
  static std::pair<int, int> LookupResult(size_t index, DWORD timeoutMs) {
    if (!Sink().WaitFor(WM_LOOKUP_RESULT, index + 1, timeoutMs)) return {-1, -1};
    const auto m = Sink().Messages(WM_LOOKUP_RESULT)[index];
    return {static_cast<int>(m.w), static_cast<int>(m.l)};
  }
};

std::unique_ptr<BEOPOperation> RunOp(int op, const BEOPPara& para) {
  std::unique_ptr<BEOPOperation> r(new BEOPOperation());
  r->op = r->opInWork = op;
  r->para = para;
  RunBEOPOperation(r.get());
  return r;
}

TEST_F(BackendPeer, EveryOperationPassesThePeersChecksAndItsResultsLand) {
  // A token that needs every kind of escape, in the path and in the forms.
  Json::Value set;
  set["cmd"] = "set";
  set["meeting_token"] = "MT 1/\xC3\xB6";
  set["relay_port"] = 70000;
  PeerCommand(set);
  PeerToken("12 34", Token("Rx", 47000, "C", {"127.0.0.1"}));

  BEOPPara p;
  p.hostName = L"My PC \u00e9";
  p.platform = L"Windows/6.1";
  p.machineId = CFrameUtility::GetPrimaryMachineID();
  p.user = kServiceAccountEmail;
  p.password = kServiceAccountPassword;
  auto devinit = RunOp(BEOP_OP_DEVINIT, p);
  EXPECT_EQ(devinit->para.status, 0);

  auto create = RunOp(BEOP_OP_CREATEMT, p);
  EXPECT_EQ(create->para.status, 0);
  EXPECT_EQ(create->para.meetingToken, L"MT 1/\u00f6");
  p.meetingToken = create->para.meetingToken;
  p.meetingStatus = 1;
  p.meetingDesc = MeetingDescription();
  EXPECT_EQ(RunOp(BEOP_OP_UPDATEMT, p)->para.status, 0);
  auto query = RunOp(BEOP_OP_QUERYMT, p);
  EXPECT_EQ(query->para.status, 0);
  EXPECT_EQ(query->para.tokenDuration, L"30");
  EXPECT_EQ(RunOp(BEOP_OP_DELETEMT, p)->para.status, 0);
  auto relay = RunOp(BEOP_OP_GETRELAYINFO, p);
  EXPECT_EQ(relay->para.status, 0);
  EXPECT_EQ(relay->para.relayInfo.ip_addr, "127.0.0.9");
  EXPECT_EQ(relay->para.relayInfo.port, 4464);  // 70000 in 16 bits
  EXPECT_EQ(relay->para.relayInfo.fqdn, "relay.tessarine.invalid");
  p.serviceToken = L"12 34";
  auto lookup = RunOp(BEOP_OP_GETSERVICETOKENINFO, p);
  EXPECT_EQ(lookup->para.status, 0);
  EXPECT_FALSE(lookup->para.serviceTokenInfo.desc.empty());

  for (int op : {0, 9, 10, 11, 12, 13, 14}) EXPECT_EQ(PeerRequestsForOp(op).size(), 1u) << op;
  ExpectNoViolations();
}

TEST_F(BackendPeer, ManagerRegistersAtStartAndTheMeetingChainStoresItsToken) {
  CFrameUtility::SetMeetingToken(L"");
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsForOp(0).size() == 1; }, kHostileBoundMs));
  // A second start without a stop keeps the thread and registers again.
  const unsigned id = CBEOPMgr::Instance().ThreadId();
  ASSERT_EQ(StartBEOPMgr(), 1);
  EXPECT_EQ(CBEOPMgr::Instance().ThreadId(), id);
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsForOp(0).size() == 2; }, kHostileBoundMs));

  StartBackendMonitors();  // the meeting update once after start-up
  ASSERT_TRUE(Sink().WaitFor(WM_BEOP_MT_UPDATED, 1, 3 * kHostileBoundMs));
  EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"MT-0001");
  EXPECT_TRUE(IsMeetingActive());
  const auto updates = PeerRequestsForOp(10);
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0]["body"].asString(),
            "token=MT-0001&status=1&desc=" + UrlEncode(MeetingDescription()));
  // Sponsor 9 gets no renewal notice.
  EXPECT_TRUE(Sink().Messages(WM_BEOP_RENEW_MT).empty());
  ExpectNoViolations();
}

TEST_F(BackendPeer, LookupDecodesTheTokenAndProbesItsInterfaces) {
  ProbeResponder receiver("RTSP/1.0 200 OK\r\nCSeq: 0\r\n\r\n");
  // Same port on 127.0.0.3, where nobody listens: refused.
  PeerToken("123456", Token("Living Room", receiver.port(), "C-1", {"127.0.0.1", "127.0.0.3"}));
  ASSERT_EQ(StartBEOPMgr(), 1);
  const DWORD start = GetTickCount();
  ASSERT_EQ(PostConnectionIdLookup(L"123456"), 0);
  EXPECT_EQ(LookupResult(0, kHostileBoundMs), std::make_pair(1, 0));
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_EQ(LookupResult(1, kHostileBoundMs), std::make_pair(0, 0));
  printf("lookup: connection ID to reachable receiver in %lu ms\n",
         static_cast<unsigned long>(elapsed));

  ProbeEntry e;
  ASSERT_TRUE(GetProbeReachable(0, e));
  EXPECT_EQ(e.Name, "Living Room");
  EXPECT_EQ(e.Code, "C-1");
  EXPECT_EQ(e.Address, "127.0.0.1");
  EXPECT_EQ(e.Port, std::to_string(receiver.port()));
  EXPECT_EQ(GetLastLookupEntry().Address, "127.0.0.3");  // the last interface queued
  ASSERT_EQ(receiver.Requests().size(), 1u);
  EXPECT_EQ(receiver.Requests()[0], ProbeRequestText(0));

  // A second lookup uses the same probe.
  ReceiverProbe* probe = CBEOPMgr::Instance().receiverProbe;
  ASSERT_EQ(PostConnectionIdLookup(L"123456"), 0);
  EXPECT_EQ(LookupResult(2, kHostileBoundMs), std::make_pair(1, 1));
  EXPECT_EQ(CBEOPMgr::Instance().receiverProbe, probe);
  ExpectNoViolations();
}

TEST_F(BackendPeer, UnknownConnectionIdIsReportedAsUnreachableBackend) {
  ASSERT_EQ(StartBEOPMgr(), 1);
  const std::string log = LoggedBy([] {
    ASSERT_EQ(PostConnectionIdLookup(L"999"), 0);
    EXPECT_EQ(LookupResult(0, kHostileBoundMs), std::make_pair(2, 3));
  });
  EXPECT_NE(log.find("Failed to get mirring token: 404"), std::string::npos) << log;
  ExpectNoViolations();
}

TEST_F(BackendPeer, EveryHostileModeEndsInBoundWithAFailureTheCompletionSees) {
  const struct {
    const char* mode;
    std::pair<int, int> result;
  } cases[] = {
      {"silent", {2, 3}},       {"silent-tls", {2, 3}},  {"trickle", {2, 3}},
      {"trickle-headers", {2, 3}}, {"oversized", {2, 3}}, {"close-mid-reply", {2, 3}},
      {"cutoff-html", {2, 3}},  {"status-204", {2, 3}},  {"status-401", {2, 3}},
      {"status-404", {2, 3}},   {"status-500", {2, 3}},
      // A 200 whose reply cannot be read leaves no token: undecodable.
      {"malformed", {2, 0}},    {"wrong-types", {2, 0}},
  };
  ASSERT_EQ(StartBEOPMgr(), 1);
  size_t index = 0;
  for (const auto& c : cases) {
    PeerCommand("reset");
    PeerToken("123456", Token("Rx", 47000, "C", {"127.0.0.1"}));
    PeerMode(c.mode);
    const DWORD start = GetTickCount();
    ASSERT_EQ(PostConnectionIdLookup(L"123456"), 0);
    EXPECT_EQ(LookupResult(index++, kHostileBoundMs), c.result) << c.mode;
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, kHostileBoundMs) << c.mode;
    EXPECT_TRUE(WaitUntil([] { return BEOPOperation::LiveCount() == 0; }, 5000)) << c.mode;
    printf("%-16s -> (%d,%d) in %lu ms\n", c.mode, c.result.first, c.result.second,
           static_cast<unsigned long>(elapsed));
    ExpectNoViolations();
  }
  // The cut-off page was asked for three times.
  PeerCommand("reset");
  PeerToken("123456", Token("Rx", 47000, "C", {"127.0.0.1"}));
  PeerMode("cutoff-html");
  ASSERT_EQ(PostConnectionIdLookup(L"123456"), 0);
  LookupResult(index++, kHostileBoundMs);
  EXPECT_EQ(PeerRequestsForOp(14).size(), 3u);
}

TEST_F(BackendPeer, CertificateFailuresReachNoPeerAndFailTheLookup) {
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsForOp(0).size() == 1; }, kHostileBoundMs));
  size_t index = 0;
  for (const char* cert : {"expired", "other-name", "unknown-ca"}) {
    PeerCommand("reset");
    PeerToken("123456", Token("Rx", 47000, "C", {"127.0.0.1"}));
    Json::Value c;
    c["cmd"] = "cert";
    c["which"] = cert;
    PeerCommand(c);
    ASSERT_EQ(PostConnectionIdLookup(L"123456"), 0);
    EXPECT_EQ(LookupResult(index++, kHostileBoundMs), std::make_pair(2, 3)) << cert;
    const Json::Value log = PeerCommand("log");
    EXPECT_EQ(log["requests"].size(), 0u) << cert;
    EXPECT_GE(log["connections"].asInt(), 1) << cert;
  }
}

TEST_F(BackendPeer, FailedMeetingRenewalsAreReportedAndStoreNothing) {
  const char* modes[] = {"status-500", "malformed", "silent"};
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsForOp(0).size() == 1; }, kHostileBoundMs));
  size_t index = 0;
  for (const char* mode : modes) {
    CFrameUtility::SetMeetingToken(L"");
    PeerMode(mode, {9});
    ASSERT_EQ(RequestMeeting(BEOP_OP_CREATEMT, 1, BEOP_SPONSOR_RENEW), 0);
    ASSERT_TRUE(Sink().WaitFor(WM_BEOP_RENEW_MT, ++index, kHostileBoundMs)) << mode;
    EXPECT_EQ(Sink().Messages(WM_BEOP_RENEW_MT).back().w, 1u) << mode;
    EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"") << mode;
  }
  // And a renewal that works: created, stored, updated, reported as renewed.
  PeerMode("normal");
  ASSERT_EQ(RequestMeeting(BEOP_OP_CREATEMT, 1, BEOP_SPONSOR_RENEW), 0);
  ASSERT_TRUE(Sink().WaitFor(WM_BEOP_RENEW_MT, ++index, kHostileBoundMs));
  EXPECT_EQ(Sink().Messages(WM_BEOP_RENEW_MT).back().w, 0u);
  EXPECT_EQ(Sink().Messages(WM_BEOP_MT_UPDATED).size(), 1u);
  EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"MT-0001");
  ExpectNoViolations();
}

TEST_F(BackendPeer, RelayInfoLandsInTheManager) {
  ASSERT_EQ(StartBEOPMgr(), 1);
  auto* r = new BEOPOperation();
  r->sponsor = BEOP_SPONSOR_GET_RELAY_INFO;
  r->op = BEOP_OP_GETRELAYINFO;
  r->para.user = kServiceAccountEmail;
  r->para.password = kServiceAccountPassword;
  r->para.machineId = CFrameUtility::GetPrimaryMachineID();
  ASSERT_TRUE(PostOPMessage(WM_BEOP_START, reinterpret_cast<WPARAM>(r), 0));
  ASSERT_TRUE(Sink().WaitFor(WM_BEOP_RELAY_INFO, 1, kHostileBoundMs));
  EXPECT_EQ(Sink().Messages(WM_BEOP_RELAY_INFO)[0].w, 0u);
  StopBEOPMgr();
  EXPECT_EQ(CBEOPMgr::Instance().relayInfo.ip_addr, "127.0.0.9");
  EXPECT_EQ(CBEOPMgr::Instance().relayInfo.port, 443);
}

// ---------------------------------------------------------------- the manager itself

TEST_F(BackendPeer, RecordsAreFreedOnEveryPath) {
  // Refused by the manager.
  EXPECT_EQ(StartBEOP(nullptr), BEOP_E_NULL_PARAM);
  EXPECT_EQ(StartBEOP(new BEOPOperation()), BEOP_E_INVALID_PARAM);
  EXPECT_EQ(BEOPOperation::LiveCount(), 0);
  // Posted while no manager runs: the poster frees it.
  CBEOPMgr::Instance().StopThread();
  EXPECT_EQ(PostConnectionIdLookup(L"123456"), BEOP_E_POST_FAILED);
  EXPECT_EQ(RequestMeeting(BEOP_OP_CREATEMT, 1, BEOP_SPONSOR_RENEW), 3);
  EXPECT_EQ(BEOPOperation::LiveCount(), 0);
  // A worker that finishes after the manager stopped frees its own.
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return BEOPOperation::LiveCount() == 0; }, kHostileBoundMs));
  PeerMode("silent", {14});
  PeerToken("123456", Token("Rx", 47000, "C", {"127.0.0.1"}));
  ASSERT_EQ(PostConnectionIdLookup(L"123456"), 0);
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsForOp(14).size() == 1; }, kHostileBoundMs));
  EXPECT_EQ(BEOPOperation::LiveCount(), 1);
  StopBEOPMgr();
  EXPECT_TRUE(WaitUntil([] { return BEOPOperation::LiveCount() == 0; }, kHostileBoundMs));
  // Records still queued when the manager quits go with its queue.
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return BEOPOperation::LiveCount() == 0; }, kHostileBoundMs));
  PeerMode("normal");
  const unsigned id = CBEOPMgr::Instance().ThreadId();
  ASSERT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
  for (int i = 0; i < 3; ++i) {
    auto* r = new BEOPOperation();
    r->op = BEOP_OP_DEVINIT;
    // Refused once the manager stopped reading: then the poster frees it.
    if (!PostOPMessage(WM_BEOP_START, reinterpret_cast<WPARAM>(r), 0)) delete r;
  }
  StopBEOPMgr();
  EXPECT_EQ(BEOPOperation::LiveCount(), 0);
}

TEST_F(BackendPeer, StopCancelsTheRequestInProgressAndLeavesNoneRunning) {
  // A registration the backend takes and never answers, under the client's
  // real deadline of a minute.
  HttpClient::SetDefaultDeadlineMs(HttpClient::kDefaultDeadlineMs);
  PeerMode("silent", {0});
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsForOp(0).size() == 1; }, kHostileBoundMs));
  EXPECT_EQ(HttpClient::ExchangesInFlight(), 1u);
  const DWORD t0 = GetTickCount();
  StopBEOPMgr();
  const DWORD stopMs = GetTickCount() - t0;
  HttpClient::SetDefaultDeadlineMs(8000);
  EXPECT_LT(stopMs, kBEOPMgrExchangeJoinMs + 3000);
  EXPECT_EQ(HttpClient::ExchangesInFlight(), 0u);
  // Its operation failed, and its record was freed (once: the count).
  EXPECT_TRUE(WaitUntil([] { return BEOPOperation::LiveCount() == 0; }, 5000));
  printf("stop with a registration in progress: %lu ms\n", static_cast<unsigned long>(stopMs));
}

TEST_F(BackendPeer, StopWaitsOutACompletionInsteadOfKillingIt) {
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return BEOPOperation::LiveCount() == 0; }, kHostileBoundMs));
  CFrameUtility::SetMeetingToken(L"");
  // A finished create whose completion writes config.ini, while the test
  // holds the store's lock for 2.5 s: the completion is inside its write
  // when the stop comes.
  critical_section_lock& store = IniStoreState::Instance().lock;
  store.enter();
  auto* r = new BEOPOperation();
  r->sponsor = BEOP_SPONSOR_MEETING_UPDATE;
  r->op = BEOP_OP_CREATEMT;
  r->para.meetingToken = L"MT-held";
  ASSERT_TRUE(PostOPMessage(WM_BEOP_END, reinterpret_cast<WPARAM>(r), 0));
  ASSERT_TRUE(WaitUntil([] { return CBEOPMgr::Instance().InOperation(); }, 5000));
  DWORD stopMs = 0;
  std::thread stopper([&] {
    const DWORD t0 = GetTickCount();
    StopBEOPMgr();
    stopMs = GetTickCount() - t0;
  });
  Sleep(2500);
  store.leave();
  stopper.join();
  EXPECT_GE(stopMs, 2000u);
  EXPECT_FALSE(CBEOPMgr::Instance().IsRunning());
  // The write completed, and the store's lock is free.
  EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"MT-held");
  EXPECT_EQ(BEOPOperation::LiveCount(), 0);
}

TEST_F(BackendPeer, UnhandledMessagesOnlyLogAndStateChangeWithoutFlagDoesNothing) {
  ASSERT_EQ(StartBEOPMgr(), 1);
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsForOp(0).size() == 1; }, kHostileBoundMs));
  const std::string log = LoggedBy([] {
    PostOPMessage(0x13A4, 0, 0);
    PostOPMessage(WM_BEOP_STATE_CHANGED, 0, 0);
    Sleep(500);
  });
  EXPECT_NE(log.find("Unhandled msg: 5028!"), std::string::npos) << log;
  EXPECT_EQ(log.find("Update meeting info."), std::string::npos) << log;
  EXPECT_TRUE(CBEOPMgr::Instance().IsRunning());
  Sleep(1000);
  EXPECT_TRUE(PeerRequestsForOp(9).empty());
}

// ---------------------------------------------------------------- completions

class Completions : public BackendPeer {};

TEST_F(Completions, LookupCompletionByStatusAndMainWindow) {
  auto* failed = new BEOPOperation();
  failed->op = BEOP_OP_GETSERVICETOKENINFO;
  failed->para.status = 404;
  EXPECT_EQ(CBEOPMgr::Instance().OnEndBEOP(failed), BEOP_E_LOOKUP_FAILED);
  ASSERT_TRUE(Sink().WaitFor(WM_LOOKUP_RESULT, 1, 2000));
  EXPECT_EQ(Sink().Messages(WM_LOOKUP_RESULT)[0].w, 2u);
  EXPECT_EQ(Sink().Messages(WM_LOOKUP_RESULT)[0].l, 3);

  // Without a main window nothing is decoded and nothing posted.
  cl::SetMainWindow(nullptr);
  auto* ok = new BEOPOperation();
  ok->op = BEOP_OP_GETSERVICETOKENINFO;
  ok->para.serviceTokenInfo.desc = "undecodable";
  EXPECT_EQ(OnEndBEOP_Castvane(ok), 0);
  EXPECT_EQ(PostToMainWindow(WM_LOOKUP_RESULT, 9, 9), 0);
  Sleep(200);
  EXPECT_EQ(Sink().Messages(WM_LOOKUP_RESULT).size(), 1u);
  EXPECT_EQ(OnEndBEOP_Castvane(nullptr), BEOP_E_NULL_PARAM);
  EXPECT_EQ(BEOPOperation::LiveCount(), 0);
}

TEST_F(Completions, CreateWithoutTokenStoresNothingAndASecondCreateReplacesTheTimer) {
  CFrameUtility::SetMeetingToken(L"");
  auto* empty = new BEOPOperation();
  empty->op = BEOP_OP_CREATEMT;
  const std::string log = LoggedBy([&] { CBEOPMgr::Instance().OnEndBEOP(empty); });
  EXPECT_NE(log.find("Failed to get meeting token"), std::string::npos) << log;
  EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"");
  EXPECT_EQ(CBEOPMgr::Instance().meetingTimer, 0u);

  // Completions run on the manager thread; here on the test's, whose
  // thread timers they arm (the follow-up update's post fails: no manager).
  auto create = [](const wchar_t* token) {
    auto* r = new BEOPOperation();
    r->op = BEOP_OP_CREATEMT;
    r->para.meetingToken = token;
    CBEOPMgr::Instance().OnEndBEOP(r);
    return CBEOPMgr::Instance().meetingTimer;
  };
  const UINT_PTR first = create(L"MT-a");
  EXPECT_NE(first, 0u);
  EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"MT-a");
  const UINT_PTR second = create(L"MT-b");
  EXPECT_NE(second, 0u);
  EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"MT-b");
  EXPECT_TRUE(KillTimer(nullptr, second));
  EXPECT_FALSE(KillTimer(nullptr, first)) << "the first timer was left running";
  CBEOPMgr::Instance().meetingTimer = 0;
  SetMeetingActive(FALSE);
}

TEST_F(Completions, UpdateWithStatusZeroClearsTheStoredTokenSilently) {
  CFrameUtility::SetMeetingToken(L"MT-x");
  auto* r = new BEOPOperation();
  r->op = BEOP_OP_UPDATEMT;
  r->sponsor = BEOP_SPONSOR_RENEW;
  r->para.meetingStatus = 0;
  CBEOPMgr::Instance().OnEndBEOP(r);
  EXPECT_EQ(CFrameUtility::GetMeetingToken(), L"");
  Sleep(200);
  EXPECT_TRUE(Sink().Messages(WM_BEOP_MT_UPDATED).empty());
  EXPECT_TRUE(Sink().Messages(WM_BEOP_RENEW_MT).empty());
}

TEST_F(Completions, MeetingRequestsThatCannotBeMadeAreRefused) {
  std::string log = LoggedBy([] { EXPECT_EQ(RequestMeeting(BEOP_OP_QUERYMT, 1, 7), 4); });
  EXPECT_NE(log.find("Unhandle meeting request: 2048!"), std::string::npos) << log;
  EXPECT_NE(log.find("Parameter invalid for sending meeting request: 2048!"), std::string::npos);
  CFrameUtility::SetMeetingToken(L"");
  EXPECT_EQ(RequestMeeting(BEOP_OP_UPDATEMT, 1, 7), 4);
  EXPECT_EQ(BEOPOperation::LiveCount(), 0);
}

}  // namespace
