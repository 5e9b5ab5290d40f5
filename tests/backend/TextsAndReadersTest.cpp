// The backend client's text rules and reply readers, as tables.
#include <gtest/gtest.h>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "backend/BEOPWorker.h"
#include "backend/BEServiceUtil.h"
#include "backend/HttpClient.h"
#include "backend/TestLog.h"
#include "classlib/Str.h"

namespace {

Json::Value ParseJson(const std::string& text) {
  JsonDocument doc;
  EXPECT_TRUE(doc.Parse(text)) << text;
  return doc.GetRoot();
}

TEST(UrlEncode, ReservedCharactersOnlyAreEscaped) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a b/c", "a%20b%2Fc"},
      {"/!*'();:@&=+$,?%#[] ", "%2F%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%3F%25%23%5B%5D%20"},
      {"AZaz09-._~\"<>\\^`{|}", "AZaz09-._~\"<>\\^`{|}"},
      {"K\xC3\xB6ln", "K\xC3\xB6ln"},  // non-ASCII goes out as its raw UTF-8 bytes
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.in), c.out) << c.in;
}

TEST(PathSegmentEncode, EverythingOutsideUnreservedAsciiIsEscaped) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"123456", "123456"},
      {"AZaz09-._~", "AZaz09-._~"},
      {"a/b?c#d", "a%2Fb%3Fc%23d"},
      {"K\xC3\xB6ln", "K%C3%B6ln"},
      {"\"<>\\ %", "%22%3C%3E%5C%20%25"},
  };
  for (const auto& c : cases) EXPECT_EQ(PathSegmentEncode(c.in), c.out) << c.in;
}

TEST(HttpLangHeader, KeepsOnlyTheThreeAsianTags) {
  const struct {
    const wchar_t* tag;
    const wchar_t* header;
  } cases[] = {
      {L"de-DE", L"Accept-Language: en-US"}, {L"zh-TW", L"Accept-Language: zh-TW"},
      {L"zh-CN", L"Accept-Language: zh-CN"}, {L"ja-JP", L"Accept-Language: ja-JP"},
      {L"zh-HK", L"Accept-Language: en-US"}, {L"en-GB", L"Accept-Language: en-US"},
      {L"", L"Accept-Language: en-US"},
  };
  for (const auto& c : cases) EXPECT_EQ(HttpLangHeaderForTag(c.tag), c.header);
  EXPECT_EQ(GetUILanguageTag().size(), 5u) << cl::WideToUtf8(GetUILanguageTag());
}

TEST(BackendUserAgent, VersionCutTo42CharactersAndEmptyVersionKeepsTheAgent) {
  const std::wstring long50(50, L'9');
  const struct {
    std::wstring version, suffix, agent;
  } cases[] = {
      {L"1.0.1.10", L" ORVANTA", L"TWX/1.0.1.10 kelvora2 win ORVANTA"},
      {L"1.0.1.10", L"", L"TWX/1.0.1.10 kelvora2 win"},
      {long50, L"", L"TWX/" + std::wstring(42, L'9') + L" kelvora2 win"},
      {L"", L" ORVANTA", L"TWX/" + std::wstring(42, L'9') + L" kelvora2 win"},  // unchanged
  };
  for (const auto& c : cases) {
    FormatBackendUserAgent(c.version, c.suffix);
    EXPECT_EQ(BackendUserAgent(), c.agent) << cl::WideToUtf8(c.version);
  }
  BuildBackendUserAgent();
  EXPECT_EQ(BackendUserAgent().rfind(L"TWX/1.0.1.10 kelvora2 win", 0), 0u);
}

