#include "foundation/firewall/WinFirewall.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "NetFwStubs.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"
#include "support/TempDir.h"

namespace {

// ---------------------------------------------------------------- fakes
// One firewall's state, shared by the fake objects that stand for it.

struct FakeRule {
  std::wstring name, description, application, interfaces;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  LONG profiles = 0;
  bool enabled = false;
};

struct FakeApp {
  std::wstring path, name;
  bool enabled = true;
};

struct FirewallState {
  int os = OSVER_WIN10;
  bool hasPolicy2 = true;
  bool hasManager = true;
  HRESULT enabledQuery = S_OK;  // get_FirewallEnabled of the old profile
  bool firewallOn = true;
  HRESULT removeResult = S_OK;  // what Remove answers
  bool removeKeeps = false;     // Remove answers S_OK and keeps the rule
  std::vector<FakeRule> rules;
  std::vector<FakeApp> apps;
  int removeCalls = 0;
};

class RuleObject : public StubNetFwRule {
 public:
  FakeRule r;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override { return r.name = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_Description(BSTR v) override { return r.description = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR v) override { return r.application = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR v) override { return r.interfaces = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION v) override { return r.action = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION v) override { return r.direction = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_Profiles(LONG v) override { return r.profiles = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL v) override { return r.enabled = v != VARIANT_FALSE, S_OK; }
};

class RulesObject : public StubNetFwRules {
 public:
  explicit RulesObject(FirewallState& s) : s_(s) {}
  HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
    s_.rules.push_back(static_cast<RuleObject*>(rule)->r);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** out) override {
    for (const FakeRule& r : s_.rules) {
      if (r.name == name) {
        auto* o = new RuleObject;
        o->r = r;
        *out = o;
        return S_OK;
      }
    }
    *out = nullptr;
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
    ++s_.removeCalls;
    if (FAILED(s_.removeResult) || s_.removeKeeps) return s_.removeResult;
    for (auto it = s_.rules.begin(); it != s_.rules.end(); ++it) {
      if (it->name == name) {
        s_.rules.erase(it);
        break;
      }
    }
    return S_OK;
  }

 private:
  FirewallState& s_;
};

class Policy2Object : public StubNetFwPolicy2 {
 public:
  explicit Policy2Object(FirewallState& s) : s_(s) {}
  HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** out) override {
    *out = new RulesObject(s_);
    return S_OK;
  }

 private:
  FirewallState& s_;
};

class AppObject : public StubNetFwAuthorizedApplication {
 public:
  FakeApp a;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR v) override { return a.name = v, S_OK; }
  HRESULT STDMETHODCALLTYPE put_ProcessImageFileName(BSTR v) override { return a.path = v, S_OK; }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* v) override {
    *v = a.enabled ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
};

