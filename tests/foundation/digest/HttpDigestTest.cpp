#include <gtest/gtest.h>

#include <string>

#include "foundation/digest/HttpDigest.h"

namespace {

TEST(HttpDigest, ResponseMatchesRfc2617WithoutQop) {
  char out[33];
  CalcDigestResponse("Mufasa", "testrealm@host.com", "Circle Of Life",
                     "dcd98b7102dd2f0e8b11d0f600bfb0c093", "GET", "/dir/index.html", out);
  EXPECT_STREQ(out, "670fd8c2df070c60b045671b8b24ff02");
  CalcDigestResponse("Airplay", "AirPlay", "s3cret", "d3b07384d113edec49eaa6238ad5ff00", "GET",
                     "/stream.xml", out);
  EXPECT_STREQ(out, "d28d239114185752148451dd9ebb1a70");
}

// One table for both readings of an unclosed quote: the mirroring handshake
// drops such a piece, the RTSP client takes the rest of it.
TEST(HttpDigest, ChallengePieces) {
  struct {
    const char* params;
    const char* realmIgnoring;
    const char* nonceIgnoring;
    const char* realmTaking;
    const char* nonceTaking;
  } cases[] = {
      {" realm=\"raop\", nonce=\"abc\"", "raop", "abc", "raop", "abc"},
      {"nonce=\"n1\",realm=\"r1\"", "r1", "n1", "r1", "n1"},
      {"\trealm=\"t\" \t,\tnonce=\"u\"  ", "t", "u", "t", "u"},
      {" realm=\"raop, nonce=\"abc\"", "", "abc", "raop", "abc"},
      {" realm=\"x\", nonce=\"abc", "x", "", "x", "abc"},
      {" realm=\"a\", realm=\"b\", nonce=\"n\"", "b", "n", "b", "n"},  // later piece wins
      {" username=\"u\", uri=\"/x\", response=\"r\", realm=x", "", "", "", ""},
      {" realm=\"\", nonce=\"\"", "", "", "", ""},
      {"", "", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    DigestChallenge ch;
    EXPECT_TRUE(ReadDigestChallenge(c.params, DigestUnclosedQuote::kIgnorePiece, 255, &ch));
    EXPECT_EQ(ch.realm, c.realmIgnoring);
    EXPECT_EQ(ch.nonce, c.nonceIgnoring);
    EXPECT_TRUE(ReadDigestChallenge(c.params, DigestUnclosedQuote::kTakeRest, 255, &ch));
    EXPECT_EQ(ch.realm, c.realmTaking);
    EXPECT_EQ(ch.nonce, c.nonceTaking);
  }
  DigestChallenge ch;
  ReadDigestChallenge(" nonce=\"n\"", DigestUnclosedQuote::kIgnorePiece, 255, &ch);
  EXPECT_FALSE(ch.hasRealm);
  EXPECT_TRUE(ch.hasNonce);
}

TEST(HttpDigest, ValueBoundIsInclusive) {
  const std::string fits = " realm=\"" + std::string(127, 'r') + "\", nonce=\"n\"";
  const std::string over = " realm=\"r\", nonce=\"" + std::string(128, 'n') + "\"";
  DigestChallenge ch;
  EXPECT_TRUE(ReadDigestChallenge(fits, DigestUnclosedQuote::kTakeRest, 127, &ch));
  EXPECT_EQ(ch.realm.size(), 127u);
  EXPECT_FALSE(ReadDigestChallenge(over, DigestUnclosedQuote::kTakeRest, 127, &ch));
  EXPECT_FALSE(ReadDigestChallenge(over, DigestUnclosedQuote::kIgnorePiece, 127, &ch));
  EXPECT_EQ(ch.nonce.size(), 128u);  // what was read, for the caller's rule
}

}  // namespace
