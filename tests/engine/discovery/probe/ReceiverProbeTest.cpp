// The connection-ID token decoder and the receiver probe, against probe
// ports of the test on loopback: every WM_LOOKUP_RESULT pair and the
// lookup strings.
#include <winsock2.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <utility>

#include "classlib/Str.h"
#include "engine/discovery/LookupToken.h"
#include "engine/discovery/ReceiverProbe.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/SettingsCipher.h"
#include "foundation/registry/Registry.h"
#include "foundation/settings/ProductStateGuard.h"
#include "support/MessageSink.h"
#include "support/ProbeResponder.h"
#include "support/WaitFactor.h"

namespace {

// txProbe comes from the product key: start from an empty one.
const auto* const g_state = ::testing::AddGlobalTestEnvironment(new ProductStateEnvironment);

std::wstring Encipher(const std::string& json) {
  std::string cipher;
  EXPECT_TRUE(EncryptSettingUtf8(json, cl::WideToUtf8(LookupTokenKey()), &cipher));
  return cl::Utf8ToWide(cipher);
}

std::string TokenJson(const Json::Value& port, std::vector<std::string> ips,
                      const char* name = "Living Room") {
  Json::Value t;
  t["name"] = name;
  t["port"] = port;
  t["code"] = "C-7";
  t["interfaces"] = Json::Value(Json::arrayValue);
  for (const std::string& ip : ips) {
    Json::Value itf;
    itf["ip"] = ip;
    itf["mac"] = "aa:bb:cc:dd:ee:ff";
    t["interfaces"].append(itf);
  }
  return Json::FastWriter().write(t);
}

class Probe : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
    probe_.reset(new ReceiverProbe(sink_.hwnd()));
  }
  void TearDown() override {
    EXPECT_TRUE(WaitProbeIdle(testwait::Ms(10000)));
    probe_.reset();
    WSACleanup();
  }
  // The pairs posted, once `count` have arrived (or after timeoutMs).
  std::vector<std::pair<int, int>> Results(size_t count, DWORD timeoutMs = 10000) {
    sink_.WaitFor(WM_LOOKUP_RESULT, count, timeoutMs);
    std::vector<std::pair<int, int>> out;
    for (const auto& m : sink_.Messages(WM_LOOKUP_RESULT))
      out.push_back({static_cast<int>(m.w), static_cast<int>(m.l)});
    return out;
  }
  using Pairs = std::vector<std::pair<int, int>>;
  MessageSink sink_;
  std::unique_ptr<ReceiverProbe> probe_;
};

TEST_F(Probe, ReachableThenRefusedInterface) {
  ProbeResponder rx("RTSP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(probe_->DecodeLookupToken(Encipher(TokenJson(rx.port(), {"127.0.0.1", "127.0.0.3"}))), 0);
  EXPECT_EQ(Results(2), (Pairs{{1, 0}, {0, 0}}));
  ProbeEntry e;
  ASSERT_TRUE(GetProbeReachable(0, e));
  EXPECT_EQ(e.Code, "C-7");
  EXPECT_EQ(e.Name, "Living Room");
  EXPECT_EQ(e.Address, "127.0.0.1");
  EXPECT_EQ(e.Port, std::to_string(rx.port()));
  EXPECT_FALSE(GetProbeReachable(1, e));
  // The lookup strings name the last interface queued, not the reachable one.
  EXPECT_EQ(GetLastLookupEntry().Address, "127.0.0.3");
  EXPECT_EQ(GetLastLookupEntry().Port, std::to_string(rx.port()));
  ASSERT_EQ(rx.Requests().size(), 1u);
  EXPECT_EQ(rx.Requests()[0],
            "POST /probe HTTP/1.1\r\nAccept: */*\r\nConnection: close\r\n"
            "User-Agent: Nb5-OEM:orvanta\r\n\r\n");
}

TEST_F(Probe, RefusedThenReachableAndAPortGivenAsText) {
  ProbeResponder rx("HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_EQ(probe_->DecodeLookupToken(
                Encipher(TokenJson(std::to_string(rx.port()), {"127.0.0.3", "127.0.0.1"}))),
            0);
  EXPECT_EQ(Results(2), (Pairs{{0, 1}, {1, 0}}));
}

