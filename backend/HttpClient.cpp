#include "backend/HttpClient.h"

#include <atomic>
#include <cstring>
#include <cwctype>
#include <regex>
#include <system_error>
#include <thread>

#include "classlib/Str.h"
#include "foundation/settings/SettingsCipher.h"

namespace {

std::atomic<DWORD> g_defaultDeadlineMs{HttpClient::kDefaultDeadlineMs};

// Milliseconds left until deadlineTick; 0 once it has passed.
DWORD LeftUntil(DWORD deadlineTick) {
  const LONG left = static_cast<LONG>(deadlineTick - GetTickCount());
  return left > 0 ? static_cast<DWORD>(left) : 0;
}

bool QueryHeaderText(HINTERNET request, DWORD info, std::wstring& out) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                      &size, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return false;
  std::vector<wchar_t> buf(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, buf.data(), &size,
                           WINHTTP_NO_HEADER_INDEX))
    return false;
  out.assign(buf.data());
  return true;
}

}  // namespace

void HttpClient::SetDefaultDeadlineMs(DWORD ms) { g_defaultDeadlineMs.store(ms); }
DWORD HttpClient::DefaultDeadlineMs() { return g_defaultDeadlineMs.load(); }

HttpClient::HttpClient(const std::wstring& url) : url_(url), deadlineMs_(DefaultDeadlineMs()) {}

HttpClient::~HttpClient() {
  if (session_) WinHttpCloseHandle(session_);
}

bool HttpClient::SetBody(const void* bytes, int length) {
  if (!bytes || length < 0) return false;
  const char* p = static_cast<const char*>(bytes);
  requestBody_.assign(p, p + length);
  hasRequestBody_ = true;
  return true;
}

int HttpClient::StatusCode() const {
  if (statusText_.empty()) return 0;
  return atoi(cl::WideToAnsi(statusText_).c_str());
}

void HttpClient::SetCallTimeouts(HINTERNET request, DWORD leftMs) {
  auto cut = [leftMs](int ms) {
    return static_cast<int>(static_cast<DWORD>(ms) < leftMs ? static_cast<DWORD>(ms) : leftMs);
  };
  WinHttpSetTimeouts(request, resolveTimeoutMs_, cut(connectTimeoutMs_), cut(sendTimeoutMs_),
                     cut(receiveTimeoutMs_));
  // The receive time-out above does not bound the wait for the reply's
  // headers everywhere; this option does.
  DWORD responseMs = static_cast<DWORD>(cut(receiveTimeoutMs_));
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                   sizeof(responseMs));
}

void HttpClient::TakeConfigFrom(const HttpClient& o) {
  requestBody_ = o.requestBody_;
  hasRequestBody_ = o.hasRequestBody_;
  requestHeaders_ = o.requestHeaders_;
  proxyServer_ = o.proxyServer_;
  proxyBypass_ = o.proxyBypass_;
  proxyScheme_ = o.proxyScheme_;
  proxyUser_ = o.proxyUser_;
  proxyPassword_ = o.proxyPassword_;
  userAgent_ = o.userAgent_;
  portOverride_ = o.portOverride_;
  deadlineMs_ = o.deadlineMs_;
}

void HttpClient::TakeResultsFrom(const HttpClient& o) {
  host_ = o.host_;
  rawHeaders_ = o.rawHeaders_;
  responseText_ = o.responseText_;
  charset_ = o.charset_;
  body_ = o.body_;
  statusText_ = o.statusText_;
  lastError_ = o.lastError_;
  firstError_ = o.firstError_;
}

bool HttpClient::Send(const std::wstring& verbIn) {
  if (url_.empty()) {
    lastError_ = kErrEmptyUrl;
    return false;
  }
  std::wstring verb;
  for (const wchar_t* v : {L"GET", L"POST", L"PUT", L"DELETE"}) {
    if (_wcsicmp(verbIn.c_str(), v) == 0) verb = v;
  }
  if (verb.empty()) {
    lastError_ = kErrBadVerb;
    return false;
  }
  // The exchange and its event are shared with its thread, which may
  // outlive this call (see the header).
  auto exchange = std::make_shared<HttpClient>(url_);
  exchange->TakeConfigFrom(*this);
  std::shared_ptr<void> done(CreateEventW(nullptr, TRUE, FALSE, nullptr), [](void* h) {
    if (h) CloseHandle(h);
  });
  auto result = std::make_shared<std::atomic<bool>>(false);
  bool started = false;
  if (done.get()) {
    try {
      std::thread([exchange, done, result, verb] {
        result->store(exchange->Exchange(verb));
        SetEvent(done.get());
      }).detach();
      started = true;
    } catch (const std::system_error&) {
      started = false;
    }
  }
  if (!started) {
    const bool ok = exchange->Exchange(verb);
    TakeResultsFrom(*exchange);
    return ok;
  }
  if (WaitForSingleObject(done.get(), deadlineMs_ + kDeadlineGraceMs) != WAIT_OBJECT_0) {
    lastError_ = kErrDeadline;
    if (firstError_ == 0) firstError_ = kErrDeadline;
    return false;
  }
  TakeResultsFrom(*exchange);
  return result->load();
}

