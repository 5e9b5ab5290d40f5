#include "backend/BEServiceUtil.h"

#include <cstring>

#include "backend/BEOPMgr.h"
#include "classlib/Str.h"
#include "foundation/log/Logger.h"

const wchar_t kBackendHost[] = L"backend.tessarine.invalid";
const wchar_t kServiceAccountEmail[] = L"sender-service@tessarine.invalid";
const wchar_t kServiceAccountPassword[] = L"RtGalopbarnskyWZ";

std::wstring BackendBaseUrl() { return std::wstring(L"https://") + kBackendHost + L"/api/tarsel/"; }

namespace {

const char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded; charset=utf-8";
const char kRelayContentType[] = "Content-Type: application/x-www-form-urlencoded";

// Longest part of a reply written into the debug log.
constexpr size_t kLoggedReplyBytes = 512;
constexpr size_t kLoggedReplyCut = 499;

}  // namespace

// ---------------------------------------------------------------- texts

std::string UrlEncode(const std::string& text) {
  static const char kReserved[] = "/!*'();:@&=+$,?%#[] ";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c != 0 && strchr(kReserved, c)) {
      out += cl::FormatA("%%%02X", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string PathSegmentEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += cl::FormatA("%%%02X", c);
    }
  }
  return out;
}

std::wstring GetUILanguageTag() {
  const LCID lcid = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  wchar_t language[10] = {0};
  wchar_t country[10] = {0};
  GetLocaleInfoW(lcid, LOCALE_SISO639LANGNAME, language, 9);
  GetLocaleInfoW(lcid, LOCALE_SISO3166CTRYNAME, country, 9);
  return std::wstring(language) + L"-" + country;
}

std::wstring HttpLangHeaderForTag(const std::wstring& tag) {
  const wchar_t* kept = L"en-US";
  for (const wchar_t* t : {L"zh-CN", L"zh-TW", L"ja-JP"}) {
    if (tag == t) kept = t;
  }
  return std::wstring(L"Accept-Language: ") + kept;
}

std::wstring GetHttpLangHeader() { return HttpLangHeaderForTag(GetUILanguageTag()); }

std::wstring GetHttpAuthHeader(const std::string& user, const std::string& password) {
  const std::string joined = user + ":" + password;
  std::unique_ptr<char[]> encoded = Base64EncodeAlloc(joined.data(), joined.size());
  if (!encoded) {
    ZtLogger::Instance().Error("GetHttpAuthHeader failed");
    return std::wstring();
  }
  return L"Authorization: Basic " + cl::AnsiToWide(encoded.get());
}

// ---------------------------------------------------------------- BEServiceUtil

BEServiceUtil::BEServiceUtil() : userAgent_(BackendUserAgent()), baseUrl_(BackendBaseUrl()) {}

BEServiceUtil::~BEServiceUtil() { Reset(); }

void BEServiceUtil::Reset() {
  client_.reset();
  method_.clear();
  replyText_.clear();
  url_.clear();
  headers_.clear();
  body_.clear();
}

const char* BEServiceUtil::GetOpName(int op) {
  switch (op) {
    case BESOP_DEVINIT: return "devinit";
    case BESOP_CREATEMT: return "create_mirroringid";
    case BESOP_UPDATEMT: return "update_mirroringid";
    case BESOP_QUERYMT: return "query_mirroringid";
    case BESOP_DELETEMT: return "delete_mirroringid";
    case BESOP_GETRELAYINFO: return "get_relayinfo";
    case BESOP_GETSERVICETOKENINFO: return "get_service_token_info";
    default: return "unhandled_command";
  }
}

void BEServiceUtil::BeginOp(int op) {
  op_ = op;
  baseUrl_ = BackendBaseUrl() + ((op == BESOP_GETRELAYINFO || op == BESOP_GETSERVICETOKENINFO)
                                     ? L"v3/"
                                     : L"v2/");
}

