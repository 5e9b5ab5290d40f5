#include "foundation/browser/Browser.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/WaitFactor.h"

namespace {

std::wstring Wide(const char* text) { return std::wstring(text, text + strlen(text)); }

// A Linux path as Wine sees it on drive Z:.
std::wstring UnixToWindows(const std::string& path) {
  std::wstring out = L"Z:";
  for (char c : path) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return out;
}

const std::string kUnixBrowser = std::string(TESS_FAKE_BROWSER_DIR) + "/unix-browser.sh";
const std::wstring kUnixBrowserLog = UnixToWindows(std::string(TESS_FAKE_BROWSER_DIR) + "/unix-browser.log");

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  *wcsrchr(path, L'\\') = 0;
  return path;
}

std::string ReadText(const std::wstring& path) {
  std::string text;
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

// The arguments of the first complete launch logged at path (the stand-ins
// end each launch with "end"), waiting for it at most timeoutMs (stretched by
// the wait factor).
std::vector<std::string> WaitForLaunch(const std::wstring& path, DWORD timeoutMs = 30000) {
  timeoutMs = testwait::Ms(timeoutMs);
  const DWORD start = GetTickCount();
  for (;;) {
    std::string text = ReadText(path);
    size_t end = text.find("end\n");
    if (end != std::string::npos) {
      std::vector<std::string> args;
      size_t pos = 0;
      while (pos < end) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl - pos);
        if (line.rfind("arg: ", 0) == 0) args.push_back(line.substr(5));
        pos = nl + 1;
      }
      return args;
    }
    if (GetTickCount() - start > timeoutMs) return {"<no launch>"};
    Sleep(100);
  }
}

// A registry value saved on construction and put back on destruction.
class SavedValue {
 public:
  SavedValue(HKEY root, const wchar_t* key, const wchar_t* name) : root_(root), key_(key), name_(name ? name : L"") {
    HKEY k;
    if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
      BYTE buf[4096];
      DWORD size = sizeof(buf);
      if (RegQueryValueExW(k, Name(), nullptr, &type_, buf, &size) == ERROR_SUCCESS) {
        had_ = true;
        data_.assign(buf, buf + size);
      }
      RegCloseKey(k);
    }
  }
  ~SavedValue() {
    HKEY k;
    if (had_) {
      if (RegCreateKeyExW(root_, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(k, Name(), 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
        RegCloseKey(k);
      }
    } else if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
      RegDeleteValueW(k, Name());
      RegCloseKey(k);
    }
  }

 private:
  const wchar_t* Name() const { return name_.empty() ? nullptr : name_.c_str(); }
  HKEY root_;
  std::wstring key_, name_;
  bool had_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

void SetText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
}

void DeleteValue(HKEY root, const wchar_t* key, const wchar_t* name) {
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
    RegDeleteValueW(k, name);
    RegCloseKey(k);
  }
}

const wchar_t kUserClients[] = L"Software\\Clients\\StartMenuInternet";
const wchar_t kUserHttp[] = L"Software\\Classes\\http\\shell\\open\\command";
const wchar_t kFakeClientKey[] = L"SOFTWARE\\Clients\\StartMenuInternet\\TessFakeBrowser";
const wchar_t kFakeClientCommand[] = L"SOFTWARE\\Clients\\StartMenuInternet\\TessFakeBrowser\\Shell\\open\\command";

// The prefix's browser settings for one test: winebrowser hands addresses
// to the Linux stand-in; no user client or user http handler unless a test
// sets one; everything is put back afterwards.
class BrowserLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteFileW(kUnixBrowserLog.c_str());
    SetText(HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", L"Browsers", Wide(kUnixBrowser.c_str()));
    DeleteValue(HKEY_CURRENT_USER, kUserClients, nullptr);
    DeleteValue(HKEY_CURRENT_USER, kUserHttp, nullptr);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kFakeClientKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kFakeClientKey);
    DeleteFileW(kUnixBrowserLog.c_str());
  }
  // Registers a Windows stand-in as the user's chosen browser with this
  // command (the stand-in's path and its log are put in front).
  void ChooseFakeBrowser(const std::wstring& arguments) {
    SetText(HKEY_CURRENT_USER, kUserClients, nullptr, L"TessFakeBrowser");
    SetText(HKEY_LOCAL_MACHINE, kFakeClientCommand, nullptr,
            L"\"" + ProgramFolder() + L"\\browser-fake.exe\" --log \"" + FakeLog() + L"\" " + arguments);
  }
  std::wstring FakeLog() const { return dir_.file(L"fake.log"); }

  SavedValue browsers_{HKEY_CURRENT_USER, L"Software\\Wine\\WineBrowser", L"Browsers"};
  SavedValue userClient_{HKEY_CURRENT_USER, kUserClients, nullptr};
  SavedValue userHttp_{HKEY_CURRENT_USER, kUserHttp, nullptr};
  TempDir dir_;
};

}  // namespace

