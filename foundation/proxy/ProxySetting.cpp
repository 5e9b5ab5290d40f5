#include "foundation/proxy/ProxySetting.h"

#include <vector>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/registry/Registry.h"
#include "foundation/settings/FrameUtility.h"

namespace {

const wchar_t kProbeAgent[] = L"KvServer";

void CloseIf(HINTERNET h) {
  if (h) WinHttpCloseHandle(h);
}

}  // namespace

ParsedProxyList ParseProxyListText(bool useHttps, const std::wstring& list) {
  ParsedProxyList out;
  if (list.empty()) return out;
  std::wstring entry;
  const std::wstring key = useHttps ? L"https=" : L"http=";
  const size_t at = list.find(key);
  if (at != std::wstring::npos) {
    const size_t from = at + key.size();
    const size_t end = list.find(L';', from);
    entry = list.substr(from, end == std::wstring::npos ? std::wstring::npos : end - from);
  } else if (list.find(L'=') != std::wstring::npos) {
    return out;
  } else {
    entry = list;
  }
  // Tokens between ":" (empty ones skipped, as a tokenizer would).
  std::vector<std::wstring> parts;
  size_t i = 0;
  while (i < entry.size() && parts.size() < 2) {
    while (i < entry.size() && entry[i] == L':') ++i;
    if (i >= entry.size()) break;
    const size_t colon = entry.find(L':', i);
    parts.push_back(entry.substr(i, colon == std::wstring::npos ? std::wstring::npos : colon - i));
    i = colon == std::wstring::npos ? entry.size() : colon;
  }
  if (!parts.empty()) out.host = cl::WideToAnsi(parts[0]);
  if (parts.size() > 1) {
    long long v = 0;
    for (wchar_t c : parts[1]) {
      if (c < L'0' || c > L'9') break;
      v = v * 10 + (c - L'0');
      if (v > 0x7FFFFFFF) break;
    }
    out.port = static_cast<int>(v);
  }
  const unsigned short p16 = static_cast<unsigned short>(out.port);
  out.usable = !out.host.empty() && p16 != 0 && p16 != 0xFFFF;
  return out;
}

int ProxySchemeForChallenge(bool schemesRead, DWORD supportedSchemes) {
  if (schemesRead && !(supportedSchemes & WINHTTP_AUTH_SCHEME_NTLM))
    return WINHTTP_AUTH_SCHEME_BASIC;
  return WINHTTP_AUTH_SCHEME_NTLM;
}

int ProxySchemeAfterNtlmRetries(int lastStatus) {
  return lastStatus == 407 ? WINHTTP_AUTH_SCHEME_BASIC : WINHTTP_AUTH_SCHEME_NTLM;
}

CProxySetting::CProxySetting() { Reset(); }
CProxySetting::~CProxySetting() = default;

void CProxySetting::Reset() {
  accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
  authScheme = WINHTTP_AUTH_SCHEME_BASIC;
  autoDetect = 0;
  usable = false;
  port = 0;
  hasCredential = false;
  proxyList.clear();
  bypass.clear();
  host.clear();
  user.clear();
  password.clear();
  pacUrl.clear();
}

void CProxySetting::ParseProxyList(int useHttps, const std::wstring& list) {
  const ParsedProxyList p = ParseProxyListText(useHttps != 0, list);
  host = p.host;
  port = p.port;
  usable = p.usable;
}

void CProxySetting::StoreLastConfig() {
  CRegistry reg;
  if (!reg.OpenKey(kProductKey, TRUE)) return;
  reg.WriteString(L"CloudProxyLastPAC", pacUrl.c_str());
  reg.WriteString(L"CloudProxyLastProxy", proxyList.c_str());
  reg.WriteDword(L"CloudProxyLastAutoDetect", static_cast<DWORD>(autoDetect));
}

void CProxySetting::ReadCredentials() {
  std::wstring addr, u, p;
  int unusedPort = 0;
  CFrameUtility::GetProxySetting(addr, unusedPort, u, p);
  hasCredential = !u.empty() && !p.empty();
  if (hasCredential) {
    user = u;
    password = p;
  }
}

bool CProxySetting::ReadInternetSettings() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  BOOL ok;
  {
    CImpersonateUser asUser;
    ok = WinHttpGetIEProxyConfigForCurrentUser(&ie);
  }
  if (!ok) return false;
  autoDetect = ie.fAutoDetect ? 1 : 0;
  proxyList = ie.lpszProxy ? ie.lpszProxy : L"";
  pacUrl = ie.lpszAutoConfigUrl ? ie.lpszAutoConfigUrl : L"";
  bypass = ie.lpszProxyBypass ? ie.lpszProxyBypass : L"";
  if (ie.lpszProxy) GlobalFree(ie.lpszProxy);
  if (ie.lpszAutoConfigUrl) GlobalFree(ie.lpszAutoConfigUrl);
  if (ie.lpszProxyBypass) GlobalFree(ie.lpszProxyBypass);
  return true;
}

