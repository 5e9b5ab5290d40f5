// The HTTP client against the backend peer's plain test pages (through the
// proxy named by http_proxy, over TLS with the run's test CA).
#include <gtest/gtest.h>

#include <thread>

#include "backend/BEServiceUtil.h"
#include "backend/HttpClient.h"
#include "backend/PeerSupport.h"
#include "classlib/Str.h"

namespace {

std::wstring TestUrl(const std::wstring& page) {
  return std::wstring(L"https://") + kBackendHost + L"/test/" + page;
}

std::vector<Json::Value> PeerRequestsTo(const std::string& target) {
  std::vector<Json::Value> out;
  for (const Json::Value& r : PeerRequests()) {
    if (r["target"].asString() == target) out.push_back(r);
  }
  return out;
}

class HttpClientPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PEER();
    PeerCommand("reset");
  }
  void TearDown() override {
    if (PeerAvailable()) {
      EXPECT_TRUE(HttpClient::JoinAll(HttpClient::kCallBoundMs + 5000));
    }
  }
};

TEST_F(HttpClientPeer, BodiesUpToTheBoundAreKeptWholeAndLargerOnesFail) {
  for (size_t n : {size_t{0}, size_t{10240}, size_t{10241}, size_t{100000}, HttpClient::kMaxBodyBytes}) {
    HttpClient client(TestUrl(L"body?size=" + std::to_wstring(n)));
    ASSERT_TRUE(client.Send(L"GET")) << n << " last error " << client.LastError();
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(client.BodyLength(), n);
    EXPECT_EQ(client.ResponseText().size(), n);
  }
  HttpClient big(TestUrl(L"body?size=" + std::to_wstring(HttpClient::kMaxBodyBytes + 1)));
  EXPECT_FALSE(big.Send(L"GET"));
  EXPECT_EQ(big.LastError(), HttpClient::kErrBodyTooLarge);
}

TEST_F(HttpClientPeer, VerbsGoUpperCaseAndUnknownOnesFailBeforeOpening) {
  HttpClient client(TestUrl(L"echo"));
  ASSERT_TRUE(client.Send(L"post"));
  EXPECT_NE(client.ResponseText().find(L"\"method\": \"POST\""), std::wstring::npos);
  HttpClient patch(TestUrl(L"echo"));
  EXPECT_FALSE(patch.Send(L"PATCH"));
  EXPECT_EQ(patch.LastError(), HttpClient::kErrBadVerb);
  HttpClient empty(L"");
  EXPECT_FALSE(empty.Send(L"GET"));
  EXPECT_EQ(empty.LastError(), HttpClient::kErrEmptyUrl);
  EXPECT_TRUE(PeerRequestsTo("/test/echo").size() == 1u);
}

TEST_F(HttpClientPeer, CutOffHtmlToAGetIsTriedThreeTimesButAcceptedForAPost) {
  HttpClient get(TestUrl(L"html-open"));
  EXPECT_FALSE(get.Send(L"GET"));
  EXPECT_EQ(get.LastError(), HttpClient::kErrCutOffHtml);
  EXPECT_EQ(PeerRequestsTo("/test/html-open").size(), 3u);
  HttpClient post(TestUrl(L"html-open"));
  EXPECT_TRUE(post.Send(L"POST"));
  HttpClient whole(TestUrl(L"html-whole"));
  EXPECT_TRUE(whole.Send(L"GET"));
}

TEST_F(HttpClientPeer, HeadersAndBodyGoOnceOnEveryAttempt) {
  HttpClient client(TestUrl(L"echo?html=open"));
  client.SetRequestHeaders(L"Accept: */*\r\nContent-Length: 3\r\n");
  client.SetBody("abc", 3);
  EXPECT_FALSE(client.Send(L"GET"));  // three attempts: the reply looks cut off
  EXPECT_EQ(client.LastError(), HttpClient::kErrCutOffHtml) << "first error " << client.FirstError();
  const auto seen = PeerRequestsTo("/test/echo?html=open");
  ASSERT_EQ(seen.size(), 3u);
  for (const Json::Value& r : seen) {
    int lengths = 0, accepts = 0;
    for (const Json::Value& h : r["headers"]) {
      lengths += _stricmp(h[0].asCString(), "Content-Length") == 0;
      accepts += _stricmp(h[0].asCString(), "Accept") == 0;
      if (_stricmp(h[0].asCString(), "Content-Length") == 0) {
        EXPECT_EQ(h[1].asString(), "3");
      }
    }
    EXPECT_EQ(lengths, 1);
    EXPECT_EQ(accepts, 1);
    EXPECT_EQ(r["body"].asString(), "abc");
  }
}

