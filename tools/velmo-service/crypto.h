// The service's own cryptography for the statistics events it receives: Base64, MD5 and
// AES-256-CBC through OpenSSL's EVP interface. Written apart from the installer's sending side
// on purpose, so that a mistake there cannot be mirrored here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmo_service {

// Standard alphabet with "=" padding; the length must be a multiple of 4. Empty on bad input.
std::optional<std::string> Base64Decode(std::string_view text);

// Lower-case hexadecimal MD5 digest (32 characters).
std::string Md5Hex(std::string_view bytes);

// The key and vector of a statistics event: the key is the hexadecimal MD5 text of the secret,
// the vector the first 16 characters of the hexadecimal MD5 text of that key text.
struct StatisticsKey {
    std::string key;  // 32 bytes
    std::string iv;   // 16 bytes
};
StatisticsKey DeriveStatisticsKey(std::string_view secret);

// AES-256-CBC with PKCS#7 padding removed; empty when the cipher rejects the text (wrong key,
// bad padding, a length that is not whole blocks).
std::optional<std::string> Aes256CbcDecrypt(std::string_view cipherText, const StatisticsKey& key);

}  // namespace velmo_service
