// One backend operation as one HTTPS request of the web service, and its
// reply read into the run's BEServiceRequest.
//
// The backend host is a name under the reserved top-level domain
// "invalid" (RFC 2606/6761): it can never be registered, so no stranger
// can ever receive what the requests carry (the machine id, the service
// account). Tests reach their own peer through a proxy that maps the name.
#pragma once

#include <windows.h>

#include <json/json.h>

#include <memory>
#include <string>

#include "backend/BEJsonReaders.h"
#include "backend/BEOPRecords.h"
#include "backend/HttpClient.h"
#include "foundation/docs/JsonDocument.h"
#include "foundation/docs/XmlParser.h"
#include "foundation/thread/Threads.h"

extern const wchar_t kBackendHost[];
extern const wchar_t kServiceAccountEmail[];
extern const wchar_t kServiceAccountPassword[];

// "https://" + host + "/api/tarsel/".
std::wstring BackendBaseUrl();

// Backend operation numbers.
enum BEServiceOp : int {
  BESOP_DEVINIT = 0,
  BESOP_CREATEMT = 9,
  BESOP_UPDATEMT = 10,
  BESOP_QUERYMT = 11,
  BESOP_DELETEMT = 12,
  BESOP_GETRELAYINFO = 13,
  BESOP_GETSERVICETOKENINFO = 14,
};

// Results of Execute besides 0 and HTTP statuses.
enum : int {
  BESERVICE_E_PARAM = 1,
  BESERVICE_E_SEND = 5,
  BESERVICE_E_ALLOC = 255,
};

class BEServiceUtil {
 public:
  BEServiceUtil();
  ~BEServiceUtil();
  BEServiceUtil(const BEServiceUtil&) = delete;
  BEServiceUtil& operator=(const BEServiceUtil&) = delete;

  // 0 when the reply status was 200; else the status, 1 (inputs missing),
  // 5 (sending failed) or 255.
  int Execute(BEServiceRequest* request, int op);
  // Execute's first step: the operation and its base URL (v2/ or v3/).
  void BeginOp(int op);
  void Reset();

  int CheckParameter(BEServiceRequest* request);
  int BuildRequestInfo(std::wstring& path, std::wstring& headers, std::string& body);
  int CreateHttpClient(const std::wstring& path);
  int PrepareRequest();
  int SendRequest();
  int ReadResponse();
  bool NeedParse();
  bool ParseResponse();
  bool ParseServiceToken();
  bool ParseServiceDuration();
  bool ParseJsonResult();
  bool ParseJsonServiceTokenInfo();

  static const char* GetOpName(int op);

  // What PrepareRequest built (read by tests).
  const std::wstring& Method() const { return method_; }
  const std::wstring& Url() const { return url_; }
  const std::wstring& HeaderBlock() const { return headers_; }
  const std::string& Body() const { return body_; }
  void SetRequest(BEServiceRequest* r) { request_ = r; }
  void SetReply(int status, const std::wstring& text) {
    httpStatus_ = status;
    replyText_ = text;
  }

 private:
  int op_ = 0;
  int httpStatus_ = 0;
  BEServiceRequest* request_ = nullptr;
  std::wstring method_;
  std::wstring replyText_;
  std::unique_ptr<HttpClient> client_;
  CMyXMLParser xml_;
  JsonDocument json_;
  std::wstring userAgent_;
  std::wstring baseUrl_;
  std::wstring url_;
  std::wstring headers_;
  std::string body_;
};

// One BEServiceUtil with its lock, made for one wrapper call.
class BEServiceHolder {
 public:
  BEServiceHolder();
  ~BEServiceHolder();
  BEServiceHolder(const BEServiceHolder&) = delete;
  BEServiceHolder& operator=(const BEServiceHolder&) = delete;
  BEServiceUtil* Util() { return util_.get(); }
  critical_section_lock& Lock() { return lock_; }

 private:
  critical_section_lock lock_;
  std::unique_ptr<BEServiceUtil> util_;
};

// Form values: the 20 characters of "/!*'();:@&=+$,?%#[] " become %XX,
// every other byte (also 0x80 and above) is kept.
std::string UrlEncode(const std::string& text);
// A path segment: every byte outside unreserved ASCII (A-Z a-z 0-9 - . _ ~)
// becomes %XX, so no token can add a segment, a query or raw bytes.
std::string PathSegmentEncode(const std::string& text);
// "xx-YY" of the user's default UI language.
std::wstring GetUILanguageTag();
// "Accept-Language: " + the tag when it is zh-CN, zh-TW or ja-JP, else en-US.
std::wstring HttpLangHeaderForTag(const std::wstring& tag);
std::wstring GetHttpLangHeader();
// "Authorization: Basic " + Base64 of "user:password" (UTF-8).
std::wstring GetHttpAuthHeader(const std::string& user, const std::string& password);
