#include "foundation/firewall/WinFirewall.h"

#include <oleauto.h>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

namespace {

constexpr UINT kRuleNameStringId = 139;
constexpr LONG kAllProfiles = 0x7FFFFFFF;

// A BSTR owned for one call.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : s_(SysAllocString(text ? text : L"")) {}
  ~Bstr() { SysFreeString(s_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return s_; }
  bool valid() const { return s_ != nullptr; }

 private:
  BSTR s_;
};

class SystemObjects : public IFirewallObjects {
 public:
  HRESULT CreatePolicy2(INetFwPolicy2** out) override {
    return CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                            __uuidof(INetFwPolicy2), reinterpret_cast<void**>(out));
  }
  HRESULT CreateManager(INetFwMgr** out) override {
    return CoCreateInstance(__uuidof(NetFwMgr), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwMgr),
                            reinterpret_cast<void**>(out));
  }
  HRESULT CreateRule(INetFwRule** out) override {
    return CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule),
                            reinterpret_cast<void**>(out));
  }
  HRESULT CreateAuthorizedApplication(INetFwAuthorizedApplication** out) override {
    return CoCreateInstance(__uuidof(NetFwAuthorizedApplication), nullptr, CLSCTX_INPROC_SERVER,
                            __uuidof(INetFwAuthorizedApplication), reinterpret_cast<void**>(out));
  }
  int OsVersionCode() override { return GetOSVersionCodeEx(); }
};

HRESULT AuthorizedApplications(INetFwProfile* profile, cl::ComPtr<INetFwAuthorizedApplications>& apps) {
  HRESULT hr = profile->get_AuthorizedApplications(apps.put());
  if (SUCCEEDED(hr) && !apps) hr = E_POINTER;
  return hr;
}

HRESULT Rules(INetFwPolicy2* policy, cl::ComPtr<INetFwRules>& rules) {
  HRESULT hr = policy->get_Rules(rules.put());
  if (SUCCEEDED(hr) && !rules) hr = E_POINTER;
  return hr;
}

}  // namespace

IFirewallObjects& SystemFirewallObjects() {
  static SystemObjects objects;
  return objects;
}

