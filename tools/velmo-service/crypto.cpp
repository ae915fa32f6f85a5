#include "crypto.h"

#include <openssl/evp.h>

#include <array>
#include <memory>

namespace velmo_service {

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) return std::nullopt;  // data after "="
            v[k] = Base64Value(c);
            if (v[k] < 0) return std::nullopt;
        }
        const unsigned triple = (unsigned(v[0]) << 18) | (unsigned(v[1]) << 12) | (unsigned(v[2]) << 6) | unsigned(v[3]);
        out.push_back(static_cast<char>((triple >> 16) & 0xFF));
        if (padding < 2) out.push_back(static_cast<char>((triple >> 8) & 0xFF));
        if (padding < 1) out.push_back(static_cast<char>(triple & 0xFF));
    }
    return out;
}

std::string Md5Hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) return {};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 0xF]);
    }
    return out;
}

StatisticsKey DeriveStatisticsKey(std::string_view secret) {
    StatisticsKey k;
    k.key = Md5Hex(secret);
    k.iv = Md5Hex(k.key).substr(0, 16);
    return k;
}

std::optional<std::string> Aes256CbcDecrypt(std::string_view cipherText, const StatisticsKey& key) {
    if (key.key.size() != 32 || key.iv.size() != 16) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx) return std::nullopt;
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.key.data()),
                           reinterpret_cast<const unsigned char*>(key.iv.data())) != 1)
        return std::nullopt;
    std::string out(cipherText.size() + 32, '\0');
    int written = 0;
    if (EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &written,
                          reinterpret_cast<const unsigned char*>(cipherText.data()),
                          static_cast<int>(cipherText.size())) != 1)
        return std::nullopt;
    int tail = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + written, &tail) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(written + tail));
    return out;
}

}  // namespace velmo_service
