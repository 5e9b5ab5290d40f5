#include "bridges/updater/Fetch.h"

#include <winhttp.h>
#include <winsock2.h>

#include <vector>

namespace updater {

namespace {

const wchar_t kUserAgent[] = L"Tessarine-Updater/1.0";

class Internet {
 public:
  explicit Internet(HINTERNET h = nullptr) : h_(h) {}
  ~Internet() {
    if (h_) WinHttpCloseHandle(h_);
  }
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

bool Cancelled(HANDLE cancel) { return cancel && WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0; }

FetchStatus StatusOfError(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return FetchStatus::kUntrusted;
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_TIMEOUT:
    case WSAETIMEDOUT:  // Wine passes the socket's own error on
      return FetchStatus::kTimedOut;
    case ERROR_WINHTTP_OPERATION_CANCELLED:
      return FetchStatus::kCancelled;
    default:
      return FetchStatus::kNetworkError;
  }
}

FetchResult Failed(HANDLE cancel) {
  FetchResult r;
  r.error = GetLastError();
  r.status = Cancelled(cancel) ? FetchStatus::kCancelled : StatusOfError(r.error);
  return r;
}

}  // namespace

FetchResult FetchHttps(const std::wstring& url, size_t maxBytes, HANDLE cancel) {
  FetchResult result;
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.nScheme != INTERNET_SCHEME_HTTPS || parts.dwHostNameLength == 0) {
    result.status = FetchStatus::kNotHttps;
    return result;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  Internet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Failed(cancel);
  WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
  Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return Failed(cancel);
  Internet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                      WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!request) return Failed(cancel);
  // The receive time-out alone does not bound the wait for the reply's head.
  DWORD responseTimeout = kReceiveTimeoutMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));
  DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof(redirects));

  if (Cancelled(cancel)) {
    result.status = FetchStatus::kCancelled;
    return result;
  }
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    return Failed(cancel);
  }
  DWORD status = 0, size = sizeof(status);
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return Failed(cancel);
  }
  result.httpStatus = status;
  if (status != 200) {
    result.status = FetchStatus::kHttpError;
    return result;
  }
  DWORD length = 0;
  size = sizeof(length);
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX) &&
      length > maxBytes) {
    result.status = FetchStatus::kTooLarge;
    return result;
  }

  std::vector<char> chunk(16384);
  for (;;) {
    if (Cancelled(cancel)) {
      result.status = FetchStatus::kCancelled;
      result.body.clear();
      return result;
    }
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
      FetchResult failed = Failed(cancel);
      failed.httpStatus = status;
      return failed;
    }
    if (read == 0) break;
    if (result.body.size() + read > maxBytes) {
      result.status = FetchStatus::kTooLarge;
      result.body.clear();
      return result;
    }
    result.body.append(chunk.data(), read);
  }
  result.status = FetchStatus::kOk;
  return result;
}

}  // namespace updater
