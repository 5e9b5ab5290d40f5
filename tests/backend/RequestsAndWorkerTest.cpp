// What each operation puts on the wire (before sending), the parameter
// fill, and the worker's order of bits and fallback (with the backend
// request replaced through the worker's seam).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "backend/BEOPWorker.h"
#include "backend/BEServiceUtil.h"
#include "backend/TestLog.h"
#include "classlib/Str.h"

namespace {

BEServiceRequest FullRequest() {
  BEServiceRequest r;
  r.user = cl::WideToUtf8(kServiceAccountEmail);
  r.password = cl::WideToUtf8(kServiceAccountPassword);
  r.machineId = "0123456789abcdef0123456789abcdef";
  r.hostName = "My PC";
  r.platform = "Windows/6.1";
  r.meetingToken = "MT/1 2";
  r.meetingStatus = 1;
  r.meetingDesc = "My PC";
  r.serviceToken = "12 34/5";
  return r;
}

std::wstring Auth() {
  return GetHttpAuthHeader(cl::WideToUtf8(kServiceAccountEmail),
                           cl::WideToUtf8(kServiceAccountPassword));
}

TEST(Requests, EachOperationsMethodPathHeaderBlockAndBody) {
  const std::wstring form = L"Content-Type: application/x-www-form-urlencoded; charset=utf-8";
  const std::wstring lang = GetHttpLangHeader();
  const std::wstring v2 = BackendBaseUrl() + L"v2/", v3 = BackendBaseUrl() + L"v3/";
  const struct {
    int op;
    const wchar_t* method;
    std::wstring url;
    std::wstring middle;  // between "Accept: */*\r\n" and the language header
    std::string body;
  } cases[] = {
      {0, L"POST", v2 + L"dev_init", form,
       "dev_name=My%20PC&dev_uuid=0123456789abcdef0123456789abcdef&platform=Windows%2F6.1"},
      {9, L"POST", v2 + L"service", form + L"\r\n" + Auth(),
       "service_id=6&mode=2&kind=2&dev_uuid=0123456789abcdef0123456789abcdef"},
      {10, L"PUT", v2 + L"service", form + L"\r\n" + Auth(), "token=MT%2F1%202&status=1&desc=My%20PC"},
      {11, L"GET", v2 + L"service/MT%2F1%202", form + L"\r\n" + Auth(), "MT%2F1%202"},
      {12, L"DELETE", v2 + L"service/MT%2F1%202", form + L"\r\n" + Auth(), "MT%2F1%202"},
      {13, L"POST", v3 + L"relay", L"Content-Type: application/x-www-form-urlencoded\r\n" + Auth(),
       "dev_uuid=0123456789abcdef0123456789abcdef"},
      {14, L"GET", v3 + L"service/12%2034%2F5", Auth(), "12%2034%2F5"},
  };
  for (const auto& c : cases) {
    BEServiceRequest r = FullRequest();
    BEServiceUtil util;
    // Execute's steps without the send.
    util.BeginOp(c.op);
    ASSERT_EQ(util.CheckParameter(&r), 0) << c.op;
    ASSERT_EQ(util.PrepareRequest(), 0) << c.op;
    EXPECT_EQ(util.Method(), c.method) << c.op;
    EXPECT_EQ(util.Url(), c.url) << c.op;
    EXPECT_EQ(util.Body(), c.body) << c.op;
    EXPECT_EQ(util.HeaderBlock(), L"Accept: */*\r\n" + c.middle + L"\r\n" + lang +
                                      cl::FormatW(L"\r\nContent-Length: %u\r\n",
                                                  static_cast<unsigned>(c.body.size())))
        << c.op;
  }
}

TEST(Requests, ParameterCheckPerOperation) {
  const struct {
    int op;
    void (*clear)(BEServiceRequest&);
    int result;
    const char* message;
  } cases[] = {
      {0, [](BEServiceRequest& r) { r.platform.clear(); }, 1, "Invalid dev_init parameter: 0"},
      {9, [](BEServiceRequest& r) { r.password.clear(); }, 1,
       "Invalid create meeting token parameter: 9"},
      {10, [](BEServiceRequest& r) { r.meetingDesc.clear(); }, 1,
       "Invalid update meeting token parameter: 10"},
      // A stop (status 0) needs no description.
      {10, [](BEServiceRequest& r) { r.meetingDesc.clear(), r.meetingStatus = 0; }, 0, nullptr},
      {11, [](BEServiceRequest& r) { r.meetingToken.clear(); }, 1,
       "Invalid query meeting token parameter: 11"},
      {12, [](BEServiceRequest& r) { r.user.clear(); }, 1,
       "Invalid delete meeting token parameter: 12"},
      {13, [](BEServiceRequest& r) { r.machineId.clear(); }, 1, "Invalid get relay parameter: 13"},
      {14, [](BEServiceRequest& r) { r.serviceToken.clear(); }, 1,
       "Invalid get service token parameter: 14"},
      {15, [](BEServiceRequest&) {}, 1, "Unhandled parameter check: 15"},
  };
  for (const auto& c : cases) {
    BEServiceRequest r = FullRequest();
    c.clear(r);
    BEServiceUtil util;
    util.BeginOp(c.op);
    int result = -1;
    const std::string log = LoggedBy([&] { result = util.CheckParameter(&r); });
    EXPECT_EQ(result, c.result) << c.op;
    if (c.message) {
      EXPECT_NE(log.find(c.message), std::string::npos) << log;
    }
  }
}

TEST(Requests, Status1UpdateIsSentEvenForAStop) {
  BEServiceRequest r = FullRequest();
  r.meetingStatus = 0;
  r.meetingDesc.clear();
  BEServiceUtil util;
  util.BeginOp(BESOP_UPDATEMT);
  ASSERT_EQ(util.CheckParameter(&r), 0);
  ASSERT_EQ(util.PrepareRequest(), 0);
  EXPECT_EQ(util.Body(), "token=MT%2F1%202&status=1&desc=");
}

// ---------------------------------------------------------------- parameter fill

TEST(FillBEOPParams, MasksCopyOrRefuse) {
  BEOPPara full;
  full.user = L"u";
  full.password = L"p";
  full.machineId = L"m";
  full.hostName = L"h";
  full.platform = L"Windows/6.1";
  full.meetingToken = L"t";
  full.meetingStatus = 1;
  full.meetingDesc = "d";
  full.serviceToken = L"s\u00f6";
  const struct {
    int mask;
    void (*clear)(BEOPPara&);
    int result;
    const char* refusal;
  } cases[] = {
      {0x34, [](BEOPPara&) {}, 0, nullptr},
      {0x07, [](BEOPPara& p) { p.user.clear(); }, 1, "Invalid user parameter"},
      {0x07, [](BEOPPara& p) { p.password.clear(); }, 1, "Invalid pwd parameter"},
      {0x34, [](BEOPPara& p) { p.machineId.clear(); }, 1, "Invalid hwid parameter"},
      {0x34, [](BEOPPara& p) { p.hostName.clear(); }, 1, "Invalid hostname parameter"},
      {0x34, [](BEOPPara& p) { p.platform.clear(); }, 1, "Invalid platform parameter"},
      {0x43, [](BEOPPara& p) { p.meetingToken.clear(); }, 1, "Invalid meeting token parameter"},
      {0xC3, [](BEOPPara& p) { p.meetingDesc.clear(); }, 1, "Invalid meeting desc parameter"},
      {0xC3, [](BEOPPara& p) { p.meetingDesc.clear(), p.meetingStatus = 0; }, 0, nullptr},
      {0x103, [](BEOPPara& p) { p.serviceToken.clear(); }, 1, "Invalid service token parameter"},
  };
  for (const auto& c : cases) {
    BEOPPara para = full;
    c.clear(para);
    BEServiceRequest r;
    int result = -1;
    const std::string log = LoggedBy([&] { result = FillBEOPParams(para, c.mask, r); });
    EXPECT_EQ(result, c.result) << std::hex << c.mask;
    if (c.refusal) {
      EXPECT_NE(log.find(c.refusal), std::string::npos) << log;
    }
  }
  BEServiceRequest r;
  ASSERT_EQ(FillBEOPParams(full, 0x1F7, r), 0);
  EXPECT_EQ(r.serviceToken, "s\xC3\xB6");  // UTF-8
  EXPECT_EQ(r.meetingStatus, 1);
  EXPECT_EQ(r.meetingDesc, "d");
  // Fields stored before a refusal stay stored.
  BEOPPara partial = full;
  partial.machineId.clear();
  BEServiceRequest r2;
  EXPECT_EQ(FillBEOPParams(partial, 0x07, r2), 1);
  EXPECT_EQ(r2.user, "u");
  EXPECT_EQ(r2.password, "p");
}

TEST(FillBEOPParams, ProxyCredentialsGoOnlyAsAWholeSet) {
  BEOPPara para;
  para.serviceToken = L"1";
  para.proxyServer = L"p:8080";
  para.proxyScheme = 1;
  para.proxyUser = L"u";
  BEServiceRequest r;
  ASSERT_EQ(FillBEOPParams(para, 0x100, r), 0);
  EXPECT_EQ(r.proxyServer, L"p:8080");
  EXPECT_EQ(r.proxyScheme, 0);
  para.proxyPassword = L"w";
  ASSERT_EQ(FillBEOPParams(para, 0x100, r), 0);
  EXPECT_EQ(r.proxyScheme, 1);
  EXPECT_EQ(r.proxyPassword, L"w");
}

// ---------------------------------------------------------------- the worker

std::vector<int> g_calls;
std::vector<int> g_failingOps;

int FakeExecute(BEServiceRequest*, int op) {
  g_calls.push_back(op);
  for (int f : g_failingOps) {
    if (f == op) return 500;
  }
  return 0;
}

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_failingOps.clear();
    SetBEServiceExecuteForTest(&FakeExecute);
  }
  void TearDown() override { SetBEServiceExecuteForTest(nullptr); }

  static BEOPOperation* Record(int op, int fallback) {
    auto* r = new BEOPOperation();
    r->op = op;
    r->fallbackOp = fallback;
    r->opInWork = op;
    r->fallbackInWork = fallback;
    BEOPPara& p = r->para;
    p.user = L"u";
    p.password = L"p";
    p.machineId = L"m";
    p.hostName = L"h";
    p.platform = L"Windows/6.1";
    p.meetingToken = L"t";
    p.meetingDesc = "d";
    p.serviceToken = L"s";
    return r;
  }
};

