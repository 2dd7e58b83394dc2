// The signed manifest's text: what is signed, what is read back, and what is refused.
#include <gtest/gtest.h>

#include "release/release_manifest.h"

namespace sv {
namespace {

ReleaseManifest Sample() {
  ReleaseManifest m;
  m.release = 12;
  m.expires = 1798135200;  // 2026-12-24T18:00:00Z
  m.config = ReleaseObjectOf("<torrent_config/>");
  m.lists["http://127.0.0.1:8080/game/v2/"] = ReleaseObjectOf("crclist a");
  m.lists["http://cdn.example/game with space/"] = ReleaseObjectOf("crclist b");
  m.patcher = ReleaseObjectOf("MZ");
  m.nextKey = ReleaseKey{};
  m.nextKey->point[0] = 4;
  return m;
}

TEST(ReleaseManifest, ReadsBackWhatItWroteAndSplitsTheSignedBody) {
  const ReleaseManifest m = Sample();
  const std::string body = FormatManifestBody(m);
  ReleaseSignature signature{};
  signature[0] = 0xAB;
  const std::string text = FormatSignedManifest(body, signature);
  ReleaseManifest back;
  std::string_view signedBody;
  ReleaseSignature sigBack{};
  std::string error;
  ASSERT_TRUE(ParseSignedManifest(text, back, signedBody, sigBack, error)) << error;
  EXPECT_EQ(signedBody, body);
  EXPECT_EQ(sigBack, signature);
  EXPECT_EQ(back.release, 12u);
  EXPECT_EQ(back.expires, m.expires);
  EXPECT_EQ(back.config, m.config);
  EXPECT_EQ(back.lists, m.lists);
  EXPECT_EQ(back.patcher, m.patcher);
  EXPECT_EQ(back.nextKey, m.nextKey);
  EXPECT_NE(body.find("expires 2026-12-24T18:00:00Z\n"), std::string::npos);
}

TEST(ReleaseManifest, RefusesDamagedOrAmbiguousText) {
  const std::string body = FormatManifestBody(Sample());
  const std::string text = FormatSignedManifest(body, ReleaseSignature{});
  ReleaseManifest m;
  std::string_view signedBody;
  ReleaseSignature sig{};
  std::string error;
  const auto refused = [&](const std::string& t) {
    return !ParseSignedManifest(t, m, signedBody, sig, error);
  };
  EXPECT_TRUE(refused(body));                                  // no signature
  EXPECT_TRUE(refused(text.substr(0, text.size() - 10)));      // cut signature
  EXPECT_TRUE(refused("<html>" + text));
  EXPECT_TRUE(refused(FormatSignedManifest(body + "release 13\n", {})));  // a second number
  EXPECT_TRUE(refused(FormatSignedManifest(body + "mystery 1\n", {})));
  std::string shortHash = body;
  shortHash.replace(shortHash.find("config ") + 7, 1, "");
  EXPECT_TRUE(refused(FormatSignedManifest(shortHash, {})));
  const std::string noExpiry = "sarvik-release 1\nrelease 1\nconfig " +
                               DigestHex(Sha256Of("")) + " 0\n";
  EXPECT_TRUE(refused(FormatSignedManifest(noExpiry, {})));
  EXPECT_EQ(error, "release, expires or config is missing");
}

TEST(ReleaseManifest, UtcTimesReadAndWriteTheCalendar) {
  int64_t t = 0;
  ASSERT_TRUE(ParseUtcTime("2024-02-29T23:59:59Z", t));
  EXPECT_EQ(t, 1709251199);
  EXPECT_EQ(FormatUtcTime(t), "2024-02-29T23:59:59Z");
  EXPECT_EQ(FormatUtcTime(0), "1970-01-01T00:00:00Z");
  EXPECT_FALSE(ParseUtcTime("2024-13-01T00:00:00Z", t));
  EXPECT_FALSE(ParseUtcTime("2024-01-01 00:00:00Z", t));
  EXPECT_FALSE(ParseUtcTime("2024-01-01T00:00:00", t));
}

}  // namespace
}  // namespace sv
