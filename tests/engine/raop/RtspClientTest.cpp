// The RTSP client against the in-process receiver: request framing, CSeq,
// Digest answers, and bounded, in-step reading of odd or hostile replies.
#include "engine/raop/RtspClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "FakeRaopReceiver.h"
#include "engine/raop/RaopUtil.h"
#include "foundation/net/SocketStream.h"
#include "support/WaitFactor.h"

namespace {

class Rtsp : public ::testing::Test {
 protected:
  WinsockScope winsock_;

  rtsp_client* Connect(FakeRaopReceiver& rx, const char* password = "") {
    rtsp_client* c = rtspcl_create(password);
    EXPECT_NE(c, nullptr);
    EXPECT_EQ(rtspcl_connect_tcp(c, "127.0.0.1", rx.port(), "3735928320", "0A1B2C3D4E5F"), 0);
    return c;
  }
  static int SetParameter(rtsp_client* c) {
    return exec_request(c, "SET_PARAMETER", "text/parameters", "volume: 0.000000\r\n", nullptr,
                        &c->replyHeaders);
  }
};

}  // namespace

TEST_F(Rtsp, RequestsAreFramedInOrderWithRisingCSeq) {
  FakeRaopReceiver rx;
  rtsp_client* c = Connect(rx);
  EXPECT_STREQ(c->url, "rtsp://127.0.0.1/3735928320");
  c->userAgent = "Agent/1";
  ASSERT_EQ(rtspcl_add_exthds(c, "Client-Instance", "0011223344556677"), 0);
  ASSERT_EQ(rtspcl_add_exthds(c, "dacp-id", "ABC"), 0);
  const std::string sdp = "v=0\r\nsome sdp\r\n";
  ASSERT_EQ(rtspcl_announce_sdp(c, sdp.c_str()), 0);
  rtsp_header* setup = nullptr;
  ASSERT_EQ(rtspcl_setup(c, &setup, 7001, 7002), 0);
  char* jack = rtspcl_find_header(setup, "Apple-Jack-Status");
  ASSERT_NE(jack, nullptr);
  EXPECT_STREQ(jack, " connected; type=analog");  // the value keeps the blank after the colon
  free(jack);
  rtspcl_free_headers(setup);
  EXPECT_EQ(c->serverPort, rx.dataPort());
  EXPECT_EQ(c->controlPort, rx.controlPort());
  EXPECT_EQ(c->timingPort, rx.timingPort());
  ASSERT_EQ(rtspcl_record(c), 0);
  ASSERT_EQ(SetParameter(c), 0);
  ASSERT_EQ(SetParameter(c), 0);

  auto r = rx.requests();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].head,
            "ANNOUNCE rtsp://127.0.0.1/3735928320 RTSP/1.0\r\nCSeq: 1\r\nX-Apple-Device-ID: 0x0A1B2C3D4E5F\r\n"
            "Content-Type: application/sdp\r\nContent-Length: 15\r\nUser-Agent: Agent/1\r\n"
            "Client-Instance: 0011223344556677\r\ndacp-id: ABC\r\n\r\n");
  EXPECT_EQ(r[0].body, sdp);
  EXPECT_EQ(r[1].head,
            "SETUP rtsp://127.0.0.1/3735928320 RTSP/1.0\r\nCSeq: 2\r\nX-Apple-Device-ID: 0x0A1B2C3D4E5F\r\n"
            "Transport: RTP/AVP/UDP;unicast;interleaved=0-1;mode=record;control_port=7002;timing_port=7001\r\n"
            "User-Agent: Agent/1\r\nClient-Instance: 0011223344556677\r\ndacp-id: ABC\r\n\r\n");
  EXPECT_EQ(r[2].head,
            "RECORD rtsp://127.0.0.1/3735928320 RTSP/1.0\r\nCSeq: 3\r\nX-Apple-Device-ID: 0x0A1B2C3D4E5F\r\n"
            "Session:  DEADBEEF\r\nRange: npt=0-\r\nRTP-Info: seq=0;rtptime=0\r\n"
            "User-Agent: Agent/1\r\nClient-Instance: 0011223344556677\r\ndacp-id: ABC\r\n\r\n");
  EXPECT_EQ(r[3].cseq(), 4);
  EXPECT_EQ(r[4].cseq(), 5);
  EXPECT_EQ(r[4].header("Content-Type"), "text/parameters");
  EXPECT_EQ(r[4].body, "volume: 0.000000\r\n");
  rtspcl_destroy(c);
}

