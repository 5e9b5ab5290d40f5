#include "backend/HttpClient.h"

#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <regex>
#include <vector>

#include "classlib/Str.h"
#include "foundation/settings/SettingsCipher.h"
#include "foundation/thread/Threads.h"

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

// ---------------------------------------------------------------- flights

// One exchange on its thread: the client that runs it, and the WinHTTP
// handles a cancel closes (request first: closing it is what ends a call in
// progress). The flight is kept in the list below until its thread ended,
// so the thread never outlives what it uses.
struct HttpClient::Flight {
  explicit Flight(const std::wstring& url) : client(url) {}
  ~Flight() {
    if (thread) CloseHandle(thread);
    if (done) CloseHandle(done);
    if (stopped) CloseHandle(stopped);
  }
  Flight(const Flight&) = delete;
  Flight& operator=(const Flight&) = delete;

  void Cancel() {
    ScopedLock<critical_section_lock> g(lock);
    if (cancelled) return;
    cancelled = true;
    for (Slot slot : {kRequestSlot, kConnectionSlot, kSessionSlot}) {
      if (handles[slot]) WinHttpCloseHandle(handles[slot]);
      handles[slot] = nullptr;
    }
    SetEvent(stopped);
  }

  HttpClient client;
  std::wstring verb;
  HANDLE thread = nullptr;   // null until started, or when it runs on its caller
  HANDLE done = nullptr;     // the exchange ended (the client holds its results)
  HANDLE stopped = nullptr;  // it was cancelled
  bool ok = false;
  critical_section_lock lock;  // cancelled and handles
  bool cancelled = false;
  HINTERNET handles[3] = {nullptr, nullptr, nullptr};
};

namespace {

using FlightPtr = std::shared_ptr<HttpClient::Flight>;

// Every flight whose thread has not been seen to end. Made once and never
// destroyed: a thread that releases the last pin of the DLL unloads it
// while it still sits in this list.
struct FlightList {
  critical_section_lock lock;
  std::vector<FlightPtr> flights;
  bool refusing = false;
};

FlightList& Flights() {
  static FlightList* list = new FlightList();
  return *list;
}

// Forgets the flights whose threads have ended.
void ReapFlights() {
  FlightList& list = Flights();
  std::vector<FlightPtr> ended;
  {
    ScopedLock<critical_section_lock> g(list.lock);
    auto& v = list.flights;
    for (auto it = v.begin(); it != v.end();) {
      if ((*it)->thread && WaitForSingleObject((*it)->thread, 0) == WAIT_OBJECT_0) {
        ended.push_back(*it);
        it = v.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Freed outside the lock: a flight's client closes nothing that waits.
}

void ForgetFlight(const HttpClient::Flight* flight) {
  FlightList& list = Flights();
  ScopedLock<critical_section_lock> g(list.lock);
  auto& v = list.flights;
  v.erase(std::remove_if(v.begin(), v.end(),
                         [flight](const FlightPtr& f) { return f.get() == flight; }),
          v.end());
}

}  // namespace

void HttpClient::CancelAll() {
  std::vector<FlightPtr> flights;
  {
    ScopedLock<critical_section_lock> g(Flights().lock);
    flights = Flights().flights;
  }
  for (const FlightPtr& f : flights) f->Cancel();
}

void HttpClient::RefuseNew(bool refuse) {
  ScopedLock<critical_section_lock> g(Flights().lock);
  Flights().refusing = refuse;
}

bool HttpClient::JoinAll(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    ReapFlights();
    std::vector<HANDLE> threads;
    {
      ScopedLock<critical_section_lock> g(Flights().lock);
      if (Flights().flights.empty()) return true;
      for (const FlightPtr& f : Flights().flights) {
        if (f->thread && threads.size() < MAXIMUM_WAIT_OBJECTS) threads.push_back(f->thread);
      }
    }
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) return false;
    // Flights without a thread yet (or running on their caller) are polled.
    const DWORD slice = std::min<DWORD>(timeoutMs - spent, 50);
    if (threads.empty()) {
      Sleep(slice);
    } else {
      // The list keeps the flights, and so their handles, until reaped here.
      WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), FALSE, slice);
    }
  }
}

size_t HttpClient::ExchangesInFlight() {
  ReapFlights();
  ScopedLock<critical_section_lock> g(Flights().lock);
  return Flights().flights.size();
}

unsigned __stdcall HttpClient::FlightThread(void* arg) {
  const HMODULE pin = PinOwnModule();
  Flight* f = static_cast<Flight*>(arg);
  f->ok = f->client.Exchange(f->verb);
  SetEvent(f->done);
  ExitPinnedThread(pin, 0);
  return 0;
}

