// Reads a session file with OpenSSL's Blowfish, independently of the
// engine's own cipher and decoder: records end in a NUL byte; each is URL
// encoded ("+" for a space, %XX for other bytes) CFB-64 ciphertext of 0x01
// and a "name=value" line, keyed with the text of the encryption key and
// started from the register "k4vq82tz".
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/scratch_dir.h"

namespace cgi_test {

// The lines of the file, or nullopt when a record does not decipher to 0x01
// and a line.
inline std::optional<std::vector<std::string>> ReadSessionFileWithOpenSsl(const std::string& path,
                                                                          const std::string& key) {
  const std::string data = testsupport::ReadFile(path);
  std::vector<std::string> lines;
  for (std::size_t pos = 0, end; pos < data.size(); pos = end + 1) {
    end = data.find('\0', pos);
    if (end == std::string::npos) return std::nullopt;
    std::string cipher;
    for (std::size_t i = pos; i < end; ++i) {
      if (data[i] == '%' && i + 2 < end)
        cipher += static_cast<char>(std::stoi(data.substr(i + 1, 2), nullptr, 16)), i += 2;
      else if (data[i] == '%') return std::nullopt;
      else cipher += data[i] == '+' ? ' ' : data[i];
    }
    BF_KEY bk;
    BF_set_key(&bk, static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(key.data()));
    unsigned char iv[8];
    std::memcpy(iv, "k4vq82tz", 8);
    int num = 0;
    std::string plain(cipher.size(), '\0');
    BF_cfb64_encrypt(reinterpret_cast<const unsigned char*>(cipher.data()),
                     reinterpret_cast<unsigned char*>(plain.data()), static_cast<long>(cipher.size()), &bk, iv, &num,
                     BF_DECRYPT);
    if (plain.empty() || plain[0] != '\x01') return std::nullopt;
    lines.push_back(plain.substr(1));
  }
  if (data.empty() && !std::filesystem::exists(path)) return std::nullopt;
  return lines;
}

}  // namespace cgi_test