TEST_F(Rtsp, DigestChallengeIsAnsweredOnceAndKeptForLaterRequests) {
  FakeRaopReceiver rx("s3cret");
  rtsp_client* c = Connect(rx, "s3cret");
  ASSERT_EQ(rtspcl_announce_sdp(c, "v=0\r\n"), 0);
  EXPECT_STREQ(c->realm, FakeRaopReceiver::kRealm);  // without the quotes
  EXPECT_STREQ(c->nonce, FakeRaopReceiver::kNonce);
  rtsp_header* setup = nullptr;
  ASSERT_EQ(rtspcl_setup(c, &setup, 1, 2), 0);
  rtspcl_free_headers(setup);
  auto r = rx.requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_FALSE(r[0].has("Authorization"));
  EXPECT_EQ(r[1].cseq(), 2);
  // Each request's answer is computed for its own method.
  EXPECT_NE(r[1].header("Authorization").find(
                FakeRaopReceiver::ExpectedResponse("s3cret", "ANNOUNCE", "rtsp://127.0.0.1/3735928320")),
            std::string::npos);
  EXPECT_NE(r[2].header("Authorization").find(
                FakeRaopReceiver::ExpectedResponse("s3cret", "SETUP", "rtsp://127.0.0.1/3735928320")),
            std::string::npos);
  // The Authorization line comes after the body headers and before the user agent.
  EXPECT_LT(r[1].head.find("Content-Length"), r[1].head.find("Authorization"));
  EXPECT_LT(r[1].head.find("Authorization"), r[1].head.find("User-Agent"));
  EXPECT_TRUE(rx.violations().empty()) << rx.violations()[0];
  rtspcl_destroy(c);

  // A wrong password meets a second challenge: the ANNOUNCE fails.
  FakeRaopReceiver rx2("s3cret");
  c = Connect(rx2, "wrong");
  EXPECT_EQ(rtspcl_announce_sdp(c, "v=0\r\n"), 1);
  EXPECT_EQ(rx2.requests().size(), 2u);
  rtspcl_destroy(c);
}