bool HttpClient::Cancelled() const {
  if (!flight_) return false;
  ScopedLock<critical_section_lock> g(flight_->lock);
  return flight_->cancelled;
}

bool HttpClient::Track(Slot slot, HINTERNET handle) {
  if (!flight_) return true;
  ScopedLock<critical_section_lock> g(flight_->lock);
  if (flight_->cancelled) {
    WinHttpCloseHandle(handle);
    return false;
  }
  flight_->handles[slot] = handle;
  return true;
}

void HttpClient::Release(Slot slot, HINTERNET handle) {
  if (!handle) return;
  if (!flight_) {
    WinHttpCloseHandle(handle);
    return;
  }
  ScopedLock<critical_section_lock> g(flight_->lock);
  if (flight_->handles[slot] == handle) {
    WinHttpCloseHandle(handle);
    flight_->handles[slot] = nullptr;
  }
}

int HttpClient::CallTimeout(int phaseMs, DWORD leftMs) {
  DWORD ms = phaseMs > 0 ? static_cast<DWORD>(phaseMs) : kCallBoundMs;
  ms = std::min(ms, kCallBoundMs);
  ms = std::min(ms, leftMs);
  return static_cast<int>(std::max<DWORD>(ms, 1));
}

// ---------------------------------------------------------------- the client

void HttpClient::SetDefaultDeadlineMs(DWORD ms) { g_defaultDeadlineMs.store(ms); }
DWORD HttpClient::DefaultDeadlineMs() { return g_defaultDeadlineMs.load(); }

HttpClient::HttpClient(const std::wstring& url) : url_(url), deadlineMs_(DefaultDeadlineMs()) {}

HttpClient::~HttpClient() {
  // A flight's client has released its session when its exchange ended.
  if (session_ && !flight_) WinHttpCloseHandle(session_);
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
  WinHttpSetTimeouts(request, CallTimeout(resolveTimeoutMs_, leftMs),
                     CallTimeout(connectTimeoutMs_, leftMs), CallTimeout(sendTimeoutMs_, leftMs),
                     CallTimeout(receiveTimeoutMs_, leftMs));
  // The receive time-out above does not bound the wait for the reply's
  // headers everywhere; this option does.
  DWORD responseMs = static_cast<DWORD>(CallTimeout(receiveTimeoutMs_, leftMs));
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
  deadlineMs_ = std::min(o.deadlineMs_, kMaxDeadlineMs);
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
  ReapFlights();
  auto flight = std::make_shared<Flight>(url_);
  flight->client.TakeConfigFrom(*this);
  flight->client.flight_ = flight.get();
  flight->verb = verb;
  flight->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  flight->stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!flight->done || !flight->stopped) {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  {
    ScopedLock<critical_section_lock> g(Flights().lock);
    if (Flights().refusing) {
      lastError_ = kErrCancelled;
      if (firstError_ == 0) firstError_ = kErrCancelled;
      return false;
    }
    Flights().flights.push_back(flight);
  }
  const uintptr_t h =
      _beginthreadex(nullptr, 0, &HttpClient::FlightThread, flight.get(), CREATE_SUSPENDED, nullptr);
  if (h == 0) {
    // No thread to be had: the exchange runs here, still bounded by its
    // time-outs and still ended by a cancel.
    const bool ok = flight->client.Exchange(verb);
    TakeResultsFrom(flight->client);
    ForgetFlight(flight.get());
    return ok;
  }
  {
    ScopedLock<critical_section_lock> g(Flights().lock);
    flight->thread = reinterpret_cast<HANDLE>(h);
  }
  ResumeThread(flight->thread);
  HANDLE ends[2] = {flight->done, flight->stopped};
  const DWORD r = WaitForMultipleObjects(2, ends, FALSE,
                                         flight->client.deadlineMs_ + kDeadlineGraceMs);
  if (r == WAIT_OBJECT_0) {
    // The worker no longer touches its client; it only returns now.
    TakeResultsFrom(flight->client);
    if (WaitForSingleObject(flight->thread, kCallBoundMs) == WAIT_OBJECT_0) ReapFlights();
    return flight->ok;
  }
  // Past the deadline, or cancelled: the exchange's handles are closed and
  // its thread ends by itself; JoinAll or a later Send forgets it.
  flight->Cancel();
  lastError_ = r == WAIT_OBJECT_0 + 1 ? kErrCancelled : kErrDeadline;
  if (firstError_ == 0) firstError_ = lastError_;
  return false;
}

