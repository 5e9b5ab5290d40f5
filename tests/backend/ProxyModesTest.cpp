// Proxy discovery as the worker uses it: modes 0, 1 (Internet settings with
// a PAC file) and 2 (manual) reach the backend peer through the proxy they
// name; a proxy that offers only Basic is tested with Basic, and handed
// over with it when the test fails.
#include <gtest/gtest.h>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "backend/BEServiceUtil.h"
#include "backend/PeerSupport.h"
#include "backend/TestLog.h"
#include "classlib/Str.h"
#include "foundation/proxy/ProxySetting.h"
#include "foundation/registry/Registry.h"
#include "foundation/settings/FrameUtility.h"

namespace {

const wchar_t kConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The Internet settings' connection blob: flags 1 direct, 2 proxy, 4 script
// address, 8 automatic discovery.
void SetInternetSettings(DWORD flags, const std::string& proxy, const std::string& bypass,
                         const std::string& script) {
  std::string blob;
  auto dword = [&](DWORD v) { blob.append(reinterpret_cast<const char*>(&v), 4); };
  auto text = [&](const std::string& t) {
    dword(static_cast<DWORD>(t.size()));
    blob += t;
  };
  dword(0x46);
  dword(1);
  dword(flags);
  text(proxy);
  text(bypass);
  text(script);
  blob.append(32, '\0');
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY,
                 reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()));
  RegCloseKey(key);
}

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

// CONNECTs to the backend host that a proxy of the run saw.
size_t BackendConnects(const char* which) {
  Json::Value c;
  c["cmd"] = "proxy-log";
  c["which"] = which;
  size_t n = 0;
  const Json::Value answer = PeerCommand(c);
  EXPECT_TRUE(answer.isMember("requests"));
  for (const Json::Value& r : answer["requests"]) {
    n += r["method"].asString() == "CONNECT" &&
         r["target"].asString() == cl::WideToUtf8(kBackendHost) + ":443";
  }
  return n;
}

std::wstring ProductString(const wchar_t* name) {
  CRegistry reg;
  reg.OpenKey(kProductKey, FALSE);
  return reg.ReadString(name, L"<none>");
}

class ProxyModes : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PEER();
    PeerCommand("reset");
    BuildBackendUserAgent();
    CFrameUtility::SetProxySetting(L"", 80, L"", L"");
    SetInternetSettings(1, "", "", "");
  }
  void TearDown() override {
    if (!PeerAvailable()) return;
    CFrameUtility::SetProxyMode(0);
    CFrameUtility::SetProxySetting(L"", 80, L"", L"");
    SetInternetSettings(1, "", "", "");
  }

  // One lookup run through the worker's steps; its status.
  static int Lookup() {
    Json::Value t;
    t["cmd"] = "token";
    t["id"] = "555";
    t["text"] = R"({"name":"Rx","port":47000,"code":"C","interfaces":[]})";
    PeerCommand(t);
    BEOPOperation* r = MakeLookupRecord(L"555");
    r->opInWork = r->op;
    RunBEOPOperation(r);
    const int status = r->para.status;
    const bool gotToken = !r->para.serviceTokenInfo.desc.empty();
    delete r;
    return gotToken ? status : -1;
  }

  static std::wstring NamedProxy() { return cl::AnsiToWide(Env("TESS_NAMED_PROXY")); }
};

TEST_F(ProxyModes, ModeZeroLeavesTheInfoAloneAndGoesTheDefaultWay) {
  CFrameUtility::SetProxyMode(0);
  ProxyInfo info;
  info.targetUrl = BackendBaseUrl() + L"v3/";
  info.proxy = L"untouched";
  CProxySetting setting;
  EXPECT_EQ(setting.GetProxyInfo(&info), 1);
  EXPECT_EQ(info.proxyMode, 0);
  EXPECT_EQ(info.proxy, L"untouched");
  EXPECT_EQ(setting.GetProxyInfo(nullptr), 0);

  EXPECT_EQ(Lookup(), 0);
  EXPECT_EQ(BackendConnects("env"), 1u);
  EXPECT_EQ(BackendConnects("named"), 0u);
  ExpectNoViolations();
}

TEST_F(ProxyModes, ManualModeGoesThroughTheSettingsProxyAndKeepsWideCredentials) {
  const std::wstring named = NamedProxy();
  const size_t colon = named.find(L':');
  CFrameUtility::SetProxySetting(named.substr(0, colon), _wtoi(named.c_str() + colon + 1), L"",
                                 L"");
  CFrameUtility::SetProxyMode(2);
  EXPECT_EQ(Lookup(), 0);
  // The proxy's test request and the lookup.
  EXPECT_EQ(BackendConnects("named"), 2u);
  EXPECT_EQ(BackendConnects("env"), 0u);
  EXPECT_EQ(ProductString(L"CloudProxyLastProxy"), named);
  ExpectNoViolations();

  // A user and password outside the ANSI code page arrive as typed.
  const std::wstring user = L"\u043f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u044c";
  const std::wstring password = L"\u043f\u0430\u0440\u043e\u043b\u044c\u2603";
  CFrameUtility::SetProxySetting(named.substr(0, colon), _wtoi(named.c_str() + colon + 1), user,
                                 password);
  ProxyInfo info;
  info.targetUrl = BackendBaseUrl() + L"v3/";
  CProxySetting setting;
  ASSERT_EQ(setting.GetProxyInfo(&info), 1);
  EXPECT_EQ(info.proxy, named);
  EXPECT_EQ(info.user, user);
  EXPECT_EQ(info.password, password);
  EXPECT_EQ(info.authScheme, WINHTTP_AUTH_SCHEME_BASIC);
}