TEST_F(Probe, AnswersOtherThanA200StatusLineAreNotReachable) {
  const struct {
    const char* answer;
    ProbeResponder::Mode mode;
  } cases[] = {
      {"HTTP/1.0 200 OK\r\n\r\n", ProbeResponder::Mode::kAnswer},
      {"RTSP/1.0 404 Not Found\r\n\r\n", ProbeResponder::Mode::kAnswer},
      {"RTSP/1.0 20", ProbeResponder::Mode::kAnswer},  // 11 bytes, then closed
      {"", ProbeResponder::Mode::kClose},
      {"", ProbeResponder::Mode::kSilent},  // the 3000 ms receive bound
  };
  size_t n = 0;
  for (const auto& c : cases) {
    ProbeResponder rx(c.answer, c.mode);
    const DWORD start = GetTickCount();
    probe_->DecodeLookupToken(Encipher(TokenJson(rx.port(), {"127.0.0.1"})));
    const Pairs got = Results(++n);
    ASSERT_EQ(got.size(), n) << c.answer;
    EXPECT_EQ(got.back(), std::make_pair(2, 3)) << c.answer;
    EXPECT_LT(GetTickCount() - start, 3000 + testwait::Ms(3000)) << c.answer;
    EXPECT_TRUE(WaitProbeIdle(testwait::Ms(5000)));
  }
  EXPECT_EQ(ProbeReachableCount(), 0u);
}

TEST_F(Probe, EmptyInterfaceListQueuesAndPostsNothing) {
  EXPECT_EQ(probe_->DecodeLookupToken(Encipher(TokenJson(47000, {}))), 0);
  EXPECT_TRUE(WaitProbeIdle(testwait::Ms(5000)));
  Sleep(200);
  EXPECT_TRUE(Results(1, 200).empty());
}

TEST_F(Probe, MalformedAndIncompleteTokens) {
  const struct {
    std::wstring token;
    int result;
    std::pair<int, int> posted;
  } cases[] = {
      {L"%%% not base64 %%%", BEOP_E_LOOKUP_FAILED, {2, 0}},
      {L"QUJD", BEOP_E_LOOKUP_FAILED, {2, 0}},  // three bytes: no whole block
      {Encipher("not json"), BEOP_E_LOOKUP_FAILED, {2, 0}},
      {Encipher(R"(["an","array"])"), BEOP_E_LOOKUP_FAILED, {2, 0}},
      {Encipher(R"({"name":{"o":1},"port":1,"code":"c","interfaces":[]})"), BEOP_E_LOOKUP_FAILED, {2, 0}},
      {Encipher(R"({"name":"n","port":[1],"code":"c","interfaces":[]})"), BEOP_E_LOOKUP_FAILED, {2, 0}},
      {Encipher(R"({"name":"n","port":1,"code":"c","interfaces":"x"})"), BEOP_E_LOOKUP_FAILED, {2, 0}},
      {Encipher(R"({"name":"n","port":1,"code":"c","interfaces":[7]})"), BEOP_E_LOOKUP_FAILED, {2, 0}},
      {Encipher(R"({"name":"n","port":1,"code":"c","interfaces":[{"ip":["a"],"mac":"m"}]})"),
       BEOP_E_LOOKUP_FAILED, {2, 0}},
      {Encipher(R"({"port":1,"code":"c","interfaces":[]})"), BEOP_E_LOOKUP_INCOMPLETE, {2, 1}},
      {Encipher(R"({"name":"n","port":null,"code":"c","interfaces":[]})"), BEOP_E_LOOKUP_INCOMPLETE,
       {2, 1}},
      {Encipher(R"({"name":"n","port":1,"code":"c"})"), BEOP_E_LOOKUP_INCOMPLETE, {2, 1}},
  };
  // Enciphered under another key: deciphers to noise.
  std::string other;
  ASSERT_TRUE(EncryptSettingUtf8(TokenJson(1, {"127.0.0.1"}), "0123456789abcdef", &other));
  const std::string before = GetLastLookupEntry().Address;
  size_t n = 0;
  for (const auto& c : cases) {
    EXPECT_EQ(probe_->DecodeLookupToken(c.token), c.result) << cl::WideToUtf8(c.token);
    const Pairs got = Results(++n);
    ASSERT_EQ(got.size(), n);
    EXPECT_EQ(got.back(), c.posted) << cl::WideToUtf8(c.token);
  }
  EXPECT_EQ(probe_->DecodeLookupToken(cl::Utf8ToWide(other)), BEOP_E_LOOKUP_FAILED);
  EXPECT_EQ(Results(++n).back(), std::make_pair(2, 0));
  EXPECT_EQ(GetLastLookupEntry().Address, before) << "nothing was queued";
}