std::wstring CProxySetting::ScriptTargetUrl(int useHttps, const std::wstring& host,
                                            const std::wstring& path) {
  return (useHttps ? L"https://" : L"http://") + host + path;
}

void CProxySetting::EvaluateAutoProxy(int useHttps, const std::wstring& targetHost,
                                      const std::wstring& path) {
  HINTERNET session = WinHttpOpen(kProbeAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return;
  WinHttpSetTimeouts(session, kProxyTestTimeoutMs, kProxyTestTimeoutMs, kProxyTestTimeoutMs,
                     kProxyTestTimeoutMs);
  const std::wstring url = ScriptTargetUrl(useHttps, targetHost, path);
  WINHTTP_PROXY_INFO result{};
  bool found = false;
  if (autoDetect) {
    WINHTTP_AUTOPROXY_OPTIONS opts{};
    opts.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    opts.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    opts.fAutoLogonIfChallenged = TRUE;
    found = WinHttpGetProxyForUrl(session, url.c_str(), &opts, &result) != FALSE;
  }
  if (!found && !pacUrl.empty()) {
    WINHTTP_AUTOPROXY_OPTIONS opts{};
    opts.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    opts.lpszAutoConfigUrl = pacUrl.c_str();
    opts.fAutoLogonIfChallenged = TRUE;
    found = WinHttpGetProxyForUrl(session, url.c_str(), &opts, &result) != FALSE;
  }
  if (found) {
    accessType = static_cast<int>(result.dwAccessType);
    // A direct answer carries no proxy text: the list from the settings stays.
    if (result.lpszProxy && *result.lpszProxy) proxyList = result.lpszProxy;
    if (result.lpszProxyBypass && *result.lpszProxyBypass) bypass = result.lpszProxyBypass;
    if (!proxyList.empty()) ParseProxyList(useHttps, proxyList);
  }
  if (result.lpszProxy) GlobalFree(result.lpszProxy);
  if (result.lpszProxyBypass) GlobalFree(result.lpszProxyBypass);
  WinHttpCloseHandle(session);
}

int CProxySetting::AutoProxy(int useHttps, const std::wstring& targetHost,
                             const std::wstring& path) {
  ZtLogger& log = ZtLogger::Instance();
  Reset();
  const int mode = CFrameUtility::GetProxyMode();
  if (mode == 0) return -1;
  DWORD error = 0;
  if (mode == 2) {
    std::wstring addr, u, p;
    int proxyPort = 0;
    CFrameUtility::GetProxySetting(addr, proxyPort, u, p);
    proxyList = cl::FormatW(L"%s:%d", addr.c_str(), proxyPort);
    StoreLastConfig();
    ParseProxyList(useHttps, proxyList);
    ReadCredentials();
    if (AdjustHttpProxyScheme(useHttps, targetHost, path, &error)) return -2;
    log.Info("[%s] Adjust Proxy Scheme fail(%lu)", "CProxySetting::AutoProxy",
             static_cast<unsigned long>(error));
    return static_cast<int>(error);
  }
  if (ReadInternetSettings()) {
    StoreLastConfig();
    ParseProxyList(useHttps, proxyList);
  }
  ReadCredentials();
  EvaluateAutoProxy(useHttps, targetHost, path);
  if (AdjustHttpProxyScheme(useHttps, targetHost, path, &error)) return 0;
  log.Info("[%s] Adjust Proxy Scheme fail(%lu)", "CProxySetting::AutoProxy",
           static_cast<unsigned long>(error));
  return static_cast<int>(error);
}

int CProxySetting::GetProxyInfo(ProxyInfo* info) {
  ZtLogger& log = ZtLogger::Instance();
  if (!info) {
    log.Error("Bad parameter for GetProxyInfo.");
    return 0;
  }
  info->proxyMode = CFrameUtility::GetProxyMode();
  if (info->proxyMode == 0) return 1;
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (WinHttpCrackUrl(info->targetUrl.c_str(), 0, 0, &parts)) {
    const std::wstring targetHost(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    const int r = AutoProxy(info->useHttps, targetHost, path);
    log.Debug("Auto proxy result for %s: %d", cl::WideToUtf8(info->targetUrl).c_str(), r);
  }
  if (!usable) {
    log.Debug("No available proxy.");
    return 0;
  }
  info->proxy = proxyList;
  if (!bypass.empty()) info->bypass = bypass;
  if (hasCredential) {
    info->user = user;
    info->password = password;
    info->authScheme = authScheme;
  }
  return 1;
}

BOOL CProxySetting::SetHttpProxyCredential(HINTERNET request) {
  if (!usable || !hasCredential) return TRUE;
  ZtLogger& log = ZtLogger::Instance();
  DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
  BOOL r = WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy));
  log.Info("[%s] http autologon (%d:%lu)", "CProxySetting::SetHttpProxyCredential", r,
           static_cast<unsigned long>(GetLastError()));
  r = WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, static_cast<DWORD>(authScheme),
                            user.c_str(), password.c_str(), nullptr);
  log.Info("[%s] http set cred(%d:%lu)", "CProxySetting::SetHttpProxyCredential", r,
           static_cast<unsigned long>(GetLastError()));
  return r;
}

