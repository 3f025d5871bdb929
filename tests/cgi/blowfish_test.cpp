// Blowfish against the cipher author's published vectors and against
// OpenSSL's low-level Blowfish as a peer (ECB blocks and CFB-64 streams).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cgi/blowfish.h"
#include "tests/common/error_text.h"

namespace cgi {
namespace {

std::string FromHex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string ToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

// Rows of the cipher author's table of 8-byte keys (key, plain text, cipher
// text); keys of other lengths are the OpenSSL differential's.
const char* const kEcbVectors[] = {
    "0000000000000000 0000000000000000 4EF997456198DD78", "FFFFFFFFFFFFFFFF FFFFFFFFFFFFFFFF 51866FD5B85ECB8A",
    "3000000000000000 1000000000000001 7D856F9A613063F2", "0123456789ABCDEF 1111111111111111 61F9C3802281B096",
    "FEDCBA9876543210 0123456789ABCDEF 0ACEAB0FC6A0A28D", "7CA110454A1A6E57 01A1D6D039776742 59C68245EB05282B",
    "E0FEE0FEF1FEF1FE 0123456789ABCDEF C39E072D9FAC631D", "FEDCBA9876543210 FFFFFFFFFFFFFFFF 6B5C5A9C5D9E0A5A",
};

TEST(BlowfishTest, EcbVectorsOfTheCipherAuthor) {
  for (const std::string v : kEcbVectors) {
    SCOPED_TRACE(v);
    TBlowfish bf(FromHex(v.substr(0, 16)));
    bf.KeySchedule();
    const std::string plain = FromHex(v.substr(17, 16));
    std::uint8_t out[8], back[8];
    bf.EncryptBlock(reinterpret_cast<const std::uint8_t*>(plain.data()), out);
    EXPECT_EQ(ToHex(std::string(reinterpret_cast<char*>(out), 8)), v.substr(34));
    bf.DecryptBlock(out, back);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 8), plain);
  }
}

// The author's CFB-64 vector: a 16-byte key, IV FEDCBA9876543210 and the
// 29-byte text "7654321 Now is the time for " with its terminating NUL.
TEST(BlowfishTest, Cfb64VectorOfTheCipherAuthor) {
  const std::string key = FromHex("0123456789ABCDEFF0E1D2C3B4A59687");
  const std::string iv = FromHex("FEDCBA9876543210");
  const std::string text("7654321 Now is the time for \0", 29);
  const char* expected = "E73214A2822139CAF26ECF6D2EB9E76E3DA3DE04D1517200519D57A6C3";
  TBlowfish bf(key);
  bf.SetInitBlock(iv);
  const std::string enc = BlowfishEncryptString(bf, text);
  EXPECT_EQ(ToHex(enc), expected);
  EXPECT_EQ(BlowfishDecryptString(bf, enc), text);
  // The same stream fed in pieces of 13 bytes and the rest, as bftest does,
  // and at every other split point.
  for (std::size_t split = 0; split <= text.size(); ++split) {
    TBlowfishCfb cfb(bf);
    std::string out(text.size(), '\0');
    cfb.Encrypt(text.data(), out.data(), split);
    cfb.Encrypt(text.data() + split, out.data() + split, text.size() - split);
    EXPECT_EQ(ToHex(out), expected) << "split at " << split;
  }
}

TEST(BlowfishTest, KeyLengthIsCheckedBeforeEnciphering) {
  for (auto [length, accepted] :
       {std::pair{0, false}, {7, false}, {8, true}, {32, true}, {56, true}, {65, true}, {66, false}}) {
    TBlowfish bf(std::string(static_cast<std::size_t>(length), 'k'));
    EXPECT_EQ(testsupport::ErrorText<EBlowfishError>([&] { (void)BlowfishEncryptString(bf, "text"); }),
              accepted ? "(none)" : "Blowfish keylength out of range")
        << length;
  }
}

