// Blowfish cipher (16 rounds, 64-bit blocks) for the session-variable store.
//
// The key is text of 8 to 65 characters; its bytes are taken cyclically, the
// first byte as the most significant of each 32-bit word, and XORed into the
// 18 P words before the usual table-filling encryptions. Blocks are read as
// two big-endian 32-bit halves.
//
// Session variables are enciphered in 64-bit cipher feedback (CFB-64): the
// register starts as the initial feedback block (the object's own, or
// "k4vq82tz" when that is empty; always cut or padded with zeros to 8 bytes),
// each piece of up to 8 bytes is XORed with the encryption of the register,
// and the enciphered piece feeds back into the register. TBlowfishCfb keeps
// the position inside the register between calls, so a text enciphered in
// pieces split anywhere gives the same bytes as when enciphered at once.
//
// Every object wipes its key, its key schedule and its register when it is
// destroyed or told to with Wipe().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/exceptions.h"

namespace cgi {

// "Blowfish keylength out of range"
class EBlowfishError : public fw::Exception {
 public:
  using fw::Exception::Exception;
};

inline constexpr char kBlowfishKeyLengthError[] = "Blowfish keylength out of range";
inline constexpr char kBlowfishDefaultInitBlock[] = "k4vq82tz";

class TBlowfish {
 public:
  static constexpr int kBlockSize = 8;
  static constexpr std::size_t kMinKeyLength = 8;
  static constexpr std::size_t kMaxKeyLength = 65;

  TBlowfish() = default;
  explicit TBlowfish(std::string_view key) { SetKey(key); }
  ~TBlowfish() { Wipe(); }
  TBlowfish(const TBlowfish&) = delete;
  TBlowfish& operator=(const TBlowfish&) = delete;

  // Stores the key; the length is checked by KeySchedule.
  void SetKey(std::string_view key);
  // The initial feedback block; empty selects kBlowfishDefaultInitBlock.
  void SetInitBlock(std::string_view block);
  // The 8-byte register the feedback starts from.
  std::string InitialRegister() const;

  // Copies the initial tables and mixes the key into them. Raises
  // EBlowfishError when the key has fewer than 8 or more than 65 characters.
  void KeySchedule();
  bool Scheduled() const { return scheduled_; }

  // One block; REQUIRES: KeySchedule has run.
  void EncryptBlock(std::uint32_t& left, std::uint32_t& right) const;
  void DecryptBlock(std::uint32_t& left, std::uint32_t& right) const;
  void EncryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const;
  void DecryptBlock(const std::uint8_t in[8], std::uint8_t out[8]) const;

  // Overwrites the key, the initial block and the schedule.
  void Wipe();

 private:
  std::uint32_t F(std::uint32_t x) const {
    return ((s_[0][x >> 24] + s_[1][(x >> 16) & 0xFF]) ^ s_[2][(x >> 8) & 0xFF]) + s_[3][x & 0xFF];
  }
  std::uint32_t p_[18] = {};
  std::uint32_t s_[4][256] = {};
  std::string key_;
  std::string init_block_;
  bool scheduled_ = false;
};

// CFB-64 over a stream of pieces. The constructor runs the cipher's key
// schedule (so it raises EBlowfishError for a bad key) and loads the initial
// register; the cipher must outlive this object.
class TBlowfishCfb {
 public:
  explicit TBlowfishCfb(TBlowfish& cipher);
  ~TBlowfishCfb();
  TBlowfishCfb(const TBlowfishCfb&) = delete;
  TBlowfishCfb& operator=(const TBlowfishCfb&) = delete;

  void Encrypt(const void* in, void* out, std::size_t count);
  void Decrypt(const void* in, void* out, std::size_t count);

 private:
  TBlowfish& cipher_;
  std::uint8_t register_[8];
  std::uint8_t keystream_[8];
  int used_ = 8;  // bytes of keystream_ consumed; 8 = next byte needs a new block
};

// The enciphered text, of the same length as the text. Runs the key schedule
// first (raising EBlowfishError for a bad key before anything is enciphered).
std::string BlowfishEncryptString(TBlowfish& cipher, std::string_view text);
// The inverse of BlowfishEncryptString with the same key and initial block.
std::string BlowfishDecryptString(TBlowfish& cipher, std::string_view text);

// Overwrites memory in a way the compiler may not drop.
void SecureWipe(void* data, std::size_t size);
void SecureWipe(std::string& s);
// Compares two secrets in time that depends only on their lengths.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace cgi