bool HttpClient::Exchange(const std::wstring& verb) {
  const DWORD deadlineTick = GetTickCount() + deadlineMs_;
  if (!session_) {
    // The proxy is given here: the per-request proxy option is not honoured
    // by every WinHTTP, the session's named proxy is.
    if (proxyServer_.empty()) {
      session_ = WinHttpOpen(userAgent_.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    } else {
      session_ = WinHttpOpen(userAgent_.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                             proxyServer_.c_str(),
                             proxyBypass_.empty() ? WINHTTP_NO_PROXY_BYPASS : proxyBypass_.c_str(),
                             0);
    }
    if (!session_) {
      RecordError(GetLastError());
      return false;
    }
  }
  WinHttpSetTimeouts(session_, resolveTimeoutMs_, connectTimeoutMs_, sendTimeoutMs_,
                     receiveTimeoutMs_);

  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url_.c_str(), 0, 0, &parts)) {
    RecordError(GetLastError());
    return false;
  }
  host_.assign(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;

  HINTERNET connection =
      WinHttpConnect(session_, host_.c_str(), portOverride_ ? portOverride_ : parts.nPort, 0);
  if (!connection) {
    RecordError(GetLastError());
    return false;
  }
  HINTERNET request = WinHttpOpenRequest(connection, verb.c_str(), path.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         https ? WINHTTP_FLAG_SECURE : 0);
  if (!request) {
    RecordError(GetLastError());
    WinHttpCloseHandle(connection);
    return false;
  }
  // Once per request: headers added again on a later attempt would be
  // coalesced into the first ones ("Content-Length: 3; 3").
  if (!requestHeaders_.empty() &&
      !WinHttpAddRequestHeaders(request, requestHeaders_.c_str(), static_cast<DWORD>(-1),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
    RecordError(GetLastError());
  if (!proxyServer_.empty() && proxyScheme_ != 0 && !proxyUser_.empty() &&
      !proxyPassword_.empty()) {
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    if (!WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof(policy)))
      RecordError(GetLastError());
    if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY,
                               static_cast<DWORD>(proxyScheme_), proxyUser_.c_str(),
                               proxyPassword_.c_str(), nullptr))
      RecordError(GetLastError());
  }

  bool ok = false;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (LeftUntil(deadlineTick) == 0) {
      RecordError(kErrDeadline);
      break;
    }
    const Attempt a = RunAttempt(request, verb, deadlineTick);
    if (a == Attempt::kDone) {
      ok = true;
      break;
    }
    if (a == Attempt::kGiveUp) break;
  }
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  return ok;
}

HttpClient::Attempt HttpClient::RunAttempt(HINTERNET request, const std::wstring& verb,
                                           DWORD deadlineTick) {
  SetCallTimeouts(request, LeftUntil(deadlineTick));
  const DWORD bodyLength = static_cast<DWORD>(requestBody_.size());
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                          hasRequestBody_ ? bodyLength : 0, 0)) {
    RecordError(GetLastError());
    if (firstError_ == 0) firstError_ = lastError_;
    return Attempt::kRetry;
  }
  if (hasRequestBody_ && bodyLength > 0) {
    DWORD written = 0;
    if (!WinHttpWriteData(request, requestBody_.data(), bodyLength, &written))
      RecordError(GetLastError());
  }
  if (!WinHttpReceiveResponse(request, nullptr)) {
    RecordError(GetLastError());
    return Attempt::kRetry;
  }
  rawHeaders_.clear();
  QueryHeaderText(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, rawHeaders_);
  std::vector<std::wstring> found;
  if (RegexFind(L"charset={[A-Za-z0-9\\-_]+}", rawHeaders_, found) && !found.empty())
    charset_ = found[0];
  statusText_.clear();
  QueryHeaderText(request, WINHTTP_QUERY_STATUS_CODE, statusText_);

  bool giveUp = false;
  if (!ReadBody(request, deadlineTick, &giveUp)) return giveUp ? Attempt::kGiveUp : Attempt::kRetry;
  // A connection closed before the stated length is a reply cut short, even
  // where the platform reports it as a normal end.
  DWORD stated = 0, size = sizeof(stated);
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &stated, &size, WINHTTP_NO_HEADER_INDEX) &&
      body_.size() < stated) {
    lastError_ = kErrCutShort;
    return Attempt::kRetry;
  }
  DecodeBody();

  if (verb == L"GET") {
    std::vector<std::wstring> open, close;
    RegexFind(L"{<html>}", responseText_, open);
    RegexFind(L"{</html>}", responseText_, close);
    if (!open.empty() && close.empty()) {
      lastError_ = kErrCutOffHtml;
      return Attempt::kRetry;
    }
  }
  return Attempt::kDone;
}