TEST(BrowserCommand, FirstNonEmptySourceWins) {
  // Bit k set: source k+1 has a command "cmdK+1".
  const struct {
    unsigned present;
    const wchar_t* expected;
  } cases[] = {{0x00, L""},     {0x3F, L"cmd1"}, {0x3E, L"cmd2"}, {0x3C, L"cmd3"},
               {0x38, L"cmd4"}, {0x30, L"cmd5"}, {0x20, L"cmd6"}, {0x12, L"cmd2"},
               {0x28, L"cmd4"}, {0x01, L"cmd1"}};
  for (const auto& c : cases) {
    std::vector<int> asked;
    auto source = [&](int k) {
      return [&, k] {
        asked.push_back(k);
        return (c.present >> (k - 1)) & 1 ? L"cmd" + std::to_wstring(k) : std::wstring();
      };
    };
    BrowserCommandSources s{source(1), source(2), source(3), source(4), source(5), source(6)};
    EXPECT_EQ(std::wstring(c.expected), GetBrowserCommand(s)) << c.present;
    // Sources after the winner are never asked (they may impersonate).
    EXPECT_EQ(c.expected[0] ? static_cast<size_t>(c.expected[3] - L'0') : 6u, asked.size()) << c.present;
  }
  BrowserCommandSources none;  // unset sources count as empty
  EXPECT_EQ(L"", GetBrowserCommand(none));
}

TEST(BrowserCommand, AddressChecksEscapingAndCommandLines) {
  const struct {
    const wchar_t* address;
    bool web;
  } addresses[] = {{L"http://example.com/", true}, {L"HTTPS://x", true},   {L"https://", false},
                   {L"http:/x", false},            {L"file:///C:/x", false}, {L"ftp://x", false},
                   {L"C:\\windows\\notepad.exe", false}, {L"javascript:alert(1)", false}, {L"", false}};
  for (const auto& a : addresses) EXPECT_EQ(a.web, IsWebAddress(a.address)) << std::string(a.address, a.address + wcslen(a.address));

  const struct {
    const wchar_t* in;
    const wchar_t* out;
  } escapes[] = {
      {L"https://h/p?q=1&r=%41#f", L"https://h/p?q=1&r=%41#f"},
      {L"http://h/a b\tc", L"http://h/a%20b%09c"},
      {L"http://h/\"x\" \\\\srv", L"http://h/%22x%22%20%5C%5Csrv"},
      {L"http://h/\r\n\x01\x7f", L"http://h/%0D%0A%01%7F"},
      {L"http://h/\x85\u00e9\u4e2d", L"http://h/%C2%85\u00e9\u4e2d"},
  };
  for (const auto& e : escapes) EXPECT_EQ(std::wstring(e.out), EscapeUrlForCommandLine(e.in));

  const struct {
    const wchar_t* command;
    const wchar_t* line;
  } commands[] = {
      {L"b.exe \"%1\" --x \"%1\"", L"b.exe \"http://h/\" --x \"http://h/\""},
      {L"\"C:\\b b\\b.exe\"", L"\"C:\\b b\\b.exe\" \"http://h/\""},
      {L"winebrowser %1", L"winebrowser http://h/"},
      {L"b.exe %2 %%1", L"b.exe %2 %http://h/"},
  };
  for (const auto& c : commands) EXPECT_EQ(std::wstring(c.line), BuildBrowserCommandLine(c.command, L"http://h/"));
}