HINTERNET CProxySetting::OpenTestRequest(HINTERNET connection, int useHttps,
                                         const std::wstring& path) {
  HINTERNET request =
      WinHttpOpenRequest(connection, L"GET", path.c_str(), L"HTTP/1.1", WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES,
                         WINHTTP_FLAG_REFRESH | (useHttps ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return nullptr;
  DWORD ms = kProxyTestTimeoutMs;
  // Every phase bounded, name resolution too (0 would be no limit).
  if (!WinHttpSetTimeouts(request, kProxyTestTimeoutMs, kProxyTestTimeoutMs, kProxyTestTimeoutMs,
                          kProxyTestTimeoutMs) ||
      !WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &ms, sizeof(ms))) {
    WinHttpCloseHandle(request);
    return nullptr;
  }
  return request;
}

BOOL CProxySetting::SendTest(HINTERNET request, int* status) {
  *status = 0;
  if (!SetHttpProxyCredential(request)) return FALSE;
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0) ||
      !WinHttpReceiveResponse(request, nullptr))
    return FALSE;
  DWORD size = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  const BOOL r = WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE,
                                     WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                                     WINHTTP_NO_HEADER_INDEX);
  *status = _wtoi(text.data());
  // The body is read and dropped, within a bound.
  DWORD total = 0, available = 0;
  std::vector<char> sink(8192);
  while (total < kProxyTestMaxBodyBytes && WinHttpQueryDataAvailable(request, &available) &&
         available > 0) {
    DWORD read = 0;
    const DWORD want = available < sink.size() ? available : static_cast<DWORD>(sink.size());
    if (!WinHttpReadData(request, sink.data(), want, &read) || read == 0) break;
    total += read;
  }
  return r;
}

int CProxySetting::AdjustHttpProxyScheme(int useHttps, const std::wstring& targetHost,
                                         const std::wstring& path, DWORD* error) {
  ZtLogger& log = ZtLogger::Instance();
  const char* tag = "CProxySetting::AdjustHttpProxyScheme";
  *error = 0;
  if (!usable) return 1;
  // The proxy is named at the session: the per-request proxy option is not
  // honoured by every WinHTTP.
  HINTERNET session = WinHttpOpen(kProbeAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxyList.c_str(),
                                  bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0);
  HINTERNET connection =
      session ? WinHttpConnect(session, targetHost.c_str(),
                               useHttps ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT, 0)
              : nullptr;
  HINTERNET request = connection ? OpenTestRequest(connection, useHttps, path) : nullptr;
  if (!request) {
    *error = GetLastError();
    CloseIf(connection);
    CloseIf(session);
    return 0;
  }
  int status = 0;
  BOOL sent = SendTest(request, &status);
  log.Info("[%s] Test Proxy (%d:%d) scheme (0x%08X)", tag, sent, status,
           static_cast<unsigned>(authScheme));
  if (sent && (status == 407 || status == 401)) {
    DWORD supported = 0, first = 0, target = 0;
    const bool read = WinHttpQueryAuthSchemes(request, &supported, &first, &target) != FALSE;
    authScheme = ProxySchemeForChallenge(read, supported);
    if (authScheme == WINHTTP_AUTH_SCHEME_BASIC) {
      // The refusal itself set no system error; a 0 would read as a passed
      // test to the caller.
      const DWORD lastError = GetLastError();
      *error = lastError ? lastError : ERROR_WINHTTP_LOGIN_FAILURE;
      CloseIf(request);
      CloseIf(connection);
      CloseIf(session);
      return 0;
    }
    WinHttpCloseHandle(request);
    request = OpenTestRequest(connection, useHttps, path);
    for (int left = 2; request && left > 0; --left) {
      sent = SendTest(request, &status);
      log.Info("[%s] Test Proxy (%d:%d) scheme (0x%08X), retry Cnt:%d", tag, sent, status,
               static_cast<unsigned>(authScheme), left - 1);
      if (!sent || status != 407) break;
    }
    if (!request) sent = FALSE;
    if (sent && status == 407) authScheme = ProxySchemeAfterNtlmRetries(status);
  }
  const DWORD lastError = GetLastError();
  CloseIf(request);
  CloseIf(connection);
  CloseIf(session);
  if (sent) return sent;
  *error = lastError ? lastError : ERROR_WINHTTP_INTERNAL_ERROR;
  return 0;
}
