// Reads a session file with OpenSSL's Blowfish, independently of the
// engine's own cipher and decoder: records end in a NUL byte; each is URL
// encoded ("+" for a space, %XX for other bytes) CFB-64 ciphertext of 0x01
// and a "name=value" line, keyed with the text of the encryption key and
// started from the register "k4vq82tz".
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace cgi_test {

inline std::optional<std::string> PlainUrlDecode(const std::string& in) {
  std::string out;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '+') {
      out.push_back(' ');
    } else if (in[i] == '%') {
      if (i + 2 >= in.size()) return std::nullopt;
      out.push_back(static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(in[i]);
    }
  }
  return out;
}

// The lines of the file, or nullopt when a record does not decipher to 0x01
// and a line.
inline std::optional<std::vector<std::string>> ReadSessionFileWithOpenSsl(const std::string& path,
                                                                          const std::string& key) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string data = ss.str();
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::size_t end = data.find('\0', pos);
    if (end == std::string::npos) return std::nullopt;
    auto cipher = PlainUrlDecode(data.substr(pos, end - pos));
    if (!cipher) return std::nullopt;
    BF_KEY bk;
    BF_set_key(&bk, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
    unsigned char iv[8];
    std::memcpy(iv, "k4vq82tz", 8);
    int num = 0;
    std::string plain(cipher->size(), '\0');
    BF_cfb64_encrypt(reinterpret_cast<const unsigned char*>(cipher->data()),
                     reinterpret_cast<unsigned char*>(plain.data()), static_cast<long>(cipher->size()), &bk, iv,
                     &num, BF_DECRYPT);
    if (plain.empty() || plain[0] != '\x01') return std::nullopt;
    lines.push_back(plain.substr(1));
    pos = end + 1;
  }
  return lines;
}

}  // namespace cgi_test