TEST_F(Worker, BitsRunLowestFirstAndAFailureSkipsTheRestAndRunsTheFallback) {
  const struct {
    int op, fallback;
    std::vector<int> failing;
    std::vector<int> calls;
    int failingBit, status, opLeft;
  } cases[] = {
      // registration first; a failed registration leaves the creation untried
      {0x0201, 0, {0}, {0}, 0x0001, 500, 0x0201},
      {0x0201, 0, {}, {0, 9}, 0, 0, 0},
      {0x0201, 0, {9}, {0, 9}, 0x0200, 500, 0x0200},
      // a successful op word never runs the fallback
      {0x0400, 0x2000, {}, {10}, 0, 0, 0},
      {0x0400, 0x2000, {10}, {10, 13}, 0x0400, 0, 0x0400},
      {0x4000, 0, {14}, {14}, 0x4000, 500, 0x4000},
      {0x7E01, 0, {}, {0, 9, 10, 11, 12, 13, 14}, 0, 0, 0},
  };
  for (const auto& c : cases) {
    g_calls.clear();
    g_failingOps = c.failing;
    std::unique_ptr<BEOPOperation> r(Record(c.op, c.fallback));
    EXPECT_EQ(RunBEOPOperation(r.get()), c.failingBit) << std::hex << c.op;
    EXPECT_EQ(g_calls, c.calls) << std::hex << c.op;
    EXPECT_EQ(r->para.status, c.status) << std::hex << c.op;
    EXPECT_EQ(r->opInWork, c.opLeft) << std::hex << c.op;
    EXPECT_EQ(r->op, c.op) << "the posted word never changes";
  }
}