TEST_F(ProxyModes, AutomaticModeRunsThePacWithTheTargetAsSent) {
  SetInternetSettings(1 | 4, "", "", Env("TESS_PAC_URL"));
  CFrameUtility::SetProxyMode(1);
  EXPECT_EQ(Lookup(), 0);
  // The PAC names the proxy only for the host in the letter case it has;
  // the proxy's test request and the lookup go through it.
  EXPECT_EQ(BackendConnects("named"), 2u);
  EXPECT_EQ(BackendConnects("env"), 0u);
  EXPECT_GE(PeerCommand("pac-fetches")["fetches"].asInt(), 1);
  EXPECT_EQ(ProductString(L"CloudProxyLastPAC"), cl::AnsiToWide(Env("TESS_PAC_URL")));
  ExpectNoViolations();
}

TEST_F(ProxyModes, ADirectAnswerOfThePacKeepsTheStaticProxy) {
  SetInternetSettings(2 | 4, "p:3128", "", Env("TESS_PAC_URL"));
  CFrameUtility::SetProxyMode(1);
  ProxyInfo info;
  info.targetUrl = L"https://elsewhere.invalid/api/";  // the PAC answers DIRECT for it
  CProxySetting setting;
  setting.GetProxyInfo(&info);
  EXPECT_EQ(setting.proxyList, L"p:3128");
  EXPECT_EQ(setting.host, "p");
  EXPECT_EQ(setting.port, 3128);
  EXPECT_EQ(info.proxy, L"p:3128");  // handed over though its test failed
  EXPECT_EQ(ProductString(L"CloudProxyLastProxy"), L"p:3128");
}

TEST_F(ProxyModes, ProxyAnswering407WithBasicGetsBasic) {
  // A proxy that offers only Basic: with the settings' credentials the test
  // goes through; with credentials it refuses, the test fails once, without
  // the NTLM attempts, and the proxy is handed over all the same, with Basic.
  const std::wstring named = NamedProxy();
  const size_t colon = named.find(L':');
  const struct {
    const char* name;
    const wchar_t* password;
    bool passes;
  } cases[] = {
      {"the settings' credentials", L"proxy-pass", true},
      {"credentials the proxy refuses", L"not-the-password", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeerCommand("reset");
    CFrameUtility::SetProxySetting(named.substr(0, colon), _wtoi(named.c_str() + colon + 1),
                                   L"proxy-user", c.password);
    CFrameUtility::SetProxyMode(2);
    Json::Value auth;
    auth["cmd"] = "proxy-auth";
    auth["which"] = "named";
    auth["basic"] = true;
    auth["user"] = "proxy-user";
    auth["password"] = "proxy-pass";
    PeerCommand(auth);

    // Over plain HTTP: a 407 to CONNECT is not answered with credentials here.
    CProxySetting setting;
    int r = 0;
    const std::string log =
        LoggedBy([&] { r = setting.AutoProxy(0, kBackendHost, L"/api/tarsel/v2/"); });
    Json::Value seen;
    seen["cmd"] = "proxy-log";
    seen["which"] = "named";
    const Json::Value requests = PeerCommand(seen)["requests"];
    int challenged = 0, accepted = 0;
    for (const Json::Value& q : requests) {
      challenged += q["status"].isInt() && q["status"].asInt() == 407;
      accepted += q["status"].isInt() && q["status"].asInt() == 200;
    }
    EXPECT_GE(challenged, 1);
    EXPECT_EQ(setting.authScheme, WINHTTP_AUTH_SCHEME_BASIC);
    EXPECT_EQ(log.find("retry Cnt"), std::string::npos) << "NTLM tried on a Basic proxy:\n" << log;
    if (c.passes) {
      EXPECT_EQ(accepted, 1);
      EXPECT_EQ(r, -2);
      continue;
    }
    EXPECT_EQ(accepted, 0);
    EXPECT_NE(log.find("Test Proxy (1:407) scheme (0x00000001)"), std::string::npos) << log;
    EXPECT_NE(log.find("Adjust Proxy Scheme fail("), std::string::npos) << log;
    EXPECT_NE(r, -2) << "a failed test reported as passed";
    EXPECT_NE(r, 0) << "a failed test reported without its error";

    ProxyInfo info;
    info.useHttps = 0;
    info.targetUrl = L"http://" + std::wstring(kBackendHost) + L"/api/tarsel/v2/";
    info.authScheme = WINHTTP_AUTH_SCHEME_NTLM;
    CProxySetting handover;
    EXPECT_EQ(handover.GetProxyInfo(&info), 1);
    EXPECT_EQ(info.proxy, named);
    EXPECT_EQ(info.user, L"proxy-user");
    EXPECT_EQ(info.authScheme, WINHTTP_AUTH_SCHEME_BASIC);
  }
}

}  // namespace