TEST(RegexFind, BracesCaptureAndMatchesCollectWithoutRepeats) {
  const struct {
    const wchar_t* pattern;
    std::wstring text;
    bool result;
    std::vector<std::wstring> found;
  } cases[] = {
      {L"{a}", L"aaa", true, {L"a"}},
      {L"{[a-z]}", L"AaB", true, {L"A", L"B"}},  // letter case ignored, also for repeats
      {L"charset={[A-Za-z0-9\\-_]+}", L"Content-Type: text/xml; charset=UTF-8\r\n", true,
       {L"UTF-8"}},
      {L"charset={[A-Za-z0-9\\-_]+}", L"Content-Type: text/xml\r\n", true, {}},
      {L"{<html>}", L"<HTML><body>", true, {L"<HTML>"}},
      {L"(ab)+{c}", L"ababc abc c", true, {L"c"}},
      {L"{x}(y)", L"xy xz", true, {L"x"}},
      {L"", L"text", false, {}},
      {L"{a}", L"", false, {}},
      {L"{[a", L"abc", false, {}},
      {L"{a", L"abc", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> found{L"stale"};
    EXPECT_EQ(RegexFind(c.pattern, c.text, found), c.result) << cl::WideToUtf8(c.pattern);
    EXPECT_EQ(found, c.found) << cl::WideToUtf8(c.pattern);
  }
}

TEST(RegexFind, LongHostileRunDoesNotExhaustTheStack) {
  std::wstring text = L"charset=" + std::wstring(1 << 20, L'A');
  std::vector<std::wstring> found;
  ASSERT_TRUE(RegexFind(L"charset={[A-Za-z0-9\\-_]+}", text, found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].size(), size_t{1} << 20);
}

TEST(Base64EncodeAlloc, PaddedStandardAlphabet) {
  const struct {
    std::string in, out;
  } cases[] = {{"abc", "YWJj"}, {"ab", "YWI="}, {"a", "YQ=="}, {"", ""}, {"\xff\xfe", "//4="}};
  for (const auto& c : cases) {
    auto s = Base64EncodeAlloc(c.in.data(), c.in.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(std::string(s.get()), c.out);
  }
}

TEST(GetHttpAuthHeader, LongCredentialsAreNeverCut) {
  const std::string user(200, 'u');
  const std::wstring h = GetHttpAuthHeader(user, "p");
  auto b64 = Base64EncodeAlloc((user + ":p").data(), user.size() + 2);
  EXPECT_EQ(h, L"Authorization: Basic " + cl::AnsiToWide(b64.get()));
}

TEST(JsonResultRule, ErrorOnlyWithMessagesAndNoResultBelow30000) {
  const struct {
    const char* json;
    bool error;
    const wchar_t* text;
  } cases[] = {
      {R"({"result":0,"messages":["m"]})", false, L""},
      {R"({"result":30001,"messages":["bad id"]})", true, L"bad id"},
      {R"({"messages":["no result"]})", true, L"no result"},
      {R"({"result":null,"messages":["null"]})", true, L"null"},
      {R"({"result":40000,"messages":[]})", false, L""},
      {R"({"result":29999,"messages":["x"]})", false, L""},
      {R"({"result":"0","messages":["string result"]})", true, L"string result"},
      {R"({"result":30000,"messages":[7]})", true, L""},
      {R"({"result":30000,"messages":"not a list"})", false, L""},
      {R"({"result":30000,"messages":["K\u00f6ln"]})", true, L"K\u00f6ln"},
      {R"([1,2])", false, L""},
  };
  for (const auto& c : cases) {
    std::wstring text;
    EXPECT_EQ(JsonReplyIsError(ParseJson(c.json), text), c.error) << c.json;
    EXPECT_EQ(text, c.text) << c.json;
  }
}

TEST(RelayReader, PortCutTo16BitsAndWrongTypesRejected) {
  const struct {
    const char* json;
    bool ok;
    uint16_t port;
  } cases[] = {
      {R"({"result":0,"data":{"relay_info":{"ip_addr":"1.2.3.4","port":443,"fqdn":"r","relay_key_smc":"k"}}})",
       true, 443},
      {R"({"result":0,"data":{"relay_info":{"ip_addr":"1.2.3.4","port":65537,"fqdn":"r","relay_key_smc":"k"}}})",
       true, 1},
      {R"({"result":0,"data":{"relay_info":{"ip_addr":"1.2.3.4","port":70000,"fqdn":"r","relay_key_smc":"k"}}})",
       true, 4464},
      {R"({"result":0,"data":{"relay_info":{"ip_addr":"1.2.3.4","fqdn":"r","relay_key_smc":"k"}}})",
       false, 0},
      {R"({"result":0,"data":{"relay_info":{"ip_addr":1,"port":"x","fqdn":[],"relay_key_smc":{}}}})",
       false, 0},
      {R"({"result":0,"data":{"relay_info":{"ip_addr":"a","port":-1,"fqdn":"r","relay_key_smc":"k"}}})",
       false, 0},
      {R"({"result":0,"data":{}})", false, 0},
      {R"({"result":30001,"messages":["m"],"data":{"relay_info":{"ip_addr":"a","port":1,"fqdn":"r","relay_key_smc":"k"}}})",
       false, 0},
  };
  for (const auto& c : cases) {
    RelayInfo info;
    std::wstring error;
    EXPECT_EQ(ParseJsonResponse_GetRelayInfo(ParseJson(c.json), info, error), c.ok) << c.json;
    if (c.ok) {
      EXPECT_EQ(info.port, c.port) << c.json;
    }
  }
}

TEST(ServiceTokenReader, CategoryAndAgentDecideAndWrongTypesNeverThrow) {
  const std::wstring usual = L"TWX/1.0.1.10 kelvora2 win ORVANTA";
  const std::wstring probe = L"TWX/1.0.1.10 kelvora2 win";
  const struct {
    const char* json;
    const std::wstring* agent;
    bool ok;
    const char* desc;
  } cases[] = {
      {R"({"result":0,"data":{"token":"1","category":"601","info":{"desc":"D"}}})", &usual, true, "D"},
      {R"({"result":0,"data":{"token":"1","category":"602","info":{"desc":"D"}}})", &usual, false, ""},
      {R"({"result":0,"data":{"token":"1","category":"602","info":{"desc":"D"}}})", &probe, true, "D"},
      {R"({"result":0,"data":{"token":"1","info":{"desc":"D"}}})", &probe, true, "D"},
      {R"({"result":0,"data":{"token":"1","category":"601","info":{"other":1}}})", &usual, true, ""},
      {R"({"result":0,"data":{"category":"601","info":{"desc":"D"}}})", &usual, false, ""},
      {R"({"result":0,"data":{"token":"1","category":"601"}})", &usual, false, ""},
      {R"({"result":0,"data":{"token":"1","category":"601","info":{}}})", &usual, false, ""},
      {R"({"result":"zero","messages":[42],"data":{"token":{"a":1},"category":601,"info":{"desc":7}}})",
       &probe, false, ""},
      {R"({"result":0,"data":{"token":{"a":1},"category":601,"info":{"desc":7}}})", &probe, true, ""},
      {R"({"result":0,"data":{"token":"1","category":"601","info":"flat"}})", &usual, true, ""},
  };
  for (const auto& c : cases) {
    ServiceTokenInfo info;
    std::wstring error;
    EXPECT_EQ(ReadServiceTokenInfo(ParseJson(c.json), *c.agent, info, error), c.ok) << c.json;
    EXPECT_EQ(info.desc, c.desc) << c.json;
  }
}

// BEServiceUtil's own readers on replies set by the test.
class ReplyParse : public ::testing::Test {
 protected:
  bool Parse(int op, int status, const std::wstring& reply) {
    util_.BeginOp(op);
    util_.SetRequest(&request_);
    util_.SetReply(status, reply);
    return util_.ParseResponse();
  }
  BEServiceUtil util_;
  BEServiceRequest request_;
};

TEST_F(ReplyParse, CreateReplyGivesTheTokenAndAMissingAttributeIsAnError) {
  EXPECT_TRUE(Parse(BESOP_CREATEMT, 200, L"<service token=\"MT-7\"/>"));
  EXPECT_EQ(request_.meetingToken, "MT-7");
  std::string log = LoggedBy([&] { EXPECT_FALSE(Parse(BESOP_CREATEMT, 200, L"<service/>")); });
  EXPECT_NE(log.find("Service token is empty!"), std::string::npos) << log;
  log = LoggedBy([&] { EXPECT_FALSE(Parse(BESOP_CREATEMT, 200, L"<other token=\"x\"/>")); });
  EXPECT_NE(log.find("No service info in xml"), std::string::npos) << log;
}

TEST_F(ReplyParse, QueryReplyGivesTheDuration) {
  EXPECT_TRUE(Parse(BESOP_QUERYMT, 200, L"<service><duration>30</duration></service>"));
  EXPECT_EQ(request_.tokenDuration, L"30");
  EXPECT_FALSE(Parse(BESOP_QUERYMT, 200, L"<service><duration></duration></service>"));
}

TEST_F(ReplyParse, NeitherXmlNorJsonLogsBothLoadErrorsOnly) {
  const std::string log = LoggedBy([&] { EXPECT_FALSE(Parse(BESOP_GETSERVICETOKENINFO, 200, L"garbage")); });
  EXPECT_NE(log.find("Invalid http xml response: 14"), std::string::npos) << log;
  EXPECT_NE(log.find("Invalid http json response: 14"), std::string::npos) << log;
  EXPECT_EQ(log.find("Parse http xml response failed"), std::string::npos) << log;
}

TEST_F(ReplyParse, JsonErrorReplyFillsTheErrorText) {
  EXPECT_FALSE(Parse(BESOP_GETSERVICETOKENINFO, 200,
                     L"{\"result\":30001,\"messages\":[\"bad id\"],\"data\":{}}"));
  EXPECT_EQ(request_.errorText, L"bad id");
}

TEST_F(ReplyParse, NeedParseFollowsOpAndStatus) {
  const struct {
    int op, status;
    bool need;
  } cases[] = {{0, 200, false},  {9, 200, true},   {9, 204, false}, {10, 200, false},
               {11, 200, true},  {11, 500, false}, {12, 200, false}, {13, 500, true},
               {14, 404, true},  {15, 200, false}};
  for (const auto& c : cases) {
    util_.BeginOp(c.op);
    util_.SetReply(c.status, L"x");
    EXPECT_EQ(util_.NeedParse(), c.need) << c.op << "/" << c.status;
  }
}

// What each reply parser writes into the run's request, one op at a time;
// the last op is refused by the backend.
int ResultsOfEveryKind(BEServiceRequest* r, int op) {
  switch (op) {
    case 11: r->tokenDuration = L"30"; return 0;
    case 13: r->relayInfo = RelayInfo{"10.1.2.3", 4464, "relay.tessarine.invalid", "key-1"}; return 0;
    case 14:
      r->serviceTokenInfo.desc = "TOKEN";
      r->errorText = L"refused";
      return 30001;
    default: return 0;
  }
}

TEST(Records, AWorkerRunHandsEveryResultBackToTheRecord) {
  BEOPOperation r;
  r.op = r.opInWork = BEOP_OP_QUERYMT | BEOP_OP_GETRELAYINFO | BEOP_OP_GETSERVICETOKENINFO;
  BEOPPara& p = r.para;
  p.user = L"u";
  p.password = L"p";
  p.machineId = L"m";
  p.meetingToken = L"MT-7";
  p.serviceToken = L"12 34";
  // Stale results of an earlier run: each must be replaced.
  p.sendFailed = 1;
  p.tokenDuration = L"stale";
  p.relayInfo = RelayInfo{"9.9.9.9", 1, "stale", "stale"};
  p.serviceTokenInfo = ServiceTokenInfo{"stale", "stale"};
  SetBEServiceExecuteForTest(&ResultsOfEveryKind);
  const int failingBit = RunBEOPOperation(&r);
  SetBEServiceExecuteForTest(nullptr);

  EXPECT_EQ(failingBit, BEOP_OP_GETSERVICETOKENINFO);
  EXPECT_EQ(p.status, 30001);
  EXPECT_EQ(p.errorText, L"refused");
  EXPECT_EQ(p.sendFailed, 0);
  EXPECT_EQ(p.meetingToken, L"MT-7");
  EXPECT_EQ(p.serviceToken, L"12 34");
  EXPECT_EQ(p.tokenDuration, L"30");
  EXPECT_EQ(p.relayInfo.ip_addr, "10.1.2.3");
  EXPECT_EQ(p.relayInfo.port, 4464);
  EXPECT_EQ(p.relayInfo.fqdn, "relay.tessarine.invalid");
  EXPECT_EQ(p.relayInfo.relay_key_smc, "key-1");
  EXPECT_EQ(p.serviceTokenInfo.info, "");
  EXPECT_EQ(p.serviceTokenInfo.desc, "TOKEN");

  BEServiceRequest request;
  EXPECT_EQ(CopyBEOPResults(nullptr, &p), 1);
  EXPECT_EQ(CopyBEOPResults(&request, nullptr), 1);
}

TEST(Names, SponsorsAndOperationWords) {
  const struct {
    int sponsor;
    const char* name;
  } sponsors[] = {{1, "BEOPMgr"},
                  {2, "MainFrame"},
                  {7, "SettingDlg_GeneralRenew"},
                  {8, "BEOP_DevInit"},
                  {12, "BEOP_CheckMirroringIDTimer"},
                  {13, "BEOP_GetRelayInfo"},
                  {0, "unhandled_sponsor"},
                  {3, "unhandled_sponsor"},
                  {10, "unhandled_sponsor"},
                  {14, "unhandled_sponsor"},
                  {-1, "unhandled_sponsor"}};
  for (const auto& c : sponsors) EXPECT_EQ(BEOPSponsorName(c.sponsor), c.name) << c.sponsor;
  // The meeting update's sponsor has a name of its own.
  EXPECT_NE(BEOPSponsorName(9), "unhandled_sponsor");
  EXPECT_FALSE(BEOPSponsorName(9).empty());

  // Lowest bit first; bits without a name add nothing, wherever they stand.
  const struct {
    int word;
    const char* names;
  } words[] = {{0x0001, " devinit"},
               {0x0200, " createmt"},
               {0x0400, " updatemt"},
               {0x0800, " querymt"},
               {0x1000, " deletemt"},
               {0x1E01, " devinit createmt updatemt querymt deletemt"},
               {0x1001, " devinit deletemt"},
               {0x6A00, " createmt querymt"},
               {0x7E01, " devinit createmt updatemt querymt deletemt"},
               {0x2000, ""},
               {0x4000, ""},
               {0x0002, ""},
               {0, ""}};
  for (const auto& c : words) EXPECT_EQ(BEOPOperationNames(c.word), c.names) << std::hex << c.word;

  const struct {
    int op;
    const char* name;
  } ops[] = {{0, "devinit"},
             {9, "create_mirroringid"},
             {10, "update_mirroringid"},
             {11, "query_mirroringid"},
             {12, "delete_mirroringid"},
             {13, "get_relayinfo"},
             {14, "get_service_token_info"},
             {1, "unhandled_command"},
             {3, "unhandled_command"},
             {8, "unhandled_command"},
             {15, "unhandled_command"},
             {-1, "unhandled_command"}};
  for (const auto& c : ops) EXPECT_EQ(std::string(BEServiceUtil::GetOpName(c.op)), c.name) << c.op;
}

}  // namespace