int BEServiceUtil::Execute(BEServiceRequest* request, int op) {
  ZtLogger& log = ZtLogger::Instance();
  BeginOp(op);
  int code = CheckParameter(request);
  if (code != 0) {
    log.Error("[OP_%d] check parameter failed: %d", op, code);
    return code;
  }
  code = SendRequest();
  if (code != 0) {
    log.Error("[OP_%d] Send http req failed: %d", op, code);
    return code;
  }
  const int status = ReadResponse();
  if (NeedParse() && !ParseResponse()) log.Error("[OP_%d] Parse XML file failed", op);
  return status == 200 ? 0 : status;
}

int BEServiceUtil::CheckParameter(BEServiceRequest* r) {
  ZtLogger& log = ZtLogger::Instance();
  bool ok = false;
  const char* message = nullptr;
  if (r) {
    switch (op_) {
      case BESOP_DEVINIT:
        ok = !r->machineId.empty() && !r->hostName.empty() && !r->platform.empty();
        message = "Invalid dev_init parameter: %d";
        break;
      case BESOP_CREATEMT:
        ok = !r->user.empty() && !r->password.empty() && !r->machineId.empty();
        message = "Invalid create meeting token parameter: %d";
        break;
      case BESOP_UPDATEMT:
        ok = !r->user.empty() && !r->password.empty() && !r->meetingToken.empty() &&
             (r->meetingStatus <= 0 || !r->meetingDesc.empty());
        message = "Invalid update meeting token parameter: %d";
        break;
      case BESOP_QUERYMT:
        ok = !r->user.empty() && !r->password.empty() && !r->meetingToken.empty();
        message = "Invalid query meeting token parameter: %d";
        break;
      case BESOP_DELETEMT:
        ok = !r->user.empty() && !r->password.empty() && !r->meetingToken.empty();
        message = "Invalid delete meeting token parameter: %d";
        break;
      case BESOP_GETRELAYINFO:
        ok = !r->machineId.empty();
        message = "Invalid get relay parameter: %d";
        break;
      case BESOP_GETSERVICETOKENINFO:
        ok = !r->serviceToken.empty();
        message = "Invalid get service token parameter: %d";
        break;
      default:
        message = "Unhandled parameter check: %d";
        break;
    }
  } else {
    message = "Invalid request for parameter check: %d";
  }
  if (!ok) {
    log.Error(message, op_);
    return BESERVICE_E_PARAM;
  }
  request_ = r;
  return 0;
}

int BEServiceUtil::BuildRequestInfo(std::wstring& path, std::wstring& headers, std::string& body) {
  const BEServiceRequest& r = *request_;
  headers = L"Accept: */*\r\n";
  const std::wstring auth = GetHttpAuthHeader(r.user, r.password);
  auto withAuth = [&](const char* contentType) {
    std::wstring h = cl::AnsiToWide(contentType);
    if (!auth.empty()) h += L"\r\n" + auth;
    return h;
  };
  switch (op_) {
    case BESOP_DEVINIT:
      method_ = L"POST";
      path = L"dev_init";
      headers += cl::AnsiToWide(kFormContentType);
      body = "dev_name=" + UrlEncode(r.hostName) + "&dev_uuid=" + UrlEncode(r.machineId) +
             "&platform=" + UrlEncode(r.platform);
      break;
    case BESOP_CREATEMT:
      method_ = L"POST";
      path = L"service";
      headers += withAuth(kFormContentType);
      body = "service_id=6&mode=2&kind=2&dev_uuid=" + UrlEncode(r.machineId);
      break;
    case BESOP_UPDATEMT:
      method_ = L"PUT";
      path = L"service";
      headers += withAuth(kFormContentType);
      // The service's form of this call: status 1 whatever the meeting status.
      body = "token=" + UrlEncode(r.meetingToken) + "&status=1&desc=" + UrlEncode(r.meetingDesc);
      break;
    case BESOP_QUERYMT:
    case BESOP_DELETEMT:
      method_ = op_ == BESOP_QUERYMT ? L"GET" : L"DELETE";
      path = L"service/" + cl::AnsiToWide(PathSegmentEncode(r.meetingToken));
      headers += withAuth(kFormContentType);
      body = UrlEncode(r.meetingToken);
      break;
    case BESOP_GETRELAYINFO:
      method_ = L"POST";
      path = L"relay";
      headers += withAuth(kRelayContentType);
      body = "dev_uuid=" + UrlEncode(r.machineId);
      break;
    case BESOP_GETSERVICETOKENINFO:
      method_ = L"GET";
      path = L"service/" + cl::AnsiToWide(PathSegmentEncode(r.serviceToken));
      headers += auth;
      body = UrlEncode(r.serviceToken);
      break;
    default:
      ZtLogger::Instance().Error("Unhandled http req info: %d", op_);
      return BESERVICE_E_ALLOC;
  }
  return 0;
}

