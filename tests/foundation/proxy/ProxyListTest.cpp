// Proxy lists and the authentication scheme chosen after a challenge.
#include <gtest/gtest.h>

#include "foundation/proxy/ProxySetting.h"

namespace {

TEST(ProxyList, EntryForTheSchemeHostAndPort) {
  const struct {
    const wchar_t* list;
    bool https;
    const char* host;
    int port;
    bool usable;
  } cases[] = {
      {L"http=a:8080;https=b:8443", true, "b", 8443, true},
      {L"http=a:8080;https=b:8443", false, "a", 8080, true},
      {L"https=b:8443;http=a:8080", false, "a", 8080, true},
      {L"ftp=c:21", true, "", 0, false},
      {L"http=a:8080", true, "", 0, false},  // names schemes, not this one
      {L"p:3128", true, "p", 3128, true},
      {L"p", true, "p", 0, false},           // a host without port
      {L":80", true, "80", 0, false},        // an empty manual address
      {L"a:8080;b:9090", true, "a", 8080, true},
      {L"a:0", true, "a", 0, false},
      {L"a:65535", true, "a", 65535, false},
      {L"a:70000", true, "a", 70000, true},  // compared as 16 bits: 4464
      {L"a:x80", true, "a", 0, false},
      {L"", true, "", 0, false},
  };
  for (const auto& c : cases) {
    const ParsedProxyList p = ParseProxyListText(c.https, c.list);
    EXPECT_EQ(p.host, c.host) << c.list;
    EXPECT_EQ(p.port, c.port) << c.list;
    EXPECT_EQ(p.usable, c.usable) << c.list;
  }
}

TEST(ProxyScheme, BasicUnlessNtlmIsOfferedOrTheOfferCannotBeRead) {
  const struct {
    bool read;
    DWORD offered;
    int scheme;
  } cases[] = {
      {true, WINHTTP_AUTH_SCHEME_BASIC, WINHTTP_AUTH_SCHEME_BASIC},
      {true, WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_BASIC},
      {true, WINHTTP_AUTH_SCHEME_BASIC | WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_NTLM},
      {true, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_NTLM},
      {false, 0, WINHTTP_AUTH_SCHEME_NTLM},
  };
  for (const auto& c : cases) EXPECT_EQ(ProxySchemeForChallenge(c.read, c.offered), c.scheme);
  // NTLM retried twice and still 407: back to Basic.
  EXPECT_EQ(ProxySchemeAfterNtlmRetries(407), WINHTTP_AUTH_SCHEME_BASIC);
  EXPECT_EQ(ProxySchemeAfterNtlmRetries(200), WINHTTP_AUTH_SCHEME_NTLM);
}

}  // namespace