bool HttpClient::Exchange(const std::wstring& verb) {
  const DWORD deadlineTick = GetTickCount() + deadlineMs_;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  const bool ok = ExchangeOn(verb, deadlineTick, &connection, &request);
  Release(kRequestSlot, request);
  Release(kConnectionSlot, connection);
  Release(kSessionSlot, session_);
  session_ = nullptr;
  return ok;
}

bool HttpClient::ExchangeOn(const std::wstring& verb, DWORD deadlineTick, HINTERNET* connection,
                            HINTERNET* requestOut) {
  if (Cancelled()) {
    RecordError(kErrCancelled);
    return false;
  }
  if (!session_) {
    // The proxy is given here: the per-request proxy option is not honoured
    // by every WinHTTP, the session's named proxy is.
    HINTERNET session;
    if (proxyServer_.empty()) {
      session = WinHttpOpen(userAgent_.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    } else {
      session = WinHttpOpen(userAgent_.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                            proxyServer_.c_str(),
                            proxyBypass_.empty() ? WINHTTP_NO_PROXY_BYPASS : proxyBypass_.c_str(),
                            0);
    }
    if (!session) {
      RecordError(GetLastError());
      return false;
    }
    if (!Track(kSessionSlot, session)) {
      RecordError(kErrCancelled);
      return false;
    }
    session_ = session;
  }
  const DWORD left = LeftUntil(deadlineTick);
  if (left == 0) {
    RecordError(kErrDeadline);
    return false;
  }
  WinHttpSetTimeouts(session_, CallTimeout(resolveTimeoutMs_, left),
                     CallTimeout(connectTimeoutMs_, left), CallTimeout(sendTimeoutMs_, left),
                     CallTimeout(receiveTimeoutMs_, left));

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

  HINTERNET c =
      WinHttpConnect(session_, host_.c_str(), portOverride_ ? portOverride_ : parts.nPort, 0);
  if (!c) {
    RecordError(GetLastError());
    return false;
  }
  if (!Track(kConnectionSlot, c)) {
    RecordError(kErrCancelled);
    return false;
  }
  *connection = c;
  HINTERNET request = WinHttpOpenRequest(c, verb.c_str(), path.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         https ? WINHTTP_FLAG_SECURE : 0);
  if (!request) {
    RecordError(GetLastError());
    return false;
  }
  if (!Track(kRequestSlot, request)) {
    RecordError(kErrCancelled);
    return false;
  }
  *requestOut = request;
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

  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (Cancelled()) {
      RecordError(kErrCancelled);
      return false;
    }
    if (LeftUntil(deadlineTick) == 0) {
      RecordError(kErrDeadline);
      return false;
    }
    const Attempt a = RunAttempt(request, verb, deadlineTick);
    if (a == Attempt::kDone) return true;
    if (a == Attempt::kGiveUp) return false;
  }
  return false;
}

HttpClient::Attempt HttpClient::RunAttempt(HINTERNET request, const std::wstring& verb,
                                           DWORD deadlineTick) {
  // A cancel closed the request under a call: what the call reports is the
  // cancel, and the handle is not used again.
  auto cancelled = [this] {
    if (!Cancelled()) return false;
    RecordError(kErrCancelled);
    return true;
  };
  const DWORD left = LeftUntil(deadlineTick);
  if (left == 0) {
    RecordError(kErrDeadline);
    return Attempt::kGiveUp;
  }
  SetCallTimeouts(request, left);
  const DWORD bodyLength = static_cast<DWORD>(requestBody_.size());
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                          hasRequestBody_ ? bodyLength : 0, 0)) {
    if (cancelled()) return Attempt::kGiveUp;
    RecordError(GetLastError());
    if (firstError_ == 0) firstError_ = lastError_;
    return Attempt::kRetry;
  }
  if (cancelled()) return Attempt::kGiveUp;
  if (hasRequestBody_ && bodyLength > 0) {
    DWORD written = 0;
    if (!WinHttpWriteData(request, requestBody_.data(), bodyLength, &written))
      RecordError(GetLastError());
    if (cancelled()) return Attempt::kGiveUp;
  }
  if (!WinHttpReceiveResponse(request, nullptr)) {
    if (cancelled()) return Attempt::kGiveUp;
    RecordError(GetLastError());
    return Attempt::kRetry;
  }
  if (cancelled()) return Attempt::kGiveUp;
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
    if (Cancelled()) {
      RecordError(kErrCancelled);
      *giveUp = true;
      return false;
    }
    if (LeftUntil(deadlineTick) == 0) {
      RecordError(kErrDeadline);
      *giveUp = true;
      return false;
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      RecordError(GetLastError());
      *giveUp = Cancelled();
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
      *giveUp = Cancelled();
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