TEST_F(Rtsp, RepliesAreReadWholeAndWithinBounds) {
  struct Case {
    const char* name;
    std::string reply;
    int result;
    bool nextWorks;  // the following request still reads its own reply
  };
  std::string manyHeaders = "RTSP/1.0 200 OK\r\n";
  for (int i = 0; i < 40; ++i) manyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
  std::string tooManyHeaders = "RTSP/1.0 200 OK\r\n";
  for (int i = 0; i < 200; ++i) tooManyHeaders += "X-H" + std::to_string(i) + ": v\r\n";
  const Case cases[] = {
      {"continued header", "RTSP/1.0 200 OK\r\nX-Long: one\r\n  two\r\n\ttwo more\r\nCSeq: 1\r\n\r\n", 0, true},
      {"more than 16 headers", manyHeaders + "\r\n", 0, true},
      {"header without colon", "RTSP/1.0 200 OK\r\nCSeq 1\r\nX: y\r\n\r\n", -1, true},
      {"body by its length", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nRTSP/1.0 4", 0, true},
      {"lower-case length", "RTSP/1.0 200 OK\r\ncontent-length: 3\r\n\r\nabc", 0, true},
      {"error status", "RTSP/1.0 453 Not Enough Bandwidth\r\nContent-Length: 4\r\n\r\nbusy", -1, true},
      {"no status word", "RTSP/1.0\r\n\r\n", -1, true},
      {"401", "RTSP/1.0 401 Unauthorized\r\n\r\n", 1, true},
      {"overlong line", "RTSP/1.0 200 OK\r\nX-Junk: " + std::string(5000, 'j') + "\r\n\r\n", -1, false},
      {"overlong status", "RTSP/1.0 200 " + std::string(3000, 'k') + "\r\n\r\n", -1, false},
      {"too many header lines", tooManyHeaders + "\r\n", -1, false},
      {"body too large", "RTSP/1.0 200 OK\r\nContent-Length: 100000000\r\n\r\n", -1, false},
      {"bad length", "RTSP/1.0 200 OK\r\nContent-Length: 12x\r\n\r\n", -1, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    FakeRaopReceiver rx;
    bool first = true;
    rx.SetScript([&](const RtspRequest& r, RtspReply* reply) {
      if (!first) return false;
      first = false;
      reply->text = k.reply;
      return true;
    });
    rtsp_client* c = Connect(rx);
    EXPECT_EQ(SetParameter(c), k.result);
    const int next = SetParameter(c);
    if (k.nextWorks) {
      EXPECT_EQ(next, 0);
      EXPECT_EQ(rx.requests().size(), 2u);
    } else {
      // The connection is out of step: nothing more is sent on it.
      EXPECT_EQ(next, -1);
      Sleep(50);
      EXPECT_EQ(rx.requests().size(), 1u);
    }
    rtspcl_destroy(c);
  }
}

TEST_F(Rtsp, ContinuationJoinsTheValue) {
  FakeRaopReceiver rx;
  rx.SetScript([&](const RtspRequest& r, RtspReply* reply) {
    reply->text = "RTSP/1.0 200 OK\r\nX-Long: one\r\n  two\r\n\r\n";
    return true;
  });
  rtsp_client* c = Connect(rx);
  ASSERT_EQ(SetParameter(c), 0);
  char* v = rtspcl_find_header(c->replyHeaders, "X-Long");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v, " onetwo");
  free(v);
  EXPECT_EQ(rtspcl_find_header(c->replyHeaders, "x-long"), nullptr);  // names match exactly
  rtspcl_destroy(c);
}

TEST_F(Rtsp, SilentOrVanishingReceiverEndsTheRequestInBounds) {
  struct Case {
    const char* name;
    RtspReply reply;
  } cases[] = {
      {"silent", {"", false, true}},
      {"status then silence", {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n", false, true}},
      {"body cut short", {"RTSP/1.0 200 OK\r\nContent-Length: 50\r\n\r\nabc", false, true}},
      {"close mid-headers", {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n", true, false}},
      {"close at once", {"", true, false}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    RaopMessages messages;
    FakeRaopReceiver rx;
    rx.SetScript([&](const RtspRequest&, RtspReply* reply) {
      *reply = k.reply;
      return true;
    });
    rtsp_client* c = Connect(rx);
    const DWORD t0 = GetTickCount();
    EXPECT_EQ(SetParameter(c), -1);
    const DWORD took = GetTickCount() - t0;
    EXPECT_LT(took, RTSP_REPLY_TIMEOUT_MS + testwait::Ms(2000));
    if (k.reply.stall) {
      EXPECT_GE(took + 100, RTSP_REPLY_TIMEOUT_MS);
      EXPECT_TRUE(messages.contains("no reply within"));
    }
    EXPECT_EQ(SetParameter(c), -1);
    rtspcl_destroy(c);
  }
}

TEST_F(Rtsp, SetupTakesPortsFromTheTransport) {
  struct Case {
    std::string transport;
    int result;
    uint16_t server, control, timing;
  } cases[] = {
      {"RTP/AVP/UDP;unicast;mode=record;server_port=6000;control_port=6001;timing_port=6002", 0, 6000, 6001, 6002},
      {"RTP/AVP/UDP;timing_port=53;unicast;control_port=52;server_port=51;mode=record", 0, 51, 52, 53},
      {"RTP/AVP/UDP;unicast;server_port=6000;timing_port=6002", 0, 6000, 0, 6002},
      {"RTP/AVP/UDP;unicast;control_port=6001", -1, 0, 6001, 0},
      {"RTP/AVP/UDP;server_port=99999", -1, 0, 0, 0},
      {"RTP/AVP/UDP;server_port=12abc", -1, 0, 0, 0},
      {"RTP/AVP/UDP;xserver_port=5;server_port=7", 0, 7, 0, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.transport);
    FakeRaopReceiver rx;
    rx.SetTransport(k.transport);
    rtsp_client* c = Connect(rx);
    rtsp_header* reply = nullptr;
    EXPECT_EQ(rtspcl_setup(c, &reply, 1, 2), k.result);
    EXPECT_EQ(c->serverPort, k.server);
    EXPECT_EQ(c->controlPort, k.control);
    EXPECT_EQ(c->timingPort, k.timing);
    rtspcl_free_headers(reply);
    rtspcl_destroy(c);
  }
}

TEST_F(Rtsp, SetupWithoutSessionOrTransportFailsAndRecordNeedsASession) {
  struct Case {
    const char* headers;
    const char* message;
  } cases[] = {
      {"Transport: RTP/AVP/UDP;server_port=5\r\n", "ERR: rtspcl_setup: no session in responce"},
      {"Session: 1\r\n", "ERR: rtspcl_setup: no transport in responce"},
  };
  for (const auto& k : cases) {
    RaopMessages messages;
    FakeRaopReceiver rx;
    rx.SetScript([&](const RtspRequest& r, RtspReply* reply) {
      reply->text = FakeRaopReceiver::Ok(r.cseq(), k.headers);
      return true;
    });
    rtsp_client* c = Connect(rx);
    rtsp_header* reply = nullptr;
    EXPECT_EQ(rtspcl_setup(c, &reply, 1, 2), -1);
    EXPECT_EQ(reply, nullptr);
    EXPECT_TRUE(messages.contains(k.message)) << k.message;
    if (!c->session) {
      EXPECT_EQ(rtspcl_record(c), -1);
      EXPECT_TRUE(messages.contains("ERR: rtspcl_record: no session in progress"));
    }
    rtspcl_destroy(c);
  }
}

TEST_F(Rtsp, OverlongValuesAreRefusedNotCut) {
  // A device id that does not fit its field is refused before connecting.
  FakeRaopReceiver rx;
  rtsp_client* c = rtspcl_create("");
  EXPECT_EQ(rtspcl_connect_tcp(c, "127.0.0.1", rx.port(), "1", std::string(40, 'A').c_str()), -1);
  rtspcl_destroy(c);

  // A challenge whose nonce does not fit cannot be answered.
  FakeRaopReceiver rx2;
  rx2.SetScript([&](const RtspRequest& r, RtspReply* reply) {
    reply->text = "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"" +
                  std::string(300, 'n') + "\"\r\n\r\n";
    return true;
  });
  c = Connect(rx2, "pw");
  EXPECT_EQ(rtspcl_announce_sdp(c, "v=0\r\n"), -1);
  EXPECT_EQ(rx2.requests().size(), 1u);
  rtspcl_destroy(c);

  // A long password is kept whole.
  const std::string longPassword(200, 'p');
  c = rtspcl_create(longPassword.c_str());
  EXPECT_EQ(std::string(c->password), longPassword);
  rtspcl_destroy(c);
}
