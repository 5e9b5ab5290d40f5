// Proxy discovery for backend requests: no proxy (mode 0), the interactive
// user's Internet settings with automatic discovery and configuration
// script (mode 1), or the address, port and credentials of the settings
// (mode 2). A found proxy is tried with a real request, which also decides
// between Basic and NTLM authentication. The last configuration found is
// kept in the registry ("CloudProxyLast*").
//
// One object per backend request, used on one thread.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "foundation/proxy/ProxyInfo.h"

// Bound of each step of the test request and of the script evaluation.
constexpr int kProxyTestTimeoutMs = 5000;
// Longest test-reply body read (and dropped).
constexpr DWORD kProxyTestMaxBodyBytes = 1024 * 1024;

struct ParsedProxyList {
  std::string host;  // ANSI code page
  int port = 0;
  bool usable = false;
};

// The entry for the scheme ("https=" / "http=", exact case) or the whole
// list when it names no scheme; host and port split at ":".
ParsedProxyList ParseProxyListText(bool useHttps, const std::wstring& list);

// After a 401/407 to the test request: Basic when the schemes could be read
// and NTLM is not among them, else NTLM (tried again).
int ProxySchemeForChallenge(bool schemesRead, DWORD supportedSchemes);
// After the NTLM retries: Basic when the last status was still 407.
int ProxySchemeAfterNtlmRetries(int lastStatus);

class CProxySetting {
 public:
  CProxySetting();
  virtual ~CProxySetting();
  CProxySetting(const CProxySetting&) = delete;
  CProxySetting& operator=(const CProxySetting&) = delete;

  // 1 when the request may go out (mode 0, or a usable proxy copied into
  // info); 0 when none was found or info is null.
  int GetProxyInfo(ProxyInfo* info);
  // -1 mode 0; -2 manual mode and the test passed; 0 automatic mode and the
  // test passed; else the system error of the failed test.
  int AutoProxy(int useHttps, const std::wstring& host, const std::wstring& path);
  // Non-zero when the test passed or was not needed; *error := system error.
  int AdjustHttpProxyScheme(int useHttps, const std::wstring& host, const std::wstring& path,
                            DWORD* error);
  BOOL SetHttpProxyCredential(HINTERNET request);

  void Reset();
  void ParseProxyList(int useHttps, const std::wstring& list);

  int accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
  std::wstring proxyList;
  std::wstring bypass;
  bool usable = false;
  std::string host;
  int port = 0;
  bool hasCredential = false;
  // Kept wide: a user or password outside the ANSI code page must reach the
  // proxy as typed.
  std::wstring user;
  std::wstring password;
  std::wstring pacUrl;
  int authScheme = WINHTTP_AUTH_SCHEME_BASIC;
  int autoDetect = 0;

 private:
  bool ReadInternetSettings();
  void StoreLastConfig();
  void ReadCredentials();
  // The URL handed to a configuration script: the request's own, as sent.
  static std::wstring ScriptTargetUrl(int useHttps, const std::wstring& host,
                                      const std::wstring& path);
  void EvaluateAutoProxy(int useHttps, const std::wstring& host, const std::wstring& path);
  HINTERNET OpenTestRequest(HINTERNET connection, int useHttps, const std::wstring& path);
  BOOL SendTest(HINTERNET request, int* status);
};
