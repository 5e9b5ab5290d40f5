// The main window's rules that need no window: which switch the command
// line asks for, what a typed text names, how the receiver maps are keyed,
// filled, emptied and filtered, what a lookup result does, the password
// prompt and the even capture area.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/DlgPreference.h"
#include "app/AppMessages.h"
#include "app/ReceiverMaps.h"

namespace {

TEST(CommandLine, OnlyExactLowerCaseSwitchesCountAndTheFirstInTableOrderWins) {
  struct Case {
    std::vector<std::wstring> args;  // without the program name
    OneTimeSwitch expected;
  } const cases[] = {
      {{}, OneTimeSwitch::kNone},
      {{L"-x"}, OneTimeSwitch::kExit},
      {{L"/x"}, OneTimeSwitch::kExit},
      {{L"-X"}, OneTimeSwitch::kNone},
      {{L"/X"}, OneTimeSwitch::kNone},
      {{L"x"}, OneTimeSwitch::kNone},  // not a switch: a file name
      {{L"--x"}, OneTimeSwitch::kNone},
      {{L"-xx"}, OneTimeSwitch::kNone},
      {{L"-autorun"}, OneTimeSwitch::kAutorun},
      {{L"-tkinstall"}, OneTimeSwitch::kTkInstall},
      {{L"-tkuninstall"}, OneTimeSwitch::kTkUninstall},
      {{L"-restartbj"}, OneTimeSwitch::kRestartBonjour},
      {{L"-firewall"}, OneTimeSwitch::kFirewall},
      {{L"-Firewall"}, OneTimeSwitch::kNone},
      {{L"-firewall", L"-x"}, OneTimeSwitch::kExit},
      {{L"-restartbj", L"-tkinstall", L"-firewall"}, OneTimeSwitch::kTkInstall},
      {{L"-firewall", L"-autorun"}, OneTimeSwitch::kAutorun},
      {{L"file.txt", L"-other", L"-restartbj"}, OneTimeSwitch::kRestartBonjour},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> argv{L"Tessarine.exe"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    CNb5CommandLineInfo info;
    cl::CWinApp::ParseArguments(info, argv);
    std::wstring joined;
    for (const auto& a : c.args) joined += a + L" ";
    SCOPED_TRACE(std::string(joined.begin(), joined.end()));
    EXPECT_EQ(FirstOneTimeSwitch(info), c.expected);
  }
}

TEST(TypedText, AddressesPortsAndConnectionIds) {
  using K = TypedTarget::Kind;
  struct Case {
    const wchar_t* text;
    K kind;
    const char* address;
    int port;
  } const cases[] = {
      {L"192.168.1.20", K::kAddress, "192.168.1.20", 47000},
      {L"192.168.1.20:7000", K::kAddress, "192.168.1.20", 7000},  // the map refuses it later
      {L"127.0.0.2:47000", K::kAddress, "127.0.0.2", 47000},
      {L"0.0.0.0", K::kAddress, "0.0.0.0", 47000},
      {L"255.255.255.255:65535", K::kAddress, "255.255.255.255", 65535},
      // Rebuilt from the numbers: Winsock would read "010" as octal 8.
      {L"010.001.000.002", K::kAddress, "10.1.0.2", 47000},
      {L"192.168.1.20:047000", K::kAddress, "192.168.1.20", 47000},
      {L"192.168.1.300", K::kNothing, "", 0},
      {L"256.1.1.1", K::kNothing, "", 0},
      {L"a.b.c.d", K::kNothing, "", 0},  // was taken as the address "a.b.c.d"
      {L"1.2.3.4x", K::kNothing, "", 0},
      {L"1.2.3.-4", K::kNothing, "", 0},
      {L"1.2.3.0004", K::kNothing, "", 0},
      {L"1.2.3.4.5", K::kNothing, "", 0},
      {L"1.2.3.4:0", K::kNothing, "", 0},
      {L"1.2.3.4:65536", K::kNothing, "", 0},
      {L"1.2.3.4:-1", K::kNothing, "", 0},
      {L"1.2.3.4:4294967297", K::kNothing, "", 0},
      {L"1.2.3.4:80x", K::kNothing, "", 0},
      {L" 1.2.3.4", K::kNothing, "", 0},
      {L"123456789", K::kConnectionId, "", 0},
      {L"1.2.3", K::kConnectionId, "", 0},
      {L"1..2.3", K::kConnectionId, "", 0},  // empty runs are skipped: three parts
      {L"abc-def", K::kConnectionId, "", 0},
      {L"", K::kNothing, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text, c.text + wcslen(c.text)));
    const TypedTarget t = ParseTypedTarget(c.text);
    EXPECT_EQ(t.kind, c.kind);
    if (c.kind == K::kAddress) {
      EXPECT_EQ(t.address, c.address);
      EXPECT_EQ(t.port, c.port);
    }
  }
}

ReceiverEntry Entry(const char* name, const char* address, int port = kReceiverAudioPort) {
  ReceiverEntry e;
  e.name = name;
  e.address = address;
  e.port = port;
  e.owner = reinterpret_cast<void*>(1);
  return e;
}

std::vector<std::string> Addresses(const ReceiverMap& map) {
  std::vector<std::string> out;
  for (const auto& kv : map) out.push_back(kv.second.address);
  return out;
}

class ReceiverMaps : public ::testing::Test {
 protected:
  void SetUp() override {
    mutex_ = CreateMutexW(nullptr, FALSE, nullptr);
    g_mapFoundReceivers.clear();
  }
  void TearDown() override {
    g_mapFoundReceivers.clear();
    CloseHandle(mutex_);
  }
  HANDLE mutex_ = nullptr;
};

TEST_F(ReceiverMaps, KeysArePaddedAddressesInTextOrder) {
  EXPECT_EQ(ReceiverKey("10.0.0.2"), L"10.0.0.2       ");
  EXPECT_EQ(ReceiverKey("192.168.100.200"), L"192.168.100.200");
  for (const char* a : {"192.168.1.3", "10.0.0.20", "10.0.0.3", "192.168.1.20", "127.0.0.2"}) {
    ASSERT_TRUE(AddFoundReceiver(mutex_, Entry(a, a)));
  }
  // Padded text order: "10.0.0.20" before "10.0.0.3", "192.168.1.20" before "192.168.1.3".
  EXPECT_EQ(Addresses(g_mapFoundReceivers),
            (std::vector<std::string>{"10.0.0.20", "10.0.0.3", "127.0.0.2", "192.168.1.20", "192.168.1.3"}));
  ReceiverEntry at;
  ASSERT_TRUE(ReceiverAtPosition(g_mapFoundReceivers, 1, at));
  EXPECT_EQ(at.address, "10.0.0.3");
  EXPECT_FALSE(ReceiverAtPosition(g_mapFoundReceivers, 5, at));
  EXPECT_FALSE(ReceiverAtPosition(g_mapFoundReceivers, -1, at));
}

TEST_F(ReceiverMaps, OnlyTheAudioPortEntersAndAnAddressIsReplacedNotDoubled) {
  EXPECT_FALSE(AddFoundReceiver(mutex_, Entry("tv", "10.0.0.5", 7000)));
  EXPECT_FALSE(AddFoundReceiver(mutex_, Entry("tv", "10.0.0.5", -1)));
  EXPECT_TRUE(g_mapFoundReceivers.empty());
  ASSERT_TRUE(AddFoundReceiver(mutex_, Entry("old name", "10.0.0.5")));
  ASSERT_TRUE(AddFoundReceiver(mutex_, Entry("new name", "10.0.0.5")));
  ASSERT_EQ(g_mapFoundReceivers.size(), 1u);
  EXPECT_EQ(g_mapFoundReceivers.begin()->second.name, "new name");
}

TEST_F(ReceiverMaps, OneNameOnTwoAddressesLosesOnlyTheFirstInKeyOrder) {
  ASSERT_TRUE(AddFoundReceiver(mutex_, Entry("Living Room", "192.168.1.9")));
  ASSERT_TRUE(AddFoundReceiver(mutex_, Entry("Living Room", "10.0.0.9")));
  ASSERT_TRUE(AddFoundReceiver(mutex_, Entry("Kitchen", "10.0.0.1")));
  EXPECT_TRUE(RemoveFoundReceiver(mutex_, "Living Room"));
  EXPECT_EQ(Addresses(g_mapFoundReceivers), (std::vector<std::string>{"10.0.0.1", "192.168.1.9"}));
  EXPECT_FALSE(RemoveFoundReceiver(mutex_, "living room"));  // exact bytes
  EXPECT_TRUE(RemoveFoundReceiver(mutex_, "Living Room"));
  EXPECT_EQ(Addresses(g_mapFoundReceivers), (std::vector<std::string>{"10.0.0.1"}));
}

// Anyone on the network can announce receivers: the found map stops at its
// bound, still updates the receivers it holds, and takes new ones once
// there is room again.
TEST_F(ReceiverMaps, FullFoundMapRefusesNewReceiversButUpdatesKnownOnes) {
  auto address = [](size_t i) { return "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1); };
  size_t added = 0;
  for (size_t i = 0; i < 400; ++i) {
    const std::string a = address(i);
    if (AddFoundReceiver(mutex_, Entry("Spoof", a.c_str()))) ++added;
  }
  EXPECT_EQ(added, kMaxFoundReceivers);
  EXPECT_EQ(g_mapFoundReceivers.size(), kMaxFoundReceivers);
  EXPECT_TRUE(AddFoundReceiver(mutex_, Entry("Renamed", address(0).c_str())));
  EXPECT_EQ(g_mapFoundReceivers[ReceiverKey(address(0))].name, "Renamed");
  EXPECT_EQ(g_mapFoundReceivers.size(), kMaxFoundReceivers);
  ASSERT_TRUE(RemoveFoundReceiver(mutex_, "Renamed"));
  EXPECT_TRUE(AddFoundReceiver(mutex_, Entry("Real", "192.168.1.9")));
  EXPECT_EQ(g_mapFoundReceivers.size(), kMaxFoundReceivers);
}

// Each command id belongs to one command: a row's position maps into the
// connect range or to nothing, never into the display or extend commands.
TEST(CommandRanges, RowsConnectAndDisplayIdsStayInTheirOwnRanges) {
  const struct {
    UINT id;
    int connect, display;
  } ids[] = {
      {0, -1, -1},         {60000, -1, -1},     {60001, 0, -1},  {60032, 31, -1},
      {60033, -1, 0},      {60064, -1, 31},     {60065, -1, -1}, {60066, -1, -1},
      {65537, -1, -1},
  };
  for (const auto& c : ids) {
    EXPECT_EQ(ConnectPositionOf(c.id), c.connect) << c.id;
    EXPECT_EQ(DisplayIndexOf(c.id), c.display) << c.id;
  }
  const struct {
    int position;
    UINT command;
  } rows[] = {{-1, 0}, {0, 60001}, {31, 60032}, {32, 0}, {39, 0}, {64, 0}, {5536, 0}};
  for (const auto& r : rows) EXPECT_EQ(RowCommandFor(r.position), r.command) << r.position;
  EXPECT_EQ(kMaxReceiverRows, 32);
}

TEST(ReceiverListFilter, ThePcsOwnAddressesNeverReachTheList) {
  auto adapter = [](const wchar_t* address) {
    AdapterRecord r;
    r.address = address;
    return r;
  };
  struct Case {
    const char* name;
    std::vector<AdapterRecord> adapters;
    std::vector<std::string> left;
  } const cases[] = {
      {"no adapters", {}, {"10.0.0.2", "127.0.0.1", "192.168.1.5"}},
      {"loopback fallback", {adapter(L"localhost\n")}, {"10.0.0.2", "192.168.1.5"}},
      {"own LAN address", {adapter(L"192.168.1.5\n")}, {"10.0.0.2", "127.0.0.1"}},
      {"two adapters", {adapter(L"10.0.0.2\n"), adapter(L"192.168.1.5\n")}, {"127.0.0.1"}},
      // An adapter listed with the loopback address itself.
      {"address text 127.0.0.1", {adapter(L"127.0.0.1\n")}, {"10.0.0.2", "192.168.1.5"}},
      {"no prefix match", {adapter(L"10.0.0.22\n"), adapter(L"192.168.1\n")}, {"10.0.0.2", "127.0.0.1", "192.168.1.5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReceiverMap listed;
    for (const char* a : {"10.0.0.2", "127.0.0.1", "192.168.1.5"}) listed[ReceiverKey(a)] = Entry(a, a);
    RemoveOwnAddresses(listed, c.adapters);
    EXPECT_EQ(Addresses(listed), c.left);
  }
}

TEST(LookupResult, PairsBecomeReceiversBoxesOrNothing) {
  using K = LookupAction::Kind;
  struct Case {
    WPARAM w;
    LPARAM l;
    size_t reachable;
    K kind;
    size_t index;
    UINT stringId;
  } const cases[] = {
      {1, 0, 1, K::kAddReceiver, 0, 0},
      {1, 2, 3, K::kAddReceiver, 2, 0},
      {1, 1, 1, K::kNothing, 0, 0},  // index out of range
      {1, 5, 0, K::kNothing, 0, 0},
      {1, -1, 3, K::kNothing, 0, 0},
      {2, 3, 0, K::kMessageBox, 0, 347},
      {2, 0, 0, K::kMessageBox, 0, 319},
      {2, 1, 0, K::kMessageBox, 0, 319},
      {2, 2, 0, K::kMessageBox, 0, 319},
      {0, 0, 0, K::kMessageBox, 0, 318},
      {0, 1, 0, K::kNothing, 0, 0},  // more interfaces still queued
      {3, 0, 0, K::kNothing, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "," << c.l << " of " << c.reachable);
    const LookupAction a = DecideLookupResult(c.w, c.l, c.reachable);
    EXPECT_EQ(a.kind, c.kind);
    if (c.kind == K::kAddReceiver) {
      EXPECT_EQ(a.index, c.index);
    }
    if (c.kind == K::kMessageBox) {
      EXPECT_EQ(a.stringId, c.stringId);
    }
  }
}

TEST(PasswordPrompt, ARefusedPasswordPutsTheWarningRightBeforeThePrompt) {
  EXPECT_EQ(PasswordPrompt(0), L"Please enter the password");
  EXPECT_EQ(PasswordPrompt(1), L"Incorrect password.Please enter the password");
  EXPECT_EQ(PasswordPrompt(2), L"Please enter the password");
}

TEST(CaptureArea, CornersInAnyOrderGiveAnEvenRectangle) {
  struct Case {
    POINT a, b;
    RECT expected;
  } const cases[] = {
      {{10, 20}, {110, 220}, {10, 20, 110, 220}},
      {{110, 220}, {10, 20}, {10, 20, 110, 220}},
      {{10, 220}, {111, 20}, {10, 20, 110, 220}},
      {{0, 0}, {101, 51}, {0, 0, 100, 50}},
      {{-101, -51}, {0, 0}, {-101, -51, -1, -1}},
      {{5, 5}, {5, 5}, {5, 5, 5, 5}},
      {{5, 5}, {6, 6}, {5, 5, 5, 5}},
  };
  for (const Case& c : cases) {
    const RECT r = EvenCaptureArea(c.a, c.b);
    SCOPED_TRACE(testing::Message() << c.a.x << "," << c.a.y << " " << c.b.x << "," << c.b.y);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
    EXPECT_EQ((r.right - r.left) % 2, 0);
    EXPECT_EQ((r.bottom - r.top) % 2, 0);
  }
}

}  // namespace
