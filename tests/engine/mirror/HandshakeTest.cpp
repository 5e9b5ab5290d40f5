#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "support/HostAdapter.h"

#include "engine/mirror/Mirror.h"
#include "engine/plist/Plist.h"

TEST(Handshake, StreamInfoReplyTable) {
  auto bin = [](const Plist::Dictionary& d) {
    std::vector<char> out;
    Plist::SerializeBinary(d, out);
    return std::string(out.begin(), out.end());
  };
  Plist::Dictionary full{{"width", int64_t(1920)}, {"height", int64_t(1080)},
                         {"version", std::string("150.33")}};
  Plist::Dictionary noWidth{{"height", int64_t(1080)}, {"version", std::string("1")}};
  Plist::Dictionary noHeight{{"width", int64_t(1920)}, {"version", std::string("1")}};
  Plist::Dictionary noVersion{{"width", int64_t(1920)}, {"height", int64_t(1080)}};
  Plist::Dictionary wrongType{{"width", std::string("1920")}, {"height", int64_t(1080)},
                              {"version", std::string("1")}};
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
      "<key>height</key><integer>720</integer><key>version</key><string>x1</string>"
      "<key>width</key><integer>1280</integer></dict></plist>";
  struct {
    std::string body;
    int rc, w, h;
    const char* version;
  } cases[] = {
      {bin(full), 0, 1920, 1080, "150.33"},
      {xml, 0, 1280, 720, "x1"},
      {bin(noWidth), -1, 0, 0, ""},
      {bin(noHeight), -2, 0, 0, ""},
      {bin(noVersion), -3, 0, 0, ""},
      {bin(wrongType), -4, 0, 0, ""},
      {"not a plist", -4, 0, 0, ""},
      {std::string("bplist00"), -4, 0, 0, ""},
  };
  for (const auto& c : cases) {
    int w = 0, h = 0;
    std::string v;
    EXPECT_EQ(ParseStreamInfoPlist(reinterpret_cast<const uint8_t*>(c.body.data()),
                                   static_cast<int>(c.body.size()), &w, &h, &v),
              c.rc)
        << c.body.substr(0, 20);
    if (c.rc == 0) {
      EXPECT_EQ(w, c.w);
      EXPECT_EQ(h, c.h);
      EXPECT_EQ(v, c.version);
    }
  }
}

TEST(Handshake, PostBodyReadsBack) {
  std::vector<uint8_t> body = BuildStreamPlist(static_cast<int32_t>(0x9ABCDEF0), 0x001122334455LL);
  Plist::Dictionary d;
  Plist::ParseDictionary(reinterpret_cast<const char*>(body.data()), d, body.size());
  ASSERT_EQ(d.size(), 6u);
  EXPECT_EQ(boost::any_cast<int64_t>(d["deviceID"]), 0x001122334455LL);
  EXPECT_EQ(boost::any_cast<int64_t>(d["latencyMs"]), 90);
  EXPECT_EQ(boost::any_cast<int64_t>(d["sessionID"]), static_cast<int32_t>(0x9ABCDEF0));
  EXPECT_EQ(boost::any_cast<std::string>(d["version"]), "130.16");
  const char* fps[] = {"SubS", "B4En", "EnDp", "IdEn", "IdDp", "EQDp", "QueF", "Sent"};
  auto fpsInfo = boost::any_cast<Plist::Array>(d["fpsInfo"]);
  ASSERT_EQ(fpsInfo.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    auto e = boost::any_cast<Plist::Dictionary>(fpsInfo[i]);
    EXPECT_EQ(boost::any_cast<std::string>(e["name"]), fps[i]);
  }
  const char* ts[] = {"SubSu", "BePxT", "AfPxT", "BefEn", "EmEnc", "QueFr", "SndFr"};
  auto tsInfo = boost::any_cast<Plist::Array>(d["timestampInfo"]);
  ASSERT_EQ(tsInfo.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    auto e = boost::any_cast<Plist::Dictionary>(tsInfo[i]);
    EXPECT_EQ(boost::any_cast<std::string>(e["name"]), ts[i]);
  }
  // A negative session id is written as an 8-byte integer (marker 0x13),
  // sign-extended.
  EXPECT_EQ(std::string(body.begin(), body.begin() + 8), "bplist00");
  const uint8_t negative[] = {0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0x9A, 0xBC, 0xDE, 0xF0};
  EXPECT_NE(std::search(body.begin(), body.end(), std::begin(negative), std::end(negative)),
            body.end());
}

TEST(Handshake, DeviceTexts) {
  WinsockScope winsock;
  EXPECT_EQ(GetDeviceIdText(), ExpectedHostMac());
  const std::wstring host = ExpectedHostName();
  ASSERT_FALSE(host.empty());  // a machine always has a name: the fallback is not the case here
  EXPECT_EQ(GetDeviceName(), host);
}