TEST_F(Worker, RefusedInputsSendNothingAndKeepTheStatus) {
  std::unique_ptr<BEOPOperation> r(Record(BEOP_OP_UPDATEMT, 0));
  r->para.meetingStatus = 1;
  r->para.meetingDesc.clear();
  std::string log = LoggedBy([&] { EXPECT_EQ(RunBEOPOperation(r.get()), BEOP_OP_UPDATEMT); });
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(r->para.status, 0);
  EXPECT_NE(log.find("Invalid meeting desc parameter"), std::string::npos) << log;
  EXPECT_NE(log.find("Init Zt account failed: 1"), std::string::npos) << log;

  std::unique_ptr<BEOPOperation> lookup(Record(BEOP_OP_GETSERVICETOKENINFO, 0));
  lookup->para.serviceToken.clear();
  log = LoggedBy([&] { RunBEOPOperation(lookup.get()); });
  EXPECT_TRUE(g_calls.empty());
  EXPECT_NE(log.find("Invalid service token parameter"), std::string::npos) << log;
}

TEST(WorkerProxyTarget, EndsInV3OnlyForALookup) {
  EXPECT_EQ(BEOPProxyTargetUrl(0x4000), BackendBaseUrl() + L"v3/");
  EXPECT_EQ(BEOPProxyTargetUrl(0x4001), BackendBaseUrl() + L"v3/");
  EXPECT_EQ(BEOPProxyTargetUrl(0x2000), BackendBaseUrl() + L"v2/");
  EXPECT_EQ(BEOPProxyTargetUrl(0x0001), BackendBaseUrl() + L"v2/");
  EXPECT_EQ(BackendBaseUrl(), L"https://backend.tessarine.invalid/api/tarsel/");
}

}  // namespace