class AppsObject : public StubNetFwAuthorizedApplications {
 public:
  explicit AppsObject(FirewallState& s) : s_(s) {}
  HRESULT STDMETHODCALLTYPE Add(INetFwAuthorizedApplication* app) override {
    s_.apps.push_back(static_cast<AppObject*>(app)->a);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(BSTR path, INetFwAuthorizedApplication** out) override {
    for (const FakeApp& a : s_.apps) {
      if (a.path == path) {
        auto* o = new AppObject;
        o->a = a;
        *out = o;
        return S_OK;
      }
    }
    *out = nullptr;
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT STDMETHODCALLTYPE Remove(BSTR path) override {
    ++s_.removeCalls;
    if (FAILED(s_.removeResult)) return s_.removeResult;
    for (auto it = s_.apps.begin(); it != s_.apps.end(); ++it) {
      if (it->path == path) {
        s_.apps.erase(it);
        return S_OK;
      }
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }

 private:
  FirewallState& s_;
};

class ProfileObject : public StubNetFwProfile {
 public:
  explicit ProfileObject(FirewallState& s) : s_(s) {}
  HRESULT STDMETHODCALLTYPE get_AuthorizedApplications(INetFwAuthorizedApplications** out) override {
    *out = new AppsObject(s_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(VARIANT_BOOL* v) override {
    *v = s_.firewallOn ? VARIANT_TRUE : VARIANT_FALSE;
    return s_.enabledQuery;
  }

 private:
  FirewallState& s_;
};

class PolicyObject : public StubNetFwPolicy {
 public:
  explicit PolicyObject(FirewallState& s) : s_(s) {}
  HRESULT STDMETHODCALLTYPE get_CurrentProfile(INetFwProfile** out) override {
    *out = new ProfileObject(s_);
    return S_OK;
  }

 private:
  FirewallState& s_;
};

class ManagerObject : public StubNetFwMgr {
 public:
  explicit ManagerObject(FirewallState& s) : s_(s) {}
  HRESULT STDMETHODCALLTYPE get_LocalPolicy(INetFwPolicy** out) override {
    *out = new PolicyObject(s_);
    return S_OK;
  }

 private:
  FirewallState& s_;
};

// The rule factory and object source of one fake firewall.
class FakeFirewallObjects : public IFirewallObjects {
 public:
  FirewallState s;
  HRESULT CreatePolicy2(INetFwPolicy2** out) override {
    if (!s.hasPolicy2) return REGDB_E_CLASSNOTREG;
    *out = new Policy2Object(s);
    return S_OK;
  }
  HRESULT CreateManager(INetFwMgr** out) override {
    if (!s.hasManager) return REGDB_E_CLASSNOTREG;
    *out = new ManagerObject(s);
    return S_OK;
  }
  HRESULT CreateRule(INetFwRule** out) override {
    *out = new RuleObject;
    return S_OK;
  }
  HRESULT CreateAuthorizedApplication(INetFwAuthorizedApplication** out) override {
    *out = new AppObject;
    return S_OK;
  }
  int OsVersionCode() override { return s.os; }
};

const wchar_t kPath[] = L"C:\\Program Files\\Tessarine\\Tessarine.exe";
const wchar_t kName[] = L"Tessarine";

FakeRule Rule(const wchar_t* name, const wchar_t* app = kPath) {
  FakeRule r;
  r.name = name;
  r.application = app;
  return r;
}

size_t Count(const std::vector<FakeRule>& rules, const wchar_t* name) {
  size_t n = 0;
  for (const FakeRule& r : rules) n += r.name == name;
  return n;
}

// The process's log, started once for the suite.
std::wstring LogPath() {
  static TempDir* dir = new TempDir;  // outlives the tests
  static std::wstring path = dir->file(L"firewall.log");
  static bool started = [] {
    ZtLogger::Instance().Init(const_cast<wchar_t*>(path.c_str()));
    return true;
  }();
  (void)started;
  return path;
}

std::string LogText() {
  std::string text;
  FILE* f = _wfopen(LogPath().c_str(), L"rb");
  if (!f) return text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

}  // namespace

TEST(WinFirewall, RulesFromWindows7On) {
  FakeFirewallObjects fw;
  fw.s.rules.push_back(Rule(L"Other program"));
  {
    CWinFirewall firewall(fw);
    ASSERT_EQ(S_OK, firewall.Initialize());
    EXPECT_EQ(S_OK, firewall.AddApplication(kPath, kName));
    EXPECT_EQ(S_OK, firewall.AddApplication(kPath, kName));  // twice: still one rule
  }
  ASSERT_EQ(1u, Count(fw.s.rules, kName));
  const FakeRule& r = fw.s.rules.back();
  EXPECT_EQ(kName, r.name);
  EXPECT_EQ(kName, r.description);
  EXPECT_EQ(kPath, r.application);
  EXPECT_EQ(L"All", r.interfaces);
  EXPECT_EQ(NET_FW_ACTION_ALLOW, r.action);
  EXPECT_EQ(NET_FW_RULE_DIR_IN, r.direction);
  EXPECT_EQ(0x7FFFFFFF, r.profiles);
  EXPECT_TRUE(r.enabled);
  EXPECT_TRUE(fw.s.apps.empty());

  // Removing takes every rule of the name, also another program's.
  fw.s.rules.push_back(Rule(kName, L"C:\\elsewhere\\other.exe"));
  fw.s.rules.push_back(Rule(kName));
  CWinFirewall firewall(fw);
  ASSERT_EQ(S_OK, firewall.Initialize());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), firewall.RemoveApplication(kPath, kName));
  EXPECT_EQ(0u, Count(fw.s.rules, kName));
  EXPECT_EQ(1u, fw.s.rules.size());
  EXPECT_EQ(3, fw.s.removeCalls);
}

TEST(WinFirewall, RemovalStopsWhenTheFirewallRefusesOrIgnoresIt) {
  const struct {
    HRESULT removeResult;
    bool keeps;
    HRESULT expected;
    int calls;
  } cases[] = {
      {E_ACCESSDENIED, false, E_ACCESSDENIED, 1},                  // not elevated
      {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), false, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), 1},
      {S_OK, true, E_ABORT, kMaxRuleRemovals},                     // claims success, keeps the rule
  };
  for (const auto& c : cases) {
    FakeFirewallObjects fw;
    fw.s.rules = {Rule(kName), Rule(kName)};
    fw.s.removeResult = c.removeResult;
    fw.s.removeKeeps = c.keeps;
    CWinFirewall firewall(fw);
    ASSERT_EQ(S_OK, firewall.Initialize());
    EXPECT_EQ(c.expected, firewall.RemoveApplication(kPath, kName));
    EXPECT_EQ(c.calls, fw.s.removeCalls);
    EXPECT_EQ(2u, fw.s.rules.size());
  }
}

TEST(WinFirewall, AuthorizedApplicationsBeforeWindows7) {
  // Vista takes the old path although the policy object exists.
  for (int os : {OSVER_OTHER, OSVER_VISTA}) {
    FakeFirewallObjects fw;
    fw.s.os = os;
    CWinFirewall firewall(fw);
    ASSERT_EQ(S_OK, firewall.Initialize());
    EXPECT_TRUE(firewall.policy2);
    EXPECT_EQ(S_OK, firewall.AddApplication(kPath, kName));
    EXPECT_EQ(S_OK, firewall.AddApplication(kPath, kName));
    ASSERT_EQ(1u, fw.s.apps.size());
    EXPECT_EQ(kPath, fw.s.apps[0].path);
    EXPECT_EQ(kName, fw.s.apps[0].name);
    EXPECT_TRUE(fw.s.rules.empty());
    bool enabled = false;
    EXPECT_EQ(S_OK, firewall.IsAppEnabled(kPath, &enabled));
    EXPECT_TRUE(enabled);
    EXPECT_EQ(S_OK, firewall.RemoveApplication(kPath, kName));
    EXPECT_TRUE(fw.s.apps.empty());
    EXPECT_EQ(S_OK, firewall.IsAppEnabled(kPath, &enabled));
    EXPECT_FALSE(enabled);
  }
  // A listed but disabled application is added again.
  FakeFirewallObjects fw;
  fw.s.os = OSVER_VISTA;
  fw.s.apps.push_back({kPath, L"old", false});
  CWinFirewall firewall(fw);
  ASSERT_EQ(S_OK, firewall.Initialize());
  EXPECT_EQ(S_OK, firewall.AddApplication(kPath, kName));
  EXPECT_EQ(2u, fw.s.apps.size());
}

TEST(WinFirewall, MissingInterfacesChangeNothing) {
  const struct {
    int os;
    bool policy2, manager;
    HRESULT init;
  } cases[] = {
      {OSVER_WIN10, false, true, S_OK},
      {OSVER_WIN7, false, false, REGDB_E_CLASSNOTREG},
      {OSVER_VISTA, true, false, REGDB_E_CLASSNOTREG},
      {OSVER_OTHER, false, false, REGDB_E_CLASSNOTREG},
  };
  for (const auto& c : cases) {
    FakeFirewallObjects fw;
    fw.s.os = c.os;
    fw.s.hasPolicy2 = c.policy2;
    fw.s.hasManager = c.manager;
    fw.s.rules = {Rule(kName)};
    fw.s.apps = {{kPath, kName, true}};
    CWinFirewall firewall(fw);
    EXPECT_EQ(c.init, firewall.Initialize()) << c.os;
    EXPECT_EQ(kFirewallNoInterface, firewall.AddApplication(kPath, L"new"));
    EXPECT_EQ(kFirewallNoInterface, firewall.RemoveApplication(kPath, kName));
    EXPECT_EQ(1u, fw.s.rules.size());
    EXPECT_EQ(1u, fw.s.apps.size());
  }
}

TEST(FirewallRule, EnableAndRemoveDecideAndLog) {
  LogPath();
  const std::string path = "C:\\Program Files\\Tessarine\\Tessarine.exe";
  const struct {
    HRESULT query;
    bool on;
    bool manager;
    const char* line;
    size_t rulesAfter;
  } cases[] = {
      {S_OK, true, true, "EnableWinFireWall ADD(Tessarine, ", 1},
      {S_OK, false, true, "EnableWinFireWall ADD(Tessarine, ", 1},  // off: added all the same
      {E_FAIL, true, true, "EnableWinFireWall skip ADD(on=0, skip=1): 0x80004005", 0},
      {S_OK, true, false, "EnableWinFireWall error on INIT: 0x80040154", 0},
  };
  for (const auto& c : cases) {
    FakeFirewallObjects fw;
    fw.s.enabledQuery = c.query;
    fw.s.firewallOn = c.on;
    fw.s.hasManager = c.manager;
    size_t before = LogText().size();
    EnableWinFireWall(fw, std::wstring(path.begin(), path.end()), kName);
    std::string added = LogText().substr(before);
    EXPECT_NE(std::string::npos, added.find(c.line)) << added;
    if (c.rulesAfter) {
      EXPECT_NE(std::string::npos, added.find(path + "): 0x0")) << added;
    }
    EXPECT_EQ(c.rulesAfter, fw.s.rules.size());
  }

  FakeFirewallObjects fw;
  fw.s.rules = {Rule(kName)};
  size_t before = LogText().size();
  RemoveWinFireWall(fw, std::wstring(path.begin(), path.end()), kName);
  EXPECT_NE(std::string::npos, LogText().substr(before).find("RemoveWinFireWall DEL(Tessarine, " + path +
                                                            "): 0x80070002"));
  EXPECT_TRUE(fw.s.rules.empty());

  fw.s.hasManager = false;
  before = LogText().size();
  RemoveWinFireWall(fw, L"x.exe", kName);
  EXPECT_NE(std::string::npos, LogText().substr(before).find("RemoveWinFireWall error on INIT: 0x80040154"));
}

// Wine's firewall objects are stubs (no rule is ever kept): this only shows
// that the real objects are made, called and let go without failing or
// hanging, and that the one-call reset logs both steps.
TEST(FirewallRule, RealObjectsSmoke) {
  LogPath();
  {
    CWinFirewall firewall;
    EXPECT_EQ(S_OK, firewall.Initialize());
    EXPECT_TRUE(firewall.policy2);
    EXPECT_TRUE(firewall.profile);
    EXPECT_TRUE(SUCCEEDED(firewall.AddApplication(GetModuleFilePath().c_str(), L"Tessarine test")));
    firewall.RemoveApplication(GetModuleFilePath().c_str(), L"Tessarine test");
  }
  EXPECT_EQ(L"Tessarine", FirewallRuleName());
  size_t before = LogText().size();
  ResetWinFireWallRule();
  std::string added = LogText().substr(before);
  EXPECT_NE(std::string::npos, added.find("RemoveWinFireWall DEL(Tessarine, ")) << added;
  EXPECT_NE(std::string::npos, added.find("EnableWinFireWall ADD(Tessarine, ")) << added;
}