TEST_F(HttpClientPeer, CharsetOfTheReplyChoosesTheDecoding) {
  const struct {
    const wchar_t* page;
    std::wstring text;
  } cases[] = {
      {L"text?charset=UTF-8", L"K\u00f6ln"},
      {L"text?charset=utf-8", L"K\u00f6ln"},
      {L"text", cl::AnsiToWide("K\xC3\xB6ln")},  // no charset: the ANSI code page
      {L"text?charset=iso-8859-1", cl::AnsiToWide("K\xC3\xB6ln")},
  };
  for (const auto& c : cases) {
    HttpClient client(TestUrl(c.page));
    ASSERT_TRUE(client.Send(L"GET"));
    EXPECT_EQ(client.ResponseText(), c.text) << cl::WideToUtf8(c.page);
  }
}

TEST_F(HttpClientPeer, EveryCertificateFailureSendsNothing) {
  for (const char* cert : {"expired", "other-name", "unknown-ca"}) {
    PeerCommand("reset");
    Json::Value c;
    c["cmd"] = "cert";
    c["which"] = cert;
    PeerCommand(c);
    HttpClient client(TestUrl(L"echo"));
    EXPECT_FALSE(client.Send(L"POST")) << cert;
    EXPECT_NE(client.LastError(), 0) << cert;
    // The handshake ends, then the client finds the certificate wanting and
    // closes the connection before it sends anything.
    const Json::Value log = PeerCommand("log");
    EXPECT_EQ(log["requests"].size(), 0u) << cert;
    EXPECT_GE(log["connections"].asInt(), 1) << cert;
    printf("certificate %s: first error %d, last error %d\n", cert, client.FirstError(),
           client.LastError());
  }
  PeerCommand("reset");
}

TEST_F(HttpClientPeer, CancelEndsTheExchangeInProgressAndItsThreadIsJoined) {
  HttpClient client(TestUrl(L"hold?seconds=40"));
  client.SetDeadlineMs(60000);
  bool ok = true;
  std::thread sender([&] { ok = client.Send(L"GET"); });
  ASSERT_TRUE(WaitUntil([] { return PeerRequestsTo("/test/hold?seconds=40").size() == 1; }, 10000));
  EXPECT_EQ(HttpClient::ExchangesInFlight(), 1u);
  const DWORD t0 = GetTickCount();
  HttpClient::CancelAll();
  sender.join();
  const DWORD sendMs = GetTickCount() - t0;
  EXPECT_FALSE(ok);
  EXPECT_EQ(client.LastError(), HttpClient::kErrCancelled);
  EXPECT_LT(sendMs, 3000u);
  // Its thread ends with its closed handles, or where those do not end a
  // call, at the call's own time-out.
  EXPECT_TRUE(HttpClient::JoinAll(HttpClient::kCallBoundMs + 5000));
  printf("Send returned %lu ms after the cancel, its thread joined %lu ms after it\n",
         static_cast<unsigned long>(sendMs), static_cast<unsigned long>(GetTickCount() - t0));
  EXPECT_EQ(HttpClient::ExchangesInFlight(), 0u);
  EXPECT_EQ(PeerRequestsTo("/test/hold?seconds=40").size(), 1u);
}

TEST_F(HttpClientPeer, WhileNewExchangesAreRefusedASendFailsBeforeConnecting) {
  HttpClient::RefuseNew(true);
  HttpClient refused(TestUrl(L"echo"));
  EXPECT_FALSE(refused.Send(L"GET"));
  EXPECT_EQ(refused.LastError(), HttpClient::kErrCancelled);
  HttpClient::RefuseNew(false);
  EXPECT_EQ(PeerCommand("log")["connections"].asInt(), 0);
  HttpClient later(TestUrl(L"echo"));
  EXPECT_TRUE(later.Send(L"GET"));
}

TEST_F(HttpClientPeer, NoCallWaitsPastItsBoundWhateverTheDeadline) {
  // A reply held back longer than a call may wait: each of the three
  // attempts gives up at its bound, well before the minute's deadline.
  HttpClient client(TestUrl(L"hold?seconds=40"));
  client.SetDeadlineMs(60000);
  const DWORD t0 = GetTickCount();
  EXPECT_FALSE(client.Send(L"GET"));
  const DWORD elapsed = GetTickCount() - t0;
  EXPECT_LT(elapsed, HttpClient::kAttempts * HttpClient::kCallBoundMs + 8000);
  EXPECT_NE(client.LastError(), 0);
  printf("three held attempts failed after %lu ms\n", static_cast<unsigned long>(elapsed));
}

}  // namespace