TEST_F(BrowserLaunch, SystemSourcesReadTheRegistry) {
  // A fresh prefix's own handler: winebrowser with the placeholder.
  BrowserCommandSources system = SystemBrowserCommandSources();
  std::wstring machine = system.machineHttpHandler();
  EXPECT_NE(std::wstring::npos, machine.find(L"winebrowser")) << std::string(machine.begin(), machine.end());
  EXPECT_NE(std::wstring::npos, machine.find(L"%1"));
  EXPECT_EQ(L"", system.userChosenBrowser());

  ChooseFakeBrowser(L"\"%1\"");
  EXPECT_NE(std::wstring::npos, system.userChosenBrowser().find(L"browser-fake.exe"));
  EXPECT_EQ(system.userChosenBrowser(), GetBrowserCommand());

  // 519 characters fit, 520 do not (the source is then empty).
  SetText(HKEY_LOCAL_MACHINE, kFakeClientCommand, nullptr, std::wstring(519, L'a'));
  EXPECT_EQ(519u, system.userChosenBrowser().size());
  SetText(HKEY_LOCAL_MACHINE, kFakeClientCommand, nullptr, std::wstring(520, L'a'));
  EXPECT_EQ(L"", system.userChosenBrowser());

  SetText(HKEY_CURRENT_USER, kUserHttp, nullptr, L"userhttp.exe \"%1\"");
  EXPECT_EQ(L"userhttp.exe \"%1\"", system.userHttpHandler());
}

TEST_F(BrowserLaunch, WinebrowserGetsTheEscapedAddress) {
  ASSERT_TRUE(OpenUrlInBrowser(L"http://localhost/a b\"c\\d"));
  EXPECT_EQ(std::vector<std::string>{"http://localhost/a%20b%22c%5Cd"}, WaitForLaunch(kUnixBrowserLog));
}

TEST_F(BrowserLaunch, ChosenBrowserGetsTheAddressInEveryPlaceholder) {
  ChooseFakeBrowser(L"\"%1\" --again \"%1\"");
  ASSERT_TRUE(OpenUrlInBrowser(L"https://localhost/x?y=1 2"));
  const std::string a = "https://localhost/x?y=1%202";
  EXPECT_EQ((std::vector<std::string>{a, "--again", a}), WaitForLaunch(FakeLog()));
}

TEST_F(BrowserLaunch, ChosenBrowserWithoutPlaceholderGetsTheAddressAppended) {
  ChooseFakeBrowser(L"--new-window");
  ASSERT_TRUE(OpenUrlInBrowser(L"https://localhost/plain"));
  EXPECT_EQ((std::vector<std::string>{"--new-window", "https://localhost/plain"}), WaitForLaunch(FakeLog()));
}

TEST_F(BrowserLaunch, MissingProgramFallsBackToTheShell) {
  SetText(HKEY_CURRENT_USER, kUserClients, nullptr, L"TessFakeBrowser");
  SetText(HKEY_LOCAL_MACHINE, kFakeClientCommand, nullptr, L"\"C:\\nowhere\\missing.exe\" \"%1\"");
  ASSERT_TRUE(OpenUrlInBrowser(L"http://localhost/fallback"));
  EXPECT_EQ(std::vector<std::string>{"http://localhost/fallback"}, WaitForLaunch(kUnixBrowserLog));
}

TEST_F(BrowserLaunch, NoBrowserAnywhereLeavesItToTheShell) {
  BrowserCommandSources none;
  ASSERT_TRUE(OpenUrlInBrowser(L"http://localhost/shell only", none));
  EXPECT_EQ(std::vector<std::string>{"http://localhost/shell%20only"}, WaitForLaunch(kUnixBrowserLog));
}

TEST_F(BrowserLaunch, OnlyWebAddressesAreOpened) {
  ChooseFakeBrowser(L"\"%1\"");
  for (const wchar_t* address : {L"file:///C:/windows/notepad.exe", L"C:\\windows\\notepad.exe",
                                 L"mailto:a@b", L"\"http://x\""}) {
    EXPECT_FALSE(OpenUrlInBrowser(address));
  }
  // Nothing was started: the next launch is the first the stand-in sees.
  ASSERT_TRUE(OpenUrlInBrowser(L"https://localhost/after"));
  EXPECT_EQ(std::vector<std::string>{"https://localhost/after"}, WaitForLaunch(FakeLog()));
}