TEST_F(Probe, AnIncompleteInterfaceStopsTheDecodeButKeepsTheOnesBefore) {
  ProbeResponder rx("RTSP/1.0 200 OK\r\n\r\n");
  const std::string token = "{\"name\":\"n\",\"port\":" + std::to_string(rx.port()) +
                            ",\"code\":\"c\",\"interfaces\":[{\"ip\":\"127.0.0.1\",\"mac\":\"m\"},"
                            "{\"ip\":\"127.0.0.4\"}]}";
  EXPECT_EQ(probe_->DecodeLookupToken(Encipher(token)), 0);
  EXPECT_EQ(Results(1), (Pairs{{2, 2}}));
  // No probe ran; the next decode starts the thread, which probes both.
  Sleep(300);
  EXPECT_TRUE(rx.Requests().empty());
  EXPECT_EQ(GetLastLookupEntry().Address, "127.0.0.1");
  EXPECT_EQ(probe_->DecodeLookupToken(Encipher(TokenJson(rx.port(), {"127.0.0.1"}))), 0);
  EXPECT_EQ(Results(3), (Pairs{{2, 2}, {1, 0}, {1, 1}}));
}

TEST_F(Probe, DecodesWhileTheThreadDrainsLeaveNoEntryUnprobed) {
  // Decodes arrive while the probe thread is taking its last entries: every
  // entry is still probed, by the running thread or a new one.
  ProbeResponder rx("RTSP/1.0 200 OK\r\n\r\n");
  const std::wstring token = Encipher(TokenJson(rx.port(), {"127.0.0.1"}));
  constexpr int kDecodes = 25;
  for (int i = 0; i < kDecodes; ++i) {
    EXPECT_EQ(probe_->DecodeLookupToken(token), 0);
    if (i % 5 == 0) Sleep(30);
  }
  EXPECT_EQ(Results(kDecodes, 30000).size(), static_cast<size_t>(kDecodes));
  EXPECT_TRUE(WaitProbeIdle(testwait::Ms(10000)));
  EXPECT_EQ(rx.Requests().size(), static_cast<size_t>(kDecodes));
  EXPECT_EQ(ProbeReachableCount(), static_cast<size_t>(kDecodes));
}

TEST_F(Probe, ATokenGivesAtMostEightInterfacesAndTheyAreProbedSideBySide) {
  // Twelve interfaces; the first eight at a receiver that takes the probe
  // and never answers. Only eight are taken, and they are probed at once:
  // the round ends within one probe's bounds, not eight of them.
  ProbeResponder rx("", ProbeResponder::Mode::kSilent);
  std::vector<std::string> ips(kMaxLookupInterfaces, "127.0.0.1");
  for (int i = 0; i < 4; ++i) ips.push_back("127.0.0.9");
  const DWORD start = GetTickCount();
  EXPECT_EQ(probe_->DecodeLookupToken(Encipher(TokenJson(rx.port(), ips))), 0);
  EXPECT_EQ(GetLastLookupEntry().Address, "127.0.0.1") << "the ninth was taken";
  EXPECT_EQ(Results(kMaxLookupInterfaces, 20000), Pairs(kMaxLookupInterfaces, {2, 3}));
  const DWORD elapsed = GetTickCount() - start;
  EXPECT_LT(elapsed, 2 * (kProbeConnectTimeoutMs + kProbeReceiveTimeoutMs));
  EXPECT_TRUE(WaitProbeIdle(5000));
  EXPECT_EQ(Results(kMaxLookupInterfaces + 1, 300).size(), kMaxLookupInterfaces);
  printf("eight silent interfaces probed in %lu ms\n", static_cast<unsigned long>(elapsed));
}