// Random pieces of 1 to most bytes covering n.
std::vector<std::size_t> Pieces(std::size_t n, std::size_t most, std::mt19937& rng) {
  std::vector<std::size_t> pieces;
  for (std::size_t left = n, k; left > 0; left -= k) pieces.push_back(k = std::min<std::size_t>(left, 1 + rng() % most));
  return pieces;
}

// OpenSSL's CFB-64 keeps its place in the keystream block between calls
// (num), which is the same feedback rule as TBlowfishCfb.
std::string OpenSslCfb(const std::string& key, const std::string& iv8, const std::string& text,
                       const std::vector<std::size_t>& pieces, int enc) {
  BF_KEY bk;
  BF_set_key(&bk, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
  unsigned char ivec[8];
  std::memcpy(ivec, iv8.data(), 8);
  int num = 0;
  std::string out(text.size(), '\0');
  for (std::size_t pos = 0, i = 0; i < pieces.size(); pos += pieces[i++])
    BF_cfb64_encrypt(reinterpret_cast<const unsigned char*>(text.data()) + pos,
                     reinterpret_cast<unsigned char*>(out.data()) + pos, static_cast<long>(pieces[i]), &bk, ivec, &num, enc);
  return out;
}

// Random keys of every allowed length, default, own, short and long initial
// registers, texts of 0 to 299 bytes: one ECB block, and CFB-64 whole and
// in pieces split at odd offsets, differently on both sides.
TEST(BlowfishTest, RandomKeysAndTextsAgainstOpenSsl) {
  std::mt19937 rng(20261206);
  auto random_bytes = [&](std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
  };
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string key = random_bytes(8 + rng() % 58);  // 8..65
    // No register, a full one, a short one (padded with zeros) and a long
    // one (cut to 8 bytes).
    const std::string iv = round % 4 == 0 ? "" : round % 4 == 1 ? random_bytes(8) : round % 4 == 2 ? "xyz"
                                                                                                : random_bytes(11);
    const std::string text = random_bytes(rng() % 300);
    const std::size_t len = text.size();
    TBlowfish bf(key);
    bf.SetInitBlock(iv);
    // The register as the session files have it: the default block when none
    // is set, zeros after a short one, a long one cut.
    std::string reg = iv.empty() ? "k4vq82tz" : iv;
    reg.resize(8, '\0');
    if (len >= 8) {
      BF_KEY bk;
      BF_set_key(&bk, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
      unsigned char ref[8];
      BF_ecb_encrypt(reinterpret_cast<const unsigned char*>(text.data()), ref, &bk, BF_ENCRYPT);
      bf.KeySchedule();
      std::uint8_t mine[8];
      bf.EncryptBlock(reinterpret_cast<const std::uint8_t*>(text.data()), mine);
      ASSERT_EQ(0, std::memcmp(ref, mine, 8));
    }
    const std::string ref = OpenSslCfb(key, reg, text, {len}, BF_ENCRYPT);
    const std::string enc = BlowfishEncryptString(bf, text);
    ASSERT_EQ(ToHex(enc), ToHex(ref)) << "key length " << key.size();
    ASSERT_EQ(BlowfishDecryptString(bf, enc), text);
    const std::vector<std::size_t> pieces = Pieces(len, 13, rng), other = Pieces(len, 21, rng);
    ASSERT_EQ(OpenSslCfb(key, reg, text, pieces, BF_ENCRYPT), ref);
    ASSERT_EQ(OpenSslCfb(key, reg, ref, {len}, BF_DECRYPT), text);
    TBlowfishCfb enc_stream(bf), dec_stream(bf);
    std::string mine(len, '\0'), back(len, '\0');
    for (std::size_t pos = 0, i = 0; i < pieces.size(); pos += pieces[i++])
      enc_stream.Encrypt(text.data() + pos, mine.data() + pos, pieces[i]);
    ASSERT_EQ(mine, ref);
    for (std::size_t pos = 0, i = 0; i < other.size(); pos += other[i++])
      dec_stream.Decrypt(mine.data() + pos, back.data() + pos, other[i]);
    ASSERT_EQ(back, text);
  }
}

}  // namespace
}  // namespace cgi
