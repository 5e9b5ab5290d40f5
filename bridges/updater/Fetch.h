// One bounded HTTPS GET by WinHTTP: certificate errors fail it, every wait
// has a time-out, the body is cut off at a size bound.
#pragma once

#include <windows.h>

#include <string>

namespace updater {

enum class FetchStatus {
  kOk,
  kNotHttps,      // the address is not an https address
  kUntrusted,     // the server's certificate was refused
  kHttpError,     // the server answered with a status other than 200
  kTooLarge,      // the body is larger than the bound
  kTimedOut,      // the server did not answer in time
  kNetworkError,  // no connection, name not found, and the like
  kCancelled,
};

struct FetchResult {
  FetchStatus status = FetchStatus::kNetworkError;
  DWORD httpStatus = 0;
  DWORD error = 0;  // WinHTTP error code
  std::string body;
};

// Time-outs of each step, in milliseconds.
constexpr DWORD kResolveTimeoutMs = 10000;
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 10000;
constexpr DWORD kReceiveTimeoutMs = 10000;

// Fetches url, at most maxBytes of body. cancel (a manual-reset event, may
// be null) is looked at between steps.
FetchResult FetchHttps(const std::wstring& url, size_t maxBytes, HANDLE cancel);

}  // namespace updater
