#include "crypto/key_file.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace patchlib {

namespace fs = std::filesystem;

namespace {

// SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 04 X Y } }
const unsigned char kPublicPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                       0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                       0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
// PKCS#8 version 0, the same algorithm, then the ECPrivateKey: version 1,
// OCTET STRING d, [1] { BIT STRING { 04 X Y } }.
const unsigned char kPrivatePrefix[] = {0x30, 0x81, 0x87, 0x02, 0x01, 0x00, 0x30, 0x13, 0x06,
                                        0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06,
                                        0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07,
                                        0x04, 0x6D, 0x30, 0x6B, 0x02, 0x01, 0x01, 0x04, 0x20};
const unsigned char kPrivateMiddle[] = {0xA1, 0x44, 0x03, 0x42, 0x00, 0x04};

const size_t kPublicSize = sizeof(kPublicPrefix) + 64;
const size_t kPrivateSize = sizeof(kPrivatePrefix) + 32 + sizeof(kPrivateMiddle) + 64;

std::string Raw(const unsigned char* bytes, size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

template <size_t N>
void Take(const std::string& der, size_t at, std::array<unsigned char, N>& out) {
    std::memcpy(out.data(), der.data() + at, N);
}

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Pem(const char* label, const std::string& der) {
    std::string text = std::string("-----BEGIN ") + label + "-----\n", line;
    for (size_t i = 0; i < der.size(); i += 3) {
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k)
            group = group << 8 | (i + k < der.size() ? static_cast<unsigned char>(der[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k)
            line += k <= der.size() - i ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
        if (line.size() == 64) text += line + "\n", line.clear();
    }
    if (!line.empty()) text += line + "\n";
    return text + "-----END " + label + "-----\n";
}

// The DER between the armour lines of `label`; empty when the text is not
// that PEM (a wrong label, a stray character, bad padding).
std::string FromPem(const std::string& text, const char* label) {
    const std::string begin = std::string("-----BEGIN ") + label + "-----",
                      end = std::string("-----END ") + label + "-----";
    size_t from = text.find(begin), to = text.find(end);
    if (from == std::string::npos || to == std::string::npos || to < from) return "";
    std::string der;
    uint32_t group = 0;
    size_t count = 0, padding = 0, bits = 0;
    for (char c : text.substr(from + begin.size(), to - from - begin.size())) {
        if (c == '\n' || c == '\r') continue;
        const char* at = c ? std::strchr(kAlphabet, c) : nullptr;
        if (c == '=' ? ++padding > 2 : !at || padding) return "";
        if (c == '=') continue;
        group = group << 6 | static_cast<uint32_t>(at - kAlphabet);
        ++count;
        if ((bits += 6) >= 8) der.push_back(static_cast<char>(group >> (bits -= 8)));
    }
    return (count + padding) % 4 ? "" : der;
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (!(text << in.rdbuf())) throw KeyFileError("cannot read " + file.u8string());
    return text.str();
}

}  // namespace

std::string KeyFile::PublicDer(const PublicKey& key) {
    return Raw(kPublicPrefix, sizeof(kPublicPrefix)) + Raw(key.data(), key.size());
}

std::string KeyFile::PrivateDer(const KeyPair& key) {
    return Raw(kPrivatePrefix, sizeof(kPrivatePrefix)) + Raw(key.secret.data(), 32) +
           Raw(kPrivateMiddle, sizeof(kPrivateMiddle)) + Raw(key.publicKey.data(), 64);
}

PublicKey KeyFile::FromPublicDer(const std::string& der) {
    if (der.size() != kPublicSize ||
        std::memcmp(der.data(), kPublicPrefix, sizeof(kPublicPrefix)) != 0)
        throw KeyFileError("not a P-256 public key with an uncompressed point");
    PublicKey key;
    Take(der, sizeof(kPublicPrefix), key);
    return key;
}

KeyPair KeyFile::FromPrivateDer(const std::string& der) {
    const size_t middle = sizeof(kPrivatePrefix) + 32;
    if (der.size() != kPrivateSize ||
        std::memcmp(der.data(), kPrivatePrefix, sizeof(kPrivatePrefix)) != 0 ||
        std::memcmp(der.data() + middle, kPrivateMiddle, sizeof(kPrivateMiddle)) != 0)
        throw KeyFileError("not an unencrypted P-256 private key in PKCS#8 with its public point");
    KeyPair key;
    Take(der, sizeof(kPrivatePrefix), key.secret);
    Take(der, middle + sizeof(kPrivateMiddle), key.publicKey);
    return key;
}

PublicKey KeyFile::ReadPublic(const fs::path& file) {
    try {
        return FromPublicDer(FromPem(ReadText(file), "PUBLIC KEY"));
    } catch (const KeyFileError& error) {
        throw KeyFileError(file.u8string() + ": " + error.what());
    }
}

KeyPair KeyFile::ReadPrivate(const fs::path& file) {
    try {
        return FromPrivateDer(FromPem(ReadText(file), "PRIVATE KEY"));
    } catch (const KeyFileError& error) {
        throw KeyFileError(file.u8string() + ": " + error.what());
    }
}

void KeyFile::WritePair(const fs::path& name, const KeyPair& key) {
    fs::path secret = name, shared = name;
    secret += ".key";
    shared += ".pub";
    for (const fs::path& file : {secret, shared})
        if (fs::exists(file)) throw KeyFileError(file.u8string() + " exists already: not replaced");
    const std::pair<fs::path, std::string> files[] = {
        {secret, Pem("PRIVATE KEY", PrivateDer(key))},
        {shared, Pem("PUBLIC KEY", PublicDer(key.publicKey))}};
    for (const auto& [file, text] : files) {
        {
            std::ofstream out(file, std::ios::binary);
            if (file == secret) {
                std::error_code ec;  // before the secret goes in
                fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, ec);
            }
            if (!(out << text) || !out.flush())
                throw KeyFileError("cannot write " + file.u8string());
        }
    }
}

}  // namespace patchlib
