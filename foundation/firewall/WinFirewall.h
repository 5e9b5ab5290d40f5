// Admitting the program's own executable through the Windows Firewall.
//
// Before Windows 7 (as the compatibility layer reports it) the old profile
// interface's authorized-applications list is used; from Windows 7 on, an
// inbound allow rule per program in the rules of the firewall policy. The
// object belongs to the thread that made it (its COM apartment).
#pragma once

#include <windows.h>
#include <netfw.h>

#include <string>

#include "classlib/ComPtr.h"

// Where the firewall's COM objects come from: the system's in-process
// servers, or fakes in tests.
class IFirewallObjects {
 public:
  virtual ~IFirewallObjects() = default;
  virtual HRESULT CreatePolicy2(INetFwPolicy2** out) = 0;
  virtual HRESULT CreateManager(INetFwMgr** out) = 0;
  virtual HRESULT CreateRule(INetFwRule** out) = 0;
  virtual HRESULT CreateAuthorizedApplication(INetFwAuthorizedApplication** out) = 0;
  // The Windows version code the compatibility layer reports (GetOSVersionCodeEx).
  virtual int OsVersionCode() = 0;
};

IFirewallObjects& SystemFirewallObjects();

// Result of AddApplication / RemoveApplication when the interface the
// Windows version needs is missing.
constexpr HRESULT kFirewallNoInterface = 1;
// RemoveApplication gives up after this many removals of one name: a
// firewall that reports a removal without doing it must not hold the
// caller forever.
constexpr int kMaxRuleRemovals = 256;

class CWinFirewall {
 public:
  explicit CWinFirewall(IFirewallObjects& objects = SystemFirewallObjects());
  ~CWinFirewall();
  CWinFirewall(const CWinFirewall&) = delete;
  CWinFirewall& operator=(const CWinFirewall&) = delete;

  // policy2 (its failure ignored), then manager -> local policy -> current
  // profile; the result is the chain's first failure, or S_OK.
  HRESULT Initialize();
  HRESULT AddApplication(const wchar_t* imagePath, const wchar_t* name);
  // Every rule of that name goes (Windows 7 on); the result is the final,
  // failing lookup, or the first Remove the firewall refused.
  HRESULT RemoveApplication(const wchar_t* imagePath, const wchar_t* name);
  // Old interface: *enabled := whether the image is an enabled authorized
  // application (false and S_OK when it is not listed).
  HRESULT IsAppEnabled(const wchar_t* imagePath, bool* enabled);
  // *exists := a rule of that name can be looked up; always S_OK.
  HRESULT RuleExists(INetFwRules* rules, const wchar_t* name, bool* exists);
  // An inbound allow rule for the image on every profile and interface.
  HRESULT AddRule(INetFwRules* rules, const wchar_t* imagePath, const wchar_t* name);
  // Lets go of the firewall interfaces (before COM is uninitialised).
  void ReleaseInterfaces();

  HRESULT comInit;
  cl::ComPtr<INetFwProfile> profile;
  cl::ComPtr<INetFwPolicy2> policy2;

 private:
  bool BeforeWindows7();
  IFirewallObjects& objects_;
};

// The program's rule: removed and added for its own executable, named by
// string 139 of its string table. Results are logged; callers may ignore them.
HRESULT RemoveWinFireWall();
HRESULT EnableWinFireWall();
// The one-shot "-firewall" switch and the elevated start: the rule removed
// and added again.
void ResetWinFireWallRule();

// The same with given objects, image path and rule name.
HRESULT RemoveWinFireWall(IFirewallObjects& objects, const std::wstring& imagePath,
                          const std::wstring& name);
HRESULT EnableWinFireWall(IFirewallObjects& objects, const std::wstring& imagePath,
                          const std::wstring& name);
// String 139 of the program ("Tessarine" in its tables); "Tessarine" when
// the program carries no such string.
std::wstring FirewallRuleName();
