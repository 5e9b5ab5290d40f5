// One HTTP or HTTPS request through WinHTTP: status and decoded body text.
//
// Bounds: every Send ends within its deadline, and a body longer than
// kMaxBodyBytes fails the request. The exchange runs on a thread of its own
// whose every WinHTTP call (name resolution, connect, send, receive) has a
// time-out of at most kCallBoundMs, never 0 (which WinHTTP takes as no
// limit), and never past what is left of the deadline; the caller waits
// for it no longer than the deadline (plus a short grace), so a peer that
// trickles its reply's headers byte by byte, which no WinHTTP time-out
// bounds everywhere, cannot hold the caller.
//
// Every exchange is known until its thread has ended: CancelAll closes the
// handles of all of them (their Sends return at once with kErrCancelled)
// and JoinAll waits for their threads, so an owner that stops (the backend
// manager) leaves no exchange running. A closed handle ends a call in
// progress at once on Windows; where it does not (Wine), the call ends at
// its own time-out, which is why no call may wait longer than kCallBoundMs.
// Certificates are always verified: a TLS failure is a failed send, never a
// request to an unverified peer.
//
// A client serves one request on one thread.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <string>
#include <vector>

class HttpClient {
 public:
  // Client error codes in LastError besides the system's.
  static constexpr int kErrEmptyUrl = 3;
  static constexpr int kErrBadVerb = 87;
  static constexpr int kErrCutOffHtml = 13;
  static constexpr int kErrBodyTooLarge = ERROR_INSUFFICIENT_BUFFER;  // 122
  static constexpr int kErrDeadline = ERROR_WINHTTP_TIMEOUT;          // 12002
  static constexpr int kErrCutShort = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;  // 12152
  static constexpr int kErrCancelled = ERROR_WINHTTP_OPERATION_CANCELLED;     // 12017

  // The largest reply body accepted.
  static constexpr size_t kMaxBodyBytes = 1024 * 1024;
  static constexpr size_t kInitialBodyBytes = 10240;
  static constexpr int kAttempts = 3;
  static constexpr DWORD kDefaultDeadlineMs = 60000;
  static constexpr DWORD kDeadlineGraceMs = 2000;
  // The longest any one WinHTTP call of an exchange may wait.
  static constexpr DWORD kCallBoundMs = 5000;
  // The longest deadline a client takes (a longer one is cut to it).
  static constexpr DWORD kMaxDeadlineMs = 10 * 60 * 1000;

  explicit HttpClient(const std::wstring& url);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Replaces the request body by a copy; false for a null pointer.
  bool SetBody(const void* bytes, int length);
  // GET, POST, PUT or DELETE in any letter case; true when an attempt got a
  // whole reply (whatever its status).
  bool Send(const std::wstring& verb);

  // The decimal number at the start of the status text; 0 when none.
  int StatusCode() const;
  std::wstring ResponseText() const { return responseText_; }

  void SetUserAgent(const std::wstring& agent) { userAgent_ = agent; }
  // CRLF-separated header lines, added once to the request.
  void SetRequestHeaders(const std::wstring& headers) { requestHeaders_ = headers; }
  // A named proxy (WinHTTP list) and its bypass list; empty for the default.
  void SetProxy(const std::wstring& server, const std::wstring& bypass) {
    proxyServer_ = server;
    proxyBypass_ = bypass;
  }
  void SetProxyCredentials(int scheme, const std::wstring& user, const std::wstring& password) {
    proxyScheme_ = scheme;
    proxyUser_ = user;
    proxyPassword_ = password;
  }
  // Bound of one Send from its start to its return.
  void SetDeadlineMs(DWORD ms) { deadlineMs_ = ms; }
  // The deadline new clients start with (tests shorten it).
  static void SetDefaultDeadlineMs(DWORD ms);
  static DWORD DefaultDeadlineMs();

