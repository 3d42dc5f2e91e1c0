// The digests against their published test vectors.

#include <gtest/gtest.h>

#include "xAssert.h"
#include "xDigests.h"

namespace {

std::string DigestOf(int method, const std::string& text, std::size_t piece = 0) {
  auto algorithm = MakeDigestAlgorithm(method);
  if (piece == 0) {
    algorithm->Update(text.data(), text.size());
  } else {
    for (std::size_t at = 0; at < text.size(); at += piece)
      algorithm->Update(text.data() + at, std::min(piece, text.size() - at));
  }
  return algorithm->Finish().Hex();
}

const std::string Alphabet448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

}  // namespace

TEST(Digests, PublishedTestVectors) {
  const struct {
    int Method;
    std::string Text, Hex;
  } cases[] = {
      // CRC-32 (ISO-HDLC): the check value of "123456789".
      {fcCrc32, "123456789", "cbf43926"},
      {fcCrc32, "", "00000000"},
      // MD4, RFC 1320 appendix A.5.
      {fcMd4, "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {fcMd4, "abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {fcMd4, "message digest", "d9130a8164549fe818874806e1c7014b"},
      {fcMd4, "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536"},
      // MD5, RFC 1321 appendix A.5.
      {fcMd5, "", "d41d8cd98f00b204e9800998ecf8427e"},
      {fcMd5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
      {fcMd5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      // SHA-0, FIPS PUB 180 (1993) appendices A to C.
      {fcSha, "abc", "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880"},
      {fcSha, Alphabet448, "d2516ee1acfa5baf33dfc1c471e438449ef134c8"},
      {fcSha, std::string(1000000, 'a'), "3232affa48628a26653b5aaa44541fd90d690603"},
      {fcSha, "", "f96cea198ad1dd5617ac084a3d92c6107708c0ef"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DigestOf(c.Method, c.Text), c.Hex) << "method " << c.Method << " of " << c.Text.substr(0, 20);
    // Fed in pieces that straddle the 64-byte blocks, the digest is the same.
    EXPECT_EQ(DigestOf(c.Method, c.Text, 7), c.Hex) << "method " << c.Method << " in pieces";
    EXPECT_EQ(DigestOf(c.Method, c.Text, 64), c.Hex) << "method " << c.Method << " in blocks";
  }
}

TEST(Digests, PaddingBoundariesAgreeAcrossPieceSizes) {
  // Lengths around the 55/56/64-byte padding edges, fed whole and byte by byte.
  for (int method : {fcCrc32, fcMd4, fcMd5, fcSha})
    for (std::size_t length : {55U, 56U, 57U, 63U, 64U, 65U, 119U, 120U, 128U}) {
      const std::string text(length, 'x');
      EXPECT_EQ(DigestOf(method, text), DigestOf(method, text, 1)) << method << " " << length;
    }
}

TEST(Digests, FinishStartsAfreshAndUnknownMethodsAreAnError) {
  auto algorithm = MakeDigestAlgorithm(fcSha);
  algorithm->Update("abc", 3);
  algorithm->Finish();
  algorithm->Update("abc", 3);
  EXPECT_EQ(algorithm->Finish().Hex(), "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880");
  EXPECT_THROW(MakeDigestAlgorithm(fcBytes), EAssertionFailed);
  EXPECT_THROW(MakeDigestAlgorithm(5), EAssertionFailed);
  EXPECT_TRUE(TDigest().Empty());
}