// The whole body within the deadline and the size bound. A reply cut short
// (a failed query or read) is a failed attempt, not a shorter body.
bool HttpClient::ReadBody(HINTERNET request, DWORD deadlineTick, bool* giveUp) {
  body_.clear();
  body_.reserve(kInitialBodyBytes);
  std::vector<char> chunk;
  for (;;) {
    if (LeftUntil(deadlineTick) == 0) {
      RecordError(kErrDeadline);
      *giveUp = true;
      return false;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      RecordError(GetLastError());
      return false;
    }
    if (available == 0) return true;
    if (available > kMaxBodyBytes - body_.size()) {
      RecordError(kErrBodyTooLarge);
      *giveUp = true;
      return false;
    }
    chunk.assign(available + 1, 0);
    DWORD read = 0;
    if (!WinHttpReadData(request, chunk.data(), available, &read)) {
      RecordError(GetLastError());
      return false;
    }
    if (read == 0) return true;
    body_.insert(body_.end(), chunk.data(), chunk.data() + read);
  }
}

void HttpClient::DecodeBody() {
  const bool utf8 = charset_.size() >= 5 && _wcsnicmp(charset_.c_str(), L"utf-8", 5) == 0;
  auto decode = [this](UINT codePage, DWORD flags, std::wstring& out) {
    if (body_.empty()) return false;
    const int n = MultiByteToWideChar(codePage, flags, body_.data(), static_cast<int>(body_.size()),
                                      nullptr, 0);
    if (n <= 0) return false;
    out.assign(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, body_.data(), static_cast<int>(body_.size()), &out[0], n);
    // The text ends at its first zero, as a C string would.
    const size_t nul = out.find(L'\0');
    if (nul != std::wstring::npos) out.resize(nul);
    return true;
  };
  std::wstring text;
  if (body_.empty()) {
    responseText_.clear();
    return;
  }
  if (decode(utf8 ? CP_UTF8 : CP_ACP, utf8 ? 0 : MB_PRECOMPOSED, text) ||
      decode(CP_ACP, MB_PRECOMPOSED, text))
    responseText_ = text;
}

// ---------------------------------------------------------------- RegexFind

namespace {

// ATL syntax to ECMAScript: {..} captures, (..) only groups.
bool TranslateAtlPattern(const std::wstring& atl, std::wstring& out) {
  out.clear();
  bool inClass = false;
  for (size_t i = 0; i < atl.size(); ++i) {
    const wchar_t c = atl[i];
    if (c == L'\\') {
      if (i + 1 >= atl.size()) return false;
      out += c;
      out += atl[++i];
      continue;
    }
    if (inClass) {
      if (c == L']') inClass = false;
      out += c;
      continue;
    }
    switch (c) {
      case L'[': inClass = true; out += c; break;
      case L'{': out += L'('; break;
      case L'}': out += L')'; break;
      case L'(': out += L"(?:"; break;
      default: out += c; break;
    }
  }
  return !inClass;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && _wcsicmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

bool RegexFind(const std::wstring& pattern, const std::wstring& text,
               std::vector<std::wstring>& list) {
  list.clear();
  if (pattern.empty() || text.empty()) return false;
  std::wstring ecma;
  if (!TranslateAtlPattern(pattern, ecma)) return false;
  std::wregex re;
  try {
    // The polynomial (breadth-first) matcher: its depth follows the pattern,
    // not the text, so a long run in a hostile reply cannot exhaust the stack.
    re.assign(ecma, std::regex_constants::ECMAScript | std::regex_constants::icase |
                        std::regex_constants::__polynomial);
  } catch (const std::regex_error&) {
    return false;
  }
  auto begin = text.cbegin();
  const auto end = text.cend();
  std::wsmatch m;
  while (begin != end && std::regex_search(begin, end, m, re)) {
    if (m.size() > 1 && m[1].matched) {
      std::wstring group = m[1].str();
      bool seen = false;
      for (const std::wstring& e : list) seen = seen || EqualsIgnoringCase(e, group);
      if (!seen) list.push_back(group);
    }
    if (m[0].second == end) break;
    begin = (m[0].length() == 0) ? m[0].second + 1 : m[0].second;
  }
  return true;
}

std::unique_ptr<char[]> Base64EncodeAlloc(const void* bytes, size_t length) {
  const std::string text = Base64Encode(static_cast<const uint8_t*>(bytes), length);
  std::unique_ptr<char[]> out(new char[text.size() + 1]);
  memcpy(out.get(), text.c_str(), text.size() + 1);
  return out;
}