int BEServiceUtil::CreateHttpClient(const std::wstring& path) {
  url_ = baseUrl_ + path;
  client_.reset(new (std::nothrow) HttpClient(url_));
  if (!client_) {
    ZtLogger::Instance().Error("Create http client failed: %d", op_);
    return BESERVICE_E_ALLOC;
  }
  const BEServiceRequest& r = *request_;
  if (!r.proxyServer.empty()) client_->SetProxy(r.proxyServer, r.proxyBypass);
  if (r.proxyScheme != 0 && !r.proxyUser.empty() && !r.proxyPassword.empty())
    client_->SetProxyCredentials(r.proxyScheme, r.proxyUser, r.proxyPassword);
  return 0;
}

int BEServiceUtil::PrepareRequest() {
  ZtLogger& log = ZtLogger::Instance();
  std::wstring path;
  int code = BuildRequestInfo(path, headers_, body_);
  if (code != 0) {
    log.Error("Create http req info failed: %d", code);
    return code;
  }
  if (CreateHttpClient(path) != 0) {
    log.Error("Create http client failed: %d", op_);
    return BESERVICE_E_ALLOC;
  }
  client_->SetUserAgent(userAgent_);
  const std::wstring lang = GetHttpLangHeader();
  headers_ = headers_.empty() ? lang : headers_ + L"\r\n" + lang;
  if (!body_.empty()) headers_ += cl::FormatW(L"\r\nContent-Length: %u", static_cast<unsigned>(body_.size()));
  headers_ += L"\r\n";
  client_->SetRequestHeaders(headers_);
  if (!body_.empty()) client_->SetBody(body_.data(), static_cast<int>(body_.size()));
  return 0;
}

int BEServiceUtil::SendRequest() {
  ZtLogger& log = ZtLogger::Instance();
  const int code = PrepareRequest();
  if (code != 0) {
    log.Error("Create http req failed: %d", code);
    return code;
  }
  if (client_->Send(method_)) return 0;
  request_->sendFailed = 1;
  log.Error("Send http request failed: firsterr(%d), lasterr(%d)", client_->FirstError(),
            client_->LastError());
  client_.reset();
  return BESERVICE_E_SEND;
}

int BEServiceUtil::ReadResponse() {
  ZtLogger& log = ZtLogger::Instance();
  httpStatus_ = client_->StatusCode();
  replyText_ = client_->ResponseText();
  log.Info("Http[%s] response code: %d", GetOpName(op_), httpStatus_);
  std::string utf8 = cl::WideToUtf8(replyText_);
  if (utf8.size() > kLoggedReplyBytes) utf8 = utf8.substr(0, kLoggedReplyCut) + "......";
  log.Debug("Http response message: %s", utf8.c_str());
  client_.reset();
  return httpStatus_;
}