CWinFirewall::CWinFirewall(IFirewallObjects& objects) : objects_(objects) {
  comInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

CWinFirewall::~CWinFirewall() {
  ReleaseInterfaces();
  if (SUCCEEDED(comInit)) CoUninitialize();
}

void CWinFirewall::ReleaseInterfaces() {
  profile.reset();
  policy2.reset();
}

bool CWinFirewall::BeforeWindows7() { return objects_.OsVersionCode() < OSVER_WIN7; }

HRESULT CWinFirewall::Initialize() {
  if (FAILED(objects_.CreatePolicy2(policy2.put()))) policy2.reset();
  cl::ComPtr<INetFwMgr> manager;
  HRESULT hr = objects_.CreateManager(manager.put());
  if (FAILED(hr)) return hr;
  if (!manager) return E_POINTER;
  cl::ComPtr<INetFwPolicy> policy;
  hr = manager->get_LocalPolicy(policy.put());
  if (FAILED(hr)) return hr;
  if (!policy) return E_POINTER;
  hr = policy->get_CurrentProfile(profile.put());
  if (SUCCEEDED(hr) && !profile) hr = E_POINTER;
  return hr;
}

HRESULT CWinFirewall::IsAppEnabled(const wchar_t* imagePath, bool* enabled) {
  if (!profile) return kFirewallNoInterface;
  *enabled = false;
  cl::ComPtr<INetFwAuthorizedApplications> apps;
  HRESULT hr = AuthorizedApplications(profile.get(), apps);
  if (FAILED(hr)) return hr;
  Bstr path(imagePath);
  cl::ComPtr<INetFwAuthorizedApplication> app;
  if (FAILED(apps->Item(path.get(), app.put())) || !app) return S_OK;
  VARIANT_BOOL on = VARIANT_FALSE;
  hr = app->get_Enabled(&on);
  if (SUCCEEDED(hr)) *enabled = on != VARIANT_FALSE;
  return hr;
}

HRESULT CWinFirewall::RuleExists(INetFwRules* rules, const wchar_t* name, bool* exists) {
  Bstr n(name);
  cl::ComPtr<INetFwRule> rule;
  *exists = SUCCEEDED(rules->Item(n.get(), rule.put()));
  return S_OK;
}

HRESULT CWinFirewall::AddRule(INetFwRules* rules, const wchar_t* imagePath, const wchar_t* name) {
  cl::ComPtr<INetFwRule> rule;
  HRESULT hr = objects_.CreateRule(rule.put());
  if (FAILED(hr)) return hr;
  if (!rule) return E_POINTER;
  Bstr n(name), path(imagePath), interfaces(L"All");
  rule->put_Name(n.get());
  rule->put_Description(n.get());
  rule->put_ApplicationName(path.get());
  rule->put_Action(NET_FW_ACTION_ALLOW);
  rule->put_Direction(NET_FW_RULE_DIR_IN);
  rule->put_InterfaceTypes(interfaces.get());
  rule->put_Profiles(kAllProfiles);
  rule->put_Enabled(VARIANT_TRUE);
  return rules->Add(rule.get());
}

HRESULT CWinFirewall::AddApplication(const wchar_t* imagePath, const wchar_t* name) {
  if (BeforeWindows7()) {
    if (!profile) return kFirewallNoInterface;
    bool enabled = false;
    HRESULT hr = IsAppEnabled(imagePath, &enabled);
    if (FAILED(hr) || enabled) return hr;
    cl::ComPtr<INetFwAuthorizedApplication> app;
    hr = objects_.CreateAuthorizedApplication(app.put());
    if (FAILED(hr)) return hr;
    if (!app) return E_POINTER;
    Bstr path(imagePath), n(name);
    hr = app->put_ProcessImageFileName(path.get());
    if (FAILED(hr)) return hr;
    hr = app->put_Name(n.get());
    if (FAILED(hr)) return hr;
    cl::ComPtr<INetFwAuthorizedApplications> apps;
    hr = AuthorizedApplications(profile.get(), apps);
    if (FAILED(hr)) return hr;
    return apps->Add(app.get());
  }
  if (!policy2) return kFirewallNoInterface;
  cl::ComPtr<INetFwRules> rules;
  HRESULT hr = Rules(policy2.get(), rules);
  if (FAILED(hr)) return hr;
  bool exists = false;
  RuleExists(rules.get(), name, &exists);
  if (exists) return S_OK;
  return AddRule(rules.get(), imagePath, name);
}

HRESULT CWinFirewall::RemoveApplication(const wchar_t* imagePath, const wchar_t* name) {
  if (BeforeWindows7()) {
    if (!profile) return kFirewallNoInterface;
    cl::ComPtr<INetFwAuthorizedApplications> apps;
    HRESULT hr = AuthorizedApplications(profile.get(), apps);
    if (FAILED(hr)) return hr;
    Bstr path(imagePath);
    return apps->Remove(path.get());
  }
  if (!policy2) return kFirewallNoInterface;
  cl::ComPtr<INetFwRules> rules;
  HRESULT hr = Rules(policy2.get(), rules);
  if (FAILED(hr)) return hr;
  Bstr n(name);
  for (int removed = 0; removed < kMaxRuleRemovals; ++removed) {
    cl::ComPtr<INetFwRule> rule;
    hr = rules->Item(n.get(), rule.put());
    if (FAILED(hr)) return hr;
    // A refused removal (not elevated, policy locked) would be refused again.
    hr = rules->Remove(n.get());
    if (FAILED(hr)) return hr;
  }
  return E_ABORT;
}

// ---------------------------------------------------------------------------
// The program's rule

std::wstring FirewallRuleName() {
  const wchar_t* text = nullptr;
  int n = LoadStringW(GetModuleHandleW(nullptr), kRuleNameStringId, reinterpret_cast<wchar_t*>(&text), 0);
  if (n > 0 && text) return std::wstring(text, static_cast<size_t>(n));
  return L"Tessarine";
}

HRESULT RemoveWinFireWall(IFirewallObjects& objects, const std::wstring& imagePath,
                          const std::wstring& name) {
  HRESULT comResult = CoInitialize(nullptr);
  HRESULT hr;
  {
    CWinFirewall firewall(objects);
    hr = firewall.Initialize();
    if (FAILED(hr)) {
      ZtLogger::Instance().Error("RemoveWinFireWall error on INIT: 0x%x", static_cast<unsigned>(hr));
    } else {
      hr = firewall.RemoveApplication(imagePath.c_str(), name.c_str());
      ZtLogger::Instance().Info("RemoveWinFireWall DEL(%s, %s): 0x%x", cl::WideToAnsi(name).c_str(),
                                cl::WideToAnsi(imagePath).c_str(), static_cast<unsigned>(hr));
    }
    firewall.ReleaseInterfaces();
  }
  if (SUCCEEDED(comResult)) CoUninitialize();
  return hr;
}

HRESULT EnableWinFireWall(IFirewallObjects& objects, const std::wstring& imagePath,
                          const std::wstring& name) {
  HRESULT comResult = CoInitialize(nullptr);
  HRESULT hr;
  {
    CWinFirewall firewall(objects);
    hr = firewall.Initialize();
    if (FAILED(hr)) {
      ZtLogger::Instance().Error("EnableWinFireWall error on INIT: 0x%x", static_cast<unsigned>(hr));
    } else {
      hr = S_FALSE;
      int on = 0;
      if (firewall.profile) {
        VARIANT_BOOL enabled = VARIANT_FALSE;
        hr = firewall.profile->get_FirewallEnabled(&enabled);
        if (SUCCEEDED(hr)) on = enabled != VARIANT_FALSE;
      }
      if (FAILED(hr)) {
        ZtLogger::Instance().Error("EnableWinFireWall skip ADD(on=%d, skip=%d): 0x%x", on, 1,
                                   static_cast<unsigned>(hr));
      } else {
        // A firewall that is off now may be switched on later: add anyway.
        hr = firewall.AddApplication(imagePath.c_str(), name.c_str());
        ZtLogger::Instance().Info("EnableWinFireWall ADD(%s, %s): 0x%x", cl::WideToAnsi(name).c_str(),
                                  cl::WideToAnsi(imagePath).c_str(), static_cast<unsigned>(hr));
      }
    }
    firewall.ReleaseInterfaces();
  }
  if (SUCCEEDED(comResult)) CoUninitialize();
  return hr;
}

HRESULT RemoveWinFireWall() {
  return RemoveWinFireWall(SystemFirewallObjects(), GetModuleFilePath(), FirewallRuleName());
}

HRESULT EnableWinFireWall() {
  return EnableWinFireWall(SystemFirewallObjects(), GetModuleFilePath(), FirewallRuleName());
}

void ResetWinFireWallRule() {
  RemoveWinFireWall();
  EnableWinFireWall();
}