  // Every exchange in flight, process-wide. CancelAll ends them: their
  // handles are closed and their Sends return false with kErrCancelled.
  // While RefuseNew(true) holds, a Send fails the same way before it starts
  // anything. JoinAll waits up to timeoutMs for the threads of every
  // exchange to end; true when none is left.
  static void CancelAll();
  static void RefuseNew(bool refuse);
  static bool JoinAll(DWORD timeoutMs);
  static size_t ExchangesInFlight();
  // One exchange on its thread (HttpClient.cpp).
  struct Flight;

  int FirstError() const { return firstError_; }
  int LastError() const { return lastError_; }
  const std::wstring& Charset() const { return charset_; }
  const std::wstring& RawHeaders() const { return rawHeaders_; }
  const std::wstring& Host() const { return host_; }
  size_t BodyLength() const { return body_.size(); }
  const std::vector<char>& Body() const { return body_; }

 private:
  enum class Attempt { kDone, kRetry, kGiveUp };
  enum Slot { kSessionSlot, kConnectionSlot, kRequestSlot };
  static unsigned __stdcall FlightThread(void* flight);
  bool Exchange(const std::wstring& verb);
  bool ExchangeOn(const std::wstring& verb, DWORD deadlineTick, HINTERNET* connection,
                  HINTERNET* request);
  // The handles of an exchange that runs as a flight are known to it, so
  // that a cancel can close them. Track: false (and the handle closed) when
  // the flight was cancelled meanwhile. Release: closes it unless a cancel
  // did. Outside a flight Track keeps nothing and Release only closes.
  bool Cancelled() const;
  bool Track(Slot slot, HINTERNET handle);
  void Release(Slot slot, HINTERNET handle);
  // A call's time-out: the phase's own (none: kCallBoundMs), at most
  // kCallBoundMs and what is left of the deadline, at least 1 ms.
  static int CallTimeout(int phaseMs, DWORD leftMs);
  void TakeConfigFrom(const HttpClient& other);
  void TakeResultsFrom(const HttpClient& other);
  Attempt RunAttempt(HINTERNET request, const std::wstring& verb, DWORD deadlineTick);
  void SetCallTimeouts(HINTERNET request, DWORD leftMs);
  bool ReadBody(HINTERNET request, DWORD deadlineTick, bool* giveUp);
  void DecodeBody();
  void RecordError(DWORD err) { lastError_ = static_cast<int>(err); }

  HINTERNET session_ = nullptr;
  std::wstring url_;
  std::wstring host_;
  std::wstring rawHeaders_;
  std::wstring responseText_;
  std::wstring charset_;
  std::vector<char> body_;
  std::vector<char> requestBody_;
  bool hasRequestBody_ = false;
  std::wstring requestHeaders_;
  std::wstring proxyServer_;
  std::wstring proxyBypass_;
  int proxyScheme_ = 0;
  int lastError_ = 0;
  int firstError_ = 0;
  std::wstring statusText_;
  std::wstring userAgent_ = L"TWX/1.0.0.0 kelvora2 win";
  std::wstring proxyUser_;
  std::wstring proxyPassword_;
  INTERNET_PORT portOverride_ = 0;
  int resolveTimeoutMs_ = 0;
  int connectTimeoutMs_ = 60000;
  int sendTimeoutMs_ = 30000;
  int receiveTimeoutMs_ = 30000;
  DWORD deadlineMs_;
  Flight* flight_ = nullptr;  // set on the client that runs as a flight
};

// Searches text for pattern (ATL syntax: braces mark the group to capture,
// parentheses only group) and collects the first group of every match,
// without repeats (letter case ignored). Matching ignores letter case. False
// for an empty pattern or text or a pattern that does not parse.
bool RegexFind(const std::wstring& pattern, const std::wstring& text,
               std::vector<std::wstring>& list);

// Base64 (RFC 4648, "=" padded) as a new zero-terminated string.
std::unique_ptr<char[]> Base64EncodeAlloc(const void* bytes, size_t length);