bool BEServiceUtil::NeedParse() {
  switch (op_) {
    case BESOP_DEVINIT:
    case BESOP_UPDATEMT:
    case BESOP_DELETEMT:
      return false;
    case BESOP_GETRELAYINFO:
    case BESOP_GETSERVICETOKENINFO:
      return true;
    case BESOP_CREATEMT:
    case BESOP_QUERYMT:
      return httpStatus_ == 200;
    default:
      ZtLogger::Instance().Error("Unhandled type for xml parse: %d", op_);
      return false;
  }
}

bool BEServiceUtil::ParseResponse() {
  ZtLogger& log = ZtLogger::Instance();
  if (replyText_.empty()) {
    log.Info("No http response: %d", op_);
    return false;
  }
  const bool xmlLoaded = xml_.LoadXML(replyText_);
  if (!xmlLoaded) log.Error("Invalid http xml response: %d", op_);
  const bool jsonLoaded = json_.Parse(cl::WideToUtf8(replyText_));
  if (!jsonLoaded) log.Error("Invalid http json response: %d", op_);
  if (!xmlLoaded && !jsonLoaded) return false;
  bool ok = false;
  switch (op_) {
    case BESOP_DEVINIT: ok = true; break;
    case BESOP_CREATEMT: ok = httpStatus_ == 200 && ParseServiceToken(); break;
    case BESOP_QUERYMT: ok = httpStatus_ == 200 && ParseServiceDuration(); break;
    case BESOP_GETRELAYINFO:
      ok = jsonLoaded && request_ &&
           ParseJsonResponse_GetRelayInfo(json_.GetRoot(), request_->relayInfo, request_->errorText);
      break;
    case BESOP_GETSERVICETOKENINFO: ok = jsonLoaded && ParseJsonServiceTokenInfo(); break;
    case BESOP_UPDATEMT:
    case BESOP_DELETEMT: ok = xmlLoaded; break;
    default:
      log.Error("Unhandled type for xml parse: %d", op_);
      ok = xmlLoaded;
      break;
  }
  if (!ok) log.Error("Parse http xml response failed: [OP]%d/[HttpCode]%d", op_, httpStatus_);
  return ok;
}

bool BEServiceUtil::ParseServiceToken() {
  ZtLogger& log = ZtLogger::Instance();
  if (!xml_.SelectSingleNode(L"service")) {
    log.Error("No service info in xml");
    return false;
  }
  const std::wstring token = xml_.GetElementAttribute(L"service", L"token");
  if (token.empty()) {
    log.Error("Service token is empty!");
    return false;
  }
  const std::string ansi = cl::WideToAnsi(token);
  log.Debug("Token is: %s", ansi.c_str());
  if (request_) request_->meetingToken = ansi;
  return true;
}

bool BEServiceUtil::ParseServiceDuration() {
  ZtLogger& log = ZtLogger::Instance();
  if (!xml_.SelectSingleNode(L"service")) {
    log.Error("No service info in xml");
    return false;
  }
  const std::wstring duration = xml_.GetElementText(L"duration");
  if (duration.empty()) {
    log.Error("duration is empty");
    return false;
  }
  log.Debug("duration is: %s", cl::WideToAnsi(duration).c_str());
  if (request_) request_->tokenDuration = duration;
  return true;
}

bool BEServiceUtil::ParseJsonResult() {
  std::wstring text;
  const bool error = JsonReplyIsError(json_.GetRoot(), text);
  if (error && request_) request_->errorText = text;
  return error;
}

bool BEServiceUtil::ParseJsonServiceTokenInfo() {
  if (!request_) return false;
  return ReadServiceTokenInfo(json_.GetRoot(), BackendUserAgent(), request_->serviceTokenInfo,
                              request_->errorText);
}

// ---------------------------------------------------------------- holder

BEServiceHolder::BEServiceHolder() {
  util_.reset(new (std::nothrow) BEServiceUtil());
  if (!util_) ZtLogger::Instance().Error("Create BEServiceUtil object failed");
}

BEServiceHolder::~BEServiceHolder() {
  if (util_) util_->Reset();
}