TEST_F(Probe, OutcomesComeInTokenOrderWhateverOrderTheyArriveIn) {
  // The first interface stays silent for its whole bound while the second
  // answers at once and the third refuses: the reports still follow the
  // token, as one probe after another would give them.
  ProbeResponder silent("", ProbeResponder::Mode::kSilent, "127.0.0.1");
  ProbeResponder rx("RTSP/1.0 200 OK\r\n\r\n", ProbeResponder::Mode::kAnswer, "127.0.0.2",
                    silent.port());
  EXPECT_EQ(probe_->DecodeLookupToken(Encipher(
                TokenJson(silent.port(), {"127.0.0.1", "127.0.0.2", "127.0.0.3"}))),
            0);
  EXPECT_EQ(Results(3), (Pairs{{2, 3}, {1, 0}, {0, 0}}));
  ProbeEntry e;
  ASSERT_TRUE(GetProbeReachable(0, e));
  EXPECT_EQ(e.Address, "127.0.0.2");
}

TEST_F(Probe, StopEndsTheRoundWithoutPostingTheRestAndTheThreadIsGone) {
  ProbeResponder rx("", ProbeResponder::Mode::kSilent);
  EXPECT_EQ(probe_->DecodeLookupToken(
                Encipher(TokenJson(rx.port(), {"127.0.0.1", "127.0.0.1"}))),
            0);
  ASSERT_TRUE(WaitUntil([&] { return rx.Requests().size() >= 1; }, 5000));
  const DWORD start = GetTickCount();
  EXPECT_TRUE(StopProbes(5000));
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_TRUE(Results(1, 500).empty());
  // A later decode starts afresh.
  ProbeResponder answering("RTSP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(probe_->DecodeLookupToken(Encipher(TokenJson(answering.port(), {"127.0.0.1"}))), 0);
  EXPECT_EQ(Results(1), (Pairs{{1, 0}}));
}

TEST(LookupTokenParse, TakesAtMostEightInterfacesAndLooksNoFurther) {
  std::string json = "{\"name\":\"n\",\"port\":1,\"code\":\"c\",\"interfaces\":[";
  for (int i = 0; i < 12; ++i) json += "{\"ip\":\"10.0.0." + std::to_string(i) + "\",\"mac\":\"m\"},";
  json += "7]}";  // past the bound: not looked at
  LookupToken token;
  ASSERT_EQ(ParseLookupToken(json, token), LookupTokenResult::kOk);
  ASSERT_EQ(token.interfaces.size(), kMaxLookupInterfaces);
  EXPECT_EQ(token.interfaces.back().ip, "10.0.0.7");
}

TEST_F(Probe, APortThatIsNoTcpPortIsNotConnected) {
  for (const char* port : {"70000", "0", "47000x"}) {
    probe_->DecodeLookupToken(Encipher(TokenJson(port, {"127.0.0.1"})));
    EXPECT_TRUE(WaitProbeIdle(testwait::Ms(5000)));
  }
  EXPECT_EQ(Results(3), (Pairs{{0, 0}, {0, 0}, {0, 0}}));
  EXPECT_EQ(LookupPortNumber("47000"), 47000);
  EXPECT_EQ(LookupPortNumber("65536"), 0);
}

TEST_F(Probe, TxProbeChoosesTheProbeRequest) {
  EXPECT_STREQ(ProbeRequestText(1),
               "POST /probe-nb5 HTTP/1.1\r\nAccept: */*\r\nConnection: close\r\n"
               "User-Agent: Castvane\r\n\r\n");
  CRegistry reg;
  ASSERT_TRUE(reg.OpenKey(kProductKey, TRUE));
  reg.WriteDword(L"txProbe", 1);
  ProbeResponder rx("RTSP/1.0 200 OK\r\n\r\n");
  probe_->DecodeLookupToken(Encipher(TokenJson(rx.port(), {"127.0.0.1"})));
  EXPECT_EQ(Results(1), (Pairs{{1, 0}}));
  reg.DeleteValue(L"txProbe");
  ASSERT_EQ(rx.Requests().size(), 1u);
  EXPECT_EQ(rx.Requests()[0], ProbeRequestText(1));
}

TEST_F(Probe, WithoutWindowNothingIsPostedAndANewProbeStartsAfresh) {
  ProbeResponder rx("RTSP/1.0 200 OK\r\n\r\n");
  ReceiverProbe quiet(nullptr);
  EXPECT_EQ(quiet.DecodeLookupToken(Encipher(TokenJson(rx.port(), {"127.0.0.1"}))), 0);
  EXPECT_TRUE(WaitUntil([] { return ProbeReachableCount() == 1; }, 5000));
  EXPECT_TRUE(Results(1, 300).empty());
  ReceiverProbe fresh(nullptr);
  EXPECT_EQ(ProbeReachableCount(), 0u);
}

}  // namespace
